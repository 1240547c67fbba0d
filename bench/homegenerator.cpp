#include "bench/homegenerator.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>

namespace loomwatch::bench {

namespace {

using Clock = std::chrono::system_clock;

// A few dozen working folders: a long-used machine's transcripts pile up in the same handful of projects.
constexpr std::array<std::string_view, 32> projects{"/home/dev/src/api_server",    "/home/dev/src/web-app",
                                                    "/home/dev/work/billing",      "/home/dev/src/infra",
                                                    "/home/dev/src/mobile",        "/home/dev/oss/parser",
                                                    "/home/dev/src/dashboard",     "/home/dev/tmp/scratch",
                                                    "/home/dev/src/auth",          "/home/dev/src/search-ui",
                                                    "/home/dev/work/etl",          "/home/dev/src/cli",
                                                    "/home/dev/src/payments",      "/home/dev/src/notifications",
                                                    "/home/dev/work/reporting",    "/home/dev/work/data-lake",
                                                    "/home/dev/oss/tokenizer",     "/home/dev/oss/http.client",
                                                    "/home/dev/src/admin-panel",   "/home/dev/src/design-system",
                                                    "/home/dev/src/gateway",       "/home/dev/work/ml_pipeline",
                                                    "/home/dev/work/forecasting",  "/home/dev/src/docs",
                                                    "/home/dev/src/e2e-tests",     "/home/dev/tmp/spike_grpc",
                                                    "/home/dev/tmp/bench",         "/home/dev/src/chat-widget",
                                                    "/home/dev/src/video/encoder", "/home/dev/work/terraform",
                                                    "/home/dev/dotfiles",          "/home/dev/src/monorepo/apps/shop"};
constexpr std::array<std::string_view, 5> branches{"main", "feature/pagination", "fix/login-redirect", "develop",
                                                   "chore/deps"};
constexpr std::array<std::string_view, 16> words{"update", "the",   "handler", "so",      "that", "pagination",
                                                 "works",  "with",  "large",   "result",  "sets", "and",
                                                 "keep",   "tests", "green",   "refactor"};
constexpr std::array<std::string_view, 6> commands{"rg -n orders src/",         "pytest -q tests/test_orders.py",
                                                   "git status --short",        "ls -la src",
                                                   "npm test -- --watch=false", "cargo check"};

class Random
{
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}
    std::uint64_t next() { return m_engine(); }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(m_engine() % bound); }

    std::string uuid()
    {
        static constexpr char hex[] = "0123456789abcdef";
        std::string out;
        for (int i = 0; i < 32; ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20)
                out += '-';
            out += hex[m_engine() & 15];
        }
        return out;
    }

    std::string sentence(std::size_t count)
    {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0)
                out += ' ';
            out += words[below(words.size())];
        }
        return out;
    }

private:
    std::mt19937_64 m_engine;
};

std::string iso(Clock::time_point t)
{
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis % 1000));
    return buffer;
}

std::string encodeCwd(std::string_view cwd)
{
    std::string out(cwd);
    for (char& c : out) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            c = '-';
    }
    return out;
}

// Tool output as it appears escaped inside a JSON string.
std::string toolOutput(Random& random, std::size_t lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines; ++i)
        out += "src/orders.py:" + std::to_string(10 + i) + ":    " + random.sentence(6 + random.below(8)) + "\\n";
    return out;
}

struct ClaudeWriter
{
    Random& random;
    std::string sessionId;
    std::string cwd;
    std::string branch;
    bool sidechain = false;
    std::string parent = "null";

    std::string envelope(std::string_view type, Clock::time_point t, std::string_view rest)
    {
        const std::string uuid = random.uuid();
        std::string line = "{\"parentUuid\":" + parent + ",\"isSidechain\":" + (sidechain ? "true" : "false") +
                           ",\"userType\":\"external\",\"cwd\":\"" + cwd + "\",\"sessionId\":\"" + sessionId +
                           "\",\"version\":\"2.0.14\",\"gitBranch\":\"" + branch + "\",\"type\":\"" +
                           std::string(type) + "\"," + std::string(rest) + ",\"uuid\":\"" + uuid +
                           "\",\"timestamp\":\"" + iso(t) + "\"}\n";
        parent = "\"" + uuid + "\"";
        return line;
    }

