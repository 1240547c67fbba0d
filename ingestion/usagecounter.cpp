#include "ingestion/usagecounter.h"

#include "ingestion/usagelines.h"

#include "model/timestamps.h"

#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_set>
#include <utility>

namespace loomwatch::ingestion {

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

} // namespace

std::int64_t quarterOf(model::Timestamp t)
{
    using Quarters = std::chrono::duration<std::int64_t, std::ratio<quarterSeconds>>;
    return std::chrono::floor<Quarters>(t.time_since_epoch()).count();
}

model::Timestamp startOfQuarter(std::int64_t quarter)
{
    return model::Timestamp(std::chrono::seconds(quarter * quarterSeconds));
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? (b > 0 ? int64Max : std::numeric_limits<std::int64_t>::min()) : sum;
}

void addTokens(model::TokenUsage& sum, const model::TokenUsage& more)
{
    sum.input = saturatingAdd(sum.input, more.input);
    sum.output = saturatingAdd(sum.output, more.output);
    sum.cacheRead = saturatingAdd(sum.cacheRead, more.cacheRead);
    sum.cacheWrite = saturatingAdd(sum.cacheWrite, more.cacheWrite);
}

model::TokenUsage settled(model::AgentTool tool, model::TokenUsage raw)
{
    if (tool == model::AgentTool::codex)
        raw.input = std::max<std::int64_t>(raw.input - raw.cacheRead, 0);
    return raw;
}

struct UsageCounter::Impl
{
    model::AgentTool tool;
    std::span<const std::uint64_t> known;
    std::unordered_set<std::uint64_t> newKeys;
    std::map<std::pair<std::string, std::int64_t>, model::TokenUsage> sums;
    decltype(sums)::iterator lastSum = sums.end();
    od::parser parser;

    bool isKnown(std::uint64_t key) const { return std::binary_search(known.begin(), known.end(), key); }

    void add(std::string_view modelName, std::int64_t quarter, const model::TokenUsage& tokens)
    {
        if (lastSum == sums.end() || lastSum->first.second != quarter || lastSum->first.first != modelName)
            lastSum = sums.try_emplace({std::string(modelName), quarter}).first;
        addTokens(lastSum->second, tokens);
    }

    std::int64_t quarterAt(bool hasTimestamp, std::string_view timestamp, model::Timestamp fallback) const
    {
        if (hasTimestamp)
            if (auto when = model::parseIso8601Timestamp(timestamp))
                return quarterOf(*when);
        return quarterOf(fallback);
    }
};

UsageCounter::UsageCounter(model::AgentTool tool, UsageCounterState state, std::span<const std::uint64_t> known)
    : m_impl(std::make_unique<Impl>()), m_state(std::move(state))
{
    m_impl->tool = tool;
    m_impl->known = known;
}

UsageCounter::~UsageCounter() = default;

