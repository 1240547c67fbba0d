#include "cli/datetimetext.h"

#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace loomwatch::cli {

namespace {

std::string format(model::Timestamp t, icu::DateFormat::EStyle dateStyle, icu::DateFormat::EStyle timeStyle)
{
    std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateTimeInstance(dateStyle, timeStyle));
    if (!formatter)
        return {};
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    icu::UnicodeString text;
    formatter->format(static_cast<UDate>(millis), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace

std::string localDateTimeText(model::Timestamp t)
{
    return format(t, icu::DateFormat::kMedium, icu::DateFormat::kMedium);
}

std::string localTimeText(model::Timestamp t)
{
    return format(t, icu::DateFormat::kNone, icu::DateFormat::kMedium);
}

} // namespace loomwatch::cli
