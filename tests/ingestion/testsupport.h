#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>

namespace loomwatch::ingestion::testing {

// A fresh folder under /tmp, mode 0755 so that an unprivileged helper can reach it; removed at the end.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = "/tmp/loomwatch-ingestion-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        ::chmod(pattern.c_str(), 0755);
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(std::string_view relative) const { return (m_path / relative).string(); }

private:
    std::filesystem::path m_path;
};

inline void writeFile(const std::filesystem::path& path, std::string_view content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline void appendFile(const std::filesystem::path& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline void setModificationTime(const std::filesystem::path& path, std::chrono::system_clock::time_point when)
{
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    const timespec times[2] = {{nanos / 1'000'000'000, nanos % 1'000'000'000},
                               {nanos / 1'000'000'000, nanos % 1'000'000'000}};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed: " + path.string());
}

// Counts callback runs and lets a test wait for a given count.
class CallCounter
{
public:
    void hit()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_count;
        }
        m_changed.notify_all();
    }
    int count() const
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    bool waitFor(int expected, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_count >= expected; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int m_count = 0;
};

} // namespace loomwatch::ingestion::testing