    std::string usage()
    {
        return "\"usage\":{\"input_tokens\":" + std::to_string(1 + random.below(30)) +
               ",\"cache_creation_input_tokens\":" + std::to_string(random.below(4000)) +
               ",\"cache_read_input_tokens\":" + std::to_string(20000 + random.below(90000)) +
               ",\"output_tokens\":" + std::to_string(20 + random.below(1500)) +
               ",\"service_tier\":\"standard\",\"cache_creation\":{\"ephemeral_5m_input_tokens\":0,"
               "\"ephemeral_1h_input_tokens\":0}}";
    }

    // One turn: prompt, answer with a tool call, the tool's result, the closing answer.
    std::string turn(Clock::time_point t)
    {
        std::string out;
        out += envelope(
            "user", t, "\"message\":{\"role\":\"user\",\"content\":\"" + random.sentence(8 + random.below(30)) + "\"}");
        const std::string messageId = "msg_01" + random.uuid().substr(0, 20);
        const std::string requestId = "req_011" + random.uuid().substr(0, 20);
        const std::string use = usage();
        const std::string model = "\"model\":\"claude-sonnet-4-5-20250929\",\"id\":\"" + messageId +
                                  "\",\"type\":\"message\",\"role\":\"assistant\"";
        out +=
            envelope("assistant", t + std::chrono::seconds(3),
                     "\"message\":{" + model + ",\"content\":[{\"type\":\"text\",\"text\":\"" +
                         random.sentence(10 + random.below(40)) + "\"}],\"stop_reason\":null,\"stop_sequence\":null," +
                         use + "},\"requestId\":\"" + requestId + "\"");
        const std::string toolId = "toolu_01" + random.uuid().substr(0, 20);
        const std::string command(commands[random.below(commands.size())]);
        out += envelope("assistant", t + std::chrono::seconds(4),
                        "\"message\":{" + model + ",\"content\":[{\"type\":\"tool_use\",\"id\":\"" + toolId +
                            "\",\"name\":\"Bash\",\"input\":{\"command\":\"" + command +
                            "\",\"description\":\"Run it\"}}],\"stop_reason\":null,\"stop_sequence\":null," + use +
                            "},\"requestId\":\"" + requestId + "\"");
        const std::string output = toolOutput(random, 2 + random.below(40));
        out += envelope("user", t + std::chrono::seconds(9),
                        "\"message\":{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"" + toolId +
                            "\",\"type\":\"tool_result\",\"content\":\"" + output +
                            "\",\"is_error\":false}]},\"toolUseResult\":{\"stdout\":\"" + output +
                            "\",\"stderr\":\"\",\"interrupted\":false,\"isImage\":false}");
        if (random.below(6) == 0) {
            out += envelope("attachment", t + std::chrono::seconds(10),
                            "\"attachment\":{\"type\":\"todo_reminder\",\"text\":\"" + random.sentence(12) + "\"}");
        }
        out += envelope(
            "assistant", t + std::chrono::seconds(20),
            "\"message\":{\"model\":\"claude-sonnet-4-5-20250929\",\"id\":\"msg_01" + random.uuid().substr(0, 20) +
                "\",\"type\":\"message\",\"role\":\"assistant\",\"content\":[{\"type\":\"text\","
                "\"text\":\"" +
                random.sentence(15 + random.below(60)) + "\"}],\"stop_reason\":\"end_turn\",\"stop_sequence\":null," +
                usage() + "},\"requestId\":\"req_011" + random.uuid().substr(0, 20) + "\"");
        return out;
    }
};

