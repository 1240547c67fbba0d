#include "support/sessionfactory.h"
#include "ui/sessionfiltermodel.h"
#include "ui/sessionlistmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace loomwatch::ui {
namespace {

using model::AgentTool;
using model::SessionState;

model::AgentSession session(AgentTool tool, const std::string& id, const std::string& project = "p",
                            std::optional<std::string> branch = {}, SessionState state = SessionState::working)
{
    auto s = testing::makeSession(tool, id, std::chrono::system_clock::now(), state);
    s.projectName = project;
    s.branch = std::move(branch);
    return s;
}

QStringList ids(const QAbstractItemModel& model)
{
    QStringList result;
    for (int i = 0; i < model.rowCount(); ++i)
        result << model.index(i, 0).data(SessionListModel::IdRole).toString();
    return result;
}

// The source and the controller's three views, each checked by Qt's model tester on every change.
class SessionModels : public ::testing::Test
{
protected:
    template <typename Model>
    Model* checked(Model* model)
    {
        testers.push_back(
            std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::Fatal));
        return model;
    }

    QObject owner;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    SessionListModel* list = checked(new SessionListModel(&owner));
    SessionFilterModel* searched = checked(new SessionFilterModel(list, {}, &owner));
    SessionFilterModel* active = checked(new SessionFilterModel(list, {.activeOnly = true}, &owner));
    SessionFilterModel* attention = checked(new SessionFilterModel(active, {.limit = 10}, &owner));
    SessionFilterModel* panel = checked(new SessionFilterModel(active, {.limit = 5}, &owner));
};

TEST_F(SessionModels, SearchMatchesProjectToolNameOrBranchInAnyCaseUntrimmed)
{
    list->setSessions(
        {session(AgentTool::claude, "a", "billing-service", "main"), session(AgentTool::codex, "b", "Barcode-Reader"),
         session(AgentTool::openCode, "c", "docs-site", "feature/CODEGEN"),
         session(AgentTool::codex, "d", "mobile app", "fix login"), session(AgentTool::cursor, "e", "design-system")});
    QSignalSpy resets(searched, &QAbstractItemModel::modelReset);
    // "Claude Code", "Codex" and "OpenCode" contain "code".
    for (const auto& [search, expected] : std::vector<std::pair<const char*, QStringList>>{
             {"CODE", {"claude:a", "codex:b", "openCode:c", "codex:d"}},
             {"codegen", {"openCode:c"}},
             {"mobile ", {"codex:d"}},
             {"billing ", {}},
             {"", {"claude:a", "codex:b", "openCode:c", "codex:d", "cursor:e"}}}) {
        searched->setSearch(QString::fromUtf8(search));
        EXPECT_EQ(ids(*searched), expected) << search;
    }
    EXPECT_EQ(resets.count(), 0) << "typing removes and inserts rows";

    searched->setSearch("docs");
    list->setSessions({session(AgentTool::claude, "x", "docs-api"), session(AgentTool::claude, "y", "other")});
    EXPECT_EQ(ids(*searched), QStringList{"claude:x"}) << "a new list keeps the search";
}

TEST_F(SessionModels, ARefreshSignalsOnlyWhatChanged)
{
    std::vector<model::AgentSession> sessions;
    for (const char* id : {"a", "b", "c", "d"})
        sessions.push_back(session(AgentTool::claude, id));
    list->setSessions(sessions);
    const QPersistentModelIndex untouched = searched->index(3, 0);
    QSignalSpy resets(list, &QAbstractItemModel::modelReset);
    QSignalSpy changes(list, &QAbstractItemModel::dataChanged);
    QSignalSpy proxyResets(searched, &QAbstractItemModel::modelReset);
    QSignalSpy proxyLayouts(searched, &QAbstractItemModel::layoutChanged);
    QSignalSpy proxyChanges(searched, &QAbstractItemModel::dataChanged);

    list->setSessions(sessions);
    EXPECT_EQ(changes.count() + proxyChanges.count(), 0) << "an unchanged list signals nothing";
    sessions[1].state = SessionState::waitingForInput;
    list->setSessions(sessions);
    for (QSignalSpy* spy : {&changes, &proxyChanges}) {
        ASSERT_EQ(spy->count(), 1);
        EXPECT_EQ(spy->at(0).at(0).value<QModelIndex>().row(), 1);
        EXPECT_EQ(spy->at(0).at(1).value<QModelIndex>().row(), 1);
    }

    // "c" has new activity and comes first, "a" goes, "e" is new: rows change, not the whole list.
    sessions[2].lastActivityAt += std::chrono::minutes(1);
    list->setSessions({sessions[2], sessions[1], session(AgentTool::codex, "e"), sessions[3]});
    EXPECT_EQ(ids(*searched), (QStringList{"claude:c", "claude:b", "codex:e", "claude:d"}));
    EXPECT_EQ(resets.count() + proxyResets.count() + proxyLayouts.count(), 0);
    EXPECT_EQ(untouched.data(SessionListModel::IdRole).toString(), "claude:d");
}

} // namespace
} // namespace loomwatch::ui
