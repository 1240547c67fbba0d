#pragma once

#include "model/clock.h"

#include <ctime>
#include <mutex>
#include <tuple>

namespace loomwatch::testing {

// A clock that stands still until told otherwise. Safe to read from any thread.
class FakeClock final : public model::Clock
{
public:
    explicit FakeClock(model::Timestamp start = {}) : m_now(start) {}

    model::Timestamp now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void set(model::Timestamp t) { advance(t - now()); }
    template <typename Duration>
    void advance(Duration d)
    {
        std::lock_guard lock(m_mutex);
        m_now += std::chrono::duration_cast<model::Timestamp::duration>(d);
    }

private:
    mutable std::mutex m_mutex;
    model::Timestamp m_now;
};

// A wall-clock time in the process's local time zone (the tests run with TZ=Europe/Berlin).
inline model::Timestamp localTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    std::tm tm{};
    std::tie(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_isdst) =
        std::tuple(year - 1900, month - 1, day, hour, minute, second, -1);
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

} // namespace loomwatch::testing