// Turns spaced so that the last one ends at `end`.
template <typename TurnWriter>
std::string transcript(std::string head, TurnWriter&& writeTurn, std::size_t minimumSize, std::size_t minimumTurns,
                       Clock::time_point end)
{
    std::vector<std::string> turns;
    std::size_t size = head.size();
    for (std::size_t i = 0; size < minimumSize || i < minimumTurns; ++i) {
        turns.push_back(writeTurn(end - std::chrono::minutes(2) * static_cast<int>(i) - std::chrono::seconds(30)));
        size += turns.back().size();
    }
    std::string out = std::move(head);
    out.reserve(size);
    for (auto it = turns.rbegin(); it != turns.rend(); ++it)
        out += *it;
    return out;
}

struct CodexWriter
{
    Random& random;

    static std::string line(Clock::time_point t, std::string_view type, std::string_view payload)
    {
        return "{\"timestamp\":\"" + iso(t) + "\",\"type\":\"" + std::string(type) +
               "\",\"payload\":" + std::string(payload) + "}\n";
    }

    static std::string usage(std::int64_t in, std::int64_t cache, std::int64_t out)
    {
        return "{\"input_tokens\":" + std::to_string(in) + ",\"cached_input_tokens\":" + std::to_string(cache) +
               ",\"output_tokens\":" + std::to_string(out) + ",\"reasoning_output_tokens\":" + std::to_string(out / 3) +
               ",\"total_tokens\":" + std::to_string(in + out) + "}";
    }

    // Turns are written newest first, so the running totals cannot be known here: the event holds its own increase
    // between two marker bytes, and settleTotals() writes the totals once the turns are in file order.
    std::string tokenCount(Clock::time_point t)
    {
        const std::int64_t lastInput = 3000 + static_cast<std::int64_t>(random.below(9000));
        const std::int64_t lastCached = lastInput / 2;
        const std::int64_t lastOutput = 100 + static_cast<std::int64_t>(random.below(900));
        return line(t, "event_msg",
                    "{\"type\":\"token_count\",\"info\":{\"total_token_usage\":\x01" + std::to_string(lastInput) + " " +
                        std::to_string(lastCached) + " " + std::to_string(lastOutput) +
                        "\x02,\"last_token_usage\":" + usage(lastInput, lastCached, lastOutput) +
                        ",\"model_context_window\":272000},\"rate_limits\":{\"primary\":{\"used_percent\":" +
                        std::to_string(random.below(90)) +
                        ".0,\"window_minutes\":300,\"resets_in_seconds\":9000},\"secondary\":null}}");
    }

    // The agent's counters only grow through a session: each event's totals are the sum of the increases so far.
    static std::string settleTotals(const std::string& content)
    {
        std::string out;
        out.reserve(content.size() + content.size() / 16);
        std::int64_t input = 0;
        std::int64_t cached = 0;
        std::int64_t output = 0;
        std::size_t from = 0;
        for (std::size_t open; (open = content.find('\x01', from)) != std::string::npos;) {
            const std::size_t close = content.find('\x02', open);
            long long in = 0;
            long long cache = 0;
            long long outTokens = 0;
            std::sscanf(content.c_str() + open + 1, "%lld %lld %lld", &in, &cache, &outTokens);
            input += in;
            cached += cache;
            output += outTokens;
            out.append(content, from, open - from);
            out += usage(input, cached, output);
            from = close + 1;
        }
        out.append(content, from);
        return out;
    }

