#include "ui/demoprovider.h"

#include <ctime>
#include <filesystem>
#include <fstream>

namespace loomwatch::ui {

namespace {

using model::AgentTool;
using model::SessionState;
using std::chrono::minutes;

struct DemoSession
{
    AgentTool tool;
    const char* sourceId;
    const char* projectPath;
    const char* branch; // null: none
    const char* model;  // null: none
    int minutesAgo;
    int durationMinutes;
    std::int32_t pid; // 0: no process
    SessionState state;
    model::TokenUsage tokens;
    const char* snippet; // null: none
};

// clang-format off
const DemoSession demoSessions[] = {
    {AgentTool::claude, "6f1c2e7a-3b0d-4c55-9a1e-2f7d8c9b0a11", "/home/dev/src/billing-service", "feature/invoice-pdf",
     "claude-sonnet-4-5-20250929", 1, 48, 41822, SessionState::waitingForInput, {1840, 52310, 2410330, 98400},
     "I've added the PDF renderer and the tests pass. Should I also wire it into the nightly export job?"},
    {AgentTool::codex, "019a3c1e-77b2-7d10-8f3c-5b2a9e4d6c01", "/home/dev/src/mobile-app", "fix/login-crash",
     "gpt-5-codex", 2, 35, 41907, SessionState::working, {912000, 41800, 655000, 0},
     "Running the Android instrumentation tests for the login screen"},
    {AgentTool::claude, "a2b4c6d8-1e3f-4a5b-8c7d-9e0f1a2b3c4d", "/home/dev/src/infra-terraform", "main",
     "claude-opus-4-1-20250805", 4, 120, 40217, SessionState::working, {22100, 18400, 880200, 40200},
     "Planning the change to the staging VPC peering"},
    {AgentTool::openCode, "ses_7Hk2pQ9xLm4R", "/home/dev/src/docs-site", nullptr, "claude-sonnet-4-5", 9, 22, 0,
     SessionState::idle, {44000, 9100, 120000, 8000}, nullptr},
    {AgentTool::cursor, "process:40533", "/home/dev/src/design-system", nullptr, nullptr, 3, 3, 40533,
     SessionState::limited, {}, nullptr},
    {AgentTool::claude, "c0ffee00-5a5a-4b4b-9c9c-0d0d0e0e0f0f", "/home/dev/src/api-gateway", "chore/upgrade-deps",
     "claude-haiku-4-5-20251001", 14, 30, 39811, SessionState::waitingForInput, {5100, 7200, 150000, 12000},
     "Three major upgrades need a decision: express 5, zod 4 and vitest 3. Which should I take first?"},
    {AgentTool::codex, "019a3b88-1c2d-7e4f-a0b1-c2d3e4f5a6b7", "/home/dev/src/data-pipeline", "feat/parquet-sink",
     "gpt-5", 27, 64, 0, SessionState::errored, {402000, 23000, 310000, 0},
     "stream error: rate limit reached for gpt-5, retry after 20 s"},
    {AgentTool::claude, "0b9e8d7c-6f5a-4b3c-2d1e-0f9a8b7c6d5e", "/home/dev/src/loomwatch", "main",
     "claude-sonnet-4-5-20250929", 95, 75, 0, SessionState::ended, {12000, 66000, 3100000, 140000},
     "Refactored the session list model and updated the screenshots."},
    {AgentTool::openCode, "ses_2Wd8vN3kTq6Z", "/home/dev/src/ml-experiments", "exp/lora-sweep", "gpt-5-mini", 60 * 26,
     40, 0, SessionState::ended, {88000, 12000, 0, 0}, "Sweep finished; best run is lr=2e-4, rank 16."},
};
// clang-format on

// The share of a busy day's usage spent on each of the last seven days, oldest first.
constexpr double weekShape[] = {0.6, 1.3, 0.4, 0.9, 1.6, 0.2, 1.0};

std::string isoTime(model::Timestamp t)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return text;
}

std::ofstream createFile(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    return std::ofstream(path);
}

} // namespace

