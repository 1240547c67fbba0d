#include "uiharness.h"

#include "core/notificationservice.h"

#include <QClipboard>
#include <QQmlEngineExtensionPlugin>

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

// Twelve active sessions: the overview lists ten and counts twelve; the tray panel lists five, names
// shortened, and says who waits.
TEST(ActiveSessions, TheOverviewListsTenAndCountsTwelveAndThePanelListsFive)
{
    UiHarness h;
    std::vector<model::AgentSession> claude{sessionAt(h, AgentTool::claude, "old", 200, SessionState::ended)};
    for (int i = 0; i < 12; ++i) {
        claude.push_back(sessionAt(h, AgentTool::claude, std::to_string(i), i + 1,
                                   i == 3 ? SessionState::waitingForInput : SessionState::working));
        claude.back().projectName = i < 2 ? std::string(31 - i, i ? 'm' : 'n') : "project-" + std::to_string(i);
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
    QQuickTest::qWaitForPolish(h.dashboard());
    EXPECT_GT(sessionRows(h).front()->width(), 400) << "rows must span the overview";
    EXPECT_EQ(h.tray.icon, "person.crop.circle.badge.exclamationmark");
    screenshot(h.dashboard(), "dashboard-overview");

    h.tray.click();
    QQuickWindow* panel = h.panel();
    QStringList names;
    const auto rowNames = [&] {
        QQuickTest::qWaitForPolish(panel);
        names.clear();
        for (QQuickItem* label : itemsStartingWith(panel, "trayPanel.rowName"))
            names << text(label);
        return names.size() == 5;
    };
    ASSERT_TRUE(processEventsUntil([&] { return panel->isVisible() && rowNames(); }));
    EXPECT_EQ(names.mid(0, 2), (QStringList{QString(27, 'n') + QChar(0x2026), QString(30, 'm')}));
    EXPECT_EQ(text(find(panel, "trayPanel.status")), "1 waiting");
    screenshot(panel, "tray-panel");
    // One of the five ends and the sixth moves up; a new one on top pushes the last one out.
    claude[3].state = SessionState::ended;
    claude.push_back(sessionAt(h, AgentTool::claude, "new", 0));
    h.provider(AgentTool::claude).setSessions(claude);
    ASSERT_TRUE(h.refresh() && rowNames());
    EXPECT_EQ((QStringList{names.first(), names.last()}), (QStringList{"api-server", "project-4"}));

    h.provider(AgentTool::claude)
        .setSessions({sessionAt(h, AgentTool::claude, "e", 1, SessionState::errored),
                      sessionAt(h, AgentTool::claude, "d", 2, SessionState::ended)});
    ASSERT_TRUE(h.refresh());
    EXPECT_TRUE(visible(find(panel, "trayPanel.empty")));
    EXPECT_EQ(text(find(panel, "trayPanel.status")), "Idle");
    EXPECT_EQ(h.tray.icon, "exclamationmark.triangle.fill");
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

TEST_F(SessionsView, TerminationIsOfferedWithAProcessAsksFirstAndAFailureShowsThePidUntilDismissed)
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
    QObject* dialog = h.find("terminateDialog");
    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(shows(dialog));
    EXPECT_EQ(dialog->property("title").toString(), "Terminate billing-service?");
    EXPECT_EQ(text(h.find("terminateDialog.message")),
              "Loomwatch will send SIGTERM to process 1. Unsaved agent work may be lost.");
    QTest::keyClick(h.dashboard(), Qt::Key_Escape);
    ASSERT_TRUE(shows(dialog, false));
    EXPECT_TRUE(h.terminated.empty()) << "cancelling sends nothing";

    trigger("claude:waiting", "action.terminate");
    ASSERT_TRUE(shows(dialog));
    click(h.find("terminateDialog.terminate"));
    EXPECT_EQ(h.terminated, (decltype(h.terminated){{1, AgentTool::claude}}));
    ASSERT_TRUE(shows(h.find("errorAlert")));
    EXPECT_EQ(text(h.find("errorAlert.message")), "Could not terminate process 1.");
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

TEST_F(SessionsView, LongTextsStayInsideTheRowAndTheHandoffPreviewCopiesTheEditedText)
{
    screenshot(h.dashboard(), "dashboard-sessions");
    QQuickItem* wide = row("codex:working");
    const QQuickItem* menuButton = wide->findChild<QQuickItem*>("actionsButton");
    EXPECT_LE(menuButton->mapRectToItem(wide, menuButton->boundingRect()).right(), wide->width() + 0.5);

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

// A first launch: onboarding until it is continued; then the shortcuts and a fresh dashboard on every
// opening; no onboarding at the next launch.
TEST(FirstLaunch, OnboardingUntilContinuedTheShortcutsAndAFreshDashboardOnEveryOpening)
{
    TempDir shared;
    UiHarness::Options options{.settingsFile = shared / "Loomwatch.conf"};
    {
        UiHarness h(options);
        h.load(false, false);
        ASSERT_TRUE(shows(h.find("onboarding")));
        EXPECT_TRUE(processEventsUntil([&] {
            return text(h.find("onboarding.tool.claude")) == QString::fromUtf8("Claude Code \u2014 Detected");
        }));
        screenshot(h.dashboard(), "onboarding");
        QTest::keyClick(h.dashboard(), Qt::Key_Escape);
        EXPECT_TRUE(h.find("onboarding")->property("opened").toBool()) << "only its button closes it";
        click(h.find("onboarding.continue"));
        EXPECT_TRUE(shows(h.find("onboarding"), false));
        ASSERT_TRUE(h.refreshed());

        QQuickWindow* window = h.dashboard();
        QStringList sections;
        const int refreshes = h.provider(AgentTool::claude).sessionCalls();
        QTest::keySequence(window, QKeySequence("Ctrl+3"));
        click(h.find("sidebar.costs"));
        for (const char* keys : {"Down", "Up", "Ctrl+R", "Ctrl+4", "Ctrl+F"}) {
            QTest::keySequence(window, QKeySequence(keys));
            sections << window->property("section").toString();
        }
        EXPECT_EQ(sections, (QStringList{"diagnostics", "costs", "costs", "diagnostics", "sessions"}));
        EXPECT_TRUE(processEventsUntil([&] { return h.provider(AgentTool::claude).sessionCalls() > refreshes; }));
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
        EXPECT_EQ(window->property("section").toString(), "overview");
        EXPECT_EQ(h.controller->sessions()->search(), "");
        // Ctrl+Q ends the event loop with success.
        QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QCoreApplication::exec(), 0);
    }
    UiHarness again(options);
    again.load(false);
    EXPECT_FALSE(visible(again.find("onboarding")));
}

// Hands the click handler the controller installs to the test; the desktop's side of a click is the notifier's own
// test.
class ClickableNotifier final : public core::Notifier
{
public:
    void post(const core::NotificationRequest&, std::function<void(bool)> done) override { done(true); }
    void checkAvailable(std::function<void(bool)> done) override { done(true); }
    void setActivationHandler(std::function<void(const std::string&)> handler) override { click = std::move(handler); }
    std::function<void(const std::string&)> click;
};

TEST(Notifications, AClickOpensItsSessionInViewOrTheCosts)
{
    auto notifier = std::make_shared<ClickableNotifier>();
    UiHarness h({.notifier = notifier});
    std::vector<model::AgentSession> sessions;
    for (int i = 0; i < 40; ++i)
        sessions.push_back(sessionAt(h, AgentTool::codex, std::to_string(i), i + 1));
    h.provider(AgentTool::codex).setSessions(sessions);
    h.load();
    h.controller->sessions()->setSearch("no such project");
    h.dashboard()->close();

    notifier->click(core::NotificationService::waitingRequest(sessions[35], true).identifier);
    ASSERT_TRUE(processEventsUntil([&] { return h.dashboard()->isVisible(); }));
    EXPECT_EQ(h.dashboard()->property("section").toString(), "sessions");
    QQuickItem* list = qobject_cast<QQuickItem*>(h.find("sessions.list"));
    EXPECT_TRUE(processEventsUntil([&] { return list->property("currentIndex").toInt() == 35; }));
    QQuickItem* row = sessionRows(h, "codex:35").value(0);
    const QRectF shown = row->mapRectToItem(list, row->boundingRect());
    EXPECT_TRUE(shown.top() >= 0 && shown.bottom() <= list->height()) << "the session is in view";
    screenshot(h.dashboard(), "notification-click-session");

    notifier->click(core::NotificationService::budgetRequest(10, h.clock->now(), true).identifier);
    EXPECT_TRUE(processEventsUntil([&] { return h.dashboard()->property("section").toString() == "costs"; }));
}

} // namespace
} // namespace loomwatch::testing
