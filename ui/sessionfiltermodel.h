#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QtQmlIntegration>

namespace loomwatch::ui {

class SessionListModel;

// One view of the session list (the roles of SessionListModel), in its source's order: only active
// sessions, only those matching a search text, or only the first rows of its source. Searching and
// the active filter need the SessionListModel itself as the source; stack a limit on top of those
// for "the first N active sessions".
class SessionFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")
    // Case-insensitive contains of the text exactly as typed (no trimming) against the project
    // name, the tool's display name and the branch; empty shows everything.
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    struct Options
    {
        // Working, waiting, idle and limited sessions: everything but ended and errored.
        bool activeOnly = false;
        // Only the first `limit` rows of the source pass; 0: all of them.
        int limit = 0;
    };

    SessionFilterModel(QAbstractItemModel* source, Options options, QObject* parent = nullptr);

    QString search() const { return m_search; }
    void setSearch(const QString& search);
    int count() const { return rowCount(); }

    // Row of the session with this id, -1 when it is not shown.
    Q_INVOKABLE int indexOf(const QString& id) const;

signals:
    void searchChanged();
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    void updateCount();

    Options m_options;
    const SessionListModel* m_sessions; // null when the source is another view
    QString m_search;
    int m_count = 0;
};

} // namespace loomwatch::ui
