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

model::AgentSession session(AgentTool tool, const std::string& id, const std::string& project,
                            std::optional<std::string> branch = std::nullopt,
                            SessionState state = SessionState::working)
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

// The source and the controller's three views, each watched by Qt's model tester.
class SessionModelsTest : public ::testing::Test
{
protected:
    template <typename Model>
    Model* watched(Model* model)
    {
        testers.push_back(
            std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::Fatal));
        return model;
    }

    QObject owner;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    SessionListModel* list = watched(new SessionListModel(&owner));
    SessionFilterModel* searched = watched(new SessionFilterModel(list, {}, &owner));
    SessionFilterModel* active = watched(new SessionFilterModel(list, {.activeOnly = true}, &owner));
    SessionFilterModel* attention = watched(new SessionFilterModel(active, {.limit = 10}, &owner));
    SessionFilterModel* panel = watched(new SessionFilterModel(active, {.limit = 5}, &owner));
};

TEST_F(SessionModelsTest, SearchMatchesProjectToolNameOrBranchInAnyCaseUntrimmed)
{
    list->setSessions(
        {session(AgentTool::claude, "a", "billing-service", "main"), session(AgentTool::codex, "b", "Barcode-Reader"),
         session(AgentTool::openCode, "c", "docs-site", "feature/CODEGEN"),
         session(AgentTool::codex, "d", "mobile app", "fix login"), session(AgentTool::cursor, "e", "design-system")});
    QSignalSpy resets(searched, &QAbstractItemModel::modelReset);
    // "Claude Code", "Codex" and "OpenCode" contain "code"; a session without a branch matches
    // nothing through it.
    for (const auto& [search, expected] : std::vector<std::pair<const char*, QStringList>>{
             {"CODE", {"claude:a", "codex:b", "openCode:c", "codex:d"}},
             {"codegen", {"openCode:c"}},
             {"mobile ", {"codex:d"}},
             {"billing ", {}},
             {"Cursor", {"cursor:e"}},
             {"main", {"claude:a"}},
             {"", {"claude:a", "codex:b", "openCode:c", "codex:d", "cursor:e"}}}) {
        searched->setSearch(QString::fromUtf8(search));
        EXPECT_EQ(ids(*searched), expected) << search;
        EXPECT_EQ(searched->count(), expected.size());
    }
    EXPECT_EQ(resets.count(), 0) << "typing removes and inserts rows";
    EXPECT_EQ(searched->indexOf("codex:d"), 3);

    // A new list keeps the search.
    searched->setSearch("docs");
    list->setSessions({session(AgentTool::claude, "x", "docs-api"), session(AgentTool::claude, "y", "other")});
    EXPECT_EQ(ids(*searched), QStringList{"claude:x"});
    EXPECT_EQ(searched->indexOf("claude:y"), -1);
}

TEST_F(SessionModelsTest, ActiveViewsLeaveOutEndedAndErroredAndStopAtTheirLimit)
{
    std::vector<model::AgentSession> sessions{session(AgentTool::codex, "ended", "p", {}, SessionState::ended),
                                              session(AgentTool::codex, "errored", "p", {}, SessionState::errored)};
    for (int i = 0; i < 12; ++i)
        sessions.push_back(
            session(AgentTool::claude, std::to_string(i), "p", {}, i % 2 ? SessionState::limited : SessionState::idle));
    list->setSessions(sessions);
    EXPECT_EQ(attention->count(), 10);
    EXPECT_EQ(ids(*panel), (QStringList{"claude:0", "claude:1", "claude:2", "claude:3", "claude:4"}));

    // One of the first five ends: the sixth moves up into the panel.
    QSignalSpy counts(panel, &SessionFilterModel::countChanged);
    sessions[3].state = SessionState::ended;
    list->setSessions(sessions);
    EXPECT_EQ(ids(*panel), (QStringList{"claude:0", "claude:2", "claude:3", "claude:4", "claude:5"}));
    EXPECT_EQ(attention->index(9, 0).data(SessionListModel::IdRole).toString(), "claude:10");
    EXPECT_EQ(counts.count(), 0);

    // A new session on top pushes the last one out.
    sessions.insert(sessions.begin(), session(AgentTool::cursor, "new", "p"));
    list->setSessions(sessions);
    EXPECT_EQ(ids(*panel), (QStringList{"cursor:new", "claude:0", "claude:2", "claude:3", "claude:4"}));
    EXPECT_EQ(attention->count(), 10);
}

