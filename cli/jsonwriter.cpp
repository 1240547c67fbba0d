#include "cli/jsonwriter.h"

#include "handoff/unicodetext.h"

#include <cstdio>

namespace loomwatch::cli {

std::string jsonQuoted(std::string_view text)
{
    std::string repaired;
    if (!handoff::isValidUtf8(text)) {
        repaired = handoff::toValidUtf8(text);
        text = repaired;
    }
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
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
                out.push_back(byte);
            }
        }
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
