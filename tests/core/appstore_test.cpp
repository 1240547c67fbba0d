#include "core/appstore.h"
#include "core/notificationservice.h"
#include "core/services.h"
#include "core/sessionhistory.h"
#include "core/settings.h"
#include "ingestion/usageledger.h"

#include "core/fakenotifier.h"
#include "support/fakeclock.h"
#include "support/fakeprovider.h"
#include "support/qtapp.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "support/testpricing.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>

using namespace loomwatch;
using namespace loomwatch::testing;
using model::AgentTool;
using model::SessionState;
using namespace std::chrono_literals;

namespace {

class AppStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApplication();
        settings = std::make_shared<core::Settings>(QString::fromStdString(dir / "Loomwatch.conf"));
        for (AgentTool tool : model::allAgentTools)
            providers.push_back(std::make_shared<FakeProvider>(tool));
        deps.transcriptRoots = {dir / "claude", dir / "codex"};
        deps.providers.assign(providers.begin(), providers.end());
        deps.clock = clock;
        deps.settings = settings;
        deps.pricing = pricing::PricingService::fromJson(pricingJson());
    }

    // With the dependencies the test has set in `deps`.
    void makeStore() { store = std::make_unique<core::AppStore>(std::move(deps)); }

    FakeProvider& provider(AgentTool tool) { return *providers[static_cast<std::size_t>(tool)]; }

    void refreshAndWait()
    {
        QSignalSpy finished(store.get(), &core::AppStore::refreshFinished);
        store->refresh();
        ASSERT_TRUE(processEventsUntil([&] { return finished.count() == 1; }));
    }

    static std::vector<std::string> ids(const std::vector<model::AgentSession>& sessions)
    {
        std::vector<std::string> result;
        std::ranges::transform(sessions, std::back_inserter(result), &model::AgentSession::id);
        return result;
    }

    TempDir dir;
    core::AppStore::Dependencies deps;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(localTime(2026, 12, 6, 12));
    std::vector<std::shared_ptr<FakeProvider>> providers;
    std::shared_ptr<core::Settings> settings;
    std::unique_ptr<core::AppStore> store;
};

TEST_F(AppStoreTest, FullRefreshMergesByIdPricesAndOrdersNewestFirst)
{
    const auto t = clock->now();
    auto claudeCopy = makeSession(AgentTool::claude, "shared", t - 10min);
    claudeCopy.projectName = "from-claude";
    auto codexCopy = claudeCopy;
    codexCopy.projectName = "from-codex";
    auto older = makeSession(AgentTool::claude, "older", t - 1h);
    auto newerDuplicateLater = makeSession(AgentTool::codex, "dup", t - 50min);
    auto newerDuplicate = newerDuplicateLater;
    newerDuplicate.lastActivityAt = t - 5min;
    newerDuplicate.state = SessionState::waitingForInput;
    provider(AgentTool::claude).setSessions({claudeCopy, older, newerDuplicateLater});
    provider(AgentTool::codex).setSessions({codexCopy, newerDuplicate});
    makeStore();

    refreshAndWait();

    const auto& sessions = store->sessions();
    EXPECT_EQ(ids(sessions), (std::vector<std::string>{"codex:dup", "claude:shared", "claude:older"}));
    // Equal activity: the earlier provider's copy stays; strictly later activity replaces.
    EXPECT_EQ(sessions[1].projectName, "from-claude");
    EXPECT_EQ(sessions[0].state, SessionState::waitingForInput);
    ASSERT_TRUE(sessions[1].estimatedCost);
    EXPECT_EQ(sessions[1].estimatedCost->toString(), "0.02775");
    EXPECT_FALSE(store->isRefreshing());
    EXPECT_EQ(store->lastRefresh(), clock->now());

    // A failing provider: its sessions drop out (the older copy of "dup" is back), the others' stay; the error line
    // stays until dismissed.
    provider(AgentTool::codex).setError("database is locked");
    refreshAndWait();
    EXPECT_EQ(store->errorMessage(), "Codex: database is locked");
    EXPECT_EQ(ids(store->sessions()), (std::vector<std::string>{"claude:shared", "codex:dup", "claude:older"}));
    EXPECT_EQ(store->sessions()[1].state, SessionState::working);
    provider(AgentTool::codex).setError(std::nullopt);
    refreshAndWait();
    EXPECT_EQ(store->sessions().size(), 3u);
    EXPECT_EQ(store->errorMessage(), "Codex: database is locked");
    store->setErrorMessageText({});
    EXPECT_FALSE(store->hasError());
}

