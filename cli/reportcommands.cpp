#include "cli/reportcommands.h"

#include "cli/commandcontext.h"
#include "cli/datetimetext.h"
#include "cli/jsonoutput.h"
#include "cli/sessionfilter.h"
#include "cli/sessionids.h"
#include "cli/sessiontable.h"
#include "cli/terminaltable.h"
#include "core/appstore.h"
#include "core/sessionhistory.h"
#include "pricing/currencyformatter.h"

#include <ostream>

namespace loomwatch::cli {

namespace {

constexpr std::string_view privacyStatements[] = {
    "Loomwatch stores normalized metadata only. Full transcripts are read on demand and are never uploaded.",
    "OpenCode credential and account tables are never queried.",
};

constexpr std::string_view costsCaveat =
    "Estimates only. Models without a matching price are shown as unknown and contribute $0 to these totals.";

const Option jsonOption{"--json", "", "print JSON instead of text"};

// One full refresh, the report on `out`, then a provider failure on `err`.
template <typename Print>
int reportAfterRefresh(CommandContext& context, std::ostream& out, std::ostream& err, Print print)
{
    print(context.refreshedStore());
    out.flush();
    return context.reportErrors(err);
}

int sessionsCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    return reportAfterRefresh(context, out, err, [&](const core::AppStore& store) {
        const auto& all = store.sessions();
        // Unique among all sessions, since handoff and terminate look among all of them.
        const auto ids = shortIds(all);
        const auto filter = SessionFilter::fromArguments(context.args());
        std::vector<model::AgentSession> sessions;
        std::vector<std::string> shownIds;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (filter.matches(all[i])) {
                sessions.push_back(all[i]);
                shownIds.push_back(ids[i]);
            }
        }
        out << (context.args().flag("--json")
                    ? sessionsJson(sessions) + "\n"
                    : sessionsTable(sessions, shownIds, store.clock().now(), context.columns()));
    });
}

int statusCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    const core::AppStore& store = context.refreshedStore();
    if (context.args().flag("--json"))
        out << statusJson(store) << '\n';
    else
        out << store.waitingCount() << " waiting \u00B7 " << store.workingCount() << " working \u00B7 "
            << pricing::formatUsd(store.todayCost()) << " today\n";
    out.flush();
    const int status = context.reportErrors(err);
    return store.waitingCount() > 0 ? 3 : status;
}

void printCosts(const core::AppStore& store, std::ostream& out)
{
    TerminalTable table({{"", 14}, {"", 16, TerminalTable::Align::right}});
    out << "Estimated costs today: " << pricing::formatUsd(store.todayCost()) << "\n\n";
    for (model::AgentTool tool : model::allAgentTools)
        table.addRow({std::string(model::displayName(tool)), pricing::formatUsd(store.todayCost(tool))});
    out << table.render(false) << '\n' << costsCaveat << '\n';
}

int costsCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    return reportAfterRefresh(context, out, err, [&](const core::AppStore& store) {
        if (context.args().flag("--json"))
            out << costsJson(store) << '\n';
        else
            printCosts(store, out);
    });
}

void printDiagnostics(const core::AppStore& store, std::ostream& out)
{
    out << "Provider support\n";
    for (const auto& probe : store.probes()) {
        TerminalTable row({{"", 13}, {"", 12}, {"", 9}});
        row.addRow({std::string(model::displayName(probe.tool)), std::string(model::rawValue(probe.supportLevel)),
                    probe.installed ? "found" : "not found"});
        out << row.render(false, 2) << "    " << probe.detectedPath << '\n';
        if (probe.lastError)
            out << "    " << *probe.lastError << '\n';
    }
    out << "\nRefresh\n";
    TerminalTable refresh({{"", 20}, {"", 50}});
    refresh.addRow({"Last completed", store.lastRefresh() ? localDateTimeText(*store.lastRefresh()) : "Not yet"});
    refresh.addRow({"Sessions in memory", std::to_string(store.sessions().size())});
    const auto retentionDays = std::chrono::duration_cast<std::chrono::days>(core::SessionHistory::retention).count();
    refresh.addRow({"History retention", std::to_string(retentionDays) + " days"});
    out << refresh.render(false, 2) << "\nPrivacy\n";
    for (auto statement : privacyStatements)
        out << "  " << statement << '\n';
}

int diagnosticsCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    return reportAfterRefresh(context, out, err, [&](const core::AppStore& store) {
        if (context.args().flag("--json"))
            out << diagnosticsJson(store) << '\n';
        else
            printDiagnostics(store, out);
    });
}

} // namespace

std::vector<Command> reportCommands()
{
    std::vector<std::string> tools, states;
    for (model::AgentTool tool : model::allAgentTools)
        tools.emplace_back(model::rawValue(tool));
    for (model::SessionState state : model::allSessionStates)
        states.emplace_back(model::rawValue(state));
    return {
        {.name = "sessions",
         .options = {jsonOption,
                     {"--tool", "TOOL", "only the sessions of this tool", tools, true},
                     {"--state", "STATE", "only the sessions in this state", states, true},
                     {"--project", "TEXT", "only the sessions whose project name contains TEXT, in any case"},
                     {"--active", "", "only the active sessions: working, waiting, idle or limited"}},
         .summary = "refresh every provider and list the sessions",
         .description = "Refreshes every provider and lists the sessions, latest activity first. The ID column\n"
                        "shows the shortest start of each id that handoff and terminate accept. Given\n"
                        "filters must all hold; a repeated --tool or --state adds alternatives.",
         .example = "sessions --tool claude --state waitingForInput",
         .run = sessionsCommand},
        {.name = "status",
         .options = {jsonOption},
         .summary = "one line: waiting, working, today's spend",
         .description = "Refreshes every provider and prints one line for a status bar. Exits with 3 when a\n"
                        "session waits for input, else 0 (1 when a provider failed).",
         .example = "status --json",
         .run = statusCommand},
        {.name = "costs",
         .options = {jsonOption},
         .summary = "today's estimated spend, in total and per tool",
         .description = "Refreshes every provider and prints today's estimated spend, in total and per tool.",
         .example = "costs --json",
         .run = costsCommand},
        {.name = "diagnostics",
         .options = {jsonOption},
         .summary = "what Loomwatch can see, and what it keeps",
         .description = "Refreshes every provider and prints what each one found, the last refresh, the\n"
                        "history's retention and what Loomwatch promises about your data.",
         .example = "diagnostics",
         .run = diagnosticsCommand},
    };
}

} // namespace loomwatch::cli
