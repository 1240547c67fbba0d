#include "model/eventstream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace loomwatch::model;

TEST(EventStream, DeliversEveryEventInOrderAcrossThreads)
{
    auto [sender, receiver] = makeEventStream<int>();
    constexpr int count = 20000;
    std::thread producer([s = std::move(sender)]() mutable {
        for (int i = 0; i < count; ++i)
            s.send(i);
    }); // the sender dies with the thread's lambda: the stream ends after the last event
    std::vector<int> seen;
    while (auto v = receiver.receive())
        seen.push_back(*v);
    producer.join();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(receiver.isFinished());
}

TEST(EventStream, QueuedEventsSurviveTheSenderAndThenTheStreamEnds)
{
    auto [sender, receiver] = makeEventStream<int>();
    sender.send(1);
    sender.send(2);
    {
        auto gone = std::move(sender);
    }
    EXPECT_FALSE(receiver.isFinished());
    EXPECT_EQ(receiver.receive(), 1);
    EXPECT_EQ(receiver.receive(), 2);
    EXPECT_EQ(receiver.receive(), std::nullopt);
    EXPECT_TRUE(receiver.isFinished());
}

TEST(EventStream, WakeupFiresForQueuedEventsEverySendAndTheEnd)
{
    auto [sender, receiver] = makeEventStream<int>();
    sender.send(7);
    std::atomic<int> wakeups{0};
    receiver.setWakeup([&] { ++wakeups; });
    EXPECT_EQ(wakeups, 1) << "an event queued before the wakeup was set must not go unnoticed";
    sender.send(8);
    EXPECT_EQ(wakeups, 2);
    {
        auto gone = std::move(sender);
    }
    EXPECT_EQ(wakeups, 3);
    EXPECT_EQ(receiver.tryReceive(), 7);
    EXPECT_EQ(receiver.tryReceive(), 8);
    EXPECT_EQ(receiver.tryReceive(), std::nullopt);
}
