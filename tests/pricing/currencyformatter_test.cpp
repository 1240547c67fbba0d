#include "pricing/currencyformatter.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

using loomwatch::model::Decimal;
using loomwatch::pricing::formatUsd;

namespace {
Decimal dec(const char* text)
{
    return *Decimal::fromString(text);
}
} // namespace

TEST(FormatUsd, FollowsTheLocale)
{
    EXPECT_EQ(formatUsd(dec("12.5"), "en_US"), "$12.50");
    EXPECT_EQ(formatUsd(dec("12.5"), "fr_FR"), "12,50\u00A0$US");
    EXPECT_EQ(formatUsd(dec("1234567.891"), "de_DE"), "1.234.567,89\u00A0$");
    EXPECT_EQ(formatUsd(dec("1234567.891"), "en_US"), "$1,234,567.89");
    EXPECT_EQ(formatUsd(dec("-3.5"), "en_US"), "-$3.50");
}

TEST(FormatUsd, RoundsTheDecimalHalfEven)
{
    EXPECT_EQ(formatUsd(Decimal(0), "en_US"), "$0.00");
    EXPECT_EQ(formatUsd(dec("0.000003"), "en_US"), "$0.00");
    EXPECT_EQ(formatUsd(dec("0.125"), "en_US"), "$0.12");
    EXPECT_EQ(formatUsd(dec("0.135"), "en_US"), "$0.14");
    // Beyond a double's precision: still rounded on the decimal digits.
    EXPECT_EQ(formatUsd(dec("0.0050000000000000000000000000000001"), "en_US"), "$0.01");
    EXPECT_EQ(formatUsd(dec("12345678901234567.125"), "en_US"), "$12,345,678,901,234,567.12");
}

TEST(FormatUsd, EmptyLocaleIsTheDefault)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("fr_FR"), status);
    EXPECT_EQ(formatUsd(dec("12.5")), "12,50\u00A0$US");
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    EXPECT_EQ(formatUsd(dec("12.5")), "$12.50");
}
