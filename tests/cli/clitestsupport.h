#pragma once

#include "support/tempdir.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

inline std::string cliPath()
{
    return LOOMWATCH_CLI_PATH;
}

// Runs a program (argv[0] is a path) with the given environment added to a minimal base, feeding
// `input` on standard input; kills it after `timeout`. The exit code is 128 + signal when signalled.
inline CommandResult runCommand(const std::vector<std::string>& command,
                                const std::map<std::string, std::string>& environment, const std::string& input = {},
                                std::chrono::seconds timeout = std::chrono::seconds(30))
{
    std::map<std::string, std::string> env;
    for (const char* name : {"PATH", "TZ", "LANG", "LC_ALL", "XDG_RUNTIME_DIR"}) {
        if (const char* value = std::getenv(name))
            env[name] = value;
    }
    for (const auto& [k, v] : environment)
        env[k] = v;
    std::vector<std::string> envStrings, argStrings = command;
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    const auto cStrings = [](std::vector<std::string>& strings) {
        std::vector<char*> pointers;
        for (auto& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers;
    };
    std::vector<char*> envp = cStrings(envStrings), argv = cStrings(argStrings);

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

inline CommandResult runCli(std::vector<std::string> args, const std::map<std::string, std::string>& environment,
                            const std::string& input = {}, std::chrono::seconds timeout = std::chrono::seconds(30))
{
    args.insert(args.begin(), cliPath());
    return runCommand(args, environment, input, timeout);
}

} // namespace loomwatch::testing
