#pragma once

#include "model/sessiontypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace loomwatch::ingestion {

// A transcript's parse (all of a ParsedSession but its tokens) as the usage ledger keeps it beside the transcript's
// counts, so that an unchanged transcript is not parsed again. Stamped with JSONLParser::rulesVersion: a parse made
// under other rules does not decode.
std::string encodeSessionNote(const model::ParsedSession& session);
std::optional<model::ParsedSession> decodeSessionNote(std::string_view note);

} // namespace loomwatch::ingestion
