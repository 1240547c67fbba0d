#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace loomwatch::testing {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& path, std::string_view content)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline void appendFile(const fs::path& path, std::string_view content)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << content;
}

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file below tests/data, by its relative path.
inline std::string testData(const std::string& relative)
{
    const char* root = std::getenv("LOOMWATCH_TEST_DATA");
    if (root == nullptr)
        throw std::runtime_error("LOOMWATCH_TEST_DATA is not set");
    return readFile(fs::path(root) / relative);
}

inline void setModificationTime(const fs::path& path, std::chrono::system_clock::time_point when)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    const timespec times[2] = {{ns / 1'000'000'000, ns % 1'000'000'000}, {ns / 1'000'000'000, ns % 1'000'000'000}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed: " + path.string());
}

// Every file below `dir` (relative path → bytes; folders as "<dir>"), to show that nothing was
// created, removed or changed.
inline std::map<std::string, std::string> snapshot(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    if (fs::exists(dir))
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            files[fs::relative(entry.path(), dir).string()] =
                entry.is_regular_file() ? readFile(entry.path()) : std::string("<dir>");
    return files;
}

// A fresh folder under /tmp (mode 0755, so an unprivileged helper can reach it), removed at the end.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = "/tmp/loomwatch-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        ::chmod(pattern.c_str(), 0755);
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        // Undo permission games of the test so that everything can be removed.
        for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                ::chmod(it->path().c_str(), 0755);
        ::chmod(m_path.c_str(), 0755);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(std::string_view name) const { return m_path / name; }

private:
    fs::path m_path;
};

// Sets (or unsets) an environment variable for the scope, restoring the old value afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedEnv() { set(m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value)
    {
        value ? ::setenv(m_name.c_str(), value->c_str(), 1) : ::unsetenv(m_name.c_str());
    }

    std::string m_name;
    std::optional<std::string> m_old;
};

// A home folder of its own. In this process HOME and the XDG folders point inside it for the
// scope; environment() gives the same for a child process.
class TempHome
{
public:
    TempHome()
        : m_home("HOME", m_dir.path()), m_data("XDG_DATA_HOME", m_dir / ".local/share"),
          m_config("XDG_CONFIG_HOME", m_dir / ".config"), m_cache("XDG_CACHE_HOME", m_dir / ".cache")
    {}
    const fs::path& path() const { return m_dir.path(); }
    fs::path operator/(std::string_view name) const { return m_dir / name; }

    // Writes a file below the home (parents created) with the given modification time.
    fs::path write(const std::string& relative, std::string_view content,
                   std::chrono::system_clock::time_point mtime = std::chrono::system_clock::now()) const
    {
        const fs::path file = m_dir / relative;
        writeFile(file, content);
        setModificationTime(file, mtime);
        return file;
    }

    // For a child process: this home, no session bus, the tests' time zone and locale.
    std::map<std::string, std::string> environment() const
    {
        return {{"HOME", path()},
                {"XDG_DATA_HOME", m_dir / ".local/share"},
                {"XDG_CONFIG_HOME", m_dir / ".config"},
                {"XDG_CACHE_HOME", m_dir / ".cache"},
                {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/loomwatch-test-bus"},
                {"LANG", "en_US.UTF-8"},
                {"TZ", "Europe/Berlin"}};
    }

private:
    TempDir m_dir;
    ScopedEnv m_home;
    ScopedEnv m_data;
    ScopedEnv m_config;
    ScopedEnv m_cache;
};

} // namespace loomwatch::testing
