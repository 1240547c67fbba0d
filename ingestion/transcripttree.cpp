#include "ingestion/transcripttree.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loomwatch::ingestion {

namespace {

bool hasTranscriptExtension(std::string_view name)
{
    // "x.jsonl" has the extension; a hidden file named ".jsonl" has none.
    const auto suffix = transcriptExtension;
    return name.size() > suffix.size() + 1 && name.substr(name.size() - suffix.size()) == suffix &&
           name[name.size() - suffix.size() - 1] == '.';
}

struct Candidate
{
    timespec modified{};
    std::string path;
};

std::vector<std::string> pathsOf(std::vector<Candidate>& candidates)
{
    std::vector<std::string> paths;
    paths.reserve(candidates.size());
    for (auto& candidate : candidates)
        paths.push_back(std::move(candidate.path));
    return paths;
}

int compareTimes(const timespec& a, const timespec& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_nsec != b.tv_nsec)
        return a.tv_nsec < b.tv_nsec ? -1 : 1;
    return 0;
}

// Latest first; equal times in path order, so that the result does not depend on the order of listing.
bool comesBefore(const Candidate& a, const Candidate& b)
{
    const int times = compareTimes(a.modified, b.modified);
    return times != 0 ? times > 0 : a.path < b.path;
}

std::string joined(const std::string& folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append("/").append(name);
    return path;
}

// Keeps the best `limit` candidates; only files that may make it into the selection get their path built.
class Selection : public TranscriptSink
{
public:
    explicit Selection(std::size_t limit) : m_limit(limit) { m_heap.reserve(limit); }

    void offer(const timespec& modified, const std::string& folder, std::string_view name) override
    {
        if (m_limit == 0)
            return;
        if (m_heap.size() == m_limit && compareTimes(modified, m_heap.front().modified) < 0)
            return;
        Candidate candidate{modified, joined(folder, name)};
        if (m_heap.size() == m_limit) {
            if (!comesBefore(candidate, m_heap.front()))
                return;
            std::pop_heap(m_heap.begin(), m_heap.end(), comesBefore);
            m_heap.pop_back();
        }
        m_heap.push_back(std::move(candidate));
        std::push_heap(m_heap.begin(), m_heap.end(), comesBefore);
    }

    std::vector<std::string> take()
    {
        std::sort(m_heap.begin(), m_heap.end(), comesBefore);
        return pathsOf(m_heap);
    }

private:
    std::size_t m_limit;
    // A heap whose front is the candidate that would be dropped first.
    std::vector<Candidate> m_heap;
};

// Every file modified at or after a time.
class Recent : public TranscriptSink
{
public:
    explicit Recent(timespec since) : m_since(since) {}

    void offer(const timespec& modified, const std::string& folder, std::string_view name) override
    {
        if (compareTimes(modified, m_since) >= 0)
            m_files.push_back({modified, joined(folder, name)});
    }

    // Oldest first.
    std::vector<std::string> take()
    {
        std::sort(m_files.begin(), m_files.end(),
                  [](const Candidate& a, const Candidate& b) { return comesBefore(b, a); });
        return pathsOf(m_files);
    }

private:
    timespec m_since;
    std::vector<Candidate> m_files;
};

// Walks the tree below the root on two threads (the caller's and one more), which share the folders still to list,
// and offers every regular *.jsonl file to a sink, one offer at a time. Most of a walk is the kernel's: one stat per
// transcript, which two cores do in about half the time.
//
// Each folder is read with getdents64 into a buffer of the thread's own; files and folders are told apart by the
// entry type, the extension is checked before anything else, and only candidates are stat'ed, relative to the open
// folder. Symbolic links are not followed below the root; folders that cannot be opened are skipped.
class TreeWalk
{
public:
    explicit TreeWalk(TranscriptSink& sink) : m_sink(sink) {}

    void run(const std::string& root)
    {
        // The root may itself be a link (a home folder kept elsewhere); nothing below it is followed.
        const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0)
            return;
        std::vector<char> buffer(bufferSize);
        list(rootFd, root, buffer, m_pending);
        ::close(rootFd);
        if (m_pending.empty())
            return;
        std::thread helper([this] { work(); });
        work();
        helper.join();
    }

private:
    static constexpr std::size_t bufferSize = 64 * 1024;

    // Lists folders until none is left and no thread is listing one (which could add more).
    void work()
    {
        std::vector<char> buffer(bufferSize);
        std::vector<std::string> found;
        for (;;) {
            std::string folder;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_pending.empty() || m_listing == 0; });
                if (m_pending.empty())
                    break;
                folder = std::move(m_pending.back());
                m_pending.pop_back();
                ++m_listing;
            }
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                list(fd, folder, buffer, found);
                ::close(fd);
            }
            {
                std::lock_guard lock(m_mutex);
                for (auto& subfolder : found)
                    m_pending.push_back(std::move(subfolder));
                found.clear();
                --m_listing;
            }
            m_changed.notify_all();
        }
        m_changed.notify_all();
    }

    void list(int fd, const std::string& folder, std::vector<char>& buffer, std::vector<std::string>& subfolders)
    {
        for (;;) {
            const ssize_t length = ::getdents64(fd, buffer.data(), buffer.size());
            if (length <= 0)
                break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                offerEntry(fd, folder, name, entry->d_type, subfolders);
            }
        }
    }

    void offerEntry(int fd, const std::string& folder, const char* name, unsigned char type,
                    std::vector<std::string>& subfolders)
    {
        struct stat info
        {};
        if (type == DT_UNKNOWN) {
            // File systems that do not fill in the type: the entry itself decides, links are not followed.
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            subfolders.push_back(joined(folder, name));
            return;
        }
        // Only regular files are transcripts: links, FIFOs, sockets and devices take no candidate's place.
        if (type != DT_REG)
            return;
        const std::string_view nameView(name);
        if (!hasTranscriptExtension(nameView))
            return;
        // Not followed: a file replaced by a link in between is no transcript either.
        if (info.st_mode == 0 && ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        if (!S_ISREG(info.st_mode))
            return;
        std::lock_guard lock(m_sinkMutex);
        m_sink.offer(info.st_mtim, folder, nameView);
    }

    TranscriptSink& m_sink;
    std::mutex m_sinkMutex;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_pending;
    int m_listing = 0;
};

std::string withoutTrailingSlashes(std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

} // namespace

void walkTranscripts(const std::string& root, TranscriptSink& sink)
{
    TreeWalk(sink).run(withoutTrailingSlashes(root));
}

std::vector<std::string> newestTranscripts(const std::string& root, std::size_t limit)
{
    Selection selection(limit);
    walkTranscripts(root, selection);
    return selection.take();
}

std::vector<std::string> transcriptsModifiedSince(const std::string& root, model::Timestamp since)
{
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since.time_since_epoch()).count();
    const auto seconds = nanos / 1'000'000'000 - (nanos % 1'000'000'000 < 0 ? 1 : 0);
    Recent recent({static_cast<time_t>(seconds), static_cast<long>(nanos - seconds * 1'000'000'000)});
    walkTranscripts(root, recent);
    return recent.take();
}

} // namespace loomwatch::ingestion
