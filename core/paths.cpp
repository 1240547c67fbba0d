#include "core/paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace loomwatch::core {

namespace {

// The XDG base-directory rules ignore relative values.
std::string absoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return {};
    return value;
}

} // namespace

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr)
        return result->pw_dir;
    return {};
}

Paths Paths::forCurrentUser()
{
    Paths paths;
    paths.home = homeDirectory();
    paths.configDirectory = absoluteEnv("XDG_CONFIG_HOME");
    if (paths.configDirectory.empty())
        paths.configDirectory = paths.home + "/.config";
    const std::string data = absoluteEnv("XDG_DATA_HOME");
    paths.dataDirectory = (data.empty() ? paths.home + "/.local/share" : data) + "/Loomwatch";
    paths.cursorDirectory = paths.configDirectory + "/Cursor";
    const std::string cache = absoluteEnv("XDG_CACHE_HOME");
    paths.cacheDirectory = (cache.empty() ? paths.home + "/.cache" : cache) + "/Loomwatch";
    return paths;
}

} // namespace loomwatch::core
