#pragma once

#include "model/sessiontypes.h"

#include <string>
#include <vector>

namespace loomwatch::cli {

// "now", "12m ago", "15h ago", "3d ago".
std::string ageText(model::Timestamp then, model::Timestamp now);

// The sessions as a table for people, headed ID (the given `ids`, one per session), TOOL, STATE,
// PROJECT, BRANCH, COST and ACTIVE, at most `columns` wide where that can be done: the project,
// branch, state and tool cells are cut first (the widest first), then the branch column is left
// out, then the project column. Ids, costs and times are never cut. A sentence when there are none.
std::string sessionsTable(const std::vector<model::AgentSession>& sessions, const std::vector<std::string>& ids,
                          model::Timestamp now, std::size_t columns);

} // namespace loomwatch::cli
