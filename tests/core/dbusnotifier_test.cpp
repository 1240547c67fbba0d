#include "core/dbusnotifier.h"

#include "core/fakenotificationserver.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

using namespace loomwatch;
using namespace loomwatch::testing;

namespace {

std::optional<bool> postAndWait(core::DBusNotifier& notifier, const core::NotificationRequest& request)
{
    std::optional<bool> outcome;
    notifier.post(request, [&](bool delivered) { outcome = delivered; });
    processEventsUntil([&] { return outcome.has_value(); });
    return outcome;
}

TEST(DBusNotifier, SendsTheExactArgumentsEscapesTheBodyAndReplacesByIdentifier)
{
    PrivateBus bus;
    if (!bus.isUp())
        GTEST_SKIP() << "dbus-daemon is not available";
    FakeNotificationServer fake;
    ASSERT_TRUE(bus.serve(fake));
    core::DBusNotifier notifier(*bus.client, 2000);

    EXPECT_EQ(postAndWait(notifier, {"waiting:claude:abc", "Claude Code is waiting", "<b>x</b> & co is waiting", true}),
              true);
    EXPECT_EQ(postAndWait(notifier, {"budget:1796576400", "Loomwatch budget alert", "Today\u2019s …", false}), true);
    EXPECT_EQ(postAndWait(notifier, {"waiting:claude:abc", "Claude Code is waiting", "again", true}), true);

    ASSERT_EQ(fake.calls.size(), 3u);
    const auto& first = fake.calls[0];
    EXPECT_EQ(
        std::tuple(first.appName, first.replacesId, first.appIcon, first.summary, first.body, first.expireTimeout),
        std::tuple(QString("Loomwatch"), 0u, QString("loomwatch"), QString("Claude Code is waiting"),
                   QString("&lt;b&gt;x&lt;/b&gt; &amp; co is waiting"), -1));
    EXPECT_EQ(first.actions, (QStringList{"default", "Show in Loomwatch"}));
    // Servers read the urgency only as a byte.
    EXPECT_EQ(first.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
    EXPECT_EQ(first.hints, (QVariantMap{{"sound-name", "message-new-instant"},
                                        {"desktop-entry", "loomwatch"},
                                        {"urgency", QVariant::fromValue<uchar>(1)}}));
    EXPECT_EQ(fake.calls[1].hints.value("suppress-sound"), true);
    EXPECT_EQ(fake.calls[1].body, QString::fromUtf8("Today\u2019s …"));
    EXPECT_EQ(fake.calls[1].replacesId, 0u);
    EXPECT_EQ(fake.calls[2].replacesId, 101u); // the id the server gave the first post

    // A click names the notification by the identifier it was posted with; other actions are not ours.
    std::vector<std::string> clicked;
    notifier.setActivationHandler([&](const std::string& identifier) { clicked.push_back(identifier); });
    fake.click(fake.calls[1], *bus.server, "dismiss-all");
    fake.click(fake.calls[1], *bus.server);
    ASSERT_TRUE(processEventsUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, std::vector<std::string>{"budget:1796576400"});
}

TEST(DBusNotifier, NoServerOrASilentOneCountAsNotDeliveredAndNeverBlock)
{
    PrivateBus bus;
    if (!bus.isUp())
        GTEST_SKIP() << "dbus-daemon is not available";
    QElapsedTimer timer;
    timer.start();
    core::DBusNotifier nobodyServes(*bus.client, 2000);
    EXPECT_EQ(postAndWait(nobodyServes, {"waiting:x", "t", "b", true}), false);
    EXPECT_LT(timer.elapsed(), 2000);

    FakeNotificationServer fake;
    fake.silent = true;
    ASSERT_TRUE(bus.serve(fake));
    core::DBusNotifier waitsInVain(*bus.client, 300);
    timer.restart();
    EXPECT_EQ(postAndWait(waitsInVain, {"waiting:x", "t", "b", true}), false);
    EXPECT_GE(timer.elapsed(), 250);
}

} // namespace
