#include "ingestion/sessionstatereducer.h"

#include "model/pathtext.h"

#include <string>
#include <utility>

namespace loomwatch::ingestion {

SessionStateReducer::SessionStateReducer(std::shared_ptr<const model::Clock> clock) : m_clock(std::move(clock)) {}

model::AgentSession SessionStateReducer::reduce(const model::ParsedSession& parsed,
                                                const std::optional<model::AgentProcess>& process) const
{
    using model::SessionState;
    SessionState state = SessionState::idle;
    if (parsed.explicitState == SessionState::errored)
        state = SessionState::errored;
    else if (!process)
        state = SessionState::ended;
    else if (parsed.explicitState == SessionState::waitingForInput)
        state = SessionState::waitingForInput;
    else if (parsed.explicitState != SessionState::working)
        state = SessionState::idle;
    else
        state = m_clock->now() - parsed.lastActivityAt < workingWindow ? SessionState::working : SessionState::idle;

    model::AgentSession session;
    session.id = std::string(model::rawValue(parsed.tool)) + ":" + parsed.id;
    session.tool = parsed.tool;
    session.projectPath = parsed.projectPath;
    if (parsed.projectPath)
        session.projectName = model::lastPathComponent(*parsed.projectPath);
    // An empty path names nothing; the tool's name stands in as it does for a missing one.
    if (session.projectName.empty())
        session.projectName = std::string(model::displayName(parsed.tool));
    session.branch = parsed.branch;
    session.model = parsed.model;
    session.startedAt = parsed.startedAt;
    session.lastActivityAt = parsed.lastActivityAt;
    if (process)
        session.processID = process->pid;
    session.state = state;
    session.supportLevel = model::SupportLevel::full;
    session.tokens = parsed.tokens;
    session.modelTokens = parsed.modelTokens;
    session.lastSnippet = parsed.safeSnippet;
    session.parserVersion = parserVersion;
    session.sourcePath = parsed.sourcePath;
    return session;
}

} // namespace loomwatch::ingestion
