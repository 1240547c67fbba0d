#include "ingestion/usagecache.h"

#include "ingestion/blob.h"

#include <algorithm>
#include <cstring>

namespace loomwatch::ingestion {

namespace {

constexpr int busyTimeoutMs = 10'000;
// Increments kept before they are folded into one: reading stays cheap, and appends write only what they counted.
constexpr int maximumParts = 32;

std::string encodeState(const UsageCounterState& state)
{
    BlobWriter out;
    out.integer(state.hasPrevious);
    out.integer(state.previousInput);
    out.integer(state.previousCached);
    out.integer(state.previousOutput);
    out.text(state.currentModel);
    out.text(state.lastModel);
    return out.take();
}

bool decodeState(std::string_view blob, UsageCounterState& state)
{
    BlobReader in(blob);
    state.hasPrevious = in.integer() != 0;
    state.previousInput = in.integer();
    state.previousCached = in.integer();
    state.previousOutput = in.integer();
    state.currentModel = in.text();
    state.lastModel = in.text();
    return in.atEnd();
}

std::string encodeSums(const std::vector<UsageSums>& sums)
{
    BlobWriter out;
    out.integer(static_cast<std::int64_t>(sums.size()));
    for (const UsageSums& s : sums) {
        out.text(s.model);
        out.integer(s.quarter);
        for (std::int64_t field : {s.tokens.input, s.tokens.output, s.tokens.cacheRead, s.tokens.cacheWrite})
            out.integer(field);
    }
    return out.take();
}

bool decodeSums(std::string_view blob, std::vector<UsageSums>& sums)
{
    BlobReader in(blob);
    const std::int64_t count = in.integer();
    if (!in.good() || count < 0 || static_cast<std::uint64_t>(count) > blob.size())
        return false;
    sums.resize(static_cast<std::size_t>(count));
    for (UsageSums& s : sums) {
        s.model = in.text();
        s.quarter = in.integer();
        s.tokens = {in.integer(), in.integer(), in.integer(), in.integer()};
    }
    return in.atEnd();
}

std::string_view keyBytes(std::span<const std::uint64_t> keys)
{
    return {reinterpret_cast<const char*>(keys.data()), keys.size() * sizeof(std::uint64_t)};
}

void appendKeys(std::vector<std::uint64_t>& keys, std::string_view blob)
{
    if (blob.size() < sizeof(std::uint64_t))
        return;
    const std::size_t size = keys.size();
    keys.resize(size + blob.size() / sizeof(std::uint64_t));
    std::memcpy(keys.data() + size, blob.data(), (keys.size() - size) * sizeof(std::uint64_t));
}

int done(SqliteStatement& statement)
{
    const int result = statement.step();
    statement.reset();
    return result == SQLITE_DONE ? SQLITE_OK : result;
}

} // namespace

int UsageCache::open(const std::string& path, std::int64_t version)
{
    const bool inMemory = path.empty();
    int result =
        m_db.open(inMemory ? ":memory:" : path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    if (result != SQLITE_OK)
        return result;
    m_db.setBusyTimeout(busyTimeoutMs);
    if (!inMemory && (result = m_db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL")) != SQLITE_OK)
        return result;
    if ((result = m_db.exec("BEGIN IMMEDIATE")) != SQLITE_OK)
        return result;
    SqliteStatement userVersion(m_db, "PRAGMA user_version");
    result = userVersion.ok() ? userVersion.step() : userVersion.prepareResult();
    if (result != SQLITE_ROW)
        return m_db.exec("ROLLBACK"), result;
    const std::int64_t found = userVersion.integer(0);
    if (found == 0) {
        const std::string schema =
            "CREATE TABLE transcripts(path TEXT PRIMARY KEY, tool INTEGER, device INTEGER, inode INTEGER, "
            "size INTEGER, mtime INTEGER, counted INTEGER, anchor BLOB, state BLOB, note BLOB);"
            "CREATE TABLE parts(path TEXT, part INTEGER, sums BLOB, keys BLOB, PRIMARY KEY(path, part));"
            "PRAGMA user_version=" +
            std::to_string(version);
        if ((result = m_db.exec(schema.c_str())) != SQLITE_OK)
            return m_db.exec("ROLLBACK"), result;
    }
    if ((result = m_db.exec("COMMIT")) != SQLITE_OK)
        return result;
    if (found != 0 && found != version)
        return SQLITE_NOTADB; // another format: start afresh
    const auto prepare = [this](std::unique_ptr<SqliteStatement>& statement, const char* sql) {
        statement = std::make_unique<SqliteStatement>(m_db, sql);
        return statement->prepareResult();
    };
    for (const auto& [statement, sql] :
         std::initializer_list<std::pair<std::unique_ptr<SqliteStatement>*, const char*>>{
             {&m_select, "SELECT tool, device, inode, size, mtime, counted, anchor, state, note FROM transcripts "
                         "WHERE path = ?"},
             {&m_selectParts, "SELECT sums FROM parts WHERE path = ? ORDER BY part"},
             {&m_selectPartsWithKeys, "SELECT sums, keys FROM parts WHERE path = ? ORDER BY part"},
             {&m_writeHeader, "INSERT OR REPLACE INTO transcripts VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"},
             {&m_writePart, "INSERT OR REPLACE INTO parts VALUES (?, ?, ?, ?)"},
             {&m_deleteParts, "DELETE FROM parts WHERE path = ?"},
             {&m_writeNote, "UPDATE transcripts SET note = ? WHERE path = ?"}}) {
        if ((result = prepare(*statement, sql)) != SQLITE_OK)
            return result;
    }
    return SQLITE_OK;
}

int UsageCache::find(const std::string& path, LedgerRow& row)
{
    SqliteStatement& select = *m_select;
    select.reset();
    select.bindText(1, path);
    int result = select.step();
    if (result != SQLITE_ROW)
        return select.reset(), result;
    row.identity = {select.integer(0), select.integer(1), select.integer(2), select.integer(3), select.integer(4)};
    row.counted = select.integer(5);
    row.anchor = select.blob(6);
    const bool stateRead = decodeState(select.blob(7), row.state);
    row.note = select.blob(8);
    select.reset();
    return stateRead ? SQLITE_ROW : SQLITE_DONE;
}

int UsageCache::readParts(const std::string& path, LedgerRow& row, bool withKeys)
{
    // The first part holds most; the later ones, small increments, are merged among themselves and then into it.
    SqliteStatement& parts = withKeys ? *m_selectPartsWithKeys : *m_selectParts;
    parts.reset();
    parts.bindText(1, path);
    std::vector<UsageSums> laterSums;
    std::vector<std::uint64_t> laterKeys;
    row.parts = 0;
    int result;
    while ((result = parts.step()) == SQLITE_ROW) {
        std::vector<UsageSums> sums;
        if (!decodeSums(parts.blob(0), sums))
            return parts.reset(), SQLITE_DONE;
        if (row.parts++ == 0) {
            row.sums = std::move(sums);
            if (withKeys)
                appendKeys(row.keys, parts.blob(1));
        } else {
            mergeSums(laterSums, sums);
            if (withKeys)
                appendKeys(laterKeys, parts.blob(1));
        }
    }
    parts.reset();
    if (result != SQLITE_DONE)
        return result;
    mergeSums(row.sums, laterSums);
    if (!laterKeys.empty()) {
        std::sort(laterKeys.begin(), laterKeys.end());
        row.keys = mergeKeys(row.keys, laterKeys);
    }
    return SQLITE_ROW;
}

int UsageCache::writeHeader(const std::string& path, const LedgerRow& row)
{
    SqliteStatement& w = *m_writeHeader;
    w.reset();
    w.bindText(1, path);
    int column = 2;
    for (std::int64_t value : {row.identity.tool, row.identity.device, row.identity.inode, row.identity.size,
                               row.identity.mtime, row.counted})
        w.bindInt(column++, value);
    w.bindBlob(column++, row.anchor);
    w.bindBlob(column++, encodeState(row.state));
    w.bindBlob(column, row.note);
    return done(w);
}

int UsageCache::addPart(const std::string& path, int part, const std::vector<UsageSums>& sums,
                        std::span<const std::uint64_t> keys)
{
    SqliteStatement& w = *m_writePart;
    w.reset();
    w.bindText(1, path);
    w.bindInt(2, part);
    w.bindBlob(3, encodeSums(sums));
    w.bindBlob(4, keyBytes(keys));
    return done(w);
}

int UsageCache::write(const std::string& path, const LedgerRow& row)
{
    int result = writeHeader(path, row);
    if (result != SQLITE_OK)
        return result;
    m_deleteParts->reset();
    m_deleteParts->bindText(1, path);
    if ((result = done(*m_deleteParts)) != SQLITE_OK)
        return result;
    return addPart(path, 0, row.sums, row.keys);
}

int UsageCache::append(const std::string& path, const LedgerRow& row, const std::vector<UsageSums>& moreSums,
                       std::span<const std::uint64_t> moreKeys)
{
    if (row.parts == 0 || row.parts >= maximumParts)
        return write(path, row);
    const int result = writeHeader(path, row);
    if (result != SQLITE_OK || (moreSums.empty() && moreKeys.empty()))
        return result;
    return addPart(path, row.parts, moreSums, moreKeys);
}

int UsageCache::writeNote(const std::string& path, const std::string& note)
{
    m_writeNote->reset();
    m_writeNote->bindBlob(1, note);
    m_writeNote->bindText(2, path);
    return done(*m_writeNote);
}

UsageCache::Transaction::Transaction(UsageCache& cache) : m_cache(cache), m_result(cache.m_db.exec("BEGIN IMMEDIATE"))
{}

UsageCache::Transaction::~Transaction()
{
    if (m_result == SQLITE_OK)
        m_cache.m_db.exec("ROLLBACK");
}

int UsageCache::Transaction::commit()
{
    const int result = m_cache.m_db.exec("COMMIT");
    if (result == SQLITE_OK)
        m_result = SQLITE_DONE;
    return result;
}

} // namespace loomwatch::ingestion
