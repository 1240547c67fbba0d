#include "ingestion/filesessionprovider.h"

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

using loomwatch::ingestion::FileSessionProvider;
using namespace loomwatch::model;
using namespace loomwatch::testing;
using namespace std::chrono_literals;

namespace {

const Timestamp now = localTime(2026, 12, 6, 1);

std::string line(std::string_view sessionId, std::string_view cwd, std::string_view role)
{
    return "{\"sessionId\":\"" + std::string(sessionId) + "\",\"cwd\":\"" + std::string(cwd) +
           "\",\"message\":{\"role\":\"" + std::string(role) + "\"}}\n";
}

void writeTranscript(const fs::path& path, std::string_view content, Timestamp modified)
{
    writeFile(path, content);
    setModificationTime(path, modified);
}

std::vector<std::string> fileNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const auto& path : paths)
        names.push_back(fs::path(path).filename().string());
    return names;
}

// What the process table says about the given pids, read the way the real inspector reads it.
class ProcInspector : public ProcessInspector
{
public:
    explicit ProcInspector(pid_t pid) : m_pid(pid) {}
    std::vector<AgentProcess> processes(AgentTool) const override
    {
        const std::string base = "/proc/" + std::to_string(m_pid);
        std::error_code error;
        const auto cwd = fs::read_symlink(base + "/cwd", error);
        return {{m_pid, "claude", std::nullopt, error ? std::nullopt : std::optional(cwd.string())}};
    }

private:
    pid_t m_pid;
};

} // namespace

TEST(FileSessionProviderTest, ProbeAndMissingRoot)
{
    TempDir dir;
    auto inspector = std::make_shared<FakeInspector>(std::vector<AgentProcess>{{1, "claude", {}, {}}});
    FileSessionProvider present(AgentTool::codex, dir.path().string(), inspector);
    EXPECT_EQ(present.probe(),
              (ProviderProbeResult{AgentTool::codex, true, SupportLevel::full, dir.path().string(), std::nullopt}));

    const std::string missingRoot = dir / "nope";
    FileSessionProvider missing(AgentTool::claude, missingRoot, inspector);
    EXPECT_EQ(missing.probe(),
              (ProviderProbeResult{AgentTool::claude, false, SupportLevel::unavailable, missingRoot, std::nullopt}));
    EXPECT_TRUE(missing.sessions().empty());
    EXPECT_TRUE(inspector->asked.empty());

    // A root that appears later is listed at the next call.
    writeTranscript(dir / "nope/late.jsonl", line("late", "/x", "user"), now);
    EXPECT_EQ(missing.sessions().size(), 1u);
    EXPECT_EQ(inspector->asked.size(), 1u);
}

TEST(FileSessionProviderTest, CandidatesAreTheNewestRegularJsonlFilesAnywhereBelowTheRoot)
{
    TempDir dir;
    const auto root = dir / "projects";
    for (int i = 0; i < 51; ++i)
        writeTranscript(root / ("p" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".jsonl"), "",
                        now - std::chrono::minutes(i + 1));
    writeTranscript(root / ".hidden/deep/er/s2.jsonl", "", now - 30s);
    writeTranscript(root / "p0/s1/subagents/agent-1.jsonl", "", now - 150s);
    for (const char* ignored : {"upper.JSONL", "other.json", ".jsonl", "jsonl"})
        writeTranscript(root / ignored, "", now);
    fs::create_directories(root / "folder.jsonl");
    writeTranscript(dir / "outside/linked-target.jsonl", "", now - 45s);
    fs::create_symlink(dir / "outside/linked-target.jsonl", root / "link.jsonl");
    fs::create_symlink(dir / "missing.jsonl", root / "dangling.jsonl");
    // Linked folders are not entered (a loop among them must not hang the walk).
    fs::create_directory_symlink(dir / "outside", root / "outside-link");
    fs::create_directory_symlink(root, root / "p1/loop");
    ASSERT_EQ(::mkfifo((root / "fifo.jsonl").c_str(), 0644), 0);

    FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>());
    const auto files = fileNames(provider.candidateFiles());
    ASSERT_EQ(files.size(), 50u);
    const std::vector<std::string> first{"s2.jsonl", "link.jsonl", "f0.jsonl", "f1.jsonl", "agent-1.jsonl", "f2.jsonl"};
    EXPECT_EQ(std::vector(files.begin(), files.begin() + 6), first);
    EXPECT_EQ(files.back(), "f46.jsonl");
    EXPECT_EQ(provider.sessions().size(), 50u);
}

TEST(FileSessionProviderTest, UnreadableFilesAndFoldersAreLeftOut)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run the listing as an unprivileged user";
    TempDir dir;
    const auto root = dir / "projects";
    for (const char* name : {"a", "b", "secret", "closed/d"})
        writeTranscript(root / (std::string(name) + ".jsonl"), line(fs::path(name).filename().string(), "/a", "user"),
                        now - std::chrono::minutes(name[0]));
    fs::permissions(root / "secret.jsonl", fs::perms::owner_read);
    fs::permissions(root / "closed", fs::perms::owner_all);

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
    const auto root = dir / "projects";
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
    const auto clock = std::make_shared<FakeClock>(now);
    const auto sessions =
        FileSessionProvider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>(processes), clock)
            .sessions();
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
    const auto withFew =
        FileSessionProvider(AgentTool::claude, root.string(),
                            std::make_shared<FakeInspector>(std::vector(processes.begin(), processes.begin() + 1)),
                            clock)
            .sessions();
    EXPECT_EQ(withFew[0].processID, 10);
    EXPECT_EQ(withFew[1].processID, std::nullopt);
}

TEST(FileSessionProviderTest, RealProcessIsAttributedByItsWorkingDirectory)
{
    TempDir dir;
    const auto project = dir / "src/api";
    fs::create_directories(project);
    ChildProcess agent(dir / "bin/claude", project);
    const auto root = dir / "projects";
    writeTranscript(root / "other.jsonl", line("other", "/elsewhere", "assistant"), now - 30h);
    writeTranscript(root / "mine.jsonl", line("mine", project.string(), "assistant"), now - 40h);
    const auto sessions =
        FileSessionProvider(AgentTool::claude, root.string(), std::make_shared<ProcInspector>(agent.pid()),
                            std::make_shared<FakeClock>(now))
            .sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].id, "claude:other");
    EXPECT_EQ(sessions[0].processID, std::nullopt);
    EXPECT_EQ(sessions[1].id, "claude:mine");
    EXPECT_EQ(sessions[1].processID, agent.pid());
    EXPECT_EQ(sessions[1].state, SessionState::waitingForInput);
    EXPECT_EQ(sessions[1].projectName, "api");
}

TEST(FileSessionProviderTest, ChangesBelowTheRootAreAnnouncedUntilTheProviderIsGone)
{
    TempDir dir;
    auto provider =
        std::make_unique<FileSessionProvider>(AgentTool::codex, dir.path().string(), std::make_shared<FakeInspector>());
    auto events = provider->events();
    writeFile(dir / "2026/12/06/rollout-x.jsonl", "{}\n");
    std::optional<ProviderEvent> event;
    for (const auto deadline = std::chrono::steady_clock::now() + 5s;
         !event && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms))
        event = events.tryReceive();
    EXPECT_EQ(event, ProviderEvent::changed(AgentTool::codex));

    EXPECT_FALSE(events.isFinished());
    provider.reset();
    while (events.tryReceive()) {
    }
    EXPECT_TRUE(events.isFinished());
}
