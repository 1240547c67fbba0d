#pragma once

#include "model/decimal.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::model {

// Wall-clock instant. Comparisons between instants of one session (first/last activity) use it directly.
using Timestamp = std::chrono::system_clock::time_point;

enum class AgentTool
{
    claude,
    codex,
    openCode,
    cursor,
};

inline constexpr std::array<AgentTool, 4> allAgentTools{AgentTool::claude, AgentTool::codex, AgentTool::openCode,
                                                        AgentTool::cursor};

std::string_view rawValue(AgentTool tool);
std::string_view displayName(AgentTool tool);
std::string_view symbolName(AgentTool tool);
// Exact, case-sensitive: "openCode" maps, "opencode" does not.
std::optional<AgentTool> agentToolFromRaw(std::string_view raw);

enum class SessionState
{
    working,
    waitingForInput,
    idle,
    ended,
    errored,
    limited,
};

inline constexpr std::array<SessionState, 6> allSessionStates{SessionState::working, SessionState::waitingForInput,
                                                              SessionState::idle,    SessionState::ended,
                                                              SessionState::errored, SessionState::limited};

std::string_view rawValue(SessionState state);
std::string_view displayName(SessionState state);
std::string_view symbolName(SessionState state);
std::optional<SessionState> sessionStateFromRaw(std::string_view raw);

enum class SupportLevel
{
    full,
    partial,
    processOnly,
    unavailable,
};

inline constexpr std::array<SupportLevel, 4> allSupportLevels{SupportLevel::full, SupportLevel::partial,
                                                              SupportLevel::processOnly, SupportLevel::unavailable};

std::string_view rawValue(SupportLevel level);
std::optional<SupportLevel> supportLevelFromRaw(std::string_view raw);

struct TokenUsage
{
    std::int64_t input = 0;
    std::int64_t output = 0;
    std::int64_t cacheRead = 0;
    std::int64_t cacheWrite = 0;

    bool operator==(const TokenUsage&) const = default;
};

// The tokens one session spent with one model.
struct ModelTokens
{
    std::string model;
    TokenUsage tokens;

    bool operator==(const ModelTokens&) const = default;
};

// The normalized session record. Identity is `id`; equality is memberwise over all fields.
struct AgentSession
{
    std::string id;
    AgentTool tool = AgentTool::claude;
    std::optional<std::string> projectPath;
    std::string projectName;
    std::optional<std::string> branch;
    std::optional<std::string> model;
    Timestamp startedAt;
    Timestamp lastActivityAt;
    std::optional<std::int32_t> processID;
    SessionState state = SessionState::ended;
    SupportLevel supportLevel = SupportLevel::full;
    TokenUsage tokens;
    // What `tokens` is the sum of, per model, by model name; empty when the source knows only one model for the
    // whole session (OpenCode, Cursor), whose tokens then all count under `model`.
    std::vector<ModelTokens> modelTokens{};
    std::optional<Decimal> estimatedCost;
    std::optional<std::string> lastSnippet;
    std::int64_t parserVersion = 1;
    std::optional<std::string> sourcePath;

    bool operator==(const AgentSession&) const = default;
};

// What one transcript says about its session, before the tool prefix and the process are added.
struct ParsedSession
{
    std::string id;
    AgentTool tool = AgentTool::claude;
    std::optional<std::string> projectPath;
    std::optional<std::string> branch;
    std::optional<std::string> model;
    Timestamp startedAt;
    Timestamp lastActivityAt;
    std::optional<SessionState> explicitState;
    TokenUsage tokens;
    std::vector<ModelTokens> modelTokens{};
    std::optional<std::string> safeSnippet;
    std::optional<std::string> sourcePath;

    bool operator==(const ParsedSession&) const = default;
};

struct SessionSource
{
    std::string url; // path of one transcript file
    AgentTool tool = AgentTool::claude;

    bool operator==(const SessionSource&) const = default;
};

// One running agent process; identified by pid.
struct AgentProcess
{
    std::int32_t pid = 0;
    std::string name;
    std::optional<std::string> executablePath;
    std::optional<std::string> workingDirectory;

    bool operator==(const AgentProcess&) const = default;
};

// A provider's self-check; identified by tool (one result per tool).
struct ProviderProbeResult
{
    AgentTool tool = AgentTool::claude;
    bool installed = false;
    SupportLevel supportLevel = SupportLevel::unavailable;
    std::string detectedPath;
    std::optional<std::string> lastError;

    bool operator==(const ProviderProbeResult&) const = default;
};

struct ProviderEvent
{
    enum class Kind
    {
        changed,
        failed,
    };

    Kind kind = Kind::changed;
    AgentTool tool = AgentTool::claude;
    std::string message; // only for `failed`

    static ProviderEvent changed(AgentTool tool) { return {Kind::changed, tool, {}}; }
    static ProviderEvent failed(AgentTool tool, std::string message)
    {
        return {Kind::failed, tool, std::move(message)};
    }

    bool operator==(const ProviderEvent&) const = default;
};

std::size_t hashValue(const TokenUsage& tokens);
std::size_t hashValue(const ModelTokens& tokens);
std::size_t hashValue(const AgentSession& session);

} // namespace loomwatch::model

template <>
struct std::hash<loomwatch::model::TokenUsage>
{
    std::size_t operator()(const loomwatch::model::TokenUsage& t) const noexcept
    {
        return loomwatch::model::hashValue(t);
    }
};

template <>
struct std::hash<loomwatch::model::ModelTokens>
{
    std::size_t operator()(const loomwatch::model::ModelTokens& t) const noexcept
    {
        return loomwatch::model::hashValue(t);
    }
};

template <>
struct std::hash<loomwatch::model::AgentSession>
{
    std::size_t operator()(const loomwatch::model::AgentSession& s) const noexcept
    {
        return loomwatch::model::hashValue(s);
    }
};
