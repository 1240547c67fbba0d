#include "ingestion/usagecounter.h"

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

namespace od = simdjson::ondemand;

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    h ^= h >> 33;
    return h;
}

// Stored in the ledger: changing it needs a new ledger format.
std::uint64_t hashText(std::string_view text, std::uint64_t seed)
{
    std::uint64_t h = mix(seed ^ (text.size() * 0x9E3779B97F4A7C15u));
    for (std::size_t i = 0; i < text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, std::min<std::size_t>(8, text.size() - i));
        h = mix(h ^ word) + 0x9E3779B97F4A7C15u;
    }
    return h;
}

// A token count as the line rules read numbers: truncated toward zero; anything but a number in 0..2^63-1 is 0.
std::int64_t tokenCount(od::value value)
{
    od::json_type type;
    if (value.type().get(type) != simdjson::SUCCESS || type != od::json_type::number)
        return 0;
    od::number number;
    if (value.get_number().get(number) != simdjson::SUCCESS)
        return 0;
    if (number.is_int64())
        return std::max<std::int64_t>(number.get_int64(), 0);
    if (number.is_uint64())
        return 0; // above the signed range
    const double d = std::trunc(number.get_double());
    return d >= 0 && d < 9223372036854775808.0 ? static_cast<std::int64_t>(d) : 0;
}

std::string_view stringOrEmpty(od::value value, bool& isString)
{
    std::string_view text;
    isString = value.get_string().get(text) == simdjson::SUCCESS;
    return isString ? text : std::string_view();
}

// Whether nothing but white space follows the value just read.
bool atEnd(od::document& doc)
{
    return doc.current_location().error() == simdjson::OUT_OF_BOUNDS;
}

struct ClaudeLine
{
    bool hasUsage = false;
    model::TokenUsage usage;
    bool hasId = false;
    std::string_view id;
    bool hasModel = false;
    std::string_view model;
    bool hasRequestId = false;
    std::string_view requestId;
    bool hasTimestamp = false;
    std::string_view timestamp;
};

simdjson::error_code readClaudeUsage(od::object usage, model::TokenUsage& tokens)
{
    for (auto field : usage) {
        std::string_view key;
        od::value value;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(value); error != simdjson::SUCCESS)
            return error;
        if (key == "input_tokens")
            tokens.input = tokenCount(value);
        else if (key == "output_tokens")
            tokens.output = tokenCount(value);
        else if (key == "cache_read_input_tokens")
            tokens.cacheRead = tokenCount(value);
        else if (key == "cache_creation_input_tokens")
            tokens.cacheWrite = tokenCount(value);
    }
    return simdjson::SUCCESS;
}

simdjson::error_code readClaudeMessage(od::value value, ClaudeLine& line)
{
    line.hasUsage = line.hasId = line.hasModel = false;
    od::object message;
    if (value.get_object().get(message) != simdjson::SUCCESS)
        return simdjson::SUCCESS; // not an object: no record
    for (auto field : message) {
        std::string_view key;
        od::value member;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(member); error != simdjson::SUCCESS)
            return error;
        if (key == "id") {
            line.id = stringOrEmpty(member, line.hasId);
        } else if (key == "model") {
            line.model = stringOrEmpty(member, line.hasModel);
        } else if (key == "usage") {
            od::object usage;
            line.hasUsage = member.get_object().get(usage) == simdjson::SUCCESS;
            line.usage = {};
            if (line.hasUsage)
                if (auto error = readClaudeUsage(usage, line.usage); error != simdjson::SUCCESS)
                    return error;
        }
    }
    return simdjson::SUCCESS;
}

