#pragma once

#include "model/decimal.h"

#include <string>

namespace loomwatch::pricing {

// A US-dollar amount in the given ICU locale ("en_US", "fr_FR"); empty means the user's
// default locale. Fed the decimal's text, never a double: "$12.50", "12,50 $US".
std::string formatUsd(const model::Decimal& amount, const std::string& locale = {});

} // namespace loomwatch::pricing
