#pragma once

#include "ingestion/usagecounter.h"
#include "model/sessiontypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace loomwatch::ingestion {

// What one transcript has spent so far.
struct FileUsage
{
    // Sorted by model, then quarter.
    std::vector<UsageSums> sums;
    // Claude Code: the message keys counted, sorted; filled when asked for.
    std::vector<std::uint64_t> keys;
    // The last model a record named, for records that name none when there is no session to ask.
    std::string lastModel;
    // What the caller made of the transcript as it was counted (see UsageLedger::count()).
    std::string note;
};

// The token counts of Claude Code and Codex transcripts, kept in an SQLite cache so that a transcript is read whole
// only once: later counts read only the bytes appended since (up to the last complete line). A transcript that
// shrank, was replaced (another device or inode) or no longer holds the bytes before the counted end is counted
// again from its start.
//
// Several processes may share one cache: each count of a changed transcript reads its row, counts and writes in one
// write transaction, waiting for the others. A cache that is damaged or of another format is made anew; one that
// cannot be written (read-only or full disk) gives way to a cache in memory. Counts are right in every case, and no
// error reaches the caller but a transcript's own read error. Only the cache file and its folder are ever written.
// Safe to use from several threads (one count at a time).
class UsageLedger
{
public:
    // Format of the cache. Its user_version holds this and JSONLParser::rulesVersion; any other value makes it
    // start afresh.
    static constexpr int formatVersion = 2;

    // The cache at `path`, its folder created when missing; an empty path keeps it in memory only.
    explicit UsageLedger(std::string path = {});
    ~UsageLedger();
    UsageLedger(const UsageLedger&) = delete;
    UsageLedger& operator=(const UsageLedger&) = delete;

    // Whether counts are kept in the file (else in memory).
    bool isPersistent() const;

    // A whole transcript as read for its first count, followed by simdjson::SIMDJSON_PADDING readable bytes.
    struct Contents
    {
        std::string_view bytes;
        model::Timestamp modified;
    };
    // Anything the caller derives from a transcript's bytes (a parse of its tail), kept with its counts and made
    // again only when the transcript changed. Given the contents when the count has just read them all at once (a
    // first count of a transcript of up to a few MiB), else null: then it reads what it needs itself.
    using NoteMaker = std::function<std::string(const Contents* contents)>;

    // The usage of the transcript at `path`, counted up to date, with the note `makeNote` made of the transcript as
    // it is now (or as it was when last counted, if unchanged since). Throws std::system_error when the file cannot
    // be opened or read or is not a regular file, and whatever `makeNote` throws.
    FileUsage count(model::AgentTool tool, const std::string& path, bool withKeys = false,
                    const NoteMaker& makeNote = {});

    // The usage of several transcripts, in their order, where a Claude Code message counts only in the first
    // transcript that holds it (a resumed session repeats the messages of the one it resumes). A transcript that
    // cannot be read counts nothing.
    std::vector<FileUsage> countOnce(model::AgentTool tool, const std::vector<std::string>& paths);

private:
    class Store;
    // The cache at `path` (in memory when empty), made anew when it cannot be used as it is (or `afresh`); null when
    // that fails.
    static std::unique_ptr<Store> openStore(const std::string& path, bool afresh = false);
    FileUsage countLocked(model::AgentTool tool, const std::string& path, bool withKeys, const NoteMaker& makeNote);

    std::mutex m_mutex;
    std::string m_path;
    std::unique_ptr<Store> m_store;
};

// Every model's tokens over several transcripts' sums: records without a model count under the last model their
// transcript names, else under `sessionModel` (else under ""), so that a session's transcripts (a Claude Code session
// and its subagents) give the same split whichever of them stands for the session. Codex sums are settled per model.
// Sorted by model; their sum is the second value.
std::pair<std::vector<model::ModelTokens>, model::TokenUsage>
modelTotals(model::AgentTool tool, const std::vector<FileUsage>& files, const std::optional<std::string>& sessionModel);

} // namespace loomwatch::ingestion
