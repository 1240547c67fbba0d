#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace loomwatch::ingestion {

// Watches a directory tree (inotify, recursive) and runs `callback` on the watcher's own thread
// once a burst of changes has been quiet for the debounce interval. Never replays old changes.
class FSEventWatcher
{
public:
    static constexpr std::chrono::milliseconds defaultDebounce{750};

    FSEventWatcher(std::string path, std::function<void()> callback,
                   std::chrono::milliseconds debounce = defaultDebounce);
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
