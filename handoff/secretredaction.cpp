#include "handoff/secretredaction.h"

#include "handoff/unicodetext.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <array>
#include <memory>

namespace loomwatch::handoff {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool startsWith(std::string_view text, std::size_t pos, std::string_view prefix)
{
    return text.size() - pos >= prefix.size() && text.compare(pos, prefix.size(), prefix) == 0;
}

// ---- Armoured private-key blocks -------------------------------------------------------------
// "-----BEGIN " [A-Z ]* "PRIVATE KEY-----", anything, up to the nearest following END line of the
// same shape. Hand-written because a backtracking engine retries the lazy middle from every
// unmatched BEGIN, which is quadratic. The pattern is ASCII-only and case-sensitive, so working
// on UTF-8 bytes gives the same matches as working on characters.

// End of the armour line whose "-----BEGIN " / "-----END " prefix ends at `pos`, or npos.
// [A-Z ]* followed by "PRIVATE KEY-----" can only end where the run of [A-Z ] ends, since '-'
// is outside the run: so the run must end with "PRIVATE KEY" and be followed by "-----".
std::size_t armourLineEnd(std::string_view text, std::size_t pos)
{
    std::size_t end = pos;
    while (end < text.size() && ((text[end] >= 'A' && text[end] <= 'Z') || text[end] == ' '))
        ++end;
    constexpr std::string_view tail = "PRIVATE KEY";
    if (end - pos < tail.size() || text.compare(end - tail.size(), tail.size(), tail) != 0)
        return npos;
    return startsWith(text, end, "-----") ? end + 5 : npos;
}

std::string redactPrivateKeyBlocks(std::string_view text)
{
    constexpr std::string_view begin = "-----BEGIN ";
    constexpr std::string_view end = "-----END ";
    std::string out;
    std::size_t copied = 0;
    std::size_t search = 0;
    while (true) {
        const std::size_t start = text.find(begin, search);
        if (start == npos)
            break;
        const std::size_t headerEnd = armourLineEnd(text, start + begin.size());
        if (headerEnd == npos) {
            search = start + 1;
            continue;
        }
        std::size_t footerEnd = npos;
        for (std::size_t f = text.find(end, headerEnd); f != npos; f = text.find(end, f + 1)) {
            footerEnd = armourLineEnd(text, f + end.size());
            if (footerEnd != npos)
                break;
        }
        // No END line after this BEGIN means none after any later BEGIN either.
        if (footerEnd == npos)
            break;
        out.append(text, copied, start - copied);
        out += redactionMarker;
        copied = search = footerEnd;
    }
    if (copied == 0)
        return std::string(text);
    out.append(text, copied);
    return out;
}

// ---- Assignment-like credentials --------------------------------------------------------------
// (?i)(api[_-]?key|token|secret|password)(?:\\*["'])?\s*[:=]\s*(?:\\*["'])?[A-Za-z0-9_\-./+=]{8,}
// Every part is decided by the next character (the optional quote and separator cannot be
// confused with what follows them, the white-space runs and the value run are maximal), so one
// forward pass with no backtracking finds exactly the regex's leftmost matches.
//
// Case-insensitive matching follows ICU's full case folding: besides ASCII in either case, U+017F
// (long s) matches "s", U+212A (Kelvin sign) matches "k", and U+00DF / U+1E9E (sharp s) match
// the "ss" of "password". No other character folds to letters of these names.

constexpr std::string_view longS = "\xC5\xBF";
constexpr std::string_view kelvin = "\xE2\x84\xAA";

std::size_t matchLetter(std::string_view text, std::size_t pos, char lower)
{
    if (pos >= text.size())
        return npos;
    if ((static_cast<unsigned char>(text[pos]) | 0x20) == static_cast<unsigned char>(lower))
        return pos + 1;
    if (lower == 's' && startsWith(text, pos, longS))
        return pos + longS.size();
    if (lower == 'k' && startsWith(text, pos, kelvin))
        return pos + kelvin.size();
    return npos;
}

std::size_t matchLetters(std::string_view text, std::size_t pos, std::string_view lowerWord)
{
    for (char letter : lowerWord) {
        pos = matchLetter(text, pos, letter);
        if (pos == npos)
            return npos;
    }
    return pos;
}

std::size_t matchName(std::string_view text, std::size_t pos)
{
    switch (static_cast<unsigned char>(text[pos]) | 0x20) {
    case 'a': {
        std::size_t p = matchLetters(text, pos, "api");
        if (p == npos)
            return npos;
        if (p < text.size() && (text[p] == '_' || text[p] == '-'))
            ++p;
        return matchLetters(text, p, "key");
    }
    case 't':
        return matchLetters(text, pos, "token");
    case 'p': {
        std::size_t p = matchLetters(text, pos, "pa");
        if (p == npos)
            return npos;
        if (startsWith(text, p, "\xC3\x9F"))
            p += 2;
        else if (startsWith(text, p, "\xE1\xBA\x9E"))
            p += 3;
        else
            p = matchLetters(text, p, "ss");
        return p == npos ? npos : matchLetters(text, p, "word");
    }
    default: // 's', 'S' or the lead byte of U+017F
        return matchLetters(text, pos, "secret");
    }
}

std::size_t skipWhiteSpace(std::string_view text, std::size_t pos)
{
    while (std::size_t n = whiteSpaceLength(text, pos))
        pos += n;
    return pos;
}

// A quote after any number of backslashes: a pair inside a JSON string that is itself inside a JSON string
// (a tool's output quoted in a transcript line) has its quotes escaped more than once.
std::size_t skipQuote(std::string_view text, std::size_t pos)
{
    std::size_t p = pos;
    while (p < text.size() && text[p] == '\\')
        ++p;
    return p < text.size() && (text[p] == '"' || text[p] == '\'') ? p + 1 : pos;
}

// Length of the value character at `pos` ([A-Za-z0-9_\-./+=], closed over case), or 0.
std::size_t valueCharLength(std::string_view text, std::size_t pos)
{
    const auto c = static_cast<unsigned char>(text[pos]);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        c == '.' || c == '/' || c == '+' || c == '=')
        return 1;
    if (startsWith(text, pos, longS))
        return longS.size();
    if (startsWith(text, pos, kelvin))
        return kelvin.size();
    return 0;
}

