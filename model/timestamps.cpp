#include "model/timestamps.h"

#include <cstddef>

namespace loomwatch::model {

namespace {

// Reads text[pos, pos + count) as decimal digits.
bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& out)
{
    if (pos + count > text.size())
        return false;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    out = value;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

// Any number of digits after the decimal point; those past the ninth do not count.
bool readFraction(std::string_view text, std::size_t& pos, std::int64_t& nanos)
{
    const std::size_t digitsStart = pos;
    std::int64_t scale = 100'000'000;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        nanos += (text[pos] - '0') * scale;
        scale /= 10;
        ++pos;
    }
    return pos != digitsStart;
}

// "Z", "+hhmm", "-hhmm" or nothing, as minutes east of UTC.
bool readZone(std::string_view text, std::size_t& pos, int& offsetMinutes)
{
    offsetMinutes = 0;
    if (pos == text.size())
        return true;
    const char sign = text[pos++];
    if (sign == 'Z')
        return true;
    int hours = 0, minutes = 0;
    if ((sign != '+' && sign != '-') || !readDigits(text, pos, 2, hours) || !readDigits(text, pos, 2, minutes) ||
        hours > 23 || minutes > 59)
        return false;
    offsetMinutes = (hours * 60 + minutes) * (sign == '-' ? -1 : 1);
    return true;
}

} // namespace

std::optional<Timestamp> parseIso8601Timestamp(std::string_view text)
{
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, pos, 4, year) || !expect(text, pos, '-') || !readDigits(text, pos, 2, month) ||
        !expect(text, pos, '-') || !readDigits(text, pos, 2, day) || !expect(text, pos, 'T') ||
        !readDigits(text, pos, 2, hour) || !expect(text, pos, ':') || !readDigits(text, pos, 2, minute) ||
        !expect(text, pos, ':') || !readDigits(text, pos, 2, second))
        return std::nullopt;
    std::int64_t nanos = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        if (!readFraction(text, pos, nanos))
            return std::nullopt;
    }
    int offsetMinutes = 0;
    if (!readZone(text, pos, offsetMinutes) || pos != text.size())
        return std::nullopt;

    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const auto whole = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) - minutes(offsetMinutes);
    if (!isWithinTimestampLimit(whole.time_since_epoch()))
        return std::nullopt;
    return time_point_cast<system_clock::duration>(whole) + duration_cast<system_clock::duration>(nanoseconds(nanos));
}

} // namespace loomwatch::model
