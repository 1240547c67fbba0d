#include "uiharness.h"

#include <QFile>
#include <QQmlEngineExtensionPlugin>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

QString text(QObject* item)
{
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

QByteArray fileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QQuickItem* settingsItem(UiHarness& h, const char* name)
{
    return UiHarness::item(h.settingsWindow(), QString::fromLatin1(name));
}

void openSettings(UiHarness& h, int tab)
{
    h.controller->openSettings();
    UiHarness::settle(100);
    h.settingsWindow()->setProperty("currentTab", tab);
    UiHarness::settle(150);
}

class CostsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto claude = sessionAt(h, AgentTool::claude, "today", 30);
        claude.tokens = {1000000, 0, 0, 0};
        auto codex = sessionAt(h, AgentTool::codex, "today", 40);
        codex.model = "gpt-5-codex";
        codex.tokens = {2000000, 0, 0, 0};
        // Yesterday at 23:59 local time: not today's spend.
        auto yesterday =
            makeSession(AgentTool::codex, "yesterday", localTime(2026, 12, 5, 23, 59), SessionState::ended);
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
    }

    QStringList lineOrder()
    {
        QList<QQuickItem*> lines;
        for (QQuickItem* item : UiHarness::items(h.dashboard()->contentItem())) {
            if (item->objectName().startsWith("costs.") && item->objectName() != "costs.today-total")
                lines << item;
        }
        std::sort(lines.begin(), lines.end(), [](QQuickItem* a, QQuickItem* b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        QStringList names;
        for (QQuickItem* line : lines)
            names << line->objectName();
        return names;
    }
    QString amount(const char* tool)
    {
        return UiHarness::item(h.dashboard(), QStringLiteral("costs.") + tool)->property("amount").toString();
    }
    QString total() { return text(UiHarness::item(h.dashboard(), "costs.today-total")); }

    UiHarness h;
};

TEST_F(CostsTest, PerToolLinesInCaseOrderAddUpToTodaysTotal)
{
    EXPECT_EQ(lineOrder(), (QStringList{"costs.claude", "costs.codex", "costs.openCode", "costs.cursor"}));
    EXPECT_EQ(total(), "$5.50");
    EXPECT_EQ(amount("claude"), "$3.00");
    EXPECT_EQ(amount("codex"), "$2.50"); // yesterday's $1.25 is left out
    EXPECT_EQ(amount("openCode"), "$0.00");
    EXPECT_EQ(amount("cursor"), "$0.00");
    auto* totalItem = UiHarness::item(h.dashboard(), "costs.today-total");
    EXPECT_EQ(totalItem->property("font").value<QFont>().pixelSize(), 42);
    UiHarness::screenshot(h.dashboard(), "dashboard-costs");
}

TEST_F(CostsTest, SavingPricesRepricesAtOnceWithoutAskingTheProviders)
{
    const int callsBefore = h.provider(AgentTool::claude).sessionCalls();
    h.preferences->loadEditors();
    QString pricing = QString::fromStdString(UiHarness::pricingJson());
    pricing.replace("\"inputPerMillion\": 3,", "\"inputPerMillion\": 6,");
    h.preferences->setPricingJSON(pricing);
    h.preferences->save();
    UiHarness::settle(100);
    EXPECT_EQ(h.preferences->resourceMessage(), "Saved locally.");
    EXPECT_EQ(amount("claude"), "$6.00");
    EXPECT_EQ(total(), "$8.50");
    EXPECT_EQ(h.provider(AgentTool::claude).sessionCalls(), callsBefore);
}

TEST_F(CostsTest, InvalidPricingChangesNeitherFileNorCosts)
{
    h.preferences->loadEditors();
    const std::string pricingFile = h.dataFolder() + "/ModelPricing.json";
    const std::string templateFile = h.dataFolder() + "/HandoffTemplate.md";
    const QByteArray pricingBefore = fileBytes(pricingFile);
    const QByteArray templateBefore = fileBytes(templateFile);
    ASSERT_NE(pricingBefore, "<missing>");

    const QString valid = QString::fromStdString(UiHarness::pricingJson());
    QString noNotice = valid;
    noNotice.replace(QRegularExpression(R"(,\s*"notice":\s*"Test prices.")"), "");
    ASSERT_NE(noNotice, valid);
    QString stringPrice = valid;
    stringPrice.replace("\"inputPerMillion\": 3,", "\"inputPerMillion\": \"3\",");
    for (const QString& bad : {QStringLiteral("{ not json"), noNotice, stringPrice}) {
        h.preferences->setPricingJSON(bad);
        h.preferences->setHandoffTemplate("changed template");
        h.preferences->save();
        EXPECT_TRUE(h.preferences->resourceMessage().startsWith("Could not save: "))
            << h.preferences->resourceMessage().toStdString();
        EXPECT_GT(h.preferences->resourceMessage().size(), QString("Could not save: ").size());
        EXPECT_EQ(fileBytes(pricingFile), pricingBefore);
        EXPECT_EQ(fileBytes(templateFile), templateBefore);
        EXPECT_EQ(total(), "$5.50");
    }
}

TEST(Settings, FreshInstallShowsDefaultsAndWritesNothing)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    openSettings(h, 0);
    for (const char* name :
         {"settings.showDockIcon", "settings.openDashboardAtLaunch", "settings.playNotificationSounds"})
        EXPECT_TRUE(settingsItem(h, name)->property("checked").toBool()) << name;
    EXPECT_FALSE(settingsItem(h, "settings.launchAtLogin")->property("checked").toBool());
    UiHarness::screenshot(h.settingsWindow(), "settings-general");

    openSettings(h, 1);
    EXPECT_EQ(text(settingsItem(h, "settings.budget")), "25");
    EXPECT_FALSE(text(settingsItem(h, "settings.pricing.editor")).isEmpty());
    UiHarness::screenshot(h.settingsWindow(), "settings-tools");

    h.settings->sync();
    for (const QString& key : {core::Settings::showDockIconKey, core::Settings::openDashboardAtLaunchKey,
                               core::Settings::playNotificationSoundsKey, core::Settings::dailyBudgetThresholdKey})
        EXPECT_FALSE(h.settings->contains(key)) << key.toStdString();
    EXPECT_EQ(h.settings->dailyBudgetThreshold(), 0.0);
}

