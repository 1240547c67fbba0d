#pragma once

#include "model/sessiontypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace loomwatch::model {

// A regular file open for reading, with its attributes as they were when it was opened. The open does not block, so
// that a FIFO or device named like a transcript cannot stall it. Every failure throws std::system_error with errno and
// what() "Could not read <path>: <reason>" (a file that is not a regular one: EISDIR or EINVAL).
class RegularFile
{
public:
    explicit RegularFile(std::string path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    const std::string& path() const { return m_path; }
    std::int64_t size() const { return m_size; }
    std::int64_t device() const { return m_device; }
    std::int64_t inode() const { return m_inode; }
    Timestamp modified() const { return m_modified; }

    // Reads up to `size` bytes at `offset`; fewer only at the end of the file.
    std::size_t readAt(char* buffer, std::size_t size, std::int64_t offset) const;

private:
    [[noreturn]] void fail(int error) const;

    std::string m_path;
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_device = 0;
    std::int64_t m_inode = 0;
    Timestamp m_modified;
};

} // namespace loomwatch::model
