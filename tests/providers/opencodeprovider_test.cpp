#include "providers/opencodeprovider.h"

#include "ingestion/sqlitehandle.h"
#include "providers/providererror.h"
#include "providers/providertestsupport.h"

#include <sys/inotify.h>
#include <sys/ioctl.h>

#include <limits>

using ingestion::SqliteConnection;

namespace {

constexpr std::int64_t baseMs = 1'764'000'000'000; // 2025-11-24T16:00:00Z

// Runs the statements as OpenCode would, creating the database if need be; the connection is the caller's.
SqliteConnection write(const fs::path& path, const std::string& sql)
{
    fs::create_directories(path.parent_path());
    SqliteConnection db;
    if (db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK || db.exec(sql.c_str()) != SQLITE_OK)
        throw std::runtime_error(db.errorMessage() + (" in " + sql));
    return db;
}

// The current schema, with a way to add sessions; and the statement that adds one.
const std::string schema = testData("providers/opencode-current.sql");
std::string session(const std::string& id, std::int64_t updatedMs)
{
    return "INSERT INTO new_session VALUES ('" + id + "', " + std::to_string(updatedMs) + ");";
}

std::vector<model::AgentSession> read(const fs::path& database)
{
    return OpenCodeProvider(database.string(), std::make_shared<FakeInspector>()).sessions();
}

std::string failure(const fs::path& database)
{
    try {
        read(database);
    } catch (const ProviderError& error) {
        return error.what();
    }
    return "no failure";
}

} // namespace

TEST(OpenCodeRowMapping, ClampsExtremeTimesAndAttributesProcessesPreferringTheSessionsFolder)
{
    const OpenCodeRow extreme{
        "ses_1", "t", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "", ""};
    const auto clamped = OpenCodeProvider::mapRow(extreme, {}, "/db");
    // Within 2^62 ns of 1970 (1823 to 2116): what the store and the command line compute from them still fits
    // (the sanitizer runs flag an overflow here).
    const auto now = std::chrono::system_clock::now();
    EXPECT_GT(now - clamped.startedAt, std::chrono::hours(24 * 365 * 100));
    EXPECT_GT(clamped.lastActivityAt - now, std::chrono::hours(24 * 365 * 50));

    const std::vector<model::AgentProcess> processes{{700, "opencode", "/usr/bin/opencode", "/home/dev/other"},
                                                     {701, "opencode", "/usr/bin/opencode", "/home/dev/api"}};
    for (const auto& [directory, pid] : {std::pair{"/home/dev/api", 701}, {"/home/dev/elsewhere", 700}, {"", 700}}) {
        const auto session = OpenCodeProvider::mapRow({"ses_1", "t", baseMs, baseMs, directory, ""}, processes, "/db");
        EXPECT_EQ(session.processID, pid) << directory;
        EXPECT_EQ(session.state, model::SessionState::idle) << directory;
    }
}

TEST(OpenCodeModelName, TakesTheLastIdOfAJsonObjectElseTheText)
{
    for (const auto& [text, name] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {R"({"id":"claude-sonnet-4-5","providerID":"anthropic"})", "claude-sonnet-4-5"},
             {R"( {"providerID":"openai", "id":"gpt-5"})", "gpt-5"},
             {R"({"id":"a","providerID":"x","id":"b"})", "b"},
             {"gpt-5-codex", "gpt-5-codex"},
             {R"({"providerID":"anthropic"})", R"({"providerID":"anthropic"})"},
             {R"({"id":"a","id":42})", R"({"id":"a","id":42})"},
             {R"({"id":"gpt-5")", R"({"id":"gpt-5")"},
             {R"({"id":""})", std::nullopt},
             {"", std::nullopt}})
        EXPECT_EQ(OpenCodeProvider::modelName(text), name) << text;
}

// The folder's name holds what a "file:" URI would cut at or decode: unencoded, "x%41" would open the decoy in "xA".
TEST(OpenCodeProvider, ReadsEveryFieldOfTheFiftyNewestSessionsAtAnyPath)
{
    TempDir tmp;
    const std::string dbPath = (tmp / "x%41 what?mode=rw#tag caf\xC3\xA9/opencode.db").string();
    write(tmp / "xA what?mode=rw#tag caf\xC3\xA9/opencode.db", schema + session("decoy", baseMs));
    write(dbPath, schema +
                      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 59) "
                      "INSERT INTO new_session SELECT 'ses_' || i, " +
                      std::to_string(baseMs) + " + i * 1000 FROM n;");
    const auto inspector = std::make_shared<FakeInspector>(
        std::vector<model::AgentProcess>{{4242, "opencode", "/usr/bin/opencode", std::nullopt}});
    const auto sessions = OpenCodeProvider(dbPath, inspector).sessions();
    ASSERT_EQ(sessions.size(), 50u);
    EXPECT_EQ(sessions.back().id, "openCode:ses_10");
    // Every field's mapping is in the command line's golden output; here what the path and the process table give.
    EXPECT_EQ(std::tuple(sessions.front().id, sessions.front().processID, sessions.front().sourcePath),
              std::tuple("openCode:ses_59", 4242, dbPath));
    EXPECT_EQ(inspector->asked, std::vector<AgentTool>{AgentTool::openCode});
    // A leading "//" must not make the first folder a URI authority.
    EXPECT_EQ(read("/" + dbPath).size(), 50u);
}

