#include "bench/homegenerator.h"
#include "ingestion/filesessionprovider.h"
#include "ingestion/jsonlparser.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

using namespace loomwatch;

namespace {

namespace fs = std::filesystem;

class NoProcesses final : public model::ProcessInspector
{
public:
    std::vector<model::AgentProcess> processes(model::AgentTool) const override { return {}; }
};

class TempHome
{
public:
    TempHome()
    {
        std::string dir = "/tmp/loomwatch-ingestion-bench-XXXXXX";
        if (!::mkdtemp(dir.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = dir;
    }
    ~TempHome()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// One transcript of a little over the tail limit: every parse reads a full 768 KiB tail.
void BM_ParseTail(benchmark::State& state)
{
    TempHome home;
    const auto path = home.path() / "session.jsonl";
    const std::string content =
        bench::claudeTranscript(7, ingestion::JSONLParser::tailLimit + 4096, std::chrono::system_clock::now());
    std::ofstream(path, std::ios::binary) << content;
    const ingestion::JSONLParser parser(model::AgentTool::claude);
    for (auto _ : state) {
        auto session = parser.parse({path.string(), model::AgentTool::claude});
        benchmark::DoNotOptimize(session);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(ingestion::JSONLParser::tailLimit));
}
BENCHMARK(BM_ParseTail)->Unit(benchmark::kMillisecond);

// A long-used machine: 10,000 Claude Code transcripts, the 50 newest of them at least 768 KiB.
void BM_ProviderSessions(benchmark::State& state)
{
    TempHome home;
    bench::HomeOptions options;
    options.perTool = 10'000;
    options.large = 50;
    options.codex = false;
    bench::generateHome(home.path(), options);
    ingestion::FileSessionProvider provider(model::AgentTool::claude, (home.path() / ".claude/projects").string(),
                                            std::make_shared<NoProcesses>());
    for (auto _ : state) {
        auto sessions = provider.sessions();
        benchmark::DoNotOptimize(sessions);
    }
}
BENCHMARK(BM_ProviderSessions)->Unit(benchmark::kMillisecond);

// Only the listing part of the above: walking 10,000 transcripts and picking the newest 50.
void BM_CandidateFiles(benchmark::State& state)
{
    TempHome home;
    bench::HomeOptions options;
    options.perTool = 10'000;
    options.large = 0;
    options.codex = false;
    bench::generateHome(home.path(), options);
    ingestion::FileSessionProvider provider(model::AgentTool::claude, (home.path() / ".claude/projects").string(),
                                            std::make_shared<NoProcesses>());
    for (auto _ : state) {
        auto files = provider.candidateFiles();
        benchmark::DoNotOptimize(files);
    }
}
BENCHMARK(BM_CandidateFiles)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
