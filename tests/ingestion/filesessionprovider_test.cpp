#include "ingestion/filesessionprovider.h"

#include "ingestion/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using loomwatch::ingestion::FileSessionProvider;
using loomwatch::ingestion::testing::setModificationTime;
using loomwatch::ingestion::testing::TempDir;
using loomwatch::ingestion::testing::writeFile;
using loomwatch::model::AgentProcess;
using loomwatch::model::AgentTool;
using loomwatch::model::Clock;
using loomwatch::model::ProcessInspector;
using loomwatch::model::ProviderEvent;
using loomwatch::model::SessionState;
using loomwatch::model::SupportLevel;
using loomwatch::model::Timestamp;
using namespace std::chrono_literals;

namespace {

class FixedClock : public Clock
{
public:
    explicit FixedClock(Timestamp now) : m_now(now) {}
    Timestamp now() const override { return m_now; }

private:
    Timestamp m_now;
};

class FakeInspector : public ProcessInspector
{
public:
    explicit FakeInspector(std::vector<AgentProcess> processes = {}) : m_processes(std::move(processes)) {}
    std::vector<AgentProcess> processes(AgentTool) const override
    {
        ++calls;
        return m_processes;
    }
    mutable int calls = 0;

private:
    std::vector<AgentProcess> m_processes;
};

// Reads what the process table says about the given pids, the way the real inspector does.
class ProcInspector : public ProcessInspector
{
public:
    explicit ProcInspector(std::vector<pid_t> pids) : m_pids(std::move(pids)) {}
    std::vector<AgentProcess> processes(AgentTool) const override
    {
        std::vector<AgentProcess> result;
        for (const pid_t pid : m_pids) {
            const std::string base = "/proc/" + std::to_string(pid);
            std::string name;
            std::getline(std::ifstream(base + "/comm"), name);
            std::error_code error;
            const auto cwd = std::filesystem::read_symlink(base + "/cwd", error);
            result.push_back({pid, name, std::nullopt, error ? std::nullopt : std::optional(cwd.string())});
        }
        return result;
    }

private:
    std::vector<pid_t> m_pids;
};

const Timestamp now = Timestamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 6).time_since_epoch());

std::string line(std::string_view sessionId, std::string_view cwd, std::string_view role)
{
    return "{\"sessionId\":\"" + std::string(sessionId) + "\",\"cwd\":\"" + std::string(cwd) +
           "\",\"message\":{\"role\":\"" + std::string(role) + "\"}}\n";
}

void writeTranscript(const std::filesystem::path& path, std::string_view content, Timestamp modified)
{
    writeFile(path, content);
    setModificationTime(path, modified);
}

std::vector<std::string> fileNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const auto& path : paths)
        names.push_back(std::filesystem::path(path).filename().string());
    return names;
}

} // namespace

TEST(FileSessionProviderTest, ProbeAndMissingRoot)
{
    TempDir dir;
    auto inspector = std::make_shared<FakeInspector>(std::vector<AgentProcess>{{1, "claude", {}, {}}});
    FileSessionProvider present(AgentTool::codex, dir.path().string(), inspector);
    EXPECT_EQ(present.probe(), (loomwatch::model::ProviderProbeResult{AgentTool::codex, true, SupportLevel::full,
                                                                      dir.path().string(), std::nullopt}));

    const auto missingRoot = dir / "nope";
    FileSessionProvider missing(AgentTool::claude, missingRoot, inspector);
    EXPECT_EQ(missing.probe(), (loomwatch::model::ProviderProbeResult{
                                   AgentTool::claude, false, SupportLevel::unavailable, missingRoot, std::nullopt}));
    EXPECT_TRUE(missing.sessions().empty());
    EXPECT_EQ(inspector->calls, 0);

    // A root that appears later is listed at the next call.
    writeTranscript(std::filesystem::path(missingRoot) / "late.jsonl", line("late", "/x", "user"), now);
    EXPECT_EQ(missing.sessions().size(), 1u);
    EXPECT_EQ(inspector->calls, 1);
}

