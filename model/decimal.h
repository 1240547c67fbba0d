#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace loomwatch::model {

// Base-10 number with 38 significant digits, for prices, estimates, budgets and totals.
// The arithmetic type stays inside decimal.cpp: including it costs seconds per translation unit.
class Decimal
{
public:
    Decimal();
    Decimal(std::int64_t value); // NOLINT(google-explicit-constructor): integers are exact decimals
    Decimal(const Decimal& other);
    Decimal& operator=(const Decimal& other);
    ~Decimal();

    // Accepts a JSON number's text exactly ("-12", "0.000003", "1.5e3"); anything else, including
    // "inf", "nan", blanks or a leading '+', gives nothing.
    static std::optional<Decimal> fromString(std::string_view text);
    // Through the shortest text that reads back to the same double (0.1 becomes exactly 0.1).
    // Non-finite values give nothing.
    static std::optional<Decimal> fromDouble(double value);

    // Plain notation without exponent or trailing zeros: "0.000003", "12.5", "3", "-0.25".
    std::string toString() const;

    Decimal operator+(const Decimal& rhs) const;
    Decimal operator-(const Decimal& rhs) const;
    Decimal operator*(const Decimal& rhs) const;
    Decimal operator/(const Decimal& rhs) const;
    Decimal& operator+=(const Decimal& rhs);

    bool operator==(const Decimal& rhs) const;
    std::strong_ordering operator<=>(const Decimal& rhs) const;

    bool isZero() const;

private:
    static constexpr std::size_t storageSize = 96;
    alignas(8) unsigned char m_storage[storageSize];
};

} // namespace loomwatch::model

template <>
struct std::hash<loomwatch::model::Decimal>
{
    std::size_t operator()(const loomwatch::model::Decimal& d) const noexcept
    {
        return std::hash<std::string>{}(d.toString());
    }
};
