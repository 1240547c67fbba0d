#pragma once

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/process.h"
#include "support/tempdir.h"

#include "model/eventstream.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace loomwatch::providers::test {

using namespace loomwatch::testing;

// The next event of the stream, woken by its sender; none when the stream ends or `timeout` passes first.
template <typename T>
std::optional<T> nextEvent(model::EventReceiver<T>& events, std::chrono::milliseconds timeout)
{
    const auto woken = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    events.setWakeup([woken] {
        std::lock_guard lock(woken->first);
        woken->second.notify_all();
    });
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(woken->first);
    std::optional<T> event;
    while (!(event = events.tryReceive()) && !events.isFinished() &&
           woken->second.wait_until(lock, deadline) == std::cv_status::no_timeout) {
    }
    lock.unlock();
    events.setWakeup(nullptr);
    return event;
}

} // namespace loomwatch::providers::test
