#include "uiharness.h"

#include "core/dbusnotifier.h"
#include "core/fakenotificationserver.h"
#include "core/notificationservice.h"

#include <QClipboard>
#include <QQmlEngineExtensionPlugin>
#include <QTimer>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

namespace loomwatch::testing {
namespace {

using model::AgentTool;
using model::SessionState;

QList<QQuickItem*> sessionRows(UiHarness& h, const QString& id = {})
{
    return itemsStartingWith(h.dashboard(), "sessionRow." + id);
}

TEST(Overview, TwelveActiveSessionsListTenAndCountTwelve)
{
    UiHarness h;
    std::vector<model::AgentSession> claude{sessionAt(h, AgentTool::claude, "old", 200, SessionState::ended)};
    for (int i = 0; i < 12; ++i) {
        claude.push_back(sessionAt(h, AgentTool::claude, std::to_string(i), i + 1,
                                   i == 3 ? SessionState::waitingForInput : SessionState::working));
        claude.back().projectName = "project-" + std::to_string(i);
    }
    h.provider(AgentTool::claude).setSessions(claude);
    h.load();
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 10; }));
    QStringList metrics;
    for (const char* name : {"metric.active", "metric.working", "metric.waiting", "metric.today"})
        metrics << text(find(h.find(name), "metricValue"));
    // 13 sessions of 1,200 input, 410 output, 45,000 cache-read, 1,200 cache-write tokens, all today.
    EXPECT_EQ(metrics, (QStringList{"12", "11", "1", "$0.36"}));
    EXPECT_EQ(sessionRows(h).back()->property("projectName").toString(), "project-9");
    EXPECT_EQ(text(find(sessionRows(h).back(), "usage")), "claude-sonnet-4-5-20250929 \u00B7 48K tokens \u00B7 $0.03");
    EXPECT_FALSE(visible(h.find("attention.empty")));
    QQuickTest::qWaitForPolish(h.dashboard());
    EXPECT_GT(sessionRows(h).front()->width(), 400) << "rows must span the overview";
    EXPECT_EQ(h.tray.icon, "person.crop.circle.badge.exclamationmark");
    screenshot(h.dashboard(), "dashboard-overview");
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
        cursor.branch = cursor.lastSnippet = std::nullopt;
        h.provider(AgentTool::claude).setSessions({waiting});
        h.provider(AgentTool::codex).setSessions({working});
        h.provider(AgentTool::cursor).setSessions({cursor});
        h.load();
        h.showSection("sessions");
        ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).size() == 3; }));
    }

    QQuickItem* row(const QString& id) { return sessionRows(h, id).value(0); }
    QObject* openMenu(const QString& id)
    {
        click(row(id)->findChild<QQuickItem*>("actionsButton"));
        QObject* menu = row(id)->findChild<QObject*>("actionsMenu");
        return shows(menu) ? menu : nullptr;
    }
    void trigger(const QString& id, const char* action)
    {
        QMetaObject::invokeMethod(openMenu(id)->findChild<QObject*>(action), "triggered");
    }

    UiHarness h;
    model::AgentSession working = sessionAt(h, AgentTool::codex, "working", 2);
    model::AgentSession cursor = sessionAt(h, AgentTool::cursor, "process:9", 3, SessionState::limited);
};

TEST_F(SessionsView, LongTextsStayInsideTheRowAndAnEmptySearchSaysSo)
{
    screenshot(h.dashboard(), "dashboard-sessions");
    QQuickItem* wide = row("codex:working");
    const QQuickItem* menuButton = wide->findChild<QQuickItem*>("actionsButton");
    EXPECT_LE(menuButton->mapRectToItem(wide, menuButton->boundingRect()).right(), wide->width() + 0.5);
    // Without a snippet the tool's name stands in; without a branch no branch label shows.
    EXPECT_EQ(text(find(row("cursor:process:9"), "snippet")), "Cursor");
    EXPECT_FALSE(visible(find(row("cursor:process:9"), "branch")));

    h.controller->sessions()->setSearch("INVOICE ");
    ASSERT_TRUE(processEventsUntil([&] { return sessionRows(h).isEmpty() && visible(h.find("sessions.empty")); }));
    EXPECT_EQ(h.find("sessions.empty")->property("title").toString(),
              QString::fromUtf8("No Results for \u201CINVOICE \u201D"));
    screenshot(h.dashboard(), "dashboard-sessions-no-results");
}

TEST_F(SessionsView, MenuOffersTerminationOnlyWithAProcess)
{
    for (const auto& [id, expected] : {std::pair{"cursor:process:9", QStringList{"Generate Handoff"}},
                                       {"claude:waiting", {"Generate Handoff", "Terminate Process\u2026"}}}) {
        QObject* menu = openMenu(id);
        QStringList shown;
        for (QObject* item : menu->findChildren<QObject*>())
            if (item->objectName().startsWith("action.") && visible(item))
                shown << text(item);
        EXPECT_EQ(shown, expected);
        QMetaObject::invokeMethod(menu, "close");
        ASSERT_TRUE(shows(menu, false));
    }
}

