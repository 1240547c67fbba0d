#include "pricing/pricingservice.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <vector>

using loomwatch::model::AgentTool;

namespace {

struct Session
{
    AgentTool tool;
    std::optional<std::string> model;
    loomwatch::model::TokenUsage tokens;
};

void BM_EstimateCost10000Sessions(benchmark::State& state)
{
    std::ifstream in(LOOMWATCH_SOURCE_DIR "/resources/ModelPricing.json");
    const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto pricing = loomwatch::pricing::PricingService::fromJson(json);
    if (pricing.table().models.empty()) {
        state.SkipWithError("default pricing table did not load");
        return;
    }
    const Session kinds[] = {
        {AgentTool::claude, "claude-sonnet-4-5-20250929", {3120, 48211, 1843200, 96110}},
        {AgentTool::claude, "claude-opus-4-1-20250805", {88, 12004, 402113, 30042}},
        {AgentTool::claude, "claude-3-5-haiku-20241022", {15, 900, 0, 0}},
        {AgentTool::codex, "gpt-5-codex", {1204332, 40211, 1100321, 0}},
        {AgentTool::codex, "gpt-5.1-codex", {98001, 3100, 81000, 0}},
        {AgentTool::openCode, "gemini-2.5-pro", {51000, 2200, 0, 0}},
        {AgentTool::openCode, "unknown-model", {10, 10, 0, 0}},
        {AgentTool::cursor, std::nullopt, {}},
    };
    std::vector<Session> sessions;
    for (int i = 0; i < 10000; ++i)
        sessions.push_back(kinds[i % std::size(kinds)]);
    for (auto _ : state) {
        for (const Session& s : sessions)
            benchmark::DoNotOptimize(pricing.estimateCost(s.tool, s.model, s.tokens));
    }
}
BENCHMARK(BM_EstimateCost10000Sessions)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
