#include "model/regularfile.h"

#include <cerrno>
#include <chrono>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loomwatch::model {

RegularFile::RegularFile(std::string path) : m_path(std::move(path))
{
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        fail(errno);
    struct stat info
    {};
    if (::fstat(m_fd, &info) != 0)
        fail(errno);
    if (!S_ISREG(info.st_mode))
        fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    m_size = static_cast<std::int64_t>(info.st_size);
    m_device = static_cast<std::int64_t>(info.st_dev);
    m_inode = static_cast<std::int64_t>(info.st_ino);
    m_modified = Timestamp(std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

RegularFile::~RegularFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void RegularFile::fail(int error) const
{
    if (m_fd >= 0)
        ::close(m_fd);
    throw std::system_error(error, std::generic_category(), "Could not read " + m_path);
}

std::size_t RegularFile::readAt(char* buffer, std::size_t size, std::int64_t offset) const
{
    std::size_t length = 0;
    while (length < size) {
        const ssize_t got = ::pread(m_fd, buffer + length, size - length, static_cast<off_t>(offset) + length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "Could not read " + m_path);
        }
        if (got == 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    return length;
}

} // namespace loomwatch::model
