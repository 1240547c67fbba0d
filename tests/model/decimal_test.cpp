#include "model/decimal.h"

#include <gtest/gtest.h>

using loomwatch::model::Decimal;

namespace {
Decimal dec(const char* text)
{
    auto d = Decimal::fromString(text);
    EXPECT_TRUE(d) << text;
    return d.value_or(Decimal{});
}
} // namespace

TEST(Decimal, ArithmeticIsExactInBaseTen)
{
    const Decimal million(1'000'000);
    EXPECT_EQ((Decimal(1) / million * dec("3")).toString(), "0.000003");
    EXPECT_EQ((dec("0.1") + dec("0.2")).toString(), "0.3");
    EXPECT_EQ(dec("0.1") + dec("0.2"), dec("0.3"));
    EXPECT_EQ((Decimal(1'000'000) / million * dec("3")).toString(), "3");
    EXPECT_EQ((dec("9.99") - dec("10")).toString(), "-0.01");
    EXPECT_LT(dec("9.99"), dec("10"));
    EXPECT_GE(dec("10.00"), dec("10"));
    EXPECT_TRUE(dec("0.000").isZero());
}

TEST(Decimal, PlainNotationWithoutTrailingZeros)
{
    EXPECT_EQ(Decimal().toString(), "0");
    EXPECT_EQ(dec("12.50").toString(), "12.5");
    EXPECT_EQ(dec("1.5e3").toString(), "1500");
    EXPECT_EQ(dec("-0.25").toString(), "-0.25");
    EXPECT_EQ(dec("1e-12").toString(), "0.000000000001");
    EXPECT_EQ(Decimal(INT64_MAX).toString(), "9223372036854775807");
    EXPECT_EQ((Decimal(1) / Decimal(3)).toString(), "0.33333333333333333333333333333333333333");
}

TEST(Decimal, OnlyJsonNumberTextIsAccepted)
{
    for (const char* bad : {"inf", "nan", "-inf", "", " 1", "1 ", "+1", "01", "1.", ".5", "1e", "0x10", "1,5"})
        EXPECT_FALSE(Decimal::fromString(bad)) << bad;
    EXPECT_TRUE(Decimal::fromString("0"));
    EXPECT_TRUE(Decimal::fromString("-0.0e+0"));
}

TEST(Decimal, FromDoubleUsesShortestText)
{
    EXPECT_EQ(Decimal::fromDouble(0.1)->toString(), "0.1");
    EXPECT_EQ(Decimal::fromDouble(25)->toString(), "25");
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()));
}
