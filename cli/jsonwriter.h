#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace loomwatch::cli {

// Minimal streaming JSON text builder: compact output, keys in insertion order, strings always
// valid UTF-8 (each maximal ill-formed subpart becomes U+FFFD, so a strange path can never break a
// consumer).
class JsonWriter
{
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::optional<std::string>& text);
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(bool flag);
    JsonWriter& null();

    const std::string& text() const { return m_text; }

private:
    void separate();
    std::string m_text;
    bool m_needComma = false;
};

std::string jsonQuoted(std::string_view text);

} // namespace loomwatch::cli
