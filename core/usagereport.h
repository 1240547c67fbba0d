#pragma once

#include "model/decimal.h"
#include "model/sessiontypes.h"
#include "pricing/pricingservice.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace loomwatch::ingestion {
class UsageLedger;
}

namespace loomwatch::core {

// Where the transcripts of the two agents that keep them live.
struct TranscriptRoots
{
    std::string claude;
    std::string codex;
};

struct UsageQuery
{
    enum class Grouping
    {
        daily,
        session,
    };

    // Days, both included, in the local time zone (in UTC with `utc`).
    std::chrono::year_month_day from;
    std::chrono::year_month_day to;
    bool utc = false;
    Grouping grouping = Grouping::daily;
    // Of Claude Code and Codex, the tools to report.
    std::vector<model::AgentTool> tools{model::AgentTool::claude, model::AgentTool::codex};
};

// What one model of one tool spent on one day, or in one session.
struct UsageRow
{
    // "YYYY-MM-DD" or the session's id ("claude:…", "codex:…").
    std::string group;
    model::AgentTool tool = model::AgentTool::claude;
    std::string model;
    model::TokenUsage tokens;
    // None when the model has no price.
    std::optional<model::Decimal> estimatedCost;

    bool operator==(const UsageRow&) const = default;
};

struct UsageReport
{
    // Days in order, then tools, then models; sessions latest activity first.
    std::vector<UsageRow> rows;
    model::TokenUsage totalTokens;
    // Rows without a price add nothing.
    model::Decimal totalCost;
};

// The tokens and estimates of every Claude Code and Codex transcript modified since the start of `query.from`, per
// record time: each record counts on the day of its time, within the query's days. A Claude Code message counts once,
// in the transcript that holds it first (transcripts taken oldest first), so a resumed session does not count the
// messages it repeats. Records without a model count under the last model their transcript names. Reads the
// transcripts through the ledger; may take a while on the first count.
UsageReport usageReport(const UsageQuery& query, ingestion::UsageLedger& ledger, const TranscriptRoots& roots,
                        const pricing::PricingService& pricing);

// One local day's estimated spend, per tool in AgentTool order.
struct DayCost
{
    std::chrono::year_month_day day;
    std::array<model::Decimal, 4> tools;

    model::Decimal total() const;
    bool operator==(const DayCost&) const = default;
};

// The seven local days up to the one of `now`, oldest first: Claude Code and Codex from `transcripts` (a daily
// report over those days); OpenCode and Cursor from `sessions`, each with its whole estimate on the day of its last
// activity, as today's cost counts them.
std::vector<DayCost> lastSevenDays(const UsageReport& transcripts, const std::vector<model::AgentSession>& sessions,
                                   model::Timestamp now);
// The query behind lastSevenDays(): the seven local days up to the one of `now`, daily.
UsageQuery lastSevenDaysQuery(model::Timestamp now);

// The calendar day of `t` in the local time zone, or in UTC.
std::chrono::year_month_day dayOf(model::Timestamp t, bool utc);
// "YYYY-MM-DD".
std::string dayText(std::chrono::year_month_day day);

} // namespace loomwatch::core
