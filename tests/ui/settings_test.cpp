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
    if (!processEventsUntil(
            [&] { return (found = qobject_cast<QQuickItem*>(find(h.settingsWindow(), name))) && found->isVisible(); }))
        throw std::runtime_error(std::string("no ") + name);
    return found;
}

TEST(Costs, PerToolLinesAddUpToTodayAndFollowSavedPrices)
{
    UiHarness h;
    auto claude = sessionAt(h, AgentTool::claude, "today", 30);
    auto codex = sessionAt(h, AgentTool::codex, "today", 40);
    // Yesterday at 23:59 local time: not today's spend.
    auto yesterday = makeSession(AgentTool::codex, "yesterday", localTime(2026, 12, 5, 23, 59), SessionState::ended);
    claude.tokens = codex.tokens = yesterday.tokens = {1000000, 0, 0, 0};
    codex.tokens.input = 2000000;
    codex.model = yesterday.model = "gpt-5-codex";
    auto unpriced = sessionAt(h, AgentTool::openCode, "mystery", 10);
    unpriced.model = "mystery-model-9";
    h.provider(AgentTool::claude).setSessions({claude});
    h.provider(AgentTool::codex).setSessions({codex, yesterday});
    h.provider(AgentTool::openCode).setSessions({unpriced});
    h.load();
    h.showSection("costs");
    QStringList lines;
    ASSERT_TRUE(processEventsUntil([&] {
        lines.clear();
        for (QQuickItem* line : itemsStartingWith(h.dashboard(), "costs."))
            lines << line->objectName() + " " + line->property("amount").toString() + text(line);
        return lines.size() == 5;
    }));
    // The total first, then the tools in case order; yesterday's $1.25 is left out.
    EXPECT_EQ(lines, (QStringList{"costs.today-total $5.50", "costs.claude $3.00", "costs.codex $2.50",
                                  "costs.openCode $0.00", "costs.cursor $0.00"}));
    screenshot(h.dashboard(), "dashboard-costs");

    // Saving prices re-prices at once, without asking the providers again.
    const auto total = [&] {
        return text(h.find("costs.today-total"));
    };
    const int calls = h.provider(AgentTool::claude).sessionCalls();
    QString pricing =
        QString::fromStdString(pricingJson()).replace("\"inputPerMillion\": 3,", "\"inputPerMillion\": 6,");
    h.preferences->loadEditors();
    h.preferences->setPricingJSON(pricing);
    h.preferences->save();
    EXPECT_EQ(h.preferences->resourceMessage(), "Saved locally.");
    EXPECT_EQ(total(), "$8.50");
    EXPECT_EQ(h.provider(AgentTool::claude).sessionCalls(), calls);

    // Pricing that does not decode changes neither file nor the costs (the kinds of bad pricing are
    // the resources' own tests); a reset restores the shipped editors and says nothing.
    const auto folder = h.home / ".local/share/Loomwatch";
    const std::string pricingBefore = readFile(folder / "ModelPricing.json");
    const std::string templateBefore = readFile(folder / "HandoffTemplate.md");
    h.preferences->setPricingJSON(QString(pricing).replace("\"notice\"", "\"note\""));
    h.preferences->setHandoffTemplate("changed template");
    h.preferences->save();
    EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: "));
    EXPECT_EQ(readFile(folder / "ModelPricing.json"), pricingBefore);
    EXPECT_EQ(readFile(folder / "HandoffTemplate.md"), templateBefore);
    EXPECT_EQ(total(), "$8.50");
    h.preferences->resetDefaults();
    EXPECT_EQ(h.preferences->handoffTemplate().toStdString(), readFile(folder / "HandoffTemplate.md"));
    EXPECT_NE(h.preferences->handoffTemplate(), "changed template");
    EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: ")) << "a reset sets no message";
}

