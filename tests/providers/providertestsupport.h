#pragma once

#include "model/clock.h"
#include "model/processinspector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace loomwatch::providers::test {

namespace fs = std::filesystem;

// A fresh folder under /tmp that an unprivileged user can enter; removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = "/tmp/loomwatch-providers-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        ::chmod(pattern.c_str(), 0755);
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

inline void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file of a folder with its contents, to show that nothing was created, removed or changed.
inline std::map<std::string, std::string> snapshot(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir))
        files[entry.path().filename().string()] = entry.is_regular_file() ? readFile(entry.path()) : "<dir>";
    return files;
}

// A copy of /bin/sleep under a chosen file name, running in a chosen folder until killed.
class ChildProcess
{
public:
    ChildProcess(const fs::path& executable, const fs::path& workingDirectory) : m_executable(executable)
    {
        if (!fs::exists(executable)) {
            fs::create_directories(executable.parent_path());
            fs::copy_file("/bin/sleep", executable);
            fs::permissions(executable, fs::perms(0755));
        }
        const std::string exe = executable.string();
        const std::string cwd = workingDirectory.string();
        const std::string name = executable.filename().string();
        const char* argv[] = {name.c_str(), "300", nullptr};
        m_pid = ::fork();
        if (m_pid == 0) {
            if (::chdir(cwd.c_str()) != 0)
                ::_exit(126);
            ::execv(exe.c_str(), const_cast<char* const*>(argv));
            ::_exit(127);
        }
        // Until exec has happened the child still carries this test's name.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        const auto exeLink = "/proc/" + std::to_string(m_pid) + "/exe";
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            if (fs::read_symlink(exeLink, ec) == fs::canonical(executable))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    const fs::path& executable() const { return m_executable; }

    // Waits for the child to end and returns its wait status.
    int reap()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return status;
    }
    bool isRunning() const
    {
        if (m_reaped)
            return false;
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }

private:
    fs::path m_executable;
    pid_t m_pid = -1;
    bool m_reaped = false;
};

// Runs `body` in a forked child as the unprivileged user nobody and returns its exit code
// (or -1 when it did not exit normally).
template <typename Body>
int runAsNobody(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `body` in a forked child, as nobody when this test runs as root (whose rights would hide
// faults, and who gets files' ownership adjusted by SQLite), and returns its exit code.
template <typename Body>
int runInOtherProcess(Body body)
{
    if (::geteuid() == 0)
        return runAsNobody(body);
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FakeInspector final : public model::ProcessInspector
{
public:
    explicit FakeInspector(std::vector<model::AgentProcess> list = {}) : list(std::move(list)) {}
    std::vector<model::AgentProcess> processes(model::AgentTool tool) const override
    {
        asked.push_back(tool);
        return list;
    }

    std::vector<model::AgentProcess> list;
    mutable std::vector<model::AgentTool> asked;
};

// Returns the start time, then one millisecond later on every further call.
class SteppingClock final : public model::Clock
{
public:
    explicit SteppingClock(model::Timestamp start) : m_next(start) {}
    model::Timestamp now() const override
    {
        const auto t = m_next;
        m_next += std::chrono::milliseconds(1);
        return t;
    }

private:
    mutable model::Timestamp m_next;
};

} // namespace loomwatch::providers::test
