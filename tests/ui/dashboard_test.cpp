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

QString text(QObject* item)
{
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

// Visible SessionRow delegates below `in`, in list order.
QList<QQuickItem*> visibleRows(QObject* in)
{
    QList<QQuickItem*> rows;
    for (QQuickItem* item : UiHarness::items(qobject_cast<QQuickItem*>(in))) {
        if (item->objectName().startsWith("sessionRow.") && item->isVisible())
            rows << item;
    }
    std::sort(rows.begin(), rows.end(), [](QQuickItem* a, QQuickItem* b) {
        return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
    });
    return rows;
}

void showSection(UiHarness& h, const char* name)
{
    h.dashboard()->setProperty("section", QString::fromLatin1(name));
    UiHarness::settle(100);
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

    auto* overview = h.find(h.dashboard(), "overview");
    ASSERT_TRUE(overview);
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.active"), "metricValue")), "12");
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.working"), "metricValue")), "11");
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.waiting"), "metricValue")), "1");
    // 12 sessions of 1,200 input, 410 output, 45,000 cache-read and 1,200 cache-write tokens at the
    // test prices, plus the ended one, all today.
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.today"), "metricValue")), "$0.36");

    const auto rows = visibleRows(h.find(h.dashboard(), "attention.list"));
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows.front()->property("projectName").toString(), "project-0");
    EXPECT_EQ(rows.back()->property("projectName").toString(), "project-9");
    EXPECT_FALSE(h.find<QQuickItem>(h.dashboard(), "attention.empty")->isVisible());
    for (QQuickItem* row : rows)
        EXPECT_GT(row->width(), 400) << "rows must span the overview";

    UiHarness::screenshot(h.dashboard(), "dashboard-overview");
    EXPECT_EQ(h.tray.icon, "person.crop.circle.badge.exclamationmark");
}

TEST(Overview, NoActiveSessionsShowsTheEmptyPanelAndAZeroAmount)
{
    UiHarness h;
    h.provider(AgentTool::codex).setSessions({sessionAt(h, AgentTool::codex, "done", 5, SessionState::ended)});
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    EXPECT_TRUE(h.find<QQuickItem>(h.dashboard(), "attention.empty")->isVisible());
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.active"), "metricValue")), "0");
    EXPECT_EQ(text(h.find(h.find(h.dashboard(), "metric.today"), "metricValue")), "$0.00");
    EXPECT_EQ(h.tray.icon, "circle.dotted");
    UiHarness::screenshot(h.dashboard(), "dashboard-overview-empty");
}

TEST(Dashboard, ErrorAlertShowsTheMessageAndOkClearsIt)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.provider(AgentTool::codex).setError("permission denied");
    h.load();

    auto* alert = h.find(h.dashboard(), "errorAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->property("opened").toBool() || alert->property("visible").toBool());
    EXPECT_EQ(alert->property("title").toString(), "Loomwatch");
    EXPECT_EQ(text(h.find(h.dashboard(), "errorAlert.message")), "Codex: permission denied");
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

TEST(Dashboard, ToolbarRefreshIsDisabledWhileRefreshing)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    auto* button = h.find(h.dashboard(), "toolbar.refresh");
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->property("enabled").toBool());

    h.provider(AgentTool::claude).closeGate();
    UiHarness::click(qobject_cast<QQuickItem*>(button));
    ASSERT_TRUE(processEventsUntil([&] { return h.provider(AgentTool::claude).waitingAtGate() > 0; }));
    UiHarness::settle();
    EXPECT_TRUE(h.store->isRefreshing());
    EXPECT_FALSE(button->property("enabled").toBool());
    h.provider(AgentTool::claude).openGate();
    ASSERT_TRUE(processEventsUntil([&] { return !h.store->isRefreshing(); }));
    UiHarness::settle();
    EXPECT_TRUE(button->property("enabled").toBool());
}

