#pragma once

#include "model/processlisting.h"
#include "model/sessionprovider.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ingestion/changestream.h"

namespace loomwatch::providers {

// One result row of the session query, as read from the database.
struct OpenCodeRow
{
    std::string id;
    std::string title;
    std::int64_t timeCreated = 0; // milliseconds since 1970
    std::int64_t timeUpdated = 0; // milliseconds since 1970
    std::string directory;        // empty when unknown
    std::string model;            // raw column text, possibly JSON; empty when unknown
    std::int64_t tokensInput = 0;
    std::int64_t tokensOutput = 0;
    std::int64_t tokensCacheRead = 0;
    std::int64_t tokensCacheWrite = 0;
};

// Sessions of OpenCode, read from its SQLite database without ever writing to it or creating files
// beside it. The database's directory is watched; each change sends changed(openCode).
class OpenCodeProvider final : public model::SessionProvider
{
public:
    // Reads only the session and project tables; never the account or credential tables.
    static constexpr std::string_view query =
        "SELECT s.id, COALESCE(s.title, 'OpenCode Session'), s.time_created, s.time_updated,\n"
        "       COALESCE(s.directory, s.path, p.worktree, ''), COALESCE(s.model, ''),\n"
        "       COALESCE(s.tokens_input, 0), COALESCE(s.tokens_output, 0),\n"
        "       COALESCE(s.tokens_cache_read, 0), COALESCE(s.tokens_cache_write, 0)\n"
        "FROM session s LEFT JOIN project p ON p.id = s.project_id\n"
        "ORDER BY s.time_updated DESC LIMIT 50;";

    // With `watchChanges`, the database's folder is watched when it exists now.
    OpenCodeProvider(std::string databasePath, std::shared_ptr<const model::ProcessInspector> inspector,
                     bool watchChanges = true);
    ~OpenCodeProvider() override;

    model::AgentTool tool() const override { return model::AgentTool::openCode; }
    model::ProviderProbeResult probe() override;
    // Throws ProviderError. A missing database gives an empty list.
    std::vector<model::AgentSession> sessions() override;
    model::EventReceiver<model::ProviderEvent> events() override { return m_changes.events(); }

    // Pure: one row and the running OpenCode processes to one session record.
    static model::AgentSession mapRow(const OpenCodeRow& row, const std::vector<model::AgentProcess>& processes,
                                      const std::string& databasePath);
    // The model name from the column text: the "id" of a JSON object such as
    // {"id":"claude-sonnet-4-5","providerID":"anthropic"}, else the text itself; empty gives none.
    static std::optional<std::string> modelName(std::string_view text);
    // "file:" URI of a path, every byte outside [A-Za-z0-9/._~-] percent-encoded.
    static std::string fileUri(std::string_view path);

private:
    std::string m_databasePath;
    std::shared_ptr<const model::ProcessInspector> m_inspector;
    ingestion::ChangeStream m_changes;
};

} // namespace loomwatch::providers
