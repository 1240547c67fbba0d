#include "uiharness.h"

#include "core/fakenotifier.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <sodium.h>

#include <gtest/gtest.h>

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

// Opens the settings window on `tab` and returns the named control once it shows.
QQuickItem* setting(UiHarness& h, int tab, const char* name)
{
    h.controller->openSettings();
    h.settingsWindow()->setProperty("currentTab", tab);
    QQuickItem* found = nullptr;
    if (!processEventsUntil(
            [&] { return (found = qobject_cast<QQuickItem*>(find(h.settingsWindow(), name))) && found->isVisible(); }))
        throw std::runtime_error(std::string("no ") + name);
    return found;
}

TEST(Costs, PerToolLinesAddUpToTodayAndTheWeekHasSevenBars)
{
    UiHarness h;
    auto claude = sessionAt(h, AgentTool::claude, "today", 30);
    auto codex = sessionAt(h, AgentTool::codex, "today", 40);
    claude.tokens = {1000000, 0, 0, 0};
    codex.tokens = {2000000, 0, 0, 0};
    codex.model = "gpt-5-codex";
    h.provider(AgentTool::claude).setSessions({claude});
    h.provider(AgentTool::codex).setSessions({codex});
    h.load();
    h.showSection("costs");
    QStringList lines;
    ASSERT_TRUE(processEventsUntil([&] {
        lines.clear();
        for (QQuickItem* line : itemsStartingWith(h.dashboard(), "costs."))
            lines << line->objectName() + " " + line->property("amount").toString() + text(line);
        return lines.size() == 5;
    }));
    // The total first, then the tools in case order (which sessions count is the store's own test).
    EXPECT_EQ(lines, (QStringList{"costs.today-total $5.50", "costs.claude $3.00", "costs.codex $2.50",
                                  "costs.openCode $0.00", "costs.cursor $0.00"}));
    // The week's bars come once the view shows; what they say is the chart's own test.
    EXPECT_TRUE(processEventsUntil([&] { return itemsStartingWith(h.dashboard(), "costChart.day.").size() == 7; }));
    screenshot(h.dashboard(), "dashboard-costs");
}

TEST(Settings, FreshInstallShowsDefaultsWritesNothingThenTakesChangesOrSaysWhyNot)
{
    UiHarness h;
    h.load();
    QStringList checked;
    for (const char* name : {"settings.showDockIcon", "settings.openDashboardAtLaunch", "settings.launchAtLogin",
                             "settings.playNotificationSounds"})
        checked << (setting(h, 0, name)->property("checked").toBool() ? "on" : "off");
    EXPECT_EQ(checked.join(' '), "on on off on");
    screenshot(h.settingsWindow(), "settings-general");
    EXPECT_EQ(text(setting(h, 1, "settings.budget")), "25");
    screenshot(h.settingsWindow(), "settings-tools");
    h.settings->sync();
    for (const QString& key : {core::Settings::showDockIconKey, core::Settings::openDashboardAtLaunchKey,
                               core::Settings::playNotificationSoundsKey, core::Settings::dailyBudgetThresholdKey})
        EXPECT_FALSE(h.settings->contains(key)) << key.toStdString();

    // Without a taskbar entry the windows are tool windows, until the dashboard is opened again.
    click(setting(h, 0, "settings.showDockIcon"));
    EXPECT_FALSE(h.settings->showDockIcon());
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Tool);
    h.controller->openDashboard();
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Window);

    // The shipped signing key is a placeholder: every update control is off, and says why.
    EXPECT_FALSE(h.tray.updateCheckEnabled);
    EXPECT_FALSE(h.find("menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_FALSE(setting(h, 2, "settings.automaticChecks")->isEnabled() ||
                 setting(h, 2, "settings.checkNow")->isEnabled());
    EXPECT_EQ(text(setting(h, 2, "settings.updatesNotice")),
              "Update checks are turned off until a release signing key is configured.");
    screenshot(h.settingsWindow(), "settings-updates");

    // The Tools tab shows the files as saved, and no old message, whenever it shows.
    QQuickItem* editor = setting(h, 1, "settings.template.editor");
    const QString saved = text(editor);
    h.preferences->save();
    EXPECT_EQ(h.preferences->resourceMessage(), "Saved locally.");
    editor->setProperty("text", "typed, never saved");
    h.settingsWindow()->close();
    ASSERT_TRUE(processEventsUntil([&] { return !h.settingsWindow()->isVisible(); }));
    EXPECT_EQ(text(setting(h, 1, "settings.template.editor")), saved);
    EXPECT_FALSE(visible(find(h.settingsWindow(), "settings.resourceMessage")));
    editor->setProperty("text", "typed again");
    setting(h, 0, "settings.general");
    EXPECT_EQ(text(setting(h, 1, "settings.template.editor")), saved);

    // The login toggle writes and removes the autostart entry, or says why it cannot.
    QQuickItem* toggle = setting(h, 0, "settings.launchAtLogin");
    const QString folder = QString::fromStdString(h.autostartFolder());
    const QString entry = folder + "/loomwatch.desktop";
    click(toggle);
    EXPECT_TRUE(QFile::exists(entry));
    click(toggle);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(h.preferences->launchAtLogin());

    // A plain file where the folder should be: no user, root included, can create the entry. The
    // message waits for the Tools tab.
    QDir(folder).removeRecursively();
    writeFile(h.autostartFolder(), "");
    click(toggle);
    EXPECT_TRUE(toggle->property("checked").toBool());
    EXPECT_TRUE(visible(setting(h, 1, "settings.resourceMessage")));
}

