#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace loomwatch::ingestion {

// An SQLite connection, closed with the object. Result codes are SQLite's own (SQLITE_OK, ...).
class SqliteConnection
{
public:
    SqliteConnection() = default;
    ~SqliteConnection() { sqlite3_close_v2(m_db); }
    SqliteConnection(SqliteConnection&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
    SqliteConnection& operator=(SqliteConnection&& other) noexcept
    {
        std::swap(m_db, other.m_db);
        return *this;
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // sqlite3_open_v2; on failure the connection may still be there, to tell the error.
    int open(const std::string& name, int flags, const char* vfs = nullptr)
    {
        sqlite3_close_v2(std::exchange(m_db, nullptr));
        return sqlite3_open_v2(name.c_str(), &m_db, flags, vfs);
    }

    sqlite3* get() const { return m_db; }
    explicit operator bool() const { return m_db != nullptr; }
    int exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
    void setBusyTimeout(int milliseconds) { sqlite3_busy_timeout(m_db, milliseconds); }
    const char* errorMessage() const { return sqlite3_errmsg(m_db); }

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement, finalized with the object. Bind indexes count from 1, columns from 0.
class SqliteStatement
{
public:
    SqliteStatement(const SqliteConnection& connection, std::string_view sql)
    {
        m_prepareResult =
            sqlite3_prepare_v2(connection.get(), sql.data(), static_cast<int>(sql.size()), &m_statement, nullptr);
    }
    ~SqliteStatement() { sqlite3_finalize(m_statement); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // False also for text that holds no statement.
    bool ok() const { return m_prepareResult == SQLITE_OK && m_statement != nullptr; }
    int prepareResult() const { return m_prepareResult; }

    int step() { return sqlite3_step(m_statement); }
    void reset() { sqlite3_reset(m_statement); }

    void bindText(int index, const std::string& text)
    {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bindText(int index, const std::optional<std::string>& text)
    {
        if (text)
            bindText(index, *text);
        else
            sqlite3_bind_null(m_statement, index);
    }
    void bindInt(int index, std::int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    void bindBlob(int index, std::string_view bytes)
    {
        // A non-null pointer even when empty: a null one would bind NULL.
        sqlite3_bind_blob64(m_statement, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    }

    bool isNull(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }
    // NULL reads as empty text.
    std::string text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }
    std::optional<std::string> optionalText(int column) const
    {
        return isNull(column) ? std::nullopt : std::optional<std::string>(text(column));
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    // Valid until the next step, reset or column call on this statement.
    std::string_view blob(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string_view();
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_prepareResult = SQLITE_ERROR;
};

} // namespace loomwatch::ingestion