simdjson::error_code readClaudeLine(od::document& doc, ClaudeLine& line)
{
    od::object top;
    if (auto error = doc.get_object().get(top); error != simdjson::SUCCESS)
        return error;
    for (auto field : top) {
        std::string_view key;
        od::value value;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(value); error != simdjson::SUCCESS)
            return error;
        if (key == "message") {
            if (auto error = readClaudeMessage(value, line); error != simdjson::SUCCESS)
                return error;
        } else if (key == "requestId") {
            line.requestId = stringOrEmpty(value, line.hasRequestId);
        } else if (key == "timestamp") {
            line.timestamp = stringOrEmpty(value, line.hasTimestamp);
        }
    }
    return atEnd(doc) ? simdjson::SUCCESS : simdjson::TRAILING_CONTENT;
}

// What a Codex line says, from its payload (or, in files without envelopes, from the line itself).
struct CodexBody
{
    bool hasType = false;
    std::string_view type;
    bool hasModel = false;
    std::string_view model;
    bool hasTotals = false;
    std::int64_t input = 0;
    std::int64_t cached = 0;
    std::int64_t output = 0;
};

simdjson::error_code readCodexTotals(od::value value, CodexBody& body)
{
    body.hasTotals = false;
    od::object info;
    if (value.get_object().get(info) != simdjson::SUCCESS)
        return simdjson::SUCCESS; // null: no totals
    for (auto field : info) {
        std::string_view key;
        od::value member;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(member); error != simdjson::SUCCESS)
            return error;
        od::object totals;
        if (key != "total_token_usage" || member.get_object().get(totals) != simdjson::SUCCESS)
            continue;
        body.hasTotals = true;
        body.input = body.cached = body.output = 0;
        for (auto total : totals) {
            std::string_view name;
            od::value number;
            if (auto error = total.unescaped_key().get(name); error != simdjson::SUCCESS)
                return error;
            if (auto error = total.value().get(number); error != simdjson::SUCCESS)
                return error;
            if (name == "input_tokens")
                body.input = tokenCount(number);
            else if (name == "cached_input_tokens")
                body.cached = tokenCount(number);
            else if (name == "output_tokens")
                body.output = tokenCount(number);
        }
    }
    return simdjson::SUCCESS;
}

// One member of a body; false when it is none of the members a body is read for.
simdjson::error_code readCodexMember(std::string_view key, od::value value, CodexBody& body)
{
    if (key == "type")
        body.type = stringOrEmpty(value, body.hasType);
    else if (key == "model")
        body.model = stringOrEmpty(value, body.hasModel);
    else if (key == "info")
        return readCodexTotals(value, body);
    return simdjson::SUCCESS;
}

struct CodexLine
{
    CodexBody top;
    bool hasPayload = false;
    CodexBody payload;
    bool hasTimestamp = false;
    std::string_view timestamp;

    const CodexBody& body() const { return hasPayload ? payload : top; }
};

simdjson::error_code readCodexLine(od::document& doc, CodexLine& line)
{
    od::object top;
    if (auto error = doc.get_object().get(top); error != simdjson::SUCCESS)
        return error;
    for (auto field : top) {
        std::string_view key;
        od::value value;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(value); error != simdjson::SUCCESS)
            return error;
        if (key == "timestamp") {
            line.timestamp = stringOrEmpty(value, line.hasTimestamp);
        } else if (key == "payload") {
            od::object payload;
            line.hasPayload = value.get_object().get(payload) == simdjson::SUCCESS;
            line.payload = {};
            if (!line.hasPayload)
                continue;
            for (auto member : payload) {
                std::string_view name;
                od::value inner;
                if (auto error = member.unescaped_key().get(name); error != simdjson::SUCCESS)
                    return error;
                if (auto error = member.value().get(inner); error != simdjson::SUCCESS)
                    return error;
                if (auto error = readCodexMember(name, inner, line.payload); error != simdjson::SUCCESS)
                    return error;
            }
        } else if (auto error = readCodexMember(key, value, line.top); error != simdjson::SUCCESS) {
            return error;
        }
    }
    return atEnd(doc) ? simdjson::SUCCESS : simdjson::TRAILING_CONTENT;
}

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
