#include "uiharness.h"

#include <QFile>
#include <QQmlEngineExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

// A harness past onboarding with its windows loaded.
struct Loaded : UiHarness
{
    explicit Loaded(Options options = {}) : UiHarness(std::move(options))
    {
        settings->setDidCompleteOnboarding(true);
        load();
    }
    QQuickItem* setting(const char* name) { return item(settingsWindow(), QString::fromLatin1(name)); }
    void openSettings(int tab)
    {
        controller->openSettings();
        settle(100);
        settingsWindow()->setProperty("currentTab", tab);
        settle(150);
    }
};

TEST(Costs, PerToolLinesInCaseOrderAddUpToTodaysTotal)
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
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    h.dashboard()->setProperty("section", QStringLiteral("costs"));
    UiHarness::settle(150);

    QStringList order;
    QStringList amounts;
    for (QQuickItem* line : UiHarness::itemsStartingWith(h.dashboard(), "costs.")) {
        if (line->objectName() != "costs.today-total") {
            order << line->objectName();
            amounts << line->property("amount").toString();
        }
    }
    EXPECT_EQ(order, (QStringList{"costs.claude", "costs.codex", "costs.openCode", "costs.cursor"}));
    EXPECT_EQ(amounts, (QStringList{"$3.00", "$2.50", "$0.00", "$0.00"})); // yesterday's $1.25 is left out
    EXPECT_EQ(UiHarness::text(UiHarness::item(h.dashboard(), "costs.today-total")), "$5.50");
    UiHarness::screenshot(h.dashboard(), "dashboard-costs");

    // Saving prices re-prices at once, without asking the providers again.
    const auto total = [&] {
        return UiHarness::text(UiHarness::item(h.dashboard(), "costs.today-total"));
    };
    const int callsBefore = h.provider(AgentTool::claude).sessionCalls();
    QString pricing = QString::fromStdString(pricingJson());
    pricing.replace("\"inputPerMillion\": 3,", "\"inputPerMillion\": 6,");
    h.preferences->loadEditors();
    h.preferences->setPricingJSON(pricing);
    h.preferences->save();
    UiHarness::settle(100);
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
        EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: "))
            << h.preferences->resourceMessage().toStdString();
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
    Loaded h;
    h.openSettings(0);
    for (const char* name :
         {"settings.showDockIcon", "settings.openDashboardAtLaunch", "settings.playNotificationSounds"})
        EXPECT_TRUE(h.setting(name)->property("checked").toBool()) << name;
    EXPECT_FALSE(h.setting("settings.launchAtLogin")->property("checked").toBool());
    UiHarness::screenshot(h.settingsWindow(), "settings-general");

    h.openSettings(1);
    EXPECT_EQ(UiHarness::text(h.setting("settings.budget")), "25");
    EXPECT_FALSE(UiHarness::text(h.setting("settings.pricing.editor")).isEmpty());
    UiHarness::screenshot(h.settingsWindow(), "settings-tools");

    h.settings->sync();
    for (const QString& key : {core::Settings::showDockIconKey, core::Settings::openDashboardAtLaunchKey,
                               core::Settings::playNotificationSoundsKey, core::Settings::dailyBudgetThresholdKey})
        EXPECT_FALSE(h.settings->contains(key)) << key.toStdString();
}

TEST(Settings, BudgetFieldTakesLocaleNumbersOnly)
{
    UiHarness h;
    for (const char* bad : {"twenty", "-5", "inf"})
        EXPECT_FALSE(h.preferences->setDailyBudgetText(bad)) << bad;
    EXPECT_FALSE(h.settings->contains(core::Settings::dailyBudgetThresholdKey));
    EXPECT_TRUE(h.preferences->setDailyBudgetText("1,250.5"));
    EXPECT_EQ(h.settings->dailyBudgetThreshold(), 1250.5);
    EXPECT_EQ(h.preferences->dailyBudgetText(), "1,250.5");
}

