#include "providers/procfsprocesses.h"

#include "providers/providertestsupport.h"

#include <tuple>

// One entry of a fake /proc: a comm file and optional exe and cwd links.
static void fakeProcess(const fs::path& root, int pid, const std::string& comm, const std::string& exe = {},
                        const std::string& cwd = {})
{
    const auto dir = root / std::to_string(pid);
    writeFile(dir / "comm", comm + "\n");
    if (!exe.empty())
        fs::create_symlink(exe, dir / "exe");
    if (!cwd.empty())
        fs::create_symlink(cwd, dir / "cwd");
}

TEST(NativeProcessInspector, ListsInAscendingPidOrderAndSkipsWhatIsNotAProcess)
{
    TempDir proc;
    for (const int pid : {100, 9, 0})
        fakeProcess(proc.path(), pid, "claude");
    fakeProcess(proc.path(), 10, "CLAUDE");
    fakeProcess(proc.path(), 11, "bash");
    fakeProcess(proc.path(), 14, "sleeper", "/opt/claude/claude"); // only the name counts, never the path
    for (const char* folder : {"12", "self", "-13"})               // 12 exited between listing and reading
        fs::create_directories(proc / folder);
    writeFile(proc / "1x" / "comm", "claude\n");

    std::vector<std::int32_t> pids;
    for (const auto& p : NativeProcessInspector(proc.path()).processes(AgentTool::claude))
        pids.push_back(p.pid);
    EXPECT_EQ(pids, (std::vector<std::int32_t>{9, 10, 100}));
    EXPECT_TRUE(NativeProcessInspector((proc / "missing").string()).processes(AgentTool::claude).empty());
}

TEST(NativeProcessInspector, CompletesTruncatedNamesOnlyFromAMatchingExecutableAndDecodesInvalidUtf8)
{
    TempDir proc;
    // comm (cut at 15 bytes by the kernel), the exe link, and the name to expect.
    const std::tuple<int, const char*, const char*, const char*> cases[] = {
        {20, "cursor-agent-wo", "/opt/cursor/cursor-agent-worker", "cursor-agent-worker"},
        {21, "cursor-agent-wo", "/opt/cursor/cursor-agent-worker (deleted)", "cursor-agent-worker"},
        {22, "cursor-agent-wo", "/usr/bin/node", "cursor-agent-wo"},
        {23, "cursor-agent-wo", "", "cursor-agent-wo"},                              // exe unreadable
        {24, "cursor-agent-w", "/opt/cursor/cursor-agent-worker", "cursor-agent-w"}, // not truncated
        // The cut fell inside "é" (0xC3 0xA9): the comparison is on bytes, before decoding.
        {25, "cursor-agent-w\xC3", "/opt/cursor-agent-w\xC3\xA9", "cursor-agent-w\xC3\xA9"}};
    for (const auto& [pid, comm, exe, name] : cases) {
        fakeProcess(proc.path(), pid, comm, exe);
        EXPECT_EQ(NativeProcessInspector(proc.path()).processInfo(pid, AgentTool::cursor)->name, name) << pid;
    }
    fakeProcess(proc.path(), 26, "claude\xFF\xFE", "/usr/bin/claude\xFF", "/home/dev/caf\xC3");
    EXPECT_EQ(NativeProcessInspector(proc.path()).processInfo(26, AgentTool::claude),
              (model::AgentProcess{26, "claude\uFFFD\uFFFD", "/usr/bin/claude\uFFFD", "/home/dev/caf\uFFFD"}));
}

TEST(NativeProcessInspector, NameFragmentsMatchInAnyLetterCase)
{
    const std::tuple<AgentTool, const char*, bool> cases[] = {
        {AgentTool::claude, "CLAUDE", true},          {AgentTool::claude, "my-claude-helper", true},
        {AgentTool::claude, "clau de", false},        {AgentTool::claude, "", false},
        {AgentTool::codex, "codex app-server", true}, {AgentTool::codex, "claude", false},
        {AgentTool::openCode, "OpenCode", true},      {AgentTool::openCode, "open-code", false},
        {AgentTool::cursor, "Cursor Helper", true},   {AgentTool::cursor, "node", false}};
    for (const auto& [tool, name, matches] : cases)
        EXPECT_EQ(NativeProcessInspector::nameMatches(tool, name), matches) << name;
}
