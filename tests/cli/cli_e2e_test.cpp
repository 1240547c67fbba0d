// loomwatch-cli run as a separate process over homes laid out the way the agents lay theirs out.
#include "clitestsupport.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <simdjson.h>
#include <sqlite3.h>

#include <cstdio>

using namespace loomwatch::testing;
using namespace std::chrono;

namespace {

constexpr const char* claudeSessionId = "7d1c2f4e-8a3b-4c5d-9e6f-0a1b2c3d4e5f";
constexpr const char* codexSessionId = "5e1d7c3a-2b4f-4a60-9d2e-7f3c1b0a9e88";

system_clock::time_point utc(sys_days day, hours h, minutes m, seconds s = seconds(0))
{
    return system_clock::time_point(day) + h + m + s;
}

std::string fixture(const std::string& name)
{
    const char* data = std::getenv("LOOMWATCH_TEST_DATA");
    if (data == nullptr)
        throw std::runtime_error("LOOMWATCH_TEST_DATA is not set");
    return readFile(fs::path(data) / "cli" / name);
}

// The Claude Code fixture with the placeholders filled in; its lines carry `day` at 05:5x UTC.
std::string claudeTranscript(const std::string& sessionId, const std::string& cwd, const std::string& day)
{
    std::string text = fixture("claude-session.jsonl");
    for (const auto& [key, value] : {std::pair{"@SESSION@", sessionId}, {"@CWD@", cwd}, {"@DAY@", day}})
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at))
            text.replace(at, std::string_view(key).size(), value);
    return text;
}

void execSql(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
}

fs::path makeOpenCodeDatabase(TempHome& home)
{
    const fs::path db = home / ".local/share/opencode/opencode.db";
    fs::create_directories(db.parent_path());
    sqlite3* handle = nullptr;
    EXPECT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    execSql(handle, "PRAGMA journal_mode=WAL;");
    execSql(handle,
            "CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL);"
            "CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT, parent_id TEXT, title TEXT NOT NULL,"
            " directory TEXT NOT NULL, path TEXT, time_created INTEGER, time_updated INTEGER,"
            " time_archived INTEGER, model TEXT, tokens_input INTEGER, tokens_output INTEGER,"
            " tokens_cache_read INTEGER, tokens_cache_write INTEGER);"
            "CREATE TABLE credential (id TEXT, secret TEXT);"
            "INSERT INTO project VALUES ('prj_1', '/home/dev/src/webapp');"
            "INSERT INTO session VALUES ('ses_01', 'prj_1', NULL,"
            " 'Refactor the api_key=abcdefgh12345678 loader', '/home/dev/src/webapp', NULL,"
            " 1763600000000, 1763600060000, NULL, '{\"id\":\"claude-sonnet-4-5\",\"providerID\":\"anthropic\"}',"
            " 1000, 200, 0, 0);");
    sqlite3_close(handle);
    return db;
}

// Every file below the agents' folders with its bytes, to prove nothing was touched.
std::map<std::string, std::string> agentFiles(const TempHome& home)
{
    std::map<std::string, std::string> files;
    for (const char* folder : {".claude", ".codex", ".local/share/opencode", ".config/Cursor"})
        for (auto& [path, bytes] : snapshot(home / folder))
            files[std::string(folder) + "/" + path] = std::move(bytes);
    return files;
}

class CliHome : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.write(".claude/projects/-home-dev-src-api-server/" + std::string(claudeSessionId) + ".jsonl",
                   claudeTranscript(claudeSessionId, "/home/dev/src/api_server", "2026-11-21"),
                   utc(2026y / November / 21, 5h, 52min, 30s));
        home.write(".claude/projects/-home-dev-src-api-server/notes.json", "{}", utc(2026y / November / 22, 1h, 0min));
        home.write(".codex/sessions/2026/11/20/rollout-2026-11-20T09-15-02-" + std::string(codexSessionId) + ".jsonl",
                   fixture("codex-rollout.jsonl"), utc(2026y / November / 20, 9h, 16min, 30s));
        database = makeOpenCodeDatabase(home);
        home.write(".config/Cursor/User/globalStorage/anysphere.cursor-agent-worker/state.json", R"({"workers":[]})",
                   utc(2026y / November / 19, 8h, 0min));
    }

    TempHome home;
    fs::path database;
};

