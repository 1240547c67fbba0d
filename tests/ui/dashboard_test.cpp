#include "uiharness.h"

#include <QClipboard>
#include <QQmlEngineExtensionPlugin>
#include <QQuickItem>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

QList<QQuickItem*> visibleRows(UiHarness& h)
{
    return UiHarness::itemsStartingWith(h.dashboard(), "sessionRow.");
}

QString metric(UiHarness& h, const char* name)
{
    return UiHarness::text(h.find(h.find(h.dashboard(), name), "metricValue"));
}

TEST(Overview, TwelveActiveSessionsListTenAndCountTwelve)
{
    UiHarness h;
    std::vector<model::AgentSession> claude;
    for (int i = 0; i < 12; ++i) {
        auto s = sessionAt(h, AgentTool::claude, "s" + std::to_string(i), i + 1,
                           i == 3 ? SessionState::waitingForInput : SessionState::working);
        s.projectName = "project-" + std::to_string(i);
        claude.push_back(s);
    }
    claude.push_back(sessionAt(h, AgentTool::claude, "old", 200, SessionState::ended));
    h.provider(AgentTool::claude).setSessions(claude);
    h.settings->setDidCompleteOnboarding(true);
    h.load();

    EXPECT_EQ(metric(h, "metric.active"), "12");
    EXPECT_EQ(metric(h, "metric.working"), "11");
    EXPECT_EQ(metric(h, "metric.waiting"), "1");
    // 12 sessions of 1,200 input, 410 output, 45,000 cache-read and 1,200 cache-write tokens at the
    // test prices, plus the ended one, all today.
    EXPECT_EQ(metric(h, "metric.today"), "$0.36");

    const auto rows = visibleRows(h);
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows.front()->property("projectName").toString(), "project-0");
    EXPECT_EQ(rows.back()->property("projectName").toString(), "project-9");
    EXPECT_FALSE(h.find<QQuickItem>(h.dashboard(), "attention.empty")->isVisible());
    for (QQuickItem* row : rows)
        EXPECT_GT(row->width(), 400) << "rows must span the overview";
    UiHarness::screenshot(h.dashboard(), "dashboard-overview");
    EXPECT_EQ(h.tray.icon, "person.crop.circle.badge.exclamationmark");
}

TEST(Dashboard, ErrorAlertShowsTheMessageAndOkClearsIt)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.provider(AgentTool::codex).setError("permission denied");
    h.load();

    auto* alert = h.find(h.dashboard(), "errorAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->property("visible").toBool());
    EXPECT_EQ(UiHarness::text(h.find(h.dashboard(), "errorAlert.message")), "Codex: permission denied");
    UiHarness::screenshot(h.dashboard(), "dashboard-error-alert");
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "errorAlert.ok"));
    UiHarness::settle(300);
    EXPECT_FALSE(h.store->hasError());
    EXPECT_FALSE(alert->property("visible").toBool());

    // It stays away until the store has a new message.
    h.provider(AgentTool::codex).setError(std::nullopt);
    h.store->refresh();
    processEventsUntil([&] { return !h.store->isRefreshing(); });
    UiHarness::settle(100);
    EXPECT_FALSE(alert->property("visible").toBool());
    h.store->setErrorMessage(std::string("Could not terminate process 7."));
    UiHarness::settle(100);
    EXPECT_TRUE(alert->property("visible").toBool());
}

class SessionsViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto waiting = sessionAt(h, AgentTool::claude, "waiting", 1, SessionState::waitingForInput);
        waiting.projectName = "billing-service";
        waiting.branch = "feature/invoice-pdf";
        waiting.processID = 1;
        auto working = sessionAt(h, AgentTool::codex, "working", 2, SessionState::working);
        working.projectName = std::string("an-extremely-long-project-name-that-goes-on-and-on-") + std::string(60, 'x');
        working.branch = "feature/" + std::string(80, 'b');
        working.lastSnippet = std::string(300, 's');
        auto cursor = sessionAt(h, AgentTool::cursor, "process:9", 3, SessionState::limited);
        cursor.branch.reset();
        cursor.lastSnippet.reset();
        h.provider(AgentTool::claude).setSessions({waiting});
        h.provider(AgentTool::codex).setSessions({working});
        h.provider(AgentTool::cursor).setSessions({cursor});
        h.settings->setDidCompleteOnboarding(true);
        h.load();
        h.dashboard()->setProperty("section", QStringLiteral("sessions"));
        UiHarness::settle(100);
    }

    QQuickItem* row(const QString& id)
    {
        const auto rows = UiHarness::itemsStartingWith(h.dashboard(), "sessionRow." + id);
        return rows.isEmpty() ? nullptr : rows.front();
    }

    QObject* openMenu(const QString& id)
    {
        UiHarness::click(row(id)->findChild<QQuickItem*>("actionsButton"));
        return row(id)->findChild<QObject*>("actionsMenu");
    }
    void trigger(const QString& id, const char* action)
    {
        QMetaObject::invokeMethod(openMenu(id)->findChild<QObject*>(action), "triggered");
        UiHarness::settle(200);
    }

    UiHarness h;
};

