#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace loomwatch::testing {

struct CommandResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A throwaway home folder laid out like a real user's, removed on destruction.
class TempHome
{
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes a file below the home (parents created) and sets its modification time.
    std::filesystem::path write(const std::string& relative, const std::string& content,
                                std::chrono::system_clock::time_point mtime);
    // HOME, XDG_DATA_HOME, XDG_CONFIG_HOME pointing inside this home, no session bus.
    std::map<std::string, std::string> environment() const;

private:
    std::filesystem::path m_path;
};

// Runs loomwatch-cli with the given arguments and environment (added to a minimal base), feeding
// `input` on standard input; gives up after `timeout`.
CommandResult runCli(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment,
                     const std::string& input = {}, std::chrono::seconds timeout = std::chrono::seconds(30));

// Runs any program (argv[0] is a path) the same way.
CommandResult runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         const std::string& input = {}, std::chrono::seconds timeout = std::chrono::seconds(30));

std::string cliPath();

} // namespace loomwatch::testing
