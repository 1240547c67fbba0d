#pragma once

// moc (Qt 6.4) cannot parse the C++20 library headers behind <compare>; it needs none of them.
#ifndef Q_MOC_RUN
#include "core/usagereport.h"
#include "model/clock.h"
#include "model/sessionprovider.h"
#include "model/sessiontypes.h"
#include "pricing/pricingservice.h"
#endif

#include "core/refreshscheduler.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace loomwatch::core {

class NotificationService;
class SessionHistory;
class Settings;

// The one application state object that the windows and the command line observe. It asks the
// providers for their sessions off the UI thread (one call at a time, in provider order), publishes
// the merged, priced and sorted list, writes the history and feeds the notification service. Lives
// on the UI thread; every property write happens there, and a write of an equal value emits nothing.
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
        // In refresh order (claude, codex, openCode, cursor in the real application).
        std::vector<std::shared_ptr<model::SessionProvider>> providers;
        std::shared_ptr<const model::Clock> clock = model::systemClock();
        // The daily budget and the sound preference handed to the notifications.
        std::shared_ptr<Settings> settings;
        pricing::PricingService pricing;
        // Written after every merge once started; null: no history is kept.
        SessionHistory* history = nullptr;
        // Null: nothing is posted.
        std::shared_ptr<NotificationService> notifications;
        // For the last seven days' costs; null: the transcripts add nothing to them.
        std::shared_ptr<ingestion::UsageLedger> usage;
        TranscriptRoots transcriptRoots;
    };

    explicit AppStore(Dependencies dependencies, QObject* parent = nullptr);
    ~AppStore() override;

    const std::vector<model::AgentSession>& sessions() const { return m_sessions; }
    const std::vector<model::ProviderProbeResult>& probes() const { return m_probes; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<model::Timestamp>& lastRefresh() const { return m_lastRefresh; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(std::optional<std::string> message);

    // Derived from the sessions on every read.
    int waitingCount() const;
    int workingCount() const;
    int activeCount() const;
    int sessionCount() const { return static_cast<int>(m_sessions.size()); }
    std::vector<model::AgentSession> activeSessions() const;
    model::Decimal todayCost(std::optional<model::AgentTool> tool = std::nullopt) const;

    // The estimated spend of the last seven local days, per day and tool (see lastSevenDays()); empty until
    // refreshWeekCosts() has delivered.
    const std::vector<DayCost>& weekCosts() const { return m_weekCosts; }
    // Counts the transcripts of the last seven days off the UI thread, after any provider call in flight, then
    // publishes weekCosts (with weekCostsChanged() when they differ). Reads every transcript modified in those days:
    // ask when they are shown, not on every change.
    void refreshWeekCosts();

    const pricing::PricingService& pricing() const { return m_pricing; }
    // Replaces the table and re-prices the current sessions at once.
    void setPricing(pricing::PricingService pricing);

    const std::vector<std::shared_ptr<model::SessionProvider>>& providers() const { return m_providers; }
    const model::Clock& clock() const { return *m_clock; }

    // One-time start: prunes the history, runs a full refresh, then listens to every provider's
    // events. Returns at once; later calls do nothing.
    void start();
    bool isStarted() const { return m_started; }
    // Full refresh; returns at once and emits refreshFinished() when done. Dropped while one runs.
    Q_INVOKABLE void refresh();
    // Reloads one tool's sessions; emits toolRefreshFinished(tool) when done.
    void refreshTool(model::AgentTool tool);
    // Merges (by id, later activity wins, first on a tie), prices, sorts, publishes, persists and
    // hands the list to the notifications.
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
    void weekCostsChanged();

private:
    struct Collected;
    class EventListener;

    void setSessions(std::vector<model::AgentSession> sessions);
    void setProbes(std::vector<model::ProviderProbeResult> probes);
    void setIsRefreshing(bool value);
    void setLastRefresh(std::optional<model::Timestamp> value);
    void reportFailure(model::AgentTool tool, const std::string& description);

    // The steps of a full refresh: every probe, then every provider's sessions, one call at a time.
    void probeFrom(std::size_t index, std::shared_ptr<Collected> collected);
    void collectFrom(std::size_t index, std::shared_ptr<Collected> collected);
    void finishRefresh(Collected& collected);
    // `done` runs after the reload was applied (or failed).
    void reloadTool(model::AgentTool tool, std::function<void()> done);
    void listenToEvents();

    std::vector<model::AgentSession> m_sessions;
    std::vector<model::ProviderProbeResult> m_probes;
    bool m_isRefreshing = false;
    std::optional<model::Timestamp> m_lastRefresh;
    std::optional<std::string> m_errorMessage;
    std::vector<std::shared_ptr<model::SessionProvider>> m_providers;
    std::shared_ptr<const model::Clock> m_clock;
    std::shared_ptr<Settings> m_settings;
    pricing::PricingService m_pricing;
    SessionHistory* m_history;
    std::shared_ptr<NotificationService> m_notifications;
    std::shared_ptr<ingestion::UsageLedger> m_usage;
    TranscriptRoots m_transcriptRoots;
    std::vector<DayCost> m_weekCosts;
    bool m_started = false;
    std::vector<std::unique_ptr<EventListener>> m_listeners;
    // Last: destroyed first, so no provider call is still running when the rest goes.
    RefreshScheduler m_scheduler;
};

} // namespace loomwatch::core
