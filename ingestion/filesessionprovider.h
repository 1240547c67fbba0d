#pragma once

#include "ingestion/changestream.h"
#include "ingestion/jsonlparser.h"
#include "ingestion/sessionstatereducer.h"
#include "ingestion/usageledger.h"
#include "model/clock.h"
#include "model/processlisting.h"
#include "model/sessionprovider.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::ingestion {

// Sessions of an agent that keeps one JSON Lines transcript per session somewhere below `root`
// (Claude Code: ~/.claude/projects, Codex: ~/.codex/sessions). Only reads below `root`. A session's facts come from
// its transcript's tail; its tokens from the whole transcript, through the usage ledger.
class FileSessionProvider : public model::SessionProvider
{
public:
    static constexpr std::size_t candidateLimit = 50;
    // A session without a matching working directory gets a process by position only when younger than this.
    static constexpr std::chrono::seconds recencyWindow{86'400};

    // With `watchChanges`, starts watching `root` at once when it exists; a root created later is listed but
    // raises no events. Without a ledger, counts are kept in memory for the provider's life.
    FileSessionProvider(model::AgentTool tool, std::string root,
                        std::shared_ptr<const model::ProcessInspector> inspector,
                        std::shared_ptr<const model::Clock> clock = model::systemClock(), bool watchChanges = true,
                        std::shared_ptr<UsageLedger> ledger = nullptr);
    ~FileSessionProvider() override;
    FileSessionProvider(const FileSessionProvider&) = delete;
    FileSessionProvider& operator=(const FileSessionProvider&) = delete;

    model::AgentTool tool() const override { return m_tool; }
    const std::string& root() const { return m_root; }

    model::ProviderProbeResult probe() override;
    // Never throws: files that cannot be listed or parsed are left out.
    std::vector<model::AgentSession> sessions() override;
    model::EventReceiver<model::ProviderEvent> events() override;

    // Paths of the regular files named *.jsonl below `root` (symbolic links are neither candidates nor entered),
    // most recently modified first, at most `limit`.
    std::vector<std::string> candidateFiles(std::size_t limit = candidateLimit) const;

private:
    const model::AgentTool m_tool;
    const std::string m_root;
    const JSONLParser m_parser;
    const std::shared_ptr<const model::ProcessInspector> m_inspector;
    const std::shared_ptr<const model::Clock> m_clock;
    const SessionStateReducer m_reducer;
    const std::shared_ptr<UsageLedger> m_ledger;
    ChangeStream m_changes;
};

} // namespace loomwatch::ingestion
