#pragma once

#include "model/sessiontypes.h"

#include <string>

namespace loomwatch::cli {

// In the user's locale and time zone: "Dec 6, 2026, 7:02:11 AM" and "7:02:11 AM".
std::string localDateTimeText(model::Timestamp t);
std::string localTimeText(model::Timestamp t);

} // namespace loomwatch::cli