TEST_F(SessionsViewTest, SearchFiltersAsYouTypeAndShowsTheEmptyPanel)
{
    auto* field = h.find<QQuickItem>(h.dashboard(), "sessions.search");
    ASSERT_TRUE(field);
    EXPECT_EQ(visibleRows(h).size(), 3);
    field->forceActiveFocus();
    UiHarness::type(h.dashboard(), "INVOICE");
    EXPECT_EQ(visibleRows(h).size(), 1);
    EXPECT_FALSE(h.find<QQuickItem>(h.dashboard(), "sessions.empty")->isVisible());

    UiHarness::type(h.dashboard(), " ");
    EXPECT_EQ(visibleRows(h).size(), 0);
    auto* empty = h.find<QQuickItem>(h.dashboard(), "sessions.empty");
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->property("title").toString(), QString::fromUtf8("No Results for \u201CINVOICE \u201D"));
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions-no-results");
}

TEST_F(SessionsViewTest, LongTextsElideInsideTheRowAndMissingOnesFallBack)
{
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions");
    QQuickItem* working = row("codex:working");
    const QQuickItem* menuButton = working->findChild<QQuickItem*>("actionsButton");
    EXPECT_LE(menuButton->mapRectToItem(working, menuButton->boundingRect()).right(), working->width() + 0.5);
    EXPECT_GT(working->findChild<QQuickItem*>("projectName")->width(), 50);
    EXPECT_TRUE(working->findChild<QQuickItem*>("snippet")->property("truncated").toBool());

    // Without a snippet the tool's name stands in; without a branch no branch label shows.
    EXPECT_EQ(UiHarness::text(row("cursor:process:9")->findChild<QObject*>("snippet")), "Cursor");
    EXPECT_FALSE(row("cursor:process:9")->findChild<QQuickItem*>("branch")->isVisible());
}

TEST_F(SessionsViewTest, MenuOffersTerminationOnlyWithAProcess)
{
    auto visibleTexts = [](QObject* menu) {
        QStringList texts;
        for (QObject* item : menu->findChildren<QObject*>())
            if (item->objectName().startsWith("action.") && item->property("visible").toBool())
                texts << item->property("text").toString();
        QMetaObject::invokeMethod(menu, "close");
        UiHarness::settle();
        return texts;
    };
    EXPECT_EQ(visibleTexts(openMenu("claude:waiting")),
              (QStringList{"Generate Handoff", QString::fromUtf8("Terminate Process\u2026")}));
    EXPECT_EQ(visibleTexts(openMenu("cursor:process:9")), QStringList{"Generate Handoff"});
}

TEST_F(SessionsViewTest, TerminationAsksFirstAndReportsAFailureWithThePid)
{
    trigger("claude:waiting", "action.terminate");
    auto* dialog = h.find(h.dashboard(), "terminateDialog");
    ASSERT_TRUE(dialog->property("visible").toBool());
    EXPECT_EQ(dialog->property("title").toString(), "Terminate billing-service?");
    EXPECT_EQ(UiHarness::text(h.find(h.dashboard(), "terminateDialog.message")),
              "Loomwatch will send SIGTERM to process 1. Unsaved agent work may be lost.");
    UiHarness::screenshot(h.dashboard(), "dashboard-terminate-confirmation");
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "terminateDialog.cancel"));
    UiHarness::settle(300);
    EXPECT_TRUE(h.terminated.empty()) << "cancel sends nothing";

    trigger("claude:waiting", "action.terminate");
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "terminateDialog.terminate"));
    UiHarness::settle(300);
    ASSERT_EQ(h.terminated.size(), 1u);
    EXPECT_EQ(h.terminated[0], std::make_pair(1, AgentTool::claude));
    EXPECT_EQ(h.store->errorMessageText(), "Could not terminate process 1.");
    EXPECT_TRUE(h.find(h.dashboard(), "errorAlert")->property("visible").toBool());
}

TEST_F(SessionsViewTest, HandoffPreviewCopiesTheEditedTextAndSurvivesTheSessionLeaving)
{
    trigger("claude:waiting", "action.handoff");
    auto* sheet = h.find(h.dashboard(), "handoffPreview");
    ASSERT_TRUE(sheet->property("visible").toBool());
    auto* editor = h.find(h.dashboard(), "handoffPreview.editor");
    EXPECT_EQ(UiHarness::text(editor), "# Continuation Handoff\n\nProject: billing-service\n");

    h.provider(AgentTool::claude).setSessions({});
    h.store->refresh();
    processEventsUntil([&] { return h.store->sessionCount() == 2 && !h.store->isRefreshing(); });
    UiHarness::settle();
    EXPECT_TRUE(sheet->property("visible").toBool());

    editor->setProperty("text", "edited by hand");
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "handoffPreview.copy"));
    UiHarness::settle(300);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "edited by hand");
    EXPECT_FALSE(sheet->property("visible").toBool());
}

