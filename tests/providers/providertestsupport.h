#pragma once

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/process.h"
#include "support/tempdir.h"

#include "model/eventstream.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace loomwatch::providers::test {

using namespace loomwatch::testing;

// The next event of the stream; none when `timeout` passes first.
template <typename T>
std::optional<T> nextEvent(model::EventReceiver<T>& events, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<T> event;
    while (!(event = events.tryReceive()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return event;
}

} // namespace loomwatch::providers::test

// The names every provider test uses.
using namespace loomwatch;
using namespace loomwatch::providers;
using namespace loomwatch::providers::test;
using model::AgentTool;
using namespace std::chrono_literals;
