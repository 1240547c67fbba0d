#include "uiharness.h"

#include <QFile>
#include <QQmlEngineExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

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
    if (!processEventsUntil([&] {
            found = UiHarness::item(h.settingsWindow(), QString::fromLatin1(name));
            return found && found->isVisible();
        }))
        throw std::runtime_error(std::string("no ") + name);
    return found;
}

bool checked(QQuickItem* toggle)
{
    return toggle->property("checked").toBool();
}

TEST(Costs, PerToolLinesAddUpToTodayAndFollowSavedPrices)
{
    UiHarness h;
    auto claude = sessionAt(h, AgentTool::claude, "today", 30);
    claude.tokens = {1000000, 0, 0, 0};
    auto codex = sessionAt(h, AgentTool::codex, "today", 40);
    codex.model = "gpt-5-codex";
    codex.tokens = {2000000, 0, 0, 0};
    // Yesterday at 23:59 local time: not today's spend.
    auto yesterday = makeSession(AgentTool::codex, "yesterday", localTime(2026, 12, 5, 23, 59), SessionState::ended);
    yesterday.model = "gpt-5-codex";
    yesterday.tokens = {1000000, 0, 0, 0};
    auto unpriced = sessionAt(h, AgentTool::openCode, "mystery", 10);
    unpriced.model = "mystery-model-9";
    h.provider(AgentTool::claude).setSessions({claude});
    h.provider(AgentTool::codex).setSessions({codex, yesterday});
    h.provider(AgentTool::openCode).setSessions({unpriced});
    h.load();
    h.showSection("costs");
    const auto total = [&] {
        return UiHarness::text(UiHarness::find(h.dashboard(), "costs.today-total"));
    };
    QStringList lines;
    ASSERT_TRUE(processEventsUntil([&] {
        lines.clear();
        for (QQuickItem* line : UiHarness::itemsStartingWith(h.dashboard(), "costs."))
            if (line->objectName() != "costs.today-total")
                lines << line->objectName() + " " + line->property("amount").toString();
        return lines.size() == 4;
    }));
    // Yesterday's $1.25 is left out.
    EXPECT_EQ(lines,
              (QStringList{"costs.claude $3.00", "costs.codex $2.50", "costs.openCode $0.00", "costs.cursor $0.00"}));
    EXPECT_EQ(total(), "$5.50");
    UiHarness::screenshot(h.dashboard(), "dashboard-costs");

    // Saving prices re-prices at once, without asking the providers again.
    const int callsBefore = h.provider(AgentTool::claude).sessionCalls();
    QString pricing = QString::fromStdString(pricingJson());
    pricing.replace("\"inputPerMillion\": 3,", "\"inputPerMillion\": 6,");
    h.preferences->loadEditors();
    h.preferences->setPricingJSON(pricing);
    h.preferences->save();
    EXPECT_EQ(h.preferences->resourceMessage(), "Saved locally.");
    EXPECT_EQ(total(), "$8.50");
    EXPECT_EQ(h.provider(AgentTool::claude).sessionCalls(), callsBefore);

    // Pricing that does not decode changes neither file nor the costs.
    const auto folder = h.home / ".local/share/Loomwatch";
    const std::string pricingBefore = readFile(folder / "ModelPricing.json");
    const std::string templateBefore = readFile(folder / "HandoffTemplate.md");
    QString stringPrice = pricing;
    stringPrice.replace("\"inputPerMillion\": 6,", "\"inputPerMillion\": \"6\",");
    QString noNotice = pricing;
    noNotice.replace("\"notice\"", "\"note\"");
    for (const QString& bad : {QStringLiteral("{ not json"), noNotice, stringPrice}) {
        h.preferences->setPricingJSON(bad);
        h.preferences->setHandoffTemplate("changed template");
        h.preferences->save();
        EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: ")) << bad.toStdString();
        EXPECT_EQ(readFile(folder / "ModelPricing.json"), pricingBefore);
        EXPECT_EQ(readFile(folder / "HandoffTemplate.md"), templateBefore);
        EXPECT_EQ(total(), "$8.50");
    }

    // A reset restores the shipped files and editors and says nothing.
    h.preferences->resetDefaults();
    QFile shipped(":/loomwatch/defaults/HandoffTemplate.md");
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(h.preferences->handoffTemplate(), QString::fromUtf8(shipped.readAll()));
    EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: ")) << "a reset sets no message";
}

TEST(Settings, FreshInstallShowsDefaultsAndWritesNothing)
{
    UiHarness h;
    h.load();
    for (const char* name :
         {"settings.showDockIcon", "settings.openDashboardAtLaunch", "settings.playNotificationSounds"})
        EXPECT_TRUE(checked(setting(h, 0, name))) << name;
    EXPECT_FALSE(checked(setting(h, 0, "settings.launchAtLogin")));
    UiHarness::screenshot(h.settingsWindow(), "settings-general");
    EXPECT_EQ(UiHarness::text(setting(h, 1, "settings.budget")), "25");
    EXPECT_FALSE(UiHarness::text(setting(h, 1, "settings.pricing.editor")).isEmpty());
    UiHarness::screenshot(h.settingsWindow(), "settings-tools");

    h.settings->sync();
    for (const QString& key : {core::Settings::showDockIconKey, core::Settings::openDashboardAtLaunchKey,
                               core::Settings::playNotificationSoundsKey, core::Settings::dailyBudgetThresholdKey})
        EXPECT_FALSE(h.settings->contains(key)) << key.toStdString();

    for (const char* bad : {"twenty", "-5", "inf"})
        EXPECT_FALSE(h.preferences->setDailyBudgetText(bad)) << bad;
    EXPECT_FALSE(h.settings->contains(core::Settings::dailyBudgetThresholdKey));
    EXPECT_TRUE(h.preferences->setDailyBudgetText("1,250.5"));
    EXPECT_EQ(h.settings->dailyBudgetThreshold(), 1250.5);
    EXPECT_EQ(h.preferences->dailyBudgetText(), "1,250.5");
}

