#include "ingestion/jsonlparser.h"

#include "handoff/conversationreader.h"
#include "handoff/snippet.h"
#include "ingestion/jsonsearch.h"
#include "ingestion/tailreader.h"
#include "model/pathtext.h"
#include "model/timestamps.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace loomwatch::ingestion {

namespace {

using Kind = JsonSearch::Kind;

// Members read from a line itself and from its body (the line's "payload" object, else the line).
enum Member : std::size_t
{
    memberSessionId,
    memberId,
    memberCwd,
    memberGitBranch,
    memberGitBranchSnake,
    memberTimestamp,
    memberType,
    memberPayload,
};

const JsonSearch directMembers{
    {{"sessionId"}, Kind::string}, {{"id"}, Kind::string},         {{"cwd"}, Kind::string},
    {{"gitBranch"}, Kind::string}, {{"git_branch"}, Kind::string}, {{"timestamp"}, Kind::string},
    {{"type"}, Kind::string},      {{"payload"}, Kind::object},
};

// Facts searched for through the body and the objects nested in it. Tokens are not among them: they are the sums over
// the whole transcript (UsageLedger), not facts of its tail.
enum Fact : std::size_t
{
    factModel,
    factRole,
    factText,
};

const JsonSearch nestedFacts{
    {{"model", "model_name"}, Kind::string},
    {{"role"}, Kind::string},
    {{"text"}, Kind::string},
};

using Event = handoff::ConversationReader::Event;

struct LineState
{
    model::ParsedSession session;
    std::optional<std::string> lastRole;
    // The text the key search finds, for the excerpt of a tail that holds no event.
    std::optional<std::string> lastText;
    bool errorSeen = false;
    // Only the last event becomes the excerpt; the other one is where the next line's is read.
    Event lastEvent;
    Event nextEvent;
    bool eventSeen = false;
};

// Overwrites in place: most lines repeat the same facts, and reusing the string's memory saves an allocation each.
void assign(std::optional<std::string>& field, std::string_view value)
{
    if (field)
        field->assign(value);
    else
        field.emplace(value);
}

std::optional<std::string_view> either(std::optional<std::string_view> first, std::optional<std::string_view> second)
{
    return first ? first : second;
}

void applyLine(simdjson::dom::object line, LineState& state, JsonSearch::Scratch& scratch,
               handoff::ConversationReader& conversation)
{
    const auto top = directMembers.members(line);
    const auto payload = top.object(memberPayload);
    const simdjson::dom::object body = payload ? *payload : line;
    const auto inner = payload ? directMembers.members(body) : top;
    auto& session = state.session;

    // A body's "id" names the session only beside a "cwd": Codex also puts an "id" on every response item.
    if (auto sessionId = top.string(memberSessionId))
        session.id = *sessionId;
    else if (auto id = inner.string(memberId); id && inner.has(memberCwd))
        session.id = *id;
    if (auto cwd = either(top.string(memberCwd), inner.string(memberCwd)))
        assign(session.projectPath, *cwd);
    if (auto branch = either(top.string(memberGitBranch), inner.string(memberGitBranchSnake)))
        assign(session.branch, *branch);

    const auto found = nestedFacts.nested(body, scratch);
    if (auto modelName = found.string(factModel))
        assign(session.model, *modelName);

    if (auto text = either(top.string(memberTimestamp), inner.string(memberTimestamp))) {
        if (auto when = model::parseIso8601Timestamp(*text)) {
            session.startedAt = std::min(session.startedAt, *when);
            if (*when >= session.lastActivityAt)
                session.lastActivityAt = *when;
        }
    }

    if (auto role = found.string(factRole)) {
        assign(state.lastRole, *role);
    } else if (payload) {
        // The payload was searched for a role just now and has none.
        if (auto lineRole = nestedFacts.nested(line, scratch, 1u << factRole, "payload").string(factRole))
            assign(state.lastRole, *lineRole);
    }

    // Only the last text becomes the excerpt, so it is only kept here.
    if (auto text = found.string(factText))
        assign(state.lastText, *text);
    if (conversation.read(line, state.nextEvent)) {
        std::swap(state.lastEvent, state.nextEvent);
        state.eventSeen = true;
    }

    // A top-level string "type" hides the payload's, whatever its value.
    if (auto type = either(top.string(memberType), inner.string(memberType));
        type && (*type == "turn_aborted" || *type == "error")) {
        session.explicitState = model::SessionState::errored;
        state.errorSeen = true;
    }
}

// `tail` must be followed by the decoder's padding, as TailReader leaves it.
model::ParsedSession applyTail(std::string_view tail, bool startsMidLine, model::ParsedSession initial,
                               simdjson::dom::parser& json, JsonSearch::Scratch& scratch,
                               handoff::ConversationReader& conversation)
{
    if (startsMidLine) {
        const auto firstBreak = tail.find('\n');
        if (firstBreak != std::string_view::npos)
            tail.remove_prefix(firstBreak + 1);
    }

    LineState state;
    state.session = std::move(initial);
    while (!tail.empty()) {
        const auto lineEnd = tail.find('\n');
        const std::string_view piece = tail.substr(0, lineEnd);
        tail.remove_prefix(lineEnd == std::string_view::npos ? tail.size() : lineEnd + 1);
        simdjson::dom::object line;
        if (piece.empty() || json.parse(piece.data(), piece.size(), false).get_object().get(line) != simdjson::SUCCESS)
            continue;
        applyLine(line, state, scratch, conversation);
    }

    auto& session = state.session;
    if (state.eventSeen)
        session.safeSnippet = handoff::makeSnippet(state.lastEvent.text);
    else if (state.lastText)
        session.safeSnippet = handoff::makeSnippet(*state.lastText);
    if (!state.errorSeen && state.lastRole) {
        if (*state.lastRole == "assistant")
            session.explicitState = model::SessionState::waitingForInput;
        else if (*state.lastRole == "user")
            session.explicitState = model::SessionState::working;
    }
    return std::move(session);
}

} // namespace

