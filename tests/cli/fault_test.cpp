// Faults injected at the edges, through the commands: every case ends in a skipped item, one error
// line or a fallback — never a crash, a hang or a touched agent file.
#include "clitestsupport.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <atomic>

using namespace loomwatch::testing;
using namespace std::chrono;

namespace {

std::string claudeLine(const std::string& session, const std::string& role, int n)
{
    return R"({"type":")" + role + R"(","sessionId":")" + session +
           R"(","cwd":"/srv/app","timestamp":"2026-11-30T10:00:00.000Z","message":{"role":")" + role +
           R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":)" + std::to_string(n) + "}}}\n";
}

// The output is a JSON array (of `expected` sessions, when given).
void expectSessionsJson(const CommandResult& result, std::optional<std::size_t> expected = {})
{
    simdjson::dom::parser parser;
    simdjson::dom::array sessions;
    ASSERT_EQ(parser.parse(result.out).get_array().get(sessions), simdjson::SUCCESS) << result.out << result.err;
    EXPECT_TRUE(!expected || sessions.size() == *expected) << result.out;
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
                appendFile(file, claudeLine("s", "assistant", round) + R"({"type":"assi)");
                break;
            case 1:
                fs::resize_file(file, 0);
                break;
            case 2: // replace through a rename, the way editors and agents rewrite
                writeFile(dir / "replacement.tmp", claudeLine("s", "user", round));
                fs::rename(dir / "replacement.tmp", file);
                break;
            default:
                fs::remove(file);
                writeFile(file, claudeLine("s", "assistant", round));
            }
        }
    });
    for (int run = 0; run < 6; ++run) {
        const auto result = runInProcess({"sessions", "--json"});
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
    const auto result = runInProcess({"sessions", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 50);
    EXPECT_LT(steady_clock::now() - started, seconds(30));
}

// Nothing can be created in a read-only home: no history, compiled-in prices, still an answer.
TEST(Faults, ReadOnlyHome)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as an unprivileged user";
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "user", 1));
    ASSERT_EQ(std::system(("chown -R nobody:nogroup '" + home.path().string() + "'").c_str()), 0);
    fs::permissions(home.path(), fs::perms(0555));
    const auto result =
        runCommand({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", cliPath(), "costs", "--json"},
                   home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with(R"({"today":)")) << result.out;
    EXPECT_FALSE(fs::exists(home / ".local"));
}

TEST(Faults, OpenCodeDatabaseLockedOrDamaged)
{
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "user", 1));
    const fs::path db = home / ".local/share/opencode/opencode.db";
    fs::create_directories(db.parent_path());
    const std::string current = fixture("opencode.sql");

    // A writer in another process holding an exclusive lock (rollback journal): no hang.
    execSql(db, substituted(current, {{"PRAGMA journal_mode=WAL;", ""}}).c_str());
    const fs::path locked = home / "locked";
    FILE* writer = ::popen(("sqlite3 " + db.string()).c_str(), "w");
    std::fprintf(writer,
                 "BEGIN EXCLUSIVE; INSERT INTO session (id, title, directory) VALUES ('s2', 'two', '/');\n"
                 ".shell touch %s\n",
                 locked.c_str());
    std::fflush(writer);
    ASSERT_TRUE(processEventsUntil([&] { return fs::exists(locked); }));
    auto result = runInProcess({"sessions", "--json"});
    EXPECT_TRUE(result.exitCode == 0 || result.err.starts_with("OpenCode: ")) << result.exitCode << result.err;
    expectSessionsJson(result);
    ::pclose(writer);

    // Damaged: one error line, and what the other providers found is still printed.
    fs::remove(db);
    execSql(db, current.c_str());
    std::fstream(db, std::ios::in | std::ios::out | std::ios::binary) << std::string(100, '\xAB');
    result = runInProcess({"sessions", "--json"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("OpenCode: ")) << result.err;
    EXPECT_EQ(std::ranges::count(result.err, '\n'), 1) << "one error line";
    expectSessionsJson(result, 1);
}

TEST(Faults, DamagedOrFullHistory)
{
    TempHome home;
    home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "user", 1));
    const fs::path history = home / ".local/share/Loomwatch/history.sqlite";
    writeFile(history, "SQLite format 3" + std::string(200, '\x01'));
    auto result = runInProcess({"sessions", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectSessionsJson(result, 1);
    int asideCount = 0;
    for (const auto& entry : fs::directory_iterator(history.parent_path()))
        asideCount += entry.path().filename().string().starts_with("history.sqlite.") ? 1 : 0;
    EXPECT_GE(asideCount, 1) << "the damaged file is kept aside, not deleted";

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
        for (const char* file : {".config/Loomwatch/Loomwatch.conf", ".local/share/Loomwatch/ModelPricing.json",
                                 ".local/share/Loomwatch/HandoffTemplate.md"})
            home.write(file, content);
        auto result = runInProcess({"sessions", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find(R"("estimatedCost":null)"), std::string::npos) << "a broken table gives no prices";
        result = runInProcess({"handoff", "claude:a"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        if (content.empty())
            EXPECT_EQ(result.out, "") << "an empty template renders as nothing";
        else
            EXPECT_TRUE(result.out.starts_with("# Continuation Handoff")) << "invalid UTF-8: the built-in template";
    }
}
