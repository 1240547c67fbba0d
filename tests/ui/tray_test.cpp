// The tray icon on a real X server with a tray host on the session bus. Runs under
// xvfb-run + dbus-run-session (see CMakeLists.txt); skips anywhere else.
#include "uiharness.h"

#include "ui/systemtrayhost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QQmlEngineExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// Calls our own tray item without blocking: it answers from this very thread.
QDBusMessage callItem(const QString& item, const QString& interface, const QString& method, QVariantList arguments)
{
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    QDBusMessage message = QDBusMessage::createMethodCall(
        slash < 0 ? item : item.left(slash), slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash),
        interface, method);
    message.setArguments(arguments);
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message);
    processEventsUntil([&] { return call.isFinished(); });
    return call.reply();
}

QVariant itemProperty(const QString& item, const QString& name)
{
    const QDBusMessage reply = callItem(item, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {QStringLiteral("org.kde.StatusNotifierItem"), name});
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().constFirst().value<QDBusVariant>().variant();
}

TEST(Tray, ItemAppearsWithTheStateIconAndActivationOpensThePanel)
{
    // Only inside the private X server and bus that ui_tray_xvfb_test sets up, never on the
    // developer's own desktop.
    if (qEnvironmentVariableIsEmpty("LOOMWATCH_PRIVATE_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY") ||
        qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "runs as ui_tray_xvfb_test";

    QProcess watcher;
    watcher.start(QStringLiteral(LOOMWATCH_FAKE_WATCHER), {});
    ASSERT_TRUE(watcher.waitForStarted());
    uiApplication();
    ASSERT_TRUE(processEventsUntil(
        [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherService).value(); }));

    ui::SystemTrayHost tray;
    ASSERT_TRUE(tray.isAvailable());
    UiHarness h({.tray = &tray});
    h.provider(model::AgentTool::claude)
        .setSessions({sessionAt(h, model::AgentTool::claude, "w", 1, model::SessionState::waitingForInput),
                      sessionAt(h, model::AgentTool::codex, "x", 2)});
    h.load();
    tray.show();
    QStringList items;
    ASSERT_TRUE(processEventsUntil([&] {
        QDBusInterface host(watcherService, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
        items = host.property("RegisteredStatusNotifierItems").toStringList();
        return !items.isEmpty();
    }));
    EXPECT_EQ(tray.iconName(), "person.crop.circle.badge.exclamationmark");
    // The icon goes over the bus either by name (a rendered file) or as pixels.
    EXPECT_TRUE(!itemProperty(items.front(), "IconName").toString().isEmpty() ||
                itemProperty(items.front(), "IconPixmap").isValid());

    callItem(items.front(), QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"), {1200, 10});
    ASSERT_TRUE(processEventsUntil([&] { return h.panel()->isVisible(); }));
    EXPECT_EQ(h.panel()->width(), 330);
    screenshot(h.panel(), "tray-panel-xcb");

    h.engine.reset();
    watcher.kill();
    watcher.waitForFinished();
}

} // namespace
} // namespace loomwatch::testing
