#pragma once

#include "cli/commands.h"
#include "ingestion/sqlitehandle.h"
#include "support/qtapp.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <sstream>
#include <vector>

namespace loomwatch::testing {

struct CommandResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// One command line through the command table in this process, over the home that HOME names.
inline CommandResult runInProcess(const std::vector<std::string>& args, const std::string& input = {})
{
    coreApplication();
    std::istringstream in(input);
    std::ostringstream out, err;
    const int exitCode = cli::run(args, {in, out, err});
    return {exitCode, out.str(), err.str()};
}

// `text` with every key replaced by its value.
inline std::string substituted(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values)
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    return text;
}

inline const std::string cliPath = LOOMWATCH_CLI_PATH;

// Runs a program with only PATH and `environment`, standard input empty, and waits for its exit
// (at most a minute). The exit code is 128 + signal when signalled.
inline CommandResult runCommand(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& environment)
{
    const auto quoted = [](const std::string& text) {
        return "'" + substituted(text, {{"'", "'\\''"}}) + "'";
    };
    const TempDir output;
    std::string line = "timeout -s KILL 60 env -i PATH=" + quoted(std::getenv("PATH"));
    for (const auto& [key, value] : environment)
        line += " " + key + "=" + quoted(value);
    for (const auto& arg : argv)
        line += " " + quoted(arg);
    line += " </dev/null >" + (output / "out").string() + " 2>" + (output / "err").string();
    const int status = std::system(line.c_str());
    return {WEXITSTATUS(status), readFile(output / "out"), readFile(output / "err")};
}

// The Claude Code fixture for one session; its lines carry `day` (YYYY-MM-DD) at 05:5x UTC.
inline std::string claudeTranscript(const std::string& sessionId, const std::string& cwd, const std::string& day)
{
    return substituted(testData("cli/claude-session.jsonl"),
                       {{"@SESSION@", sessionId}, {"@CWD@", cwd}, {"@DAY@", day}});
}

inline constexpr const char* claudeId = "claude:7d1c2f4e-8a3b-4c5d-9e6f-0a1b2c3d4e5f";
inline constexpr const char* codexId = "codex:5e1d7c3a-2b4f-4a60-9d2e-7f3c1b0a9e88";

// One session of each transcript tool and an OpenCode database (schema as OpenCode writes it).
class CliHome : public ::testing::Test
{
protected:
    void SetUp() override
    {
        using namespace std::chrono;
        home.write(".claude/projects/-home-dev-src-api-server/" + std::string(claudeId + 7) + ".jsonl",
                   claudeTranscript(claudeId + 7, "/home/dev/src/api_server", "2026-11-21"),
                   sys_days(2026y / November / 21) + 5h + 52min + 30s);
        home.write(".claude/projects/-home-dev-src-api-server/notes.json", "{}", sys_days(2026y / November / 22) + 1h);
        home.write(".codex/sessions/2026/11/20/rollout-2026-11-20T09-15-02-" + std::string(codexId + 6) + ".jsonl",
                   testData("cli/codex-rollout.jsonl"), sys_days(2026y / November / 20) + 9h + 16min + 30s);
        home.write(".config/Cursor/User/globalStorage/anysphere.cursor-agent-worker/state.json", R"({"workers":[]})",
                   sys_days(2026y / November / 19) + 8h);
        fs::create_directories(database.parent_path());
        ingestion::SqliteConnection db;
        ASSERT_EQ(db.open(database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
        ASSERT_EQ(db.exec(testData("cli/opencode.sql").c_str()), SQLITE_OK) << db.errorMessage();
    }

    TempHome home;
    fs::path database = home / ".local/share/opencode/opencode.db";
};

} // namespace loomwatch::testing
