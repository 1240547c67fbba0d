// Faults injected at the edges, through the commands: every case ends in a skipped item, one error
// line or a fallback — never a crash, a hang or a touched agent file.
#include "clitestsupport.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <atomic>
#include <thread>

using namespace loomwatch::testing;

static std::string claudeLine(const std::string& session, const std::string& role, int n)
{
    return R"({"type":")" + role + R"(","sessionId":")" + session +
           R"(","cwd":"/srv/app","timestamp":"2026-11-30T10:00:00.000Z","message":{"role":")" + role +
           R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":)" + std::to_string(n) + "}}}\n";
}

// The length of the JSON array printed, -1 when the output is not one.
static long sessionCount(const CommandResult& result)
{
    simdjson::dom::parser parser;
    simdjson::dom::array sessions;
    return parser.parse(result.out).get_array().get(sessions) == simdjson::SUCCESS ? long(sessions.size()) : -1;
}

// A home with one Claude Code session.
class FaultHome : public ::testing::Test
{
protected:
    void SetUp() override { home.write(".claude/projects/-srv-a/a.jsonl", claudeLine("a", "assistant", 1000000)); }

    TempHome home;
};

// Transcripts rewritten while they are read (each file always the same way), beside a folder link
// that loops and a FIFO named like a transcript.
TEST_F(FaultHome, TranscriptsChangingUnderARefresh)
{
    const auto dir = home / ".claude/projects/-srv-app";
    for (int i = 0; i < 20; ++i)
        writeFile(dir / ("s" + std::to_string(i) + ".jsonl"), claudeLine("s", "user", i));
    fs::create_directory_symlink(dir, dir / "loop");
    ASSERT_EQ(::mkfifo((dir / "x.jsonl").c_str(), 0644), 0);
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int round = 0; !stop; ++round) {
            const fs::path file = dir / ("s" + std::to_string(round % 20) + ".jsonl");
            if (round % 4 == 0) { // a burst cut mid-line
                appendFile(file, claudeLine("s", "assistant", round) + R"({"type":"assi)");
            } else if (round % 4 == 1) {
                fs::resize_file(file, 0);
            } else { // replaced through a rename, the way editors and agents rewrite, or gone for a moment first
                writeFile(dir / "new.tmp", claudeLine("s", "user", round));
                if (round % 4 == 3)
                    fs::remove(file);
                fs::rename(dir / "new.tmp", file);
            }
        }
    });
    for (int run = 0; run < 6; ++run) {
        const auto result = runInProcess({"sessions", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_GE(sessionCount(result), 0) << result.out;
    }
    stop = true;
    churn.join();
}

// Nothing can be created in a read-only home: no history, compiled-in prices, still an answer.
TEST_F(FaultHome, ReadOnlyHome)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as an unprivileged user";
    ASSERT_EQ(std::system(("chown -R nobody:nogroup '" + home.path().string() + "'").c_str()), 0);
    fs::permissions(home.path(), fs::perms(0555));
    const auto result =
        runCommand({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", cliPath, "costs", "--json"},
                   home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with(R"({"today":)")) << result.out;
    EXPECT_FALSE(fs::exists(home / ".local"));
}

// One error line, and what the other providers found is still printed.
TEST_F(FaultHome, DamagedOpenCodeDatabase)
{
    home.write(".local/share/opencode/opencode.db", std::string(4096, '\xAB'));
    const auto result = runInProcess({"sessions", "--json"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("OpenCode: ")) << result.err;
    EXPECT_EQ(std::ranges::count(result.err, '\n'), 1) << "one error line";
    EXPECT_EQ(sessionCount(result), 1) << result.out;
}

// A file-size limit of 8 KiB: the history's writes fail with EFBIG (SIGXFSZ ignored, as a shell would).
TEST_F(FaultHome, HistoryThatCannotGrow)
{
    const auto result = runCommand({"sh", "-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" sessions --json", cliPath},
                                   home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(sessionCount(result), 1) << result.out;
}

// The user's copies of the price table and the handoff template, empty or not UTF-8.
TEST_F(FaultHome, BrokenResourceFiles)
{
    for (const std::string& content : {std::string(), std::string("caf\xE9 latin-1\n")}) {
        home.write(".local/share/Loomwatch/ModelPricing.json", content);
        home.write(".local/share/Loomwatch/HandoffTemplate.md", content);
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
