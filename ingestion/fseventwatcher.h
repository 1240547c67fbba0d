#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace loomwatch::ingestion {

// Watches a directory tree (inotify, recursive) and runs `callback` on the watcher's own thread once a burst of
// changes has been quiet for the debounce interval, or, while changes go on, at the latest `maxDelay` after the
// first of them; never twice within one debounce interval. Never replays old changes.
class FSEventWatcher
{
public:
    static constexpr std::chrono::milliseconds defaultDebounce{750};
    // An agent streams its answer for minutes: its session must not stay frozen that long.
    static constexpr std::chrono::milliseconds defaultMaxDelay{2000};

    FSEventWatcher(std::string path, std::function<void()> callback,
                   std::chrono::milliseconds debounce = defaultDebounce,
                   std::chrono::milliseconds maxDelay = defaultMaxDelay);
    // Returns promptly even with a debounce pending; a pending callback still runs once.
    ~FSEventWatcher();
    FSEventWatcher(const FSEventWatcher&) = delete;
    FSEventWatcher& operator=(const FSEventWatcher&) = delete;

    // Starts watching if the path exists now; otherwise the watcher stays idle for good.
    // Idempotent.
    void start();
    bool isWatching() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace loomwatch::ingestion
