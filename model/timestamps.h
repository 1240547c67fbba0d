#pragma once

#include "model/sessiontypes.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace loomwatch::model {

// A Timestamp counts nanoseconds in 64 bits. Within this distance of 1970 (the years 1823 to 2116) the difference
// of any two, such as the time since the last activity, still fits; instants taken from outside data keep to it.
inline constexpr std::chrono::nanoseconds timestampLimit{std::int64_t{1} << 62};

// The instant `sinceEpoch` after 1970, clamped to timestampLimit counted in whole units of `sinceEpoch`.
template <typename Rep, typename Period>
Timestamp clampedTimestamp(std::chrono::duration<Rep, Period> sinceEpoch)
{
    static_assert(std::is_floating_point_v<Rep> || sizeof(Rep) >= sizeof(std::int64_t));
    using Duration = std::chrono::duration<Rep, Period>;
    constexpr auto limit = std::chrono::duration_cast<Duration>(timestampLimit);
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(std::clamp(sinceEpoch, -limit, limit)));
}

// Whether `sinceEpoch` lies strictly inside timestampLimit counted in whole units of `sinceEpoch`, so that any
// fraction of one more unit may still be added to it (whole seconds, say, before their fraction is known).
template <typename Rep, typename Period>
constexpr bool isWithinTimestampLimit(std::chrono::duration<Rep, Period> sinceEpoch)
{
    static_assert(std::is_floating_point_v<Rep> || sizeof(Rep) >= sizeof(std::int64_t));
    constexpr auto limit = std::chrono::duration_cast<std::chrono::duration<Rep, Period>>(timestampLimit);
    return sinceEpoch > -limit && sinceEpoch < limit;
}

// ISO 8601 extended date and time with 'T' ("2026-12-06T05:52:24"), optional fractional seconds, and "Z", an offset
// without a colon ("+0100") or no zone (UTC). Anything else, and instants outside timestampLimit, give nothing.
std::optional<Timestamp> parseIso8601Timestamp(std::string_view text);

} // namespace loomwatch::model
