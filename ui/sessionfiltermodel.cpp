#include "ui/sessionfiltermodel.h"

#include "model/sessiontypes.h"
#include "ui/sessionlistmodel.h"

namespace loomwatch::ui {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

SessionFilterModel::SessionFilterModel(QAbstractItemModel* source, Options options, QObject* parent)
    : QSortFilterProxyModel(parent), m_options(options)
{
    setSourceModel(source);
    // Connected after the proxy's own handlers, so these run once it has followed the source: a row
    // that came in or left above moves the rows below across the limit, which the proxy alone would
    // not look at again; and the count is told once per change of the source.
    if (m_options.limit > 0) {
        connect(source, &QAbstractItemModel::rowsInserted, this, &SessionFilterModel::invalidateRowsFilter);
        connect(source, &QAbstractItemModel::rowsRemoved, this, &SessionFilterModel::invalidateRowsFilter);
        connect(source, &QAbstractItemModel::rowsMoved, this, &SessionFilterModel::invalidateRowsFilter);
        connect(source, &QAbstractItemModel::layoutChanged, this, &SessionFilterModel::invalidateRowsFilter);
    }
    connect(source, &QAbstractItemModel::rowsInserted, this, &SessionFilterModel::updateCount);
    connect(source, &QAbstractItemModel::rowsRemoved, this, &SessionFilterModel::updateCount);
    connect(source, &QAbstractItemModel::rowsMoved, this, &SessionFilterModel::updateCount);
    connect(source, &QAbstractItemModel::layoutChanged, this, &SessionFilterModel::updateCount);
    connect(source, &QAbstractItemModel::modelReset, this, &SessionFilterModel::updateCount);
    connect(source, &QAbstractItemModel::dataChanged, this, &SessionFilterModel::updateCount);
    m_count = rowCount();
}

void SessionFilterModel::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    emit searchChanged();
    invalidateRowsFilter();
    updateCount();
}

void SessionFilterModel::updateCount()
{
    const int now = rowCount();
    if (now == m_count)
        return;
    m_count = now;
    emit countChanged();
}

bool SessionFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_options.limit > 0 && sourceRow >= m_options.limit)
        return false;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    if (m_options.activeOnly) {
        static const QString ended = qs(model::rawValue(model::SessionState::ended));
        static const QString errored = qs(model::rawValue(model::SessionState::errored));
        const QString state = index.data(SessionListModel::StateRole).toString();
        if (state == ended || state == errored)
            return false;
    }
    if (m_search.isEmpty())
        return true;
    for (int role : {SessionListModel::ProjectNameRole, SessionListModel::ToolNameRole, SessionListModel::BranchRole}) {
        if (index.data(role).toString().contains(m_search, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

int SessionFilterModel::indexOf(const QString& id) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (index(row, 0).data(SessionListModel::IdRole).toString() == id)
            return row;
    }
    return -1;
}

} // namespace loomwatch::ui