std::string isoDay(system_clock::time_point t)
{
    const year_month_day ymd{floor<days>(t)};
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
    return buffer;
}

std::string str(simdjson::dom::element e)
{
    return std::string(std::string_view(e));
}

} // namespace

TEST_F(CliHome, SessionsJsonGivesEveryFieldOfEveryTool)
{
    const auto before = agentFiles(home);
    const auto result = runCli({"sessions", "--json"}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(agentFiles(home), before) << "an agent's folder was changed";
    EXPECT_FALSE(fs::exists(database.string() + "-wal"));
    EXPECT_FALSE(fs::exists(database.string() + "-shm"));

    simdjson::dom::parser parser;
    const simdjson::dom::array sessions = parser.parse(result.out).get_array();
    ASSERT_EQ(sessions.size(), 3u) << result.out;

    // Latest activity first: Claude (Nov 21), Codex (Nov 20, 2026), OpenCode (Nov 20, 2025).
    const auto claude = sessions.at(0);
    EXPECT_EQ(claude.get_object().size(), 16u);
    EXPECT_EQ(str(claude["id"]), std::string("claude:") + claudeSessionId);
    EXPECT_EQ(str(claude["tool"]), "claude");
    EXPECT_EQ(str(claude["projectPath"]), "/home/dev/src/api_server");
    EXPECT_EQ(str(claude["projectName"]), "api_server");
    EXPECT_EQ(str(claude["branch"]), "feature/rate-limits");
    EXPECT_EQ(str(claude["model"]), "claude-sonnet-4-5-20250929");
    EXPECT_EQ(str(claude["startedAt"]), "2026-11-21T05:50:00.000Z");
    EXPECT_EQ(str(claude["lastActivityAt"]), "2026-11-21T05:52:30.000Z") << "the file's modification time is later";
    EXPECT_TRUE(claude["processID"].is_null());
    EXPECT_EQ(str(claude["state"]), "ended");
    EXPECT_EQ(str(claude["supportLevel"]), "full");
    EXPECT_EQ(int64_t(claude["tokens"]["input"]), 5);
    EXPECT_EQ(int64_t(claude["tokens"]["output"]), 410);
    EXPECT_EQ(int64_t(claude["tokens"]["cacheRead"]), 46200);
    EXPECT_EQ(int64_t(claude["tokens"]["cacheWrite"]), 1200);
    EXPECT_EQ(str(claude["estimatedCost"]), "0.024525");
    EXPECT_EQ(str(claude["lastSnippet"]), "Rate limit: [REDACTED] in config");
    EXPECT_EQ(int64_t(claude["parserVersion"]), 1);
    EXPECT_TRUE(str(claude["sourcePath"]).ends_with(std::string(claudeSessionId) + ".jsonl"));

    const auto codex = sessions.at(1);
    EXPECT_EQ(str(codex["id"]), std::string("codex:") + codexSessionId);
    EXPECT_EQ(str(codex["projectName"]), "billing");
    EXPECT_TRUE(codex["branch"].is_null()) << "Codex keeps its branch under git.branch, which is not read";
    EXPECT_EQ(str(codex["model"]), "gpt-5-codex");
    EXPECT_EQ(str(codex["startedAt"]), "2026-11-20T09:15:02.120Z");
    EXPECT_EQ(str(codex["lastActivityAt"]), "2026-11-20T09:16:30.000Z");
    EXPECT_EQ(int64_t(codex["tokens"]["input"]), 20480) << "the cumulative total, not the last turn";
    EXPECT_EQ(int64_t(codex["tokens"]["output"]), 1024);
    EXPECT_EQ(int64_t(codex["tokens"]["cacheRead"]), 15360);
    EXPECT_EQ(int64_t(codex["tokens"]["cacheWrite"]), 0);
    EXPECT_EQ(str(codex["estimatedCost"]), "0.03776");
    EXPECT_EQ(str(codex["lastSnippet"]), "Checking the invoice totals");
    EXPECT_EQ(str(codex["state"]), "ended");

    const auto openCode = sessions.at(2);
    EXPECT_EQ(str(openCode["id"]), "openCode:ses_01");
    EXPECT_EQ(str(openCode["tool"]), "openCode");
    EXPECT_EQ(str(openCode["projectPath"]), "/home/dev/src/webapp");
    EXPECT_EQ(str(openCode["projectName"]), "webapp");
    EXPECT_EQ(str(openCode["model"]), "claude-sonnet-4-5");
    EXPECT_EQ(str(openCode["startedAt"]), "2025-11-20T00:53:20.000Z");
    EXPECT_EQ(str(openCode["lastActivityAt"]), "2025-11-20T00:54:20.000Z");
    EXPECT_EQ(str(openCode["state"]), "ended");
    EXPECT_EQ(str(openCode["supportLevel"]), "partial");
    EXPECT_EQ(str(openCode["estimatedCost"]), "0.006");
    EXPECT_EQ(str(openCode["lastSnippet"]), "Refactor the [REDACTED] loader");
    EXPECT_EQ(str(openCode["sourcePath"]), database.string());
}

TEST_F(CliHome, DiagnosticsAndCostsJson)
{
    auto result = runCli({"diagnostics", "--json"}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    simdjson::dom::parser parser;
    const auto diagnostics = parser.parse(result.out).get_object();
    const simdjson::dom::array probes = diagnostics["probes"].get_array();
    ASSERT_EQ(probes.size(), 4u);
    std::vector<std::string> order;
    for (auto probe : probes)
        order.push_back(str(probe["tool"]));
    EXPECT_EQ(order, (std::vector<std::string>{"claude", "codex", "cursor", "openCode"}));
    const auto cursor = probes.at(2);
    EXPECT_TRUE(bool(cursor["installed"]));
    EXPECT_EQ(str(cursor["supportLevel"]), "processOnly");
    EXPECT_EQ(str(cursor["detectedPath"]), (home / ".config/Cursor").string());
    EXPECT_EQ(str(cursor["lastError"]), "Session format is not stable; process-level monitoring is active.");
    EXPECT_EQ(str(probes.at(3)["supportLevel"]), "partial");
    EXPECT_TRUE(probes.at(0)["lastError"].is_null());
    EXPECT_FALSE(diagnostics["lastRefresh"].is_null());
    EXPECT_EQ(int64_t(diagnostics["sessionCount"]), 3);
    EXPECT_EQ(int64_t(diagnostics["historyRetentionDays"]), 7);

    result = runCli({"costs", "--json"}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              R"({"today":"0","currency":"USD","tools":{"claude":"0","codex":"0","openCode":"0","cursor":"0"}})"
              "\n")
        << "nothing in this home was active today";

    EXPECT_TRUE(fs::exists(home / ".local/share/Loomwatch/history.sqlite"));
}

TEST(CliCosts, TodaysSessionsAddUpPerTool)
{
    TempHome home;
    const auto now = system_clock::now();
    const std::string today = isoDay(now);
    // Transcript lines carry today's date at 05:5x UTC; the file was written just now.
    home.write(".claude/projects/-srv-app/a.jsonl", claudeTranscript("a", "/srv/app", today), now);
    home.write(".claude/projects/-srv-old/b.jsonl", claudeTranscript("b", "/srv/old", "2026-01-02"),
               now - hours(24 * 40));
    const auto result = runCli({"costs", "--json"}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(
        result.out,
        R"({"today":"0.024525","currency":"USD","tools":{"claude":"0.024525","codex":"0","openCode":"0","cursor":"0"}})"
        "\n");
    const auto human = runCli({"costs"}, home.environment());
    EXPECT_NE(human.out.find("$0.02"), std::string::npos) << human.out;
    EXPECT_NE(human.out.find("Estimates only."), std::string::npos);
}

TEST_F(CliHome, ProviderFailureGoesToStandardErrorAndTheRestIsPrinted)
{
    std::ofstream(database, std::ios::binary | std::ios::trunc) << "this is not a database, just some text\n";
    const auto result = runCli({"sessions", "--json"}, home.environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("OpenCode: ")) << result.err;
    simdjson::dom::parser parser;
    const simdjson::dom::array sessions = parser.parse(result.out).get_array();
    EXPECT_EQ(sessions.size(), 2u) << "Claude Code and Codex are still listed";
}

TEST_F(CliHome, HandoffIsRedactedAndUnknownIdsAreUsageErrors)
{
    auto result = runCli({"handoff", std::string("claude:") + claudeSessionId}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("/home/dev/src/api_server"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("feature/rate-limits"), std::string::npos);
    EXPECT_NE(result.out.find("[REDACTED]"), std::string::npos);
    EXPECT_EQ(result.out.find("sk-live"), std::string::npos) << "a secret left the transcript";

    result = runCli({"handoff", "claude:no-such-session"}, home.environment());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");

    fs::remove(home / ".claude/projects/-home-dev-src-api-server" / (std::string(claudeSessionId) + ".jsonl"));
    result = runCli({"terminate", "codex:" + std::string(codexSessionId), "--yes"}, home.environment());
    EXPECT_EQ(result.exitCode, 1) << "no process belongs to an ended session";
}

TEST(CliUsage, BadArgumentsExitWithTwo)
{
    TempHome home;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"sessions", "--yaml"}, {"handoff"}, {"terminate", "a", "b"}}) {
        const auto result = runCli(args, home.environment());
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("Usage: loomwatch-cli"), std::string::npos);
    }
    EXPECT_EQ(runCli({"--help"}, home.environment()).exitCode, 0);
    EXPECT_TRUE(runCli({"--version"}, home.environment()).out.starts_with("loomwatch-cli "));
}

