#include "cli/displaywidth.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>
#include <optional>

namespace loomwatch::cli {

namespace {

// Columns of ASCII text (controls take none), or nothing when the text is not ASCII.
std::optional<std::size_t> asciiWidth(std::string_view text)
{
    std::size_t width = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80)
            return std::nullopt;
        width += byte >= 0x20 && byte != 0x7F ? 1 : 0;
    }
    return width;
}

std::size_t clusterWidth(const icu::UnicodeString& text, int32_t start, int32_t end)
{
    const UChar32 first = text.char32At(start);
    const auto eastAsianWidth = u_getIntPropertyValue(first, UCHAR_EAST_ASIAN_WIDTH);
    if (eastAsianWidth == U_EA_WIDE || eastAsianWidth == U_EA_FULLWIDTH ||
        u_hasBinaryProperty(first, UCHAR_EMOJI_PRESENTATION))
        return 2;
    for (int32_t i = start; i < end; i = text.moveIndex32(i, 1)) {
        if (text.char32At(i) == 0xFE0F) // emoji presentation selector
            return 2;
    }
    switch (u_charType(first)) {
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_FORMAT_CHAR:
    case U_CONTROL_CHAR:
        return 0;
    default:
        return 1;
    }
}

// Calls visit(start, end, width) for each grapheme cluster until it returns false.
template <typename Visit>
void forEachCluster(const icu::UnicodeString& text, Visit visit)
{
    static thread_local std::unique_ptr<icu::BreakIterator> clusters = [] {
        UErrorCode status = U_ZERO_ERROR;
        return std::unique_ptr<icu::BreakIterator>(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    }();
    clusters->setText(text);
    for (int32_t start = clusters->first(), end = clusters->next(); end != icu::BreakIterator::DONE;
         start = end, end = clusters->next()) {
        if (!visit(start, end, clusterWidth(text, start, end)))
            return;
    }
}

} // namespace

std::size_t displayWidth(std::string_view text)
{
    if (const auto width = asciiWidth(text))
        return *width;
    std::size_t width = 0;
    const auto unicode = icu::UnicodeString::fromUTF8(text);
    forEachCluster(unicode, [&](int32_t, int32_t, std::size_t columns) {
        width += columns;
        return true;
    });
    return width;
}

std::string fitToWidth(std::string_view text, std::size_t width)
{
    if (displayWidth(text) <= width)
        return std::string(text);
    if (width == 0)
        return {};
    const auto unicode = icu::UnicodeString::fromUTF8(text);
    std::size_t used = 0;
    int32_t kept = 0;
    forEachCluster(unicode, [&](int32_t, int32_t end, std::size_t columns) {
        if (used + columns > width - 1)
            return false;
        used += columns;
        kept = end;
        return true;
    });
    std::string out;
    unicode.tempSubString(0, kept).toUTF8String(out);
    return out + "\xE2\x80\xA6";
}

} // namespace loomwatch::cli
