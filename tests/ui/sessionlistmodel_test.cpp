#include "support/sessionfactory.h"
#include "ui/sessionlistmodel.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace loomwatch::ui {
namespace {

using model::AgentTool;
using model::SessionState;
using testing::makeSession;

model::AgentSession session(AgentTool tool, const std::string& id, const std::string& project,
                            std::optional<std::string> branch, SessionState state = SessionState::working)
{
    auto s = makeSession(tool, id, std::chrono::system_clock::now(), state);
    s.projectName = project;
    s.branch = std::move(branch);
    return s;
}

QStringList ids(const SessionListModel& model)
{
    QStringList result;
    for (int i = 0; i < model.rowCount(); ++i)
        result << model.data(model.index(i), SessionListModel::IdRole).toString();
    return result;
}

class SessionListModelTest : public ::testing::Test
{
protected:
    SessionListModelTest()
    {
        model.setSessions({
            session(AgentTool::claude, "a", "billing-service", "main"),
            session(AgentTool::codex, "b", "Barcode-Reader", std::nullopt),
            session(AgentTool::openCode, "c", "docs-site", "feature/CODEGEN"),
            session(AgentTool::codex, "d", "mobile app", "fix login"),
            session(AgentTool::cursor, "e", "design-system", std::nullopt, SessionState::limited),
        });
    }

    SessionListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(SessionListModelTest, SearchMatchesToolNameProjectOrBranchInAnyCaseUntrimmed)
{
    // "Claude Code", "Codex" and "OpenCode" all contain "code"; the model's fallback text for a
    // missing branch must not count as one.
    for (const auto& [search, expected] : std::vector<std::pair<const char*, QStringList>>{
             {"CODE", {"claude:a", "codex:b", "openCode:c", "codex:d"}},
             {"barcode", {"codex:b"}},
             {"codegen", {"openCode:c"}},
             {"mobile ", {"codex:d"}},
             {"fix login", {"codex:d"}},
             {"billing ", {}},
             {"Cursor", {"cursor:e"}},
             {"main", {"claude:a"}},
             {"", {"claude:a", "codex:b", "openCode:c", "codex:d", "cursor:e"}}}) {
        model.setSearch(QString::fromUtf8(search));
        EXPECT_EQ(ids(model), expected) << search;
    }
}

TEST_F(SessionListModelTest, TypingRemovesAndInsertsRowsWithoutAReset)
{
    // The fixture's model tester checks every removal and insertion against the rows.
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    for (const char* search : {"d", "de", "des", "de", "d", "", "o", "op", "o", "mobile", "x", ""})
        model.setSearch(QString::fromUtf8(search));
    EXPECT_EQ(resets.count(), 0);

    model.setSearch("si");
    EXPECT_EQ(ids(model), (QStringList{"openCode:c", "cursor:e"}));
    model.setSearch("d");
    EXPECT_EQ(ids(model), (QStringList{"claude:a", "codex:b", "openCode:c", "codex:d", "cursor:e"}));
    EXPECT_EQ(resets.count(), 0);
}

TEST_F(SessionListModelTest, NewSessionsKeepTheSearch)
{
    QSignalSpy counts(&model, &SessionListModel::countChanged);
    model.setSearch("docs");
    model.setSessions({session(AgentTool::claude, "x", "docs-api", "main"),
                       session(AgentTool::claude, "y", "docs-site", "main"),
                       session(AgentTool::claude, "z", "other", "main")});
    EXPECT_EQ(ids(model), (QStringList{"claude:x", "claude:y"}));
    EXPECT_GE(counts.count(), 1);
}

TEST(SessionListModelRoles, FallbacksAndFormatting)
{
    SessionListModel model;
    auto plain = makeSession(AgentTool::cursor, "process:7", std::chrono::system_clock::now(), SessionState::limited);
    plain.lastSnippet.reset();
    plain.branch.reset();
    plain.processID.reset();
    auto waiting = makeSession(AgentTool::claude, "w", std::chrono::system_clock::now(), SessionState::waitingForInput);
    waiting.processID = 4242;
    waiting.estimatedCost = model::Decimal::fromString("1.5");
    waiting.projectName = std::string(31, 'p');
    model.setSessions({plain, waiting});

    const auto at = [&](int row, int role) {
        return model.data(model.index(row), role);
    };
    EXPECT_EQ(at(0, SessionListModel::SnippetRole).toString(), "Cursor");
    EXPECT_EQ(at(0, SessionListModel::BranchRole).toString(), "");
    EXPECT_FALSE(at(0, SessionListModel::HasProcessRole).toBool());
    EXPECT_EQ(at(0, SessionListModel::CostTextRole).toString(), "");
    EXPECT_EQ(at(1, SessionListModel::ProcessIdRole).toInt(), 4242);
    EXPECT_EQ(at(1, SessionListModel::CostTextRole).toString(), "$1.50");
    EXPECT_EQ(at(1, SessionListModel::ShortProjectNameRole).toString(), QString(27, 'p') + QChar(0x2026));
}

TEST(SessionListModelScope, ActiveListLeavesOutEndedAndErroredAndStopsAtTheLimit)
{
    SessionListModel model(SessionListModel::Scope::active, 10);
    std::vector<model::AgentSession> sessions;
    sessions.push_back(makeSession(AgentTool::codex, "ended", {}, SessionState::ended));
    sessions.push_back(makeSession(AgentTool::codex, "errored", {}, SessionState::errored));
    for (int i = 0; i < 12; ++i)
        sessions.push_back(
            makeSession(AgentTool::claude, std::to_string(i), {}, i % 2 ? SessionState::limited : SessionState::idle));
    model.setSessions(sessions);
    ASSERT_EQ(model.rowCount(), 10);
    EXPECT_EQ(model.data(model.index(0), SessionListModel::IdRole).toString(), "claude:0");
    EXPECT_EQ(model.data(model.index(9), SessionListModel::IdRole).toString(), "claude:9");
}

TEST(SessionListModelUpdates, SameSessionsKeepTheirRows)
{
    SessionListModel model;
    auto s = makeSession(AgentTool::claude, "a", {}, SessionState::working);
    model.setSessions({s});
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    s.state = SessionState::waitingForInput;
    model.setSessions({s});
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(model.data(model.index(0), SessionListModel::IsWaitingRole).toBool());
    // A vanished session rebuilds the list without trouble.
    model.setSessions({});
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
} // namespace loomwatch::ui
