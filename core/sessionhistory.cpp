#include "core/sessionhistory.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace loomwatch::core {

namespace {

namespace fs = std::filesystem;

constexpr int busyTimeoutMs = 250;

constexpr const char* createTableSql = "CREATE TABLE IF NOT EXISTS SessionRecord ("
                                       "id TEXT PRIMARY KEY NOT NULL, "
                                       "toolRaw TEXT NOT NULL, "
                                       "projectName TEXT NOT NULL, "
                                       "projectPath TEXT, "
                                       "branch TEXT, "
                                       "modelName TEXT, "
                                       "startedAt INTEGER NOT NULL, "
                                       "lastActivityAt INTEGER NOT NULL, "
                                       "stateRaw TEXT NOT NULL, "
                                       "inputTokens INTEGER NOT NULL, "
                                       "outputTokens INTEGER NOT NULL, "
                                       "cacheReadTokens INTEGER NOT NULL, "
                                       "cacheWriteTokens INTEGER NOT NULL, "
                                       "estimatedCost TEXT, "
                                       "snippet TEXT, "
                                       "pricingVersion INTEGER NOT NULL)";

constexpr const char* selectColumns = "SELECT id, toolRaw, projectName, projectPath, branch, modelName, startedAt, "
                                      "lastActivityAt, stateRaw, inputTokens, outputTokens, cacheReadTokens, "
                                      "cacheWriteTokens, estimatedCost, snippet, pricingVersion FROM SessionRecord";

// toolRaw, startedAt and pricingVersion stay as first inserted.
constexpr const char* upsertSql =
    "INSERT INTO SessionRecord (id, toolRaw, projectName, projectPath, branch, modelName, startedAt, "
    "lastActivityAt, stateRaw, inputTokens, outputTokens, cacheReadTokens, cacheWriteTokens, estimatedCost, "
    "snippet, pricingVersion) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16) "
    "ON CONFLICT(id) DO UPDATE SET projectName = excluded.projectName, projectPath = excluded.projectPath, "
    "branch = excluded.branch, modelName = excluded.modelName, lastActivityAt = excluded.lastActivityAt, "
    "stateRaw = excluded.stateRaw, inputTokens = excluded.inputTokens, outputTokens = excluded.outputTokens, "
    "cacheReadTokens = excluded.cacheReadTokens, cacheWriteTokens = excluded.cacheWriteTokens, "
    "estimatedCost = excluded.estimatedCost, snippet = excluded.snippet";

std::int64_t toMicros(model::Timestamp t)
{
    return std::chrono::floor<std::chrono::microseconds>(t.time_since_epoch()).count();
}

model::Timestamp fromMicros(std::int64_t micros)
{
    // A damaged file may hold anything; keep the value within what nanosecond timestamps can hold.
    constexpr std::int64_t limit = (std::int64_t{1} << 62) / 1000;
    micros = std::clamp(micros, -limit, limit);
    return model::Timestamp(std::chrono::duration_cast<model::Timestamp::duration>(std::chrono::microseconds(micros)));
}

class Statement
{
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_rc == SQLITE_OK && m_stmt != nullptr; }
    int prepareResult() const { return m_rc; }
    sqlite3_stmt* get() const { return m_stmt; }

    void bindText(int index, const std::string& text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bindText(int index, const std::optional<std::string>& text)
    {
        if (text)
            bindText(index, *text);
        else
            sqlite3_bind_null(m_stmt, index);
    }
    void bindInt(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }

    std::string text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }
    std::optional<std::string> optionalText(int column) const
    {
        if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
            return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_ERROR;
};

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

enum class OpenOutcome
{
    usable,    // a working connection (possibly read-only or locked for now)
    damaged,   // move the file aside and start afresh
    impossible // nothing to move aside, or the folder itself is unusable
};

bool isDamage(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_CANTOPEN ||
           primary == SQLITE_SCHEMA || primary == SQLITE_ERROR;
}

OpenOutcome tryOpen(const std::string& path, sqlite3** out)
{
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto fail = [&](OpenOutcome outcome) {
        sqlite3_close_v2(db);
        return outcome;
    };
    if (rc != SQLITE_OK) {
        std::error_code ec;
        return fail(fs::exists(path, ec) ? OpenOutcome::damaged : OpenOutcome::impossible);
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);

    // Most damage only shows at the first statement.
    {
        Statement check(db, "PRAGMA quick_check(1)");
        rc = check.prepareResult();
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(check.get());
            if (rc == SQLITE_ROW && check.text(0) != "ok")
                return fail(OpenOutcome::damaged);
        }
        const int primary = rc & 0xff;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            // Another process holds the file: keep it, later writes fail quietly or succeed.
            *out = db;
            return OpenOutcome::usable;
        }
        if (primary != SQLITE_ROW && primary != SQLITE_DONE && primary != SQLITE_OK)
            return fail(isDamage(rc) ? OpenOutcome::damaged : OpenOutcome::impossible);
    }

    rc = sqlite3_exec(db, createTableSql, nullptr, nullptr, nullptr);
    const int primary = rc & 0xff;
    if (rc != SQLITE_OK && primary != SQLITE_READONLY && primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
        return fail(isDamage(rc) ? OpenOutcome::damaged : OpenOutcome::impossible);

    // A table of the same name with other columns is somebody else's file.
    Statement columns(db, (std::string(selectColumns) + " LIMIT 0").c_str());
    if (!columns.ok()) {
        const int columnsRc = columns.prepareResult() & 0xff;
        if (columnsRc != SQLITE_BUSY && columnsRc != SQLITE_LOCKED && primary != SQLITE_READONLY)
            return fail(OpenOutcome::damaged);
    }
    *out = db;
    return OpenOutcome::usable;
}

