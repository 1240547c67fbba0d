#include "model/eventstream.h"

#include <gtest/gtest.h>

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
