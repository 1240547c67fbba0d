#pragma once

#include "model/sessiontypes.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::handoff {

// Writes a continuation prompt for another agent from a session record and, for a transcript
// session, the end of its transcript: the last things said and done there, or, in a transcript of
// no shape it knows, its last lines as they are. Everything taken from the transcript is redacted.
class HandoffGenerator
{
public:
    // The editable template's text, or nothing when it cannot be obtained or is not valid UTF-8.
    using TemplateSource = std::function<std::optional<std::string>()>;

    static constexpr std::string_view builtInTemplate =
        "# Continuation Handoff\n\n## Objective\n{{objective}}\n\n## Current state\n{{current_state}}\n";

    static constexpr std::size_t tailBytes = 524288;
    static constexpr std::size_t keptLines = 20;
    static constexpr std::size_t lineCharacters = 500;
    static constexpr std::size_t actionCount = 8;
    static constexpr std::size_t actionCharacters = 160;
    static constexpr std::size_t objectiveCharacters = 300;

    explicit HandoffGenerator(TemplateSource source = {});

    // Throws std::system_error (with errno) when the transcript named by the session cannot be
    // opened, positioned or read; what() names the file: "Could not read /x.jsonl: No such file or directory".
    std::string generateHandoff(const model::AgentSession& session) const;

    // The filled template for transcript lines (possibly none), each shown as one recent action once cleaned
    // up, and the user's last request when one was found (else the session's excerpt is the objective).
    // Cannot fail.
    std::string renderHandoff(const model::AgentSession& session, const std::vector<std::string>& lines,
                              const std::optional<std::string>& objective = std::nullopt) const;

private:
    TemplateSource m_source;
};

} // namespace loomwatch::handoff