TEST(Settings, LoginToggleWritesAndRemovesTheAutostartEntry)
{
    UiHarness h;
    h.load();
    QQuickItem* toggle = setting(h, 0, "settings.launchAtLogin");
    QFile file(QString::fromStdString(h.autostartFolder() + "/loomwatch.desktop"));
    UiHarness::click(toggle);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=\"/usr/bin/loomwatch\""));
    file.close();
    EXPECT_TRUE(h.preferences->launchAtLogin());
    UiHarness::click(toggle);
    EXPECT_FALSE(file.exists());
    EXPECT_FALSE(h.preferences->launchAtLogin());
    EXPECT_TRUE(h.preferences->resourceMessage().isEmpty());

    // An entry switched off by hand counts as off.
    ui::AutostartEntry(QString::fromStdString(h.autostartFolder()), "/usr/bin/loomwatch").setEnabled(true);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_FALSE(ui::AutostartEntry(QString::fromStdString(h.autostartFolder()), "x").isEnabled());
}

TEST(Settings, UnwritableAutostartFolderReportsAndKeepsTheToggle)
{
    UiHarness h;
    h.load();
    // A plain file where the folder should be: no user, root included, can create the entry.
    writeFile(h.autostartFolder(), "");
    QQuickItem* toggle = setting(h, 0, "settings.launchAtLogin");
    UiHarness::click(toggle);
    EXPECT_TRUE(checked(toggle));
    EXPECT_FALSE(h.preferences->resourceMessage().isEmpty());
    EXPECT_EQ(UiHarness::text(setting(h, 1, "settings.resourceMessage")), h.preferences->resourceMessage());
}

TEST(Settings, DockIconToggleMakesTheWindowsToolWindows)
{
    UiHarness h;
    h.load();
    UiHarness::click(setting(h, 0, "settings.showDockIcon"));
    EXPECT_FALSE(h.settings->showDockIcon());
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Tool);
    // Opening the dashboard from the tray brings the taskbar entry back first.
    h.controller->openDashboard();
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Window);
}

TEST(Settings, UpdatesFollowTheSigningKey)
{
    UiHarness h;
    h.load();
    EXPECT_FALSE(UiHarness::find(h.dashboard(), "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_FALSE(h.tray.updateCheckEnabled);
    EXPECT_FALSE(setting(h, 2, "settings.automaticChecks")->isEnabled());
    EXPECT_FALSE(setting(h, 2, "settings.checkNow")->isEnabled());
    EXPECT_EQ(UiHarness::text(setting(h, 2, "settings.updatesNotice")),
              "Update signing is intentionally disabled until the production Sparkle public key is configured.");
    UiHarness::screenshot(h.settingsWindow(), "settings-updates");

    UiHarness::Options options;
    options.applicationInfo = QJsonObject{{"SUPublicEDKey", "pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ="}};
    UiHarness released(options);
    released.load();
    EXPECT_TRUE(UiHarness::find(released.dashboard(), "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_TRUE(released.tray.updateCheckEnabled);
    EXPECT_TRUE(setting(released, 2, "settings.checkNow")->isEnabled());
    EXPECT_EQ(
        UiHarness::text(setting(released, 2, "settings.updatesNotice")),
        QString::fromUtf8("Updates are verified with Sparkle signatures and the app\u2019s Developer ID signature."));
    // The automatic-check choice is on until changed.
    EXPECT_TRUE(released.updater->automaticallyChecksForUpdates());
    UiHarness::click(setting(released, 2, "settings.automaticChecks"));
    EXPECT_FALSE(released.updater->automaticallyChecksForUpdates());
}

TEST(Diagnostics, NotYetBeforeTheFirstRefreshThenProbesInStoreOrder)
{
    UiHarness h;
    h.provider(AgentTool::claude).closeGate();
    h.load(true, false);
    h.showSection("diagnostics");
    const auto value = [&](const char* row) {
        return UiHarness::text(UiHarness::find(UiHarness::find(h.dashboard(), row), "value"));
    };
    ASSERT_TRUE(processEventsUntil([&] { return value("diagnostics.lastCompleted") == "Not yet"; }));
    EXPECT_EQ(value("diagnostics.sessionCount"), "0");
    EXPECT_TRUE(UiHarness::itemsStartingWith(h.dashboard(), "diagnostics.probe.").isEmpty());

    h.provider(AgentTool::claude).setSessions({sessionAt(h, AgentTool::claude, "a", 1)});
    h.provider(AgentTool::claude).openGate();
    ASSERT_TRUE(h.refreshed());
    const QString completed = value("diagnostics.lastCompleted");
    EXPECT_TRUE(completed.contains("Dec") && completed.contains("2026")) << completed.toStdString();
    EXPECT_EQ(value("diagnostics.sessionCount"), "1");
    QStringList order;
    ASSERT_TRUE(processEventsUntil([&] {
        order.clear();
        for (QQuickItem* row : UiHarness::itemsStartingWith(h.dashboard(), "diagnostics.probe."))
            order << row->objectName();
        return order.size() == 4;
    }));
    EXPECT_EQ(order, (QStringList{"diagnostics.probe.claude", "diagnostics.probe.codex", "diagnostics.probe.cursor",
                                  "diagnostics.probe.openCode"}));
    UiHarness::screenshot(h.dashboard(), "dashboard-diagnostics");
}

} // namespace
} // namespace loomwatch::testing