TEST_F(SessionModelsTest, ARefreshSignalsOnlyWhatChanged)
{
    std::vector<model::AgentSession> sessions;
    for (const char* id : {"a", "b", "c", "d"})
        sessions.push_back(session(AgentTool::claude, id, id));
    list->setSessions(sessions);
    const QPersistentModelIndex untouched = searched->index(3, 0);

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    const auto spy = [&](QAbstractItemModel* model, auto signal) {
        return spies.emplace_back(std::make_unique<QSignalSpy>(model, signal)).get();
    };
    QSignalSpy* resets = spy(list, &QAbstractItemModel::modelReset);
    QSignalSpy* changes = spy(list, &QAbstractItemModel::dataChanged);
    QSignalSpy* proxyResets = spy(searched, &QAbstractItemModel::modelReset);
    QSignalSpy* proxyChanges = spy(searched, &QAbstractItemModel::dataChanged);
    QSignalSpy* proxyLayouts = spy(searched, &QAbstractItemModel::layoutChanged);

    list->setSessions(sessions);
    EXPECT_EQ(changes->count() + resets->count() + proxyChanges->count(), 0) << "an unchanged list signals nothing";

    sessions[1].state = SessionState::waitingForInput;
    list->setSessions(sessions);
    ASSERT_EQ(changes->count(), 1);
    EXPECT_EQ(changes->at(0).at(0).value<QModelIndex>().row(), 1);
    EXPECT_EQ(changes->at(0).at(1).value<QModelIndex>().row(), 1);
    ASSERT_EQ(proxyChanges->count(), 1);
    EXPECT_EQ(proxyChanges->at(0).at(0).value<QModelIndex>().row(), 1);
    EXPECT_TRUE(searched->index(1, 0).data(SessionListModel::IsWaitingRole).toBool());

    // "c" has new activity and comes first, "a" goes, "e" is new: rows, not the list, change.
    sessions[2].lastActivityAt += std::chrono::minutes(1);
    std::vector<model::AgentSession> next{sessions[2], sessions[1], session(AgentTool::codex, "e", "e"), sessions[3]};
    list->setSessions(next);
    EXPECT_EQ(ids(*list), (QStringList{"claude:c", "claude:b", "codex:e", "claude:d"}));
    EXPECT_EQ(resets->count() + proxyResets->count() + proxyLayouts->count(), 0);
    EXPECT_TRUE(untouched.isValid());
    EXPECT_EQ(untouched.data(SessionListModel::IdRole).toString(), "claude:d");

    // Past a few dozen moves one reset is cheaper; the result is the same list.
    std::vector<model::AgentSession> many;
    for (int i = 0; i < 80; ++i)
        many.push_back(session(AgentTool::codex, std::to_string(i), "p"));
    list->setSessions(many);
    std::ranges::reverse(many);
    list->setSessions(many);
    EXPECT_EQ(list->index(0, 0).data(SessionListModel::IdRole).toString(), "codex:79");
    EXPECT_EQ(ids(*searched), ids(*list));
}

TEST_F(SessionModelsTest, RolesFallBackAndFormat)
{
    auto plain = testing::makeSession(AgentTool::cursor, "process:7", {}, SessionState::limited);
    plain.lastSnippet.reset();
    plain.branch.reset();
    auto waiting = testing::makeSession(AgentTool::claude, "w", {}, SessionState::waitingForInput);
    waiting.processID = 4242;
    waiting.estimatedCost = model::Decimal::fromString("1.5");
    waiting.projectName = std::string(31, 'p');
    list->setSessions({plain, waiting});

    const auto at = [&](int row, int role) {
        return list->index(row, 0).data(role);
    };
    EXPECT_EQ(at(0, SessionListModel::SnippetRole).toString(), "Cursor");
    EXPECT_EQ(at(0, SessionListModel::BranchRole).toString(), "");
    EXPECT_FALSE(at(0, SessionListModel::HasProcessRole).toBool());
    EXPECT_EQ(at(0, SessionListModel::CostTextRole).toString(), "");
    EXPECT_EQ(at(1, SessionListModel::ProcessIdRole).toInt(), 4242);
    EXPECT_EQ(at(1, SessionListModel::CostTextRole).toString(), "$1.50");
    EXPECT_EQ(at(1, SessionListModel::ShortProjectNameRole).toString(), QString(27, 'p') + QChar(0x2026));
    EXPECT_EQ(list->roleNames().value(SessionListModel::IdRole), "sessionId");
}

} // namespace
} // namespace loomwatch::ui
