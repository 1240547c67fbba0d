#include "providers/opencodeprovider.h"
#include "providers/procfsprocesses.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
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

// An OpenCode database in WAL mode with `count` sessions spread over a hundred projects.
fs::path makeDatabase(int count)
{
    std::string dir = "/tmp/loomwatch-bench-XXXXXX";
    if (!::mkdtemp(dir.data()))
        throw std::runtime_error("mkdtemp failed");
    const fs::path path = fs::path(dir) / "opencode.db";
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL;"
                 "CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL);"
                 "CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT NOT NULL, parent_id TEXT,"
                 " title TEXT NOT NULL, directory TEXT NOT NULL, path TEXT, time_created INTEGER NOT NULL,"
                 " time_updated INTEGER NOT NULL, time_archived INTEGER, model TEXT, tokens_input INTEGER,"
                 " tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);"
                 "BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* project = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO project VALUES (?1, ?2)", -1, &project, nullptr);
    for (int i = 0; i < 100; ++i) {
        const std::string id = "prj_" + std::to_string(i);
        const std::string worktree = "/home/dev/src/project-" + std::to_string(i);
        sqlite3_bind_text(project, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(project, 2, worktree.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(project);
        sqlite3_reset(project);
    }
    sqlite3_finalize(project);
    sqlite3_stmt* session = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO session VALUES (?1, ?2, NULL, ?3, ?4, NULL, ?5, ?6, NULL,"
                       " '{\"id\":\"claude-sonnet-4-5\",\"providerID\":\"anthropic\"}', 1200, 340, 45000, 800)",
                       -1, &session, nullptr);
    // Updates are shuffled so the newest rows are not simply the last ones inserted.
    for (int i = 0; i < count; ++i) {
        const std::string id = "ses_" + std::to_string(i);
        const std::string projectId = "prj_" + std::to_string(i % 100);
        const std::string title = "Refactor the request retry logic, part " + std::to_string(i);
        const std::string directory = "/home/dev/src/project-" + std::to_string(i % 100);
        const std::int64_t created = 1'764'000'000'000 + std::int64_t(i) * 1000;
        sqlite3_bind_text(session, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(session, 2, projectId.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(session, 3, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(session, 4, directory.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(session, 5, created);
        sqlite3_bind_int64(session, 6, created + (std::int64_t(i) * 7919 % count) * 60'000);
        sqlite3_step(session);
        sqlite3_reset(session);
    }
    sqlite3_finalize(session);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

void OpenCodeSessions10k(benchmark::State& state)
{
    const fs::path path = makeDatabase(10'000);
    {
        providers::OpenCodeProvider provider(path.string(), std::make_shared<NoProcesses>());
        for (auto _ : state) {
            auto sessions = provider.sessions();
            if (sessions.size() != 50)
                state.SkipWithError("expected 50 sessions");
            benchmark::DoNotOptimize(sessions);
        }
    }
    fs::remove_all(path.parent_path());
}
BENCHMARK(OpenCodeSessions10k)->Unit(benchmark::kMillisecond);

void ProcessTableScan(benchmark::State& state)
{
    const providers::NativeProcessInspector inspector;
    for (auto _ : state)
        benchmark::DoNotOptimize(inspector.processes(model::AgentTool::openCode));
}
BENCHMARK(ProcessTableScan)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
