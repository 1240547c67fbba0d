#pragma once

#include "ingestion/sqlitehandle.h"
#include "ingestion/usagecounter.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace loomwatch::ingestion {

// Which file a transcript's counts were made from, and how far.
struct TranscriptIdentity
{
    std::int64_t tool = -1;
    std::int64_t device = 0;
    std::int64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtime = 0;

    bool operator==(const TranscriptIdentity&) const = default;
};

// What the cache holds about one transcript.
struct LedgerRow
{
    TranscriptIdentity identity;
    // The offset after the last line counted, and the bytes before it.
    std::int64_t counted = 0;
    std::string anchor;
    std::string note;
    UsageCounterState state;
    // Sorted by model, then quarter.
    std::vector<UsageSums> sums;
    // Sorted; read only when asked for.
    std::vector<std::uint64_t> keys;
    // How many increments the sums and keys are stored in.
    int parts = 0;
};

// The SQLite file behind the usage ledger: one row per transcript with what the next count needs, and its sums and
// keys in increments, so that counting a few appended lines writes a few bytes, not everything counted before.
// Every method reports SQLite's result code.
class UsageCache
{
public:
    // SQLITE_OK with the connection ready, else the first error on the way; SQLITE_NOTADB for a cache of another
    // `version`. An empty path opens a cache in memory.
    int open(const std::string& path, std::int64_t version);

    // SQLITE_ROW with `row` filled but for its sums and keys, SQLITE_DONE when there is none (or it is unreadable),
    // else an error.
    int find(const std::string& path, LedgerRow& row);
    // Then its sums, and its keys `withKeys`: SQLITE_ROW, SQLITE_DONE when they are unreadable, else an error.
    int readParts(const std::string& path, LedgerRow& row, bool withKeys);
    // Replaces everything kept about the transcript with `row`.
    int write(const std::string& path, const LedgerRow& row);
    // Stores `row`'s new identity, offset, anchor, state and note, and the sums and keys counted since `row` was
    // found (`row` holds them merged already).
    int append(const std::string& path, const LedgerRow& row, const std::vector<UsageSums>& moreSums,
               std::span<const std::uint64_t> moreKeys);
    int writeNote(const std::string& path, const std::string& note);

    // A write transaction that rolls back unless committed.
    class Transaction
    {
    public:
        explicit Transaction(UsageCache& cache);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        int result() const { return m_result; }
        int commit();

    private:
        UsageCache& m_cache;
        int m_result;
    };

private:
    int writeHeader(const std::string& path, const LedgerRow& row);
    int addPart(const std::string& path, int part, const std::vector<UsageSums>& sums,
                std::span<const std::uint64_t> keys);

    SqliteConnection m_db;
    std::unique_ptr<SqliteStatement> m_select;
    std::unique_ptr<SqliteStatement> m_selectParts;
    std::unique_ptr<SqliteStatement> m_selectPartsWithKeys;
    std::unique_ptr<SqliteStatement> m_writeHeader;
    std::unique_ptr<SqliteStatement> m_writePart;
    std::unique_ptr<SqliteStatement> m_deleteParts;
    std::unique_ptr<SqliteStatement> m_writeNote;
};

} // namespace loomwatch::ingestion
