#pragma once

#include "model/processlisting.h"

#include <string>
#include <string_view>

namespace loomwatch::providers {

// Reads the process table from /proc (or another root, for tests).
class NativeProcessInspector final : public model::ProcessInspector
{
public:
    explicit NativeProcessInspector(std::string procRoot = "/proc");

    std::vector<model::AgentProcess> processes(model::AgentTool tool) const override;
    // The process of this pid if its name matches one of the tool's name fragments.
    std::optional<model::AgentProcess> processInfo(std::int32_t pid, model::AgentTool tool) const;

    // Whether a process name belongs to the tool (case-insensitive fragment match).
    static bool nameMatches(model::AgentTool tool, std::string_view name);

private:
    std::string m_procRoot;
};

} // namespace loomwatch::providers
