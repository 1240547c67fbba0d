#include "core/notificationservice.h"

#include "core/fakenotifier.h"
#include "support/fakeclock.h"
#include "support/sessionfactory.h"

#include <gtest/gtest.h>

using namespace loomwatch;
using namespace loomwatch::testing;
using model::AgentTool;
using model::SessionState;
using namespace std::chrono_literals;

namespace {

class NotificationServiceTest : public ::testing::Test
{
protected:
    model::AgentSession costing(const char* id, model::Timestamp at, const char* cost)
    {
        auto s = makeSession(AgentTool::codex, id, at, SessionState::ended);
        s.estimatedCost = model::Decimal::fromString(cost);
        return s;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(localTime(2026, 12, 6, 18));
    std::shared_ptr<FakeNotifier> notifier = std::make_shared<FakeNotifier>();
    core::NotificationService service{notifier, clock, "en_US"};
};

TEST_F(NotificationServiceTest, AnnouncesEachWaitingEpisodeOnce)
{
    auto waiting = makeSession(AgentTool::claude, "abc", clock->now(), SessionState::waitingForInput);
    waiting.projectName = "api-server";
    for (int i = 0; i < 10; ++i)
        service.evaluate({waiting}, 0, true);
    ASSERT_EQ(notifier->posted.size(), 1u);
    EXPECT_EQ(notifier->posted[0], (core::NotificationRequest{"waiting:claude:abc", "Claude Code is waiting",
                                                              "api-server is waiting for your input.", true}));

    auto working = waiting;
    working.state = SessionState::working;
    service.evaluate({working}, 0, true);
    service.evaluate({waiting}, 0, false);
    ASSERT_EQ(notifier->posted.size(), 2u);
    EXPECT_FALSE(notifier->posted[1].playSound);

    // Vanishing from the list also ends the episode; rejected posts count as shown.
    notifier->deliver = false;
    service.evaluate({}, 0, true);
    service.evaluate({waiting}, 0, true);
    service.evaluate({waiting}, 0, true);
    EXPECT_EQ(notifier->posted.size(), 3u);
}

TEST_F(NotificationServiceTest, EvaluationsWaitForThePreviousOnesPosts)
{
    notifier->holdAnswers = true;
    auto a = makeSession(AgentTool::claude, "a", clock->now(), SessionState::waitingForInput);
    auto b = makeSession(AgentTool::openCode, "b", clock->now(), SessionState::waitingForInput);
    int finished = 0;
    service.evaluate({a, b}, 0, true, [&] { ++finished; });
    service.evaluate({a, b}, 0, true, [&] { ++finished; });
    EXPECT_EQ(notifier->posted.size(), 1u); // the second post waits for the first answer
    notifier->answerAll();
    EXPECT_EQ(notifier->posted.size(), 2u);
    EXPECT_EQ(notifier->posted[1].title, "OpenCode is waiting");
    notifier->answerAll();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(notifier->posted.size(), 2u); // the queued evaluation saw both as announced
    EXPECT_TRUE(service.isIdle());
}

TEST_F(NotificationServiceTest, BudgetAlertOncePerLocalDay)
{
    const model::Decimal budget = 10;
    const auto yesterday = localTime(2026, 12, 5, 23, 59, 59);
    const auto today = localTime(2026, 12, 6, 0, 0, 0);

    service.evaluate({costing("a", today, "9.99"), costing("old", yesterday, "50")}, budget, true);
    EXPECT_TRUE(notifier->posted.empty());

    service.evaluate({costing("a", today, "9.99"), costing("b", today, "0.01")}, budget, true);
    ASSERT_EQ(notifier->posted.size(), 1u);
    EXPECT_EQ(notifier->posted[0].title, "Loomwatch budget alert");
    EXPECT_EQ(notifier->posted[0].body, "Today\u2019s estimated agent cost reached $10.00.");
    EXPECT_EQ(notifier->posted[0].identifier, "budget:1796576400");

    clock->advance(3h);
    service.evaluate({costing("a", today, "20")}, budget, true);
    EXPECT_EQ(notifier->posted.size(), 1u);

    clock->set(localTime(2026, 12, 7, 9, 30, 0) + 250ms);
    const auto nextDay = clock->now();
    service.evaluate({costing("a", today, "20")}, budget, false); // yesterday's spend does not count
    EXPECT_EQ(notifier->posted.size(), 1u);
    service.evaluate({costing("a", nextDay, "10")}, budget, false);
    ASSERT_EQ(notifier->posted.size(), 2u);
    EXPECT_EQ(notifier->posted[1].identifier, "budget:1796632200.25");
    EXPECT_FALSE(notifier->posted[1].playSound);

    // No budget (zero or less) means no alert whatever the spend.
    clock->advance(24h);
    service.evaluate({costing("a", clock->now(), "100000")}, 0, true);
    service.evaluate({costing("a", clock->now(), "100000")}, model::Decimal(-1), true);
    EXPECT_EQ(notifier->posted.size(), 2u);
}

} // namespace
