#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QVariant>
#include <QtQmlIntegration>

#include "ui/preferencescontroller.h"
#include "ui/sessionfiltermodel.h"
#include "ui/sessionlistmodel.h"
#include "ui/updater.h"

#include <functional>
#include <memory>
#include <string>

class QQmlEngine;
class QJSEngine;

namespace loomwatch::core {
class AppStore;
class Notifier;
class Settings;
} // namespace loomwatch::core

namespace loomwatch::ui {

class TrayHost;

// The one object QML talks to ("Backend"): the store's state, the three session lists, the derived
// texts, and every user action. Each QML engine gets the controller attached to it with attach().
// A property's signal fires only when its value changed.
class AppController : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Backend)
    QML_SINGLETON
    Q_PROPERTY(int workingCount READ workingCount NOTIFY workingCountChanged)
    Q_PROPERTY(int waitingCount READ waitingCount NOTIFY waitingCountChanged)
    Q_PROPERTY(int activeCount READ activeCount NOTIFY activeCountChanged)
    Q_PROPERTY(int sessionCount READ sessionCount NOTIFY sessionCountChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    // The store's one error line; empty when there is none.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY hasErrorChanged)
    // Every session, filtered by its search text.
    Q_PROPERTY(loomwatch::ui::SessionFilterModel* sessions READ sessions CONSTANT)
    // The first 10 active sessions.
    Q_PROPERTY(loomwatch::ui::SessionFilterModel* attention READ attention CONSTANT)
    // The first 5 active sessions.
    Q_PROPERTY(loomwatch::ui::SessionFilterModel* panelSessions READ panelSessions CONSTANT)
    Q_PROPERTY(loomwatch::ui::Updater* updater READ updater CONSTANT)
    Q_PROPERTY(loomwatch::ui::PreferencesController* preferences READ preferences CONSTANT)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY summaryChanged)
    Q_PROPERTY(QString trayIconName READ trayIconName NOTIFY summaryChanged)
    Q_PROPERTY(QString todayCostText READ todayCostText NOTIFY summaryChanged)
    // One entry per tool in case order: tool, name, symbol, amount, identifier, accessibleName.
    Q_PROPERTY(QVariantList costLines READ costLines NOTIFY summaryChanged)
    // The last seven days' bars (see weekChart()); empty until first counted. Counted while costsShown is
    // true: when it becomes true, and after each full refresh.
    Q_PROPERTY(QVariantList weekCosts READ weekCosts NOTIFY weekCostsChanged)
    Q_PROPERTY(bool costsShown READ costsShown WRITE setCostsShown NOTIFY costsShownChanged)
    // One entry per probe in the store's order: tool, name, installed, supportLevel, detectedPath,
    // lastError (empty when none), hasError.
    Q_PROPERTY(QVariantList probes READ probes NOTIFY probesChanged)
    Q_PROPERTY(QString lastRefreshText READ lastRefreshText NOTIFY lastRefreshChanged)
    Q_PROPERTY(bool trayAvailable READ trayAvailable CONSTANT)
    // The dashboard shows at launch unless the user chose otherwise and the tray gives a way back to it;
    // the first launch always shows it (onboarding).
    Q_PROPERTY(bool openDashboardAtLaunch READ openDashboardAtLaunch CONSTANT)
    Q_PROPERTY(bool showOnboarding READ showOnboarding NOTIFY showOnboardingChanged)
    // Regular (windows in the taskbar) or accessory (tool windows only) presence.
    Q_PROPERTY(bool showInTaskbar READ showInTaskbar WRITE setShowInTaskbar NOTIFY showInTaskbarChanged)

