#pragma once

#include "model/sessiontypes.h"

#include <simdjson.h>

#include <cstdint>
#include <string_view>

// What the usage counts read from one transcript line, decoded with simdjson's on-demand parser in one pass over the
// members that matter.
namespace loomwatch::ingestion {

namespace od = simdjson::ondemand;

// A 64-bit hash of `text`. Stored in the usage ledger: changing it needs a new ledger format.
std::uint64_t hashText(std::string_view text, std::uint64_t seed);

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

// A Claude Code line: its message's id, model and usage, its request id and time.
simdjson::error_code readClaudeLine(od::document& doc, ClaudeLine& line);

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

struct CodexLine
{
    CodexBody top;
    bool hasPayload = false;
    CodexBody payload;
    bool hasTimestamp = false;
    std::string_view timestamp;

    const CodexBody& body() const { return hasPayload ? payload : top; }
};

simdjson::error_code readCodexLine(od::document& doc, CodexLine& line);

} // namespace loomwatch::ingestion
