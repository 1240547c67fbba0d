#include "model/clock.h"

#include <cstdio>
#include <ctime>

namespace loomwatch::model {

namespace {

class SystemClock final : public Clock
{
public:
    Timestamp now() const override { return std::chrono::system_clock::now(); }
};

std::tm localDay(Timestamp t)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return tm;
}

} // namespace

std::shared_ptr<const Clock> systemClock()
{
    static const auto clock = std::make_shared<const SystemClock>();
    return clock;
}

bool isSameLocalDay(Timestamp a, Timestamp b)
{
    const std::tm x = localDay(a);
    const std::tm y = localDay(b);
    return x.tm_year == y.tm_year && x.tm_yday == y.tm_yday;
}

std::string formatIso8601Millis(Timestamp t)
{
    using namespace std::chrono;
    const auto millis = floor<milliseconds>(t);
    const auto day = floor<days>(millis);
    const year_month_day ymd{day};
    const hh_mm_ss hms{millis - day};
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                  static_cast<long>(hms.seconds().count()), static_cast<long>(hms.subseconds().count()));
    return buffer;
}

} // namespace loomwatch::model
