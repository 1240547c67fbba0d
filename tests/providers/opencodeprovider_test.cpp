#include "providers/opencodeprovider.h"

#include "ingestion/sqlitehandle.h"
#include "providers/providererror.h"
#include "providers/providertestsupport.h"

#include <sys/inotify.h>
#include <sys/ioctl.h>

#include <limits>

using namespace loomwatch;
using namespace loomwatch::providers;
using ingestion::SqliteConnection;
using namespace loomwatch::providers::test;
using model::AgentTool;
using namespace std::chrono_literals;

namespace {

// The tables of a current OpenCode database that the query reads.
constexpr const char* currentSchema = R"sql(
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL, vcs TEXT, time_created INTEGER);
CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT NOT NULL, parent_id TEXT, slug TEXT,
    title TEXT NOT NULL, directory TEXT NOT NULL, path TEXT, version TEXT,
    time_created INTEGER NOT NULL, time_updated INTEGER NOT NULL, time_archived INTEGER,
    model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/api-server', 'git', 1764000000000);
)sql";

constexpr std::int64_t baseMs = 1'764'000'000'000; // 2025-11-24T16:00:00Z
constexpr const char* modelJson = R"({"id":"claude-sonnet-4-5","providerID":"anthropic"})";

model::Timestamp at(std::int64_t ms)
{
    return model::Timestamp(std::chrono::milliseconds(ms));
}

// Runs the statements as OpenCode would, creating the database if need be; the connection is the caller's.
SqliteConnection write(const fs::path& path, const std::string& sql)
{
    fs::create_directories(path.parent_path());
    SqliteConnection db;
    if (db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK || db.exec(sql.c_str()) != SQLITE_OK)
        throw std::runtime_error(db.errorMessage() + (" in " + sql));
    return db;
}

// A session of the project's folder, created a minute before its update, with a secret in its title.
std::string session(const std::string& id, std::int64_t updatedMs)
{
    return "INSERT INTO session (id, project_id, title, directory, time_created, time_updated, model, tokens_input, "
           "tokens_output, tokens_cache_read, tokens_cache_write) VALUES ('" +
           id + "', 'prj_1', 'Fix login, password=hunter2hunter2', '/home/dev/src/api-server/', " +
           std::to_string(updatedMs - 60'000) + ", " + std::to_string(updatedMs) + ", '" + modelJson +
           "', 1200, 340, 45000, 800);";
}

std::shared_ptr<FakeInspector> noProcesses()
{
    return std::make_shared<FakeInspector>();
}

std::string failure(const fs::path& database)
{
    try {
        OpenCodeProvider(database.string(), noProcesses()).sessions();
    } catch (const ProviderError& error) {
        return error.what();
    }
    return "no failure";
}

// Counts what happens to a folder's entries (created, changed, closed after writing, removed) while it lives.
class FolderActivity
{
public:
    explicit FolderActivity(const fs::path& dir) : m_fd(inotify_init1(IN_CLOEXEC))
    {
        inotify_add_watch(m_fd, dir.c_str(),
                          IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO);
    }
    ~FolderActivity() { ::close(m_fd); }
    int pendingBytes() const
    {
        int bytes = 0;
        return ::ioctl(m_fd, FIONREAD, &bytes) == 0 ? bytes : -1;
    }

private:
    int m_fd;
};

} // namespace

TEST(OpenCodeRowMapping, ExtremeTimesAreClampedSoThatTheirDistanceToNowFits)
{
    const OpenCodeRow row{
        "ses_1", "t", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "", ""};
    const auto session = OpenCodeProvider::mapRow(row, {}, "/db");
    // Within 2^62 ns of 1970 (1823 to 2116): what the store and the command line compute from them still fits
    // (the sanitizer runs flag an overflow here).
    const auto now = std::chrono::system_clock::now();
    EXPECT_GT(now - session.startedAt, std::chrono::hours(24 * 365 * 100));
    EXPECT_GT(session.lastActivityAt - now, std::chrono::hours(24 * 365 * 50));
}

TEST(OpenCodeRowMapping, AttributesProcessesPreferringTheSessionsFolder)
{
    const std::vector<model::AgentProcess> processes{{700, "opencode", "/usr/bin/opencode", "/home/dev/other"},
                                                     {701, "opencode", "/usr/bin/opencode", "/home/dev/api"}};
    for (const auto& [directory, pid] : {std::pair{"/home/dev/api", 701}, {"/home/dev/elsewhere", 700}, {"", 700}}) {
        const auto session = OpenCodeProvider::mapRow({"ses_1", "t", baseMs, baseMs, directory, ""}, processes, "/db");
        EXPECT_EQ(session.processID, pid) << directory;
        EXPECT_EQ(session.state, model::SessionState::idle) << directory;
    }
}

