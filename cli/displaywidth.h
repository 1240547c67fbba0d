#pragma once

#include <string>
#include <string_view>

namespace loomwatch::cli {

// Terminal columns of UTF-8 text, counted per grapheme cluster (what a terminal draws as one
// character): East Asian wide and fullwidth characters and emoji take two, combining marks and
// other zero-width characters none, everything else one. Invalid bytes count as U+FFFD.
std::size_t displayWidth(std::string_view text);

// The text itself when it takes at most `width` columns; else as many whole clusters as fit in
// width - 1 columns, then "…".
std::string fitToWidth(std::string_view text, std::size_t width);

} // namespace loomwatch::cli