TEST(CliTerminate, SignalsTheAgentWorkingInTheSessionsFolderAfterConfirmation)
{
    TempHome home;
    const fs::path project = home / "src/shop";
    fs::create_directories(project);
    const auto now = system_clock::now();
    std::string encoded = project.string();
    for (char& c : encoded) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '-';
    }
    home.write(".claude/projects/" + encoded + "/s1.jsonl", claudeTranscript("s1", project.string(), isoDay(now)), now);
    ChildProcess agent(home / "bin/claude", project);

    auto result = runCli({"sessions", "--json"}, home.environment());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    simdjson::dom::parser parser;
    const auto session = parser.parse(result.out).get_array().at(0);
    EXPECT_EQ(int64_t(session["processID"]), agent.pid()) << "attributed by its working directory";
    EXPECT_EQ(str(session["state"]), "waitingForInput");

    result = runCli({"terminate", "claude:s1"}, home.environment(), "n\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Loomwatch will send SIGTERM to process " + std::to_string(agent.pid()) +
                              ". Unsaved agent work may be lost."),
              std::string::npos)
        << result.err;
    EXPECT_EQ(agent.terminatedBy(milliseconds(300)), 0) << "declined, so still running";

    result = runCli({"terminate", "claude:s1", "--yes"}, home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(agent.terminatedBy(), SIGTERM);
}

