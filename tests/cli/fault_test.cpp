// Faults injected at the edges, end to end through loomwatch-cli: every case ends in a skipped
// item, one error line or a fallback — never a crash, a hang or a touched agent file.
#include "clitestsupport.h"

#include <gtest/gtest.h>
#include <simdjson.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>

using namespace loomwatch::testing;
using namespace std::chrono;

namespace {

std::string claudeLine(const std::string& session, const std::string& role, int n)
{
    return R"({"type":")" + role + R"(","sessionId":")" + session +
           R"(","cwd":"/srv/app","timestamp":"2026-11-30T10:00:00.000Z","message":{"role":")" + role +
           R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":)" + std::to_string(n) + "}}}\n";
}

void expectSessionsJson(const CommandResult& result, std::size_t expected = SIZE_MAX)
{
    simdjson::dom::parser parser;
    simdjson::dom::array sessions;
    ASSERT_EQ(parser.parse(result.out).get_array().get(sessions), simdjson::SUCCESS) << result.out << result.err;
    EXPECT_TRUE(expected == SIZE_MAX || sessions.size() == expected) << result.out;
}

std::vector<std::string> asNobody(std::vector<std::string> args)
{
    std::vector<std::string> argv{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// A home that the unprivileged user owns (under /tmp, reachable by everyone).
void handToNobody(const fs::path& root)
{
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(std::system(("chown -R nobody:nogroup '" + root.string() + "'").c_str()), 0);
}

} // namespace

TEST(Faults, TranscriptsChangingUnderARefresh)
{
    TempHome home;
    const auto dir = home / ".claude/projects/-srv-app";
    for (int i = 0; i < 20; ++i)
        home.write(".claude/projects/-srv-app/s" + std::to_string(i) + ".jsonl", claudeLine("s", "user", i));
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int round = 0; !stop; ++round) {
            const fs::path file = dir / ("s" + std::to_string(round % 20) + ".jsonl");
            switch (round % 4) {
            case 0: // append a burst, sometimes cut mid-line
                std::ofstream(file, std::ios::app) << claudeLine("s", "assistant", round) << R"({"type":"assi)";
                break;
            case 1: // truncate
                fs::resize_file(file, 0);
                break;
            case 2: { // replace through a rename, the way editors and agents rewrite
                const fs::path temp = dir / "replacement.tmp";
                std::ofstream(temp) << claudeLine("s", "user", round);
                fs::rename(temp, file);
                break;
            }
            default: // delete and recreate
                fs::remove(file);
                std::ofstream(file) << claudeLine("s", "assistant", round);
            }
        }
    });
    for (int run = 0; run < 6; ++run) {
        const auto result = runCli({"sessions", "--json"}, home.environment());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        expectSessionsJson(result);
    }
    stop = true;
    churn.join();
}

TEST(Faults, HugeTreeWithSymlinkLoopsAndAFifo)
{
    TempHome home;
    const fs::path root = home / ".codex/sessions";
    for (int d = 0; d < 100; ++d) {
        const fs::path dir = root / "2026/11" / std::to_string(d);
        fs::create_directories(dir);
        for (int f = 0; f < 1000; ++f)
            std::ofstream(dir / (std::to_string(f) + (f % 10 == 0 ? ".jsonl" : ".txt")));
    }
    fs::create_directory_symlink(root, root / "2026/loop");
    fs::create_directory_symlink("..", root / "2026/11/0/up");
    ASSERT_EQ(::mkfifo((root / "x.jsonl").c_str(), 0644), 0);
    const auto started = steady_clock::now();
    const auto result = runCli({"sessions", "--json"}, home.environment(), {}, seconds(60));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 50);
    EXPECT_LT(steady_clock::now() - started, seconds(30));
}

TEST(Faults, UnreadableFoldersAndAReadOnlyHome)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to test as an unprivileged user";
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "user", 1));
    home.write(".claude/projects/-srv-b/b.jsonl", claudeLine("b", "user", 2));
    home.write(".claude/projects/-srv-c/c.jsonl", claudeLine("c", "user", 3));
    handToNobody(home.path());
    fs::permissions(home / ".claude/projects/-srv-b", fs::perms::none);
    fs::permissions(home / ".claude/projects/-srv-c/c.jsonl", fs::perms::none);
    auto result = runCommand(asNobody({"sessions", "--json"}), home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 1);

    // Nothing can be created in a read-only home: no history, compiled-in prices, still an answer.
    fs::remove_all(home / ".local");
    fs::permissions(home.path(),
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
    result = runCommand(asNobody({"costs", "--json"}), home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with(R"({"today":)")) << result.out;
    EXPECT_FALSE(fs::exists(home / ".local"));
}

