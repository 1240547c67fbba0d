#include "model/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace loomwatch::model;
using namespace std::chrono;

TEST(Clock, IsoTextIsUtcWithMilliseconds)
{
    const Timestamp t = sys_days{2026y / December / 6} + 5h + 52min + 24s + 123456us;
    EXPECT_EQ(formatIso8601Millis(t), "2026-12-06T05:52:24.123Z");
    EXPECT_EQ(formatIso8601Millis(Timestamp{}), "1970-01-01T00:00:00.000Z");
}

TEST(Clock, SameLocalDayFollowsTheTimeZone)
{
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    // 22:59:59 UTC is 23:59:59 in Berlin in winter; 23:00:00 UTC is the next Berlin day.
    const Timestamp lateEvening = sys_days{2026y / December / 5} + 22h + 59min + 59s;
    const Timestamp midnight = sys_days{2026y / December / 5} + 23h;
    const Timestamp noon = sys_days{2026y / December / 5} + 12h;
    EXPECT_TRUE(isSameLocalDay(noon, lateEvening));
    EXPECT_FALSE(isSameLocalDay(lateEvening, midnight));
    EXPECT_TRUE(isSameLocalDay(midnight, midnight + 23h + 59min));
}