TEST_F(AppStoreTest, ToolRefreshReplacesOnlyThatToolAndLeavesProbesAndLastRefresh)
{
    const auto t = clock->now();
    provider(AgentTool::claude).setSessions({makeSession(AgentTool::claude, "a", t - 2min)});
    provider(AgentTool::codex).setSessions({makeSession(AgentTool::codex, "old", t - 1min)});
    makeStore();
    refreshAndWait();
    const auto lastRefresh = store->lastRefresh();

    provider(AgentTool::claude).setSessions({}); // must not be asked
    provider(AgentTool::codex).setSessions({makeSession(AgentTool::codex, "new", t)});
    clock->advance(5min);
    QSignalSpy probesChanged(store.get(), &core::AppStore::probesChanged);
    QSignalSpy done(store.get(), &core::AppStore::toolRefreshFinished);
    store->refreshTool(AgentTool::codex);
    ASSERT_TRUE(processEventsUntil([&] { return done.count() == 1; }));

    EXPECT_EQ(ids(store->sessions()), (std::vector<std::string>{"codex:new", "claude:a"}));
    EXPECT_EQ(store->lastRefresh(), lastRefresh);
    EXPECT_EQ(probesChanged.count(), 0);

    // A failing tool reload reports and keeps the list as it was.
    provider(AgentTool::codex).setError("unreadable");
    store->refreshTool(AgentTool::codex);
    ASSERT_TRUE(processEventsUntil([&] { return done.count() == 2; }));
    EXPECT_EQ(store->errorMessage(), "Codex: unreadable");
    EXPECT_EQ(store->sessions().size(), 2u);
}

TEST_F(AppStoreTest, EventsQueuedBeforeStartAreHandledAfterTheFirstRefresh)
{
    makeStore();
    FakeProvider& claude = provider(AgentTool::claude);
    claude.sendChanged();
    claude.sendChanged();
    provider(AgentTool::openCode).sendFailed("OpenCode database moved");
    int callsAtFirstRefresh = -1;
    QObject::connect(store.get(), &core::AppStore::refreshFinished,
                     [&] { callsAtFirstRefresh = claude.sessionCalls(); });
    QSignalSpy reloads(store.get(), &core::AppStore::toolRefreshFinished);

    store->start();
    ASSERT_TRUE(processEventsUntil([&] { return reloads.count() == 2; }));
    EXPECT_EQ(callsAtFirstRefresh, 1);
    EXPECT_EQ(claude.sessionCalls(), 3);                         // neither dropped nor merged
    EXPECT_EQ(store->errorMessage(), "OpenCode database moved"); // a failed event's text, unprefixed

    // A second start does nothing.
    store->start();
    processEventsFor(50);
    EXPECT_EQ(claude.probeCalls(), 1);
}

