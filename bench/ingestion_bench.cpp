#include "bench/homegenerator.h"
#include "ingestion/filesessionprovider.h"
#include "ingestion/jsonlparser.h"
#include "ingestion/usageledger.h"

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

// One transcript of a little over the tail limit: every parse reads a full 768 KiB tail. Argument 1 reuses one
// workspace across parses, as the provider does; 0 starts afresh each time.
void BM_ParseTail(benchmark::State& state)
{
    TempHome home;
    const auto path = home.path() / "session.jsonl";
    const std::string content =
        bench::claudeTranscript(7, ingestion::JSONLParser::tailLimit + 4096, std::chrono::system_clock::now());
    std::ofstream(path, std::ios::binary) << content;
    const ingestion::JSONLParser parser(model::AgentTool::claude);
    ingestion::JSONLParser::Workspace workspace;
    const bool reuse = state.range(0) != 0;
    for (auto _ : state) {
        auto session = reuse ? parser.parse({path.string(), model::AgentTool::claude}, workspace)
                             : parser.parse({path.string(), model::AgentTool::claude});
        benchmark::DoNotOptimize(session);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(ingestion::JSONLParser::tailLimit));
}
BENCHMARK(BM_ParseTail)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A long-used machine: 10,000 transcripts per agent, the 50 newest of each at least 768 KiB. Generated once, on
// first use, and removed at exit.
const TempHome& longUsedHome()
{
    static const TempHome home;
    static const bool generated = [] {
        bench::HomeOptions options;
        options.perTool = 10'000;
        options.large = 50;
        bench::generateHome(home.path(), options);
        return true;
    }();
    (void)generated;
    return home;
}

model::AgentTool toolArgument(const benchmark::State& state)
{
    return state.range(0) == 0 ? model::AgentTool::claude : model::AgentTool::codex;
}

std::string rootOf(model::AgentTool tool)
{
    return (longUsedHome().path() / (tool == model::AgentTool::claude ? ".claude/projects" : ".codex/sessions"))
        .string();
}

// One refresh of one agent: list 10,000 transcripts, parse the newest 50 tails, reduce. Argument: 0 Claude Code,
// 1 Codex.
void BM_ProviderSessions(benchmark::State& state)
{
    const auto tool = toolArgument(state);
    ingestion::FileSessionProvider provider(tool, rootOf(tool), std::make_shared<NoProcesses>());
    for (auto _ : state) {
        auto sessions = provider.sessions();
        benchmark::DoNotOptimize(sessions);
    }
}
BENCHMARK(BM_ProviderSessions)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Only the listing part of the above: walking 10,000 transcripts and picking the newest 50.
void BM_CandidateFiles(benchmark::State& state)
{
    const auto tool = toolArgument(state);
    ingestion::FileSessionProvider provider(tool, rootOf(tool), std::make_shared<NoProcesses>());
    for (auto _ : state) {
        auto files = provider.candidateFiles();
        benchmark::DoNotOptimize(files);
    }
}
BENCHMARK(BM_CandidateFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A Claude Code transcript of 256 MiB, written once.
const fs::path& hugeTranscript()
{
    static const TempHome home;
    static const fs::path path = [] {
        const auto file = home.path() / "huge.jsonl";
        std::ofstream(file, std::ios::binary)
            << bench::claudeTranscript(11, 256u << 20, std::chrono::system_clock::now());
        return file;
    }();
    return path;
}

// The first count of that transcript by the usage ledger: read whole, every usage line decoded.
void BM_LedgerFirstCount(benchmark::State& state)
{
    const auto& path = hugeTranscript();
    for (auto _ : state) {
        ingestion::UsageLedger ledger(state.range(0) != 0 ? (fs::path(path).parent_path() / "first.sqlite").string()
                                                          : std::string());
        benchmark::DoNotOptimize(ledger.count(model::AgentTool::claude, path.string()));
        state.PauseTiming();
        fs::remove(fs::path(path).parent_path() / "first.sqlite");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_LedgerFirstCount)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// One line appended to that transcript once it is counted, and counted: a refresh while the agent writes.
void BM_LedgerAppendedLine(benchmark::State& state)
{
    const TempHome home;
    const auto path = home.path() / "huge.jsonl";
    fs::copy_file(hugeTranscript(), path);
    ingestion::UsageLedger ledger((home.path() / "usage.sqlite").string());
    ledger.count(model::AgentTool::claude, path.string());
    int line = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path, std::ios::app)
            << R"({"type":"assistant","timestamp":"2026-12-06T10:00:00.000Z","requestId":"req_b)" << line
            << R"(","message":{"model":"claude-sonnet-4-5-20250929","id":"msg_b)" << line++
            << R"(","usage":{"input_tokens":3,"output_tokens":40}}})"
            << "\n";
        state.ResumeTiming();
        benchmark::DoNotOptimize(ledger.count(model::AgentTool::claude, path.string()));
    }
}
BENCHMARK(BM_LedgerAppendedLine)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
