// The commands over homes laid out the way the agents lay theirs out: in this process, and as a
// program of its own.
#include "clitestsupport.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <ctime>
#include <iterator>

using namespace loomwatch;
using namespace loomwatch::testing;
using namespace std::chrono;

// A file's lines joined: the expected output, one JSON element per line for people to read.
static std::string golden(const std::string& name, const TempHome& home)
{
    std::string text = substituted(testData("cli/" + name), {{"@HOME@", home.path().string()}});
    std::erase(text, '\n');
    return text + '\n';
}

// Every file of the home but Loomwatch's own and the test's, with its bytes.
static std::map<std::string, std::string> agentFiles(const TempHome& home)
{
    auto files = snapshot(home.path());
    std::erase_if(files, [](const auto& file) {
        return file.first.find("Loomwatch") != std::string::npos || file.first == ".cache" || file.first == "watch.out";
    });
    return files;
}

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
    EXPECT_EQ(result.out, testData("cli/handoff.md"));
    EXPECT_EQ(runInProcess({"handoff", "codex:5e1d7c3a"}).exitCode, 0) << "with the tool prefix";
}

// Each case of the file: "$ ARGUMENTS", "exit N", then how standard error starts.
TEST_F(CliHome, UsageErrorsAndUnknownSessionsPrintOnlyToStandardError)
{
    std::istringstream cases(testData("cli/usage-errors.txt"));
    std::string line;
    for (std::getline(cases, line); line.starts_with("$");) {
        std::istringstream words(line.substr(1));
        const auto result = runInProcess({std::istream_iterator<std::string>(words), {}});
        std::getline(cases, line);
        EXPECT_EQ("exit " + std::to_string(result.exitCode), line) << result.err;
        std::string message;
        while (std::getline(cases, line) && !line.starts_with("$"))
            message += line + "\n";
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with(message)) << result.err << "\ninstead of\n" << message;
    }
}

TEST(CliHelp, EveryCommandHasUsageOptionsAndAnExample)
{
    const auto overview = runInProcess({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_EQ(runInProcess({"help"}).out, overview.out);
    for (const auto& command : cli::commandTable().commands()) {
        const auto help = runInProcess({"help", command.name});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.starts_with("Usage: loomwatch-cli " + command.name)) << help.out;
        EXPECT_EQ(help.out.find("Example:\n  loomwatch-cli " + command.name) == std::string::npos, command.hidden)
            << help.out;
        EXPECT_EQ(overview.out.find("\n  " + command.name + " ") == std::string::npos, command.hidden);
        EXPECT_EQ(runInProcess({command.name, "--help"}).out, help.out);
    }

    for (const char* file : {"loomwatch-cli.bash", "_loomwatch-cli", "loomwatch-cli.fish"}) {
        const auto script = testData("../../cli/completions/" + std::string(file));
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
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    char day[16];
    std::strftime(day, sizeof day, "%F", std::localtime(&seconds));
    home.write(".claude/projects/-src-shop/s1.jsonl", claudeTranscript("s1", project.string(), day), now);
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

// As a process of its own: the exit codes, a signal ending `watch`, and the files it leaves alone.
TEST_F(CliHome, NoCommandEverTouchesAnAgentsFolder)
{
    const auto before = agentFiles(home);
    // Each line: a command line, then its exit code.
    std::istringstream commands("sessions 0\nsessions --json 0\ncosts 0\ncosts --json 0\ndiagnostics 0\n"
                                "diagnostics --json 0\nhandoff @C 0\nhandoff openCode:ses_01 0\n"
                                "terminate @C --yes 1\nterminate openCode:nope 2\nbogus 2\n");
    for (std::string line; std::getline(commands, line);) {
        std::istringstream words(substituted(line, {{"@C", claudeId}}));
        std::vector<std::string> args{cliPath};
        args.insert(args.end(), std::istream_iterator<std::string>(words), {});
        const int exitCode = std::stoi(args.back());
        args.pop_back();
        EXPECT_EQ(runCommand(args, home.environment()).exitCode, exitCode) << line;
    }
    // Without a session bus (the home's environment) notifications fail quietly; SIGINT ends `watch`.
    const auto watch =
        runCommand({"sh", "-c",
                    "\"$0\" watch --json --notify >\"$1\" & timeout 20 sh -c 'until grep -q ses_01 \"$0\";"
                    " do sleep 0.05; done' \"$1\"; kill -INT $!; wait $!; status=$?; cat \"$1\"; exit $status",
                    cliPath, (home / "watch.out").string()},
                   home.environment());
    EXPECT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_NE(watch.out.find("openCode:ses_01"), std::string::npos) << watch.out;
    EXPECT_TRUE(agentFiles(home) == before) << "a file below an agent's folder was created, changed or removed";
}

TEST_F(CliHome, OutputToAClosedPipeEndsQuietly)
{
    // `true` has closed the pipe long before the refresh is done.
    const auto result =
        runCommand({"sh", "-c", "{ \"$0\" sessions; echo \"exit $?\" >&2; } | true", cliPath}, home.environment());
    EXPECT_EQ(result.err, "exit 0\n");
}
