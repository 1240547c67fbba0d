#pragma once

#include "model/sessiontypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::cli {

// An id without its tool prefix: "7d1c2f4e-…" of "claude:7d1c2f4e-…".
std::string_view localId(std::string_view id);

// For each session, the shortest start of its local id (at least 8 characters, as git shows hashes)
// that no other session's id, with or without its tool prefix, begins with; the full id when
// another session has the same local id. resolveSessionId() finds the session again from it.
std::vector<std::string> shortIds(const std::vector<model::AgentSession>& sessions);

// The sessions that `query` names: the one whose id, or else local id, is exactly the query;
// otherwise every session whose id or local id begins with it.
std::vector<const model::AgentSession*> resolveSessionId(const std::vector<model::AgentSession>& sessions,
                                                         std::string_view query);

} // namespace loomwatch::cli
