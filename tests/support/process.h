#pragma once

#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

namespace loomwatch::testing {

// A copy of /bin/sleep under a chosen file name (an agent as far as the process table can tell),
// running in a chosen folder until it is signalled or the object goes.
class ChildProcess
{
public:
    ChildProcess(const std::filesystem::path& executable, const std::filesystem::path& workingDirectory)
    {
        if (!std::filesystem::exists(executable)) {
            std::filesystem::create_directories(executable.parent_path());
            std::filesystem::copy_file("/bin/sleep", executable);
        }
        // posix_spawn returns once the exec has happened, so the process table shows the new name.
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
        std::string name = executable.filename().string(), seconds = "300";
        char* const argv[] = {name.data(), seconds.data(), nullptr};
        if (::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv, environ) != 0)
            throw std::runtime_error("posix_spawn failed: " + executable.string());
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess()
    {
        if (!m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }

    // The signal that ended the process within `wait`, 0 while it still runs, -1 after a normal exit.
    int terminatedBy(std::chrono::milliseconds wait = std::chrono::seconds(1))
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
            if (std::chrono::steady_clock::now() > deadline)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_reaped = true;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
};

// Runs `body` in a forked child and returns its exit code (-1 when it did not exit normally). The child
// is the unprivileged user nobody when this test runs as root (whose rights would hide faults, and who
// gets files' ownership adjusted by SQLite), else this user.
template <typename Body>
int runInOtherProcess(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace loomwatch::testing
