#include "cli/reportcommands.h"

#include "cli/commandcontext.h"
#include "cli/datetimetext.h"
#include "cli/jsonoutput.h"
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
        const auto& sessions = store.sessions();
        out << (context.args().flag("--json") ? sessionsJson(sessions) + "\n"
                                              : sessionsTable(sessions, store.clock().now()));
    });
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
    return {
        {.name = "sessions",
         .options = {jsonOption},
         .summary = "refresh every provider and list the sessions",
         .run = sessionsCommand},
        {.name = "costs",
         .options = {jsonOption},
         .summary = "today's estimated spend, in total and per tool",
         .run = costsCommand},
        {.name = "diagnostics",
         .options = {jsonOption},
         .summary = "what Loomwatch can see, and what it keeps",
         .run = diagnosticsCommand},
    };
}

} // namespace loomwatch::cli
