#include "ingestion/filesessionprovider.h"

#include <algorithm>
#include <cstring>
#include <optional>
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
    const auto suffix = FileSessionProvider::transcriptExtension;
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
class Selection
{
public:
    explicit Selection(std::size_t limit) : m_limit(limit) { m_heap.reserve(limit); }

    void offer(const timespec& modified, const std::string& directory, std::string_view name)
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
// offers every regular *.jsonl file to a selection. Symbolic links to files count as their targets; linked folders
// below the root are not entered; unreadable folders are skipped.
//
// It reads each folder with getdents64 into one reused buffer, tells files from folders by the entry type, checks the
// extension before anything else, and stats only candidates, relative to the open folder. A folder is opened relative
// to its parent's descriptor, so the kernel looks up one name instead of the whole path. Subfolder names wait in one
// shared arena, and the folder's path lives in one string that grows and shrinks with the depth, so a walk allocates
// nothing per entry.
class TreeWalk
{
public:
    explicit TreeWalk(Selection& selection) : m_selection(selection), m_buffer(bufferSize) {}

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
            type = S_ISDIR(info.st_mode)   ? DT_DIR
                   : S_ISLNK(info.st_mode) ? DT_LNK
                   : S_ISREG(info.st_mode) ? DT_REG
                                           : DT_UNKNOWN;
            if (type == DT_UNKNOWN)
                return;
        } else if (type != DT_DIR && type != DT_REG && type != DT_LNK) {
            return; // FIFOs, sockets and devices are never transcripts
        }
        if (type == DT_DIR) {
            m_names.append(name).push_back('\0');
            return;
        }
        const std::string_view nameView(name);
        if (!hasTranscriptExtension(nameView))
            return;
        if (info.st_mode == 0 || type == DT_LNK) {
            // A link counts as its target (stat never opens it, so a linked FIFO cannot block). A plain file is
            // stat'ed without following, which is the same unless it was replaced by a link in between.
            if (::fstatat(fd, name, &info, type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
                return;
            if (S_ISLNK(info.st_mode) && ::fstatat(fd, name, &info, 0) != 0)
                return;
        }
        if (!S_ISREG(info.st_mode))
            return;
        m_selection.offer(info.st_mtim, m_path, nameView);
    }

    Selection& m_selection;
    std::vector<char> m_buffer;
    std::string m_path;
    std::string m_names;
    std::vector<Frame> m_frames;
};

bool exists(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

FileSessionProvider::FileSessionProvider(model::AgentTool tool, std::string root,
                                         std::shared_ptr<const model::ProcessInspector> inspector,
                                         std::shared_ptr<const model::Clock> clock, bool watchChanges)
    : m_tool(tool), m_root(std::move(root)), m_parser(tool), m_inspector(std::move(inspector)),
      m_clock(std::move(clock)), m_reducer(m_clock), m_changes(tool, m_root, watchChanges)
{}

FileSessionProvider::~FileSessionProvider() = default;

model::ProviderProbeResult FileSessionProvider::probe()
{
    const bool installed = exists(m_root);
    return {m_tool, installed, installed ? model::SupportLevel::full : model::SupportLevel::unavailable, m_root,
            std::nullopt};
}

model::EventReceiver<model::ProviderEvent> FileSessionProvider::events()
{
    return m_changes.events();
}

std::vector<std::string> FileSessionProvider::candidateFiles(std::size_t limit) const
{
    Selection selection(limit);
    std::string root = m_root;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    TreeWalk(selection).run(std::move(root));
    return selection.take();
}

std::vector<model::AgentSession> FileSessionProvider::sessions()
{
    if (!exists(m_root))
        return {};
    const std::vector<std::string> files = candidateFiles();
    const std::vector<model::AgentProcess> processes =
        m_inspector ? m_inspector->processes(m_tool) : std::vector<model::AgentProcess>{};

    std::vector<model::ParsedSession> parsed;
    parsed.reserve(files.size());
    JSONLParser::Workspace workspace;
    for (const auto& file : files) {
        try {
            parsed.push_back(m_parser.parse({file, m_tool}, workspace));
        } catch (const std::exception&) {
            // An unreadable transcript is left out; the others still count.
        }
    }
    std::stable_sort(parsed.begin(), parsed.end(),
                     [](const auto& a, const auto& b) { return a.lastActivityAt > b.lastActivityAt; });

    std::vector<model::AgentSession> result;
    result.reserve(parsed.size());
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const auto& session = parsed[i];
        std::optional<model::AgentProcess> process;
        if (session.projectPath) {
            const auto match = std::find_if(processes.begin(), processes.end(), [&](const auto& candidate) {
                return candidate.workingDirectory == session.projectPath;
            });
            if (match != processes.end())
                process = *match;
        }
        if (!process && m_clock->now() - session.lastActivityAt < recencyWindow && i < processes.size())
            process = processes[i];
        result.push_back(m_reducer.reduce(session, process));
    }
    return result;
}

} // namespace loomwatch::ingestion
