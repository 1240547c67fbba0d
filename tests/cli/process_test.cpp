// loomwatch-cli as a process of its own: its exit codes, a signal ending `watch`, and the files it
// leaves alone.
#include "clitestsupport.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace loomwatch::testing;
using namespace std::chrono;

namespace {

// Every file below the agents' folders with its bytes.
std::map<std::string, std::string> agentFiles(const TempHome& home)
{
    std::map<std::string, std::string> files;
    for (const char* folder : {".claude", ".codex", ".local/share/opencode", ".config/Cursor"})
        for (auto& [path, bytes] : snapshot(home / folder))
            files[std::string(folder) + "/" + path] = std::move(bytes);
    return files;
}

} // namespace

TEST_F(CliHome, NoCommandEverTouchesAnAgentsFolder)
{
    const auto before = agentFiles(home);
    // Each line: a command line, then its exit code.
    std::istringstream commands("sessions 0\nsessions --json 0\ncosts 0\ncosts --json 0\ndiagnostics 0\n"
                                "diagnostics --json 0\nhandoff @C 0\nhandoff openCode:ses_01 0\n"
                                "terminate @C --yes 1\nterminate openCode:nope 2\nbogus 2\n");
    for (std::string line; std::getline(commands, line);) {
        std::istringstream words(substituted(line, {{"@C", claudeId}}));
        std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        const int exitCode = std::stoi(args.back());
        args.pop_back();
        EXPECT_EQ(runCli(args, home.environment()).exitCode, exitCode) << line;
    }
    // Without a session bus (the home's environment) notifications fail quietly; SIGINT ends `watch`.
    const auto watch =
        runCommand({"sh", "-c",
                    "\"$0\" watch --json --notify >\"$1\" & timeout 20 sh -c 'until grep -q ses_01 \"$0\";"
                    " do sleep 0.05; done' \"$1\"; kill -INT $!; wait $!; status=$?; cat \"$1\"; exit $status",
                    cliPath(), (home / "watch.out").string()},
                   home.environment());
    EXPECT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_NE(watch.out.find("openCode:ses_01"), std::string::npos) << watch.out;
    EXPECT_TRUE(agentFiles(home) == before) << "a file below an agent's folder was created, changed or removed";
}

TEST_F(CliHome, OutputToAClosedPipeEndsQuietly)
{
    // `true` has closed the pipe long before the refresh is done.
    const auto result =
        runCommand({"sh", "-c", "{ \"$0\" sessions; echo \"exit $?\" >&2; } | true", cliPath()}, home.environment());
    EXPECT_EQ(result.err, "exit 0\n");
}