// End of the match starting at `pos`, or npos.
std::size_t matchAssignment(std::string_view text, std::size_t pos)
{
    std::size_t p = matchName(text, pos);
    if (p == npos)
        return npos;
    p = skipWhiteSpace(text, skipQuote(text, p));
    if (p >= text.size() || (text[p] != ':' && text[p] != '='))
        return npos;
    p = skipQuote(text, skipWhiteSpace(text, p + 1));
    std::size_t count = 0;
    while (p < text.size()) {
        const std::size_t n = valueCharLength(text, p);
        if (n == 0)
            break;
        p += n;
        ++count;
    }
    return count >= 8 ? p : npos;
}

constexpr auto nameStarts = [] {
    std::array<bool, 256> starts{};
    for (unsigned char c : std::string_view("aAtTsSpP\xC5"))
        starts[c] = true;
    return starts;
}();

std::string redactAssignments(std::string text)
{
    std::string out;
    std::size_t copied = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (!nameStarts[static_cast<unsigned char>(text[pos])]) {
            ++pos;
            continue;
        }
        const std::size_t end = matchAssignment(text, pos);
        if (end == npos) {
            ++pos;
            continue;
        }
        out.append(text, copied, pos - copied);
        out += redactionMarker;
        copied = pos = end;
    }
    if (copied == 0)
        return text;
    out.append(text, copied);
    return out;
}

// ---- Token-shaped words -----------------------------------------------------------------------
// ICU keeps these two: its \b (word characters, combining marks ignored) is the reference, and
// both stay linear there: the greedy run is scanned once per start, and a start can only sit at
// the beginning of a word.

struct WordPatterns
{
    std::unique_ptr<icu::RegexPattern> openAiKey;
    std::unique_ptr<icu::RegexPattern> gitHubToken;
};

const WordPatterns& wordPatterns()
{
    static const WordPatterns patterns = [] {
        auto compile = [](const char16_t* pattern) {
            UErrorCode status = U_ZERO_ERROR;
            UParseError parseError{};
            std::unique_ptr<icu::RegexPattern> compiled(
                icu::RegexPattern::compile(icu::UnicodeString(pattern), 0, parseError, status));
            return U_SUCCESS(status) ? std::move(compiled) : nullptr;
        };
        return WordPatterns{compile(u"\\bsk-[A-Za-z0-9_-]{16,}\\b"), compile(u"\\bgh[pousr]_[A-Za-z0-9]{20,}\\b")};
    }();
    return patterns;
}

bool mayHoldGitHubToken(std::string_view text)
{
    for (std::size_t p = text.find("gh"); p != npos; p = text.find("gh", p + 1)) {
        if (p + 3 < text.size() && std::string_view("pousr").find(text[p + 2]) != npos && text[p + 3] == '_')
            return true;
    }
    return false;
}

bool replaceAll(const icu::RegexPattern* pattern, icu::UnicodeString& text)
{
    if (pattern == nullptr)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
    if (U_FAILURE(status))
        return false;
    icu::UnicodeString result = matcher->replaceAll(icu::UnicodeString(u"[REDACTED]"), status);
    if (U_FAILURE(status))
        return false;
    text = std::move(result);
    return true;
}

} // namespace

std::string redactSecrets(std::string_view input)
{
    // Key blocks go first: a credential pattern that ran first could eat a BEGIN or END line
    // ("SECRET=-----BEGIN RSA ...") and leave the key itself in the open.
    std::string text = redactAssignments(redactPrivateKeyBlocks(toValidUtf8(input)));

    const bool openAiKey = text.find("sk-") != npos;
    const bool gitHubToken = mayHoldGitHubToken(text);
    if (!openAiKey && !gitHubToken)
        return text;

    const WordPatterns& patterns = wordPatterns();
    icu::UnicodeString wide = icu::UnicodeString::fromUTF8(text);
    const bool ok = (!openAiKey || replaceAll(patterns.openAiKey.get(), wide)) &&
                    (!gitHubToken || replaceAll(patterns.gitHubToken.get(), wide));
    // Fail closed: text that could not be searched is not let through.
    if (!ok)
        return std::string(redactionMarker);
    text.clear();
    wide.toUTF8String(text);
    return text;
}

} // namespace loomwatch::handoff
