// The tray icon and the installed program on a real X server with a tray host on a private session
// bus. Runs as ui_tray_xvfb_test, under xvfb-run + dbus-run-session; skips anywhere else.
#include "uiharness.h"

#include "ui/systemtrayhost.h"
#include "ui/trayicon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPainter>
#include <QProcess>
#include <QQmlEngineExtensionPlugin>
#include <QScreen>

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

// Share of the screen's pixels that are not black: Xvfb's empty root window is black.
double shownShare()
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage().scaled(128, 80);
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += qGray(image.pixel(x, y)) > 16;
    return double(lit) / (image.width() * image.height());
}

class Desktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Only inside the private X server and bus that ui_tray_xvfb_test sets up, never on the
        // developer's own desktop.
        if (qEnvironmentVariableIsEmpty("LOOMWATCH_PRIVATE_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY") ||
            qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "runs as ui_tray_xvfb_test";
        uiApplication();
        if (!watcher) {
            watcher = new QProcess;
            watcher->start(QStringLiteral(LOOMWATCH_FAKE_WATCHER), {});
        }
        ASSERT_TRUE(processEventsUntil(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherService).value(); }));
    }
    static void TearDownTestSuite()
    {
        if (watcher) {
            watcher->kill();
            watcher->waitForFinished();
        }
    }

    static inline QProcess* watcher = nullptr;
    TempHome home;
};

TEST_F(Desktop, TrayItemShowsTheThemesSymbolicIconAndActivationOpensThePanel)
{
    // The symbolic icons as the package installs them.
    const auto icons = home / ".local/share/icons/hicolor/symbolic/apps";
    for (const char* name : {"loomwatch-symbolic", "loomwatch-waiting-symbolic"})
        writeFile(icons / (std::string(name) + ".svg"),
                  readFile(std::string(LOOMWATCH_SOURCE_DIR "/resources/icons/symbolic/") + name + ".svg"));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths(QStringList(searchPaths) << QString::fromStdString(home / ".local/share/icons"));
    ui::SystemTrayHost tray;
    ASSERT_TRUE(tray.isAvailable());
    UiHarness h({.tray = &tray});
    h.provider(model::AgentTool::claude)
        .setSessions({sessionAt(h, model::AgentTool::claude, "w", 1, model::SessionState::waitingForInput)});
    h.load();
    tray.show();
    QStringList items;
    ASSERT_TRUE(processEventsUntil([&] {
        QDBusInterface host(watcherService, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
        items = host.property("RegisteredStatusNotifierItems").toStringList();
        return !items.isEmpty();
    }));
    // The panel draws a named icon in its own colours; the pixels are there for hosts that do not.
    EXPECT_EQ(itemProperty(items.front(), "IconName").toString(), "loomwatch-waiting-symbolic");
    EXPECT_TRUE(itemProperty(items.front(), "IconPixmap").isValid());

    callItem(items.front(), QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"), {1200, 10});
    ASSERT_TRUE(processEventsUntil([&] { return h.panel()->isVisible(); }));
    EXPECT_EQ(h.panel()->width(), 330);
    screenshot(h.panel(), "tray-panel-xcb");
    QIcon::setThemeSearchPaths(searchPaths);
}

TEST_F(Desktop, TrayIconsReadOnDarkAndLightPanels)
{
    for (const auto& [name, panel] :
         {std::pair{"dark", QColor(0x24, 0x24, 0x24)}, {"light", QColor(0xf2, 0xf2, 0xf2)}}) {
        QImage strip(4 * 32, 32, QImage::Format_RGB32);
        strip.fill(panel);
        QPainter painter(&strip);
        int x = 0;
        for (const char* symbol : {"circle.dotted", "bolt.circle.fill", "person.crop.circle.badge.exclamationmark",
                                   "exclamationmark.triangle.fill"})
            painter.drawPixmap(x++ * 32 + 5, 5, ui::trayIcon(symbol).pixmap(22, 22));
        painter.end();
        strip.scaled(strip.size() * 4).save(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR "/tray-icons-%1.png").arg(name));
        // Every icon has strokes far from the panel's own brightness.
        for (int icon = 0; icon < 4; ++icon) {
            int contrast = 0;
            for (int y = 0; y < 32; ++y)
                for (int px = icon * 32; px < icon * 32 + 32; ++px)
                    contrast = std::max(contrast, std::abs(qGray(strip.pixel(px, y)) - qGray(panel.rgb())));
            EXPECT_GT(contrast, 150) << name << " panel, icon " << icon;
        }
    }
}

TEST_F(Desktop, OneLoomwatchPerSessionAndASecondLaunchShowsItsDashboard)
{
    // Past onboarding, starting in the tray: nothing shows until the second launch asks for it.
    writeFile(home / ".config/Loomwatch/Loomwatch.conf",
              "[General]\ndidCompleteOnboarding=true\nopenDashboardAtLaunch=false\n");
    const auto owner = [] {
        return QDBusConnection::sessionBus().interface()->servicePid("io.github.loomwatch.Loomwatch").value();
    };
    const auto launch = [](QProcess& process) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(LOOMWATCH_PROGRAM), {});
        return process.waitForStarted();
    };
    QProcess first;
    ASSERT_TRUE(launch(first));
    ASSERT_TRUE(processEventsUntil([&] { return owner() == first.processId(); }, 10000));
    EXPECT_LT(shownShare(), 0.05);
    QProcess second;
    ASSERT_TRUE(launch(second));
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(processEventsUntil([] { return shownShare() > 0.5; }, 10000)) << "the dashboard shows";
    QGuiApplication::primaryScreen()->grabWindow(0).save(LOOMWATCH_ARTIFACTS_DIR "/second-launch.png");
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();

    // Two at once: the one that gets the name stays, the other hands over while it is still starting.
    QProcess a, b;
    ASSERT_TRUE(launch(a) && launch(b));
    ASSERT_TRUE(processEventsUntil(
        [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; }, 15000));
    QProcess& left = a.state() == QProcess::NotRunning ? a : b;
    QProcess& stays = &left == &a ? b : a;
    EXPECT_EQ(left.exitCode(), 0);
    EXPECT_EQ(owner(), stays.processId());
    stays.kill();
    stays.waitForFinished();

    // A holder of the name that never answers: the launch gives up after its timeout, says who, runs no second one.
    QProcess holder;
    holder.start(QStringLiteral(LOOMWATCH_FAKE_WATCHER), {"--hold", "io.github.loomwatch.Loomwatch"});
    ASSERT_TRUE(processEventsUntil([&] { return owner() == holder.processId(); }));
    QProcess third;
    third.setProcessChannelMode(QProcess::SeparateChannels);
    third.start(QStringLiteral(LOOMWATCH_PROGRAM), {});
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 1);
    EXPECT_TRUE(third.readAllStandardError().contains("process " + QByteArray::number(holder.processId())));
    holder.kill();
    holder.waitForFinished();
}

} // namespace
} // namespace loomwatch::testing
