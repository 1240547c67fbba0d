#include "handoff/unicodetext.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace loomwatch::handoff {

namespace {

icu::BreakIterator* characterIterator()
{
    // Creating a break iterator loads its rules; one per thread is kept and reused.
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return iterator.get();
}

// Fallback when ICU has no break rules: one character per code point.
std::string prefixCodePoints(std::string_view utf8, std::size_t count)
{
    std::size_t i = 0;
    const auto length = static_cast<std::int32_t>(utf8.size());
    auto pos = static_cast<std::int32_t>(0);
    for (; i < count && pos < length; ++i) {
        UChar32 c;
        U8_NEXT(utf8.data(), pos, length, c);
        (void)c;
    }
    return std::string(utf8.substr(0, static_cast<std::size_t>(pos)));
}

} // namespace

std::string prefixCharacters(std::string_view utf8, std::size_t count)
{
    if (utf8.size() <= count)
        return std::string(utf8); // never more characters than bytes
    if (count == 0)
        return {};

    // ASCII needs no break rules except that CR LF is one character. The boundary after the last
    // character counted is only certain when an ASCII byte follows it (a combining mark would join).
    std::size_t pos = 0;
    std::size_t counted = 0;
    while (pos < utf8.size() && counted < count && static_cast<unsigned char>(utf8[pos]) < 0x80) {
        pos += (utf8[pos] == '\r' && pos + 1 < utf8.size() && utf8[pos + 1] == '\n') ? 2 : 1;
        ++counted;
    }
    if (pos == utf8.size() || (counted == count && static_cast<unsigned char>(utf8[pos]) < 0x80))
        return std::string(utf8.substr(0, pos));

    icu::BreakIterator* iterator = characterIterator();
    if (iterator == nullptr)
        return prefixCodePoints(utf8, count);
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<std::int64_t>(utf8.size()), &status);
    if (U_FAILURE(status))
        return prefixCodePoints(utf8, count);
    iterator->setText(text, status);
    std::int32_t boundary = iterator->first();
    std::size_t end = 0;
    for (std::size_t i = 0; i < count && U_SUCCESS(status); ++i) {
        boundary = iterator->next();
        if (boundary == icu::BreakIterator::DONE) {
            end = utf8.size();
            break;
        }
        end = static_cast<std::size_t>(boundary);
    }
    // Detach before closing: the iterator outlives this call.
    UText* empty = utext_openUTF8(nullptr, "", 0, &status);
    iterator->setText(empty, status);
    utext_close(text);
    utext_close(empty);
    return std::string(utf8.substr(0, end));
}

bool isValidUtf8(std::string_view bytes)
{
    const auto length = static_cast<std::int32_t>(bytes.size());
    std::int32_t pos = 0;
    while (pos < length) {
        if (static_cast<unsigned char>(bytes[static_cast<std::size_t>(pos)]) < 0x80) {
            ++pos;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes.data(), pos, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

std::string toValidUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    const auto length = static_cast<std::int32_t>(bytes.size());
    std::int32_t pos = 0;
    while (pos < length) {
        const std::int32_t start = pos;
        UChar32 c;
        U8_NEXT(bytes.data(), pos, length, c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(bytes.data() + start, static_cast<std::size_t>(pos - start));
    }
    return out;
}

std::size_t whiteSpaceLength(std::string_view utf8, std::size_t pos)
{
    if (pos >= utf8.size())
        return 0;
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    if (lead < 0x80)
        return (lead == ' ' || (lead >= '\t' && lead <= '\r')) ? 1 : 0;
    // Every non-ASCII white-space character starts with one of these bytes (U+0085, U+00A0, U+1680,
    // U+2000..U+205F, U+3000).
    if (lead != 0xC2 && lead != 0xE1 && lead != 0xE2 && lead != 0xE3)
        return 0;
    auto next = static_cast<std::int32_t>(pos);
    UChar32 c;
    U8_NEXT(utf8.data(), next, static_cast<std::int32_t>(utf8.size()), c);
    return (c >= 0 && u_isUWhiteSpace(c)) ? static_cast<std::size_t>(next) - pos : 0;
}

} // namespace loomwatch::handoff
