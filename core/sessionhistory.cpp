#include "core/sessionhistory.h"

#include "ingestion/sqlitehandle.h"
#include "model/timestamps.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <type_traits>

namespace loomwatch::core {

namespace {

namespace fs = std::filesystem;
using ingestion::SqliteConnection;
using ingestion::SqliteStatement;
using model::AgentSession;

constexpr int busyTimeoutMs = 250;

std::int64_t toMicros(model::Timestamp t)
{
    return std::chrono::floor<std::chrono::microseconds>(t.time_since_epoch()).count();
}

// Binds one field of a session: texts as they are, enumerations as their raw value, times as
// microseconds, the cost as its decimal text.
template <auto field>
void bindField(SqliteStatement& row, int index, const AgentSession& session, std::int64_t)
{
    const auto& value = session.*field;
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, model::Timestamp>)
        row.bindInt(index, toMicros(value));
    else if constexpr (std::is_enum_v<T>)
        row.bindText(index, std::string(model::rawValue(value)));
    else if constexpr (std::is_same_v<T, std::optional<model::Decimal>>)
        row.bindText(index, value ? std::optional<std::string>(value->toString()) : std::nullopt);
    else
        row.bindText(index, value);
}

template <auto field>
void bindTokens(SqliteStatement& row, int index, const AgentSession& session, std::int64_t)
{
    row.bindInt(index, session.tokens.*field);
}

void bindPricingVersion(SqliteStatement& row, int index, const AgentSession&, std::int64_t pricingVersion)
{
    row.bindInt(index, pricingVersion);
}

template <auto field>
void readField(const SqliteStatement& row, int column, SessionRecord& record)
{
    auto& value = record.*field;
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, model::Timestamp>)
        // A damaged file may hold anything.
        value = model::clampedTimestamp(std::chrono::microseconds(row.integer(column)));
    else if constexpr (std::is_same_v<T, std::int64_t>)
        value = row.integer(column);
    else if constexpr (std::is_same_v<T, std::string>)
        value = row.text(column);
    else
        value = row.optionalText(column);
}

// One column of the table; its place in the table is its place in every statement.
struct Column
{
    const char* name;
    const char* declaration;
    bool rewrittenOnUpdate; // false: it keeps the value of the first insertion
    void (*bind)(SqliteStatement& row, int index, const AgentSession& session, std::int64_t pricingVersion);
    void (*read)(const SqliteStatement& row, int column, SessionRecord& record);
};

using R = SessionRecord;
using S = AgentSession;
constexpr Column columns[] = {
    {"id", "TEXT PRIMARY KEY NOT NULL", false, bindField<&S::id>, readField<&R::id>},
    {"toolRaw", "TEXT NOT NULL", false, bindField<&S::tool>, readField<&R::toolRaw>},
    {"projectName", "TEXT NOT NULL", true, bindField<&S::projectName>, readField<&R::projectName>},
    {"projectPath", "TEXT", true, bindField<&S::projectPath>, readField<&R::projectPath>},
    {"branch", "TEXT", true, bindField<&S::branch>, readField<&R::branch>},
    {"modelName", "TEXT", true, bindField<&S::model>, readField<&R::modelName>},
    {"startedAt", "INTEGER NOT NULL", false, bindField<&S::startedAt>, readField<&R::startedAt>},
    {"lastActivityAt", "INTEGER NOT NULL", true, bindField<&S::lastActivityAt>, readField<&R::lastActivityAt>},
    {"stateRaw", "TEXT NOT NULL", true, bindField<&S::state>, readField<&R::stateRaw>},
    {"inputTokens", "INTEGER NOT NULL", true, bindTokens<&model::TokenUsage::input>, readField<&R::inputTokens>},
    {"outputTokens", "INTEGER NOT NULL", true, bindTokens<&model::TokenUsage::output>, readField<&R::outputTokens>},
    {"cacheReadTokens", "INTEGER NOT NULL", true, bindTokens<&model::TokenUsage::cacheRead>,
     readField<&R::cacheReadTokens>},
    {"cacheWriteTokens", "INTEGER NOT NULL", true, bindTokens<&model::TokenUsage::cacheWrite>,
     readField<&R::cacheWriteTokens>},
    {"estimatedCost", "TEXT", true, bindField<&S::estimatedCost>, readField<&R::estimatedCost>},
    {"snippet", "TEXT", true, bindField<&S::lastSnippet>, readField<&R::snippet>},
    {"pricingVersion", "INTEGER NOT NULL", false, bindPricingVersion, readField<&R::pricingVersion>},
};

struct StatementTexts
{
    std::string create;
    std::string select; // every column, without a condition or order
    std::string upsert;
};