TEST(Settings, LoginToggleWritesAndRemovesTheAutostartEntry)
{
    Loaded h;
    h.openSettings(0);
    const QString entry = QString::fromStdString(h.autostartFolder() + "/loomwatch.desktop");
    UiHarness::click(h.setting("settings.launchAtLogin"));
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=\"/usr/bin/loomwatch\""));
    file.close();
    EXPECT_TRUE(h.preferences->launchAtLogin());

    UiHarness::click(h.setting("settings.launchAtLogin"));
    EXPECT_FALSE(QFile::exists(entry));
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
    Loaded h;
    // A plain file where the folder should be: no user, root included, can create the entry.
    writeFile(h.autostartFolder(), "");
    h.openSettings(0);
    UiHarness::click(h.setting("settings.launchAtLogin"));
    EXPECT_TRUE(h.setting("settings.launchAtLogin")->property("checked").toBool());
    EXPECT_FALSE(h.preferences->resourceMessage().isEmpty());
    h.openSettings(1);
    EXPECT_EQ(UiHarness::text(h.setting("settings.resourceMessage")), h.preferences->resourceMessage());
}

TEST(Settings, DockIconToggleMakesTheWindowsToolWindows)
{
    Loaded h;
    h.openSettings(0);
    UiHarness::click(h.setting("settings.showDockIcon"));
    EXPECT_FALSE(h.settings->showDockIcon());
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Tool);
    // Opening the dashboard from the tray brings the taskbar entry back first.
    h.controller->openDashboard();
    UiHarness::settle();
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Window);
}

TEST(Settings, UpdatesFollowTheSigningKey)
{
    Loaded h;
    EXPECT_FALSE(h.find(h.dashboard(), "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_FALSE(h.tray.updateCheckEnabled);
    h.openSettings(2);
    EXPECT_FALSE(h.setting("settings.automaticChecks")->isEnabled());
    EXPECT_FALSE(h.setting("settings.checkNow")->isEnabled());
    EXPECT_EQ(UiHarness::text(h.setting("settings.updatesNotice")),
              "Update signing is intentionally disabled until the production Sparkle public key is configured.");
    UiHarness::screenshot(h.settingsWindow(), "settings-updates");

    UiHarness::Options options;
    options.applicationInfo = QJsonObject{{"SUPublicEDKey", "pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ="}};
    Loaded released(options);
    EXPECT_TRUE(released.find(released.dashboard(), "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_TRUE(released.tray.updateCheckEnabled);
    released.openSettings(2);
    EXPECT_TRUE(released.setting("settings.automaticChecks")->isEnabled());
    EXPECT_TRUE(released.setting("settings.checkNow")->isEnabled());
    EXPECT_EQ(
        UiHarness::text(released.setting("settings.updatesNotice")),
        QString::fromUtf8("Updates are verified with Sparkle signatures and the app\u2019s Developer ID signature."));
    // The automatic-check choice is stored only once changed.
    EXPECT_TRUE(released.updater->automaticallyChecksForUpdates());
    UiHarness::click(released.setting("settings.automaticChecks"));
    EXPECT_FALSE(released.updater->automaticallyChecksForUpdates());
}

TEST(Diagnostics, NotYetBeforeTheFirstRefreshThenProbesInStoreOrder)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.provider(AgentTool::claude).closeGate();
    h.load(false);
    h.dashboard()->setProperty("section", QStringLiteral("diagnostics"));
    UiHarness::settle(150);
    const auto value = [&](const char* row) {
        return UiHarness::text(UiHarness::item(h.dashboard(), row)->findChild<QObject*>("value"));
    };
    EXPECT_EQ(value("diagnostics.lastCompleted"), "Not yet");
    EXPECT_EQ(value("diagnostics.sessionCount"), "0");
    EXPECT_TRUE(UiHarness::itemsStartingWith(h.dashboard(), "diagnostics.probe.").isEmpty());

    h.provider(AgentTool::claude).setSessions({sessionAt(h, AgentTool::claude, "a", 1)});
    h.provider(AgentTool::claude).openGate();
    ASSERT_TRUE(processEventsUntil([&] { return h.store->lastRefresh().has_value(); }));
    UiHarness::settle(150);
    const QString completed = value("diagnostics.lastCompleted");
    EXPECT_TRUE(completed.contains("Dec") && completed.contains("2026")) << completed.toStdString();
    EXPECT_EQ(value("diagnostics.sessionCount"), "1");
    QStringList order;
    for (QQuickItem* row : UiHarness::itemsStartingWith(h.dashboard(), "diagnostics.probe."))
        order << row->objectName();
    EXPECT_EQ(order, (QStringList{"diagnostics.probe.claude", "diagnostics.probe.codex", "diagnostics.probe.cursor",
                                  "diagnostics.probe.openCode"}));
    UiHarness::screenshot(h.dashboard(), "dashboard-diagnostics");
}

} // namespace
} // namespace loomwatch::testing