TEST(OpenCodeProvider, FallsBackWhereColumnsAreEmptyAndSkipsRowsWithoutId)
{
    TempDir tmp;
    write(tmp / "opencode.db", testData("providers/opencode-sparse.sql"));
    const auto sessions = read(tmp / "opencode.db");
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
    OpenCodeProvider missing((tmp / "nowhere/opencode.db").string(), std::make_shared<FakeInspector>());
    EXPECT_TRUE(missing.sessions().empty());
    EXPECT_EQ(missing.probe().supportLevel, model::SupportLevel::unavailable);

    write(tmp / "older.db", testData("providers/opencode-older.sql"));
    write(tmp / "nosession.db", "CREATE TABLE project (id TEXT, worktree TEXT);");
    writeFile(tmp / "notadb.db", std::string(4096, 'x'));
    EXPECT_TRUE(failure(tmp / "older.db").starts_with("Unsupported provider schema: no such column: s."));
    EXPECT_EQ(failure(tmp / "nosession.db"), "Unsupported provider schema: no such table: session");
    EXPECT_EQ(failure(tmp / "notadb.db"), "The provider database could not be opened read-only.");

    if (::geteuid() == 0) { // only another user than root can be kept from reading a file
        fs::permissions(tmp / "older.db", fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(
            runInOtherProcess([&] { return failure(tmp / "older.db").starts_with("The provider database") ? 0 : 1; }),
            0);
    }
}

// OpenCode with and without a writer at work: reading finds the committed sessions and neither
// creates, changes nor removes anything beside the database, nor makes its folder's watchers wake.
TEST(OpenCodeProvider, ReadingLeavesTheFolderUntouched)
{
    for (const auto& [journal, transaction] : std::vector<std::pair<std::string, std::string>>{
             {"WAL", ""}, {"WAL", "BEGIN IMMEDIATE;"}, {"DELETE", "BEGIN EXCLUSIVE;"}}) {
        const std::string name = journal + " " + transaction;
        TempDir tmp;
        const auto dbPath = tmp / "opencode.db";
        SqliteConnection writer =
            write(dbPath, "PRAGMA journal_mode=" + journal + ";" + schema + session("committed", baseMs));
        if (transaction.empty())
            writer = {}; // closed
        else
            ASSERT_EQ(writer.exec((transaction + session("uncommitted", baseMs + 1000)).c_str()), SQLITE_OK);
        ASSERT_EQ(fs::exists(tmp / "opencode.db-wal"), name == "WAL BEGIN IMMEDIATE;");
        // The reader runs as nobody when the test is root; like the real user it may write these files.
        ASSERT_TRUE(::geteuid() != 0 || std::system(("chown -R 65534:65534 " + tmp.path().string()).c_str()) == 0);
        const auto before = snapshot(tmp.path());

        const int inotify = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(inotify, tmp.path().c_str(),
                          IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO);
        EXPECT_EQ(runInOtherProcess([&] {
                      const auto sessions = read(dbPath);
                      return sessions.size() == 1 && sessions.front().id == "openCode:committed" ? 0 : 1;
                  }),
                  0)
            << name;
        int eventBytes = -1;
        ::ioctl(inotify, FIONREAD, &eventBytes);
        ::close(inotify);
        EXPECT_EQ(eventBytes, 0) << name;
        EXPECT_EQ(snapshot(tmp.path()), before) << name;
    }
}

TEST(OpenCodeProvider, ChangesBesideTheDatabaseSendEvents)
{
    TempDir tmp;
    write(tmp / "opencode.db", schema);
    OpenCodeProvider provider((tmp / "opencode.db").string(), std::make_shared<FakeInspector>());
    auto events = provider.events();
    writeFile(tmp / "opencode.db-journal", "x");
    EXPECT_EQ(nextEvent(events, 5s), model::ProviderEvent::changed(AgentTool::openCode));
}
