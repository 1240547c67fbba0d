#pragma once

#include <string>
#include <string_view>

namespace loomwatch::handoff {

inline constexpr std::string_view redactionMarker = "[REDACTED]";

// Replaces anything that looks like a credential with "[REDACTED]". UTF-8 in, UTF-8 out.
// Runs in time linear in the input, whatever the input holds.
std::string redactSecrets(std::string_view text);

} // namespace loomwatch::handoff
