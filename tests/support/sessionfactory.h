#pragma once

#include "model/sessiontypes.h"

#include <string>

namespace loomwatch::testing {

// A plausible transcript-backed session; tests override the fields they look at.
inline model::AgentSession makeSession(model::AgentTool tool, const std::string& sourceId,
                                       model::Timestamp lastActivity,
                                       model::SessionState state = model::SessionState::working)
{
    model::AgentSession s;
    s.id = std::string(model::rawValue(tool)) + ":" + sourceId;
    s.tool = tool;
    s.projectPath = "/home/dev/src/api-server";
    s.projectName = "api-server";
    s.branch = "main";
    s.model = "claude-sonnet-4-5-20250929";
    s.startedAt = lastActivity - std::chrono::minutes(30);
    s.lastActivityAt = lastActivity;
    s.state = state;
    s.tokens = {1200, 410, 45000, 1200};
    s.lastSnippet = "Ran the test suite; 3 failures left in parser_test.";
    s.sourcePath = "/home/dev/.claude/projects/-home-dev-src-api-server/" + sourceId + ".jsonl";
    return s;
}

} // namespace loomwatch::testing
