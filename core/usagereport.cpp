#include "core/usagereport.h"

#include "ingestion/transcripttree.h"
#include "ingestion/usageledger.h"
#include "model/pathtext.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>
#include <unordered_map>

namespace loomwatch::core {

namespace {

using namespace std::chrono;

// The instant a day begins, in the local time zone or in UTC.
model::Timestamp startOfDay(year_month_day day, bool utc)
{
    if (utc)
        return model::Timestamp(sys_days(day).time_since_epoch());
    std::tm tm{};
    tm.tm_year = static_cast<int>(day.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(day.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(day.day()));
    tm.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&tm));
}

// The id the session list gives the session of a transcript: a Claude Code subagent's is its parent's
// (<project>/<id>/subagents/<agent>.jsonl); a Codex rollout's is the UUID that ends its name.
std::string sessionIdOf(model::AgentTool tool, const std::string& path)
{
    std::string id = model::transcriptSessionName(path, tool == model::AgentTool::codex);
    if (tool == model::AgentTool::claude) {
        constexpr std::string_view subagents = "/subagents/";
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash >= subagents.size() - 1 &&
            path.compare(slash + 1 - subagents.size(), subagents.size(), subagents) == 0)
            id = model::lastPathComponent(path.substr(0, slash + 1 - subagents.size()));
    }
    return std::string(model::rawValue(tool)) + ":" + id;
}

} // namespace

year_month_day dayOf(model::Timestamp t, bool utc)
{
    if (utc)
        return year_month_day(floor<days>(t));
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(t));
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return year(tm.tm_year + 1900) / month(static_cast<unsigned>(tm.tm_mon + 1)) /
           day(static_cast<unsigned>(tm.tm_mday));
}

std::string dayText(year_month_day day)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()));
    return text;
}

UsageReport usageReport(const UsageQuery& query, ingestion::UsageLedger& ledger, const TranscriptRoots& roots,
                        const pricing::PricingService& pricing)
{
    const model::Timestamp from = startOfDay(query.from, query.utc);
    const model::Timestamp until = startOfDay(sys_days(query.to) + days(1), query.utc);
    // Raw sums per (group, tool, model), and when each session was last active.
    std::map<std::tuple<std::string, model::AgentTool, std::string>, model::TokenUsage> sums;
    std::unordered_map<std::string, std::int64_t> lastQuarter;
    std::unordered_map<std::int64_t, std::string> dayOfQuarter;
    for (model::AgentTool tool : {model::AgentTool::claude, model::AgentTool::codex}) {
        if (std::ranges::find(query.tools, tool) == query.tools.end())
            continue;
        const auto files =
            ingestion::transcriptsModifiedSince(tool == model::AgentTool::claude ? roots.claude : roots.codex, from);
        const auto usage = ledger.countOnce(tool, files);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string session =
                query.grouping == UsageQuery::Grouping::session ? sessionIdOf(tool, files[i]) : std::string();
            for (const ingestion::UsageSums& s : usage[i].sums) {
                const model::Timestamp t = ingestion::startOfQuarter(s.quarter);
                if (t < from || t >= until)
                    continue;
                std::string group = session;
                if (group.empty()) {
                    auto known = dayOfQuarter.find(s.quarter);
                    if (known == dayOfQuarter.end())
                        known = dayOfQuarter.emplace(s.quarter, dayText(dayOf(t, query.utc))).first;
                    group = known->second;
                } else {
                    auto& last = lastQuarter.try_emplace(session, s.quarter).first->second;
                    last = std::max(last, s.quarter);
                }
                ingestion::addTokens(sums[{group, tool, s.model.empty() ? usage[i].lastModel : s.model}], s.tokens);
            }
        }
    }

    UsageReport report;
    for (const auto& [key, raw] : sums) {
        const auto& [group, tool, modelName] = key;
        UsageRow row{group, tool, modelName, ingestion::settled(tool, raw), std::nullopt};
        if (!modelName.empty())
            row.estimatedCost = pricing.estimateCost(tool, modelName, row.tokens);
        ingestion::addTokens(report.totalTokens, row.tokens);
        if (row.estimatedCost)
            report.totalCost += *row.estimatedCost;
        report.rows.push_back(std::move(row));
    }
    if (query.grouping == UsageQuery::Grouping::session)
        std::ranges::stable_sort(report.rows, std::ranges::greater{},
                                 [&](const UsageRow& row) { return lastQuarter.at(row.group); });
    return report;
}

model::Decimal DayCost::total() const
{
    model::Decimal sum;
    for (const model::Decimal& amount : tools)
        sum += amount;
    return sum;
}

UsageQuery lastSevenDaysQuery(model::Timestamp now)
{
    UsageQuery query;
    query.to = dayOf(now, false);
    query.from = sys_days(query.to) - days(6);
    return query;
}

std::vector<DayCost> lastSevenDays(const UsageReport& transcripts, const std::vector<model::AgentSession>& sessions,
                                   model::Timestamp now)
{
    const UsageQuery query = lastSevenDaysQuery(now);
    std::vector<DayCost> result;
    std::map<std::string, std::size_t> index;
    for (sys_days day = query.from; day <= sys_days(query.to); day += days(1)) {
        index[dayText(day)] = result.size();
        result.push_back({day, {}});
    }
    const auto add = [&](const std::string& day, model::AgentTool tool, const model::Decimal& amount) {
        if (const auto it = index.find(day); it != index.end())
            result[it->second].tools[static_cast<std::size_t>(tool)] += amount;
    };
    for (const UsageRow& row : transcripts.rows)
        if (row.estimatedCost)
            add(row.group, row.tool, *row.estimatedCost);
    for (const model::AgentSession& s : sessions)
        if (s.estimatedCost && s.tool != model::AgentTool::claude && s.tool != model::AgentTool::codex)
            add(dayText(dayOf(s.lastActivityAt, false)), s.tool, *s.estimatedCost);
    return result;
}

} // namespace loomwatch::core
