#include "ingestion/changestream.h"

#include "ingestion/fseventwatcher.h"

namespace loomwatch::ingestion {

ChangeStream::ChangeStream(model::AgentTool tool, std::string path, bool watch)
{
    auto [streamSender, streamReceiver] = model::makeEventStream<model::ProviderEvent>();
    m_sender = std::make_shared<Sender>(std::move(streamSender));
    m_receiver = std::move(streamReceiver);
    if (!watch)
        return;
    m_watcher = std::make_unique<FSEventWatcher>(std::move(path), [weakSender = std::weak_ptr<Sender>(m_sender), tool] {
        if (const auto sender = weakSender.lock())
            sender->send(model::ProviderEvent::changed(tool));
    });
    m_watcher->start();
}

ChangeStream::~ChangeStream() = default;

bool ChangeStream::isWatching() const
{
    return m_watcher && m_watcher->isWatching();
}

} // namespace loomwatch::ingestion