TEST(Faults, OpenCodeDatabaseLockedDamagedOrOld)
{
    TempHome home;
    const fs::path db = home / ".local/share/opencode/opencode.db";
    fs::create_directories(db.parent_path());
    auto make = [&](const char* sql) {
        fs::remove(db);
        sqlite3* h = nullptr;
        sqlite3_open(db.c_str(), &h);
        ASSERT_EQ(sqlite3_exec(h, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
        sqlite3_close(h);
    };
    const char* current =
        "CREATE TABLE project (id TEXT, worktree TEXT);"
        "CREATE TABLE session (id TEXT, project_id TEXT, title TEXT, directory TEXT, path TEXT,"
        " time_created INTEGER, time_updated INTEGER, model TEXT, tokens_input INTEGER,"
        " tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);"
        "INSERT INTO session VALUES ('s1', NULL, 'one', '/srv/one', NULL, 1, 2, 'gpt-5', 1, 2, 3, 4);";

    // A writer in another process holding an exclusive lock (rollback journal): no hang.
    make(current);
    const pid_t writer = ::fork();
    if (writer == 0) {
        sqlite3* h = nullptr;
        sqlite3_open(db.c_str(), &h);
        sqlite3_exec(h, "BEGIN EXCLUSIVE; INSERT INTO session (id) VALUES ('s2');", nullptr, nullptr, nullptr);
        ::pause();
        ::_exit(0);
    }
    ::usleep(300'000);
    auto result = runCli({"sessions", "--json"}, home.environment(), {}, seconds(20));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.exitCode;
    expectSessionsJson(result);
    if (result.exitCode == 1) {
        EXPECT_TRUE(result.err.starts_with("OpenCode: ")) << result.err;
    }

    // An older schema names the missing column.
    make("CREATE TABLE project (id TEXT, worktree TEXT);"
         "CREATE TABLE session (id TEXT, project_id TEXT, title TEXT, directory TEXT, time_created INTEGER,"
         " time_updated INTEGER);");
    result = runCli({"sessions", "--json"}, home.environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("OpenCode: Unsupported provider schema: ")) << result.err;
    expectSessionsJson(result, 0);

    // Damaged: a database whose pages were overwritten.
    make(current);
    {
        std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0);
        f << std::string(100, '\xAB');
    }
    result = runCli({"sessions", "--json"}, home.environment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("OpenCode: ")) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << "one error line";
}

TEST(Faults, DamagedReadOnlyOrFullHistory)
{
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "user", 1));
    const fs::path history = home / ".local/share/Loomwatch/history.sqlite";
    fs::create_directories(history.parent_path());
    std::ofstream(history) << "SQLite format 3" << std::string(200, '\x01');
    auto result = runCli({"sessions", "--json"}, home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 1);
    int asideCount = 0;
    for (const auto& entry : fs::directory_iterator(history.parent_path()))
        asideCount += entry.path().filename().string().starts_with("history.sqlite.") ? 1 : 0;
    EXPECT_GE(asideCount, 1) << "the damaged file is kept aside, not deleted";

    fs::permissions(history, fs::perms::owner_read);
    result = runCli({"sessions", "--json"}, home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 1);
    fs::permissions(history, fs::perms::owner_read | fs::perms::owner_write);

    // A file-size limit of 8 KiB: writes fail with EFBIG (SIGXFSZ ignored, as a shell would).
    fs::remove_all(history.parent_path());
    result = runCommand({"sh", "-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" sessions --json", cliPath()},
                        home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 1);
}

TEST(Faults, BrokenSettingsAndResourceFiles)
{
    for (const std::string& content :
         {std::string(), std::string("\x00\xFF\xFE binary \x00", 13), std::string("caf\xE9 latin-1 [General]\n")}) {
        TempHome home;
        home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "assistant", 1000000));
        home.write(".config/Loomwatch/Loomwatch.conf", content);
        home.write(".local/share/Loomwatch/ModelPricing.json", content);
        home.write(".local/share/Loomwatch/HandoffTemplate.md", content);
        auto result = runCli({"sessions", "--json"}, home.environment());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        simdjson::dom::parser parser;
        const auto session = parser.parse(result.out).get_array().at(0);
        EXPECT_TRUE(session["estimatedCost"].is_null()) << "a broken pricing file gives no prices";
        result = runCli({"handoff", "claude:a"}, home.environment());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        if (content.empty()) {
            EXPECT_EQ(result.out, "") << "an empty template renders as nothing";
        } else {
            EXPECT_TRUE(result.out.starts_with("# Continuation Handoff")) << "invalid UTF-8: the built-in template";
        }
    }
}

TEST(Faults, WatchWithoutASessionBusStillRunsAndStopsOnSigterm)
{
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "assistant", 1));
    auto env = home.environment();
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home / "no-bus").string();
    std::vector<std::string> argv{
        "sh", "-c", "\"$0\" watch --notify --json & pid=$!; sleep 3; kill -TERM $pid; wait $pid", cliPath()};
    const auto result = runCommand(argv, env, {}, seconds(20));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(R"("event":"appeared")"), std::string::npos) << result.out;
}