public:
    // The two operations on one session that leave the UI layer. Both throw; what() is shown.
    struct SessionActions
    {
        std::function<std::string(const model::AgentSession&)> generateHandoff;
        std::function<void(std::int32_t pid, model::AgentTool tool)> terminate;
    };

    struct Dependencies
    {
        core::AppStore* store = nullptr;
        std::shared_ptr<core::Settings> settings;
        TrayHost* tray = nullptr; // may be null: no tray
        Updater* updater = nullptr;
        // May be null: onboarding asks nobody. A click on one of its notifications opens what it is about.
        std::shared_ptr<core::Notifier> notifier;
        SessionActions actions;
        PreferencesController* preferences = nullptr; // may be null until the settings window exists
    };

    explicit AppController(Dependencies dependencies, QObject* parent = nullptr);
    ~AppController() override;

    // Makes this controller the "Backend" singleton of `engine`.
    void attach(QQmlEngine& engine);
    static AppController* create(QQmlEngine* engine, QJSEngine* scriptEngine);

    int workingCount() const { return m_workingCount; }
    int waitingCount() const { return m_waitingCount; }
    int activeCount() const { return m_activeCount; }
    int sessionCount() const { return m_sessionCount; }
    bool isRefreshing() const;
    QString errorMessage() const;
    bool hasError() const { return m_hasError; }
    // The source of the three lists below.
    SessionListModel* sessionList() const { return m_sessionList; }
    SessionFilterModel* sessions() const { return m_sessions; }
    SessionFilterModel* attention() const { return m_attention; }
    SessionFilterModel* panelSessions() const { return m_panelSessions; }
    Updater* updater() const { return m_updater; }
    PreferencesController* preferences() const { return m_preferences; }
    void setPreferences(PreferencesController* preferences) { m_preferences = preferences; }

    QString statusLine() const;
    QString trayIconName() const;
    QString todayCostText() const;
    QVariantList costLines() const;
    QVariantList weekCosts() const;
    bool costsShown() const { return m_costsShown; }
    void setCostsShown(bool shown);
    QVariantList probes() const;
    QString lastRefreshText() const;
    bool trayAvailable() const;
    bool openDashboardAtLaunch() const;
    bool showOnboarding() const { return m_showOnboarding; }
    bool showInTaskbar() const { return m_showInTaskbar; }
    void setShowInTaskbar(bool show);

    // Starts the store the first time the dashboard shows; later calls do nothing.
    Q_INVOKABLE void start();
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void dismissError();
    // The handoff text, or undefined after putting the failure into the store's error line.
    Q_INVOKABLE QVariant generateHandoff(const QString& sessionId);
    Q_INVOKABLE QString terminationTitle(const QString& projectName) const;
    Q_INVOKABLE QString terminationMessage(int processId) const;
    // Sends the termination signal to the session's process; a refusal or failure becomes the
    // error line. Nothing happens when the session, or its process, is gone by now.
    Q_INVOKABLE void terminate(const QString& sessionId);
    Q_INVOKABLE void copyToClipboard(const QString& text);
    // Asks the notification server (answer ignored), records completion, hides the sheet.
    Q_INVOKABLE void completeOnboarding();
    Q_INVOKABLE void openDashboard();
    // The dashboard on Sessions, with this session in view (and no search hiding it).
    void showSession(const QString& sessionId);
    // An action of the application's org.freedesktop.Application interface, as a click on one of its
    // notifications asks for it (core::NotificationService::clickAction); unknown ones open the dashboard.
    void activateAction(const QString& name, const QString& parameter);
    Q_INVOKABLE void openSettings();
    // Opens the settings on Updates, where the outcome shows, and checks.
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void quit();
    // Top-left corner for the tray panel of this size, near where the tray icon was last clicked.
    Q_INVOKABLE QPoint panelPosition(int width, int height) const;

    // The tray icon was clicked at `iconGeometry` (empty when unknown).
    void showPanel(QRect iconGeometry);

signals:
    void workingCountChanged();
    void waitingCountChanged();
    void activeCountChanged();
    void sessionCountChanged();
    void isRefreshingChanged();
    void errorMessageChanged();
    void hasErrorChanged();
    void summaryChanged();
    void probesChanged();
    void weekCostsChanged();
    void costsShownChanged();
    void lastRefreshChanged();
    void showOnboardingChanged();
    void showInTaskbarChanged();
    void dashboardRequested();
    // The dashboard, on `section`; `sessionId` (may be empty) is the session to bring into view.
    void sectionRequested(const QString& section, const QString& sessionId);
    // `tab`: "updates", or empty for the one shown last.
    void settingsRequested(const QString& tab);
    void panelRequested();

private:
    void onSessionsChanged();
    void onErrorMessageChanged();
    template <typename T>
    void update(T& field, T value, void (AppController::*changed)())
    {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
    }
    const model::AgentSession* findSession(const QString& sessionId) const;

    core::AppStore* m_store;
    std::shared_ptr<core::Settings> m_settings;
    TrayHost* m_tray;
    Updater* m_updater;
    std::shared_ptr<core::Notifier> m_notifier;
    SessionActions m_actions;
    PreferencesController* m_preferences;
    SessionListModel* m_sessionList;
    SessionFilterModel* m_sessions;
    SessionFilterModel* m_active;
    SessionFilterModel* m_attention;
    SessionFilterModel* m_panelSessions;
    int m_workingCount = 0;
    int m_waitingCount = 0;
    int m_activeCount = 0;
    int m_sessionCount = 0;
    bool m_hasError = false;
    bool m_showOnboarding = false;
    bool m_showInTaskbar = true;
    bool m_costsShown = false;
    QRect m_panelAnchor;
    QPoint m_panelPointer;
};

} // namespace loomwatch::ui
