#include "ingestion/tailreader.h"

#include "model/regularfile.h"

#include <simdjson.h>

#include <algorithm>

namespace loomwatch::ingestion {

char* TailReader::reserve(std::size_t size)
{
    if (!m_buffer || size > m_capacity) {
        m_buffer.reset();
        m_buffer.reset(new char[size + simdjson::SIMDJSON_PADDING]);
        m_capacity = size;
    }
    return m_buffer.get();
}

std::string_view TailReader::hold(std::string_view bytes)
{
    char* const buffer = reserve(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer);
    std::fill_n(buffer + bytes.size(), simdjson::SIMDJSON_PADDING, '\0');
    return {buffer, bytes.size()};
}

TailReader::Tail TailReader::read(const std::string& path, std::size_t limit)
{
    const model::RegularFile file(path);
    const auto size = static_cast<std::size_t>(std::max<std::int64_t>(file.size(), 0));
    const std::size_t start = size > limit ? size - limit : 0;
    // Bytes appended after the size was taken are left for the next read, so that no more than the limit is read.
    char* const buffer = reserve(size - start);
    const std::size_t length = file.readAt(buffer, size - start, static_cast<std::int64_t>(start));
    std::fill_n(buffer + length, simdjson::SIMDJSON_PADDING, '\0');
    return {std::string_view(buffer, length), start != 0, file.modified()};
}

} // namespace loomwatch::ingestion
