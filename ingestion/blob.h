#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace loomwatch::ingestion {

// Values packed into a byte string, in the machine's own byte order: what is packed never leaves the machine, and the
// usage ledger's format version guards changes.
class BlobWriter
{
public:
    void integer(std::int64_t value) { bytes(&value, sizeof value); }
    void text(const std::string& value)
    {
        integer(static_cast<std::int64_t>(value.size()));
        bytes(value.data(), value.size());
    }
    std::string take() { return std::move(m_data); }

private:
    void bytes(const void* data, std::size_t size) { m_data.append(static_cast<const char*>(data), size); }
    std::string m_data;
};

// Reads what BlobWriter wrote; anything short or out of bounds (a damaged cache) turns it bad.
class BlobReader
{
public:
    explicit BlobReader(std::string_view data) : m_data(data) {}
    std::int64_t integer()
    {
        std::int64_t value = 0;
        if (m_data.size() < sizeof value)
            return fail();
        std::memcpy(&value, m_data.data(), sizeof value);
        m_data.remove_prefix(sizeof value);
        return value;
    }
    std::string text()
    {
        const std::int64_t size = integer();
        if (size < 0 || static_cast<std::uint64_t>(size) > m_data.size())
            return fail(), std::string();
        std::string value(m_data.substr(0, static_cast<std::size_t>(size)));
        m_data.remove_prefix(static_cast<std::size_t>(size));
        return value;
    }
    bool good() const { return m_good; }
    bool atEnd() const { return m_good && m_data.empty(); }

private:
    std::int64_t fail()
    {
        m_good = false;
        m_data = {};
        return 0;
    }
    std::string_view m_data;
    bool m_good = true;
};

} // namespace loomwatch::ingestion
