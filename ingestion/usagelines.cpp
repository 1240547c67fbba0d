#include "ingestion/usagelines.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace loomwatch::ingestion {

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

// Calls visit(key, value) for each member of `object` in order; stops at the first error, its own or visit's.
template <typename Visit>
simdjson::error_code forEachMember(od::object object, Visit&& visit)
{
    for (auto field : object) {
        std::string_view key;
        od::value value;
        if (auto error = field.unescaped_key().get(key); error != simdjson::SUCCESS)
            return error;
        if (auto error = field.value().get(value); error != simdjson::SUCCESS)
            return error;
        if (auto error = visit(key, value); error != simdjson::SUCCESS)
            return error;
    }
    return simdjson::SUCCESS;
}

simdjson::error_code readClaudeUsage(od::object usage, model::TokenUsage& tokens)
{
    return forEachMember(usage, [&](std::string_view key, od::value value) {
        if (key == "input_tokens")
            tokens.input = tokenCount(value);
        else if (key == "output_tokens")
            tokens.output = tokenCount(value);
        else if (key == "cache_read_input_tokens")
            tokens.cacheRead = tokenCount(value);
        else if (key == "cache_creation_input_tokens")
            tokens.cacheWrite = tokenCount(value);
        return simdjson::SUCCESS;
    });
}

simdjson::error_code readClaudeMessage(od::value value, ClaudeLine& line)
{
    line.hasUsage = line.hasId = line.hasModel = false;
    od::object message;
    if (value.get_object().get(message) != simdjson::SUCCESS)
        return simdjson::SUCCESS; // not an object: no record
    return forEachMember(message, [&](std::string_view key, od::value member) {
        if (key == "id") {
            line.id = stringOrEmpty(member, line.hasId);
        } else if (key == "model") {
            line.model = stringOrEmpty(member, line.hasModel);
        } else if (key == "usage") {
            od::object usage;
            line.hasUsage = member.get_object().get(usage) == simdjson::SUCCESS;
            line.usage = {};
            if (line.hasUsage)
                return readClaudeUsage(usage, line.usage);
        }
        return simdjson::SUCCESS;
    });
}

simdjson::error_code readCodexTotals(od::value value, CodexBody& body)
{
    body.hasTotals = false;
    od::object info;
    if (value.get_object().get(info) != simdjson::SUCCESS)
        return simdjson::SUCCESS; // null: no totals
    return forEachMember(info, [&](std::string_view key, od::value member) {
        od::object totals;
        if (key != "total_token_usage" || member.get_object().get(totals) != simdjson::SUCCESS)
            return simdjson::SUCCESS;
        body.hasTotals = true;
        body.input = body.cached = body.output = 0;
        return forEachMember(totals, [&](std::string_view name, od::value number) {
            if (name == "input_tokens")
                body.input = tokenCount(number);
            else if (name == "cached_input_tokens")
                body.cached = tokenCount(number);
            else if (name == "output_tokens")
                body.output = tokenCount(number);
            return simdjson::SUCCESS;
        });
    });
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

} // namespace

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

simdjson::error_code readClaudeLine(od::document& doc, ClaudeLine& line)
{
    od::object top;
    if (auto error = doc.get_object().get(top); error != simdjson::SUCCESS)
        return error;
    const auto error = forEachMember(top, [&](std::string_view key, od::value value) {
        if (key == "message")
            return readClaudeMessage(value, line);
        if (key == "requestId")
            line.requestId = stringOrEmpty(value, line.hasRequestId);
        else if (key == "timestamp")
            line.timestamp = stringOrEmpty(value, line.hasTimestamp);
        return simdjson::SUCCESS;
    });
    if (error != simdjson::SUCCESS)
        return error;
    return atEnd(doc) ? simdjson::SUCCESS : simdjson::TRAILING_CONTENT;
}

simdjson::error_code readCodexLine(od::document& doc, CodexLine& line)
{
    od::object top;
    if (auto error = doc.get_object().get(top); error != simdjson::SUCCESS)
        return error;
    const auto error = forEachMember(top, [&](std::string_view key, od::value value) {
        if (key == "timestamp") {
            line.timestamp = stringOrEmpty(value, line.hasTimestamp);
        } else if (key == "payload") {
            od::object payload;
            line.hasPayload = value.get_object().get(payload) == simdjson::SUCCESS;
            line.payload = {};
            if (line.hasPayload)
                return forEachMember(payload, [&](std::string_view name, od::value inner) {
                    return readCodexMember(name, inner, line.payload);
                });
        } else {
            return readCodexMember(key, value, line.top);
        }
        return simdjson::SUCCESS;
    });
    if (error != simdjson::SUCCESS)
        return error;
    return atEnd(doc) ? simdjson::SUCCESS : simdjson::TRAILING_CONTENT;
}

} // namespace loomwatch::ingestion
