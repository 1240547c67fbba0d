#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace loomwatch::bench {

struct HomeOptions
{
    std::size_t perTool = 200; // transcripts per agent
    std::size_t large = 5;     // the newest this many per agent are at least largeSize bytes
    std::size_t largeSize = 786'432;
    std::uint64_t seed = 1;
    bool claude = true;
    bool codex = true;
    // Modification time of the newest transcript; the others reach back from it at about 25 a day, and at
    // least two weeks.
    std::chrono::system_clock::time_point newest = std::chrono::system_clock::now();
};

struct GeneratedHome
{
    // Newest first.
    std::vector<std::filesystem::path> claudeFiles;
    std::vector<std::filesystem::path> codexFiles;
    std::uintmax_t totalBytes = 0;
};

// Writes a plausible home below `home`: ~/.claude/projects/<encoded cwd>/<uuid>.jsonl in a few dozen project
// folders, with bursts of subagent transcripts below <encoded cwd>/<session>/subagents/ for some sessions, and
// ~/.codex/sessions/YYYY/MM/DD/rollout-<time>-<uuid>.jsonl, with the line shapes both agents really write. The same
// options always give the same bytes (apart from `newest`).
GeneratedHome generateHome(const std::filesystem::path& home, const HomeOptions& options);

// One Claude Code transcript of at least `minimumSize` bytes, as text.
std::string claudeTranscript(std::uint64_t seed, std::size_t minimumSize, std::chrono::system_clock::time_point end);

} // namespace loomwatch::bench
