#pragma once

#include "model/sessiontypes.h"

#include <memory>

namespace loomwatch::model {

// The one source of "now" for everything that decides by time, so tests can fix it.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual Timestamp now() const = 0;
};

std::shared_ptr<const Clock> systemClock();

// Whether both instants fall on the same calendar day in the local time zone (TZ).
bool isSameLocalDay(Timestamp a, Timestamp b);

// UTC, ISO 8601 with milliseconds: "2026-12-06T05:52:24.123Z".
std::string formatIso8601Millis(Timestamp t);

} // namespace loomwatch::model
