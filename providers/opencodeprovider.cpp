#include "providers/opencodeprovider.h"

#include "handoff/secretredaction.h"
#include "ingestion/sqlitehandle.h"
#include "model/pathtext.h"
#include "model/timestamps.h"
#include "providers/providererror.h"

#include <simdjson.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace loomwatch::providers {

namespace {

using ingestion::SqliteConnection;
using ingestion::SqliteStatement;

enum class PathStatus
{
    present,
    missing,
    unknown,
};

PathStatus pathStatus(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return PathStatus::unknown;
    struct stat info
    {};
    if (::stat(path.c_str(), &info) == 0)
        return PathStatus::present;
    return errno == ENOENT || errno == ENOTDIR ? PathStatus::missing : PathStatus::unknown;
}

// SQLite opens a WAL file read-write even for a read-only connection, and closing a file opened for
// writing is a change to inotify: every read would wake the watcher that asks for the next read.
// This file system forwards everything to the default one but opens WAL and journal files read-only.
constexpr const char* readOnlyVfsName = "loomwatch-readonly";

sqlite3_vfs* defaultVfs = nullptr;

int openReadOnly(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    if (flags & (SQLITE_OPEN_WAL | SQLITE_OPEN_MAIN_JOURNAL))
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    return defaultVfs->xOpen(defaultVfs, name, file, flags, outFlags);
}

const char* registerReadOnlyVfs()
{
    static std::once_flag once;
    static sqlite3_vfs vfs{};
    static bool registered = false;
    std::call_once(once, [] {
        defaultVfs = sqlite3_vfs_find(nullptr);
        if (!defaultVfs)
            return;
        vfs = *defaultVfs;
        vfs.pNext = nullptr;
        vfs.zName = readOnlyVfsName;
        vfs.xOpen = openReadOnly;
        registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    });
    return registered ? readOnlyVfsName : nullptr;
}

std::string directoryOf(const std::string& path)
{
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

} // namespace

OpenCodeProvider::OpenCodeProvider(std::string databasePath, std::shared_ptr<const model::ProcessInspector> inspector,
                                   bool watchChanges)
    : m_databasePath(std::move(databasePath)), m_inspector(std::move(inspector)),
      m_changes(model::AgentTool::openCode, directoryOf(m_databasePath), watchChanges)
{}

OpenCodeProvider::~OpenCodeProvider() = default;

model::ProviderProbeResult OpenCodeProvider::probe()
{
    const bool exists = pathStatus(m_databasePath) == PathStatus::present;
    return {model::AgentTool::openCode, exists,
            exists ? model::SupportLevel::partial : model::SupportLevel::unavailable, m_databasePath, std::nullopt};
}

std::vector<model::AgentSession> OpenCodeProvider::sessions()
{
    switch (pathStatus(m_databasePath)) {
    case PathStatus::missing:
        return {};
    case PathStatus::unknown:
        throw ProviderError::unreadableDatabase();
    case PathStatus::present:
        break;
    }

    // A read-only open of a WAL database creates -wal and -shm beside it when they are missing, and
    // their coming and going would wake the directory watcher again. With no -wal there is no live
    // writer whose changes could be missed, so the file can be read as immutable, which creates nothing.
    // With both present (OpenCode is running) they are read in place and opened for reading only.
    const bool live = pathStatus(m_databasePath + "-wal") != PathStatus::missing &&
                      pathStatus(m_databasePath + "-shm") != PathStatus::missing;
    const std::string uri = fileUri(m_databasePath) + (live ? "?mode=ro&readonly_shm=1" : "?mode=ro&immutable=1");

    SqliteConnection db;
    if (db.open(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, registerReadOnlyVfs()) != SQLITE_OK || !db)
        throw ProviderError::unreadableDatabase();

    SqliteStatement statement(db, query);
    if (!statement.ok()) {
        // Only a plain SQL error means the tables differ from what the query names; a locked,
        // corrupt or foreign file is a database that cannot be read.
        const int prepareResult = statement.prepareResult();
        if ((prepareResult & 0xff) == SQLITE_ERROR || prepareResult == SQLITE_OK)
            throw ProviderError::unsupportedSchema(db.errorMessage());
        throw ProviderError::unreadableDatabase();
    }

    const auto processes =
        m_inspector ? m_inspector->processes(model::AgentTool::openCode) : std::vector<model::AgentProcess>{};
    std::vector<model::AgentSession> result;
    // Any step result other than a row, errors and a busy database included, ends the list.
    while (statement.step() == SQLITE_ROW) {
        if (statement.isNull(0))
            continue;
        const OpenCodeRow row{statement.text(0),    statement.text(1),   statement.integer(2), statement.integer(3),
                              statement.text(4),    statement.text(5),   statement.integer(6), statement.integer(7),
                              statement.integer(8), statement.integer(9)};
        result.push_back(mapRow(row, processes, m_databasePath));
    }
    return result;
}

model::AgentSession OpenCodeProvider::mapRow(const OpenCodeRow& row, const std::vector<model::AgentProcess>& processes,
                                             const std::string& databasePath)
{
    // Titles are made from the user's prompts.
    std::string title = handoff::redactSecrets(row.title);

    model::AgentSession session;
    session.id = "openCode:" + row.id;
    session.tool = model::AgentTool::openCode;
    if (!row.directory.empty()) {
        session.projectPath = row.directory;
        session.projectName = model::lastPathComponent(row.directory);
    } else {
        session.projectName = title;
    }
    session.model = modelName(row.model);
    // Clamped: the difference of any two, such as the time since the last activity, must still fit.
    session.startedAt = model::clampedTimestamp(std::chrono::milliseconds(row.timeCreated));
    session.lastActivityAt = model::clampedTimestamp(std::chrono::milliseconds(row.timeUpdated));
    if (!processes.empty()) {
        // The process working in the session's directory when there is one, else the first.
        const auto inDirectory = std::find_if(processes.begin(), processes.end(), [&](const auto& process) {
            return !row.directory.empty() && process.workingDirectory == row.directory;
        });
        session.processID = (inDirectory != processes.end() ? *inDirectory : processes.front()).pid;
    }
    session.state = processes.empty() ? model::SessionState::ended : model::SessionState::idle;
    session.supportLevel = model::SupportLevel::partial;
    session.tokens = {row.tokensInput, row.tokensOutput, row.tokensCacheRead, row.tokensCacheWrite};
    session.lastSnippet = std::move(title);
    session.parserVersion = 1;
    session.sourcePath = databasePath;
    return session;
}

std::optional<std::string> OpenCodeProvider::modelName(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start != std::string_view::npos && text[start] == '{') {
        thread_local simdjson::dom::parser parser;
        const simdjson::padded_string json(text);
        simdjson::dom::object object;
        std::optional<simdjson::dom::element> idValue;
        if (parser.parse(json).get_object().get(object) == simdjson::SUCCESS)
            for (const auto field : object) // of a duplicated key the last one counts
                if (field.key == "id")
                    idValue = field.value;
        std::string_view id;
        if (idValue && idValue->get_string().get(id) == simdjson::SUCCESS)
            return id.empty() ? std::nullopt : std::optional<std::string>(id);
    }
    return std::string(text);
}

std::string OpenCodeProvider::fileUri(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    // "file://x" would make x an authority; extra leading slashes mean nothing to the kernel.
    while (path.starts_with("//"))
        path.remove_prefix(1);
    uri.reserve(uri.size() + path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '/' || byte == '.' || byte == '_' || byte == '~' || byte == '-') {
            uri += c;
        } else {
            uri += '%';
            uri += hex[byte >> 4];
            uri += hex[byte & 0xf];
        }
    }
    return uri;
}

} // namespace loomwatch::providers
