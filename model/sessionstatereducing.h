#pragma once

#include "model/sessiontypes.h"

#include <optional>

namespace loomwatch::model {

class SessionStateReducing
{
public:
    virtual ~SessionStateReducing() = default;
    virtual AgentSession reduce(const ParsedSession& parsed, const std::optional<AgentProcess>& process) const = 0;
};

} // namespace loomwatch::model
