#include "ingestion/sessionnote.h"

#include "ingestion/blob.h"
#include "ingestion/jsonlparser.h"

namespace loomwatch::ingestion {

namespace {

void optionalText(BlobWriter& out, const std::optional<std::string>& text)
{
    out.integer(text.has_value());
    if (text)
        out.text(*text);
}

std::optional<std::string> optionalText(BlobReader& in)
{
    return in.integer() != 0 ? std::optional<std::string>(in.text()) : std::nullopt;
}

std::int64_t nanoseconds(model::Timestamp t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

model::Timestamp timestamp(std::int64_t nanoseconds)
{
    return model::Timestamp(
        std::chrono::duration_cast<model::Timestamp::duration>(std::chrono::nanoseconds(nanoseconds)));
}

} // namespace

std::string encodeSessionNote(const model::ParsedSession& session)
{
    BlobWriter out;
    out.integer(JSONLParser::rulesVersion);
    out.text(session.id);
    out.integer(static_cast<std::int64_t>(session.tool));
    optionalText(out, session.projectPath);
    optionalText(out, session.branch);
    optionalText(out, session.model);
    out.integer(nanoseconds(session.startedAt));
    out.integer(nanoseconds(session.lastActivityAt));
    out.integer(session.explicitState ? static_cast<std::int64_t>(*session.explicitState) : -1);
    optionalText(out, session.safeSnippet);
    optionalText(out, session.sourcePath);
    return out.take();
}

std::optional<model::ParsedSession> decodeSessionNote(std::string_view note)
{
    BlobReader in(note);
    if (in.integer() != JSONLParser::rulesVersion)
        return std::nullopt;
    model::ParsedSession session;
    session.id = in.text();
    const std::int64_t tool = in.integer();
    session.projectPath = optionalText(in);
    session.branch = optionalText(in);
    session.model = optionalText(in);
    session.startedAt = timestamp(in.integer());
    session.lastActivityAt = timestamp(in.integer());
    const std::int64_t state = in.integer();
    session.safeSnippet = optionalText(in);
    session.sourcePath = optionalText(in);
    if (!in.atEnd() || tool < 0 || tool >= static_cast<std::int64_t>(model::allAgentTools.size()) || state < -1 ||
        state >= static_cast<std::int64_t>(model::allSessionStates.size()))
        return std::nullopt;
    session.tool = static_cast<model::AgentTool>(tool);
    if (state >= 0)
        session.explicitState = static_cast<model::SessionState>(state);
    return session;
}

} // namespace loomwatch::ingestion
