#include "ingestion/filesessionprovider.h"

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/fakeprovider.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using loomwatch::ingestion::FileSessionProvider;
using namespace loomwatch::model;
using namespace loomwatch::testing;
using namespace std::chrono_literals;

namespace {

const Timestamp now = localTime(2026, 12, 6, 1);

void writeTranscript(const fs::path& path, std::string_view sessionId, std::string_view cwd, std::string_view role,
                     Timestamp modified)
{
    writeFile(path, "{\"sessionId\":\"" + std::string(sessionId) + "\",\"cwd\":\"" + std::string(cwd) +
                        "\",\"message\":{\"role\":\"" + std::string(role) + "\"}}\n");
    setModificationTime(path, modified);
}

std::vector<std::string> ids(const std::vector<AgentSession>& sessions)
{
    std::vector<std::string> result;
    for (const auto& session : sessions)
        result.push_back(session.id);
    return result;
}

} // namespace

TEST(FileSessionProviderTest, ARootThatAppearsLater)
{
    TempDir dir;
    auto inspector = std::make_shared<FakeInspector>(std::vector<AgentProcess>{{1, "claude", {}, {}}});
    const std::string missingRoot = dir / "nope";
    FileSessionProvider missing(AgentTool::claude, missingRoot, inspector);
    EXPECT_EQ(missing.probe(),
              (ProviderProbeResult{AgentTool::claude, false, SupportLevel::unavailable, missingRoot, std::nullopt}));
    EXPECT_TRUE(missing.sessions().empty());
    EXPECT_TRUE(inspector->asked.empty());
    writeTranscript(dir / "nope/late.jsonl", "late", "/x", "user", now);
    EXPECT_EQ(ids(missing.sessions()), std::vector<std::string>{"claude:late"});
}

TEST(FileSessionProviderTest, CandidatesAreTheNewestRegularJsonlFilesAnywhereBelowTheRoot)
{
    TempDir dir;
    const auto root = dir / "projects";
    const auto touch = [](const fs::path& path, Timestamp modified) {
        writeFile(path, "");
        setModificationTime(path, modified);
    };
    for (int i = 0; i < 51; ++i)
        touch(root / ("p" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".jsonl"), now - (i + 1) * 1min);
    touch(root / ".hidden/deep/er/s2.jsonl", now - 30s);
    touch(root / "p0/s1/subagents/agent-1.jsonl", now - 150s);
    for (const char* ignored : {"upper.JSONL", "other.json", ".jsonl", "jsonl"})
        touch(root / ignored, now);
    fs::create_directories(root / "folder.jsonl");
    // Newer than every transcript, and none of them is one: links (to a file, to nothing) and FIFOs take no place.
    touch(dir / "outside/linked-target.jsonl", now);
    for (int i = 0; i < 25; ++i) {
        fs::create_symlink(dir / (i % 2 ? "outside/linked-target.jsonl" : "missing.jsonl"),
                           root / ("link" + std::to_string(i) + ".jsonl"));
        ASSERT_EQ(::mkfifo((root / ("fifo" + std::to_string(i) + ".jsonl")).c_str(), 0644), 0);
    }
    // Linked folders are not entered (a loop among them must not hang the walk).
    fs::create_directory_symlink(dir / "outside", root / "outside-link");
    fs::create_directory_symlink(root, root / "p1/loop");

    FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>());
    std::vector<std::string> files;
    for (const auto& path : provider.candidateFiles())
        files.push_back(fs::path(path).filename().string());
    ASSERT_EQ(files.size(), 50u);
    const std::vector<std::string> first{"s2.jsonl", "f0.jsonl", "f1.jsonl", "agent-1.jsonl", "f2.jsonl"};
    EXPECT_EQ(std::vector(files.begin(), files.begin() + 5), first);
    EXPECT_EQ(files.back(), "f47.jsonl");
    EXPECT_EQ(provider.sessions().size(), 50u);
}

TEST(FileSessionProviderTest, UnreadableFilesAndFoldersAreLeftOut)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to list as the unprivileged user nobody";
    TempDir dir;
    const auto root = dir / "projects";
    for (const char* name : {"a", "b", "secret", "closed/d"})
        writeTranscript(root / (std::string(name) + ".jsonl"), fs::path(name).filename().string(), "/a", "user",
                        now - std::chrono::minutes(name[0]));
    fs::permissions(root / "secret.jsonl", fs::perms::owner_read);
    fs::permissions(root / "closed", fs::perms::owner_all);

    // Permission faults are invisible to root.
    EXPECT_EQ(runInOtherProcess([&] {
                  FileSessionProvider provider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>());
                  return ids(provider.sessions()) == std::vector<std::string>{"claude:a", "claude:b"} ? 0 : 1;
              }),
              0);
}

