#include "core/dbusnotifier.h"

#include "core/fakenotificationserver.h"
#include "support/qtapp.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

using namespace loomwatch;
using namespace loomwatch::testing;

namespace {

// A session bus of the test's own: dbus-daemon started here and stopped at the end.
class PrivateBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApplication();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(5000))
            GTEST_SKIP() << "dbus-daemon is not available";
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        static int counter = 0;
        const QString suffix = QString::number(++counter);
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, "client" + suffix));
        server = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, "server" + suffix));
        ASSERT_TRUE(client->isConnected());
        ASSERT_TRUE(server->isConnected());
    }

    void TearDown() override
    {
        if (client)
            QDBusConnection::disconnectFromBus(client->name());
        if (server)
            QDBusConnection::disconnectFromBus(server->name());
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished(5000);
        }
    }

    void serve(FakeNotificationServer& fake)
    {
        ASSERT_TRUE(server->registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server->registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    std::optional<bool> postAndWait(core::DBusNotifier& notifier, const core::NotificationRequest& request,
                                    int timeoutMs = 5000)
    {
        std::optional<bool> outcome;
        notifier.post(request, [&](bool delivered) { outcome = delivered; });
        processEventsUntil([&] { return outcome.has_value(); }, timeoutMs);
        return outcome;
    }

    static std::optional<bool> available(core::DBusNotifier& notifier)
    {
        std::optional<bool> outcome;
        notifier.checkAvailable([&](bool ok) { outcome = ok; });
        processEventsUntil([&] { return outcome.has_value(); });
        return outcome;
    }

    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<QDBusConnection> server;

private:
    QProcess m_daemon;
    QString m_address;
};

TEST_F(PrivateBus, NotifySendsTheExactArgumentsAndReplacesByIdentifier)
{
    FakeNotificationServer fake;
    serve(fake);
    core::DBusNotifier notifier(*client, 2000);

    EXPECT_EQ(postAndWait(notifier, {"waiting:claude:abc", "Claude Code is waiting",
                                     "api-server is waiting for your input.", true}),
              true);
    EXPECT_EQ(postAndWait(notifier, {"budget:1796576400", "Loomwatch budget alert", "Today\u2019s …", false}), true);
    EXPECT_EQ(postAndWait(notifier, {"waiting:claude:abc", "Claude Code is waiting", "again", true}), true);

    ASSERT_EQ(fake.calls.size(), 3u);
    const auto& first = fake.calls[0];
    EXPECT_EQ(std::tuple(first.appName, first.replacesId, first.summary, first.body, first.expireTimeout),
              std::tuple(QString("Loomwatch"), 0u, QString("Claude Code is waiting"),
                         QString("api-server is waiting for your input."), -1));
    EXPECT_TRUE(first.actions.isEmpty());
    EXPECT_EQ(first.hints, (QVariantMap{{"sound-name", "message-new-instant"}}));
    EXPECT_EQ(fake.calls[1].hints, (QVariantMap{{"suppress-sound", true}}));
    EXPECT_EQ(fake.calls[1].body, QString::fromUtf8("Today\u2019s …"));
    EXPECT_EQ(fake.calls[1].replacesId, 0u);
    EXPECT_EQ(fake.calls[2].replacesId, 101u); // the id the server gave the first post

    EXPECT_EQ(available(notifier), true);
}

TEST_F(PrivateBus, BodyIsEscapedForTheServersMarkup)
{
    FakeNotificationServer fake;
    serve(fake);
    core::DBusNotifier notifier(*client, 2000);
    EXPECT_EQ(postAndWait(notifier, {"waiting:x", "Codex is waiting", "<b>x</b> & <i>co</i> is waiting", true}), true);
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(fake.calls[0].body, QString("&lt;b&gt;x&lt;/b&gt; &amp; &lt;i&gt;co&lt;/i&gt; is waiting"));
    EXPECT_EQ(fake.calls[0].summary, QString("Codex is waiting"));
}

TEST_F(PrivateBus, MissingServerCountsAsNotDelivered)
{
    core::DBusNotifier notifier(*client, 2000);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(postAndWait(notifier, {"waiting:x", "t", "b", true}), false);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(available(notifier), false);
}

TEST_F(PrivateBus, SilentServerTimesOutAsNotDelivered)
{
    FakeNotificationServer fake;
    fake.silent = true;
    serve(fake);
    core::DBusNotifier notifier(*client, 300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(postAndWait(notifier, {"waiting:x", "t", "b", true}), false);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(DBusNotifierWithoutBus, PostCompletesAsNotDelivered)
{
    coreApplication();
    core::DBusNotifier notifier(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "nobus"),
                                300);
    std::optional<bool> outcome;
    notifier.post({"waiting:x", "t", "b", true}, [&](bool delivered) { outcome = delivered; });
    EXPECT_FALSE(outcome.has_value()); // reported from the event loop, never inside post()
    ASSERT_TRUE(processEventsUntil([&] { return outcome.has_value(); }, 2000));
    EXPECT_FALSE(*outcome);
}

} // namespace