TEST(FileSessionProviderTest, CandidatesAreTheNewestTranscriptsAnywhereBelowTheRoot)
{
    TempDir dir;
    for (int i = 0; i < 51; ++i)
        writeTranscript(dir.path() / ("p" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".jsonl"), "",
                        now - std::chrono::minutes(i));
    FileSessionProvider provider(AgentTool::claude, dir.path().string(), std::make_shared<FakeInspector>());
    const auto files = fileNames(provider.candidateFiles());
    ASSERT_EQ(files.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(files[static_cast<std::size_t>(i)], "f" + std::to_string(i) + ".jsonl");
    EXPECT_EQ(provider.sessions().size(), 50u);
}

TEST(FileSessionProviderTest, OnlyRegularFilesWithTheExactExtension)
{
    TempDir dir;
    const auto root = dir.path() / "projects";
    writeTranscript(root / "-home-dev-a/s1.jsonl", "", now - 1min);
    writeTranscript(root / ".hidden/deep/er/s2.jsonl", "", now - 2min);
    writeTranscript(root / "-home-dev-a/s1/subagents/agent-1.jsonl", "", now - 3min);
    writeTranscript(root / "upper.JSONL", "", now);
    writeTranscript(root / "other.json", "", now);
    writeTranscript(root / ".jsonl", "", now);
    writeTranscript(root / "jsonl", "", now);
    std::filesystem::create_directories(root / "folder.jsonl");
    writeTranscript(dir.path() / "outside/linked-target.jsonl", "", now - 4min);
    std::filesystem::create_symlink(dir.path() / "outside/linked-target.jsonl", root / "link.jsonl");
    std::filesystem::create_symlink(dir.path() / "missing.jsonl", root / "dangling.jsonl");
    // Linked folders are not entered (a loop among them must not hang the walk).
    std::filesystem::create_directory_symlink(dir.path() / "outside", root / "outside-link");
    std::filesystem::create_directory_symlink(root, root / "-home-dev-a/loop");
    ASSERT_EQ(mkfifo((root / "fifo.jsonl").c_str(), 0644), 0);

    FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>());
    EXPECT_EQ(fileNames(provider.candidateFiles()),
              (std::vector<std::string>{"s1.jsonl", "s2.jsonl", "agent-1.jsonl", "link.jsonl"}));
    EXPECT_EQ(provider.sessions().size(), 4u);
}

TEST(FileSessionProviderTest, UnreadableFilesAndFoldersAreLeftOut)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run the listing as an unprivileged user";
    TempDir dir;
    const auto root = dir.path() / "projects";
    writeTranscript(root / "a.jsonl", line("a", "/a", "user"), now);
    writeTranscript(root / "b.jsonl", line("b", "/b", "user"), now - 1min);
    writeTranscript(root / "secret.jsonl", line("c", "/c", "user"), now - 2min);
    writeTranscript(root / "closed/d.jsonl", line("d", "/d", "user"), now - 3min);
    std::filesystem::permissions(root / "secret.jsonl", std::filesystem::perms::owner_read);
    std::filesystem::permissions(root / "closed", std::filesystem::perms::owner_all);

    const std::string command = "/usr/bin/setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                                std::string(LOOMWATCH_PROVIDER_HELPER) + " " + root.string();
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(output, "claude:a ended\nclaude:b ended\n");
}

