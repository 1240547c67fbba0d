#pragma once

#include "model/eventstream.h"
#include "model/sessiontypes.h"

#include <vector>

namespace loomwatch::model {

// One coding agent's source of sessions. All calls block; the caller runs them off the UI
// thread, one at a time.
class SessionProvider
{
public:
    virtual ~SessionProvider() = default;

    virtual AgentTool tool() const = 0;
    // Never throws.
    virtual ProviderProbeResult probe() = 0;
    // May throw; the exception's what() is the user-facing description of the failure.
    virtual std::vector<AgentSession> sessions() = 0;
    // The same stream on every call; it ends when the provider is destroyed.
    virtual EventReceiver<ProviderEvent> events() = 0;
};

} // namespace loomwatch::model
