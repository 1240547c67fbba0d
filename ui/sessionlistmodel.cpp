#include "ui/sessionlistmodel.h"

#include "pricing/currencyformatter.h"
#include "ui/presentation.h"

namespace loomwatch::ui {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isActive(model::SessionState state)
{
    return state != model::SessionState::ended && state != model::SessionState::errored;
}

} // namespace

SessionListModel::SessionListModel(Scope scope, int limit, QObject* parent)
    : QAbstractListModel(parent), m_scope(scope), m_limit(limit)
{}

void SessionListModel::setSessions(const std::vector<model::AgentSession>& sessions)
{
    std::vector<Row> rows;
    rows.reserve(sessions.size());
    for (const model::AgentSession& s : sessions) {
        if (m_scope == Scope::active && !isActive(s.state))
            continue;
        Row row;
        row.id = QString::fromStdString(s.id);
        row.tool = qs(model::rawValue(s.tool));
        row.toolName = qs(model::displayName(s.tool));
        row.toolSymbol = qs(model::symbolName(s.tool));
        row.projectName = QString::fromStdString(s.projectName);
        row.shortProjectName = shortenedProjectName(row.projectName);
        row.hasBranch = s.branch.has_value();
        if (s.branch)
            row.branch = QString::fromStdString(*s.branch);
        row.snippet = s.lastSnippet ? QString::fromStdString(*s.lastSnippet) : row.toolName;
        row.state = qs(model::rawValue(s.state));
        row.stateName = qs(model::displayName(s.state));
        row.stateSymbol = qs(model::symbolName(s.state));
        row.isWaiting = s.state == model::SessionState::waitingForInput;
        row.hasProcess = s.processID.has_value();
        row.processId = s.processID.value_or(0);
        row.lastActivity = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(s.lastActivityAt.time_since_epoch()).count());
        if (s.estimatedCost)
            row.costText = QString::fromStdString(pricing::formatUsd(*s.estimatedCost));
        rows.push_back(std::move(row));
    }
    std::vector<QString> oldIds = visibleIds();
    m_rows = std::move(rows);
    refilter(oldIds);
}

void SessionListModel::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    emit searchChanged();
    narrowOrWiden();
}

bool SessionListModel::matches(const Row& row) const
{
    if (m_search.isEmpty())
        return true;
    return row.projectName.contains(m_search, Qt::CaseInsensitive) ||
           row.toolName.contains(m_search, Qt::CaseInsensitive) ||
           (row.hasBranch && row.branch.contains(m_search, Qt::CaseInsensitive));
}

std::vector<int> SessionListModel::visibleRows() const
{
    std::vector<int> visible;
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        if (m_limit > 0 && static_cast<int>(visible.size()) >= m_limit)
            break;
        if (matches(m_rows[static_cast<std::size_t>(i)]))
            visible.push_back(i);
    }
    return visible;
}

std::vector<QString> SessionListModel::visibleIds() const
{
    std::vector<QString> ids;
    ids.reserve(m_visible.size());
    for (int i : m_visible)
        ids.push_back(m_rows[static_cast<std::size_t>(i)].id);
    return ids;
}

void SessionListModel::refilter(const std::vector<QString>& oldIds)
{
    const int oldCount = count();
    std::vector<int> visible = visibleRows();

    // The same sessions in the same order keep their delegates (and any open menu); anything
    // else rebuilds the list.
    bool sameIds = visible.size() == oldIds.size();
    for (std::size_t i = 0; sameIds && i < visible.size(); ++i)
        sameIds = m_rows[static_cast<std::size_t>(visible[i])].id == oldIds[i];

    if (sameIds) {
        m_visible = std::move(visible);
        if (!m_visible.empty())
            emit dataChanged(index(0), index(count() - 1));
    } else {
        beginResetModel();
        m_visible = std::move(visible);
        endResetModel();
    }
    if (count() != oldCount)
        emit countChanged();
}

void SessionListModel::narrowOrWiden()
{
    // Old and new rows are both in m_rows order, so one merge walk turns the old list into the new
    // one with removals and insertions only: rows that stay keep their delegates, which keeps
    // typing in the search field cheap.
    const int oldCount = count();
    const std::vector<int> target = visibleRows();
    const std::vector<int> old = m_visible;
    std::size_t a = 0;
    std::size_t b = 0;
    int position = 0;
    while (a < old.size() || b < target.size()) {
        if (a < old.size() && b < target.size() && old[a] == target[b]) {
            ++a;
            ++b;
            ++position;
        } else if (b == target.size() || (a < old.size() && old[a] < target[b])) {
            std::size_t end = a;
            while (end < old.size() && (b == target.size() || old[end] < target[b]))
                ++end;
            const int n = static_cast<int>(end - a);
            beginRemoveRows({}, position, position + n - 1);
            m_visible.erase(m_visible.begin() + position, m_visible.begin() + position + n);
            endRemoveRows();
            a = end;
        } else {
            std::size_t end = b;
            while (end < target.size() && (a == old.size() || target[end] < old[a]))
                ++end;
            const int n = static_cast<int>(end - b);
            beginInsertRows({}, position, position + n - 1);
            m_visible.insert(m_visible.begin() + position, target.begin() + static_cast<std::ptrdiff_t>(b),
                             target.begin() + static_cast<std::ptrdiff_t>(end));
            endInsertRows();
            position += n;
            b = end;
        }
    }
    if (count() != oldCount)
        emit countChanged();
}

int SessionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(m_visible[static_cast<std::size_t>(index.row())])];
    switch (role) {
    case IdRole:
        return row.id;
    case ToolRole:
        return row.tool;
    case ToolNameRole:
        return row.toolName;
    case ToolSymbolRole:
        return row.toolSymbol;
    case Qt::DisplayRole:
    case ProjectNameRole:
        return row.projectName;
    case ShortProjectNameRole:
        return row.shortProjectName;
    case BranchRole:
        return row.branch;
    case SnippetRole:
        return row.snippet;
    case StateRole:
        return row.state;
    case StateNameRole:
        return row.stateName;
    case StateSymbolRole:
        return row.stateSymbol;
    case IsWaitingRole:
        return row.isWaiting;
    case ProcessIdRole:
        return row.processId;
    case HasProcessRole:
        return row.hasProcess;
    case LastActivityRole:
        return row.lastActivity;
    case CostTextRole:
        return row.costText;
    default:
        return {};
    }
}

QHash<int, QByteArray> SessionListModel::roleNames() const
{
    return {
        {IdRole, "sessionId"},
        {ToolRole, "tool"},
        {ToolNameRole, "toolName"},
        {ToolSymbolRole, "toolSymbol"},
        {ProjectNameRole, "projectName"},
        {ShortProjectNameRole, "shortProjectName"},
        {BranchRole, "branch"},
        {SnippetRole, "snippet"},
        {StateRole, "state"},
        {StateNameRole, "stateName"},
        {StateSymbolRole, "stateSymbol"},
        {IsWaitingRole, "isWaiting"},
        {ProcessIdRole, "processId"},
        {HasProcessRole, "hasProcess"},
        {LastActivityRole, "lastActivity"},
        {CostTextRole, "costText"},
    };
}

int SessionListModel::indexOf(const QString& id) const
{
    for (int i = 0; i < count(); ++i) {
        if (m_rows[static_cast<std::size_t>(m_visible[static_cast<std::size_t>(i)])].id == id)
            return i;
    }
    return -1;
}

} // namespace loomwatch::ui