TEST_F(SessionsViewTest, FailedHandoffGoesToTheErrorLineWithoutASheet)
{
    h.handoffError = "Could not read /home/dev/.claude/projects/x.jsonl: No such file or directory";
    trigger("claude:waiting", "action.handoff");
    EXPECT_FALSE(h.find(h.dashboard(), "handoffPreview")->property("visible").toBool());
    EXPECT_EQ(h.store->errorMessageText(), QString::fromStdString(*h.handoffError));
}

TEST(TrayPanel, StatusLineFiveRowsAndShortenedNames)
{
    UiHarness h;
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < 7; ++i) {
        auto s = sessionAt(h, AgentTool::claude, "s" + std::to_string(i), i + 1, SessionState::working);
        s.projectName = i == 0 ? std::string(31, 'n') : i == 1 ? std::string(30, 'm') : "project-" + std::to_string(i);
        sessions.push_back(s);
    }
    sessions[2].state = SessionState::waitingForInput;
    h.provider(AgentTool::claude).setSessions(sessions);
    h.settings->setDidCompleteOnboarding(true);
    h.load();

    h.tray.click();
    UiHarness::settle(200);
    QQuickWindow* panel = h.panel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(UiHarness::text(h.find(panel, "trayPanel.status")), "1 waiting");
    QStringList names;
    for (QQuickItem* label : UiHarness::itemsStartingWith(panel, "trayPanel.rowName"))
        names << UiHarness::text(label);
    ASSERT_EQ(names.size(), 5);
    EXPECT_TRUE(names.contains(QString(27, 'n') + QChar(0x2026)));
    EXPECT_TRUE(names.contains(QString(30, 'm')));
    EXPECT_FALSE(h.find<QQuickItem>(panel, "trayPanel.empty")->isVisible());
    UiHarness::screenshot(panel, "tray-panel");

    // Settings… opens the settings window and closes the panel.
    UiHarness::click(h.find<QQuickItem>(panel, "trayPanel.settings"));
    UiHarness::settle(200);
    EXPECT_TRUE(h.settingsWindow()->isVisible());
    EXPECT_FALSE(panel->isVisible());
}

TEST(TrayPanel, OnlyEndedOrErroredSessionsMeansNoActiveAgents)
{
    UiHarness h;
    h.provider(AgentTool::codex)
        .setSessions({sessionAt(h, AgentTool::codex, "e", 1, SessionState::errored),
                      sessionAt(h, AgentTool::codex, "d", 2, SessionState::ended)});
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    h.tray.click();
    UiHarness::settle(200);
    EXPECT_TRUE(h.find<QQuickItem>(h.panel(), "trayPanel.empty")->isVisible());
    EXPECT_EQ(UiHarness::text(h.find(h.panel(), "trayPanel.status")), "Idle");
    EXPECT_EQ(h.tray.icon, "exclamationmark.triangle.fill");
}

TEST(Onboarding, ShownAtFirstLaunchFillsInAndNeverAgain)
{
    TempDir shared;
    UiHarness::Options options;
    options.settingsFile = shared / "Loomwatch.conf";
    {
        UiHarness h(options);
        h.provider(AgentTool::openCode).closeGate(); // probes arrive only later
        h.load(false);
        auto* sheet = h.find(h.dashboard(), "onboarding");
        ASSERT_TRUE(sheet);
        EXPECT_TRUE(sheet->property("visible").toBool());
        EXPECT_FALSE(UiHarness::item(h.dashboard(), "onboarding.tool.claude"));

        h.provider(AgentTool::openCode).openGate();
        ASSERT_TRUE(processEventsUntil([&] { return h.store->lastRefresh().has_value(); }));
        UiHarness::settle(200);
        EXPECT_EQ(UiHarness::text(UiHarness::item(h.dashboard(), "onboarding.tool.claude")),
                  QString::fromUtf8("Claude Code \u2014 Detected"));
        UiHarness::screenshot(h.dashboard(), "onboarding");

        // Nothing but its button closes it.
        QTest::keyClick(h.dashboard(), Qt::Key_Escape);
        UiHarness::settle();
        EXPECT_TRUE(sheet->property("visible").toBool());
        UiHarness::click(h.find<QQuickItem>(h.dashboard(), "onboarding.continue"));
        UiHarness::settle(300);
        EXPECT_FALSE(sheet->property("visible").toBool());
        EXPECT_TRUE(h.settings->didCompleteOnboarding());
    }
    UiHarness again(options);
    again.load();
    EXPECT_FALSE(again.find(again.dashboard(), "onboarding")->property("visible").toBool());
}

TEST(Look, DarkPaletteKeepsTextReadable)
{
    const QPalette light = QGuiApplication::palette();
    QPalette dark(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e));
    dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    QGuiApplication::setPalette(dark);

    UiHarness h;
    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "w", 1, SessionState::waitingForInput),
                      sessionAt(h, AgentTool::claude, "x", 2)});
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    const QImage image = UiHarness::screenshot(h.dashboard(), "dashboard-overview-dark");
    // The window background follows the palette.
    EXPECT_LT(QColor(image.pixel(image.width() - 5, image.height() - 5)).lightness(), 80);
    h.tray.click();
    UiHarness::screenshot(h.panel(), "tray-panel-dark");
    QGuiApplication::setPalette(light);
}

} // namespace
} // namespace loomwatch::testing