TEST_F(SessionsView, TerminationAsksFirstAndAFailureShowsThePidUntilDismissed)
{
    QObject* dialog = h.find("terminateDialog");
    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(shows(dialog));
    EXPECT_EQ(dialog->property("title").toString(), "Terminate billing-service?");
    EXPECT_EQ(text(h.find("terminateDialog.message")),
              "Loomwatch will send SIGTERM to process 1. Unsaved agent work may be lost.");
    screenshot(h.dashboard(), "dashboard-terminate-confirmation");
    QTest::keyClick(h.dashboard(), Qt::Key_Escape);
    ASSERT_TRUE(shows(dialog, false));
    EXPECT_TRUE(h.terminated.empty()) << "cancelling sends nothing";

    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(shows(dialog));
    click(h.find("terminateDialog.terminate"));
    EXPECT_EQ(h.terminated, (decltype(h.terminated){{1, AgentTool::claude}}));
    ASSERT_TRUE(shows(h.find("errorAlert")));
    EXPECT_EQ(text(h.find("errorAlert.message")), "Could not terminate process 1.");
    screenshot(h.dashboard(), "dashboard-error-alert");
    click(h.find("errorAlert.ok"));
    EXPECT_TRUE(shows(h.find("errorAlert"), false)) << "closing clears the line, which opens nothing";
    EXPECT_FALSE(h.controller->hasError());

    // The session leaves the list while the question is open: nothing is sent or said.
    trigger("codex:working", "action.terminate");
    ASSERT_TRUE(shows(dialog));
    h.provider(AgentTool::codex).setSessions({});
    ASSERT_TRUE(h.refresh());
    click(h.find("terminateDialog.terminate"));
    EXPECT_EQ(h.terminated.size(), 1u);
    EXPECT_FALSE(h.controller->hasError());
}

TEST_F(SessionsView, HandoffPreviewCopiesTheEditedText)
{
    trigger("claude:waiting", "action.handoff");
    QObject* sheet = h.find("handoffPreview");
    ASSERT_TRUE(shows(sheet));
    EXPECT_EQ(text(h.find("handoffPreview.editor")), "# Continuation Handoff\n\nProject: billing-service\n");
    h.find("handoffPreview.editor")->setProperty("text", "edited by hand");
    click(h.find("handoffPreview.copy"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "edited by hand");
    ASSERT_TRUE(shows(sheet, false));

    h.handoffError = "Could not read /home/dev/.claude/projects/x.jsonl: No such file or directory";
    trigger("codex:working", "action.handoff");
    EXPECT_FALSE(visible(sheet)) << "a failure shows no sheet";
    EXPECT_EQ(h.controller->errorMessage(), QString::fromStdString(*h.handoffError));
}

TEST(TrayPanel, StatusLineFiveRowsShortNamesAndNoActiveAgents)
{
    UiHarness h;
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < 7; ++i) {
        sessions.push_back(sessionAt(h, AgentTool::claude, std::to_string(i), i + 1));
        sessions.back().projectName = i < 2 ? std::string(31 - i, i ? 'm' : 'n') : "project-" + std::to_string(i);
    }
    sessions[2].state = SessionState::waitingForInput;
    h.provider(AgentTool::claude).setSessions(sessions);
    h.load();
    h.tray.click();
    QQuickWindow* panel = h.panel();
    QStringList names;
    ASSERT_TRUE(processEventsUntil([&] {
        names.clear();
        for (QQuickItem* label : itemsStartingWith(panel, "trayPanel.rowName"))
            names << text(label);
        return panel->isVisible() && names.size() == 5;
    }));
    EXPECT_EQ(names.mid(0, 2), (QStringList{QString(27, 'n') + QChar(0x2026), QString(30, 'm')}));
    EXPECT_EQ(text(find(panel, "trayPanel.status")), "1 waiting");
    EXPECT_FALSE(visible(find(panel, "trayPanel.empty")));
    screenshot(panel, "tray-panel");

    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "e", 1, SessionState::errored),
                      sessionAt(h, AgentTool::claude, "d", 2, SessionState::ended)});
    ASSERT_TRUE(h.refresh());
    EXPECT_TRUE(visible(find(panel, "trayPanel.empty")));
    EXPECT_EQ(text(find(panel, "trayPanel.status")), "Idle");
    EXPECT_EQ(h.tray.icon, "exclamationmark.triangle.fill");
}