TEST(OpenCodeModelName, TakesTheIdOfAJsonObjectElseTheText)
{
    EXPECT_EQ(OpenCodeProvider::modelName(modelJson), "claude-sonnet-4-5");
    EXPECT_EQ(OpenCodeProvider::modelName(R"( {"providerID":"openai", "id":"gpt-5"})"), "gpt-5");
    EXPECT_EQ(OpenCodeProvider::modelName("gpt-5-codex"), "gpt-5-codex");
    for (const char* unusable : {R"({"providerID":"anthropic"})", R"({"id":42})", R"({"id":"gpt-5")"})
        EXPECT_EQ(OpenCodeProvider::modelName(unusable), unusable);
    EXPECT_EQ(OpenCodeProvider::modelName(R"({"id":""})"), std::nullopt);
    EXPECT_EQ(OpenCodeProvider::modelName(""), std::nullopt);
}

// The folder's name holds what a "file:" URI would cut at or decode: unencoded, "x%41" would open the decoy in "xA".
TEST(OpenCodeProvider, ReadsEveryFieldOfTheFiftyNewestSessionsAtAnyPath)
{
    TempDir tmp;
    const std::string dbPath = (tmp / "x%41 what?mode=rw#tag caf\xC3\xA9/opencode.db").string();
    write(tmp / "xA what?mode=rw#tag caf\xC3\xA9/opencode.db", currentSchema + session("decoy", baseMs));
    std::string sql = std::string(currentSchema) + "BEGIN;";
    for (int i = 0; i < 60; ++i)
        sql += session("ses_" + std::to_string(i), baseMs + i * 1000);
    write(dbPath, sql + "COMMIT;");
    const auto inspector = std::make_shared<FakeInspector>(
        std::vector<model::AgentProcess>{{4242, "opencode", "/usr/bin/opencode", std::nullopt}});
    OpenCodeProvider provider(dbPath, inspector);

    const auto sessions = provider.sessions();
    ASSERT_EQ(sessions.size(), 50u);
    EXPECT_EQ(sessions.back().id, "openCode:ses_10");
    // clang-format off
    EXPECT_EQ(sessions.front(), (model::AgentSession{.id = "openCode:ses_59", .tool = AgentTool::openCode,
        .projectPath = "/home/dev/src/api-server/", .projectName = "api-server", .branch = std::nullopt,
        .model = "claude-sonnet-4-5", .startedAt = at(baseMs - 1000), .lastActivityAt = at(baseMs + 59'000),
        .processID = 4242, .state = model::SessionState::idle, .supportLevel = model::SupportLevel::partial,
        .tokens = {1200, 340, 45000, 800}, .estimatedCost = std::nullopt, .lastSnippet = "Fix login, [REDACTED]",
        .parserVersion = 1, .sourcePath = dbPath}));
    // clang-format on
    EXPECT_EQ(inspector->asked, std::vector<AgentTool>{AgentTool::openCode});
    EXPECT_EQ(provider.probe(), (model::ProviderProbeResult{AgentTool::openCode, true, model::SupportLevel::partial,
                                                            dbPath, std::nullopt}));
    // A leading "//" must not make the first folder a URI authority.
    EXPECT_EQ(OpenCodeProvider("/" + dbPath, noProcesses()).sessions().size(), 50u);
}

TEST(OpenCodeProvider, FallsBackWhereColumnsAreEmptyAndSkipsRowsWithoutId)
{
    TempDir tmp;
    write(tmp / "opencode.db", R"sql(
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT);
CREATE TABLE session (id TEXT, project_id TEXT, title TEXT, directory TEXT, path TEXT, time_created INTEGER,
    time_updated INTEGER, model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER,
    tokens_cache_write INTEGER);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/worktree');
INSERT INTO session (id, project_id, title, directory, path, time_created, time_updated) VALUES
    ('no-title', NULL, NULL, NULL, NULL, 1, 6000), ('path-only', NULL, 'p', NULL, '/home/dev/src/from-path', 1, 5000),
    ('worktree', 'prj_1', 'w', NULL, NULL, 1, 4000), (NULL, NULL, 'no id', '/x', NULL, 1, 3000),
    ('nothing', 'prj_missing', 'Only a title, password=hunter2hunter2', NULL, NULL, 1, 2000);)sql");
    const auto sessions = OpenCodeProvider((tmp / "opencode.db").string(), noProcesses()).sessions();
    ASSERT_EQ(sessions.size(), 4u);
    EXPECT_EQ(sessions[0].projectName, "OpenCode Session");
    EXPECT_EQ(sessions[0].model, std::nullopt);
    EXPECT_EQ(sessions[0].tokens, model::TokenUsage{});
    EXPECT_EQ(sessions[0].state, model::SessionState::ended);
    EXPECT_EQ(sessions[1].projectPath, "/home/dev/src/from-path");
    EXPECT_EQ(sessions[2].projectPath, "/home/dev/src/worktree");
    EXPECT_EQ(sessions[3].id, "openCode:nothing");
    EXPECT_EQ(sessions[3].projectPath, std::nullopt);
    EXPECT_EQ(sessions[3].projectName, "Only a title, [REDACTED]");
}

