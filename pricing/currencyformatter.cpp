#include "pricing/currencyformatter.h"

#include <unicode/locid.h>
#include <unicode/numberformatter.h>

namespace loomwatch::pricing {

std::string formatUsd(const model::Decimal& amount, const std::string& locale)
{
    const std::string digits = amount.toString();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale loc = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
    const icu::CurrencyUnit usd(u"USD", status);
    if (U_SUCCESS(status)) {
        // The decimal's own digits: ICU rounds them half-even to the currency's two places.
        const icu::number::FormattedNumber formatted =
            icu::number::NumberFormatter::withLocale(loc).unit(usd).formatDecimal(
                icu::StringPiece(digits.data(), static_cast<std::int32_t>(digits.size())), status);
        icu::UnicodeString text = formatted.toString(status);
        if (U_SUCCESS(status)) {
            std::string out;
            text.toUTF8String(out);
            return out;
        }
    }
    return "USD " + digits;
}

} // namespace loomwatch::pricing
