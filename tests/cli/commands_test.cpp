// The commands run in this process over homes laid out the way the agents lay theirs out.
#include "clitestsupport.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace loomwatch::testing;
using namespace std::chrono;

namespace {

std::string isoDay(system_clock::time_point t)
{
    const year_month_day day{floor<days>(t)};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(day.year()), unsigned(day.month()), unsigned(day.day()));
    return text;
}

// A file's lines joined: the expected output, one JSON element per line for people to read.
std::string golden(const std::string& name, const TempHome& home)
{
    std::string text = substituted(fixture(name), {{"@HOME@", home.path().string()}});
    std::erase(text, '\n');
    return text + '\n';
}

} // namespace

TEST_F(CliHome, JsonReportsGiveEveryFieldOfEveryTool)
{
    auto result = runInProcess({"sessions", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, golden("sessions.json", home));

    result = runInProcess({"diagnostics", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto refreshed = result.out.find(R"("lastRefresh":")");
    ASSERT_NE(refreshed, std::string::npos) << result.out;
    result.out.replace(refreshed + 15, 24, "@TIME@");
    EXPECT_EQ(result.out, golden("diagnostics.json", home));

    EXPECT_EQ(runInProcess({"costs", "--json"}).out,
              R"({"today":"0","currency":"USD","tools":{"claude":"0","codex":"0","openCode":"0","cursor":"0"}})"
              "\n")
        << "nothing in this home was active today";
    EXPECT_TRUE(fs::exists(home / ".local/share/Loomwatch/history.sqlite"));
}

TEST(CliCosts, TodaysSessionsAddUpPerTool)
{
    TempHome home;
    const auto now = system_clock::now();
    home.write(".claude/projects/-srv-app/a.jsonl", claudeTranscript("a", "/srv/app", isoDay(now)), now);
    home.write(".claude/projects/-srv-old/b.jsonl", claudeTranscript("b", "/srv/old", "2026-01-02"), now - days(40));
    EXPECT_EQ(
        runInProcess({"costs", "--json"}).out,
        R"({"today":"0.024525","currency":"USD","tools":{"claude":"0.024525","codex":"0","openCode":"0","cursor":"0"}})"
        "\n");
    const auto human = runInProcess({"costs"}).out;
    EXPECT_NE(human.find("Estimated costs today: $0.02\n"), std::string::npos) << human;
    EXPECT_NE(human.find("Estimates only."), std::string::npos);
}

TEST_F(CliHome, HandoffIsRedacted)
{
    const auto result = runInProcess({"handoff", claudeId});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("/home/dev/src/api_server"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("feature/rate-limits"), std::string::npos);
    EXPECT_NE(result.out.find("[REDACTED]"), std::string::npos);
    EXPECT_EQ(result.out.find("sk-live"), std::string::npos) << "a secret left the transcript";
}

TEST_F(CliHome, UsageErrorsAndUnknownSessionsPrintOnlyToStandardError)
{
    const std::string usage = "\n\nUsage: loomwatch-cli COMMAND [OPTIONS]\n";
    for (const auto& [args, exitCode, message] : std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{}, 2, "loomwatch-cli: missing command" + usage},
             {{"frobnicate"}, 2, "loomwatch-cli: unknown command 'frobnicate'" + usage},
             {{"sessions", "--yaml"}, 2, "loomwatch-cli: unexpected argument '--yaml' for sessions" + usage},
             {{"costs", "--notify"}, 2, "loomwatch-cli: unexpected argument '--notify' for costs" + usage},
             {{"handoff"}, 2, "loomwatch-cli: handoff needs a SESSION-ID" + usage},
             {{"terminate", "a", "b"}, 2, "loomwatch-cli: unexpected argument 'b' for terminate" + usage},
             {{"handoff", "claude:nope"}, 2, "No session with the id claude:nope.\n"},
             {{"terminate", codexId, "--yes"}, 1, "No agent process belongs to " + std::string(codexId) + ".\n"}}) {
        const auto result = runInProcess(args);
        EXPECT_EQ(result.exitCode, exitCode) << message;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with(message)) << result.err;
    }
    const auto help = runInProcess({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("  terminate SESSION-ID [--yes]    send SIGTERM"), std::string::npos) << help.out;
    EXPECT_EQ(runInProcess({"--version"}).out, "loomwatch-cli 0.1.0\n");
}

TEST(CliTerminate, SignalsTheAgentWorkingInTheSessionsFolderAfterConfirmation)
{
    TempHome home;
    const fs::path project = home / "src/shop";
    fs::create_directories(project);
    std::string encoded = project.string();
    std::ranges::replace_if(
        encoded, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '-');
    const auto now = system_clock::now();
    home.write(".claude/projects/" + encoded + "/s1.jsonl", claudeTranscript("s1", project.string(), isoDay(now)), now);
    ChildProcess agent(home / "bin/claude", project);

    auto result = runInProcess({"sessions", "--json"});
    EXPECT_NE(result.out.find(R"("processID":)" + std::to_string(agent.pid()) + R"(,"state":"waitingForInput")"),
              std::string::npos)
        << "attributed by its working directory: " << result.out;

    result = runInProcess({"terminate", "claude:s1"}, "n\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Terminate shop?\nLoomwatch will send SIGTERM to process " + std::to_string(agent.pid()) +
                              ". Unsaved agent work may be lost.\nTerminate? [y/N] Not terminated.\n");
    EXPECT_EQ(agent.terminatedBy(milliseconds(100)), 0) << "declined, so still running";

    result = runInProcess({"terminate", "claude:s1"}, "y\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(agent.terminatedBy(), SIGTERM);
}
