#include "ingestion/fseventwatcher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loomwatch::ingestion {

namespace {

// Only what changes content or names. Opens, reads and closes without writing are left out on purpose:
// the provider reads the transcripts after every callback, and those reads must not count as changes.
constexpr std::uint32_t changeMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                     IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t directoryMask = changeMask | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string joinPath(const std::string& directory, const char* name)
{
    std::string result = directory;
    if (result.empty() || result.back() != '/')
        result += '/';
    result += name;
    return result;
}

bool isDirectoryEntry(int directoryFd, const dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat info
    {};
    return fstatat(directoryFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

class FSEventWatcher::Impl
{
public:
    Impl(std::string path, std::function<void()> callback, std::chrono::milliseconds debounce,
         std::chrono::milliseconds maxDelay)
        : m_path(std::move(path)), m_callback(std::move(callback)), m_debounce(debounce), m_maxDelay(maxDelay)
    {}

    ~Impl()
    {
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            // The eventfd counter cannot overflow with one write; a failure would only mean the fd is gone.
            [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof one);
            m_thread.join();
        }
        if (m_inotifyFd >= 0)
            ::close(m_inotifyFd);
        if (m_stopFd >= 0)
            ::close(m_stopFd);
    }

    void start()
    {
        std::lock_guard lock(m_startMutex);
        if (m_startAttempted)
            return;
        m_startAttempted = true;

        // The root itself may be a symbolic link (a dotfile folder linked into the home); below it nothing is followed.
        struct stat info
        {};
        if (::stat(m_path.c_str(), &info) != 0)
            return;
        m_inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotifyFd < 0)
            return;
        m_stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_stopFd < 0)
            return;

        if (S_ISDIR(info.st_mode)) {
            m_rootIsDirectory = true;
            const int wd = inotify_add_watch(m_inotifyFd, m_path.c_str(), changeMask | IN_ONLYDIR | IN_EXCL_UNLINK);
            if (wd < 0)
                return;
            m_directories[wd] = m_path;
            watchSubdirectories();
        } else {
            if (inotify_add_watch(m_inotifyFd, m_path.c_str(), changeMask) < 0)
                return;
        }
        m_watching = true;
        m_thread = std::thread([this] { run(); });
    }

    bool isWatching() const { return m_watching; }

private:
    // Adds a watch on `directory` (already watched or not) and on every directory below it, without following
    // symbolic links. An explicit stack keeps deep trees off the call stack; a directory reached twice within one
    // scan (a bind mount of an ancestor) is not entered again.
    void watchTree(const std::string& directory)
    {
        std::unordered_set<int> seen;
        std::vector<std::string> stack{directory};
        while (!stack.empty()) {
            std::string current = std::move(stack.back());
            stack.pop_back();
            const int wd = inotify_add_watch(m_inotifyFd, current.c_str(), directoryMask);
            if (wd < 0) {
                // Out of watches: keep what is watched and stop asking for more during this scan.
                if (errno == ENOSPC)
                    return;
                continue;
            }
            if (!seen.insert(wd).second)
                continue;
            m_directories[wd] = current;
            collectSubdirectories(current, stack, false);
        }
    }

    void watchSubdirectories()
    {
        std::vector<std::string> children;
        collectSubdirectories(m_path, children, true);
        for (const auto& child : children)
            watchTree(child);
    }

    static void collectSubdirectories(const std::string& directory, std::vector<std::string>& out, bool isRoot)
    {
        const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        if (fd < 0)
            return;
        DIR* dir = fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            return;
        }
        while (const dirent* entry = readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (isDirectoryEntry(fd, entry))
                out.push_back(joinPath(directory, entry->d_name));
        }
        closedir(dir);
    }

    // Reads every queued event; returns whether any of them is a change.
    bool drainEvents()
    {
        bool changed = false;
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t length = ::read(m_inotifyFd, buffer, sizeof buffer);
            if (length <= 0) {
                if (length < 0 && errno == EINTR)
                    continue;
                break;
            }
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                changed |= handleEvent(*event);
            }
        }
        return changed;
    }

    bool handleEvent(const inotify_event& event)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Directories created while the queue was full went unseen: look for them again.
            if (m_rootIsDirectory)
                watchSubdirectories();
            return true;
        }
        if (event.mask & IN_IGNORED) {
            m_directories.erase(event.wd);
            return false;
        }
        if ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)) && event.len > 0) {
            const auto parent = m_directories.find(event.wd);
            if (parent != m_directories.end())
                watchTree(joinPath(parent->second, event.name));
        }
        return true;
    }

    void notify()
    {
        try {
            m_callback();
        } catch (...) {
            // A throwing callback must not take the process down from this thread; the next burst tries again.
        }
    }

    void run()
    {
        using Clock = std::chrono::steady_clock;
        // When the callback runs next; when the burst it reports began; when it last ran.
        std::optional<Clock::time_point> deadline;
        std::optional<Clock::time_point> burstStart;
        std::optional<Clock::time_point> lastRun;
        pollfd fds[2] = {{m_inotifyFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        for (;;) {
            int timeout = -1;
            if (deadline) {
                const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
                timeout = static_cast<int>(std::clamp<std::int64_t>(remaining.count(), 0, INT_MAX));
            }
            const int ready = ::poll(fds, 2, timeout);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0)
                break;
            if (fds[0].revents & POLLIN) {
                if (drainEvents()) {
                    const auto now = Clock::now();
                    if (!burstStart)
                        burstStart = now;
                    deadline = std::min(now + m_debounce, *burstStart + m_maxDelay);
                    if (lastRun)
                        deadline = std::max(*deadline, *lastRun + m_debounce);
                }
            } else if (fds[0].revents != 0) {
                break;
            }
            if (deadline && Clock::now() >= *deadline) {
                deadline.reset();
                burstStart.reset();
                lastRun = Clock::now();
                notify();
            }
        }
        if (deadline)
            notify();
    }

    const std::string m_path;
    const std::function<void()> m_callback;
    const std::chrono::milliseconds m_debounce;
    const std::chrono::milliseconds m_maxDelay;
    std::mutex m_startMutex;
    bool m_startAttempted = false;
    bool m_rootIsDirectory = false;
    std::atomic<bool> m_watching{false};
    int m_inotifyFd = -1;
    int m_stopFd = -1;
    // Only touched by the thread that runs start() before the watcher thread exists, then only by that thread.
    std::unordered_map<int, std::string> m_directories;
    std::thread m_thread;
};

FSEventWatcher::FSEventWatcher(std::string path, std::function<void()> callback, std::chrono::milliseconds debounce,
                               std::chrono::milliseconds maxDelay)
    : m_impl(std::make_unique<Impl>(std::move(path), std::move(callback), debounce, maxDelay))
{}

FSEventWatcher::~FSEventWatcher() = default;

void FSEventWatcher::start()
{
    m_impl->start();
}

bool FSEventWatcher::isWatching() const
{
    return m_impl->isWatching();
}

} // namespace loomwatch::ingestion
