// Arbitrary text as a pricing table; whatever decodes is then used for estimates with ordinary and
// extreme token counts.
#include "pricing/pricingservice.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using loomwatch::model::AgentTool;
using loomwatch::model::TokenUsage;
using loomwatch::pricing::PricingDecodeError;
using loomwatch::pricing::PricingService;
using loomwatch::pricing::PricingTable;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view json(reinterpret_cast<const char*>(data), size);
    PricingTable table;
    try {
        table = PricingService::decode(json);
    } catch (const PricingDecodeError&) {
        (void)PricingService::fromJson(json);
        return 0;
    }
    constexpr std::int64_t big = std::numeric_limits<std::int64_t>::max();
    const std::vector<TokenUsage> usages = {
        {0, 0, 0, 0}, {3, 410, 45000, 1200}, {big, big, big, big}, {-1, -7, 0, -big}, {1, 0, 999'999, 1'000'001}};

    std::vector<std::optional<std::string>> names = {std::nullopt, "", "claude-sonnet-4-5-20250929", "gpt-5-codex"};
    for (const auto& model : table.models) {
        names.emplace_back(model.model);
        for (const auto& alias : model.aliases)
            names.emplace_back(alias + "-20250101");
        if (names.size() > 24)
            break;
    }
    const PricingService service(std::move(table));
    for (const auto tool : loomwatch::model::allAgentTools)
        for (const auto& name : names)
            for (const auto& usage : usages)
                if (const auto cost = service.estimateCost(tool, name, usage))
                    (void)cost->toString();
    return 0;
}
