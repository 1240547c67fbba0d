#include "cli/sessiontable.h"

#include "cli/terminaltable.h"
#include "pricing/currencyformatter.h"

namespace loomwatch::cli {

std::string ageText(model::Timestamp then, model::Timestamp now)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - then).count();
    if (seconds < 60)
        return "now";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + "m ago";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + "h ago";
    return std::to_string(seconds / 86400) + "d ago";
}

std::string sessionsTable(const std::vector<model::AgentSession>& sessions, model::Timestamp now)
{
    if (sessions.empty())
        return "No sessions found.\n";
    // 11 + 15 + 17 + 12 + 9 + 7 characters and five two-space gaps: 81 would wrap, this is 79.
    TerminalTable table({{"TOOL", 11},
                         {"STATE", 15},
                         {"PROJECT", 17},
                         {"BRANCH", 11},
                         {"COST", 9, TerminalTable::Align::right},
                         {"ACTIVE", 6, TerminalTable::Align::right}});
    for (const auto& s : sessions) {
        table.addRow({std::string(model::displayName(s.tool)), std::string(model::displayName(s.state)), s.projectName,
                      s.branch.value_or(""), s.estimatedCost ? pricing::formatUsd(*s.estimatedCost) : "-",
                      ageText(s.lastActivityAt, now)});
    }
    return table.render(true);
}

} // namespace loomwatch::cli
