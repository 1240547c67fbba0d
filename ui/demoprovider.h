#pragma once

#include "model/clock.h"
#include "model/sessionprovider.h"

#include <memory>
#include <string>
#include <vector>

namespace loomwatch::ui {

// A provider with made-up but realistic sessions, for `loomwatch --demo`, screenshots and UI tests.
// The sessions' times are relative to the clock at each call, so the demo always looks current.
class DemoProvider final : public model::SessionProvider
{
public:
    DemoProvider(model::AgentTool tool, std::shared_ptr<const model::Clock> clock);

    model::AgentTool tool() const override { return m_tool; }
    model::ProviderProbeResult probe() override;
    std::vector<model::AgentSession> sessions() override;
    model::EventReceiver<model::ProviderEvent> events() override { return m_events; }

    // The four demo providers in the store's order.
    static std::vector<std::shared_ptr<model::SessionProvider>> all(std::shared_ptr<const model::Clock> clock);
    // Writes one Claude Code and one Codex transcript under `home` (in the agents' own folders) whose usage
    // spreads over the seven days up to `now`, so that the week's costs have something to show.
    static void writeWeekTranscripts(const std::string& home, model::Timestamp now);

private:
    model::AgentTool m_tool;
    std::shared_ptr<const model::Clock> m_clock;
    model::EventSender<model::ProviderEvent> m_sender;
    model::EventReceiver<model::ProviderEvent> m_events;
};

} // namespace loomwatch::ui
