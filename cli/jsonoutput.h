#pragma once

#include "model/sessiontypes.h"

#include <string>
#include <vector>

namespace loomwatch::core {
class AppStore;
}

namespace loomwatch::cli {

class JsonWriter;

// The documented JSON of the commands, compact, without a final line break.

// One session object with exactly its sixteen keys.
void writeSession(JsonWriter& json, const model::AgentSession& session);
// An array of session objects, in the given order.
std::string sessionsJson(const std::vector<model::AgentSession>& sessions);
// {"today": ..., "currency": "USD", "tools": {...}}: today's estimates as exact decimals.
std::string costsJson(const core::AppStore& store);
// The probes, the last refresh, the session count and the history's retention in days.
std::string diagnosticsJson(const core::AppStore& store);
// {"waiting": n, "working": n, "active": n, "today": ..., "currency": "USD"}.
std::string statusJson(const core::AppStore& store);

} // namespace loomwatch::cli
