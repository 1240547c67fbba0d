// Arbitrary bytes through the redaction and the excerpt. Whatever comes out must be valid UTF-8 and
// must hold nothing a second redaction would still find; the excerpt is a prefix of that text, collapsed.
#include "handoff/secretredaction.h"
#include "handoff/snippet.h"
#include "handoff/unicodetext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace loomwatch::handoff;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t maxCharacters = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::string redacted = redactSecrets(text);
    if (!isValidUtf8(redacted))
        std::abort();
    if (redactSecrets(redacted) != redacted)
        std::abort();

    const std::string snippet = makeSnippet(text, maxCharacters);
    if (!isValidUtf8(snippet) || prefixCharacters(snippet, maxCharacters) != snippet)
        std::abort();
    // Nothing of the excerpt comes from outside the redacted text. (Redacting the excerpt again may still change
    // it: a cut can end a word early, and collapsing can join the parts of a key-block header split by a line
    // break; neither was a credential in the text.)
    std::string collapsed;
    bool space = false;
    for (std::size_t pos = 0; pos < redacted.size();) {
        if (const std::size_t n = whiteSpaceLength(redacted, pos)) {
            pos += n;
            space = !collapsed.empty();
            continue;
        }
        if (space)
            collapsed += ' ';
        space = false;
        collapsed += redacted[pos++];
    }
    if (!collapsed.starts_with(snippet))
        std::abort();
    // Trimmed before it is cut, so only its end may be a space.
    if (!snippet.empty() && snippet.front() == ' ')
        std::abort();
    return 0;
}
