// The tray and the installed program on a real X server with a tray host on a private session bus.
// Runs as ui_tray_xvfb_test, under xvfb-run + dbus-run-session; skips anywhere else.
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

// Calls our own tray item without blocking (it answers from this very thread); the first argument of the reply.
QVariant callItem(const QString& item, const QString& interface, const QString& method, const QVariantList& arguments)
{
    const QString service = item.section(QLatin1Char('/'), 0, 0);
    const QString path = item.mid(service.size());
    QDBusMessage message = QDBusMessage::createMethodCall(
        service, path.isEmpty() ? QStringLiteral("/StatusNotifierItem") : path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message);
    processEventsUntil([&] { return call.isFinished(); });
    const QVariant first = call.reply().arguments().value(0);
    return first.canConvert<QDBusVariant>() ? first.value<QDBusVariant>().variant() : first;
}

// Share of the screen that is not black, as Xvfb's bare root window is.
double shownShare()
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage().scaled(128, 80);
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += qGray(image.pixel(x, y)) > 16;
    return lit / double(image.width() * image.height());
}

class Desktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Only inside the private X server and bus of ui_tray_xvfb_test, never on the developer's desktop.
        if (qEnvironmentVariableIsEmpty("LOOMWATCH_PRIVATE_DISPLAY"))
            GTEST_SKIP() << "runs as ui_tray_xvfb_test";
        uiApplication();
        if (!watcher) {
            watcher = new QProcess;
            watcher->start(QStringLiteral(LOOMWATCH_FAKE_WATCHER), {});
        }
        ASSERT_TRUE(processEventsUntil([] { return ownerPid("org.kde.StatusNotifierWatcher") != 0; }));
    }
    static void TearDownTestSuite() { delete watcher; }
    static uint ownerPid(const QString& name)
    {
        return QDBusConnection::sessionBus().interface()->servicePid(name).value();
    }

    static inline QProcess* watcher = nullptr;
    TempHome home;
};

TEST_F(Desktop, TrayItemNamesTheThemesSymbolicIconAndActivationOpensThePanel)
{
    // The waiting icon as the package installs it.
    const std::string icon = "/icons/hicolor/symbolic/apps/loomwatch-waiting-symbolic.svg";
    writeFile(home / (".local/share" + icon), readFile(LOOMWATCH_SOURCE_DIR "/resources" + icon.substr(22)));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths(QStringList(searchPaths) << QString::fromStdString(home / ".local/share/icons"));
    ui::SystemTrayHost tray;
    ASSERT_TRUE(tray.isAvailable());
    UiHarness h({.tray = &tray});
    h.provider(model::AgentTool::claude)
        .setSessions({sessionAt(h, model::AgentTool::claude, "w", 1, model::SessionState::waitingForInput)});
    h.load();
    tray.show();
    QString item;
    ASSERT_TRUE(processEventsUntil([&] {
        QDBusInterface host("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
        item = host.property("RegisteredStatusNotifierItems").toStringList().value(0);
        return !item.isEmpty();
    }));
    // The panel draws a named icon in its own colours; the pixels serve hosts that do not.
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
    EXPECT_EQ(callItem(item, properties, "Get", {sni, "IconName"}).toString(), "loomwatch-waiting-symbolic");
    EXPECT_TRUE(callItem(item, properties, "Get", {sni, "IconPixmap"}).isValid());
    callItem(item, sni, QStringLiteral("Activate"), {1200, 10});
    ASSERT_TRUE(processEventsUntil([&] { return h.panel()->isVisible(); }));
    screenshot(h.panel(), "tray-panel-xcb");
    QIcon::setThemeSearchPaths(searchPaths);
}

TEST_F(Desktop, TrayIconsReadOnDarkAndLightPanels)
{
    const char* symbols[] = {"circle.dotted", "bolt.circle.fill", "person.crop.circle.badge.exclamationmark",
                             "exclamationmark.triangle.fill"};
    for (const auto& [name, panel] :
         {std::pair{"dark", QColor(0x24, 0x24, 0x24)}, {"light", QColor(0xf2, 0xf2, 0xf2)}}) {
        QImage strip(4 * 32, 32, QImage::Format_RGB32);
        strip.fill(panel);
        QPainter painter(&strip);
        for (int i = 0; i < 4; ++i) {
            painter.drawPixmap(32 * i + 5, 5, ui::trayIcon(symbols[i]).pixmap(22, 22));
            int contrast = 0; // some strokes stand far from the panel's own brightness
            for (int p = 0; p < 22 * 22; ++p)
                contrast = std::max(contrast,
                                    std::abs(qGray(strip.pixel(32 * i + 5 + p % 22, 5 + p / 22)) - qGray(panel.rgb())));
            EXPECT_GT(contrast, 150) << name << " panel, " << symbols[i];
        }
        strip.scaled(strip.size() * 4).save(QStringLiteral(LOOMWATCH_ARTIFACTS_DIR "/tray-icons-%1.png").arg(name));
    }
}

TEST_F(Desktop, OneLoomwatchPerSessionAndASecondLaunchShowsItsDashboard)
{
    // Past onboarding and starting in the tray: nothing shows until the second launch asks for it.
    writeFile(home / ".config/Loomwatch/Loomwatch.conf",
              "[General]\ndidCompleteOnboarding=true\nopenDashboardAtLaunch=false\n");
    const QString name = QStringLiteral("io.github.loomwatch.Loomwatch");
    QProcess first, second, a, b, holder, third;
    for (QProcess* process : {&first, &second, &a, &b, &third})
        process->setProgram(QStringLiteral(LOOMWATCH_PROGRAM));
    first.start();
    ASSERT_TRUE(processEventsUntil([&] { return ownerPid(name) == first.processId(); }, 10000));
    EXPECT_LT(shownShare(), 0.05);
    second.start();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(processEventsUntil([] { return shownShare() > 0.5; }, 10000)) << "the dashboard shows";
    QGuiApplication::primaryScreen()->grabWindow(0).save(LOOMWATCH_ARTIFACTS_DIR "/second-launch.png");
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();

    // Two at once: the one that gets the name stays, the other hands over while it is still starting.
    a.start();
    b.start();
    ASSERT_TRUE(processEventsUntil(
        [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; }, 15000));
    QProcess& stays = a.state() == QProcess::NotRunning ? b : a;
    EXPECT_EQ((&stays == &a ? b : a).exitCode(), 0);
    EXPECT_EQ(ownerPid(name), stays.processId());
    stays.kill();
    stays.waitForFinished();

    // A holder of the name that never answers: the launch gives up, says who, and starts no second Loomwatch.
    holder.start(QStringLiteral(LOOMWATCH_FAKE_WATCHER), {"--hold", name});
    ASSERT_TRUE(processEventsUntil([&] { return ownerPid(name) == holder.processId(); }));
    third.start();
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 1);
    EXPECT_TRUE(third.readAllStandardError().contains("process " + QByteArray::number(holder.processId())));
    holder.kill();
    holder.waitForFinished();
}

} // namespace
} // namespace loomwatch::testing
