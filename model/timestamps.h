#pragma once

#include "model/sessiontypes.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace loomwatch::model {

// A Timestamp counts nanoseconds in 64 bits. Strictly within this distance of 1970 (the years 1823 to 2116) the
// difference of any two, such as the time since the last activity, still fits; instants taken from outside data
// keep to it.
inline constexpr std::chrono::nanoseconds timestampLimit{std::int64_t{1} << 62};

// The largest count of `Duration` strictly within timestampLimit.
template <typename Duration>
constexpr Duration timestampBound()
{
    static_assert(std::is_integral_v<typename Duration::rep> && sizeof(typename Duration::rep) >= 8);
    return std::chrono::duration_cast<Duration>(timestampLimit - std::chrono::nanoseconds(1));
}

// The instant `sinceEpoch` after 1970, clamped to the bounds in its own unit.
template <typename Rep, typename Period>
Timestamp clampedTimestamp(std::chrono::duration<Rep, Period> sinceEpoch)
{
    constexpr auto bound = timestampBound<std::chrono::duration<Rep, Period>>();
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(std::clamp(sinceEpoch, -bound, bound)));
}

// Whether `sinceEpoch` lies strictly between the bounds in its own unit, so that any fraction of one more unit may
// still be added to it (whole seconds, say, before their fraction is read).
template <typename Rep, typename Period>
constexpr bool isWithinTimestampLimit(std::chrono::duration<Rep, Period> sinceEpoch)
{
    constexpr auto bound = timestampBound<std::chrono::duration<Rep, Period>>();
    return sinceEpoch > -bound && sinceEpoch < bound;
}

// ISO 8601 extended date and time with 'T' ("2026-12-06T05:52:24"), optional fractional seconds, and "Z", an offset
// without a colon ("+0100") or no zone (UTC). Anything else, and instants outside timestampLimit, give nothing.
std::optional<Timestamp> parseIso8601Timestamp(std::string_view text);

} // namespace loomwatch::model
