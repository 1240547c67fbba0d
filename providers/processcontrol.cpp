#include "providers/processcontrol.h"

#include "providers/procfsprocesses.h"

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace loomwatch::providers {

namespace {

// Holds a pidfd, which keeps naming the process it was opened for even after the pid is reused.
class PidFd
{
public:
    explicit PidFd(std::int32_t pid) : m_fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)))
    {
        if (m_fd < 0)
            m_error = errno;
    }
    ~PidFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PidFd(const PidFd&) = delete;
    PidFd& operator=(const PidFd&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    int sendSignal(int signal) const
    {
        return static_cast<int>(::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0));
    }

private:
    int m_fd;
    int m_error = 0;
};

} // namespace

ProcessControlError::ProcessControlError(ProcessControlErrorKind kind, std::int32_t pid, int errorNumber)
    : std::runtime_error(terminationFailureMessage(pid)), m_kind(kind), m_pid(pid), m_errorNumber(errorNumber)
{}

std::string terminationFailureMessage(std::int32_t pid)
{
    return "Could not terminate process " + std::to_string(pid) + ".";
}

void terminate(std::int32_t pid, model::AgentTool tool)
{
    // 0 and negative values address process groups; 1 is init.
    if (pid < 2 || pid == ::getpid())
        throw ProcessControlError(ProcessControlErrorKind::invalidPID, pid);

    // Pin the process first, then check its name: if the pid is recycled after this point the signal
    // goes nowhere instead of to the newcomer.
    const PidFd pidFd(pid);
    if (!pidFd.isOpen() && pidFd.error() == ESRCH)
        throw ProcessControlError(ProcessControlErrorKind::invalidPID, pid);
    if (!NativeProcessInspector().processInfo(pid, tool))
        throw ProcessControlError(ProcessControlErrorKind::invalidPID, pid);

    const int result = pidFd.isOpen() ? pidFd.sendSignal(SIGTERM) : ::kill(pid, SIGTERM);
    if (result != 0) {
        const int error = errno;
        throw ProcessControlError(ProcessControlErrorKind::failed, pid, error);
    }
}

} // namespace loomwatch::providers