TEST(FileSessionProviderTest, ProcessesByWorkingDirectoryThenByPosition)
{
    TempDir dir;
    const auto root = dir / "projects";
    writeTranscript(root / "newest.jsonl", "newest", "/work/none", "assistant", now - 10min);
    writeTranscript(root / "match.jsonl", "match", "/work/api", "user", now - 20min);
    writeTranscript(root / "third.jsonl", "third", "/work/third", "assistant", now - 30min);
    writeTranscript(root / "stale.jsonl", "stale", "/work/stale", "assistant", now - 24h);
    writeFile(root / "nopath.jsonl", "{\"sessionId\":\"nopath\",\"message\":{\"role\":\"assistant\"}}\n");
    setModificationTime(root / "nopath.jsonl", now - 25h);

    const std::vector<AgentProcess> processes{{10, "claude", {}, "/work/API"},
                                              {11, "claude", {}, std::nullopt},
                                              {12, "claude", {}, "/work/api"},
                                              {13, "claude", {}, "/work/api"},
                                              {14, "claude", {}, "/work/x"}};
    const auto sessionsWith = [&](std::vector<AgentProcess> list) {
        return FileSessionProvider(AgentTool::claude, root.string(), std::make_shared<FakeInspector>(std::move(list)),
                                   std::make_shared<FakeClock>(now))
            .sessions();
    };
    // "id process state" of each session listed.
    const auto attributed = [&](std::vector<AgentProcess> list) {
        std::vector<std::string> result;
        for (const auto& s : sessionsWith(std::move(list)))
            result.push_back(s.id + " " + (s.processID ? std::to_string(*s.processID) : "-") + " " +
                             std::string(rawValue(s.state)));
        return result;
    };
    // The newest takes the process at its position (0) as none works in its folder; the next the first process with
    // exactly its folder (working, but older than five minutes: idle); the third the one at position 2, whichever
    // other session it serves. A day old is not recent: no process.
    EXPECT_EQ(
        attributed(processes),
        (std::vector<std::string>{"claude:newest 10 waitingForInput", "claude:match 12 idle",
                                  "claude:third 12 waitingForInput", "claude:stale - ended", "claude:nopath - ended"}));
    // More sessions than processes: the ones past the list's end get none.
    EXPECT_EQ(attributed({processes[0]})[1], "claude:match - ended");
}

TEST(FileSessionProviderTest, ChangesBelowTheRootAreAnnouncedUntilTheProviderIsGone)
{
    TempDir dir;
    auto provider =
        std::make_unique<FileSessionProvider>(AgentTool::codex, dir.path().string(), std::make_shared<FakeInspector>());
    auto events = provider->events();
    writeFile(dir / "2026/12/06/rollout-x.jsonl", "{}\n");
    EXPECT_EQ(nextEvent(events, 5s), ProviderEvent::changed(AgentTool::codex));

    EXPECT_FALSE(events.isFinished());
    provider.reset();
    while (events.tryReceive()) {
    }
    EXPECT_TRUE(events.isFinished());
}

TEST(FileSessionProviderTest, AClaudeSessionCountsItsSubagentsWhicheverTranscriptIsShown)
{
    TempDir dir;
    const std::string id = "5f1d7c2a-3b9e-4e61-9c1a-7d2e8f0a4b61";
    const auto project = dir / "projects/-home-dev-src-api-server";
    writeFile(project / (id + ".jsonl"), testData("usage/claude-session.jsonl"));
    // A subagent's lines carry its parent's session id; this one also repeats one of its parent's messages.
    const std::string subagent = testData("usage/claude-subagent.jsonl");
    writeFile(project / id / "subagents/agent-a1.jsonl", subagent);
    // Older builds put subagents beside the sessions: such a file counts alone.
    writeFile(project / "agent-flat.jsonl", subagent.substr(0, subagent.find('\n') + 1));

    // Modified after every line's time, so that the latest modified is the one the list keeps.
    const Timestamp later = now + 48h;
    setModificationTime(project / "agent-flat.jsonl", later - 1h);
    for (const auto& [newest, other] :
         {std::pair{project / id / "subagents/agent-a1.jsonl", project / (id + ".jsonl")},
          std::pair{project / (id + ".jsonl"), project / id / "subagents/agent-a1.jsonl"}}) {
        setModificationTime(newest, later + 1min);
        setModificationTime(other, later);
        FileSessionProvider provider(AgentTool::claude, (dir / "projects").string(), std::make_shared<FakeInspector>());
        const auto sessions = provider.sessions();
        EXPECT_EQ(provider.sessions(), sessions) << "unchanged, from what the ledger kept";
        ASSERT_EQ(sessions.size(), 3u);
        EXPECT_EQ(sessions[0].sourcePath, newest.string());
        for (const auto& session : {sessions[0], sessions[1]}) {
            EXPECT_EQ(session.id, "claude:" + id);
            EXPECT_EQ(session.tokens, (TokenUsage{127, 454, 45036, 1248}));
            EXPECT_EQ(session.modelTokens,
                      (std::vector<ModelTokens>{{"claude-opus-4-5-20251101", {114, 24, 6, 8}},
                                                {"claude-sonnet-4-5-20250929", {13, 430, 45030, 1240}}}));
        }
        EXPECT_EQ(sessions[2].tokens, (TokenUsage{3, 410, 45000, 1200}));
    }
}