TEST(Settings, BudgetFieldTakesLocaleNumbersOnly)
{
    UiHarness h;
    EXPECT_FALSE(h.preferences->setDailyBudgetText("twenty"));
    EXPECT_FALSE(h.preferences->setDailyBudgetText("-5"));
    EXPECT_FALSE(h.preferences->setDailyBudgetText("inf"));
    EXPECT_FALSE(h.settings->contains(core::Settings::dailyBudgetThresholdKey));
    EXPECT_TRUE(h.preferences->setDailyBudgetText("1,250.5"));
    EXPECT_EQ(h.settings->dailyBudgetThreshold(), 1250.5);
    EXPECT_EQ(h.preferences->dailyBudgetText(), "1,250.5");
}

TEST(Settings, ResetRestoresTheDefaultsQuietly)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    h.preferences->loadEditors();
    h.preferences->setHandoffTemplate("my own template {{objective}}");
    h.preferences->save();
    ASSERT_EQ(h.preferences->resourceMessage(), "Saved locally.");
    h.preferences->setPricingJSON("{}");

    h.preferences->resetDefaults();
    QFile defaults(":/loomwatch/defaults/HandoffTemplate.md");
    ASSERT_TRUE(defaults.open(QIODevice::ReadOnly));
    EXPECT_EQ(h.preferences->handoffTemplate(), QString::fromUtf8(defaults.readAll()));
    EXPECT_NE(h.preferences->pricingJSON(), "{}");
    EXPECT_EQ(h.preferences->resourceMessage(), "Saved locally."); // unchanged: a reset says nothing
}

TEST(Settings, LoginToggleWritesAndRemovesTheAutostartEntry)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    openSettings(h, 0);
    const std::string entry = h.autostartFolder() + "/loomwatch.desktop";

    UiHarness::click(settingsItem(h, "settings.launchAtLogin"));
    ASSERT_TRUE(QFile::exists(QString::fromStdString(entry)));
    EXPECT_TRUE(fileBytes(entry).contains("Exec=\"/usr/bin/loomwatch\""));
    EXPECT_TRUE(h.preferences->launchAtLogin());

    UiHarness::click(settingsItem(h, "settings.launchAtLogin"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(entry)));
    EXPECT_FALSE(h.preferences->launchAtLogin());
    EXPECT_TRUE(h.preferences->resourceMessage().isEmpty());

    // An entry switched off by hand counts as off.
    ui::AutostartEntry(QString::fromStdString(h.autostartFolder()), "/usr/bin/loomwatch").setEnabled(true);
    QFile file(QString::fromStdString(entry));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_FALSE(ui::AutostartEntry(QString::fromStdString(h.autostartFolder()), "x").isEnabled());
}

