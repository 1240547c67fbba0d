// Arbitrary bytes through the transcript parser: as a tail (whole or cut mid-line), blown up to about
// the tail limit, and now and then as a real file whose result must match the tail it was read from.
#include "ingestion/jsonlparser.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

using loomwatch::ingestion::JSONLParser;
using loomwatch::model::AgentTool;
using loomwatch::model::ParsedSession;

namespace {

enum Flags : std::uint8_t
{
    codex = 1,
    midLine = 2,
    nearTailLimit = 4,
    throughFile = 8,
};

// The input repeated to tailLimit + delta bytes, delta in [-128 * 61, 127 * 61].
std::string nearLimit(std::string_view body, std::int8_t delta)
{
    const std::size_t size = JSONLParser::tailLimit + static_cast<std::ptrdiff_t>(delta) * 61;
    std::string out;
    out.reserve(size);
    if (body.empty())
        body = "\n";
    while (out.size() < size)
        out.append(body.substr(0, size - out.size()));
    return out;
}

void checkThroughFile(const JSONLParser& parser, std::string_view bytes)
{
    const int fd = ::memfd_create("transcript.jsonl", MFD_CLOEXEC);
    if (fd < 0)
        return;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    struct stat info
    {};
    if (written == bytes.size() && ::fstat(fd, &info) == 0) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        ParsedSession fromFile;
        try {
            fromFile = parser.parse({path, parser.tool()});
        } catch (const std::system_error&) {
            ::close(fd);
            return;
        }
        // The file must read exactly as its own tail would.
        ParsedSession initial;
        initial.id = std::to_string(fd);
        initial.startedAt = initial.lastActivityAt =
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        initial.sourcePath = path;
        const bool cut = bytes.size() > JSONLParser::tailLimit;
        const std::string_view tail = cut ? bytes.substr(bytes.size() - JSONLParser::tailLimit) : bytes;
        if (!(parser.parseTail(tail, cut, initial) == fromFile))
            std::abort();
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    const auto delta = static_cast<std::int8_t>(data[1]);
    const std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
    const JSONLParser parser(flags & codex ? AgentTool::codex : AgentTool::claude);

    const std::string grown = flags & nearTailLimit ? nearLimit(body, delta) : std::string();
    const std::string_view bytes = flags & nearTailLimit ? std::string_view(grown) : body;

    ParsedSession initial;
    initial.id = "fuzz";
    const ParsedSession parsed = parser.parseTail(bytes, flags & midLine, initial);
    if (parsed.tool != parser.tool())
        std::abort();
    if (parsed.safeSnippet && parsed.safeSnippet->size() > 4 * 1024)
        std::abort();
    // What the state reducer and the command line compute from every record: UBSan stops on an overflow.
    const auto now = std::chrono::system_clock::now();
    (void)(now - parsed.lastActivityAt);
    (void)(parsed.lastActivityAt - parsed.startedAt);

    if (flags & throughFile)
        checkThroughFile(parser, bytes);
    return 0;
}