TEST(OpenCodeProvider, MissingDatabaseIsEmptyAndOtherFilesGiveTheTwoErrors)
{
    TempDir tmp;
    OpenCodeProvider missing((tmp / "nowhere/opencode.db").string(), noProcesses());
    EXPECT_TRUE(missing.sessions().empty());
    EXPECT_EQ(missing.probe().supportLevel, model::SupportLevel::unavailable);

    write(tmp / "older.db", "CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL);"
                            "CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT NOT NULL, title TEXT NOT NULL,"
                            " directory TEXT NOT NULL, time_created INTEGER NOT NULL, time_updated INTEGER NOT NULL);");
    write(tmp / "nosession.db", "CREATE TABLE project (id TEXT, worktree TEXT);");
    writeFile(tmp / "notadb.db", std::string(4096, 'x'));
    EXPECT_TRUE(failure(tmp / "older.db").starts_with("Unsupported provider schema: no such column: s."));
    EXPECT_EQ(failure(tmp / "nosession.db"), "Unsupported provider schema: no such table: session");
    EXPECT_EQ(failure(tmp / "notadb.db"), "The provider database could not be opened read-only.");

    if (::geteuid() == 0) { // only another user than root can be kept from reading a file
        fs::permissions(tmp / "older.db", fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(runAsNobody([&] { return failure(tmp / "older.db").starts_with("The provider database") ? 0 : 1; }),
                  0);
    }
}

// OpenCode with and without a writer at work: reading finds the committed sessions and neither
// creates, changes nor removes anything beside the database, nor makes its folder's watchers wake.
TEST(OpenCodeProvider, ReadingLeavesTheFolderUntouched)
{
    struct Case
    {
        const char* name;
        std::string journal;
        const char* transaction;
    };
    for (const auto& [name, journal, transaction] :
         {Case{"closed WAL writer", "PRAGMA journal_mode=WAL;", nullptr},
          Case{"live WAL writer", "PRAGMA journal_mode=WAL;", "BEGIN IMMEDIATE;"},
          Case{"locked, with a hot journal", "PRAGMA journal_mode=DELETE;", "BEGIN EXCLUSIVE;"}}) {
        TempDir tmp;
        const auto dbPath = tmp / "opencode.db";
        SqliteConnection writer = write(dbPath, journal + currentSchema + session("committed", baseMs));
        if (transaction)
            ASSERT_EQ(writer.exec((transaction + session("uncommitted", baseMs + 1000)).c_str()), SQLITE_OK);
        else
            writer = {}; // closed
        ASSERT_EQ(fs::exists(tmp / "opencode.db-wal"), name == std::string("live WAL writer"));
        // The reader runs as nobody when the test is root; like the real user it may write these files.
        for (const auto& entry : fs::directory_iterator(tmp.path()))
            ASSERT_TRUE(::geteuid() != 0 || ::chown(entry.path().c_str(), 65534, 65534) == 0);
        ASSERT_TRUE(::geteuid() != 0 || ::chown(tmp.path().c_str(), 65534, 65534) == 0);
        const auto before = snapshot(tmp.path());

        FolderActivity activity(tmp.path());
        const int code = runInOtherProcess([&] {
            const auto sessions = OpenCodeProvider(dbPath.string(), noProcesses()).sessions();
            return sessions.size() == 1 && sessions.front().id == "openCode:committed" ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << name;
        EXPECT_EQ(activity.pendingBytes(), 0) << name;
        EXPECT_EQ(snapshot(tmp.path()), before) << name;
    }
}

TEST(OpenCodeProvider, ChangesBesideTheDatabaseSendEventsUntilTheProviderIsGone)
{
    TempDir tmp;
    write(tmp / "opencode.db", currentSchema);
    auto provider = std::make_unique<OpenCodeProvider>((tmp / "opencode.db").string(), noProcesses());
    auto events = provider->events();
    writeFile(tmp / "opencode.db-journal", "x");
    EXPECT_EQ(nextEvent(events, 5s), model::ProviderEvent::changed(AgentTool::openCode));
    provider.reset();
    while (events.tryReceive()) {
    }
    EXPECT_TRUE(events.isFinished());
}
