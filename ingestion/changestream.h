#pragma once

#include "model/eventstream.h"
#include "model/sessiontypes.h"

#include <memory>
#include <string>

namespace loomwatch::ingestion {

class FSEventWatcher;

// A provider's event stream, fed by a watcher on one path: each quiet period after changes below
// it sends changed(tool). Without watching (a process that takes one snapshot and exits) the
// stream only ends, with the provider. Nothing is sent once the stream's owner is gone.
class ChangeStream
{
public:
    ChangeStream(model::AgentTool tool, std::string path, bool watch);
    ~ChangeStream();
    ChangeStream(const ChangeStream&) = delete;
    ChangeStream& operator=(const ChangeStream&) = delete;

    // The same stream on every call.
    model::EventReceiver<model::ProviderEvent> events() const { return m_receiver; }
    bool isWatching() const;

private:
    using Sender = model::EventSender<model::ProviderEvent>;

    // Shared so that the watcher's callback can hold it weakly.
    std::shared_ptr<Sender> m_sender;
    model::EventReceiver<model::ProviderEvent> m_receiver;
    // Last: destroyed first, so its thread has stopped before the stream ends.
    std::unique_ptr<FSEventWatcher> m_watcher;
};

} // namespace loomwatch::ingestion
