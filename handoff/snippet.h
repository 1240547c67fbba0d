#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomwatch::handoff {

inline constexpr std::size_t snippetLength = 160;

// A short excerpt safe to keep or show: the text redacted, every run of white space collapsed to
// one space, trimmed, and cut to its first `maxCharacters` user-perceived characters (no ellipsis).
// May be empty.
std::string makeSnippet(std::string_view text, std::size_t maxCharacters = snippetLength);

} // namespace loomwatch::handoff
