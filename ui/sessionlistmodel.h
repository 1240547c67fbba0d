#pragma once

// Qt before the model: moc of Qt 6.4 cannot parse <compare> when it comes first.
#include <QAbstractListModel>
#include <QDateTime>
#include <QString>
#include <QtQmlIntegration>

#include "model/sessiontypes.h"

#include <vector>

namespace loomwatch::ui {

// Every session of the store as a QML row, in the store's order. A new list changes only what
// changed: rows whose data differ get dataChanged, vanished and new sessions are removed and
// inserted, so the delegates of untouched rows (and a menu open on one) survive a refresh.
class SessionListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")

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
        UsageModelRole,            // QString: the model, empty when the session names none
        UsageFiguresRole,          // QString: "1.2M tokens · $3.41", "980 tokens · no price"
        UsageTextRole,             // QString: the model and the figures as one line
        UsageAccessibleRole,       // QString: the same, each figure named, for screen readers
    };
    Q_ENUM(Role)

    explicit SessionListModel(QObject* parent = nullptr);

    void setSessions(const std::vector<model::AgentSession>& sessions);

    int count() const { return static_cast<int>(m_rows.size()); }
    // For the filters, without going through QVariant: case-insensitive contains of `search` in the
    // project name, the tool's display name or the branch; working, waiting, idle or limited.
    bool matches(int row, const QString& search) const;
    bool isActive(int row) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

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
        QString snippet;
        QString state;
        QString stateName;
        QString stateSymbol;
        bool isWaiting = false;
        int processId = 0;
        bool hasProcess = false;
        QDateTime lastActivity;
        QString usageModel;
        QString usageFigures;
        QString usageText;
        QString usageAccessible;
        bool isActive = false;

        bool operator==(const Row&) const = default;
    };

    static Row makeRow(const model::AgentSession& session);
    // Turns m_rows into `next` with row signals; false when that would take too many steps and the
    // caller should reset instead (m_rows is then consistent but unfinished).
    bool patch(const std::vector<Row>& next);

    std::vector<Row> m_rows;
};

} // namespace loomwatch::ui
