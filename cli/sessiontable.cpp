#include "cli/sessiontable.h"

#include "cli/displaywidth.h"
#include "cli/terminaltable.h"
#include "pricing/currencyformatter.h"

#include <algorithm>
#include <array>
#include <optional>

namespace loomwatch::cli {

namespace {

enum Field : std::size_t
{
    id,
    tool,
    state,
    project,
    branch,
    cost,
    active,
    fieldCount
};

struct ColumnRule
{
    const char* title;
    TerminalTable::Align align;
    // Narrowest cut width; 0: never cut.
    std::size_t minimum;
    // Narrowest cut width once the project and branch columns are gone.
    std::size_t lastResort;
};

constexpr std::array<ColumnRule, fieldCount> fields{{
    {"ID", TerminalTable::Align::left, 0, 0},
    {"TOOL", TerminalTable::Align::left, 6, 4},
    {"STATE", TerminalTable::Align::left, 7, 4},
    {"PROJECT", TerminalTable::Align::left, 7, 7},
    {"BRANCH", TerminalTable::Align::left, 6, 6},
    {"COST", TerminalTable::Align::right, 0, 0},
    {"ACTIVE", TerminalTable::Align::right, 0, 0},
}};

constexpr std::size_t gap = 2;

using Widths = std::array<std::size_t, fieldCount>;

// Column widths for the `present` fields within `columns`; none when they cannot fit, except as a
// last resort: then the narrowest possible.
std::optional<Widths> fit(const Widths& natural, const std::vector<Field>& present, std::size_t columns,
                          bool lastResort)
{
    Widths widths = natural;
    std::size_t total = (present.size() - 1) * gap;
    for (Field f : present)
        total += widths[f];
    while (total > columns) {
        // The widest cell that can still give way; on a tie the one further right.
        Field widest = fieldCount;
        for (Field f : present) {
            const std::size_t minimum = lastResort ? fields[f].lastResort : fields[f].minimum;
            if (minimum != 0 && widths[f] > std::min(minimum, natural[f]) &&
                (widest == fieldCount || widths[f] >= widths[widest]))
                widest = f;
        }
        if (widest == fieldCount)
            break;
        --widths[widest];
        --total;
    }
    if (total > columns && !lastResort)
        return std::nullopt;
    return widths;
}

} // namespace

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

std::string sessionsTable(const std::vector<model::AgentSession>& sessions, const std::vector<std::string>& ids,
                          model::Timestamp now, std::size_t columns)
{
    if (sessions.empty())
        return "No sessions found.\n";
    std::vector<std::array<std::string, fieldCount>> rows;
    Widths natural{};
    for (std::size_t f = 0; f < fieldCount; ++f)
        natural[f] = displayWidth(fields[f].title);
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const auto& s = sessions[i];
        rows.push_back({ids[i], std::string(model::displayName(s.tool)), std::string(model::displayName(s.state)),
                        s.projectName, s.branch.value_or(""),
                        s.estimatedCost ? pricing::formatUsd(*s.estimatedCost) : "-", ageText(s.lastActivityAt, now)});
        for (std::size_t f = 0; f < fieldCount; ++f)
            natural[f] = std::max(natural[f], displayWidth(rows.back()[f]));
    }

    std::vector<Field> present{id, tool, state, project, branch, cost, active};
    std::optional<Widths> widths = fit(natural, present, columns, false);
    for (Field dropped : {branch, project}) {
        if (widths)
            break;
        std::erase(present, dropped);
        widths = fit(natural, present, columns, dropped == project);
    }

    std::vector<TerminalTable::Column> layout;
    for (Field f : present)
        layout.push_back({fields[f].title, (*widths)[f], fields[f].align});
    TerminalTable table(std::move(layout));
    for (const auto& row : rows) {
        std::vector<std::string> cells;
        for (Field f : present)
            cells.push_back(row[f]);
        table.addRow(std::move(cells));
    }
    return table.render(true);
}

} // namespace loomwatch::cli