TEST_F(AppStoreTest, DuringAFullRefreshASecondIsDroppedAndAToolReloadIsAppliedThenReplaced)
{
    makeStore();
    store->start();
    ASSERT_TRUE(processEventsUntil([&] { return store->lastRefresh().has_value(); }));
    FakeProvider& claude = provider(AgentTool::claude);
    FakeProvider& codex = provider(AgentTool::codex);
    claude.setSessions({makeSession(AgentTool::claude, "c1", clock->now() - 1min)});
    codex.setSessions({makeSession(AgentTool::codex, "during", clock->now())});
    std::vector<std::vector<std::string>> published;
    QObject::connect(store.get(), &core::AppStore::sessionsChanged,
                     [&] { published.push_back(ids(store->sessions())); });
    QSignalSpy finished(store.get(), &core::AppStore::refreshFinished);

    claude.closeGate();
    store->refresh();
    ASSERT_TRUE(processEventsUntil([&] { return claude.waitingAtGate() == 1; }));
    EXPECT_TRUE(store->isRefreshing());
    store->refresh();
    codex.sendChanged();
    processEventsFor(20);
    claude.openGate();
    ASSERT_TRUE(processEventsUntil([&] { return finished.count() == 1; }));
    processEventsFor(50);

    EXPECT_EQ(finished.count(), 1);
    const std::vector<std::vector<std::string>> expected{{"codex:during"}, {"codex:during", "claude:c1"}};
    EXPECT_EQ(published, expected);
    for (const auto& p : providers) { // at the start and once more; Codex's reload besides
        EXPECT_EQ(p->probeCalls(), 2);
        EXPECT_EQ(p->sessionCalls(), p->tool() == AgentTool::codex ? 3 : 2);
    }
}

TEST_F(AppStoreTest, DerivedValuesFollowTheListAndTheLocalDay)
{
    clock->set(localTime(2026, 12, 6, 0, 0, 30));
    makeStore();
    auto session = [&](const char* id, SessionState state, model::Timestamp at) {
        auto s = makeSession(AgentTool::claude, id, at, state);
        s.tokens = {1000000, 0, 0, 0}; // exactly 3 at the test prices
        return s;
    };
    auto unpriced = session("unpriced", SessionState::limited, localTime(2026, 12, 6, 0, 0, 10));
    unpriced.model.reset();
    auto codexToday = session("c", SessionState::working, localTime(2026, 12, 6, 0, 0, 5));
    codexToday.tool = AgentTool::codex;
    codexToday.id = "codex:c";
    store->apply({
        session("yesterday", SessionState::waitingForInput, localTime(2026, 12, 5, 23, 59, 59)),
        session("midnight", SessionState::working, localTime(2026, 12, 6, 0, 0, 0)),
        session("ended", SessionState::ended, localTime(2026, 12, 6, 0, 0, 20)),
        session("errored", SessionState::errored, localTime(2026, 12, 6, 0, 0, 1)),
        unpriced,
        codexToday,
    });

    EXPECT_EQ(std::tuple(store->waitingCount(), store->workingCount(), store->activeCount()), std::tuple(1, 2, 4));
    EXPECT_EQ(ids(store->activeSessions()),
              (std::vector<std::string>{"claude:unpriced", "codex:c", "claude:midnight", "claude:yesterday"}));
    EXPECT_FALSE(store->sessions()[1].estimatedCost); // no model, no estimate
    // The codex session's model has no price; today's claude sessions count whole whatever their
    // state, the one a second before midnight does not.
    EXPECT_EQ(store->todayCost().toString(), "9");
    EXPECT_EQ(store->todayCost(AgentTool::claude).toString(), "9");
    EXPECT_EQ(store->todayCost(AgentTool::codex).toString(), "0");

    clock->set(localTime(2026, 12, 7, 0, 0, 0));
    EXPECT_EQ(store->todayCost().toString(), "0");
}

