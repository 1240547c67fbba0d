#include "ingestion/tailreader.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loomwatch::ingestion {

namespace {

[[noreturn]] void throwFileError(int error, const std::string& what, const std::string& path)
{
    throw std::system_error(error, std::generic_category(), "Cannot " + what + " " + path);
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

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
    // Non-blocking, so that a FIFO or device named like a transcript cannot stall the open.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        throwFileError(errno, "open", path);
    struct stat info
    {};
    if (::fstat(file.get(), &info) != 0)
        throwFileError(errno, "read the attributes of", path);
    if (!S_ISREG(info.st_mode))
        throwFileError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "read (not a regular file)", path);

    const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
    const std::size_t start = size > limit ? size - limit : 0;
    const std::size_t wanted = size - start;
    // Bytes appended after the size was taken are left for the next read, so that no more than the limit is read.
    char* const buffer = reserve(wanted);
    std::size_t length = 0;
    while (length < wanted) {
        const ssize_t got = ::pread(file.get(), buffer + length, wanted - length, static_cast<off_t>(start + length));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwFileError(errno, "read", path);
        }
        if (got == 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    std::fill_n(buffer + length, simdjson::SIMDJSON_PADDING, '\0');

    const auto modified = model::Timestamp(std::chrono::duration_cast<model::Timestamp::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return {std::string_view(buffer, length), start != 0, modified};
}

} // namespace loomwatch::ingestion