void DemoProvider::writeWeekTranscripts(const std::string& home, model::Timestamp now)
{
    const model::Timestamp first = now - std::chrono::hours(24 * 6 + 1);
    std::ofstream claude = createFile(home + "/.claude/projects/-home-dev-src-billing-service/"
                                             "6f1c2e7a-3b0d-4c55-9a1e-2f7d8c9b0a11.jsonl");
    const std::string rollout =
        "rollout-" + isoTime(first).substr(0, 10) + "T09-00-00-019a3c1e-77b2-7d10-8f3c-5b2a9e4d6c01";
    std::ofstream codex =
        createFile(home + "/.codex/sessions/" + isoTime(first).substr(0, 4) + "/" + isoTime(first).substr(5, 2) + "/" +
                   isoTime(first).substr(8, 2) + "/" + rollout + ".jsonl");
    codex << R"({"timestamp":")" << isoTime(first) << R"(","type":"session_meta","payload":{"id":")"
          << "019a3c1e-77b2-7d10-8f3c-5b2a9e4d6c01"
          << R"(","cwd":"/home/dev/src/mobile-app"}})" << '\n'
          << R"({"timestamp":")" << isoTime(first)
          << R"(","type":"turn_context","payload":{"cwd":"/home/dev/src/mobile-app","model":"gpt-5-codex"}})" << '\n';
    long long input = 0, cached = 0, output = 0;
    for (int day = 0; day < 7; ++day) {
        const double share = weekShape[day];
        const std::string time = isoTime(first + std::chrono::hours(24 * day));
        claude << R"({"type":"assistant","sessionId":"6f1c2e7a-3b0d-4c55-9a1e-2f7d8c9b0a11","timestamp":")" << time
               << R"(","requestId":"req_demo_)" << day << R"(","message":{"model":"claude-sonnet-4-5-20250929","id":)"
               << R"("msg_demo_)" << day << R"(","role":"assistant","content":[],"usage":{"input_tokens":)"
               << static_cast<long long>(2400 * share) << R"(,"output_tokens":)"
               << static_cast<long long>(61000 * share) << R"(,"cache_read_input_tokens":)"
               << static_cast<long long>(4200000 * share) << R"(,"cache_creation_input_tokens":)"
               << static_cast<long long>(150000 * share) << "}}}\n";
        input += static_cast<long long>(1900000 * share);
        cached += static_cast<long long>(1400000 * share);
        output += static_cast<long long>(70000 * share);
        codex << R"({"timestamp":")" << time << R"(","type":"event_msg","payload":{"type":"token_count","info":)"
              << R"({"total_token_usage":{"input_tokens":)" << input << R"(,"cached_input_tokens":)" << cached
              << R"(,"output_tokens":)" << output << R"(,"reasoning_output_tokens":0,"total_tokens":)" << input + output
              << "}}}}\n";
    }
}

DemoProvider::DemoProvider(model::AgentTool tool, std::shared_ptr<const model::Clock> clock)
    : m_tool(tool), m_clock(std::move(clock))
{
    auto [sender, receiver] = model::makeEventStream<model::ProviderEvent>();
    m_sender = std::move(sender);
    m_events = std::move(receiver);
}

model::ProviderProbeResult DemoProvider::probe()
{
    switch (m_tool) {
    case AgentTool::claude:
        return {m_tool, true, model::SupportLevel::full, "/home/dev/.claude/projects", std::nullopt};
    case AgentTool::codex:
        return {m_tool, true, model::SupportLevel::full, "/home/dev/.codex/sessions", std::nullopt};
    case AgentTool::openCode:
        return {m_tool, true, model::SupportLevel::partial, "/home/dev/.local/share/opencode/opencode.db",
                std::string("database is locked; showing the sessions of the previous read")};
    case AgentTool::cursor:
        break;
    }
    return {m_tool, true, model::SupportLevel::processOnly, "/home/dev/.config/Cursor", std::nullopt};
}

std::vector<model::AgentSession> DemoProvider::sessions()
{
    const model::Timestamp now = m_clock->now();
    std::vector<model::AgentSession> result;
    for (const DemoSession& demo : demoSessions) {
        if (demo.tool != m_tool)
            continue;
        model::AgentSession s;
        s.id = std::string(model::rawValue(demo.tool)) + ":" + demo.sourceId;
        s.tool = demo.tool;
        s.projectPath = demo.projectPath;
        const std::string path = demo.projectPath;
        s.projectName = path.substr(path.find_last_of('/') + 1);
        if (demo.branch)
            s.branch = demo.branch;
        if (demo.model)
            s.model = demo.model;
        s.lastActivityAt = now - minutes(demo.minutesAgo);
        s.startedAt = s.lastActivityAt - minutes(demo.durationMinutes);
        if (demo.pid)
            s.processID = demo.pid;
        s.state = demo.state;
        s.supportLevel = demo.tool == AgentTool::cursor ? model::SupportLevel::processOnly : model::SupportLevel::full;
        s.tokens = demo.tokens;
        if (demo.snippet)
            s.lastSnippet = demo.snippet;
        result.push_back(std::move(s));
    }
    return result;
}

std::vector<std::shared_ptr<model::SessionProvider>> DemoProvider::all(std::shared_ptr<const model::Clock> clock)
{
    std::vector<std::shared_ptr<model::SessionProvider>> providers;
    for (AgentTool tool : model::allAgentTools)
        providers.push_back(std::make_shared<DemoProvider>(tool, clock));
    return providers;
}

} // namespace loomwatch::ui
