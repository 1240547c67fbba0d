#include "ingestion/fseventwatcher.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using loomwatch::ingestion::FSEventWatcher;
using namespace loomwatch::testing;

namespace {

// A watched folder that counts callback runs and lets the test wait for a count.
struct Watched
{
    TempDir dir;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::chrono::steady_clock::time_point> times;

    std::unique_ptr<FSEventWatcher> watch(const fs::path& path, std::chrono::milliseconds debounce = 100ms)
    {
        auto watcher = std::make_unique<FSEventWatcher>(
            path.string(),
            [this] {
                std::lock_guard lock(mutex);
                times.push_back(std::chrono::steady_clock::now());
                changed.notify_all();
            },
            debounce);
        watcher->start();
        return watcher;
    }
    bool waitFor(int expected, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return int(times.size()) >= expected; });
    }
    // Proving that nothing (more) happens takes a quiet period of a few debounce intervals.
    int countAfter(std::chrono::milliseconds quiet = 0ms)
    {
        std::this_thread::sleep_for(quiet);
        std::lock_guard lock(mutex);
        return int(times.size());
    }
};

} // namespace

TEST(FSEventWatcherTest, ChangesGiveOneCallbackOnceTheyPauseForTheDebounce)
{
    Watched w;
    auto watcher = w.watch(w.dir.path(), 500ms);
    watcher->start(); // a second start keeps one stream
    ASSERT_TRUE(watcher->isWatching());
    // A change every 100 ms keeps postponing the callback.
    auto lastChange = std::chrono::steady_clock::now();
    for (int i = 0; i < 12; ++i) {
        std::this_thread::sleep_for(100ms);
        appendFile(w.dir / "session.jsonl", "{}\n");
        lastChange = std::chrono::steady_clock::now();
    }
    EXPECT_EQ(w.countAfter(), 0);
    ASSERT_TRUE(w.waitFor(1));
    EXPECT_GE(std::chrono::steady_clock::now() - lastChange, 500ms);
    EXPECT_EQ(w.countAfter(1000ms), 1);
}

TEST(FSEventWatcherTest, AStreamWithoutPausesIsReportedWhileItLasts)
{
    Watched w;
    auto watcher = w.watch(w.dir.path(), FSEventWatcher::defaultDebounce);
    // An agent streaming its answer: a line every 0.3 s for 6 s, never the debounce's pause.
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> streaming{true};
    std::thread agent([&] {
        for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(300ms))
            appendFile(w.dir / "session.jsonl", "{}\n");
        streaming = false;
    });
    EXPECT_TRUE(w.waitFor(1, 2500ms)) << "the first report comes at the latest 2 s after the first change";
    EXPECT_TRUE(w.waitFor(2));
    EXPECT_TRUE(streaming) << "reports keep coming while the stream lasts";
    agent.join();
    ASSERT_TRUE(w.waitFor(3));
    std::lock_guard lock(w.mutex);
    for (std::size_t i = 1; i < w.times.size(); ++i)
        EXPECT_GE(w.times[i] - w.times[i - 1], 700ms) << "never twice within the debounce";
    EXPECT_LT(w.times[0] - start, 2500ms);
}

TEST(FSEventWatcherTest, ChangesAnywhereBelowThePathCount)
{
    Watched w;
    writeFile(w.dir / "a/b/c/d/deep.jsonl", "");
    // Symlink loops are not followed.
    fs::create_directory_symlink(w.dir / "a", w.dir / "a/b/loop");
    fs::create_directory_symlink(w.dir.path(), w.dir / "self");
    TempDir outside;
    fs::create_directories(outside / "moved/inner");
    auto watcher = w.watch(w.dir.path());
    // Each step is a change: a folder created after the start is one itself, and files inside it are watched from
    // then on; so is every folder of a tree made at once (faster than watches can be added) or moved in from outside.
    const std::function<void()> steps[] = {[&] { appendFile(w.dir / "a/b/c/d/deep.jsonl", "{}\n"); },
                                           [&] { fs::create_directory(w.dir / "later"); },
                                           [&] { writeFile(w.dir / "later/new.jsonl", "{}\n"); },
                                           [&] { fs::create_directories(w.dir / "x/y/z"); },
                                           [&] { writeFile(w.dir / "x/y/z/leaf.jsonl", "{}\n"); },
                                           [&] { fs::rename(outside / "moved", w.dir / "moved"); },
                                           [&] {
                                               writeFile(w.dir / "moved/inner/file.jsonl", "{}\n");
                                           }};
    for (int i = 0; i < 7; ++i) {
        steps[i]();
        ASSERT_TRUE(w.waitFor(i + 1)) << "step " << i;
    }
}

TEST(FSEventWatcherTest, ReadingCausesNothingAndAWatchedFileReportsItsWrites)
{
    Watched w;
    const auto file = w.dir / "sub/opencode.db";
    writeFile(file, "{\"a\":1}\n");
    auto folderWatcher = w.watch(w.dir.path());
    auto fileWatcher = w.watch(file);
    ASSERT_TRUE(fileWatcher->isWatching());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(readFile(file).empty());
        for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(w.dir.path())) {
        }
    }
    EXPECT_EQ(w.countAfter(500ms), 0);
    appendFile(file, "y");
    EXPECT_TRUE(w.waitFor(2)) << "a watched file and its folder both report the write";
}

TEST(FSEventWatcherTest, DestructionWithPendingCallbackIsPromptAndRunsItOnce)
{
    Watched w;
    auto watcher = w.watch(w.dir.path(), 10s);
    writeFile(w.dir / "pending.jsonl", "{}\n");
    // Also gives the watcher's thread time to take the change in: nothing outside shows when it has.
    EXPECT_EQ(w.countAfter(300ms), 0);
    const auto before = std::chrono::steady_clock::now();
    watcher.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(w.countAfter(), 1);
}
