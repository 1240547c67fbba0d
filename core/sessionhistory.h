#pragma once

#include "model/sessiontypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace loomwatch::ingestion {
class SqliteConnection;
}

namespace loomwatch::core {

// One row of the history table, as stored. Timestamps are integer microseconds since 1970 UTC in
// the file; the cost is the decimal's plain text ("0.000003"), never a binary float.
struct SessionRecord
{
    std::string id;
    std::string toolRaw;
    std::string projectName;
    std::optional<std::string> projectPath;
    std::optional<std::string> branch;
    std::optional<std::string> modelName;
    model::Timestamp startedAt;
    model::Timestamp lastActivityAt;
    std::string stateRaw;
    std::int64_t inputTokens = 0;
    std::int64_t outputTokens = 0;
    std::int64_t cacheReadTokens = 0;
    std::int64_t cacheWriteTokens = 0;
    std::optional<std::string> estimatedCost;
    std::optional<std::string> snippet;
    std::int64_t pricingVersion = 0;

    bool operator==(const SessionRecord&) const = default;
};

// The persisted session metadata (history.sqlite, table SessionRecord, one row per session id,
// seven-day retention). One connection, opened once, used from one thread. Write and read failures
// are swallowed: the history never stops the application.
class SessionHistory
{
public:
    static constexpr std::chrono::seconds retention{604800};

    // Opens or creates the file (and its folder). A file that cannot be opened, is not a database,
    // is damaged or has a foreign schema is renamed aside ("<name>.damaged-<UTC time>") and a fresh
    // one is created. A file that is only locked or read-only is kept. Null only when no usable
    // file can be made at all. Never throws.
    static std::unique_ptr<SessionHistory> open(const std::string& path);

    ~SessionHistory();
    SessionHistory(const SessionHistory&) = delete;
    SessionHistory& operator=(const SessionHistory&) = delete;

    const std::string& path() const { return m_path; }
    // Where a damaged file was moved by open(), if it was.
    const std::optional<std::string>& movedAsidePath() const { return m_movedAside; }

    // Upserts every session in one transaction: a new id is inserted with pricingVersion; an
    // existing one keeps its tool, startedAt and pricingVersion and has every other field rewritten.
    // False when nothing was written (the failure is otherwise ignored).
    bool persist(const std::vector<model::AgentSession>& sessions, std::int64_t pricingVersion);
    // Deletes the records whose lastActivityAt is strictly earlier than now - retention.
    bool prune(model::Timestamp now);

    // Every record, ordered by id; empty when the table cannot be read.
    std::vector<SessionRecord> records() const;
    std::optional<SessionRecord> record(const std::string& id) const;

private:
    SessionHistory(ingestion::SqliteConnection db, std::string path);

    std::unique_ptr<ingestion::SqliteConnection> m_db;
    std::string m_path;
    std::optional<std::string> m_movedAside;
};

} // namespace loomwatch::core
