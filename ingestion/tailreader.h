#pragma once

#include "model/sessiontypes.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace loomwatch::ingestion {

// Reads the end of a file into memory that it keeps and reuses from one read to the next. What it holds is always
// followed by simdjson::SIMDJSON_PADDING zero bytes, so the JSON decoder can parse it in place.
class TailReader
{
public:
    struct Tail
    {
        // Valid until the next call on the reader.
        std::string_view bytes;
        // Whether the file was longer than the limit, so that the bytes start somewhere inside it.
        bool cut = false;
        model::Timestamp modified;
    };

    // The last `limit` bytes of the file at `path` (all of it when it is shorter). Throws std::system_error (with
    // errno, naming the file) when the file cannot be opened, read or stat'ed, or is not a regular file.
    Tail read(const std::string& path, std::size_t limit);

    // A padded copy of `bytes`.
    std::string_view hold(std::string_view bytes);

private:
    char* reserve(std::size_t size);

    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
};

} // namespace loomwatch::ingestion