std::string utcStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &tm);
    return buffer;
}

// Renames the file and its journal companions; the fresh database must not pick up a stale journal.
std::optional<std::string> moveAside(const std::string& path)
{
    std::error_code ec;
    std::string target = path + ".damaged-" + utcStamp();
    for (int n = 2; fs::exists(target, ec); ++n)
        target = path + ".damaged-" + utcStamp() + "-" + std::to_string(n);
    fs::rename(path, target, ec);
    if (ec)
        return std::nullopt;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const std::string companion = path + suffix;
        if (fs::exists(companion, ec)) {
            fs::rename(companion, target + suffix, ec);
            if (ec)
                fs::remove(companion, ec);
        }
    }
    return target;
}

} // namespace

std::unique_ptr<SessionHistory> SessionHistory::open(const std::string& path)
{
    try {
        std::error_code ec;
        const fs::path parent = fs::path(path).parent_path();
        if (!parent.empty())
            fs::create_directories(parent, ec);

        sqlite3* db = nullptr;
        OpenOutcome outcome = tryOpen(path, &db);
        if (outcome == OpenOutcome::usable)
            return std::unique_ptr<SessionHistory>(new SessionHistory(db, path));
        if (outcome == OpenOutcome::impossible)
            return nullptr;

        std::optional<std::string> aside = moveAside(path);
        if (!aside)
            return nullptr;
        if (tryOpen(path, &db) != OpenOutcome::usable)
            return nullptr;
        auto history = std::unique_ptr<SessionHistory>(new SessionHistory(db, path));
        history->m_movedAside = std::move(aside);
        return history;
    } catch (...) {
        return nullptr;
    }
}

SessionHistory::SessionHistory(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}

SessionHistory::~SessionHistory()
{
    sqlite3_close_v2(m_db);
}

bool SessionHistory::persist(const std::vector<model::AgentSession>& sessions, std::int64_t pricingVersion)
{
    if (!exec(m_db, "BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    {
        Statement upsert(m_db, upsertSql);
        ok = upsert.ok();
        for (const model::AgentSession& s : sessions) {
            if (!ok)
                break;
            sqlite3_reset(upsert.get());
            upsert.bindText(1, s.id);
            upsert.bindText(2, std::string(model::rawValue(s.tool)));
            upsert.bindText(3, s.projectName);
            upsert.bindText(4, s.projectPath);
            upsert.bindText(5, s.branch);
            upsert.bindText(6, s.model);
            upsert.bindInt(7, toMicros(s.startedAt));
            upsert.bindInt(8, toMicros(s.lastActivityAt));
            upsert.bindText(9, std::string(model::rawValue(s.state)));
            upsert.bindInt(10, s.tokens.input);
            upsert.bindInt(11, s.tokens.output);
            upsert.bindInt(12, s.tokens.cacheRead);
            upsert.bindInt(13, s.tokens.cacheWrite);
            upsert.bindText(14,
                            s.estimatedCost ? std::optional<std::string>(s.estimatedCost->toString()) : std::nullopt);
            upsert.bindText(15, s.lastSnippet);
            upsert.bindInt(16, pricingVersion);
            ok = sqlite3_step(upsert.get()) == SQLITE_DONE;
        }
    }
    if (ok && exec(m_db, "COMMIT"))
        return true;
    exec(m_db, "ROLLBACK");
    return false;
}

bool SessionHistory::prune(model::Timestamp now)
{
    Statement remove(m_db, "DELETE FROM SessionRecord WHERE lastActivityAt < ?1");
    if (!remove.ok())
        return false;
    remove.bindInt(1, toMicros(now - retention));
    return sqlite3_step(remove.get()) == SQLITE_DONE;
}

namespace {

SessionRecord readRecord(const Statement& row)
{
    SessionRecord r;
    r.id = row.text(0);
    r.toolRaw = row.text(1);
    r.projectName = row.text(2);
    r.projectPath = row.optionalText(3);
    r.branch = row.optionalText(4);
    r.modelName = row.optionalText(5);
    r.startedAt = fromMicros(row.integer(6));
    r.lastActivityAt = fromMicros(row.integer(7));
    r.stateRaw = row.text(8);
    r.inputTokens = row.integer(9);
    r.outputTokens = row.integer(10);
    r.cacheReadTokens = row.integer(11);
    r.cacheWriteTokens = row.integer(12);
    r.estimatedCost = row.optionalText(13);
    r.snippet = row.optionalText(14);
    r.pricingVersion = row.integer(15);
    return r;
}

} // namespace

std::vector<SessionRecord> SessionHistory::records() const
{
    std::vector<SessionRecord> result;
    Statement select(m_db, (std::string(selectColumns) + " ORDER BY id").c_str());
    if (!select.ok())
        return result;
    while (sqlite3_step(select.get()) == SQLITE_ROW)
        result.push_back(readRecord(select));
    return result;
}

std::optional<SessionRecord> SessionHistory::record(const std::string& id) const
{
    Statement select(m_db, (std::string(selectColumns) + " WHERE id = ?1").c_str());
    if (!select.ok())
        return std::nullopt;
    select.bindText(1, id);
    if (sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return readRecord(select);
}

} // namespace loomwatch::core
