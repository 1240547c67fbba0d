#include "handoff/keyblocks.h"

namespace loomwatch::handoff {

namespace {

constexpr std::string_view beginPrefix = "-----BEGIN ";
constexpr std::string_view endPrefix = "-----END ";

} // namespace

std::size_t privateKeyArmourLength(std::string_view text, std::size_t pos, bool begin)
{
    const std::string_view prefix = begin ? beginPrefix : endPrefix;
    if (pos > text.size() || text.compare(pos, prefix.size(), prefix) != 0)
        return 0;
    const std::size_t start = pos + prefix.size();
    // The run of [A-Z ] can only end where a '-' follows, so it must end with the key's name.
    std::size_t end = start;
    while (end < text.size() && ((text[end] >= 'A' && text[end] <= 'Z') || text[end] == ' '))
        ++end;
    const std::string_view run = text.substr(start, end - start);
    if (!run.ends_with("PRIVATE KEY") && !run.ends_with("PRIVATE KEY BLOCK"))
        return 0;
    if (text.size() - end < 5 || text.compare(end, 5, "-----") != 0)
        return 0;
    return end + 5 - pos;
}

std::string redactPrivateKeyBlocks(std::string_view text, std::string_view marker)
{
    std::string out;
    std::size_t copied = 0;
    std::size_t search = 0;
    while (true) {
        const std::size_t start = text.find(beginPrefix, search);
        if (start == std::string_view::npos)
            break;
        const std::size_t header = privateKeyArmourLength(text, start, true);
        if (header == 0) {
            search = start + 1;
            continue;
        }
        std::size_t blockEnd = text.size();
        for (std::size_t f = text.find(endPrefix, start + header); f != std::string_view::npos;
             f = text.find(endPrefix, f + 1)) {
            if (const std::size_t footer = privateKeyArmourLength(text, f, false)) {
                blockEnd = f + footer;
                break;
            }
        }
        out.append(text, copied, start - copied);
        out += marker;
        copied = search = blockEnd;
    }
    if (copied == 0)
        return std::string(text);
    out.append(text, copied);
    return out;
}

} // namespace loomwatch::handoff