void UsageCounter::count(std::string_view lines, model::Timestamp fallback)
{
    Impl& impl = *m_impl;
    const bool claude = impl.tool == model::AgentTool::claude;
    const char* const end = lines.data() + lines.size();
    // Only lines that hold one of these can carry usage; the others are never decoded.
    const std::string_view needles[2] = {claude ? std::string_view("\"usage\"") : std::string_view("token_count"),
                                         claude ? std::string_view() : std::string_view("turn_context")};
    const char* next[2] = {nullptr, nullptr};
    const auto find = [&](std::size_t i, const char* from) -> const char* {
        if (needles[i].empty())
            return end;
        const void* hit = ::memmem(from, static_cast<std::size_t>(end - from), needles[i].data(), needles[i].size());
        return hit ? static_cast<const char*>(hit) : end;
    };
    for (const char* position = lines.data(); position < end;) {
        for (std::size_t i = 0; i < 2; ++i)
            if (next[i] == nullptr || next[i] < position)
                next[i] = find(i, position);
        const char* hit = std::min(next[0], next[1]);
        if (hit == end)
            break;
        const void* previousBreak = ::memrchr(position, '\n', static_cast<std::size_t>(hit - position));
        const char* lineStart = previousBreak ? static_cast<const char*>(previousBreak) + 1 : position;
        const char* lineEnd = static_cast<const char*>(::memchr(hit, '\n', static_cast<std::size_t>(end - hit)));
        if (lineEnd == nullptr)
            lineEnd = end;
        position = lineEnd + 1;

        const auto length = static_cast<std::size_t>(lineEnd - lineStart);
        const std::size_t capacity = static_cast<std::size_t>(end - lineStart) + simdjson::SIMDJSON_PADDING;
        od::document doc;
        if (impl.parser.iterate(lineStart, length, capacity).get(doc) != simdjson::SUCCESS)
            continue;
        if (claude) {
            ClaudeLine line;
            if (readClaudeLine(doc, line) != simdjson::SUCCESS || !line.hasUsage)
                continue;
            const std::string_view modelName = line.hasModel ? line.model : std::string_view();
            if (modelName == "<synthetic>")
                continue;
            if (line.hasId) {
                // A response written as several lines (one per content block) repeats its id and usage.
                const std::uint64_t key = hashText(line.hasRequestId ? line.requestId : std::string_view(),
                                                   hashText(line.id, line.hasRequestId ? 1 : 0));
                if (impl.isKnown(key) || !impl.newKeys.insert(key).second)
                    continue;
            }
            impl.add(modelName, impl.quarterAt(line.hasTimestamp, line.timestamp, fallback), line.usage);
            if (!modelName.empty())
                m_state.lastModel.assign(modelName);
        } else {
            CodexLine line;
            if (readCodexLine(doc, line) != simdjson::SUCCESS)
                continue;
            const CodexBody& body = line.body();
            if (line.top.hasType && line.top.type == "turn_context") {
                if (body.hasModel)
                    m_state.currentModel.assign(body.model);
                continue;
            }
            if (!body.hasType || body.type != "token_count" || !body.hasTotals)
                continue;
            model::TokenUsage increase{body.input, body.output, body.cached, 0};
            // A counter that went down started again from zero: its totals are all new.
            if (m_state.hasPrevious && body.input >= m_state.previousInput && body.cached >= m_state.previousCached &&
                body.output >= m_state.previousOutput)
                increase = {body.input - m_state.previousInput, body.output - m_state.previousOutput,
                            body.cached - m_state.previousCached, 0};
            m_state.hasPrevious = true;
            m_state.previousInput = body.input;
            m_state.previousCached = body.cached;
            m_state.previousOutput = body.output;
            impl.add(m_state.currentModel, impl.quarterAt(line.hasTimestamp, line.timestamp, fallback), increase);
            if (!m_state.currentModel.empty())
                m_state.lastModel = m_state.currentModel;
        }
    }
}

std::vector<UsageSums> UsageCounter::takeSums()
{
    std::vector<UsageSums> result;
    result.reserve(m_impl->sums.size());
    for (auto& [key, tokens] : m_impl->sums)
        result.push_back({key.first, key.second, tokens});
    m_impl->sums.clear();
    m_impl->lastSum = m_impl->sums.end();
    return result;
}

std::vector<std::uint64_t> UsageCounter::takeNewKeys()
{
    std::vector<std::uint64_t> keys(m_impl->newKeys.begin(), m_impl->newKeys.end());
    std::sort(keys.begin(), keys.end());
    m_impl->newKeys.clear();
    return keys;
}

void mergeSums(std::vector<UsageSums>& sums, const std::vector<UsageSums>& more)
{
    if (more.empty())
        return;
    std::vector<UsageSums> merged;
    merged.reserve(sums.size() + more.size());
    const auto less = [](const UsageSums& a, const UsageSums& b) {
        return std::tie(a.model, a.quarter) < std::tie(b.model, b.quarter);
    };
    auto a = sums.begin();
    auto b = more.begin();
    while (a != sums.end() || b != more.end()) {
        if (b == more.end() || (a != sums.end() && less(*a, *b))) {
            merged.push_back(std::move(*a++));
        } else if (a == sums.end() || less(*b, *a)) {
            merged.push_back(*b++);
        } else {
            merged.push_back(std::move(*a++));
            addTokens(merged.back().tokens, (b++)->tokens);
        }
    }
    sums = std::move(merged);
}

std::vector<std::uint64_t> mergeKeys(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b)
{
    std::vector<std::uint64_t> merged;
    merged.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(merged));
    return merged;
}

} // namespace loomwatch::ingestion
