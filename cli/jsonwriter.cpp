#include "cli/jsonwriter.h"

#include <cstdio>

namespace loomwatch::cli {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is invalid.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t cp = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string jsonQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
        ++i;
    }
    out.push_back('"');
    return out;
}

void JsonWriter::separate()
{
    if (m_needComma)
        m_text.push_back(',');
    m_needComma = true;
}

JsonWriter& JsonWriter::beginObject()
{
    separate();
    m_text.push_back('{');
    m_needComma = false;
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    m_text.push_back('}');
    m_needComma = true;
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    separate();
    m_text.push_back('[');
    m_needComma = false;
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    m_text.push_back(']');
    m_needComma = true;
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name)
{
    separate();
    m_text += jsonQuoted(name);
    m_text.push_back(':');
    m_needComma = false;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text)
{
    separate();
    m_text += jsonQuoted(text);
    return *this;
}

JsonWriter& JsonWriter::value(const std::optional<std::string>& text)
{
    return text ? value(std::string_view(*text)) : null();
}

JsonWriter& JsonWriter::value(std::int64_t number)
{
    separate();
    m_text += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    separate();
    m_text += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    separate();
    m_text += "null";
    return *this;
}

} // namespace loomwatch::cli
