#include "core/sessionhistory.h"

#include "support/fakeclock.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace loomwatch;
using namespace loomwatch::testing;
using model::AgentTool;
using namespace std::chrono_literals;

namespace {

const model::Timestamp now = localTime(2026, 12, 6, 12);

TEST(SessionHistory, StoresRawValuesAndDecimalTextAndKeepsInsertionFieldsOnUpdate)
{
    TempDir dir;
    auto history = core::SessionHistory::open(dir / "data/history.sqlite"); // the folder is created
    ASSERT_TRUE(history);
    auto s = makeSession(AgentTool::openCode, "ses_1", now, model::SessionState::waitingForInput);
    s.model = "m1";
    s.estimatedCost = model::Decimal::fromString("0.000003");
    s.branch.reset();
    ASSERT_TRUE(history->persist({s}, 1));

    auto later = s;
    later.model = "m2";
    later.startedAt = s.startedAt + 1h;
    later.lastActivityAt = now + 1h;
    later.state = model::SessionState::ended;
    later.tokens.output = 999;
    later.estimatedCost = model::Decimal::fromString("12.5");
    later.lastSnippet.reset();
    ASSERT_TRUE(history->persist({later}, 2));

    const auto records = history->records();
    ASSERT_EQ(records.size(), 1u);
    const core::SessionRecord& r = records[0];
    EXPECT_EQ(r.id, "openCode:ses_1");
    EXPECT_EQ(r.toolRaw, "openCode");
    EXPECT_EQ(r.stateRaw, "ended");
    EXPECT_EQ(r.modelName, "m2");
    EXPECT_EQ(r.startedAt, s.startedAt); // from the insertion
    EXPECT_EQ(r.pricingVersion, 1);      // from the insertion
    EXPECT_EQ(r.lastActivityAt, later.lastActivityAt);
    EXPECT_EQ(r.outputTokens, 999);
    EXPECT_EQ(r.estimatedCost, "12.5");
    EXPECT_EQ(r.branch, std::nullopt);
    EXPECT_EQ(r.snippet, std::nullopt);

    // A new id after the version change gets the new version.
    ASSERT_TRUE(history->persist({later, makeSession(AgentTool::claude, "x", now)}, 2));
    EXPECT_EQ(history->record("claude:x")->pricingVersion, 2);
}

TEST(SessionHistory, PruneKeepsARecordExactlySevenDaysOldAndDropsOneASecondOlder)
{
    TempDir dir;
    auto history = core::SessionHistory::open(dir / "history.sqlite");
    ASSERT_TRUE(history);
    history->persist({makeSession(AgentTool::claude, "boundary", now - 604800s),
                      makeSession(AgentTool::claude, "older", now - 604801s),
                      makeSession(AgentTool::claude, "recent", now - 1h)},
                     1);
    ASSERT_TRUE(history->prune(now));
    std::vector<std::string> ids;
    for (const auto& r : history->records())
        ids.push_back(r.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"claude:boundary", "claude:recent"}));
}

TEST(SessionHistory, DamagedOrForeignFileIsMovedAsideAndAFreshOneCreated)
{
    TempDir dir;
    const std::string path = dir / "history.sqlite";
    for (const std::string& content :
         {std::string(4096, 'x'), std::string("SQLite format 3") + std::string(200, '\0'), std::string()}) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << content;
        }
        if (content.empty()) {
            // A real database of some other program, with a table of the same name.
            sqlite3* db = nullptr;
            sqlite3_open(path.c_str(), &db);
            sqlite3_exec(db, "CREATE TABLE SessionRecord (id TEXT, something INTEGER)", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        auto history = core::SessionHistory::open(path);
        ASSERT_TRUE(history);
        ASSERT_TRUE(history->movedAsidePath());
        EXPECT_TRUE(std::filesystem::exists(*history->movedAsidePath()));
        EXPECT_TRUE(history->persist({makeSession(AgentTool::claude, "a", now)}, 1));
        EXPECT_EQ(history->records().size(), 1u);
        std::filesystem::remove(*history->movedAsidePath());
    }
}

TEST(SessionHistory, LockedFileIsKeptAndWritesFailQuietly)
{
    TempDir dir;
    const std::string path = dir / "history.sqlite";
    ASSERT_TRUE(core::SessionHistory::open(path));
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    auto history = core::SessionHistory::open(path);
    ASSERT_TRUE(history);
    EXPECT_FALSE(history->movedAsidePath());
    EXPECT_FALSE(history->persist({makeSession(AgentTool::claude, "a", now)}, 1));
    EXPECT_TRUE(history->records().empty());

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(history->persist({makeSession(AgentTool::claude, "a", now)}, 1));
}

TEST(SessionHistory, UnusableLocationGivesNoHistory)
{
    TempDir dir;
    std::ofstream(dir / "file") << "a regular file";
    EXPECT_EQ(core::SessionHistory::open(dir / "file/history.sqlite"), nullptr);
}

} // namespace
