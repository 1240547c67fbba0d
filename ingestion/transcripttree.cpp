#include "ingestion/transcripttree.h"

#include <algorithm>
#include <cstring>
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
    std::size_t order = 0; // enumeration order, for a stable result on equal times
    std::string path;
};

// Latest first; equal times keep enumeration order.
bool comesBefore(const Candidate& a, const Candidate& b)
{
    if (a.modified.tv_sec != b.modified.tv_sec)
        return a.modified.tv_sec > b.modified.tv_sec;
    if (a.modified.tv_nsec != b.modified.tv_nsec)
        return a.modified.tv_nsec > b.modified.tv_nsec;
    return a.order < b.order;
}

// Keeps the best `limit` candidates; only files that make it into the selection get their path built.
class Selection : public TranscriptSink
{
public:
    explicit Selection(std::size_t limit) : m_limit(limit) { m_heap.reserve(limit); }

    void offer(const timespec& modified, const std::string& directory, std::string_view name) override
    {
        const std::size_t order = m_seen++;
        if (m_limit == 0)
            return;
        if (m_heap.size() == m_limit) {
            const Candidate& worst = m_heap.front();
            const Candidate probe{modified, order, {}};
            if (!comesBefore(probe, worst))
                return;
            std::pop_heap(m_heap.begin(), m_heap.end(), comesBefore);
            m_heap.pop_back();
        }
        std::string path;
        path.reserve(directory.size() + 1 + name.size());
        path.append(directory).append("/").append(name);
        m_heap.push_back({modified, order, std::move(path)});
        std::push_heap(m_heap.begin(), m_heap.end(), comesBefore);
    }

    std::vector<std::string> take()
    {
        std::sort(m_heap.begin(), m_heap.end(), comesBefore);
        std::vector<std::string> paths;
        paths.reserve(m_heap.size());
        for (auto& candidate : m_heap)
            paths.push_back(std::move(candidate.path));
        return paths;
    }

private:
    std::size_t m_limit;
    std::size_t m_seen = 0;
    // A heap whose front is the candidate that would be dropped first.
    std::vector<Candidate> m_heap;
};

// Walks the tree below the root depth first (a folder's own transcripts, then its subfolders in listing order) and
// offers every regular *.jsonl file to a sink. Symbolic links, to files or folders, are not followed; unreadable
// folders are skipped.
//
// It reads each folder with getdents64 into one reused buffer, tells files from folders by the entry type, checks the
// extension before anything else, and stats only candidates, relative to the open folder. A folder is opened relative
// to its parent's descriptor, so the kernel looks up one name instead of the whole path. Subfolder names wait in one
// shared arena, and the folder's path lives in one string that grows and shrinks with the depth, so a walk allocates
// nothing per entry.
class TreeWalk
{
public:
    explicit TreeWalk(TranscriptSink& sink) : m_sink(sink), m_buffer(bufferSize) {}

    void run(std::string root)
    {
        m_path = std::move(root);
        // The root may itself be a link (a home folder kept elsewhere); nothing below it is followed.
        const int rootFd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0)
            return;
        push(rootFd);
        while (!m_frames.empty()) {
            Frame& frame = m_frames.back();
            if (frame.next == frame.namesEnd) {
                if (frame.fd >= 0)
                    ::close(frame.fd);
                m_path.resize(frame.pathLength);
                m_names.resize(frame.namesBegin);
                m_frames.pop_back();
                continue;
            }
            const char* name = m_names.data() + frame.next;
            const std::size_t nameLength = std::strlen(name);
            frame.next += nameLength + 1;
            const std::size_t parentLength = m_path.size();
            m_path.append("/").append(name, nameLength);
            const int fd =
                frame.fd >= 0 ? ::openat(frame.fd, name, subfolderFlags) : ::open(m_path.c_str(), subfolderFlags);
            if (fd < 0)
                m_path.resize(parentLength);
            else
                push(fd, parentLength);
            // `frame` may dangle from here on: push() grows m_frames.
        }
    }

private:
    static constexpr std::size_t bufferSize = 64 * 1024;
    static constexpr int subfolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    // Folders this deep keep their descriptors open while their subfolders are walked; deeper ones are opened by
    // path, so that a pathological tree cannot exhaust the descriptors.
    static constexpr std::size_t openDepthLimit = 32;

    struct Frame
    {
        int fd;                 // open while subfolders remain, or -1 when they are opened by path
        std::size_t pathLength; // the parent's path length, restored when this folder is done
        std::size_t namesBegin; // this folder's subfolder names: [namesBegin, namesEnd) of m_names, NUL-terminated
        std::size_t namesEnd;
        std::size_t next;
    };

    // Lists the folder at m_path (open as `fd`) and makes it the current frame.
    void push(int fd, std::size_t parentLength = 0)
    {
        const std::size_t namesBegin = m_names.size();
        list(fd);
        const std::size_t namesEnd = m_names.size();
        if (namesBegin == namesEnd || m_frames.size() >= openDepthLimit) {
            ::close(fd);
            fd = -1;
        }
        m_frames.push_back({fd, parentLength, namesBegin, namesEnd, namesBegin});
    }

    void list(int fd)
    {
        char* const buffer = m_buffer.data();
        for (;;) {
            const ssize_t length = ::getdents64(fd, buffer, bufferSize);
            if (length <= 0)
                break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                offerEntry(fd, name, entry->d_type);
            }
        }
    }

    void offerEntry(int fd, const char* name, unsigned char type)
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
            m_names.append(name).push_back('\0');
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
        m_sink.offer(info.st_mtim, m_path, nameView);
    }

    TranscriptSink& m_sink;
    std::vector<char> m_buffer;
    std::string m_path;
    std::string m_names;
    std::vector<Frame> m_frames;
};

// Every file modified at or after a time.
class Recent : public TranscriptSink
{
public:
    explicit Recent(timespec since) : m_since(since) {}

    void offer(const timespec& modified, const std::string& directory, std::string_view name) override
    {
        if (modified.tv_sec < m_since.tv_sec ||
            (modified.tv_sec == m_since.tv_sec && modified.tv_nsec < m_since.tv_nsec))
            return;
        std::string path;
        path.reserve(directory.size() + 1 + name.size());
        path.append(directory).append("/").append(name);
        m_files.push_back({modified, m_files.size(), std::move(path)});
    }

    std::vector<std::string> take()
    {
        // Oldest first; equal times keep enumeration order.
        std::sort(m_files.begin(), m_files.end(), [](const Candidate& a, const Candidate& b) {
            if (a.modified.tv_sec != b.modified.tv_sec)
                return a.modified.tv_sec < b.modified.tv_sec;
            if (a.modified.tv_nsec != b.modified.tv_nsec)
                return a.modified.tv_nsec < b.modified.tv_nsec;
            return a.order < b.order;
        });
        std::vector<std::string> paths;
        paths.reserve(m_files.size());
        for (auto& file : m_files)
            paths.push_back(std::move(file.path));
        return paths;
    }

private:
    timespec m_since;
    std::vector<Candidate> m_files;
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