const StatementTexts& statementTexts()
{
    static const StatementTexts texts = [] {
        std::string definitions, names, parameters, updates;
        for (std::size_t i = 0; i < std::size(columns); ++i) {
            const Column& column = columns[i];
            const std::string separator = i == 0 ? "" : ", ";
            definitions += separator + column.name + " " + column.declaration;
            names += separator + column.name;
            parameters += separator + "?" + std::to_string(i + 1);
            if (column.rewrittenOnUpdate)
                updates += (updates.empty() ? "" : ", ") + std::string(column.name) + " = excluded." + column.name;
        }
        return StatementTexts{"CREATE TABLE IF NOT EXISTS SessionRecord (" + definitions + ")",
                              "SELECT " + names + " FROM SessionRecord",
                              "INSERT INTO SessionRecord (" + names + ") VALUES (" + parameters +
                                  ") ON CONFLICT(id) DO UPDATE SET " + updates};
    }();
    return texts;
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

// On `usable` the connection is handed to `out`; otherwise it is closed on return.
OpenOutcome tryOpen(const std::string& path, SqliteConnection& out)
{
    SqliteConnection db;
    int rc = db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
        std::error_code ec;
        return fs::exists(path, ec) ? OpenOutcome::damaged : OpenOutcome::impossible;
    }
    db.setBusyTimeout(busyTimeoutMs);

    // Most damage only shows at the first statement.
    {
        SqliteStatement check(db, "PRAGMA quick_check(1)");
        rc = check.prepareResult();
        if (rc == SQLITE_OK) {
            rc = check.step();
            if (rc == SQLITE_ROW && check.text(0) != "ok")
                return OpenOutcome::damaged;
        }
        const int primary = rc & 0xff;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            // Another process holds the file: keep it, later writes fail quietly or succeed.
            out = std::move(db);
            return OpenOutcome::usable;
        }
        if (primary != SQLITE_ROW && primary != SQLITE_DONE && primary != SQLITE_OK)
            return isDamage(rc) ? OpenOutcome::damaged : OpenOutcome::impossible;
    }

    rc = db.exec(statementTexts().create.c_str());
    const int primary = rc & 0xff;
    if (rc != SQLITE_OK && primary != SQLITE_READONLY && primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
        return isDamage(rc) ? OpenOutcome::damaged : OpenOutcome::impossible;

    // A table of the same name with other columns is somebody else's file.
    {
        const SqliteStatement select(db, statementTexts().select + " LIMIT 0");
        const int selectRc = select.prepareResult() & 0xff;
        if (!select.ok() && selectRc != SQLITE_BUSY && selectRc != SQLITE_LOCKED && primary != SQLITE_READONLY)
            return OpenOutcome::damaged;
    }
    out = std::move(db);
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

        SqliteConnection db;
        const OpenOutcome outcome = tryOpen(path, db);
        if (outcome == OpenOutcome::usable)
            return std::unique_ptr<SessionHistory>(new SessionHistory(std::move(db), path));
        if (outcome == OpenOutcome::impossible)
            return nullptr;

        std::optional<std::string> aside = moveAside(path);
        if (!aside)
            return nullptr;
        if (tryOpen(path, db) != OpenOutcome::usable)
            return nullptr;
        auto history = std::unique_ptr<SessionHistory>(new SessionHistory(std::move(db), path));
        history->m_movedAside = std::move(aside);
        return history;
    } catch (...) {
        return nullptr;
    }
}

SessionHistory::SessionHistory(SqliteConnection db, std::string path)
    : m_db(std::make_unique<SqliteConnection>(std::move(db))), m_path(std::move(path))
{}

SessionHistory::~SessionHistory() = default;

bool SessionHistory::persist(const std::vector<model::AgentSession>& sessions, std::int64_t pricingVersion)
{
    if (m_db->exec("BEGIN IMMEDIATE") != SQLITE_OK)
        return false;
    bool ok = true;
    {
        SqliteStatement upsert(*m_db, statementTexts().upsert);
        ok = upsert.ok();
        for (auto session = sessions.begin(); ok && session != sessions.end(); ++session) {
            upsert.reset();
            for (std::size_t i = 0; i < std::size(columns); ++i)
                columns[i].bind(upsert, static_cast<int>(i) + 1, *session, pricingVersion);
            ok = upsert.step() == SQLITE_DONE;
        }
    }
    if (ok && m_db->exec("COMMIT") == SQLITE_OK)
        return true;
    m_db->exec("ROLLBACK");
    return false;
}

bool SessionHistory::prune(model::Timestamp now)
{
    SqliteStatement remove(*m_db, "DELETE FROM SessionRecord WHERE lastActivityAt < ?1");
    if (!remove.ok())
        return false;
    remove.bindInt(1, toMicros(now - retention));
    return remove.step() == SQLITE_DONE;
}

namespace {

SessionRecord readRecord(const SqliteStatement& row)
{
    SessionRecord record;
    for (std::size_t i = 0; i < std::size(columns); ++i)
        columns[i].read(row, static_cast<int>(i), record);
    return record;
}

} // namespace

std::vector<SessionRecord> SessionHistory::records() const
{
    std::vector<SessionRecord> result;
    SqliteStatement select(*m_db, statementTexts().select + " ORDER BY id");
    if (!select.ok())
        return result;
    while (select.step() == SQLITE_ROW)
        result.push_back(readRecord(select));
    return result;
}

std::optional<SessionRecord> SessionHistory::record(const std::string& id) const
{
    SqliteStatement select(*m_db, statementTexts().select + " WHERE id = ?1");
    if (!select.ok())
        return std::nullopt;
    select.bindText(1, id);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return readRecord(select);
}

} // namespace loomwatch::core