TEST(Settings, UnwritableAutostartFolderReportsAndKeepsTheToggle)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    // A plain file where the folder should be: no user, root included, can create the entry.
    QDir().mkpath(QString::fromStdString(h.home.path() + "/.config"));
    QFile blocker(QString::fromStdString(h.autostartFolder()));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    openSettings(h, 0);
    UiHarness::click(settingsItem(h, "settings.launchAtLogin"));
    EXPECT_TRUE(settingsItem(h, "settings.launchAtLogin")->property("checked").toBool());
    EXPECT_FALSE(h.preferences->resourceMessage().isEmpty());
    openSettings(h, 1);
    EXPECT_EQ(text(settingsItem(h, "settings.resourceMessage")), h.preferences->resourceMessage());
}

TEST(Settings, DockIconToggleMakesTheWindowsToolWindows)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    openSettings(h, 0);
    UiHarness::click(settingsItem(h, "settings.showDockIcon"));
    EXPECT_FALSE(h.settings->showDockIcon());
    EXPECT_FALSE(h.controller->showInTaskbar());
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Tool);
    // Opening the dashboard from the tray brings the taskbar entry back first.
    h.controller->openDashboard();
    UiHarness::settle();
    EXPECT_EQ(h.dashboard()->flags() & Qt::WindowType_Mask, Qt::Window);
}

TEST(Settings, UpdatesTabFollowsTheSigningKey)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    openSettings(h, 2);
    EXPECT_FALSE(settingsItem(h, "settings.automaticChecks")->isEnabled());
    EXPECT_FALSE(settingsItem(h, "settings.checkNow")->isEnabled());
    EXPECT_EQ(text(settingsItem(h, "settings.updatesNotice")),
              "Update signing is intentionally disabled until the production Sparkle public key is configured.");
    UiHarness::screenshot(h.settingsWindow(), "settings-updates");

    UiHarness::Options options;
    options.applicationInfo = QJsonObject{{"SUPublicEDKey", "pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ="}};
    UiHarness released(options);
    released.settings->setDidCompleteOnboarding(true);
    released.load();
    openSettings(released, 2);
    EXPECT_TRUE(settingsItem(released, "settings.automaticChecks")->isEnabled());
    EXPECT_TRUE(settingsItem(released, "settings.checkNow")->isEnabled());
    EXPECT_EQ(
        text(settingsItem(released, "settings.updatesNotice")),
        QString::fromUtf8("Updates are verified with Sparkle signatures and the app\u2019s Developer ID signature."));
    // The automatic-check choice is stored only once changed.
    EXPECT_TRUE(released.updater->automaticallyChecksForUpdates());
    UiHarness::click(settingsItem(released, "settings.automaticChecks"));
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
        return text(UiHarness::item(h.dashboard(), row)->findChild<QObject*>("value"));
    };
    EXPECT_EQ(value("diagnostics.lastCompleted"), "Not yet");
    EXPECT_EQ(value("diagnostics.sessionCount"), "0");
    EXPECT_EQ(value("diagnostics.retention"), "7 days");
    EXPECT_FALSE(UiHarness::item(h.dashboard(), "diagnostics.probe.claude"));

    h.provider(AgentTool::claude).setSessions({sessionAt(h, AgentTool::claude, "a", 1)});
    h.provider(AgentTool::claude).openGate();
    ASSERT_TRUE(processEventsUntil([&] { return h.store->lastRefresh().has_value(); }));
    UiHarness::settle(150);
    EXPECT_NE(value("diagnostics.lastCompleted"), "Not yet");
    EXPECT_EQ(value("diagnostics.sessionCount"), "1");
    QList<QQuickItem*> rows;
    for (QQuickItem* item : UiHarness::items(h.dashboard()->contentItem())) {
        if (item->objectName().startsWith("diagnostics.probe."))
            rows << item;
    }
    std::sort(rows.begin(), rows.end(), [](QQuickItem* a, QQuickItem* b) {
        return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
    });
    QStringList order;
    for (QQuickItem* row : rows)
        order << row->objectName().mid(QString("diagnostics.probe.").size());
    EXPECT_EQ(order, (QStringList{"claude", "codex", "cursor", "openCode"}));
    EXPECT_EQ(text(rows.value(0)->findChild<QObject*>("supportLevel")), "full");
    UiHarness::screenshot(h.dashboard(), "dashboard-diagnostics");
}

} // namespace
} // namespace loomwatch::testing
