#include "providers/procfsprocesses.h"

#include "providers/providertestsupport.h"

#include <algorithm>
#include <tuple>

using namespace loomwatch;
using namespace loomwatch::providers;
using namespace loomwatch::providers::test;
using model::AgentTool;

namespace {

std::optional<model::AgentProcess> find(const std::vector<model::AgentProcess>& list, pid_t pid)
{
    const auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.pid == pid; });
    return it == list.end() ? std::nullopt : std::optional(*it);
}

// One entry of a fake /proc: a comm file and optional exe and cwd links.
void fakeProcess(const fs::path& root, int pid, const std::string& comm, const std::string& exe = {},
                 const std::string& cwd = {})
{
    const auto dir = root / std::to_string(pid);
    writeFile(dir / "comm", comm + "\n");
    if (!exe.empty())
        fs::create_symlink(exe, dir / "exe");
    if (!cwd.empty())
        fs::create_symlink(cwd, dir / "cwd");
}

} // namespace

TEST(NativeProcessInspector, ReportsRealAgentProcessesWithPathAndWorkingDirectory)
{
    TempDir tmp;
    const auto bin = fs::canonical(tmp.path()) / "bin";
    const auto projectA = tmp / "project-a";
    const auto projectB = tmp / "project-b";
    fs::create_directories(projectA);
    fs::create_directories(projectB);
    ChildProcess claude(bin / "claude", projectA);
    ChildProcess helper(bin / "Claude-helper", projectB);
    ChildProcess codex(bin / "codex", projectA);
    ChildProcess worker(bin / "cursor-agent-worker", projectB);
    ChildProcess disguised(tmp / "codex-tools" / "sleeper", projectA);

    const NativeProcessInspector inspector;
    const auto claudes = inspector.processes(AgentTool::claude);
    EXPECT_EQ(find(claudes, claude.pid()), (model::AgentProcess{claude.pid(), "claude", (bin / "claude").string(),
                                                                fs::canonical(projectA).string()}));
    EXPECT_EQ(find(claudes, helper.pid()),
              (model::AgentProcess{helper.pid(), "Claude-helper", (bin / "Claude-helper").string(),
                                   fs::canonical(projectB).string()}));
    EXPECT_FALSE(find(claudes, codex.pid()));
    EXPECT_TRUE(std::is_sorted(claudes.begin(), claudes.end(), [](auto& a, auto& b) { return a.pid < b.pid; }));

    const auto codexes = inspector.processes(AgentTool::codex);
    EXPECT_TRUE(find(codexes, codex.pid()));
    EXPECT_FALSE(find(codexes, disguised.pid())) << "only the name is matched, never the executable path";

    // comm holds only "cursor-agent-wo"; the executable's file name completes it.
    const auto cursors = inspector.processes(AgentTool::cursor);
    ASSERT_TRUE(find(cursors, worker.pid()));
    EXPECT_EQ(find(cursors, worker.pid())->name, "cursor-agent-worker");
    EXPECT_EQ(find(cursors, worker.pid())->executablePath, (bin / "cursor-agent-worker").string());

    EXPECT_EQ(inspector.processInfo(claude.pid(), AgentTool::codex), std::nullopt);
    EXPECT_EQ(inspector.processInfo(0, AgentTool::claude), std::nullopt);
}

TEST(NativeProcessInspector, OtherUsersProcessIsReportedWithoutPathOrDirectory)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to look at a process as another user";
    TempDir tmp;
    ChildProcess claude(tmp / "claude", tmp.path());
    const pid_t pid = claude.pid();
    const int code = runAsNobody([pid] {
        const auto process = NativeProcessInspector().processInfo(pid, AgentTool::claude);
        if (!process)
            return 1;
        return process->name == "claude" && !process->executablePath && !process->workingDirectory ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
}

TEST(NativeProcessInspector, ListsInAscendingPidOrderAndSkipsWhatIsNotAProcess)
{
    TempDir proc;
    fakeProcess(proc.path(), 100, "claude");
    fakeProcess(proc.path(), 9, "claude");
    fakeProcess(proc.path(), 10, "CLAUDE");
    fakeProcess(proc.path(), 0, "claude");
    fakeProcess(proc.path(), 11, "bash");
    fs::create_directories(proc / "12"); // exited between listing and reading
    fs::create_directories(proc / "self");
    fs::create_directories(proc / "-13");
    writeFile(proc / "1x" / "comm", "claude\n");

    std::vector<std::int32_t> pids;
    for (const auto& p : NativeProcessInspector(proc.path()).processes(AgentTool::claude))
        pids.push_back(p.pid);
    EXPECT_EQ(pids, (std::vector<std::int32_t>{9, 10, 100}));
    EXPECT_TRUE(NativeProcessInspector((proc / "missing").string()).processes(AgentTool::claude).empty());
}

TEST(NativeProcessInspector, ExaminesAtMost4096Processes)
{
    TempDir proc;
    // Plain files stand for processes that have gone (and are much cheaper to remove than folders).
    for (int pid = 1; pid < 4096; ++pid)
        std::ofstream(proc / std::to_string(pid));
    fakeProcess(proc.path(), 4096, "claude");
    fakeProcess(proc.path(), 4097, "claude");
    const auto list = NativeProcessInspector(proc.path()).processes(AgentTool::claude);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().pid, 4096);
}

