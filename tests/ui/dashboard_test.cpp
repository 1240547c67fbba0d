#include "uiharness.h"

#include <QClipboard>
#include <QPointer>
#include <QQmlEngineExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

QList<QQuickItem*> sessionRows(UiHarness& h)
{
    return UiHarness::itemsStartingWith(h.dashboard(), "sessionRow.");
}

bool opened(QObject* popup)
{
    return processEventsUntil([&] { return popup->property("opened").toBool(); });
}

bool closed(QObject* popup)
{
    return processEventsUntil([&] { return !UiHarness::visible(popup); });
}

TEST(Overview, TwelveActiveSessionsListTenAndCountTwelve)
{
    UiHarness h;
    std::vector<model::AgentSession> claude;
    for (int i = 0; i < 12; ++i) {
        claude.push_back(sessionAt(h, AgentTool::claude, "s" + std::to_string(i), i + 1,
                                   i == 3 ? SessionState::waitingForInput : SessionState::working));
        claude.back().projectName = "project-" + std::to_string(i);
    }
    claude.push_back(sessionAt(h, AgentTool::claude, "old", 200, SessionState::ended));
    h.provider(AgentTool::claude).setSessions(claude);
    h.load();
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 10; }));

    const auto metric = [&](const char* name) {
        return UiHarness::text(UiHarness::find(UiHarness::find(h.dashboard(), name), "metricValue"));
    };
    EXPECT_EQ(metric("metric.active"), "12");
    EXPECT_EQ(metric("metric.working"), "11");
    EXPECT_EQ(metric("metric.waiting"), "1");
    // 13 sessions of 1,200 input, 410 output, 45,000 cache-read and 1,200 cache-write tokens at the
    // test prices, all today.
    EXPECT_EQ(metric("metric.today"), "$0.36");
    const auto rows = sessionRows(h);
    EXPECT_EQ(rows.front()->property("projectName").toString(), "project-0");
    EXPECT_EQ(rows.back()->property("projectName").toString(), "project-9");
    EXPECT_FALSE(UiHarness::visible(UiHarness::find(h.dashboard(), "attention.empty")));
    QQuickTest::qWaitForPolish(h.dashboard());
    for (QQuickItem* row : rows)
        EXPECT_GT(row->width(), 400) << "rows must span the overview";
    UiHarness::screenshot(h.dashboard(), "dashboard-overview");
    EXPECT_EQ(h.tray.icon, "person.crop.circle.badge.exclamationmark");
}

TEST(Overview, ErrorAlertShowsTheMessageUntilClosed)
{
    UiHarness h;
    h.provider(AgentTool::codex).setError("permission denied");
    h.load();
    QObject* alert = UiHarness::find(h.dashboard(), "errorAlert");
    ASSERT_TRUE(opened(alert));
    EXPECT_EQ(UiHarness::text(UiHarness::find(h.dashboard(), "errorAlert.message")), "Codex: permission denied");
    UiHarness::screenshot(h.dashboard(), "dashboard-error-alert");
    UiHarness::click(UiHarness::item(h.dashboard(), "errorAlert.ok"));
    EXPECT_TRUE(closed(alert));
    EXPECT_FALSE(h.controller->hasError());

    // A refresh without errors leaves it closed (the alert opens from the change signal, at once);
    // the next message opens it again.
    h.provider(AgentTool::codex).setError(std::nullopt);
    ASSERT_TRUE(h.refresh());
    EXPECT_FALSE(UiHarness::visible(alert));
    h.store->setErrorMessage(std::string("Could not terminate process 7."));
    EXPECT_TRUE(opened(alert));
}

