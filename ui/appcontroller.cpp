#include "ui/appcontroller.h"

#include "core/appstore.h"
#include "core/notificationservice.h"
#include "core/notifier.h"
#include "core/settings.h"
#include "pricing/currencyformatter.h"
#include "providers/processcontrol.h"
#include "ui/preferencescontroller.h"
#include "ui/presentation.h"
#include "ui/trayhost.h"
#include "ui/updater.h"
#include "ui/weekchart.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QQmlEngine>
#include <QScreen>

#include <algorithm>

namespace loomwatch::ui {

namespace {

QHash<QQmlEngine*, AppController*>& attachedControllers()
{
    static QHash<QQmlEngine*, AppController*> controllers;
    return controllers;
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

AppController::AppController(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_store(dependencies.store), m_settings(std::move(dependencies.settings)),
      m_tray(dependencies.tray), m_updater(dependencies.updater), m_notifier(std::move(dependencies.notifier)),
      m_actions(std::move(dependencies.actions)), m_preferences(dependencies.preferences),
      m_sessionList(new SessionListModel(this)), m_sessions(new SessionFilterModel(m_sessionList, {}, this)),
      m_active(new SessionFilterModel(m_sessionList, {.activeOnly = true}, this)),
      m_attention(new SessionFilterModel(m_active, {.limit = 10}, this)),
      m_panelSessions(new SessionFilterModel(m_active, {.limit = 5}, this))
{
    connect(m_store, &core::AppStore::sessionsChanged, this, &AppController::onSessionsChanged);
    connect(m_store, &core::AppStore::isRefreshingChanged, this, &AppController::isRefreshingChanged);
    connect(m_store, &core::AppStore::errorMessageChanged, this, &AppController::onErrorMessageChanged);
    connect(m_store, &core::AppStore::probesChanged, this, &AppController::probesChanged);
    connect(m_store, &core::AppStore::lastRefreshChanged, this, &AppController::lastRefreshChanged);
    connect(m_store, &core::AppStore::weekCostsChanged, this, &AppController::weekCostsChanged);
    connect(m_store, &core::AppStore::refreshFinished, this, [this] {
        if (m_costsShown)
            m_store->refreshWeekCosts();
    });
    if (m_tray) {
        connect(m_tray, &TrayHost::activated, this, &AppController::showPanel);
        connect(m_tray, &TrayHost::openDashboardRequested, this, &AppController::openDashboard);
        connect(m_tray, &TrayHost::refreshRequested, this, &AppController::refresh);
        connect(m_tray, &TrayHost::settingsRequested, this, &AppController::openSettings);
        connect(m_tray, &TrayHost::checkForUpdatesRequested, this, &AppController::checkForUpdates);
        connect(m_tray, &TrayHost::quitRequested, this, &AppController::quit);
        m_tray->setUpdateCheckEnabled(m_updater && m_updater->isSigningConfigured());
    }
    if (m_notifier) {
        m_notifier->setActivationHandler([this](const std::string& identifier) {
            const auto action = core::NotificationService::clickAction(identifier);
            activateAction(QString::fromStdString(action.name), QString::fromStdString(action.parameter));
        });
    }
    onSessionsChanged();
    m_hasError = m_store->hasError();
}

AppController::~AppController()
{
    if (m_notifier)
        m_notifier->setActivationHandler({});
    auto& controllers = attachedControllers();
    for (auto it = controllers.begin(); it != controllers.end();) {
        if (it.value() == this)
            it = controllers.erase(it);
        else
            ++it;
    }
}

void AppController::attach(QQmlEngine& engine)
{
    attachedControllers().insert(&engine, this);
    connect(&engine, &QObject::destroyed, this, [engine = &engine] { attachedControllers().remove(engine); });
}

AppController* AppController::create(QQmlEngine* engine, QJSEngine*)
{
    AppController* controller = attachedControllers().value(engine);
    if (controller)
        QJSEngine::setObjectOwnership(controller, QJSEngine::CppOwnership);
    return controller;
}

void AppController::onSessionsChanged()
{
    m_sessionList->setSessions(m_store->sessions());
    update(m_workingCount, m_store->workingCount(), &AppController::workingCountChanged);
    update(m_waitingCount, m_store->waitingCount(), &AppController::waitingCountChanged);
    update(m_activeCount, m_store->activeCount(), &AppController::activeCountChanged);
    update(m_sessionCount, m_store->sessionCount(), &AppController::sessionCountChanged);
    if (m_tray)
        m_tray->setIconName(trayIconName());
    emit summaryChanged();
}

const model::AgentSession* AppController::findSession(const QString& sessionId) const
{
    const std::string id = sessionId.toStdString();
    const auto& all = m_store->sessions();
    const auto it = std::find_if(all.begin(), all.end(), [&](const model::AgentSession& s) { return s.id == id; });
    return it == all.end() ? nullptr : &*it;
}

bool AppController::isRefreshing() const
{
    return m_store->isRefreshing();
}

QString AppController::errorMessage() const
{
    return m_store->errorMessageText();
}

void AppController::onErrorMessageChanged()
{
    // Both hold the new line before either signal goes out.
    const bool hadError = m_hasError;
    m_hasError = m_store->hasError();
    emit errorMessageChanged();
    if (m_hasError != hadError)
        emit hasErrorChanged();
}

QString AppController::statusLine() const
{
    return ui::statusLine(m_store->waitingCount(), m_store->workingCount());
}

QString AppController::trayIconName() const
{
    return menuBarSymbol(m_store->sessions());
}

QString AppController::todayCostText() const
{
    return QString::fromStdString(pricing::formatUsd(m_store->todayCost()));
}

QVariantList AppController::costLines() const
{
    QVariantList lines;
    for (model::AgentTool tool : model::allAgentTools) {
        const QString name = qs(model::displayName(tool));
        lines.append(QVariantMap{
            {QStringLiteral("tool"), qs(model::rawValue(tool))},
            {QStringLiteral("name"), name},
            {QStringLiteral("symbol"), qs(model::symbolName(tool))},
            {QStringLiteral("amount"), QString::fromStdString(pricing::formatUsd(m_store->todayCost(tool)))},
            {QStringLiteral("identifier"), QStringLiteral("costs.") + qs(model::rawValue(tool))},
            {QStringLiteral("accessibleName"), name + QStringLiteral(" estimated cost")},
        });
    }
    return lines;
}

QVariantList AppController::weekCosts() const
{
    return weekChart(m_store->weekCosts());
}

void AppController::setCostsShown(bool shown)
{
    if (shown == m_costsShown)
        return;
    m_costsShown = shown;
    emit costsShownChanged();
    if (shown)
        m_store->refreshWeekCosts();
}

QVariantList AppController::probes() const
{
    QVariantList list;
    for (const model::ProviderProbeResult& probe : m_store->probes()) {
        list.append(QVariantMap{
            {QStringLiteral("tool"), qs(model::rawValue(probe.tool))},
            {QStringLiteral("name"), qs(model::displayName(probe.tool))},
            {QStringLiteral("installed"), probe.installed},
            {QStringLiteral("supportLevel"), qs(model::rawValue(probe.supportLevel))},
            {QStringLiteral("detectedPath"), QString::fromStdString(probe.detectedPath)},
            {QStringLiteral("lastError"), QString::fromStdString(probe.lastError.value_or(std::string()))},
            {QStringLiteral("hasError"), probe.lastError.has_value()},
        });
    }
    return list;
}

QString AppController::lastRefreshText() const
{
    return ui::lastRefreshText(m_store->lastRefresh());
}

bool AppController::trayAvailable() const
{
    return m_tray && m_tray->isAvailable();
}

bool AppController::openDashboardAtLaunch() const
{
    if (!trayAvailable() || !m_settings)
        return true;
    return !m_settings->didCompleteOnboarding() || m_settings->openDashboardAtLaunch();
}

void AppController::setShowInTaskbar(bool show)
{
    if (show == m_showInTaskbar)
        return;
    m_showInTaskbar = show;
    emit showInTaskbarChanged();
}

void AppController::start()
{
    // The onboarding decision is taken once, when the dashboard first shows.
    if (!m_store->isStarted() && m_settings && !m_settings->didCompleteOnboarding() && !m_showOnboarding) {
        m_showOnboarding = true;
        emit showOnboardingChanged();
    }
    m_store->start();
}

void AppController::refresh()
{
    m_store->refresh();
}

void AppController::dismissError()
{
    if (m_store->hasError())
        m_store->setErrorMessage(std::nullopt);
}

QVariant AppController::generateHandoff(const QString& sessionId)
{
    const model::AgentSession* session = findSession(sessionId);
    if (!session || !m_actions.generateHandoff)
        return {};
    try {
        return QString::fromStdString(m_actions.generateHandoff(*session));
    } catch (const std::exception& error) {
        m_store->setErrorMessage(std::string(error.what()));
    }
    return {};
}

QString AppController::terminationTitle(const QString& projectName) const
{
    return ui::terminationTitle(projectName);
}

QString AppController::terminationMessage(int processId) const
{
    return ui::terminationMessage(processId);
}

void AppController::terminate(const QString& sessionId)
{
    // A session that left the list, or lost its process, while the user was asked has almost always
    // ended by itself: that is what the user wanted, and an error line would say the opposite.
    const model::AgentSession* session = findSession(sessionId);
    if (!session || !session->processID)
        return;
    const std::int32_t processId = *session->processID;
    const model::AgentTool tool = session->tool;
    try {
        if (!m_actions.terminate)
            throw providers::ProcessControlError(providers::ProcessControlErrorKind::invalidPID, processId);
        m_actions.terminate(processId, tool);
    } catch (const std::exception&) {
        // The details stay out of the message.
        m_store->setErrorMessage(providers::terminationFailureMessage(processId));
    }
}

void AppController::copyToClipboard(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

void AppController::completeOnboarding()
{
    if (m_notifier)
        m_notifier->checkAvailable([](bool) {});
    if (m_settings) {
        m_settings->setDidCompleteOnboarding(true);
        m_settings->sync();
    }
    if (m_showOnboarding) {
        m_showOnboarding = false;
        emit showOnboardingChanged();
    }
}

void AppController::openDashboard()
{
    setShowInTaskbar(true);
    emit dashboardRequested();
}

void AppController::showSession(const QString& sessionId)
{
    setShowInTaskbar(true);
    m_sessions->setSearch(QString());
    emit sectionRequested(QStringLiteral("sessions"), sessionId);
}

void AppController::activateAction(const QString& name, const QString& parameter)
{
    if (name == QLatin1String("show-session")) {
        showSession(parameter);
    } else if (name == QLatin1String("show-costs")) {
        setShowInTaskbar(true);
        emit sectionRequested(QStringLiteral("costs"), QString());
    } else if (name == QLatin1String("show-updates")) {
        emit settingsRequested(QStringLiteral("updates"));
    } else {
        openDashboard();
    }
}

void AppController::openSettings()
{
    emit settingsRequested(QString());
}

void AppController::checkForUpdates()
{
    if (!m_updater || !m_updater->isSigningConfigured())
        return;
    emit settingsRequested(QStringLiteral("updates"));
    m_updater->checkForUpdates();
}

void AppController::quit()
{
    QCoreApplication::quit();
}

QPoint AppController::panelPosition(int width, int height) const
{
    const QRect anchor = m_panelAnchor.isValid() ? m_panelAnchor : QRect(m_panelPointer, QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    return ui::panelPosition(m_panelAnchor, m_panelPointer, QSize(width, height), available);
}

void AppController::showPanel(QRect iconGeometry)
{
    m_panelAnchor = iconGeometry;
    m_panelPointer = QCursor::pos();
    emit panelRequested();
}

} // namespace loomwatch::ui
