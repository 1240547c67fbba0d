#include "core/sessionhistory.h"
#include "ingestion/sqlitehandle.h"

#include "support/fakeclock.h"
#include "support/process.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace loomwatch;
using namespace loomwatch::testing;
using model::AgentTool;
using namespace std::chrono_literals;

const model::Timestamp now = localTime(2026, 12, 6, 12);

TEST(SessionHistory, UpdateRewritesEveryFieldButToolStartAndPricingVersion)
{
    TempDir dir;
    auto history = core::SessionHistory::open(dir / "data/history.sqlite"); // the folder is created
    ASSERT_TRUE(history);
    auto first = makeSession(AgentTool::openCode, "ses_1", now, model::SessionState::waitingForInput);
    first.model = "m1";
    first.estimatedCost = model::Decimal::fromString("0.000003");
    ASSERT_TRUE(history->persist({first}, 1));
    EXPECT_EQ(history->record("openCode:ses_1")->estimatedCost, "0.000003");

    // clang-format off
    const model::AgentSession later{.id = first.id, .tool = AgentTool::codex, .projectPath = std::nullopt,
        .projectName = "renamed", .branch = std::nullopt, .model = "m2", .startedAt = first.startedAt + 1h,
        .lastActivityAt = now + 1h, .processID = std::nullopt, .state = model::SessionState::ended,
        .supportLevel = model::SupportLevel::full, .tokens = {1, 2, 3, 4},
        .estimatedCost = model::Decimal::fromString("12.5"), .lastSnippet = std::nullopt, .parserVersion = 1,
        .sourcePath = std::nullopt};
    const core::SessionRecord expected{.id = "openCode:ses_1", .toolRaw = "openCode", .projectName = "renamed",
        .projectPath = std::nullopt, .branch = std::nullopt, .modelName = "m2", .startedAt = first.startedAt,
        .lastActivityAt = now + 1h, .stateRaw = "ended", .inputTokens = 1, .outputTokens = 2, .cacheReadTokens = 3,
        .cacheWriteTokens = 4, .estimatedCost = "12.5", .snippet = std::nullopt, .pricingVersion = 1};
    // clang-format on
    ASSERT_TRUE(history->persist({later, makeSession(AgentTool::claude, "new", now)}, 2));
    EXPECT_EQ(history->record("openCode:ses_1"), expected);
    EXPECT_EQ(history->record("claude:new")->pricingVersion, 2);
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
    EXPECT_EQ(history->records().size(), 2u);
    EXPECT_FALSE(history->record("claude:older"));
}

TEST(SessionHistory, DamagedOrForeignFilesAreMovedAsideEarlierOnesKept)
{
    // The file as the first release wrote it is read, never moved aside.
    const std::string firstRelease = testData("core/history-first-release.sql");
    const std::pair<std::string, std::string> files[] = {
        {std::string(4096, 'x'), ""},
        {std::string("SQLite format 3") + std::string(200, '\0'), ""},
        {"", "CREATE TABLE SessionRecord (id TEXT, something INTEGER)"},
        {"", firstRelease}};
    TempDir dir; // one folder: several files are moved aside within the same second
    for (const auto& [content, sql] : files) {
        writeFile(dir / "history.sqlite", content);
        if (!sql.empty()) {
            ingestion::SqliteConnection other;
            other.open(dir / "history.sqlite", SQLITE_OPEN_READWRITE);
            ASSERT_EQ(other.exec(sql.c_str()), SQLITE_OK);
        }
        auto history = core::SessionHistory::open(dir / "history.sqlite");
        ASSERT_TRUE(history);
        EXPECT_EQ(history->movedAsidePath().has_value(), sql != firstRelease);
        EXPECT_TRUE(!sql.empty() ||
                    readFile(history->movedAsidePath().value_or("")) == content); // moved, not rewritten
        EXPECT_TRUE(history->persist({makeSession(AgentTool::claude, "a", now)}, 1));
        EXPECT_EQ(history->records().size(), sql == firstRelease ? 2u : 1u);
    }
    writeFile(dir / "file", "not a folder");
    EXPECT_EQ(core::SessionHistory::open(dir / "file/history.sqlite"), nullptr);
}

TEST(SessionHistory, LockedOrReadOnlyFileIsKeptAndWritesFailQuietly)
{
    TempDir dir;
    const fs::path path = dir / "history.sqlite";
    ASSERT_TRUE(core::SessionHistory::open(path)->persist({makeSession(AgentTool::claude, "a", now)}, 1));
    auto other = std::make_unique<ingestion::SqliteConnection>();
    other->open(path, SQLITE_OPEN_READWRITE);
    ASSERT_EQ(other->exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    auto history = core::SessionHistory::open(path);
    ASSERT_TRUE(history);
    EXPECT_FALSE(history->movedAsidePath());
    EXPECT_FALSE(history->persist({makeSession(AgentTool::claude, "b", now)}, 1));
    other.reset();
    EXPECT_TRUE(history->persist({makeSession(AgentTool::claude, "b", now)}, 1));

    // Files the user may not write (one without the table yet), in a folder where moving them aside would work.
    writeFile(dir / "empty.sqlite", "");
    for (const fs::path& file : {path, dir / "empty.sqlite"})
        fs::permissions(file, fs::perms(0444));
    ASSERT_TRUE(::geteuid() != 0 || ::chown(dir.path().c_str(), 65534, 65534) == 0);
    const int code = runInOtherProcess([&] {
        const auto readOnly = core::SessionHistory::open(path);
        const auto empty = core::SessionHistory::open(dir / "empty.sqlite");
        if (!readOnly || readOnly->movedAsidePath() || !empty || empty->movedAsidePath())
            return 1;
        const bool written = readOnly->persist({makeSession(AgentTool::claude, "c", now)}, 1);
        return !written && readOnly->records().size() == 2 ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
}
