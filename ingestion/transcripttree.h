#pragma once

#include "model/sessiontypes.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::ingestion {

// Transcripts are the regular files named "*.jsonl" (exactly that extension, after a non-empty name) below a root.
inline constexpr std::string_view transcriptExtension = "jsonl";

// Receives the transcripts of a walk: the folder's path and the file's name. Offers come from two threads, one at a
// time.
class TranscriptSink
{
public:
    virtual ~TranscriptSink() = default;
    virtual void offer(const timespec& modified, const std::string& folder, std::string_view name) = 0;
};

// Every transcript below `root`, at any depth, hidden folders included. Symbolic links are not followed (the root
// itself may be one); folders that cannot be read are skipped.
void walkTranscripts(const std::string& root, TranscriptSink& sink);

// The paths of the `limit` most recently modified transcripts below `root`, newest first (equal times in path order).
std::vector<std::string> newestTranscripts(const std::string& root, std::size_t limit);

// The paths of every transcript below `root` modified at or after `since`, oldest first (equal times in path order).
std::vector<std::string> transcriptsModifiedSince(const std::string& root, model::Timestamp since);

} // namespace loomwatch::ingestion
