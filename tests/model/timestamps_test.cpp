#include "model/clock.h"
#include "model/timestamps.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace loomwatch::model;
using namespace std::chrono;

TEST(Timestamps, Iso8601FormsAndTheirText)
{
    const Timestamp base = sys_days{2026y / December / 6} + 5h + 52min + 24s;
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T05:52:24Z"), base);
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T05:52:24"), base); // no zone means UTC
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T05:52:24.1Z"), base + 100ms);
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T05:52:24.1234567899Z"), base + 123456789ns);
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T06:52:24+0100"), base);
    EXPECT_EQ(parseIso8601Timestamp("2026-12-06T03:22:24.5-0230"), base + 500ms);
    for (const char* invalid : {"2026-12-06", "2026-12-06 05:52:24Z", "2026-12-06T05:52Z", "2026-13-06T05:52:24Z",
                                "2026-02-30T05:52:24Z", "2026-12-06T05:52:24.Z", "2026-12-06T05:52:24+01:00",
                                "2026-12-06T05:52:24z", "2026-12-06T24:00:00Z", "2026-12-06T05:52:24Zjunk", ""})
        EXPECT_EQ(parseIso8601Timestamp(invalid), std::nullopt) << invalid;

    // Written back in UTC, cut (not rounded) to milliseconds, also before 1970.
    EXPECT_EQ(formatIso8601Millis(base + 999999us), "2026-12-06T05:52:24.999Z");
    EXPECT_EQ(formatIso8601Millis(Timestamp{} - 1ns), "1969-12-31T23:59:59.999Z");
}

TEST(Timestamps, StayWithinTwoToTheSixtySecondNanosecondsOf1970)
{
    // Parsed instants further out are no timestamps (they used to overflow while being converted).
    EXPECT_EQ(parseIso8601Timestamp("1823-11-12T00:06:23Z"), Timestamp(-4611686017s));
    EXPECT_EQ(parseIso8601Timestamp("2116-02-20T23:53:37.999999999Z"), Timestamp(4611686017999999999ns));
    for (const char* outOfRange : {"2116-02-20T23:53:38Z", "1823-11-12T00:06:22Z", "1013-12-06T09:00:01.100Z",
                                   "0000-01-01T00:00:00Z", "9999-12-31T23:59:59.999-2359"})
        EXPECT_EQ(parseIso8601Timestamp(outOfRange), std::nullopt) << outOfRange;

    // Counts from outside data are clamped in their own unit, so that the time between any two still fits.
    EXPECT_EQ(clampedTimestamp(milliseconds(INT64_MAX)), Timestamp(4611686018427ms));
    EXPECT_EQ(clampedTimestamp(microseconds(INT64_MIN)), Timestamp(-4611686018427387us));
    EXPECT_EQ(clampedTimestamp(milliseconds(-1234)), Timestamp(-1234ms));
    EXPECT_EQ(clampedTimestamp(nanoseconds(INT64_MAX)) - clampedTimestamp(nanoseconds(INT64_MIN)),
              2 * (timestampLimit - 1ns));
}
