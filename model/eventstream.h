#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace loomwatch::model {

namespace detail {

template <typename T>
struct EventStreamState
{
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> queue;
    bool finished = false;
    std::function<void()> wakeup;
};

} // namespace detail

// Consuming end of an unbounded event stream. Copies share one queue: hand it to exactly one
// consumer. The stream ends once its sender is destroyed and every queued event has been taken.
template <typename T>
class EventReceiver
{
public:
    EventReceiver() = default;
    explicit EventReceiver(std::shared_ptr<detail::EventStreamState<T>> state) : m_state(std::move(state)) {}

    // Blocks until an event arrives (returned) or the stream has ended (nothing).
    std::optional<T> receive()
    {
        if (!m_state)
            return std::nullopt;
        std::unique_lock lock(m_state->mutex);
        m_state->ready.wait(lock, [&] { return !m_state->queue.empty() || m_state->finished; });
        return popLocked();
    }

    // The next queued event, if any; never blocks.
    std::optional<T> tryReceive()
    {
        if (!m_state)
            return std::nullopt;
        std::lock_guard lock(m_state->mutex);
        return popLocked();
    }

    // True once the sender is gone and the queue is drained.
    bool isFinished() const
    {
        if (!m_state)
            return true;
        std::lock_guard lock(m_state->mutex);
        return m_state->finished && m_state->queue.empty();
    }

    // Called (on the sending thread, outside the stream's lock) after every send and once when the
    // stream ends. Setting it when events are already queued calls it once at once, so none is missed.
    void setWakeup(std::function<void()> wakeup)
    {
        if (!m_state)
            return;
        bool pending = false;
        std::function<void()> copy;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->wakeup = std::move(wakeup);
            pending = !m_state->queue.empty() || m_state->finished;
            copy = m_state->wakeup;
        }
        if (pending && copy)
            copy();
    }

private:
    std::optional<T> popLocked()
    {
        if (m_state->queue.empty())
            return std::nullopt;
        T value = std::move(m_state->queue.front());
        m_state->queue.pop_front();
        return value;
    }

    std::shared_ptr<detail::EventStreamState<T>> m_state;
};

// Producing end: move-only; destroying it ends the stream. Sending is safe from any thread and
// never drops an event (the queue grows as needed).
template <typename T>
class EventSender
{
public:
    EventSender() = default;
    explicit EventSender(std::shared_ptr<detail::EventStreamState<T>> state) : m_state(std::move(state)) {}
    EventSender(EventSender&&) noexcept = default;
    EventSender& operator=(EventSender&& other) noexcept
    {
        if (this != &other) {
            finish();
            m_state = std::move(other.m_state);
        }
        return *this;
    }
    EventSender(const EventSender&) = delete;
    EventSender& operator=(const EventSender&) = delete;
    ~EventSender() { finish(); }

    void send(T event)
    {
        if (!m_state)
            return;
        std::function<void()> wakeup;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->queue.push_back(std::move(event));
            wakeup = m_state->wakeup;
        }
        m_state->ready.notify_all();
        if (wakeup)
            wakeup();
    }

private:
    void finish()
    {
        if (!m_state)
            return;
        std::function<void()> wakeup;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->finished = true;
            wakeup = std::move(m_state->wakeup);
            m_state->wakeup = nullptr;
        }
        m_state->ready.notify_all();
        if (wakeup)
            wakeup();
        m_state.reset();
    }

    std::shared_ptr<detail::EventStreamState<T>> m_state;
};

template <typename T>
std::pair<EventSender<T>, EventReceiver<T>> makeEventStream()
{
    auto state = std::make_shared<detail::EventStreamState<T>>();
    return {EventSender<T>(state), EventReceiver<T>(state)};
}

} // namespace loomwatch::model
