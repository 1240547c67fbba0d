#pragma once

#include "model/sessiontypes.h"

#include <string>
#include <vector>

namespace loomwatch::cli {

// "now", "12m ago", "15h ago", "3d ago".
std::string ageText(model::Timestamp then, model::Timestamp now);
// The sessions as a table for people, with a header line; a sentence when there are none.
std::string sessionsTable(const std::vector<model::AgentSession>& sessions, model::Timestamp now);

} // namespace loomwatch::cli
