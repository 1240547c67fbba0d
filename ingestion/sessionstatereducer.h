#pragma once

#include "model/clock.h"
#include "model/sessionstatereducing.h"

#include <chrono>
#include <memory>

namespace loomwatch::ingestion {

// Decides the displayed state of a transcript-based session and forms its identity. Keeps no state.
class SessionStateReducer : public model::SessionStateReducing
{
public:
    // A transcript that says "working" counts as working only while its last activity is younger than this.
    static constexpr std::chrono::seconds workingWindow{300};
    static constexpr std::int64_t parserVersion = 1;

    explicit SessionStateReducer(std::shared_ptr<const model::Clock> clock = model::systemClock());

    model::AgentSession reduce(const model::ParsedSession& parsed,
                               const std::optional<model::AgentProcess>& process) const override;

private:
    std::shared_ptr<const model::Clock> m_clock;
};

} // namespace loomwatch::ingestion