TEST(NativeProcessInspector, TruncatedNamesAreCompletedOnlyFromAMatchingExecutable)
{
    TempDir proc;
    fakeProcess(proc.path(), 20, "cursor-agent-wo", "/opt/cursor/cursor-agent-worker");
    fakeProcess(proc.path(), 21, "cursor-agent-wo", "/opt/cursor/cursor-agent-worker (deleted)");
    fakeProcess(proc.path(), 22, "cursor-agent-wo", "/usr/bin/node");
    fakeProcess(proc.path(), 23, "cursor-agent-wo");                                   // exe unreadable
    fakeProcess(proc.path(), 24, "cursor-agent-w", "/opt/cursor/cursor-agent-worker"); // not truncated
    // The cut fell inside "é" (0xC3 0xA9): the comparison is on bytes, before decoding.
    fakeProcess(proc.path(), 25, "claude-xxxxxxx\xC3", "/opt/claude-xxxxxxx\xC3\xA9-tool");

    const NativeProcessInspector inspector(proc.path());
    EXPECT_EQ(inspector.processInfo(20, AgentTool::cursor)->name, "cursor-agent-worker");
    EXPECT_EQ(inspector.processInfo(21, AgentTool::cursor)->name, "cursor-agent-worker");
    EXPECT_EQ(inspector.processInfo(22, AgentTool::cursor)->name, "cursor-agent-wo");
    EXPECT_EQ(inspector.processInfo(23, AgentTool::cursor),
              (model::AgentProcess{23, "cursor-agent-wo", std::nullopt, std::nullopt}));
    EXPECT_EQ(inspector.processInfo(24, AgentTool::cursor)->name, "cursor-agent-w");
    EXPECT_EQ(inspector.processInfo(25, AgentTool::claude)->name, "claude-xxxxxxx\xC3\xA9-tool");
}

TEST(NativeProcessInspector, DecodesInvalidUtf8WithReplacementCharacters)
{
    TempDir proc;
    fakeProcess(proc.path(), 30, "claude\xFF\xFE", "/usr/bin/claude\xFF", "/home/dev/caf\xC3");
    const auto process = NativeProcessInspector(proc.path()).processInfo(30, AgentTool::claude);
    ASSERT_TRUE(process);
    EXPECT_EQ(process->name, "claude\uFFFD\uFFFD");
    EXPECT_EQ(process->executablePath, "/usr/bin/claude\uFFFD");
    EXPECT_EQ(process->workingDirectory, "/home/dev/caf\uFFFD");
}

TEST(NativeProcessInspector, NameFragmentsMatchInAnyLetterCase)
{
    for (const auto& [tool, name, matches] :
         std::vector<std::tuple<AgentTool, const char*, bool>>{{AgentTool::claude, "CLAUDE", true},
                                                               {AgentTool::claude, "my-claude-helper", true},
                                                               {AgentTool::claude, "clau de", false},
                                                               {AgentTool::claude, "", false},
                                                               {AgentTool::codex, "codex app-server", true},
                                                               {AgentTool::codex, "claude", false},
                                                               {AgentTool::openCode, "OpenCode", true},
                                                               {AgentTool::openCode, "open-code", false},
                                                               {AgentTool::cursor, "Cursor Helper", true},
                                                               {AgentTool::cursor, "node", false}})
        EXPECT_EQ(NativeProcessInspector::nameMatches(tool, name), matches) << name;
}
