#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomwatch::handoff {

// Counts in user-perceived characters (extended grapheme clusters), not bytes or code points.

// The first `count` characters of `utf8`, or all of it when it is shorter.
std::string prefixCharacters(std::string_view utf8, std::size_t count);

// The bytes as UTF-8 text; every ill-formed sequence (per maximal subpart) becomes U+FFFD.
std::string toValidUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);

// Byte length of the white-space character (Unicode White_Space, the set of the regex class \s)
// starting at `pos`, or 0 when there is none there.
std::size_t whiteSpaceLength(std::string_view utf8, std::size_t pos);

} // namespace loomwatch::handoff
