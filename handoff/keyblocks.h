#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomwatch::handoff {

// Length of the armour line of a private key at `pos`: "-----BEGIN " or "-----END ", then capital letters and
// spaces ending in "PRIVATE KEY" (PEM, OpenSSH) or "PRIVATE KEY BLOCK" (PGP), then "-----". 0 when there is none.
std::size_t privateKeyArmourLength(std::string_view text, std::size_t pos, bool begin);

// Every private-key block replaced by `marker`: from its BEGIN line to the nearest END line after it, or to the
// end of the text when no END line follows (a key whose end was cut off). Linear in the text.
std::string redactPrivateKeyBlocks(std::string_view text, std::string_view marker);

} // namespace loomwatch::handoff
