// The commands run in this process over homes laid out the way the agents lay theirs out.
#include "clitestsupport.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace loomwatch;
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
    EXPECT_NE(runInProcess({"sessions"}).out.find("\n7d1c2f4e  Claude Code  Ended"), std::string::npos);
    result = runInProcess({"status"});
    EXPECT_EQ(result.exitCode, 0) << "nothing waits";
    EXPECT_EQ(result.out, "0 waiting \u00B7 0 working \u00B7 $0.00 today\n");
}

TEST_F(CliHome, HandoffByAnyUniqueStartOfAnId)
{
    const auto result = runInProcess({"handoff", "7d1c"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("/home/dev/src/api_server"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("feature/rate-limits"), std::string::npos);
    EXPECT_NE(result.out.find("[REDACTED]"), std::string::npos);
    EXPECT_EQ(result.out.find("sk-live"), std::string::npos) << "a secret left the transcript";
    EXPECT_EQ(runInProcess({"handoff", "codex:5e1d7c3a"}).exitCode, 0) << "with the tool prefix";
}

TEST_F(CliHome, UsageErrorsAndUnknownSessionsPrintOnlyToStandardError)
{
    const auto overview = [](const std::string& message) {
        return "loomwatch-cli: " + message + "\n\nUsage: loomwatch-cli COMMAND [OPTIONS]\n";
    };
    const auto misuse = [](const std::string& message, const std::string& command) {
        return "loomwatch-cli: " + message + "\nRun 'loomwatch-cli help " + command + "' for its usage.\n";
    };
    for (const auto& [args, exitCode, message] : std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{}, 2, overview("missing command")},
             {{"frobnicate"}, 2, overview("unknown command 'frobnicate'")},
             {{"help", "frobnicate"}, 2, overview("unknown command 'frobnicate'")},
             {{"sessions", "--yaml"}, 2, misuse("unexpected argument '--yaml' for sessions", "sessions")},
             {{"sessions", "--tool", "claud"},
              2,
              misuse("unknown value 'claud' for --tool; valid values: claude, codex, openCode, cursor", "sessions")},
             {{"sessions", "--project"}, 2, misuse("--project needs a TEXT", "sessions")},
             {{"handoff"}, 2, misuse("handoff needs a SESSION-ID", "handoff")},
             {{"terminate", "a", "b"}, 2, misuse("unexpected argument 'b' for terminate", "terminate")},
             {{"handoff", "claude:nope"}, 2, "No session matches 'claude:nope'.\n"},
             {{"handoff", "c"},
              2,
              "'c' matches 2 sessions:\n  " + std::string(claudeId) + "  Claude Code  api_server\n  " + codexId +
                  "  Codex  billing\n"},
             {{"terminate", codexId, "--yes"}, 1, "No agent process belongs to " + std::string(codexId) + ".\n"}}) {
        const auto result = runInProcess(args);
        EXPECT_EQ(result.exitCode, exitCode) << message;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with(message)) << result.err;
    }
}

TEST(CliHelp, EveryCommandHasUsageOptionsAndAnExample)
{
    const auto overview = runInProcess({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_EQ(runInProcess({"help"}).out, overview.out);
    EXPECT_NE(overview.out.find("  terminate SESSION-ID [--yes]    send SIGTERM"), std::string::npos) << overview.out;
    for (const auto& command : cli::commandTable().commands()) {
        const auto help = runInProcess({"help", command.name});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.starts_with("Usage: loomwatch-cli " + command.name)) << help.out;
        EXPECT_EQ(help.out.find("Example:\n  loomwatch-cli " + command.name) == std::string::npos, command.hidden)
            << help.out;
        EXPECT_EQ(overview.out.find("\n  " + command.name + " ") == std::string::npos, command.hidden);
        EXPECT_EQ(runInProcess({command.name, "--help"}).out, help.out);
    }
    EXPECT_NE(runInProcess({"help", "sessions"})
                  .out.find("  --tool TOOL     only the sessions of this tool (repeatable): "
                            "claude, codex, openCode, cursor\n"),
              std::string::npos);
    EXPECT_EQ(runInProcess({"--version"}).out, "loomwatch-cli 0.1.0\n");

    for (const char* file : {"loomwatch-cli.bash", "_loomwatch-cli", "loomwatch-cli.fish"}) {
        const auto script = readFile(fs::path(std::getenv("LOOMWATCH_TEST_DATA")) / "../../cli/completions" / file);
        ASSERT_FALSE(script.empty()) << file;
        for (const auto& command : cli::commandTable().commands()) {
            std::vector<std::string> words{command.name};
            for (const auto& option : command.options) {
                words.push_back(option.name.substr(2));
                words.insert(words.end(), option.choices.begin(), option.choices.end());
            }
            for (const auto& word : words)
                EXPECT_NE(script.find(word), std::string::npos) << file << " does not complete " << word;
        }
    }
}

// A session of today waits for its agent (a process working in its folder); an older one has ended.
TEST(CliToday, CostsStatusAndTerminatingTheAgentThatWaits)
{
    TempHome home;
    const fs::path project = home / "src/shop";
    fs::create_directories(project);
    std::string encoded = project.string();
    std::ranges::replace_if(
        encoded, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '-');
    const auto now = system_clock::now();
    home.write(".claude/projects/" + encoded + "/s1.jsonl", claudeTranscript("s1", project.string(), isoDay(now)), now);
    home.write(".claude/projects/-srv-old/b.jsonl", claudeTranscript("b", "/srv/old", "2026-01-02"), now - days(40));
    ChildProcess agent(home / "bin/claude", project);

    EXPECT_EQ(
        runInProcess({"costs", "--json"}).out,
        R"({"today":"0.040959","currency":"USD","tools":{"claude":"0.040959","codex":"0","openCode":"0","cursor":"0"}})"
        "\n");
    EXPECT_NE(runInProcess({"costs"}).out.find("Estimated costs today: $0.04\n"), std::string::npos);
    auto result = runInProcess({"status"});
    EXPECT_EQ(result.exitCode, 3) << "a session waits for input";
    EXPECT_EQ(result.out, "1 waiting \u00B7 0 working \u00B7 $0.04 today\n");
    EXPECT_EQ(runInProcess({"status", "--json"}).out,
              R"({"waiting":1,"working":0,"active":1,"today":"0.040959","currency":"USD"})"
              "\n");
    result = runInProcess({"sessions", "--json", "--active"});
    EXPECT_NE(result.out.find(R"("processID":)" + std::to_string(agent.pid()) + R"(,"state":"waitingForInput")"),
              std::string::npos)
        << "attributed by its working directory: " << result.out;
    EXPECT_EQ(result.out.find("claude:b"), std::string::npos) << "ended, so filtered out";

    result = runInProcess({"terminate", "s1"}, "n\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Terminate shop?\nLoomwatch will send SIGTERM to process " + std::to_string(agent.pid()) +
                              ". Unsaved agent work may be lost.\nTerminate? [y/N] Not terminated.\n");
    EXPECT_EQ(agent.terminatedBy(milliseconds(100)), 0) << "declined, so still running";

    result = runInProcess({"terminate", "claude:s1"}, "y\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(agent.terminatedBy(), SIGTERM);
}