TEST(Dashboard, ClearingTheSidebarSelectionShowsTheOverview)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    showSection(h, "sessions");
    EXPECT_TRUE(h.find<QQuickItem>(h.dashboard(), "sessions")->isVisible());
    auto* row = UiHarness::item(h.dashboard(), "sidebar.sessions");
    ASSERT_TRUE(row);
    UiHarness::click(row); // the selected section again: no selection
    EXPECT_EQ(h.dashboard()->property("section").toString(), "");
    EXPECT_TRUE(h.find<QQuickItem>(h.dashboard(), "overview")->isVisible());
    EXPECT_FALSE(h.find<QQuickItem>(h.dashboard(), "sessions")->isVisible());
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
        cursor.projectName = "design-system";
        cursor.branch.reset();
        cursor.lastSnippet.reset();
        h.provider(AgentTool::claude).setSessions({waiting});
        h.provider(AgentTool::codex).setSessions({working});
        h.provider(AgentTool::cursor).setSessions({cursor});
        h.settings->setDidCompleteOnboarding(true);
        h.load();
        showSection(h, "sessions");
    }

    QQuickItem* row(const QString& id) { return h.find<QQuickItem>(h.dashboard(), "sessionRow." + id); }

    QObject* sessionsRow(const QString& id)
    {
        for (QQuickItem* item : visibleRows(h.find(h.dashboard(), "sessions.list"))) {
            if (item->objectName() == "sessionRow." + id)
                return item;
        }
        return nullptr;
    }

    QObject* openMenu(QObject* sessionRow)
    {
        UiHarness::click(sessionRow->findChild<QQuickItem*>("actionsButton"));
        auto* menu = sessionRow->findChild<QObject*>("actionsMenu");
        return menu;
    }

    UiHarness h;
};

TEST_F(SessionsViewTest, SearchFiltersAsYouTypeAndShowsTheEmptyPanel)
{
    auto* field = h.find<QQuickItem>(h.dashboard(), "sessions.search");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->property("placeholderText").toString(), "Project, tool, or branch");
    EXPECT_EQ(visibleRows(h.find(h.dashboard(), "sessions.list")).size(), 3);

    field->forceActiveFocus();
    UiHarness::type(h.dashboard(), "INVOICE");
    EXPECT_EQ(visibleRows(h.find(h.dashboard(), "sessions.list")).size(), 1);
    EXPECT_FALSE(h.find<QQuickItem>(h.dashboard(), "sessions.empty")->isVisible());

    UiHarness::type(h.dashboard(), " ");
    EXPECT_EQ(visibleRows(h.find(h.dashboard(), "sessions.list")).size(), 0);
    auto* empty = h.find<QQuickItem>(h.dashboard(), "sessions.empty");
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->property("title").toString(), QString::fromUtf8("No Results for \u201CINVOICE \u201D"));
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions-no-results");
}

TEST_F(SessionsViewTest, RowsShowBadgesAndElideLongTexts)
{
    UiHarness::screenshot(h.dashboard(), "dashboard-sessions");
    auto* waiting = sessionsRow("claude:waiting");
    auto* working = sessionsRow("codex:working");
    auto* cursor = sessionsRow("cursor:process:9");
    ASSERT_TRUE(waiting && working && cursor);
    const QColor waitingColour = waiting->findChild<QObject*>("stateBadge")->property("color").value<QColor>();
    const QColor workingColour = working->findChild<QObject*>("stateBadge")->property("color").value<QColor>();
    EXPECT_NE(waitingColour, workingColour);
    EXPECT_EQ(workingColour, cursor->findChild<QObject*>("stateBadge")->property("color").value<QColor>());

    // Without a snippet the tool's name stands in; without a branch no branch label shows.
    EXPECT_EQ(text(cursor->findChild<QObject*>("snippet")), "Cursor");
    EXPECT_FALSE(cursor->findChild<QQuickItem*>("branch")->isVisible());

    // Long texts elide inside the row instead of pushing the badge and menu out.
    auto* workingRow = qobject_cast<QQuickItem*>(working);
    auto* menuButton = workingRow->findChild<QQuickItem*>("actionsButton");
    const QRectF buttonRect = menuButton->mapRectToItem(workingRow, menuButton->boundingRect());
    EXPECT_LE(buttonRect.right(), workingRow->width() + 0.5);
    EXPECT_GT(workingRow->findChild<QQuickItem*>("projectName")->width(), 50);
    EXPECT_TRUE(workingRow->findChild<QQuickItem*>("snippet")->property("truncated").toBool());
}