TEST_F(CliHome, NoCommandEverTouchesAnAgentsFolder)
{
    // OpenCode is running: its connection keeps the database in WAL mode with -wal and -shm beside it.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &writer), SQLITE_OK);
    execSql(writer, "PRAGMA journal_mode=WAL; INSERT INTO session (id, title, directory, time_created, time_updated)"
                    " VALUES ('ses_02', 'Second', '/home/dev/src/webapp', 1763600100000, 1763600200000);");
    ASSERT_TRUE(fs::exists(database.string() + "-wal"));
    ASSERT_TRUE(fs::exists(database.string() + "-shm"));
    const auto before = agentFiles(home);

    const std::string claudeId = std::string("claude:") + claudeSessionId;
    for (const auto& args : std::vector<std::vector<std::string>>{{"sessions"},
                                                                  {"sessions", "--json"},
                                                                  {"costs"},
                                                                  {"costs", "--json"},
                                                                  {"diagnostics"},
                                                                  {"diagnostics", "--json"},
                                                                  {"handoff", claudeId},
                                                                  {"handoff", "openCode:ses_01"},
                                                                  {"terminate", claudeId, "--yes"},
                                                                  {"terminate", "openCode:nope"}}) {
        const auto result = runCli(args, home.environment(), "n\n");
        EXPECT_LT(result.exitCode, 3) << args.front() << ": " << result.err;
    }
    const auto watch =
        runCommand({"sh", "-c", "\"$0\" watch --json & pid=$!; sleep 4; kill -TERM $pid; wait $pid", cliPath()},
                   home.environment(), {}, seconds(30));
    EXPECT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_NE(watch.out.find("openCode:ses_02"), std::string::npos) << "the live writer's committed row is seen";

    const auto after = agentFiles(home);
    EXPECT_EQ(after.size(), before.size()) << "a file appeared or vanished below an agent's folder";
    for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        ASSERT_NE(it, after.end()) << path << " vanished";
        EXPECT_TRUE(it->second == bytes) << path << " changed";
    }
    sqlite3_close(writer);
}
