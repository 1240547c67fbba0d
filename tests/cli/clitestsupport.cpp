#include "clitestsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace loomwatch::testing {

namespace fs = std::filesystem;

TempHome::TempHome()
{
    std::string pattern = (fs::temp_directory_path() / "loomwatch-home-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempHome::~TempHome()
{
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

fs::path TempHome::write(const std::string& relative, const std::string& content,
                         std::chrono::system_clock::time_point mtime)
{
    const fs::path file = m_path / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(mtime.time_since_epoch()).count();
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns % 1'000'000'000);
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    return file;
}

std::map<std::string, std::string> TempHome::environment() const
{
    return {{"HOME", m_path.string()},
            {"XDG_DATA_HOME", (m_path / ".local/share").string()},
            {"XDG_CONFIG_HOME", (m_path / ".config").string()},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/loomwatch-test-bus"},
            {"LANG", "en_US.UTF-8"},
            {"TZ", "Europe/Berlin"}};
}

std::string cliPath()
{
    return LOOMWATCH_CLI_PATH;
}

CommandResult runCli(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment,
                     const std::string& input, std::chrono::seconds timeout)
{
    std::vector<std::string> argv{cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, environment, input, timeout);
}

CommandResult runCommand(const std::vector<std::string>& command, const std::map<std::string, std::string>& environment,
                         const std::string& input, std::chrono::seconds timeout)
{
    std::map<std::string, std::string> env;
    for (const char* name : {"PATH", "TZ", "LANG", "LC_ALL", "XDG_RUNTIME_DIR"}) {
        if (const char* value = std::getenv(name))
            env[name] = value;
    }
    for (const auto& [k, v] : environment)
        env[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings = command;
    std::vector<char*> argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0)
        throw std::runtime_error("posix_spawn failed");
    if (!input.empty()) {
        [[maybe_unused]] auto n = ::write(inPipe[1], input.data(), input.size());
    }
    ::close(inPipe[1]);

    CommandResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0)
            ::close(fd.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace loomwatch::testing
