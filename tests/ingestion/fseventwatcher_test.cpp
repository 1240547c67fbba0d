#include "ingestion/fseventwatcher.h"

#include "ingestion/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using loomwatch::ingestion::FSEventWatcher;
using loomwatch::ingestion::testing::appendFile;
using loomwatch::ingestion::testing::CallCounter;
using loomwatch::ingestion::testing::TempDir;
using loomwatch::ingestion::testing::writeFile;

namespace {

constexpr auto shortDebounce = 200ms;
constexpr auto generous = 5s;

struct WatchedDir
{
    TempDir dir;
    CallCounter calls;

    std::unique_ptr<FSEventWatcher> watch(std::chrono::milliseconds debounce = shortDebounce)
    {
        auto watcher = std::make_unique<FSEventWatcher>(
            dir.path().string(), [this] { calls.hit(); }, debounce);
        watcher->start();
        return watcher;
    }
};

} // namespace

TEST(FSEventWatcherTest, BurstOfChangesGivesOneCallbackAfterTheQuietPeriod)
{
    WatchedDir w;
    auto watcher = w.watch(FSEventWatcher::defaultDebounce);
    ASSERT_TRUE(watcher->isWatching());

    for (int i = 0; i < 10; ++i) {
        appendFile(w.dir.path() / "session.jsonl", "{}\n");
        std::this_thread::sleep_for(30ms);
    }
    const auto lastChange = std::chrono::steady_clock::now();
    ASSERT_TRUE(w.calls.waitFor(1, generous));
    EXPECT_GE(std::chrono::steady_clock::now() - lastChange, 600ms);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(w.calls.count(), 1);
}

TEST(FSEventWatcherTest, CallbackWaitsForAPauseWhileChangesKeepComing)
{
    WatchedDir w;
    auto watcher = w.watch(500ms);

    const auto until = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < until) {
        appendFile(w.dir.path() / "busy.jsonl", "{\"type\":\"user\"}\n");
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(w.calls.count(), 0);
    ASSERT_TRUE(w.calls.waitFor(1, generous));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(w.calls.count(), 1);
}

TEST(FSEventWatcherTest, ChangesAnywhereBelowThePathCount)
{
    WatchedDir w;
    std::filesystem::create_directories(w.dir.path() / "a/b/c/d");
    writeFile(w.dir.path() / "a/b/c/d/deep.jsonl", "");
    auto watcher = w.watch();

    appendFile(w.dir.path() / "a/b/c/d/deep.jsonl", "{}\n");
    ASSERT_TRUE(w.calls.waitFor(1, generous));

    // A directory created after the start is a change itself, and files inside it are watched from then on.
    std::filesystem::create_directory(w.dir.path() / "later");
    ASSERT_TRUE(w.calls.waitFor(2, generous));
    writeFile(w.dir.path() / "later/new.jsonl", "{}\n");
    ASSERT_TRUE(w.calls.waitFor(3, generous));

    // A whole tree made at once (faster than the watcher can add watches) is covered down to its leaves.
    std::filesystem::create_directories(w.dir.path() / "x/y/z");
    ASSERT_TRUE(w.calls.waitFor(4, generous));
    writeFile(w.dir.path() / "x/y/z/leaf.jsonl", "{}\n");
    ASSERT_TRUE(w.calls.waitFor(5, generous));

    // A tree moved in from outside is watched too.
    TempDir outside;
    std::filesystem::create_directories(outside.path() / "moved/inner");
    std::filesystem::rename(outside.path() / "moved", w.dir.path() / "moved");
    ASSERT_TRUE(w.calls.waitFor(6, generous));
    writeFile(w.dir.path() / "moved/inner/file.jsonl", "{}\n");
    EXPECT_TRUE(w.calls.waitFor(7, generous));
}

TEST(FSEventWatcherTest, ReadingFilesIsNotAChange)
{
    WatchedDir w;
    writeFile(w.dir.path() / "sub/t.jsonl", "{\"a\":1}\n");
    auto watcher = w.watch();
    for (int i = 0; i < 5; ++i) {
        std::ifstream in(w.dir.path() / "sub/t.jsonl");
        std::string line;
        std::getline(in, line);
        for ([[maybe_unused]] const auto& entry : std::filesystem::recursive_directory_iterator(w.dir.path())) {
        }
    }
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(w.calls.count(), 0);
}

TEST(FSEventWatcherTest, MissingPathStaysIdleForGood)
{
    TempDir dir;
    CallCounter calls;
    const auto path = dir.path() / "not-yet";
    FSEventWatcher watcher(
        path.string(), [&] { calls.hit(); }, shortDebounce);
    watcher.start();
    EXPECT_FALSE(watcher.isWatching());

    std::filesystem::create_directory(path);
    watcher.start();
    writeFile(path / "x.jsonl", "{}\n");
    std::this_thread::sleep_for(800ms);
    EXPECT_FALSE(watcher.isWatching());
    EXPECT_EQ(calls.count(), 0);
}

TEST(FSEventWatcherTest, StartingTwiceKeepsOneStream)
{
    WatchedDir w;
    auto watcher = w.watch();
    watcher->start();
    EXPECT_TRUE(watcher->isWatching());
    writeFile(w.dir.path() / "one.jsonl", "{}\n");
    ASSERT_TRUE(w.calls.waitFor(1, generous));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(w.calls.count(), 1);
}

TEST(FSEventWatcherTest, WatchedFileAndNothingReplayedFromBeforeStart)
{
    TempDir dir;
    CallCounter calls;
    const auto file = dir.path() / "opencode.db";
    writeFile(file, "x");
    FSEventWatcher watcher(
        file.string(), [&] { calls.hit(); }, shortDebounce);
    watcher.start();
    ASSERT_TRUE(watcher.isWatching());
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(calls.count(), 0);
    appendFile(file, "y");
    EXPECT_TRUE(calls.waitFor(1, generous));
}

TEST(FSEventWatcherTest, SymlinkLoopsAreNotFollowed)
{
    WatchedDir w;
    std::filesystem::create_directories(w.dir.path() / "a/b");
    std::filesystem::create_directory_symlink(w.dir.path() / "a", w.dir.path() / "a/b/loop");
    std::filesystem::create_directory_symlink(w.dir.path(), w.dir.path() / "self");
    auto watcher = w.watch();
    ASSERT_TRUE(watcher->isWatching());
    writeFile(w.dir.path() / "a/b/t.jsonl", "{}\n");
    EXPECT_TRUE(w.calls.waitFor(1, generous));
}

TEST(FSEventWatcherTest, DestructionWithPendingCallbackIsPromptAndRunsItOnce)
{
    WatchedDir w;
    auto watcher = w.watch(10s);
    writeFile(w.dir.path() / "pending.jsonl", "{}\n");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(w.calls.count(), 0);

    const auto before = std::chrono::steady_clock::now();
    watcher.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(w.calls.count(), 1);
}