    std::string turn(Clock::time_point t)
    {
        const std::string prompt = random.sentence(8 + random.below(30));
        std::string out;
        out += line(t, "response_item",
                    "{\"type\":\"message\",\"role\":\"user\",\"content\":[{\"type\":\"input_text\",\"text\":\"" +
                        prompt + "\"}]}");
        out += line(t, "event_msg", "{\"type\":\"user_message\",\"message\":\"" + prompt + "\",\"images\":[]}");
        out += line(t + std::chrono::seconds(2), "event_msg",
                    "{\"type\":\"agent_reasoning\",\"text\":\"**" + random.sentence(4) + "**\"}");
        out += line(t + std::chrono::seconds(2), "response_item",
                    "{\"type\":\"reasoning\",\"id\":\"rs_" + random.uuid().substr(0, 24) +
                        "\",\"summary\":[{\"type\":\"summary_text\",\"text\":\"" + random.sentence(10) +
                        "\"}],\"encrypted_content\":\"gAAAAB" + random.uuid() + random.uuid() + "\"}");
        const std::string callId = "call_" + random.uuid().substr(0, 24);
        out +=
            line(t + std::chrono::seconds(3), "response_item",
                 "{\"type\":\"function_call\",\"id\":\"fc_" + random.uuid().substr(0, 24) +
                     "\",\"name\":\"shell\",\"arguments\":\"{\\\"command\\\":[\\\"bash\\\",\\\"-lc\\\",\\\"" +
                     std::string(commands[random.below(commands.size())]) + "\\\"]}\",\"call_id\":\"" + callId + "\"}");
        out += line(t + std::chrono::seconds(6), "response_item",
                    "{\"type\":\"function_call_output\",\"call_id\":\"" + callId +
                        "\",\"output\":\"{\\\"output\\\":\\\"" + toolOutput(random, 2 + random.below(40)) +
                        "\\\",\\\"metadata\\\":{\\\"exit_code\\\":0,\\\"duration_seconds\\\":0.4}}\"}");
        out += tokenCount(t + std::chrono::seconds(7));
        const std::string answer = random.sentence(15 + random.below(60));
        out +=
            line(t + std::chrono::seconds(20), "response_item",
                 "{\"type\":\"message\",\"id\":\"msg_" + random.uuid().substr(0, 24) +
                     "\",\"role\":\"assistant\",\"content\":[{\"type\":\"output_text\",\"text\":\"" + answer + "\"}]}");
        out += line(t + std::chrono::seconds(20), "event_msg",
                    "{\"type\":\"agent_message\",\"message\":\"" + answer + "\"}");
        out += tokenCount(t + std::chrono::seconds(21));
        return out;
    }
};

void writeFile(const std::filesystem::path& path, const std::string& content, Clock::time_point modified)
{
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    const timespec times[2] = {{nanos / 1'000'000'000, nanos % 1'000'000'000},
                               {nanos / 1'000'000'000, nanos % 1'000'000'000}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path.string());
}

// Index 0 is the newest; the rest reach back a little irregularly, about 25 transcripts a day per agent and at least
// two weeks.
Clock::time_point modificationTime(const HomeOptions& options, Random& random, std::size_t index)
{
    const auto span =
        std::chrono::seconds(86'400) * static_cast<std::int64_t>(std::max<std::size_t>(14, options.perTool / 25));
    const auto step = span / static_cast<std::int64_t>(std::max<std::size_t>(options.perTool, 1));
    return options.newest - step * static_cast<std::int64_t>(index) -
           std::chrono::seconds(index == 0 ? 0 : static_cast<std::int64_t>(random.below(60)));
}

} // namespace

std::string claudeTranscript(std::uint64_t seed, std::size_t minimumSize, Clock::time_point end)
{
    Random random(seed);
    ClaudeWriter writer{random, random.uuid(), std::string(projects[0]), "main"};
    return transcript(
        {}, [&](Clock::time_point t) { return writer.turn(t); }, minimumSize, 1, end);
}