TEST(FileSessionProviderTest, ProcessesByWorkingDirectoryThenByPosition)
{
    TempDir dir;
    const auto root = dir.path() / "projects";
    writeTranscript(root / "newest.jsonl", line("newest", "/work/none", "assistant"), now - 10min);
    writeTranscript(root / "match.jsonl", line("match", "/work/api", "user"), now - 20min);
    writeTranscript(root / "third.jsonl", line("third", "/work/third", "assistant"), now - 30min);
    writeTranscript(root / "stale.jsonl", line("stale", "/work/stale", "assistant"), now - 24h);
    writeTranscript(root / "nopath.jsonl", "{\"sessionId\":\"nopath\",\"message\":{\"role\":\"assistant\"}}\n",
                    now - 25h);

    const std::vector<AgentProcess> processes{{10, "claude", {}, "/work/API"},
                                              {11, "claude", {}, std::nullopt},
                                              {12, "claude", {}, "/work/api"},
                                              {13, "claude", {}, "/work/api"},
                                              {14, "claude", {}, "/work/x"}};
    FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>(processes),
                                 std::make_shared<FixedClock>(now));
    const auto sessions = provider.sessions();
    ASSERT_EQ(sessions.size(), 5u);
    EXPECT_EQ(sessions[0].id, "claude:newest");
    EXPECT_EQ(sessions[0].processID, 10); // by position 0
    EXPECT_EQ(sessions[0].state, SessionState::waitingForInput);
    EXPECT_EQ(sessions[1].id, "claude:match");
    EXPECT_EQ(sessions[1].processID, 12);             // the first with exactly this directory
    EXPECT_EQ(sessions[1].state, SessionState::idle); // working, but older than five minutes
    EXPECT_EQ(sessions[2].processID, 12);             // position 2; a process may serve several sessions
    EXPECT_EQ(sessions[3].id, "claude:stale");
    EXPECT_EQ(sessions[3].processID, std::nullopt); // exactly a day old is not recent
    EXPECT_EQ(sessions[3].state, SessionState::ended);
    EXPECT_EQ(sessions[4].processID, std::nullopt);

    // More sessions than processes: the ones past the list's end get none.
    FileSessionProvider few(AgentTool::claude, root.string(),
                            std::make_shared<FakeInspector>(std::vector<AgentProcess>{{20, "claude", {}, {}}}),
                            std::make_shared<FixedClock>(now));
    const auto withFew = few.sessions();
    EXPECT_EQ(withFew[0].processID, 20);
    EXPECT_EQ(withFew[1].processID, std::nullopt);
}

TEST(FileSessionProviderTest, RealProcessIsAttributedByItsWorkingDirectory)
{
    TempDir dir;
    const auto project = dir.path() / "src/api";
    std::filesystem::create_directories(project);
    const auto agent = dir.path() / "bin/claude";
    std::filesystem::create_directories(agent.parent_path());
    std::filesystem::copy_file("/bin/sleep", agent);
    std::filesystem::permissions(agent, std::filesystem::perms::owner_all);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(project.c_str()) == 0)
            execl(agent.c_str(), "claude", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the child runs the copied program in its folder.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
        if (name == "claude")
            break;
        std::this_thread::sleep_for(10ms);
    }

    const auto root = dir.path() / "projects";
    writeTranscript(root / "other.jsonl", line("other", "/elsewhere", "assistant"), now - 30h);
    writeTranscript(root / "mine.jsonl", line("mine", project.string(), "assistant"), now - 40h);
    FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<ProcInspector>(std::vector{child}),
                                 std::make_shared<FixedClock>(now));
    const auto sessions = provider.sessions();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].id, "claude:other");
    EXPECT_EQ(sessions[0].processID, std::nullopt);
    EXPECT_EQ(sessions[1].id, "claude:mine");
    EXPECT_EQ(sessions[1].processID, child);
    EXPECT_EQ(sessions[1].state, SessionState::waitingForInput);
    EXPECT_EQ(sessions[1].projectName, "api");
}

TEST(FileSessionProviderTest, ChangesBelowTheRootAreAnnouncedUntilTheProviderIsGone)
{
    TempDir dir;
    auto provider =
        std::make_unique<FileSessionProvider>(AgentTool::codex, dir.path().string(), std::make_shared<FakeInspector>());
    auto events = provider->events();
    writeFile(dir.path() / "2026/12/06/rollout-x.jsonl", "{}\n");

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::optional<ProviderEvent> event;
    while (!event && std::chrono::steady_clock::now() < deadline) {
        event = events.tryReceive();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, ProviderEvent::changed(AgentTool::codex));

    EXPECT_FALSE(events.isFinished());
    provider.reset();
    while (events.tryReceive()) {
    }
    EXPECT_TRUE(events.isFinished());
    EXPECT_EQ(events.receive(), std::nullopt);
}
