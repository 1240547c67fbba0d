#include "model/decimal.h"

#include <gtest/gtest.h>

#include <limits>

using loomwatch::model::Decimal;

TEST(Decimal, PrintedPlainWithThirtyEightDigits)
{
    const auto text = [](const char* number) {
        return Decimal::fromString(number).value_or(Decimal(-1)).toString();
    };
    EXPECT_EQ(text("12.50"), "12.5");
    EXPECT_EQ(text("1.5e3"), "1500");
    EXPECT_EQ(text("-0.0e+0"), "0");
    EXPECT_EQ(text("1e-12"), "0.000000000001");
    EXPECT_EQ((Decimal::fromString("9.99").value() - Decimal(10)).toString(), "-0.01");
    EXPECT_EQ(Decimal(INT64_MAX).toString(), "9223372036854775807");
    EXPECT_EQ((Decimal(1) / Decimal(3)).toString(), "0.33333333333333333333333333333333333333");
}

TEST(Decimal, OnlyJsonNumberTextAndFiniteDoublesAreAccepted)
{
    for (const char* bad : {"inf", "nan", "-inf", "", " 1", "1 ", "+1", "01", "1.", ".5", "1e", "0x10", "1,5"})
        EXPECT_FALSE(Decimal::fromString(bad)) << bad;
    EXPECT_EQ(Decimal::fromDouble(0.1)->toString(), "0.1");
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()));
}