TEST(Settings, FreshInstallShowsDefaultsWritesNothingThenTakesChanges)
{
    UiHarness h;
    h.load();
    QStringList checked;
    for (const char* name : {"settings.showDockIcon", "settings.openDashboardAtLaunch", "settings.launchAtLogin",
                             "settings.playNotificationSounds"})
        checked << (setting(h, 0, name)->property("checked").toBool() ? "on" : "off");
    EXPECT_EQ(checked, (QStringList{"on", "on", "off", "on"}));
    screenshot(h.settingsWindow(), "settings-general");
    EXPECT_EQ(text(setting(h, 1, "settings.budget")), "25");
    EXPECT_FALSE(text(setting(h, 1, "settings.pricing.editor")).isEmpty());
    screenshot(h.settingsWindow(), "settings-tools");
    h.settings->sync();
    for (const QString& key : {core::Settings::showDockIconKey, core::Settings::openDashboardAtLaunchKey,
                               core::Settings::playNotificationSoundsKey, core::Settings::dailyBudgetThresholdKey})
        EXPECT_FALSE(h.settings->contains(key)) << key.toStdString();

    for (const char* bad : {"twenty", "-5", "inf"})
        EXPECT_FALSE(h.preferences->setDailyBudgetText(bad)) << bad;
    EXPECT_FALSE(h.settings->contains(core::Settings::dailyBudgetThresholdKey));
    EXPECT_TRUE(h.preferences->setDailyBudgetText("1,250.5"));
    EXPECT_EQ(h.settings->dailyBudgetThreshold(), 1250.5);

    // Without a taskbar entry the windows are tool windows, until the dashboard is opened again.
    click(setting(h, 0, "settings.showDockIcon"));
    EXPECT_FALSE(h.settings->showDockIcon());
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Tool);
    h.controller->openDashboard();
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Window);
}

TEST(Settings, LoginToggleWritesAndRemovesTheAutostartEntryOrReportsWhyNot)
{
    UiHarness h;
    h.load();
    QQuickItem* toggle = setting(h, 0, "settings.launchAtLogin");
    const QString folder = QString::fromStdString(h.autostartFolder());
    QFile file(folder + "/loomwatch.desktop");
    click(toggle);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=\"/usr/bin/loomwatch\""));
    file.close();
    click(toggle);
    EXPECT_FALSE(file.exists());
    EXPECT_FALSE(h.preferences->launchAtLogin());
    EXPECT_TRUE(h.preferences->resourceMessage().isEmpty());

    // An entry switched off by hand counts as off.
    ui::AutostartEntry(folder, "/usr/bin/loomwatch").setEnabled(true);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_FALSE(ui::AutostartEntry(folder, "x").isEnabled());

    // A plain file where the folder should be: no user, root included, can create the entry.
    QDir(folder).removeRecursively();
    writeFile(h.autostartFolder(), "");
    click(toggle);
    EXPECT_TRUE(toggle->property("checked").toBool());
    EXPECT_FALSE(h.preferences->resourceMessage().isEmpty());
}

TEST(Settings, UpdatesFollowTheSigningKey)
{
    for (const char* key : {"REPLACE_BEFORE_RELEASE", "pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ="}) {
        const bool real = key[0] == 'p';
        UiHarness h({.applicationInfo = QJsonObject{{"SUPublicEDKey", key}}});
        h.load();
        EXPECT_EQ(h.find("menu.checkForUpdates")->property("enabled").toBool(), real);
        EXPECT_EQ(h.tray.updateCheckEnabled, real);
        EXPECT_EQ(setting(h, 2, "settings.automaticChecks")->isEnabled(), real);
        EXPECT_EQ(setting(h, 2, "settings.checkNow")->isEnabled(), real);
        EXPECT_EQ(text(setting(h, 2, "settings.updatesNotice")),
                  real ? "Update information is verified with the release signing key before it is shown."
                       : "Update checks are turned off until a release signing key is configured.");
        if (!real)
            screenshot(h.settingsWindow(), "settings-updates");
        // The automatic-check choice is on until changed.
        EXPECT_TRUE(h.updater->automaticallyChecksForUpdates());
        if (real)
            click(setting(h, 2, "settings.automaticChecks"));
        EXPECT_EQ(h.updater->automaticallyChecksForUpdates(), !real);
    }
}

TEST(Diagnostics, NotYetBeforeTheFirstRefreshThenItsTimeAndTheProbes)
{
    UiHarness h;
    h.provider(AgentTool::claude).closeGate();
    h.load(true, false);
    h.showSection("diagnostics");
    const auto value = [&](const char* row) {
        return text(find(h.find(row), "value"));
    };
    ASSERT_TRUE(processEventsUntil([&] { return value("diagnostics.lastCompleted") == "Not yet"; }));
    EXPECT_EQ(value("diagnostics.sessionCount"), "0");

    h.provider(AgentTool::claude).setSessions({sessionAt(h, AgentTool::claude, "a", 1)});
    h.provider(AgentTool::claude).openGate();
    ASSERT_TRUE(h.refreshed());
    EXPECT_TRUE(value("diagnostics.lastCompleted").contains("Dec 6, 2026"))
        << value("diagnostics.lastCompleted").toStdString();
    EXPECT_EQ(value("diagnostics.sessionCount"), "1");
    EXPECT_TRUE(processEventsUntil([&] { return itemsStartingWith(h.dashboard(), "diagnostics.probe.").size() == 4; }));
    screenshot(h.dashboard(), "dashboard-diagnostics");
}

} // namespace
} // namespace loomwatch::testing