struct JSONLParser::Workspace::Buffers
{
    TailReader tail;
    simdjson::dom::parser json;
    JsonSearch::Scratch search;
    handoff::ConversationReader conversation;
};

JSONLParser::Workspace::Workspace() : m_buffers(std::make_unique<Buffers>()) {}

JSONLParser::Workspace::~Workspace() = default;

JSONLParser::JSONLParser(model::AgentTool tool) : m_tool(tool) {}

model::ParsedSession JSONLParser::parse(const model::SessionSource& source) const
{
    Workspace workspace;
    return parse(source, workspace);
}

model::ParsedSession JSONLParser::parse(const model::SessionSource& source, Workspace& workspace) const
{
    const auto tail = workspace.m_buffers->tail.read(source.url, tailLimit);
    return applyTail(tail.bytes, tail.cut, initialRecord(source, tail.modified), workspace.m_buffers->json,
                     workspace.m_buffers->search, workspace.m_buffers->conversation);
}

model::ParsedSession JSONLParser::parseContents(const model::SessionSource& source, std::string_view bytes,
                                                model::Timestamp modified, Workspace& workspace) const
{
    const bool cut = bytes.size() > tailLimit;
    return applyTail(cut ? bytes.substr(bytes.size() - tailLimit) : bytes, cut, initialRecord(source, modified),
                     workspace.m_buffers->json, workspace.m_buffers->search, workspace.m_buffers->conversation);
}

model::ParsedSession JSONLParser::initialRecord(const model::SessionSource& source, model::Timestamp modified) const
{
    model::ParsedSession initial;
    initial.id = model::transcriptSessionName(source.url, m_tool == model::AgentTool::codex);
    initial.tool = m_tool;
    initial.startedAt = modified;
    initial.lastActivityAt = modified;
    initial.sourcePath = source.url;
    return initial;
}

model::ParsedSession JSONLParser::parseTail(std::string_view tail, bool startsMidLine,
                                            model::ParsedSession initial) const
{
    Workspace workspace;
    auto& buffers = *workspace.m_buffers;
    initial.tool = m_tool;
    return applyTail(buffers.tail.hold(tail), startsMidLine, std::move(initial), buffers.json, buffers.search,
                     buffers.conversation);
}

} // namespace loomwatch::ingestion
