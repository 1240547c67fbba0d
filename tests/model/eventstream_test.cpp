#include "model/eventstream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

using namespace loomwatch::model;

TEST(EventStream, DeliversEveryEventInOrderAcrossThreads)
{
    auto [sender, receiver] = makeEventStream<int>();
    std::vector<int> sent(20000);
    std::iota(sent.begin(), sent.end(), 0);
    std::thread producer([s = std::move(sender), &sent]() mutable {
        for (int i : sent)
            s.send(i);
    }); // the sender dies with the thread's lambda: the stream ends after the last event
    std::vector<int> seen;
    while (auto v = receiver.receive())
        seen.push_back(*v);
    producer.join();
    EXPECT_EQ(seen, sent);
    EXPECT_TRUE(receiver.isFinished());
}

TEST(EventStream, QueuedEventsSurviveTheSenderAndEveryOneWakesTheReceiver)
{
    auto [sender, receiver] = makeEventStream<int>();
    sender.send(7);
    std::atomic<int> wakeups{0};
    receiver.setWakeup([&] { ++wakeups; });
    EXPECT_EQ(wakeups, 1) << "an event queued before the wakeup was set must not go unnoticed";
    sender.send(8);
    {
        auto gone = std::move(sender);
    }
    EXPECT_EQ(wakeups, 3) << "one for the second event, one for the end";
    EXPECT_FALSE(receiver.isFinished());
    EXPECT_EQ(receiver.tryReceive(), 7);
    EXPECT_EQ(receiver.receive(), 8);
    EXPECT_EQ(receiver.receive(), std::nullopt);
    EXPECT_TRUE(receiver.isFinished());
}
