#include "ui/sessionfiltermodel.h"

#include "ui/sessionlistmodel.h"

namespace loomwatch::ui {

SessionFilterModel::SessionFilterModel(QAbstractItemModel* source, Options options, QObject* parent)
    : QSortFilterProxyModel(parent), m_options(options), m_sessions(qobject_cast<SessionListModel*>(source))
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

bool SessionFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_options.limit > 0 && sourceRow >= m_options.limit)
        return false;
    if (!m_sessions)
        return true;
    return (!m_options.activeOnly || m_sessions->isActive(sourceRow)) &&
           (m_search.isEmpty() || m_sessions->matches(sourceRow, m_search));
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
