#pragma once

#include "model/sessiontypes.h"

#include <optional>
#include <set>
#include <string>

namespace loomwatch::cli {

struct Arguments;

// What `sessions` lists: every condition given must hold; several tools or states are alternatives.
struct SessionFilter
{
    std::set<model::AgentTool> tools;
    std::set<model::SessionState> states;
    // Part of the project name, in any case.
    std::optional<std::string> project;
    // Only the sessions the store counts as active.
    bool activeOnly = false;

    // From --tool, --state, --project and --active, whose values the parser has checked.
    static SessionFilter fromArguments(const Arguments& arguments);
    bool matches(const model::AgentSession& session) const;
};

} // namespace loomwatch::cli
