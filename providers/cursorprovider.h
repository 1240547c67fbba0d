#pragma once

#include "model/clock.h"
#include "model/processlisting.h"
#include "model/sessionprovider.h"

#include <memory>
#include <string>
#include <string_view>

#include "ingestion/changestream.h"

namespace loomwatch::providers {

// Cursor's agent, watched at process level only: every running Cursor process is one session that
// says nothing beyond its existence. Changes below the agent-worker folder send changed(cursor).
class CursorProvider final : public model::SessionProvider
{
public:
    static constexpr std::string_view probeNote = "Session format is not stable; process-level monitoring is active.";
    static constexpr std::string_view sessionSnippet = "Process-level monitoring";
    static constexpr std::string_view sessionProjectName = "Cursor Agent";
    static constexpr std::string_view sessionIdPrefix = "cursor:process:";
    static constexpr std::string_view workerSubpath = "User/globalStorage/anysphere.cursor-agent-worker";

    // `root` is Cursor's per-user folder ($XDG_CONFIG_HOME/Cursor). With `watchChanges`, the agent-worker
    // folder is watched when it exists now.
    CursorProvider(std::string root, std::shared_ptr<const model::ProcessInspector> inspector,
                   std::shared_ptr<const model::Clock> clock = model::systemClock(), bool watchChanges = true);
    ~CursorProvider() override;

    model::AgentTool tool() const override { return model::AgentTool::cursor; }
    model::ProviderProbeResult probe() override;
    // Never throws.
    std::vector<model::AgentSession> sessions() override;
    model::EventReceiver<model::ProviderEvent> events() override { return m_changes.events(); }

    const std::string& workerRoot() const { return m_workerRoot; }

private:
    std::string m_root;
    std::string m_workerRoot;
    std::shared_ptr<const model::ProcessInspector> m_inspector;
    std::shared_ptr<const model::Clock> m_clock;
    ingestion::ChangeStream m_changes;
};

} // namespace loomwatch::providers
