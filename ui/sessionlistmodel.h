#pragma once

// Qt before the model: moc of Qt 6.4 cannot parse <compare> when it comes first.
#include <QAbstractListModel>
#include <QDateTime>
#include <QString>
#include <QtQmlIntegration>

#include "model/sessiontypes.h"

#include <vector>

namespace loomwatch::ui {

// The store's sessions as QML rows, in the store's order, optionally narrowed to the active ones,
// cut to a row limit and filtered by a search text.
class SessionListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")
    // Case-insensitive contains of the text exactly as typed (no trimming) against the project
    // name, the tool's display name and the branch; empty shows everything.
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role
    {
        IdRole = Qt::UserRole + 1, // QString: the session id
        ToolRole,                  // QString: the tool's raw value ("openCode")
        ToolNameRole,              // QString: "Claude Code"
        ToolSymbolRole,            // QString: the tool's symbol name
        ProjectNameRole,           // QString
        ShortProjectNameRole,      // QString: at most 30 characters (27 and "…")
        BranchRole,                // QString, empty when the session reports none
        SnippetRole,               // QString: the last snippet, else the tool's display name
        StateRole,                 // QString: the state's raw value
        StateNameRole,             // QString: "Waiting for you"
        StateSymbolRole,           // QString
        IsWaitingRole,             // bool
        ProcessIdRole,             // int, 0 without a process
        HasProcessRole,            // bool
        LastActivityRole,          // QDateTime
        CostTextRole,              // QString: US dollars in the user's locale, empty without an estimate
    };
    Q_ENUM(Role)

    enum class Scope
    {
        all,
        active, // working, waiting, idle and limited
    };

    explicit SessionListModel(Scope scope = Scope::all, int limit = 0, QObject* parent = nullptr);

    void setSessions(const std::vector<model::AgentSession>& sessions);

    QString search() const { return m_search; }
    void setSearch(const QString& search);
    int count() const { return static_cast<int>(m_visible.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Row of the session with this id, -1 when it is not shown.
    Q_INVOKABLE int indexOf(const QString& id) const;

signals:
    void searchChanged();
    void countChanged();

private:
    struct Row
    {
        QString id;
        QString tool;
        QString toolName;
        QString toolSymbol;
        QString projectName;
        QString shortProjectName;
        QString branch;
        bool hasBranch = false;
        QString snippet;
        QString state;
        QString stateName;
        QString stateSymbol;
        bool isWaiting = false;
        int processId = 0;
        bool hasProcess = false;
        QDateTime lastActivity;
        QString costText;
    };

    bool matches(const Row& row) const;
    std::vector<int> visibleRows() const;
    std::vector<QString> visibleIds() const;
    // After a search change (same rows): removes and inserts instead of a reset.
    void narrowOrWiden();
    // Recomputes the shown rows; `oldIds` are the ids shown before m_rows or the search changed.
    void refilter(const std::vector<QString>& oldIds);

    Scope m_scope;
    int m_limit;
    QString m_search;
    std::vector<Row> m_rows;
    std::vector<int> m_visible;
};

} // namespace loomwatch::ui
