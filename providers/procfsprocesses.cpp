#include "providers/procfsprocesses.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <unistd.h>

namespace loomwatch::providers {

namespace {

// The kernel keeps at most this many bytes of a process name (TASK_COMM_LEN minus the terminator).
constexpr std::size_t commLength = 15;
constexpr std::size_t maxExamined = 4096;

std::span<const std::string_view> fragments(model::AgentTool tool)
{
    static constexpr std::array<std::string_view, 1> claude{"claude"};
    static constexpr std::array<std::string_view, 1> codex{"codex"};
    static constexpr std::array<std::string_view, 1> openCode{"opencode"};
    static constexpr std::array<std::string_view, 2> cursor{"cursor-agent-worker", "Cursor"};
    switch (tool) {
    case model::AgentTool::claude:
        return claude;
    case model::AgentTool::codex:
        return codex;
    case model::AgentTool::openCode:
        return openCode;
    case model::AgentTool::cursor:
        return cursor;
    }
    return {};
}

// The bytes before the first zero byte, with every invalid UTF-8 sequence replaced by U+FFFD.
std::string decodeText(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\0'));
    std::string text;
    icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<std::int32_t>(bytes.size())))
        .toUTF8String(text);
    return text;
}

icu::UnicodeString folded(std::string_view text)
{
    auto s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    s.foldCase();
    return s;
}

std::optional<std::string> readSmallFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::array<char, 1024> buffer{};
    std::size_t length = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        length += static_cast<std::size_t>(n);
        if (length == buffer.size())
            break;
    }
    ::close(fd);
    if (length == 0)
        return std::nullopt;
    return std::string(buffer.data(), length);
}

// The raw bytes of a symbolic link's target.
std::optional<std::string> readLink(const std::string& path)
{
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0)
        return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::optional<std::string> decodeOptional(const std::optional<std::string>& bytes)
{
    if (!bytes)
        return std::nullopt;
    return decodeText(*bytes);
}

std::string_view fileName(std::string_view path)
{
    // An executable replaced or removed after start shows as "<path> (deleted)".
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted))
        path.remove_suffix(deleted.size());
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<std::int32_t> listPids(const std::string& procRoot)
{
    std::vector<std::int32_t> pids;
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return pids;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        std::int32_t pid = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc() && end == name.data() + name.size() && !name.empty() && name.front() != '-')
            pids.push_back(pid);
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    if (pids.size() > maxExamined)
        pids.resize(maxExamined);
    return pids;
}

} // namespace

NativeProcessInspector::NativeProcessInspector(std::string procRoot) : m_procRoot(std::move(procRoot)) {}

std::vector<model::AgentProcess> NativeProcessInspector::processes(model::AgentTool tool) const
{
    std::vector<model::AgentProcess> result;
    for (const std::int32_t pid : listPids(m_procRoot)) {
        if (auto process = processInfo(pid, tool))
            result.push_back(std::move(*process));
    }
    return result;
}

std::optional<model::AgentProcess> NativeProcessInspector::processInfo(std::int32_t pid, model::AgentTool tool) const
{
    if (pid < 1)
        return std::nullopt;
    const std::string base = m_procRoot + "/" + std::to_string(pid);
    // A missing comm means the process has exited since it was listed.
    auto rawName = readSmallFile(base + "/comm");
    if (!rawName)
        return std::nullopt;
    if (rawName->ends_with('\n'))
        rawName->pop_back();

    std::optional<std::string> rawExecutable;
    bool executableRead = false;
    if (rawName->size() == commLength) {
        // Compared as bytes: the truncation may have split a multi-byte character.
        rawExecutable = readLink(base + "/exe");
        executableRead = true;
        if (rawExecutable) {
            const std::string_view full = fileName(*rawExecutable);
            if (full.size() > rawName->size() && full.starts_with(*rawName))
                rawName = std::string(full);
        }
    }
    std::string name = decodeText(*rawName);
    if (!nameMatches(tool, name))
        return std::nullopt;
    if (!executableRead)
        rawExecutable = readLink(base + "/exe");
    return model::AgentProcess{pid, std::move(name), decodeOptional(rawExecutable),
                               decodeOptional(readLink(base + "/cwd"))};
}

bool NativeProcessInspector::nameMatches(model::AgentTool tool, std::string_view name)
{
    const icu::UnicodeString foldedName = folded(name);
    return std::any_of(fragments(tool).begin(), fragments(tool).end(),
                       [&](std::string_view fragment) { return foldedName.indexOf(folded(fragment)) >= 0; });
}

} // namespace loomwatch::providers