TEST_F(SessionsViewTest, MenuOffersTerminationOnlyWithAProcess)
{
    auto visibleTexts = [](QObject* menu) {
        QStringList texts;
        for (QObject* item : menu->findChildren<QObject*>()) {
            if (item->objectName().startsWith("action.") && item->property("visible").toBool())
                texts << item->property("text").toString();
        }
        return texts;
    };
    auto* withProcess = openMenu(sessionsRow("claude:waiting"));
    ASSERT_TRUE(withProcess);
    EXPECT_EQ(visibleTexts(withProcess),
              (QStringList{"Generate Handoff", QString::fromUtf8("Terminate Process\u2026")}));
    UiHarness::screenshot(h.dashboard(), "dashboard-session-menu");
    QMetaObject::invokeMethod(withProcess, "close");
    UiHarness::settle();

    auto* withoutProcess = openMenu(sessionsRow("cursor:process:9"));
    ASSERT_TRUE(withoutProcess);
    EXPECT_EQ(visibleTexts(withoutProcess), QStringList{"Generate Handoff"});
    QMetaObject::invokeMethod(withoutProcess, "close");
}

TEST_F(SessionsViewTest, TerminationAsksFirstAndReportsAFailureWithThePid)
{
    auto* menu = openMenu(sessionsRow("claude:waiting"));
    QMetaObject::invokeMethod(menu->findChild<QObject*>("action.terminate"), "triggered");
    UiHarness::settle(200);
    auto* dialog = h.find(h.dashboard(), "terminateDialog");
    ASSERT_TRUE(dialog->property("visible").toBool());
    EXPECT_EQ(dialog->property("title").toString(), "Terminate billing-service?");
    EXPECT_EQ(text(h.find(h.dashboard(), "terminateDialog.message")),
              "Loomwatch will send SIGTERM to process 1. Unsaved agent work may be lost.");
    UiHarness::screenshot(h.dashboard(), "dashboard-terminate-confirmation");

    // Cancel sends nothing.
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "terminateDialog.cancel"));
    UiHarness::settle(300);
    EXPECT_TRUE(h.terminated.empty());

    QMetaObject::invokeMethod(menu->findChild<QObject*>("action.terminate"), "triggered");
    UiHarness::settle(200);
    UiHarness::click(h.find<QQuickItem>(h.dashboard(), "terminateDialog.terminate"));
    UiHarness::settle(300);
    ASSERT_EQ(h.terminated.size(), 1u);
    EXPECT_EQ(h.terminated[0], std::make_pair(1, AgentTool::claude));
    EXPECT_EQ(h.store->errorMessageText(), "Could not terminate process 1.");
    EXPECT_TRUE(h.find(h.dashboard(), "errorAlert")->property("visible").toBool());
}

