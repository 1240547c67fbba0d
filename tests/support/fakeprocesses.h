#pragma once

#include "model/processlisting.h"

#include <vector>

namespace loomwatch::testing {

// A process table the test writes; remembers which tools were asked about.
class FakeInspector final : public model::ProcessInspector
{
public:
    explicit FakeInspector(std::vector<model::AgentProcess> list = {}) : list(std::move(list)) {}
    std::vector<model::AgentProcess> processes(model::AgentTool tool) const override
    {
        asked.push_back(tool);
        return list;
    }

    std::vector<model::AgentProcess> list;
    mutable std::vector<model::AgentTool> asked;
};

} // namespace loomwatch::testing
