#include "providers/processcontrol.h"
#include "providers/procfsprocesses.h"

#include "providers/providertestsupport.h"

#include <cerrno>

// Runs terminate() and returns the error it threw, if any.
static std::optional<ProcessControlError> attempt(std::int32_t pid, AgentTool tool)
{
    try {
        terminate(pid, tool);
    } catch (const ProcessControlError& error) {
        return error;
    }
    return std::nullopt;
}

TEST(ProcessControl, SendsSigtermOnlyToALiveProcessOfTheTool)
{
    TempDir tmp;
    ChildProcess sleeper(tmp / "sleep", tmp.path());
    ChildProcess codex(tmp / "codex", tmp.path());
    ChildProcess claude(tmp / "claude", tmp.path());
    EXPECT_EQ(attempt(claude.pid(), AgentTool::claude), std::nullopt);
    ASSERT_EQ(claude.terminatedBy(), SIGTERM);

    // Pids that must never be signalled, other programs' processes, and a reaped pid (it names
    // nothing, or after reuse another program).
    for (const std::int32_t pid :
         {0, 1, -5, static_cast<std::int32_t>(::getpid()), sleeper.pid(), codex.pid(), claude.pid()}) {
        const auto error = attempt(pid, AgentTool::claude);
        ASSERT_TRUE(error) << pid;
        EXPECT_EQ(error->kind(), ProcessControlErrorKind::invalidPID) << pid;
        EXPECT_EQ(error->what(), "Could not terminate process " + std::to_string(pid) + ".");
    }
    // A quiet period: a signal sent by mistake would have ended them within it.
    EXPECT_EQ(sleeper.terminatedBy(50ms), 0);
    EXPECT_EQ(codex.terminatedBy(0ms), 0);
}

// A process of root as the user nobody sees it: listed without its path or folder, and not to be signalled.
TEST(ProcessControl, AnotherUsersProcessIsListedBareAndTheSignalsErrnoIsReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to own a process that another user may not signal";
    TempDir tmp;
    ChildProcess claude(tmp / "claude", tmp.path());
    const pid_t pid = claude.pid();
    const int code = runInOtherProcess([pid] {
        const auto process = NativeProcessInspector().processInfo(pid, AgentTool::claude);
        if (!process || process->name != "claude" || process->executablePath || process->workingDirectory)
            return 1;
        const auto error = attempt(pid, AgentTool::claude);
        return error && error->kind() == ProcessControlErrorKind::failed && error->errorNumber() == EPERM ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(claude.terminatedBy(0ms), 0);
}
