#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace loomwatch::testing {

// A fresh folder under /tmp (mode 0755, so an unprivileged helper can reach it), removed at the end.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = "/tmp/loomwatch-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        chmod(pattern.c_str(), 0755);
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        // Undo permission games of the test so that everything can be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 m_path, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                chmod(it->path().c_str(), 0755);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or unsets) an environment variable for the scope, restoring the old value afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A home folder of its own: HOME, XDG_DATA_HOME and XDG_CONFIG_HOME all point inside a TempDir.
class TempHome
{
public:
    TempHome()
        : m_home("HOME", m_dir.path()), m_data("XDG_DATA_HOME", m_dir.path() + "/.local/share"),
          m_config("XDG_CONFIG_HOME", m_dir.path() + "/.config")
    {}
    const std::string& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
    ScopedEnv m_home;
    ScopedEnv m_data;
    ScopedEnv m_config;
};

} // namespace loomwatch::testing
