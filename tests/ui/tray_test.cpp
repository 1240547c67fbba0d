// The tray icon on a real X server with a tray host on the session bus. Runs under
// xvfb-run + dbus-run-session (see CMakeLists.txt); skips anywhere else.
#include "uiharness.h"

#include "ui/systemtrayhost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QQmlEngineExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

QStringList registeredItems()
{
    QDBusInterface watcher(watcherService, QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.kde.StatusNotifierWatcher"));
    return watcher.property("RegisteredStatusNotifierItems").toStringList();
}

// A property of our own tray item, read without blocking: the item answers from this very thread.
QVariant itemProperty(const QString& service, const QString& path, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(get);
    processEventsUntil([&] { return call.isFinished(); });
    const QDBusMessage reply = call.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

TEST(Tray, ItemAppearsWithTheStateIconAndActivationOpensThePanel)
{
    // Only inside the private X server and bus that ctest's ui_tray_xvfb_test sets up, never on the
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
    UiHarness::Options options;
    options.tray = &tray;
    UiHarness h(options);
    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "w", 1, SessionState::waitingForInput),
                      sessionAt(h, AgentTool::codex, "x", 2)});
    h.load();
    tray.show();

    ASSERT_TRUE(processEventsUntil([] { return !registeredItems().isEmpty(); }));
    EXPECT_EQ(tray.iconName(), "person.crop.circle.badge.exclamationmark");

    const QString item = registeredItems().constFirst();
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash < 0 ? item : item.left(slash);
    const QString path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
    EXPECT_FALSE(itemProperty(service, path, "Id").toString().isEmpty());
    // The icon goes over the bus either by name (a rendered file) or as pixels.
    const QVariant iconName = itemProperty(service, path, "IconName");
    const QVariant iconPixmap = itemProperty(service, path, "IconPixmap");
    EXPECT_TRUE(!iconName.toString().isEmpty() || iconPixmap.isValid());

    QDBusMessage activate = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.kde.StatusNotifierItem"),
                                                           QStringLiteral("Activate"));
    QDBusConnection::sessionBus().asyncCall(activate << 1200 << 10);
    ASSERT_TRUE(processEventsUntil([&] { return h.panel()->isVisible(); }));
    EXPECT_EQ(h.panel()->width(), 330);
    UiHarness::screenshot(h.panel(), "tray-panel-xcb");

    h.engine.reset();
    watcher.kill();
    watcher.waitForFinished();
}

} // namespace
} // namespace loomwatch::testing
