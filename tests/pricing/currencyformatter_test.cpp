#include "pricing/currencyformatter.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

using loomwatch::model::Decimal;
using loomwatch::pricing::formatUsd;

// Grouping and symbol from the locale; rounding half-even on the decimal digits, beyond a double's precision too.
TEST(FormatUsd, FollowsTheLocaleAndRoundsTheDecimalHalfEven)
{
    for (const auto& [amount, locale, text] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"12.5", "en_US", "$12.50"},
             {"12.5", "fr_FR", "12,50\u00A0$US"},
             {"1234567.891", "de_DE", "1.234.567,89\u00A0$"},
             {"1234567.891", "en_US", "$1,234,567.89"},
             {"-3.5", "en_US", "-$3.50"},
             {"0", "en_US", "$0.00"},
             {"0.000003", "en_US", "$0.00"},
             {"0.125", "en_US", "$0.12"},
             {"0.135", "en_US", "$0.14"},
             {"0.0050000000000000000000000000000001", "en_US", "$0.01"},
             {"12345678901234567.125", "en_US", "$12,345,678,901,234,567.12"}})
        EXPECT_EQ(formatUsd(*Decimal::fromString(amount), locale), text) << amount << " " << locale;

    // No locale: ICU's default.
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("fr_FR"), status);
    EXPECT_EQ(formatUsd(Decimal(125) / Decimal(10)), "12,50\u00A0$US");
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    EXPECT_EQ(formatUsd(Decimal(125) / Decimal(10)), "$12.50");
}
