#include "cli/usagecommand.h"

#include "cli/commandcontext.h"
#include "cli/jsonwriter.h"
#include "cli/terminaltable.h"
#include "core/appstore.h"
#include "core/usagereport.h"
#include "pricing/currencyformatter.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <charconv>
#include <memory>
#include <ostream>

namespace loomwatch::cli {

namespace {

using namespace std::chrono;

// "YYYY-MM-DD" naming a real day.
std::optional<year_month_day> parseDay(const std::string& text)
{
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    const auto number = [&](std::size_t at, std::size_t length, auto& value) {
        const char* end = text.data() + at + length;
        const auto [ptr, error] = std::from_chars(text.data() + at, end, value);
        return error == std::errc() && ptr == end;
    };
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !number(0, 4, y) || !number(5, 2, m) ||
        !number(8, 2, d))
        return std::nullopt;
    const year_month_day day{year(y), month(m), std::chrono::day(d)};
    return day.ok() ? std::optional(day) : std::nullopt;
}

std::string timeZoneName(bool utc)
{
    if (utc)
        return "UTC";
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    zone->getID(id);
    std::string name;
    id.toUTF8String(name);
    return name.empty() || name == "Etc/Unknown" ? "UTC" : name;
}

void writeTokens(JsonWriter& json, const model::TokenUsage& tokens)
{
    json.beginObject();
    json.key("input").value(tokens.input);
    json.key("output").value(tokens.output);
    json.key("cacheRead").value(tokens.cacheRead);
    json.key("cacheWrite").value(tokens.cacheWrite);
    json.endObject();
}

std::string reportJson(const core::UsageQuery& query, const core::UsageReport& report)
{
    const bool daily = query.grouping == core::UsageQuery::Grouping::daily;
    JsonWriter json;
    json.beginObject();
    json.key("from").value(core::dayText(query.from));
    json.key("to").value(core::dayText(query.to));
    json.key("timeZone").value(timeZoneName(query.utc));
    json.key("rows").beginArray();
    for (const core::UsageRow& row : report.rows) {
        json.beginObject();
        json.key(daily ? "day" : "session").value(row.group);
        json.key("tool").value(model::rawValue(row.tool));
        json.key("model").value(row.model);
        json.key("tokens");
        writeTokens(json, row.tokens);
        json.key("estimatedCost");
        if (row.estimatedCost)
            json.value(row.estimatedCost->toString());
        else
            json.null();
        json.endObject();
    }
    json.endArray();
    json.key("totals").beginObject();
    json.key("tokens");
    writeTokens(json, report.totalTokens);
    json.key("estimatedCost").value(report.totalCost.toString());
    json.endObject().endObject();
    return json.text();
}

std::string reportText(const core::UsageQuery& query, const core::UsageReport& report)
{
    const bool daily = query.grouping == core::UsageQuery::Grouping::daily;
    using Align = TerminalTable::Align;
    TerminalTable table({{daily ? "Day" : "Session", daily ? 10u : 44u},
                         {"Tool", 11},
                         {"Model", 26},
                         {"Input", 11, Align::right},
                         {"Output", 11, Align::right},
                         {"Cache read", 13, Align::right},
                         {"Cache write", 12, Align::right},
                         {"Cost", 10, Align::right}});
    const auto cells = [](std::string group, std::string tool, std::string modelName, const model::TokenUsage& t,
                          std::string cost) {
        return std::vector<std::string>{std::move(group),
                                        std::move(tool),
                                        std::move(modelName),
                                        std::to_string(t.input),
                                        std::to_string(t.output),
                                        std::to_string(t.cacheRead),
                                        std::to_string(t.cacheWrite),
                                        std::move(cost)};
    };
    for (const core::UsageRow& row : report.rows)
        table.addRow(cells(row.group, std::string(model::displayName(row.tool)), row.model, row.tokens,
                           row.estimatedCost ? pricing::formatUsd(*row.estimatedCost) : "no price"));
    table.addRow(cells("Total", "", "", report.totalTokens, pricing::formatUsd(report.totalCost)));
    return "Tokens and estimated costs from " + core::dayText(query.from) + " to " + core::dayText(query.to) + " (" +
           timeZoneName(query.utc) + ")\n\n" + table.render(true) +
           "\nEstimates at list prices; models without a price count $0.\n";
}

int runUsage(CommandContext& context, std::ostream& out, std::ostream& err)
{
    const Arguments& args = context.args();
    const auto usageError = [&](const std::string& message) {
        err << "loomwatch-cli: " << message << "\nRun 'loomwatch-cli help usage' for its usage.\n";
        return 2;
    };
    if (args.flag("--daily") && args.flag("--session"))
        return usageError("--daily and --session exclude each other");

    core::Services& services = context.services();
    core::UsageQuery query;
    query.utc = args.flag("--utc");
    query.grouping = args.flag("--session") ? core::UsageQuery::Grouping::session : core::UsageQuery::Grouping::daily;
    query.to = core::dayOf(services.clock->now(), query.utc);
    query.from = sys_days(query.to) - days(6);
    for (const auto& [option, day] : {std::pair{"--since", &query.from}, std::pair{"--until", &query.to}}) {
        if (args.values(option).empty())
            continue;
        const auto parsed = parseDay(args.values(option).front());
        if (!parsed)
            return usageError("'" + args.values(option).front() + "' is no day of the form YYYY-MM-DD for " + option);
        *day = *parsed;
    }
    if (sys_days(query.from) > sys_days(query.to))
        return usageError("--since is after --until");
    if (!args.values("--tool").empty())
        query.tools = {*model::agentToolFromRaw(args.values("--tool").front())};

    const auto report =
        core::usageReport(query, *services.usage, {services.paths.claudeProjects(), services.paths.codexSessions()},
                          services.store->pricing());
    out << (args.flag("--json") ? reportJson(query, report) + "\n" : reportText(query, report));
    out.flush();
    return 0;
}

} // namespace

Command usageCommand()
{
    return {.name = "usage",
            .options = {{"--daily", "", "one row per day, tool and model (the default)"},
                        {"--session", "", "one row per session and model"},
                        {"--since", "DAY", "from this day on (YYYY-MM-DD; default: six days before today)"},
                        {"--until", "DAY", "up to this day (YYYY-MM-DD; default: today)"},
                        {"--tool", "TOOL", "only this tool", {"claude", "codex"}},
                        {"--utc", "", "days in UTC instead of the local time zone"},
                        {"--json", "", "print JSON instead of text"}},
            .summary = "tokens and estimated cost per day or session",
            .description = "Prints the tokens and the estimated cost of every Claude Code and Codex transcript\n"
                           "modified in the window, per day (by each record's own time) or per session, and per\n"
                           "model. A Claude Code message counts once, in the transcript that holds it first.\n"
                           "Counts are kept in ~/.cache/Loomwatch/usage.sqlite, so later runs read only what the\n"
                           "agents appended since.",
            .example = "usage --since 2026-12-01 --tool claude --json",
            .keepsHistory = false,
            .run = runUsage};
}

} // namespace loomwatch::cli
