#include "ingestion/filesessionprovider.h"

#include "ingestion/sessionnote.h"
#include "ingestion/transcripttree.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include <sys/stat.h>

namespace loomwatch::ingestion {

namespace {

bool exists(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isRegularFile(const std::string& path)
{
    struct stat info
    {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Collects paths in name order.
class PathList : public TranscriptSink
{
public:
    void offer(const timespec&, const std::string& folder, std::string_view name) override
    {
        m_paths.push_back(folder + "/" + std::string(name));
    }
    std::vector<std::string> take()
    {
        std::sort(m_paths.begin(), m_paths.end());
        return std::move(m_paths);
    }

private:
    std::vector<std::string> m_paths;
};

// The transcripts whose usage one Claude Code session sums: its own, <project>/<id>.jsonl, then its subagents',
// <project>/<id>/subagents/*.jsonl, which carry the same session id. `path` is any of them.
std::vector<std::string> claudeSessionFiles(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash == std::string::npos ? 0 : slash);
    constexpr std::string_view subagents = "/subagents";
    std::string main;
    std::string subagentFolder;
    if (folder.ends_with(subagents)) {
        subagentFolder = folder;
        main = folder.substr(0, folder.size() - subagents.size()) + "." + std::string(transcriptExtension);
    } else {
        main = path;
        subagentFolder = path.substr(0, path.size() - transcriptExtension.size() - 1) + std::string(subagents);
    }
    std::vector<std::string> files;
    if (main == path || isRegularFile(main))
        files.push_back(main);
    PathList list;
    walkTranscripts(subagentFolder, list);
    for (auto& file : list.take())
        files.push_back(std::move(file));
    return files;
}

} // namespace

FileSessionProvider::FileSessionProvider(model::AgentTool tool, std::string root,
                                         std::shared_ptr<const model::ProcessInspector> inspector,
                                         std::shared_ptr<const model::Clock> clock, bool watchChanges,
                                         std::shared_ptr<UsageLedger> ledger)
    : m_tool(tool), m_root(std::move(root)), m_parser(tool), m_inspector(std::move(inspector)),
      m_clock(std::move(clock)), m_reducer(m_clock),
      m_ledger(ledger ? std::move(ledger) : std::make_shared<UsageLedger>()), m_changes(tool, m_root, watchChanges)
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
    return newestTranscripts(m_root, limit);
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
    // A Claude Code session and its subagents share their totals: counted once per refresh.
    std::map<std::string, std::vector<FileUsage>> usageBySession;
    for (const auto& file : files) {
        // An unchanged transcript is not parsed again: its parse is kept with its counts.
        FileUsage own;
        std::optional<model::ParsedSession> session;
        try {
            own = m_ledger->count(m_tool, file, false, [&](const UsageLedger::Contents* contents) {
                const model::SessionSource source{file, m_tool};
                return encodeSessionNote(
                    contents ? m_parser.parseContents(source, contents->bytes, contents->modified, workspace)
                             : m_parser.parse(source, workspace));
            });
            session = decodeSessionNote(own.note);
            if (!session)
                session = m_parser.parse({file, m_tool}, workspace);
        } catch (const std::exception&) {
            // An unreadable transcript is left out; the others still count.
            continue;
        }
        const auto group =
            m_tool == model::AgentTool::claude ? claudeSessionFiles(file) : std::vector<std::string>{file};
        auto usage = usageBySession.find(group.front());
        if (usage == usageBySession.end())
            usage = usageBySession
                        .emplace(group.front(), group.size() == 1 ? std::vector<FileUsage>{std::move(own)}
                                                                  : m_ledger->countOnce(m_tool, group))
                        .first;
        std::tie(session->modelTokens, session->tokens) = modelTotals(m_tool, usage->second, session->model);
        parsed.push_back(std::move(*session));
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