// Answers on 127.0.0.1 with the canned response of the asked path; a path without one never gets an answer.
class LoopbackServer : public QTcpServer
{
public:
    LoopbackServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->peek(socket->bytesAvailable());
                    const QByteArray path = request.split(' ').value(1);
                    if (request.contains("\r\n\r\n") && answers.contains(path)) {
                        socket->write(answers[path]);
                        socket->disconnectFromHost();
                    }
                });
        });
    }
    QString url(const QByteArray& path) const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()) + path; }
    void serve(const QByteArray& path, const QByteArray& body, const QByteArray& head = "200 OK\r\n")
    {
        answers[path] = "HTTP/1.1 " + head + "Content-Length: " + QByteArray::number(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body;
    }

    std::map<QByteArray, QByteArray> answers;
};

TEST(Updates, ChecksTheSignedFeedAndSaysWhatItFoundInOneLine)
{
    unsigned char key[crypto_sign_PUBLICKEYBYTES], secret[crypto_sign_SECRETKEYBYTES];
    unsigned char otherKey[crypto_sign_PUBLICKEYBYTES], otherSecret[crypto_sign_SECRETKEYBYTES];
    ASSERT_GE(sodium_init(), 0);
    crypto_sign_keypair(key, secret);
    crypto_sign_keypair(otherKey, otherSecret);
    const auto sign = [](const QByteArray& bytes, const unsigned char* by) {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<unsigned long long>(bytes.size()), by);
        return QByteArray(reinterpret_cast<const char*>(signature), crypto_sign_BYTES).toBase64();
    };
    const auto feed = [](const char* version) {
        return QByteArray(R"({"version": ")") + version +
               R"(", "date": "2026-12-01", "releaseNotesURL": "https://example.org/notes", )"
               R"("downloadPageURL": "https://example.org/download"})";
    };
    LoopbackServer server;
    auto notifier = std::make_shared<FakeNotifier>();
    const QJsonObject info{{"SUPublicEDKey", QString(QByteArray(reinterpret_cast<const char*>(key), 32).toBase64())},
                           {"SUFeedURL", server.url("/feed.json")}};
    UiHarness h({.applicationInfo = info, .notifier = notifier, .updateTimeoutMs = 400});
    h.load();
    EXPECT_TRUE(h.tray.updateCheckEnabled);

    const QByteArray newer = feed("9.1.0");
    const QByteArray huge = feed("9.2.0") + QByteArray(70 * 1024, ' ');
    const QString mismatch =
        QString::fromUtf8("The update information\u2019s signature does not match the release signing key.");
    struct Case // a null feed gets no answer, an empty one a redirect; a null signature is not found
    {
        const char* name;
        QByteArray feed, signature;
        QString expected;
    };
    for (const Case& c : std::vector<Case>{
             {"newer", newer, sign(newer, secret), "Loomwatch 9.1.0 is available."},
             {"another key", newer, sign(newer, otherSecret), mismatch},
             {"bad signature", newer, sign(newer + " ", secret), mismatch},
             {"no signature", newer, {}, "The update information has no signature."},
             {"malformed", "{\"version\": ", sign("{\"version\": ", secret),
              "The update information is not a valid release feed."},
             {"not a version", feed("9.x"), sign(feed("9.x"), secret),
              QString::fromUtf8("The update information names no valid version (\u201C9.x\u201D).")},
             {"too large", huge, sign(huge, secret), "The update information is larger than 64 KiB."},
             {"time-out", {}, "", "The update check timed out."},
             {"redirect to http", "", "", "The update server redirected to an address that is not https."},
             {"same", feed("0.1.0"), sign(feed("0.1.0"), secret), "Loomwatch is up to date."}}) {
        server.answers.clear();
        if (!c.feed.isNull())
            server.serve("/feed.json", c.feed,
                         c.feed.isEmpty() ? "302 Found\r\nLocation: " + server.url("/x").toUtf8() + "\r\n"
                                          : "200 OK\r\n");
        server.serve("/feed.json.sig", c.signature, c.signature.isNull() ? "404 Not Found\r\n" : "200 OK\r\n");
        click(setting(h, 2, "settings.checkNow"));
        ASSERT_TRUE(processEventsUntil([&] { return !h.updater->isChecking(); }, 3000)) << c.name;
        EXPECT_EQ(text(setting(h, 2, "settings.updateStatus")), c.expected) << c.name;
        // A failure changes nothing but the line: the newer version's link stays until a check finds none.
        EXPECT_EQ(visible(find(h.settingsWindow(), "settings.downloadLink")), c.expected != "Loomwatch is up to date.")
            << c.name;
        if (c.name == std::string("newer"))
            screenshot(h.settingsWindow(), "settings-updates-newer");
    }
    EXPECT_TRUE(notifier->posted.empty()) << "checks asked for by the user notify nobody";

    // An automatic check is quiet, notifies of a newer version only, and runs at most once a day (the checks above
    // count).
    QSettings(h.settings->fileName(), QSettings::IniFormat).remove("SULastCheckTime");
    server.serve("/feed.json", newer);
    server.serve("/feed.json.sig", sign(newer, secret));
    for (int launch = 0; launch < 2; ++launch) {
        ui::Updater updater({info, h.settings->fileName(), "0.1.0", notifier, 400});
        updater.startAutomaticChecks();
        processEventsUntil([&] { return !updater.isChecking(); });
    }
    ASSERT_EQ(notifier->posted.size(), 1u);
    EXPECT_EQ(notifier->posted[0].body,
              "Loomwatch 9.1.0 is available. Its download page is linked under Settings, Updates.");
}

} // namespace
} // namespace loomwatch::testing
