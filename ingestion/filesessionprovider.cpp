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

// Lists one directory: offers its transcripts and appends its subdirectories (not symbolic links to directories).
// Reads the entries with getdents64 directly: opendir's extra fcntl and fstat calls per directory are a third of the
// system calls of a walk over thousands of small session folders.
void listDirectory(const std::string& directory, bool isRoot, Selection& selection, std::vector<std::string>& pending)
{
    // The root may itself be a link (a home folder kept elsewhere); nothing below it is followed.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return;
    std::vector<std::string> subdirectories;
    alignas(8) char buffer[32 * 1024];
    for (;;) {
        const ssize_t length = ::getdents64(fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info
                {};
                if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
            }
            if (type == DT_DIR) {
                subdirectories.push_back(directory + "/" + entry->d_name);
                continue;
            }
            if (!hasTranscriptExtension(name))
                continue;
            // Follows a symbolic link to a file; never opens the entry, so FIFOs and devices cannot block.
            struct stat info
            {};
            if (::fstatat(fd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
                continue;
            selection.offer(info.st_mtim, directory, name);
        }
    }
    ::close(fd);
    // Reversed, so that the last-in-first-out walk enters subdirectories in listing order.
    pending.insert(pending.end(), std::make_move_iterator(subdirectories.rbegin()),
                   std::make_move_iterator(subdirectories.rend()));
}

bool exists(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

FileSessionProvider::FileSessionProvider(model::AgentTool tool, std::string root,
                                         std::shared_ptr<const model::ProcessInspector> inspector,
                                         std::shared_ptr<const model::Clock> clock)
    : m_tool(tool), m_root(std::move(root)), m_parser(tool), m_inspector(std::move(inspector)),
      m_clock(std::move(clock)), m_reducer(m_clock),
      m_sender(std::make_shared<model::EventSender<model::ProviderEvent>>())
{
    auto [streamSender, streamReceiver] = model::makeEventStream<model::ProviderEvent>();
    *m_sender = std::move(streamSender);
    m_receiver = std::move(streamReceiver);

    std::weak_ptr<model::EventSender<model::ProviderEvent>> weakSender = m_sender;
    m_watcher = std::make_unique<FSEventWatcher>(m_root, [weakSender, tool = m_tool] {
        if (auto sender = weakSender.lock())
            sender->send(model::ProviderEvent::changed(tool));
    });
    m_watcher->start();
}

FileSessionProvider::~FileSessionProvider() = default;

model::ProviderProbeResult FileSessionProvider::probe()
{
    const bool installed = exists(m_root);
    return {m_tool, installed, installed ? model::SupportLevel::full : model::SupportLevel::unavailable, m_root,
            std::nullopt};
}

model::EventReceiver<model::ProviderEvent> FileSessionProvider::events()
{
    return m_receiver;
}

std::vector<std::string> FileSessionProvider::candidateFiles(std::size_t limit) const
{
    Selection selection(limit);
    std::string root = m_root;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::vector<std::string> pending;
    listDirectory(root, true, selection, pending);
    while (!pending.empty()) {
        const std::string directory = std::move(pending.back());
        pending.pop_back();
        listDirectory(directory, false, selection, pending);
    }
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
    for (const auto& file : files) {
        try {
            parsed.push_back(m_parser.parse({file, m_tool}));
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