class SessionsView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto waiting = sessionAt(h, AgentTool::claude, "waiting", 1, SessionState::waitingForInput);
        waiting.projectName = "billing-service";
        waiting.branch = "feature/invoice-pdf";
        waiting.processID = 1;
        working.projectName = "an-extremely-long-project-name-that-goes-on-and-on-" + std::string(60, 'x');
        working.branch = "feature/" + std::string(80, 'b');
        working.lastSnippet = std::string(300, 's');
        working.processID = 4242;
        cursor.branch.reset();
        cursor.lastSnippet.reset();
        h.provider(AgentTool::claude).setSessions({waiting});
        h.provider(AgentTool::codex).setSessions({working});
        h.provider(AgentTool::cursor).setSessions({cursor});
        h.load();
        h.showSection("sessions");
        ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 3; }));
    }

    QQuickItem* row(const QString& id)
    {
        return UiHarness::itemsStartingWith(h.dashboard(), "sessionRow." + id).value(0);
    }
    QObject* openMenu(const QString& id)
    {
        UiHarness::click(row(id)->findChild<QQuickItem*>("actionsButton"));
        QObject* menu = row(id)->findChild<QObject*>("actionsMenu");
        return opened(menu) ? menu : nullptr;
    }
    void trigger(const QString& id, const char* action)
    {
        QMetaObject::invokeMethod(openMenu(id)->findChild<QObject*>(action), "triggered");
    }

    UiHarness h;
    model::AgentSession working = sessionAt(h, AgentTool::codex, "working", 2);
    model::AgentSession cursor = sessionAt(h, AgentTool::cursor, "process:9", 3, SessionState::limited);
};

TEST_F(SessionsView, LongTextsStayInsideTheRowAndTypingFilters)
{
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions");
    QQuickItem* wide = row("codex:working");
    const QQuickItem* menuButton = wide->findChild<QQuickItem*>("actionsButton");
    EXPECT_LE(menuButton->mapRectToItem(wide, menuButton->boundingRect()).right(), wide->width() + 0.5);
    EXPECT_GT(wide->findChild<QQuickItem*>("projectName")->width(), 50);
    EXPECT_TRUE(wide->findChild<QQuickItem*>("snippet")->property("truncated").toBool());
    // Without a snippet the tool's name stands in; without a branch no branch label shows.
    EXPECT_EQ(UiHarness::text(row("cursor:process:9")->findChild<QObject*>("snippet")), "Cursor");
    EXPECT_FALSE(row("cursor:process:9")->findChild<QQuickItem*>("branch")->isVisible());

    UiHarness::item(h.dashboard(), "sessions.search")->forceActiveFocus();
    for (char c : std::string("INVOICE"))
        QTest::keyClick(h.dashboard(), c);
    EXPECT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 1; }));
    QTest::keyClick(h.dashboard(), Qt::Key_Space);
    QObject* empty = UiHarness::find(h.dashboard(), "sessions.empty");
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).isEmpty() && UiHarness::visible(empty); }));
    EXPECT_EQ(empty->property("title").toString(), QString::fromUtf8("No Results for \u201CINVOICE \u201D"));
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions-no-results");
}

TEST_F(SessionsView, MenuOffersTerminationOnlyWithAProcessAndSurvivesARefreshOfOtherRows)
{
    const auto visibleTexts = [](QObject* menu) {
        QStringList texts;
        for (QObject* item : menu->findChildren<QObject*>())
            if (item->objectName().startsWith("action.") && item->property("visible").toBool())
                texts << item->property("text").toString();
        return texts;
    };
    QObject* withoutProcess = openMenu("cursor:process:9");
    EXPECT_EQ(visibleTexts(withoutProcess), QStringList{"Generate Handoff"});
    QMetaObject::invokeMethod(withoutProcess, "close");
    ASSERT_TRUE(closed(withoutProcess));
    QPointer<QObject> menu = openMenu("claude:waiting");
    EXPECT_EQ(visibleTexts(menu), (QStringList{"Generate Handoff", QString::fromUtf8("Terminate Process\u2026")}));

    // A new session on top and another one changing leave the row, and so its menu, alone.
    working.state = SessionState::waitingForInput;
    h.provider(AgentTool::codex).setSessions({working, sessionAt(h, AgentTool::codex, "new", 0)});
    ASSERT_TRUE(h.refresh());
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 4; }));
    EXPECT_TRUE(menu && menu->property("opened").toBool());
}

