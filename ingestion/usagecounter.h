#pragma once

#include "model/sessiontypes.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::ingestion {

// The tokens of one model in one quarter hour, as the transcript states them. For Codex `input` still includes the
// cached tokens (`cacheRead`); settled() splits them.
struct UsageSums
{
    // Empty for records whose model the transcript does not name: they count under the session's model.
    std::string model;
    // Quarter hours since 1970, UTC: local days are whole quarter hours in every time zone in use.
    std::int64_t quarter = 0;
    model::TokenUsage tokens;

    bool operator==(const UsageSums&) const = default;
};

inline constexpr std::int64_t quarterSeconds = 900;
std::int64_t quarterOf(model::Timestamp t);
model::Timestamp startOfQuarter(std::int64_t quarter);

// a + b without overflow: token counts stop at the largest 64-bit value.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b);
void addTokens(model::TokenUsage& sum, const model::TokenUsage& more);
// What a tool's raw sums mean as Loomwatch's four fields: Codex's input minus its cached part (never below 0).
model::TokenUsage settled(model::AgentTool tool, model::TokenUsage raw);

// What a count has to remember between two runs over the same transcript.
struct UsageCounterState
{
    // Codex: the totals of the last token_count event, and the model of the last turn_context.
    bool hasPrevious = false;
    std::int64_t previousInput = 0;
    std::int64_t previousCached = 0;
    std::int64_t previousOutput = 0;
    std::string currentModel;
    // The last model a usage record named (Claude Code: not "<synthetic>").
    std::string lastModel;

    bool operator==(const UsageCounterState&) const = default;
};

// Turns the complete lines of a Claude Code or Codex transcript into usage sums, one run of lines after another.
// Claude Code: every line whose "message" holds a "usage" object is one record, counted once per message id and
// request id. Codex: the increases of the cumulative token_count totals. Only lines that mention usage are decoded.
class UsageCounter
{
public:
    // `known`: sorted keys of the messages counted before (in this transcript, or in transcripts that come first);
    // records under them are not counted again.
    UsageCounter(model::AgentTool tool, UsageCounterState state, std::span<const std::uint64_t> known = {});
    ~UsageCounter();
    UsageCounter(const UsageCounter&) = delete;
    UsageCounter& operator=(const UsageCounter&) = delete;

    // `lines` must end with a line feed, and simdjson::SIMDJSON_PADDING readable bytes must follow it. Records
    // without a readable time count at `fallback`.
    void count(std::string_view lines, model::Timestamp fallback);

    const UsageCounterState& state() const { return m_state; }
    // Sorted by model, then quarter.
    std::vector<UsageSums> takeSums();
    // The keys first seen by this counter, sorted.
    std::vector<std::uint64_t> takeNewKeys();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    UsageCounterState m_state;
};

// Adds `more` into `sums` (both sorted by model, then quarter), keeping that order.
void mergeSums(std::vector<UsageSums>& sums, const std::vector<UsageSums>& more);
// The union of two sorted key lists.
std::vector<std::uint64_t> mergeKeys(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b);

} // namespace loomwatch::ingestion