TEST(Onboarding, ShownAtFirstLaunchUntilContinuedThenNeverAgain)
{
    TempDir shared;
    UiHarness::Options options{.settingsFile = shared / "Loomwatch.conf"};
    {
        UiHarness h(options);
        h.provider(AgentTool::openCode).closeGate(); // the probes arrive only later
        h.load(false, false);
        ASSERT_TRUE(shows(h.find("onboarding")));
        EXPECT_FALSE(h.find("onboarding.tool.claude"));
        h.provider(AgentTool::openCode).openGate();
        ASSERT_TRUE(h.refreshed());
        EXPECT_TRUE(processEventsUntil([&] {
            return text(h.find("onboarding.tool.claude")) == QString::fromUtf8("Claude Code \u2014 Detected");
        }));
        screenshot(h.dashboard(), "onboarding");
        QTest::keyClick(h.dashboard(), Qt::Key_Escape);
        EXPECT_TRUE(h.find("onboarding")->property("opened").toBool()) << "only its button closes it";
        click(h.find("onboarding.continue"));
        EXPECT_TRUE(shows(h.find("onboarding"), false));
    }
    UiHarness again(options);
    again.load(false);
    EXPECT_FALSE(visible(again.find("onboarding")));
}

TEST(Keyboard, ShortcutsTheSidebarsArrowsAndAFreshDashboardOnEveryOpening)
{
    UiHarness h;
    h.load();
    QQuickWindow* window = h.dashboard();
    const auto section = [&] {
        return window->property("section").toString();
    };
    QTest::keyClick(window, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(section(), "costs");
    click(h.find("sidebar.costs"));
    EXPECT_EQ(section(), "costs") << "a click on the selected section keeps it";
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(section(), "diagnostics");
    QTest::keyClick(window, Qt::Key_Up);
    EXPECT_EQ(section(), "costs");

    const int refreshes = h.provider(AgentTool::claude).sessionCalls();
    QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([&] { return h.provider(AgentTool::claude).sessionCalls() > refreshes; }));
    QTest::keyClick(window, Qt::Key_1, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(section(), "sessions");
    EXPECT_TRUE(h.find("sessions.search")->property("activeFocus").toBool());
    QTest::keyClick(window, 'b');
    EXPECT_EQ(h.controller->sessions()->search(), "b");

    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([&] { return h.settingsWindow()->isVisible(); }));
    QTest::keyClick(h.settingsWindow(), Qt::Key_Escape);
    EXPECT_TRUE(processEventsUntil([&] { return !h.settingsWindow()->isVisible(); }));

    window->close();
    ASSERT_TRUE(processEventsUntil([&] { return !window->isVisible(); }));
    h.controller->openDashboard();
    EXPECT_EQ(section(), "overview");
    EXPECT_EQ(h.controller->sessions()->search(), "");

    // Ctrl+Q ends the event loop with success.
    QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST(Notifications, AClickOpensItsSessionInViewOrTheCosts)
{
    PrivateBus bus;
    if (!bus.isUp())
        GTEST_SKIP() << "dbus-daemon is not available";
    FakeNotificationServer server;
    ASSERT_TRUE(bus.serve(server));
    auto notifier = std::make_shared<core::DBusNotifier>(*bus.client, 2000);
    UiHarness h({.notifier = notifier});
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < 40; ++i)
        sessions.push_back(sessionAt(h, AgentTool::codex, std::to_string(i), i + 1));
    h.provider(AgentTool::codex).setSessions(sessions);
    h.load();
    h.controller->sessions()->setSearch("no such project");
    h.dashboard()->close();

    int posted = 0;
    notifier->post(core::NotificationService::waitingRequest(sessions[35], true), [&](bool ok) { posted += ok; });
    notifier->post(core::NotificationService::budgetRequest(10, h.clock->now(), true), [&](bool ok) { posted += ok; });
    ASSERT_TRUE(processEventsUntil([&] { return posted == 2; }));
    server.click(server.calls[0], *bus.server);
    ASSERT_TRUE(processEventsUntil([&] { return h.dashboard()->isVisible(); }));
    EXPECT_EQ(h.dashboard()->property("section").toString(), "sessions");
    QQuickItem* list = qobject_cast<QQuickItem*>(h.find("sessions.list"));
    EXPECT_TRUE(processEventsUntil([&] { return list->property("currentIndex").toInt() == 35; }));
    QQuickItem* row = sessionRows(h, "codex:35").value(0);
    const QRectF shown = row->mapRectToItem(list, row->boundingRect());
    EXPECT_TRUE(shown.top() >= 0 && shown.bottom() <= list->height()) << "the session is in view";
    screenshot(h.dashboard(), "notification-click-session");

    server.click(server.calls[1], *bus.server);
    EXPECT_TRUE(processEventsUntil([&] { return h.dashboard()->property("section").toString() == "costs"; }));
}

} // namespace
} // namespace loomwatch::testing
