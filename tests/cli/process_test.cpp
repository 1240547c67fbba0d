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
    // OpenCode is running: its connection keeps the database in WAL mode with -wal and -shm beside it.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "PRAGMA journal_mode=WAL; INSERT INTO session (id, title, directory, time_created,"
                           " time_updated) VALUES ('ses_02', 'Second', '/home/dev/src/webapp', 1763600100000,"
                           " 1763600200000);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(fs::exists(database.string() + "-wal") && fs::exists(database.string() + "-shm"));
    const auto before = agentFiles(home);

    const std::string claude = claudeId;
    for (const auto& [command, exitCode] : std::map<std::string, int>{{"sessions", 0},
                                                                      {"sessions --json", 0},
                                                                      {"costs", 0},
                                                                      {"costs --json", 0},
                                                                      {"diagnostics", 0},
                                                                      {"diagnostics --json", 0},
                                                                      {"handoff " + claude, 0},
                                                                      {"handoff openCode:ses_01", 0},
                                                                      {"terminate " + claude + " --yes", 1},
                                                                      {"terminate openCode:nope", 2},
                                                                      {"bogus", 2}}) {
        std::istringstream words(command);
        const auto result = runCli({std::istream_iterator<std::string>(words), {}}, home.environment());
        EXPECT_EQ(result.exitCode, exitCode) << command << ": " << result.err;
    }
    // Without a session bus (the home's environment) notifications fail quietly; SIGINT ends `watch`.
    const auto watch =
        runCommand({"sh", "-c",
                    "\"$0\" watch --json --notify >\"$1\" & timeout 20 sh -c 'until grep -q ses_02 \"$0\";"
                    " do sleep 0.05; done' \"$1\"; kill -INT $!; wait $!; status=$?; cat \"$1\"; exit $status",
                    cliPath(), (home / "watch.out").string()},
                   home.environment());
    EXPECT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_NE(watch.out.find("openCode:ses_02"), std::string::npos) << "the live writer's committed row is seen";

    EXPECT_TRUE(agentFiles(home) == before) << "a file below an agent's folder was created, changed or removed";
    sqlite3_close(writer);
}

TEST_F(CliHome, OutputToAClosedPipeEndsQuietly)
{
    // `true` has closed the pipe long before the refresh is done.
    const auto result =
        runCommand({"sh", "-c", "{ \"$0\" sessions; echo \"exit $?\" >&2; } | true", cliPath()}, home.environment());
    EXPECT_EQ(result.err, "exit 0\n");
}
