#include "providers/cursorprovider.h"

#include <sys/stat.h>

namespace loomwatch::providers {

namespace {

std::string workerRootOf(const std::string& root)
{
    return root + (root.ends_with('/') ? "" : "/") + std::string(CursorProvider::workerSubpath);
}

} // namespace

CursorProvider::CursorProvider(std::string root, std::shared_ptr<const model::ProcessInspector> inspector,
                               std::shared_ptr<const model::Clock> clock, bool watchChanges)
    : m_root(std::move(root)), m_workerRoot(workerRootOf(m_root)), m_inspector(std::move(inspector)),
      m_clock(std::move(clock)), m_changes(model::AgentTool::cursor, m_workerRoot, watchChanges)
{}

CursorProvider::~CursorProvider() = default;

model::ProviderProbeResult CursorProvider::probe()
{
    struct stat info
    {};
    const bool exists = ::stat(m_root.c_str(), &info) == 0;
    return {model::AgentTool::cursor, exists,
            exists ? model::SupportLevel::processOnly : model::SupportLevel::unavailable, m_root,
            exists ? std::optional<std::string>(probeNote) : std::nullopt};
}

std::vector<model::AgentSession> CursorProvider::sessions()
{
    std::vector<model::AgentSession> result;
    if (!m_inspector)
        return result;
    for (const auto& process : m_inspector->processes(model::AgentTool::cursor)) {
        model::AgentSession session;
        session.id = std::string(sessionIdPrefix) + std::to_string(process.pid);
        session.tool = model::AgentTool::cursor;
        session.projectName = sessionProjectName;
        session.startedAt = m_clock->now();
        session.lastActivityAt = m_clock->now();
        session.processID = process.pid;
        session.state = model::SessionState::limited;
        session.supportLevel = model::SupportLevel::processOnly;
        session.lastSnippet = std::string(sessionSnippet);
        session.parserVersion = 1;
        session.sourcePath = m_workerRoot;
        result.push_back(std::move(session));
    }
    return result;
}

} // namespace loomwatch::providers