TEST_F(SessionsView, TerminationAsksFirstAndReportsAFailureWithThePid)
{
    QObject* dialog = UiHarness::find(h.dashboard(), "terminateDialog");
    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(opened(dialog));
    EXPECT_EQ(dialog->property("title").toString(), "Terminate billing-service?");
    EXPECT_EQ(UiHarness::text(UiHarness::find(h.dashboard(), "terminateDialog.message")),
              "Loomwatch will send SIGTERM to process 1. Unsaved agent work may be lost.");
    UiHarness::screenshot(h.dashboard(), "dashboard-terminate-confirmation");
    UiHarness::click(UiHarness::item(h.dashboard(), "terminateDialog.cancel"));
    ASSERT_TRUE(closed(dialog));
    EXPECT_TRUE(h.terminated.empty()) << "cancel sends nothing";

    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(opened(dialog));
    UiHarness::click(UiHarness::item(h.dashboard(), "terminateDialog.terminate"));
    EXPECT_EQ(h.terminated, (decltype(h.terminated){{1, AgentTool::claude}}));
    EXPECT_EQ(h.controller->errorMessage(), "Could not terminate process 1.");
    QObject* alert = UiHarness::find(h.dashboard(), "errorAlert");
    ASSERT_TRUE(opened(alert));
    UiHarness::click(UiHarness::item(h.dashboard(), "errorAlert.ok"));
    ASSERT_TRUE(closed(alert));

    // The session ends and leaves the list while the question is open: nothing is sent or said.
    trigger("codex:working", "action.terminate");
    ASSERT_TRUE(opened(dialog));
    h.provider(AgentTool::codex).setSessions({});
    ASSERT_TRUE(h.refresh());
    UiHarness::click(UiHarness::item(h.dashboard(), "terminateDialog.terminate"));
    EXPECT_EQ(h.terminated.size(), 1u);
    EXPECT_FALSE(h.controller->hasError());
}

TEST_F(SessionsView, FailedHandoffGoesToTheErrorLineWithoutASheet)
{
    h.handoffError = "Could not read /home/dev/.claude/projects/x.jsonl: No such file or directory";
    trigger("claude:waiting", "action.handoff");
    EXPECT_FALSE(UiHarness::visible(UiHarness::find(h.dashboard(), "handoffPreview")));
    EXPECT_EQ(h.controller->errorMessage(), QString::fromStdString(*h.handoffError));
}

