#pragma once

#include "model/sessiontypes.h"

#include <vector>

namespace loomwatch::model {

class ProcessInspector
{
public:
    virtual ~ProcessInspector() = default;
    // The running processes of the tool, in the process table's order. Never throws; an empty
    // list means none runs or the table cannot be read.
    virtual std::vector<AgentProcess> processes(AgentTool tool) const = 0;
};

} // namespace loomwatch::model
