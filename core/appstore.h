#pragma once

// moc (Qt 6.4) cannot parse the C++20 library headers behind <compare>; it needs none of them.
#ifndef Q_MOC_RUN
#include "model/clock.h"
#include "model/sessionprovider.h"
#include "model/sessiontypes.h"
#include "pricing/pricingservice.h"
#endif

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace loomwatch::core {

class NotificationService;
class SessionHistory;
class Settings;

// The one application state object: owns the providers, runs refreshes off the UI thread (one
// provider call at a time, in provider order), merges, prices and publishes the session list,
// writes the history and feeds the notification service. Lives on the UI thread; every property
// write happens there, and a write of an equal value emits nothing.
class AppStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(QDateTime lastRefresh READ lastRefreshDateTime NOTIFY lastRefreshChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText WRITE setErrorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorMessageChanged)
    Q_PROPERTY(int waitingCount READ waitingCount NOTIFY sessionsChanged)
    Q_PROPERTY(int workingCount READ workingCount NOTIFY sessionsChanged)
    Q_PROPERTY(int activeCount READ activeCount NOTIFY sessionsChanged)
    Q_PROPERTY(int sessionCount READ sessionCount NOTIFY sessionsChanged)

public:
    struct Dependencies
    {
        // Providers in refresh order (claude, codex, openCode, cursor in the real app).
        std::vector<std::shared_ptr<model::SessionProvider>> providers;
        std::shared_ptr<const model::Clock> clock;
        // Settings, pricing and resources; null means the user's real ones.
        std::shared_ptr<Settings> settings;
        // Where waiting and budget notifications go; null means none are posted.
        std::shared_ptr<NotificationService> notifications;
        // The table to price with; nothing means the user's editable pricing file.
        std::optional<pricing::PricingService> pricing;
    };

    // The real application: the four providers over the user's home, the user's settings, pricing
    // loaded from the editable resource, notifications over the session bus.
    explicit AppStore(QObject* parent = nullptr);
    AppStore(Dependencies dependencies, QObject* parent = nullptr);
    ~AppStore() override;

    const std::vector<model::AgentSession>& sessions() const { return m_sessions; }
    const std::vector<model::ProviderProbeResult>& probes() const { return m_probes; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<model::Timestamp>& lastRefresh() const { return m_lastRefresh; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(std::optional<std::string> message);

    // Derived from sessions on every read.
    int waitingCount() const;
    int workingCount() const;
    int activeCount() const;
    int sessionCount() const { return static_cast<int>(m_sessions.size()); }
    std::vector<model::AgentSession> activeSessions() const;
    model::Decimal todayCost() const;
    model::Decimal todayCost(model::AgentTool tool) const;

    const pricing::PricingService& pricing() const { return m_pricing; }
    // Replaces the table; callers then apply(sessions()) to re-price.
    void setPricing(pricing::PricingService pricing);

    const std::vector<std::shared_ptr<model::SessionProvider>>& providers() const { return m_providers; }
    const model::Clock& clock() const { return *m_clock; }

    // One-time start: remember the history (may be null: run without one), prune it, run a full
    // refresh, then listen to every provider's events. Returns at once; later calls do nothing.
    void start(SessionHistory* history);
    bool isStarted() const { return m_started; }
    // Full refresh; returns at once, emits refreshFinished() when done. Dropped while one runs.
    Q_INVOKABLE void refresh();
    // Reload one tool's sessions; emits toolRefreshFinished(tool) when done.
    void refreshTool(model::AgentTool tool);
    // Merge (by id, later activity wins, first on a tie), price, sort, publish, persist, notify.
    void apply(std::vector<model::AgentSession> sessions);

    // QML-friendly views of the optional fields.
    QDateTime lastRefreshDateTime() const;
    QString errorMessageText() const;
    void setErrorMessageText(const QString& message); // empty clears
    bool hasError() const { return m_errorMessage.has_value(); }

signals:
    void sessionsChanged();
    void probesChanged();
    void isRefreshingChanged();
    void lastRefreshChanged();
    void errorMessageChanged();
    void refreshFinished();
    void toolRefreshFinished(loomwatch::model::AgentTool tool);

private:
    class Worker;
    struct ProviderEvents;
    struct FullRefresh;

    void setSessions(std::vector<model::AgentSession> sessions);
    void setProbes(std::vector<model::ProviderProbeResult> probes);
    void setIsRefreshing(bool value);
    void setLastRefresh(std::optional<model::Timestamp> value);
    void setProviderFailure(const model::SessionProvider& provider, const std::string& what);

    // Full refresh: false when one already runs. `done` runs on the UI thread after it finished.
    bool runRefresh(std::function<void()> done);
    void continueRefresh();
    // One tool's reload; `done` runs on the UI thread after its apply (or failure).
    void reloadTool(model::AgentTool tool, std::function<void()> done);
    void listenToEvents();
    void takeNextEvent(std::size_t providerIndex);

    std::vector<model::AgentSession> m_sessions;
    std::vector<model::ProviderProbeResult> m_probes;
    bool m_isRefreshing = false;
    std::optional<model::Timestamp> m_lastRefresh;
    std::optional<std::string> m_errorMessage;
    std::vector<std::shared_ptr<model::SessionProvider>> m_providers;
    std::shared_ptr<const model::Clock> m_clock;
    std::shared_ptr<Settings> m_settings;
    std::shared_ptr<NotificationService> m_notifications;
    pricing::PricingService m_pricing;
    SessionHistory* m_history = nullptr;
    bool m_started = false;
    std::unique_ptr<FullRefresh> m_fullRefresh;
    std::vector<std::unique_ptr<ProviderEvents>> m_events;
    std::unique_ptr<Worker> m_worker;
};

} // namespace loomwatch::core