GeneratedHome generateHome(const std::filesystem::path& home, const HomeOptions& options)
{
    GeneratedHome result;
    Random random(options.seed);

    if (options.claude) {
        const auto root = home / ".claude" / "projects";
        // Subagent transcripts come in bursts: about one session in ten starts some (1 to 24), filed below it.
        std::string parent;
        std::string parentCwd;
        std::filesystem::path parentFolder;
        std::size_t subagentsLeft = 0;
        for (std::size_t i = 0; i < options.perTool; ++i) {
            const auto modified = modificationTime(options, random, i);
            const bool large = i < options.large;
            const std::string cwd(projects[random.below(projects.size())]);
            ClaudeWriter writer{random, random.uuid(), cwd, std::string(branches[random.below(branches.size())])};
            std::filesystem::path path;
            if (!large && subagentsLeft > 0) {
                --subagentsLeft;
                writer.sessionId = parent;
                writer.cwd = parentCwd;
                writer.sidechain = true;
                path = parentFolder / parent / "subagents" / ("agent-" + random.uuid().substr(0, 8) + ".jsonl");
            } else {
                parentFolder = root / encodeCwd(cwd);
                path = parentFolder / (writer.sessionId + ".jsonl");
                parent = writer.sessionId;
                parentCwd = cwd;
                subagentsLeft = random.below(10) == 0 ? 1 + random.below(24) : 0;
            }
            std::string head = "{\"type\":\"file-history-snapshot\",\"messageId\":\"" + random.uuid() +
                               "\",\"snapshot\":{\"messageId\":\"" + random.uuid() +
                               "\",\"trackedFileBackups\":{},\"timestamp\":\"" + iso(modified - std::chrono::hours(3)) +
                               "\"},\"isSnapshotUpdate\":false}\n";
            const std::string content = transcript(
                std::move(head), [&](Clock::time_point t) { return writer.turn(t); }, large ? options.largeSize : 0,
                1 + random.below(6), modified);
            writeFile(path, content, modified);
            result.totalBytes += content.size();
            result.claudeFiles.push_back(path);
        }
    }

    if (options.codex) {
        const auto root = home / ".codex" / "sessions";
        for (std::size_t i = 0; i < options.perTool; ++i) {
            const auto modified = modificationTime(options, random, i);
            const bool large = i < options.large;
            const std::string id = random.uuid();
            const std::string cwd(projects[random.below(projects.size())]);
            CodexWriter writer{random};
            const std::size_t turns = 1 + random.below(6);
            // The file is named after the session's start: roughly one turn every two minutes before the end.
            const auto started = modified - std::chrono::minutes(2) * static_cast<int>(turns) - std::chrono::minutes(1);
            const std::string startedIso = iso(started);
            std::string head = CodexWriter::line(
                started, "session_meta",
                "{\"id\":\"" + id + "\",\"timestamp\":\"" + startedIso + "\",\"cwd\":\"" + cwd +
                    "\",\"originator\":\"codex_cli_rs\",\"cli_version\":\"0.46.0\",\"instructions\":null,"
                    "\"git\":{\"commit_hash\":\"" +
                    random.uuid().substr(0, 8) + "\",\"branch\":\"" +
                    std::string(branches[random.below(branches.size())]) +
                    "\",\"repository_url\":\"git@example.com:dev/repo.git\"},\"base_instructions\":{\"text\":\"You "
                    "are Codex, based on GPT-5. You are running as a coding agent in the Codex CLI.\"}}");
            head += CodexWriter::line(started, "turn_context",
                                      "{\"cwd\":\"" + cwd +
                                          "\",\"approval_policy\":\"on-request\",\"sandbox_policy\":{\"mode\":"
                                          "\"workspace-write\",\"network_access\":false},\"model\":\"gpt-5-codex\","
                                          "\"effort\":\"medium\",\"summary\":\"auto\"}");
            const std::string content = CodexWriter::settleTotals(transcript(
                std::move(head), [&](Clock::time_point t) { return writer.turn(t); }, large ? options.largeSize : 0,
                turns, modified));
            // YYYY/MM/DD/rollout-YYYY-MM-DDThh-mm-ss-<uuid>.jsonl
            std::string stamp = startedIso.substr(0, 19);
            stamp[13] = '-';
            stamp[16] = '-';
            const auto path = root / startedIso.substr(0, 4) / startedIso.substr(5, 2) / startedIso.substr(8, 2) /
                              ("rollout-" + stamp + "-" + id + ".jsonl");
            writeFile(path, content, modified);
            result.totalBytes += content.size();
            result.codexFiles.push_back(path);
        }
    }
    return result;
}

} // namespace loomwatch::bench
