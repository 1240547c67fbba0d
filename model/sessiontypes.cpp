#include "model/sessiontypes.h"

#include <functional>

namespace loomwatch::model {

namespace {

struct ToolInfo
{
    std::string_view raw;
    std::string_view display;
    std::string_view symbol;
};

constexpr std::array<ToolInfo, 4> toolInfo{{
    {"claude", "Claude Code", "sparkles"},
    {"codex", "Codex", "terminal"},
    {"openCode", "OpenCode", "chevron.left.forwardslash.chevron.right"},
    {"cursor", "Cursor", "cursorarrow.rays"},
}};

constexpr std::array<ToolInfo, 6> stateInfo{{
    {"working", "Working", "bolt.fill"},
    {"waitingForInput", "Waiting for you", "person.crop.circle.badge.exclamationmark"},
    {"idle", "Idle", "pause.circle"},
    {"ended", "Ended", "checkmark.circle"},
    {"errored", "Error", "exclamationmark.triangle.fill"},
    {"limited", "Limited info", "questionmark.circle"},
}};

constexpr std::array<std::string_view, 4> supportRaw{"full", "partial", "processOnly", "unavailable"};

template <typename Enum, typename Table, typename Project>
std::optional<Enum> fromRaw(const Table& table, std::string_view raw, Project project)
{
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (project(table[i]) == raw)
            return static_cast<Enum>(i);
    }
    return std::nullopt;
}

void combine(std::size_t& seed, std::size_t value)
{
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void combineOptional(std::size_t& seed, const std::optional<T>& value)
{
    combine(seed, value.has_value());
    if (value)
        combine(seed, std::hash<T>{}(*value));
}

} // namespace

std::string_view rawValue(AgentTool tool)
{
    return toolInfo.at(static_cast<std::size_t>(tool)).raw;
}
std::string_view displayName(AgentTool tool)
{
    return toolInfo.at(static_cast<std::size_t>(tool)).display;
}
std::string_view symbolName(AgentTool tool)
{
    return toolInfo.at(static_cast<std::size_t>(tool)).symbol;
}

std::optional<AgentTool> agentToolFromRaw(std::string_view raw)
{
    return fromRaw<AgentTool>(toolInfo, raw, [](const ToolInfo& i) { return i.raw; });
}

std::string_view rawValue(SessionState state)
{
    return stateInfo.at(static_cast<std::size_t>(state)).raw;
}
std::string_view displayName(SessionState state)
{
    return stateInfo.at(static_cast<std::size_t>(state)).display;
}
std::string_view symbolName(SessionState state)
{
    return stateInfo.at(static_cast<std::size_t>(state)).symbol;
}

std::optional<SessionState> sessionStateFromRaw(std::string_view raw)
{
    return fromRaw<SessionState>(stateInfo, raw, [](const ToolInfo& i) { return i.raw; });
}

std::string_view rawValue(SupportLevel level)
{
    return supportRaw.at(static_cast<std::size_t>(level));
}

std::optional<SupportLevel> supportLevelFromRaw(std::string_view raw)
{
    return fromRaw<SupportLevel>(supportRaw, raw, [](std::string_view r) { return r; });
}

std::size_t hashValue(const TokenUsage& tokens)
{
    std::size_t seed = 0;
    for (auto field : {tokens.input, tokens.output, tokens.cacheRead, tokens.cacheWrite})
        combine(seed, std::hash<std::int64_t>{}(field));
    return seed;
}

std::size_t hashValue(const ModelTokens& tokens)
{
    std::size_t seed = std::hash<std::string>{}(tokens.model);
    combine(seed, hashValue(tokens.tokens));
    return seed;
}

std::size_t hashValue(const AgentSession& s)
{
    std::size_t seed = 0;
    combine(seed, std::hash<std::string>{}(s.id));
    combine(seed, static_cast<std::size_t>(s.tool));
    combineOptional(seed, s.projectPath);
    combine(seed, std::hash<std::string>{}(s.projectName));
    combineOptional(seed, s.branch);
    combineOptional(seed, s.model);
    combine(seed, std::hash<Timestamp::rep>{}(s.startedAt.time_since_epoch().count()));
    combine(seed, std::hash<Timestamp::rep>{}(s.lastActivityAt.time_since_epoch().count()));
    combineOptional(seed, s.processID);
    combine(seed, static_cast<std::size_t>(s.state));
    combine(seed, static_cast<std::size_t>(s.supportLevel));
    combine(seed, hashValue(s.tokens));
    for (const ModelTokens& perModel : s.modelTokens)
        combine(seed, hashValue(perModel));
    combineOptional(seed, s.estimatedCost);
    combineOptional(seed, s.lastSnippet);
    combine(seed, std::hash<std::int64_t>{}(s.parserVersion));
    combineOptional(seed, s.sourcePath);
    return seed;
}

} // namespace loomwatch::model
