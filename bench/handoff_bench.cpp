#include "handoff/handoffgenerator.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

// A Claude Code transcript of the usual shape: prompts, assistant text and tool calls, tool results
// with shell output, repeated usage blocks.
std::string claudeTranscript(std::size_t size)
{
    std::string out;
    for (int i = 0; out.size() < size; ++i) {
        const std::string ts = "2026-12-06T05:" + std::to_string(10 + i % 50) + ":24.123Z";
        const std::string common =
            R"("sessionId":"6f0c2a8e-3b9d-4c51-9a7e-2d4b8f1e0c33","cwd":"/home/dev/src/api-server",)"
            R"("gitBranch":"feature/routes","version":"2.0.41","timestamp":")" +
            ts + "\"";
        out +=
            R"({"type":"user",)" + common + R"(,"uuid":"u)" + std::to_string(i) +
            R"(","message":{"role":"user","content":"Please make the router return 404 for unknown routes and add a test."}})"
            "\n";
        out +=
            R"({"type":"assistant",)" + common + R"(,"requestId":"req_)" + std::to_string(i) +
            R"(","message":{"role":"assistant","model":"claude-sonnet-4-5-20250929","id":"msg_01)" + std::to_string(i) +
            R"(","content":[{"type":"text","text":"I'll look at the router first, then add a failing test before changing the handler."},)"
            R"({"type":"tool_use","id":"toolu_01","name":"Bash","input":{"command":"npm test -- --grep router"}}],)"
            R"("usage":{"input_tokens":3,"cache_creation_input_tokens":1200,"cache_read_input_tokens":45000,"output_tokens":410}}})"
            "\n";
        out +=
            R"({"type":"user",)" + common +
            R"(,"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"toolu_01","content":"> api-server@1.4.0 test\n> mocha\n\n  router\n    ✓ returns 200 for /health\n    1) returns 404 for unknown routes\n\n  1 passing (23ms)\n  1 failing\n"}]},"toolUseResult":{"stdout":"  router\n    ✓ returns 200 for /health\n","stderr":""}})"
            "\n";
    }
    return out;
}

// Build output as a transcript of no shape an agent writes: the handoff falls back to its raw last lines, redacting
// the whole tail.
std::string plainTranscript(std::size_t size)
{
    std::string out;
    for (int i = 0; out.size() < size; ++i)
        out += "[" + std::to_string(i) + "] CC src/router.o -O2 -Wall -Iinclude -DNDEBUG -c src/router.c && echo ok\n";
    return out;
}

// Argument 0: a Claude Code transcript; 1: one of no known shape.
void BM_GenerateHandoff(benchmark::State& state)
{
    char dir[] = "/tmp/loomwatch-handoff-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temp folder");
        return;
    }
    const std::string path = std::string(dir) + "/6f0c2a8e-3b9d-4c51-9a7e-2d4b8f1e0c33.jsonl";
    const std::size_t size = 2 * 1024 * 1024;
    std::ofstream(path, std::ios::binary) << (state.range(0) == 0 ? claudeTranscript(size) : plainTranscript(size));
    loomwatch::model::AgentSession session;
    session.id = "claude:6f0c2a8e";
    session.sourcePath = path;
    session.projectPath = "/home/dev/src/api-server";
    const loomwatch::handoff::HandoffGenerator generator;
    for (auto _ : state)
        benchmark::DoNotOptimize(generator.generateHandoff(session));
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GenerateHandoff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
