#include "model/decimal.h"

#include <boost/multiprecision/cpp_dec_float.hpp>

#include <cctype>
#include <charconv>
#include <new>
#include <sstream>

namespace loomwatch::model {

namespace {

using Number = boost::multiprecision::number<boost::multiprecision::cpp_dec_float<38>, boost::multiprecision::et_off>;

Number& number(unsigned char* storage)
{
    return *std::launder(reinterpret_cast<Number*>(storage));
}
const Number& number(const unsigned char* storage)
{
    return *std::launder(reinterpret_cast<const Number*>(storage));
}

bool isJsonNumber(std::string_view t)
{
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            ++i;
        return i - start;
    };
    if (i < t.size() && t[i] == '-')
        ++i;
    if (i >= t.size())
        return false;
    if (t[i] == '0')
        ++i;
    else if (digits() == 0)
        return false;
    if (i < t.size() && t[i] == '.') {
        ++i;
        if (digits() == 0)
            return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == t.size();
}

} // namespace

static_assert(sizeof(Number) <= 96, "Decimal storage too small for the arithmetic type");
static_assert(alignof(Number) <= 8, "Decimal storage alignment too small");

Decimal::Decimal()
{
    new (m_storage) Number(0);
}
Decimal::Decimal(std::int64_t value)
{
    new (m_storage) Number(value);
}
Decimal::Decimal(const Decimal& other)
{
    new (m_storage) Number(number(other.m_storage));
}

Decimal& Decimal::operator=(const Decimal& other)
{
    number(m_storage) = number(other.m_storage);
    return *this;
}

Decimal::~Decimal()
{
    number(m_storage).~Number();
}

std::optional<Decimal> Decimal::fromString(std::string_view text)
{
    if (!isJsonNumber(text))
        return std::nullopt;
    // A huge exponent would make the digits meaningless; nothing in a price table needs more.
    Decimal result;
    try {
        number(result.m_storage) = Number(std::string(text));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!boost::multiprecision::isfinite(number(result.m_storage)))
        return std::nullopt;
    return result;
}

std::optional<Decimal> Decimal::fromDouble(double value)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc{})
        return std::nullopt;
    return fromString(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

std::string Decimal::toString() const
{
    const Number& n = number(m_storage);
    if (n.is_zero())
        return "0";
    // Scientific text with 38 significant digits (one before the point), then rewritten in plain notation.
    const std::string sci = n.str(37, std::ios_base::scientific);
    const auto ePos = sci.find_first_of("eE");
    std::string mantissa = sci.substr(0, ePos);
    const int exponent = ePos == std::string::npos ? 0 : std::stoi(sci.substr(ePos + 1));
    bool negative = false;
    if (!mantissa.empty() && mantissa.front() == '-') {
        negative = true;
        mantissa.erase(0, 1);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.')
            digits.push_back(c);
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    // value = 0.d1d2d3... * 10^(exponent + 1)
    const int pointPos = exponent + 1;
    std::string out;
    if (pointPos <= 0) {
        out = "0." + std::string(static_cast<std::size_t>(-pointPos), '0') + digits;
    } else if (static_cast<std::size_t>(pointPos) >= digits.size()) {
        out = digits + std::string(static_cast<std::size_t>(pointPos) - digits.size(), '0');
    } else {
        out = digits.substr(0, static_cast<std::size_t>(pointPos)) + "." +
              digits.substr(static_cast<std::size_t>(pointPos));
    }
    return negative ? "-" + out : out;
}

Decimal Decimal::operator+(const Decimal& rhs) const
{
    Decimal r;
    number(r.m_storage) = number(m_storage) + number(rhs.m_storage);
    return r;
}

Decimal Decimal::operator-(const Decimal& rhs) const
{
    Decimal r;
    number(r.m_storage) = number(m_storage) - number(rhs.m_storage);
    return r;
}

Decimal Decimal::operator*(const Decimal& rhs) const
{
    Decimal r;
    number(r.m_storage) = number(m_storage) * number(rhs.m_storage);
    return r;
}

Decimal Decimal::operator/(const Decimal& rhs) const
{
    Decimal r;
    number(r.m_storage) = number(m_storage) / number(rhs.m_storage);
    return r;
}

Decimal& Decimal::operator+=(const Decimal& rhs)
{
    number(m_storage) += number(rhs.m_storage);
    return *this;
}

bool Decimal::operator==(const Decimal& rhs) const
{
    return number(m_storage) == number(rhs.m_storage);
}

std::strong_ordering Decimal::operator<=>(const Decimal& rhs) const
{
    const Number& a = number(m_storage);
    const Number& b = number(rhs.m_storage);
    if (a < b)
        return std::strong_ordering::less;
    if (b < a)
        return std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

bool Decimal::isZero() const
{
    return number(m_storage).is_zero();
}

} // namespace loomwatch::model