TEST_F(AppStoreTest, TheLastSevenDaysCountTranscriptsByRecordTimeAndOtherToolsByLastActivity)
{
    writeFile(dir / "claude/-p/s.jsonl", testData("usage/claude-session.jsonl"));
    writeFile(dir / "codex/2026/12/06/rollout.jsonl", testData("usage/codex-session.jsonl"));
    deps.usage = std::make_shared<ingestion::UsageLedger>();
    makeStore();
    auto openCode = makeSession(AgentTool::openCode, "o", localTime(2026, 12, 4, 9));
    auto cursor = makeSession(AgentTool::cursor, "c", localTime(2026, 11, 29, 23, 59, 59)); // a day too early
    auto claude = makeSession(AgentTool::claude, "listed", localTime(2026, 12, 3, 9));      // its transcript counts
    openCode.estimatedCost = cursor.estimatedCost = claude.estimatedCost = model::Decimal(3);
    std::vector<std::string> totals;
    for (const core::DayCost& day : core::lastSevenDays({}, {openCode, cursor, claude}, clock->now()))
        totals.push_back(day.total().toString() + (day.tools[2].isZero() ? "" : " openCode"));
    EXPECT_EQ(totals, (std::vector<std::string>{"0", "0", "0", "0", "3 openCode", "0", "0"}));

    QSignalSpy changed(store.get(), &core::AppStore::weekCostsChanged);
    store->refreshWeekCosts();
    ASSERT_TRUE(processEventsUntil([&] { return changed.count() == 1; }));
    std::vector<std::string> days;
    for (const core::DayCost& day : store->weekCosts()) {
        days.push_back(core::dayText(day.day) + ":");
        for (const auto& amount : day.tools)
            days.back() += " " + amount.toString();
    }
    // The Claude Code message of 23:30 UTC on the 5th is one of the 6th here; models without a price add nothing.
    EXPECT_EQ(days, (std::vector<std::string>{"2026-11-30: 0 0 0 0", "2026-12-01: 0 0 0 0", "2026-12-02: 0 0 0 0",
                                              "2026-12-03: 0 0 0 0", "2026-12-04: 0 0 0 0", "2026-12-05: 0 0 0 0",
                                              "2026-12-06: 0.024159 0.0005175 0 0"}));
    EXPECT_EQ(store->weekCosts().back().total().toString(), "0.0246765");
}

TEST_F(AppStoreTest, HistoryIsWrittenOnlyAfterStartWithTheInsertionsPricingVersion)
{
    auto history = core::SessionHistory::open(dir / "history.sqlite");
    ASSERT_TRUE(history);
    deps.history = history.get();
    makeStore();
    auto first = makeSession(AgentTool::claude, "s", clock->now());
    store->apply({first});
    EXPECT_TRUE(history->records().empty()); // not started yet

    store->start();
    ASSERT_TRUE(processEventsUntil([&] { return store->lastRefresh().has_value(); }));
    store->apply({first});
    auto second = first;
    second.state = SessionState::waitingForInput;
    store->setPricing(pricing::PricingService::fromJson(pricingJson(4)));
    store->apply({second});

    const auto records = history->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].stateRaw, "waitingForInput");
    EXPECT_EQ(records[0].estimatedCost, "0.02775");
    EXPECT_EQ(records[0].pricingVersion, 3);
}

TEST_F(AppStoreTest, NotificationsGetTheBudgetAndSoundFromSettings)
{
    auto notifier = std::make_shared<FakeNotifier>();
    auto service = std::make_shared<core::NotificationService>(notifier, clock, "en_US");
    deps.notifications = service;
    makeStore();
    auto s = makeSession(AgentTool::claude, "w", clock->now(), SessionState::waitingForInput);
    s.tokens = {1000000, 0, 0, 0};

    store->apply({s}); // budget absent: 0, sound absent: on
    ASSERT_TRUE(processEventsUntil([&] { return notifier->posted.size() == 1 && service->isIdle(); }));
    EXPECT_TRUE(notifier->posted[0].playSound);

    settings->setDailyBudgetThreshold(3.0);
    settings->setPlayNotificationSounds(false);
    s.lastSnippet = "changed";
    store->apply({s});
    ASSERT_TRUE(processEventsUntil([&] { return notifier->posted.size() == 2 && service->isIdle(); }));
    EXPECT_EQ(notifier->posted[1].title, "Loomwatch budget alert");
    EXPECT_EQ(notifier->posted[1].body, "Today\u2019s estimated agent cost reached $3.00.");
    EXPECT_FALSE(notifier->posted[1].playSound);
}

} // namespace
