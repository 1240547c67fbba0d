#pragma once

#include <simdjson.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace loomwatch::handoff {

// Finds what was said or done in one decoded line of a Claude Code or Codex transcript: a prompt, an answer, a
// tool call or a failed tool result. Everything else an agent writes (metadata, reasoning, token counts, its own
// wrappers around command output and instructions, Codex's event copies of its messages) holds none.
// The excerpt of a session and the recent actions of its handoff are made of these.
class ConversationReader
{
public:
    struct Event
    {
        enum class Kind
        {
            user,
            assistant,
            tool,
            error,
        };

        Kind kind = Kind::user;
        // For a tool: its name, then ": " and its argument when it has one. For an error: "Error:", then a space
        // and the first line of the result's text when it has one.
        std::string text;
        // Where in `text` the command a tool ran begins, or npos when the argument is no command.
        std::size_t commandStart = std::string::npos;

        bool hasCommand() const { return commandStart != std::string::npos; }
        std::string_view command() const;
    };

    // Reads the event `line` holds into `event`, reusing its memory. False when the line holds none; `event` is
    // then left in no particular state. Never throws on any content.
    bool read(simdjson::dom::object line, Event& event);

private:
    bool readClaude(simdjson::dom::object message, bool fromUser, Event& event);
    bool readCodex(simdjson::dom::object item, Event& event);
    void appendCommandArgument(std::string_view arguments, Event& event);

    // Decodes the JSON text of a Codex call's arguments, apart from the line, whose decoded form stays in use.
    simdjson::dom::parser m_arguments;
};

} // namespace loomwatch::handoff
