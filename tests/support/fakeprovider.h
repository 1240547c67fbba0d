#pragma once

#include "model/sessionprovider.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace loomwatch::testing {

// The next event of a provider's stream; none when `timeout` passes first.
inline std::optional<model::ProviderEvent> nextEvent(model::EventReceiver<model::ProviderEvent>& events,
                                                     std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<model::ProviderEvent> event;
    while (!(event = events.tryReceive()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return event;
}

// A provider whose answers the test sets. Calls can be held at a gate to observe what the store
// does while a provider call is in flight.
class FakeProvider final : public model::SessionProvider
{
public:
    explicit FakeProvider(model::AgentTool tool) : m_tool(tool)
    {
        std::tie(m_sender, m_receiver) = model::makeEventStream<model::ProviderEvent>();
    }

    model::AgentTool tool() const override { return m_tool; }
    model::ProviderProbeResult probe() override
    {
        enter(m_probeCalls);
        return {m_tool, true, model::SupportLevel::full, "/fake/" + std::string(model::rawValue(m_tool)), std::nullopt};
    }
    std::vector<model::AgentSession> sessions() override
    {
        enter(m_sessionCalls);
        std::lock_guard lock(m_mutex);
        if (m_error)
            throw std::runtime_error(*m_error);
        return m_sessions;
    }
    model::EventReceiver<model::ProviderEvent> events() override { return m_receiver; }

    void setSessions(std::vector<model::AgentSession> sessions)
    {
        std::lock_guard lock(m_mutex);
        m_sessions = std::move(sessions);
    }
    void setError(std::optional<std::string> error)
    {
        std::lock_guard lock(m_mutex);
        m_error = std::move(error);
    }
    void sendChanged() { m_sender.send(model::ProviderEvent::changed(m_tool)); }
    void sendFailed(std::string message) { m_sender.send(model::ProviderEvent::failed(m_tool, std::move(message))); }

    // While closed, every call waits; the count of waiting calls is observable.
    void closeGate() { setGate(false); }
    void openGate() { setGate(true); }
    int waitingAtGate() const { return m_waiting; }
    int probeCalls() const { return m_probeCalls; }
    int sessionCalls() const { return m_sessionCalls; }

private:
    void enter(std::atomic<int>& calls)
    {
        ++calls;
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_gate.wait(lock, [this] { return m_gateOpen; });
        --m_waiting;
    }
    void setGate(bool open)
    {
        std::lock_guard lock(m_mutex);
        m_gateOpen = open;
        m_gate.notify_all();
    }

    model::AgentTool m_tool;
    model::EventSender<model::ProviderEvent> m_sender;
    model::EventReceiver<model::ProviderEvent> m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_gate;
    bool m_gateOpen = true;
    std::vector<model::AgentSession> m_sessions;
    std::optional<std::string> m_error;
    std::atomic<int> m_waiting{0};
    std::atomic<int> m_probeCalls{0};
    std::atomic<int> m_sessionCalls{0};
};

} // namespace loomwatch::testing