TEST_F(SessionsViewTest, HandoffPreviewCopiesTheEditedTextAndSurvivesTheSessionLeaving)
{
    auto* menu = openMenu(sessionsRow("claude:waiting"));
    QMetaObject::invokeMethod(menu->findChild<QObject*>("action.handoff"), "triggered");
    UiHarness::settle(200);
    auto* sheet = h.find(h.dashboard(), "handoffPreview");
    ASSERT_TRUE(sheet->property("visible").toBool());
    auto* editor = h.find(h.dashboard(), "handoffPreview.editor");
    EXPECT_EQ(text(editor), "# Continuation Handoff\n\nProject: billing-service\n");
    UiHarness::screenshot(h.dashboard(), "dashboard-handoff-preview");

    // The session vanishes while the sheet is open: the sheet keeps its text.
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
    auto* menu = openMenu(sessionsRow("claude:waiting"));
    QMetaObject::invokeMethod(menu->findChild<QObject*>("action.handoff"), "triggered");
    UiHarness::settle(200);
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
    EXPECT_EQ(panel->width(), 330);
    EXPECT_EQ(text(h.find(panel, "trayPanel.status")), "1 waiting");
    QStringList names;
    for (QQuickItem* label : UiHarness::items(panel->contentItem())) {
        if (label->objectName() == "trayPanel.rowName")
            names << text(label);
    }
    ASSERT_EQ(names.size(), 5);
    EXPECT_TRUE(names.contains(QString(27, 'n') + QChar(0x2026)));
    EXPECT_TRUE(names.contains(QString(30, 'm')));
    EXPECT_FALSE(h.find<QQuickItem>(panel, "trayPanel.empty")->isVisible());
    UiHarness::screenshot(panel, "tray-panel");

    // Settings… opens the settings window and closes the panel.
    UiHarness::click(h.find<QQuickItem>(panel, "trayPanel.settings"));
    UiHarness::settle(200);
    EXPECT_TRUE(h.settingsWindow()->isVisible());
    EXPECT_EQ(h.settingsWindow()->title(), "Settings");
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
    EXPECT_EQ(text(h.find(h.panel(), "trayPanel.status")), "Idle");
    EXPECT_EQ(h.tray.icon, "exclamationmark.triangle.fill");
    UiHarness::screenshot(h.panel(), "tray-panel-empty");
}

TEST(Onboarding, ShownAtFirstLaunchFillsInAndNeverAgain)
{
    TempDir shared;
    const std::string file = shared.path() + "/Loomwatch.conf";
    {
        UiHarness::Options options;
        options.settingsFile = file;
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
        EXPECT_EQ(text(UiHarness::item(h.dashboard(), "onboarding.tool.claude")),
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
    UiHarness::Options options;
    options.settingsFile = file;
    UiHarness again(options);
    again.load();
    EXPECT_FALSE(again.find(again.dashboard(), "onboarding")->property("visible").toBool());
}

TEST(Shell, WindowGeometryTitlesAndUpdateCommand)
{
    UiHarness h;
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    QQuickWindow* dashboard = h.dashboard();
    EXPECT_EQ(dashboard->title(), "Loomwatch");
    EXPECT_EQ(dashboard->minimumSize(), QSize(920, 620));
    EXPECT_EQ(dashboard->size(), QSize(1120, 760));
    EXPECT_FALSE(h.find(dashboard, "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_FALSE(h.tray.updateCheckEnabled);
    for (const char* id : {"sidebar.overview", "sidebar.sessions", "sidebar.costs", "sidebar.diagnostics"})
        EXPECT_TRUE(UiHarness::item(dashboard, id)) << id;

    UiHarness::Options signedBuild;
    signedBuild.applicationInfo = QJsonObject{{"SUPublicEDKey", "pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ="}};
    UiHarness released(signedBuild);
    released.settings->setDidCompleteOnboarding(true);
    released.load();
    EXPECT_TRUE(released.find(released.dashboard(), "menu.checkForUpdates")->property("enabled").toBool());
    EXPECT_TRUE(released.tray.updateCheckEnabled);
}

} // namespace
} // namespace loomwatch::testing

namespace loomwatch::testing {
namespace {

TEST(Look, DarkPaletteKeepsTextReadable)
{
    const QPalette light = QGuiApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xef));
    dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xef));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xef));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x84, 0xf6));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    QGuiApplication::setPalette(dark);

    UiHarness h;
    auto waiting = sessionAt(h, AgentTool::claude, "w", 1, SessionState::waitingForInput);
    waiting.processID = 4242;
    h.provider(AgentTool::claude).setSessions({waiting, sessionAt(h, AgentTool::claude, "x", 2)});
    h.settings->setDidCompleteOnboarding(true);
    h.load();
    const QImage image = UiHarness::screenshot(h.dashboard(), "dashboard-overview-dark");
    // The window background follows the palette.
    EXPECT_LT(QColor(image.pixel(image.width() - 5, image.height() - 5)).lightness(), 80);
    h.tray.click();
    UiHarness::settle(200);
    UiHarness::screenshot(h.panel(), "tray-panel-dark");
    QGuiApplication::setPalette(light);
}

} // namespace
} // namespace loomwatch::testing
