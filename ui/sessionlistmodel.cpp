#include "ui/sessionlistmodel.h"

#include "ui/presentation.h"

#include <QSet>

namespace loomwatch::ui {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Beyond this many sessions changing places in one list, one reset is cheaper than the moves.
constexpr int maxMoves = 32;

} // namespace

SessionListModel::SessionListModel(QObject* parent) : QAbstractListModel(parent) {}

SessionListModel::Row SessionListModel::makeRow(const model::AgentSession& s)
{
    Row row;
    row.id = QString::fromStdString(s.id);
    row.tool = qs(model::rawValue(s.tool));
    row.toolName = qs(model::displayName(s.tool));
    row.toolSymbol = qs(model::symbolName(s.tool));
    row.projectName = QString::fromStdString(s.projectName);
    row.shortProjectName = shortenedProjectName(row.projectName);
    if (s.branch)
        row.branch = QString::fromStdString(*s.branch);
    row.snippet = s.lastSnippet ? QString::fromStdString(*s.lastSnippet) : row.toolName;
    row.state = qs(model::rawValue(s.state));
    row.stateName = qs(model::displayName(s.state));
    row.stateSymbol = qs(model::symbolName(s.state));
    row.isWaiting = s.state == model::SessionState::waitingForInput;
    row.isActive = s.state != model::SessionState::ended && s.state != model::SessionState::errored;
    row.hasProcess = s.processID.has_value();
    row.processId = s.processID.value_or(0);
    row.lastActivity = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(s.lastActivityAt.time_since_epoch()).count());
    UsageTexts usage = usageTexts(s);
    row.usageModel = std::move(usage.model);
    row.usageFigures = std::move(usage.figures);
    row.usageText = std::move(usage.line);
    row.usageAccessible = std::move(usage.accessible);
    return row;
}

void SessionListModel::setSessions(const std::vector<model::AgentSession>& sessions)
{
    std::vector<Row> next;
    next.reserve(sessions.size());
    for (const model::AgentSession& session : sessions)
        next.push_back(makeRow(session));
    if (!patch(next)) {
        beginResetModel();
        m_rows = std::move(next);
        endResetModel();
    }
}

bool SessionListModel::patch(const std::vector<Row>& next)
{
    QSet<QString> nextIds;
    nextIds.reserve(static_cast<qsizetype>(next.size()));
    for (const Row& row : next)
        nextIds.insert(row.id);

    // Vanished sessions first, in runs from the back so that the rows in front keep their numbers.
    for (int end = count(); end > 0;) {
        if (nextIds.contains(m_rows[static_cast<std::size_t>(end - 1)].id)) {
            --end;
            continue;
        }
        int begin = end - 1;
        while (begin > 0 && !nextIds.contains(m_rows[static_cast<std::size_t>(begin - 1)].id))
            --begin;
        beginRemoveRows({}, begin, end - 1);
        m_rows.erase(m_rows.begin() + begin, m_rows.begin() + end);
        endRemoveRows();
        end = begin;
    }

    QSet<QString> kept;
    kept.reserve(count());
    for (const Row& row : m_rows)
        kept.insert(row.id);

    // Every kept row is now also in `next`, so making row i equal next[i] for every i ends with the
    // same list. A session that moved up (it had new activity) is taken out and put in again: a
    // sorting or filtering proxy turns a real move into a layout change, which rebuilds every delegate.
    int moves = 0;
    int changedFrom = -1;
    const auto flushChanged = [&](int end) {
        if (changedFrom >= 0)
            emit dataChanged(index(changedFrom), index(end - 1));
        changedFrom = -1;
    };
    const int size = static_cast<int>(next.size());
    for (int i = 0; i < size;) {
        const Row& wanted = next[static_cast<std::size_t>(i)];
        if (i < count() && m_rows[static_cast<std::size_t>(i)].id == wanted.id) {
            if (m_rows[static_cast<std::size_t>(i)] != wanted) {
                m_rows[static_cast<std::size_t>(i)] = wanted;
                if (changedFrom < 0)
                    changedFrom = i;
            } else {
                flushChanged(i);
            }
            ++i;
            continue;
        }
        flushChanged(i);
        if (!kept.contains(wanted.id)) {
            int end = i + 1;
            while (end < size && !kept.contains(next[static_cast<std::size_t>(end)].id))
                ++end;
            beginInsertRows({}, i, end - 1);
            m_rows.insert(m_rows.begin() + i, next.begin() + i, next.begin() + end);
            endInsertRows();
            i = end;
            continue;
        }
        if (++moves > maxMoves)
            return false;
        int from = i + 1;
        while (m_rows[static_cast<std::size_t>(from)].id != wanted.id)
            ++from;
        beginRemoveRows({}, from, from);
        m_rows.erase(m_rows.begin() + from);
        endRemoveRows();
        beginInsertRows({}, i, i);
        m_rows.insert(m_rows.begin() + i, wanted);
        endInsertRows();
        ++i;
    }
    flushChanged(size);
    return true;
}

bool SessionListModel::matches(int row, const QString& search) const
{
    const Row& r = m_rows[static_cast<std::size_t>(row)];
    return r.projectName.contains(search, Qt::CaseInsensitive) || r.toolName.contains(search, Qt::CaseInsensitive) ||
           r.branch.contains(search, Qt::CaseInsensitive);
}

bool SessionListModel::isActive(int row) const
{
    return m_rows[static_cast<std::size_t>(row)].isActive;
}

int SessionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
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
    case UsageModelRole:
        return row.usageModel;
    case UsageFiguresRole:
        return row.usageFigures;
    case UsageTextRole:
        return row.usageText;
    case UsageAccessibleRole:
        return row.usageAccessible;
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
        {UsageModelRole, "usageModel"},
        {UsageFiguresRole, "usageFigures"},
        {UsageTextRole, "usageText"},
        {UsageAccessibleRole, "usageAccessible"},
    };
}

} // namespace loomwatch::ui
