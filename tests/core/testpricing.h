#pragma once

#include <string>

namespace loomwatch::testing {

// One priced model: 1,000,000 input tokens of claude-sonnet-4-5 cost exactly 3.
inline std::string pricingJson(int version = 3)
{
    return R"({"version": )" + std::to_string(version) + R"(, "effectiveDate": "2026-11-01", "currency": "USD",
  "models": [{"provider": "claude", "model": "claude-sonnet-4-5", "aliases": ["sonnet"],
              "inputPerMillion": 3, "outputPerMillion": 15, "cacheReadPerMillion": 0.3, "cacheWritePerMillion": 3.75}],
  "notice": "Test prices."})";
}

} // namespace loomwatch::testing