TEST_F(SessionsView, HandoffPreviewCopiesTheEditedTextAndSurvivesTheSessionLeaving)
{
    trigger("claude:waiting", "action.handoff");
    QObject* sheet = UiHarness::find(h.dashboard(), "handoffPreview");
    ASSERT_TRUE(opened(sheet));
    QObject* editor = UiHarness::find(h.dashboard(), "handoffPreview.editor");
    EXPECT_EQ(UiHarness::text(editor), "# Continuation Handoff\n\nProject: billing-service\n");
    h.provider(AgentTool::claude).setSessions({});
    ASSERT_TRUE(h.refresh());
    EXPECT_TRUE(UiHarness::visible(sheet));

    editor->setProperty("text", "edited by hand");
    UiHarness::click(UiHarness::item(h.dashboard(), "handoffPreview.copy"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "edited by hand");
    EXPECT_TRUE(closed(sheet));
}

TEST(TrayPanel, StatusLineFiveRowsShortNamesAndNoActiveAgents)
{
    UiHarness h;
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < 7; ++i) {
        sessions.push_back(sessionAt(h, AgentTool::claude, "s" + std::to_string(i), i + 1));
        sessions.back().projectName = i < 2 ? std::string(31 - i, i ? 'm' : 'n') : "project-" + std::to_string(i);
    }
    sessions[2].state = SessionState::waitingForInput;
    h.provider(AgentTool::claude).setSessions(sessions);
    h.load();
    h.tray.click();
    QQuickWindow* panel = h.panel();
    const auto names = [&] {
        QStringList texts;
        for (QQuickItem* label : UiHarness::itemsStartingWith(panel, "trayPanel.rowName"))
            texts << UiHarness::text(label);
        return texts;
    };
    ASSERT_TRUE(processEventsUntil([&] { return panel->isVisible() && names().size() == 5; }));
    EXPECT_EQ(UiHarness::text(UiHarness::find(panel, "trayPanel.status")), "1 waiting");
    EXPECT_EQ(names().mid(0, 2), (QStringList{QString(27, 'n') + QChar(0x2026), QString(30, 'm')}));
    EXPECT_FALSE(UiHarness::visible(UiHarness::find(panel, "trayPanel.empty")));
    UiHarness::screenshot(panel, "tray-panel");

    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "e", 1, SessionState::errored),
                      sessionAt(h, AgentTool::claude, "d", 2, SessionState::ended)});
    ASSERT_TRUE(h.refresh());
    EXPECT_TRUE(UiHarness::visible(UiHarness::find(panel, "trayPanel.empty")));
    EXPECT_EQ(UiHarness::text(UiHarness::find(panel, "trayPanel.status")), "Idle");
    EXPECT_EQ(h.tray.icon, "exclamationmark.triangle.fill");

    // Settings… opens the settings window and closes the panel.
    UiHarness::click(UiHarness::item(panel, "trayPanel.settings"));
    EXPECT_TRUE(processEventsUntil([&] { return h.settingsWindow()->isVisible() && !panel->isVisible(); }));
}

TEST(Onboarding, ShownAtFirstLaunchUntilContinuedThenNeverAgain)
{
    TempDir shared;
    UiHarness::Options options;
    options.settingsFile = shared / "Loomwatch.conf";
    {
        UiHarness h(options);
        h.provider(AgentTool::openCode).closeGate(); // the probes arrive only later
        h.load(false, false);
        QObject* sheet = UiHarness::find(h.dashboard(), "onboarding");
        ASSERT_TRUE(opened(sheet));
        EXPECT_FALSE(UiHarness::find(h.dashboard(), "onboarding.tool.claude"));
        h.provider(AgentTool::openCode).openGate();
        EXPECT_TRUE(processEventsUntil([&] {
            return UiHarness::text(UiHarness::find(h.dashboard(), "onboarding.tool.claude")) ==
                   QString::fromUtf8("Claude Code \u2014 Detected");
        }));
        UiHarness::screenshot(h.dashboard(), "onboarding");

        // Nothing but its button closes it.
        QTest::keyClick(h.dashboard(), Qt::Key_Escape);
        EXPECT_TRUE(sheet->property("opened").toBool());
        UiHarness::click(UiHarness::item(h.dashboard(), "onboarding.continue"));
        EXPECT_TRUE(closed(sheet));
        EXPECT_TRUE(h.settings->didCompleteOnboarding());
    }
    UiHarness again(options);
    again.load(false);
    EXPECT_FALSE(UiHarness::visible(UiHarness::find(again.dashboard(), "onboarding")));
}

TEST(Look, DarkPaletteDarkensTheWindows)
{
    const QPalette light = QGuiApplication::palette();
    QPalette dark(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e));
    dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    QGuiApplication::setPalette(dark);
    UiHarness h;
    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "w", 1, SessionState::waitingForInput),
                      sessionAt(h, AgentTool::claude, "x", 2)});
    h.load();
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 2; }));
    const QImage image = UiHarness::screenshot(h.dashboard(), "dashboard-overview-dark");
    EXPECT_LT(QColor(image.pixel(image.width() - 5, image.height() - 5)).lightness(), 80);
    h.tray.click();
    ASSERT_TRUE(processEventsUntil([&] { return h.panel()->isVisible(); }));
    UiHarness::screenshot(h.panel(), "tray-panel-dark");
    QGuiApplication::setPalette(light);
}

} // namespace
} // namespace loomwatch::testing
