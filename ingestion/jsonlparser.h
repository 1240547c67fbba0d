#pragma once

#include "model/sessiontypes.h"
#include "model/transcriptparser.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace loomwatch::ingestion {

// Reads the tail of one JSON Lines transcript (Claude Code or Codex; the same rules for both) into a
// ParsedSession, all but its tokens (see UsageLedger). Its excerpt is the last thing said or done in the tail
// (handoff::ConversationReader), else the last text the key search finds. Only reads; safe to use from several
// threads at once.
class JSONLParser : public model::TranscriptParser
{
public:
    // Only this many bytes at the end of a transcript are ever read.
    static constexpr std::size_t tailLimit = 786'432;
    // Raise it with every change of what a parse gives: the parses the usage ledger keeps (sessionnote.h) are then
    // made again.
    static constexpr std::int64_t rulesVersion = 2;

    explicit JSONLParser(model::AgentTool tool);

    model::AgentTool tool() const { return m_tool; }

    // Memory that a series of parses can share: room for one tail and the JSON decoder's and the key search's
    // buffers, kept at the size of the largest seen. One workspace serves one thread at a time.
    class Workspace
    {
    public:
        Workspace();
        ~Workspace();
        Workspace(const Workspace&) = delete;
        Workspace& operator=(const Workspace&) = delete;

    private:
        friend class JSONLParser;
        struct Buffers;
        std::unique_ptr<Buffers> m_buffers;
    };

    // Throws std::system_error (with errno, naming the file) when the file cannot be opened, read or
    // stat'ed, or is not a regular file. Malformed content never throws.
    model::ParsedSession parse(const model::SessionSource& source) const override;
    // The same, reusing `workspace` instead of allocating afresh.
    model::ParsedSession parse(const model::SessionSource& source, Workspace& workspace) const;

    // The same from a whole file's `bytes` (followed by simdjson::SIMDJSON_PADDING readable bytes) already in memory,
    // modified at `modified`.
    model::ParsedSession parseContents(const model::SessionSource& source, std::string_view bytes,
                                       model::Timestamp modified, Workspace& workspace) const;

    // Applies the lines of `tail` to `initial` and returns the result. `startsMidLine` says the tail was cut
    // from a longer file, so everything up to its first line feed is a partial line and is dropped (unless
    // the tail holds no line feed at all). Never throws on any content; usable on arbitrary bytes.
    model::ParsedSession parseTail(std::string_view tail, bool startsMidLine, model::ParsedSession initial) const;

private:
    // Before any line: the id from the file name, both times the file's modification time.
    model::ParsedSession initialRecord(const model::SessionSource& source, model::Timestamp modified) const;

    model::AgentTool m_tool;
};

} // namespace loomwatch::ingestion
