#pragma once

#include <string>

namespace loomwatch::testing {

// Two priced models: 1,000,000 input tokens of claude-sonnet-4-5 cost exactly 3, of gpt-5-codex 1.25.
inline std::string pricingJson(int version = 3)
{
    return R"({"version": )" + std::to_string(version) + R"(, "effectiveDate": "2026-11-01", "currency": "USD",
  "models": [{"provider": "claude", "model": "claude-sonnet-4-5", "aliases": ["sonnet"],
              "inputPerMillion": 3, "outputPerMillion": 15, "cacheReadPerMillion": 0.3, "cacheWritePerMillion": 3.75},
             {"provider": "codex", "model": "gpt-5-codex", "aliases": [],
              "inputPerMillion": 1.25, "outputPerMillion": 10, "cacheReadPerMillion": 0.125, "cacheWritePerMillion": 0}],
  "notice": "Test prices."})";
}

} // namespace loomwatch::testing
