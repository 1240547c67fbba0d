// The store's merge path over a large list: de-duplication, pricing, ordering and the history
// upsert (one transaction), as every refresh runs it.
#include "core/appstore.h"
#include "core/sessionhistory.h"
#include "core/settings.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace loomwatch;

namespace {

const char* pricingTable = R"({"version": 1, "effectiveDate": "2026-11-01", "currency": "USD", "models": [
  {"provider": "claude", "model": "claude-opus-4-1", "aliases": ["opus"], "inputPerMillion": 15,
   "outputPerMillion": 75, "cacheReadPerMillion": 1.5, "cacheWritePerMillion": 18.75},
  {"provider": "claude", "model": "claude-sonnet-4-5", "aliases": ["sonnet"], "inputPerMillion": 3,
   "outputPerMillion": 15, "cacheReadPerMillion": 0.3, "cacheWritePerMillion": 3.75},
  {"provider": "codex", "model": "gpt-5-codex", "aliases": ["gpt-5"], "inputPerMillion": 1.25,
   "outputPerMillion": 10, "cacheReadPerMillion": 0.125, "cacheWritePerMillion": 0},
  {"provider": "openCode", "model": "claude-sonnet-4-5", "aliases": ["sonnet"], "inputPerMillion": 3,
   "outputPerMillion": 15, "cacheReadPerMillion": 0.3, "cacheWritePerMillion": 3.75}],
  "notice": "Benchmark prices."})";

std::vector<model::AgentSession> makeSessions(int count)
{
    const model::Timestamp now = std::chrono::system_clock::now();
    const char* models[] = {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805", "gpt-5-codex", "unknown-model"};
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < count; ++i) {
        model::AgentSession s;
        s.tool = model::allAgentTools[static_cast<std::size_t>(i % 3)];
        s.id = std::string(model::rawValue(s.tool)) + ":" + std::to_string(100000 + i) + "-5b1e-4c1f-9d1a-2f6e0c3d8a7b";
        s.projectPath = "/home/dev/src/project-" + std::to_string(i % 40);
        s.projectName = "project-" + std::to_string(i % 40);
        s.branch = "feature/" + std::to_string(i % 7);
        s.model = models[i % 4];
        s.lastActivityAt = now - std::chrono::seconds(i * 37 % 86400);
        s.startedAt = s.lastActivityAt - std::chrono::minutes(45);
        s.state = model::allSessionStates[static_cast<std::size_t>(i % 6)];
        s.tokens = {3 + i, 410 * i, 45000 + i, 1200};
        s.lastSnippet = "Ran the test suite; 3 failures left in parser_test.";
        s.sourcePath = "/home/dev/.claude/projects/-home-dev-src-project/" + s.id + ".jsonl";
        sessions.push_back(std::move(s));
    }
    // Every tenth session reported twice, as two providers could.
    for (int i = 0; i < count; i += 10)
        sessions.push_back(sessions[static_cast<std::size_t>(i)]);
    return sessions;
}

void applyWithHistory(benchmark::State& state)
{
    char folder[] = "/tmp/loomwatch-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    {
        auto history = core::SessionHistory::open(std::string(folder) + "/history.sqlite");
        core::AppStore::Dependencies deps;
        deps.settings = std::make_shared<core::Settings>(QString::fromUtf8(folder) + "/Loomwatch.conf");
        deps.pricing = pricing::PricingService::fromJson(pricingTable);
        deps.history = history.get();
        core::AppStore store(std::move(deps));
        store.start();
        const auto sessions = makeSessions(static_cast<int>(state.range(0)));
        store.apply(sessions); // the first run inserts; the measured ones update, as in steady use
        for (auto _ : state)
            store.apply(sessions);
        state.SetItemsProcessed(state.iterations() * state.range(0));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(applyWithHistory)->Arg(1000)->Unit(benchmark::kMillisecond);

void applyWithoutHistory(benchmark::State& state)
{
    core::AppStore::Dependencies deps;
    deps.settings = std::make_shared<core::Settings>(QStringLiteral("/tmp/loomwatch-bench-none.conf"));
    deps.pricing = pricing::PricingService::fromJson(pricingTable);
    core::AppStore store(std::move(deps));
    const auto sessions = makeSessions(static_cast<int>(state.range(0)));
    for (auto _ : state)
        store.apply(sessions);
}
BENCHMARK(applyWithoutHistory)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

// The store's provider thread wants an application object, as in the real program.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
