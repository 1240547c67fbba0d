#include "core/appstore.h"

#include "core/notificationservice.h"
#include "core/sessionhistory.h"
#include "core/sessionlist.h"
#include "core/settings.h"

#include <algorithm>
#include <mutex>

namespace loomwatch::core {

namespace {

std::string describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

struct SessionsOutcome
{
    std::vector<model::AgentSession> sessions;
    std::optional<std::string> error;
};

SessionsOutcome fetchSessions(model::SessionProvider& provider)
{
    try {
        return {provider.sessions(), std::nullopt};
    } catch (...) {
        return {{}, describe(std::current_exception())};
    }
}

model::ProviderProbeResult fetchProbe(model::SessionProvider& provider)
{
    try {
        return provider.probe();
    } catch (...) {
        // Probes are not supposed to fail; one that does anyway is reported, not fatal.
        model::ProviderProbeResult result;
        result.tool = provider.tool();
        result.lastError = describe(std::current_exception());
        return result;
    }
}

} // namespace

// What a full refresh has gathered so far.
struct AppStore::Collected
{
    std::vector<model::ProviderProbeResult> probes;
    std::vector<model::AgentSession> sessions;
};

// One provider's event stream, consumed one event at a time on the UI thread: a change reloads that
// tool, and the next event is taken only after that reload was applied; none is dropped or merged.
class AppStore::EventListener
{
public:
    EventListener(AppStore& store, model::EventReceiver<model::ProviderEvent> receiver)
        : m_store(store), m_receiver(std::move(receiver)), m_target(std::make_shared<Target>())
    {
        m_target->listener = this;
        // Called on the provider's sending thread: it only posts to the UI thread.
        m_receiver.setWakeup([target = m_target, store = &m_store] {
            std::lock_guard lock(target->mutex);
            if (EventListener* listener = target->listener)
                QMetaObject::invokeMethod(
                    store, [listener] { listener->takeNext(); }, Qt::QueuedConnection);
        });
    }

    ~EventListener()
    {
        {
            std::lock_guard lock(m_target->mutex);
            m_target->listener = nullptr;
        }
        m_receiver.setWakeup(nullptr);
    }

    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

    void takeNext()
    {
        while (!m_reloading) {
            std::optional<model::ProviderEvent> event = m_receiver.tryReceive();
            if (!event)
                return;
            if (event->kind == model::ProviderEvent::Kind::failed) {
                m_store.setErrorMessage(event->message);
                continue;
            }
            m_reloading = true;
            m_store.reloadTool(event->tool, [this] {
                m_reloading = false;
                takeNext();
            });
        }
    }

private:
    // Lets the sending thread reach the listener until it is gone.
    struct Target
    {
        std::mutex mutex;
        EventListener* listener = nullptr;
    };

    AppStore& m_store;
    model::EventReceiver<model::ProviderEvent> m_receiver;
    std::shared_ptr<Target> m_target;
    bool m_reloading = false;
};

AppStore::AppStore(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_providers(std::move(dependencies.providers)), m_clock(std::move(dependencies.clock)),
      m_settings(std::move(dependencies.settings)), m_pricing(std::move(dependencies.pricing)),
      m_history(dependencies.history), m_notifications(std::move(dependencies.notifications)),
      m_usage(std::move(dependencies.usage)), m_transcriptRoots(std::move(dependencies.transcriptRoots))
{}

AppStore::~AppStore() = default;

void AppStore::setErrorMessage(std::optional<std::string> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    emit errorMessageChanged();
}

void AppStore::setSessions(std::vector<model::AgentSession> sessions)
{
    if (m_sessions == sessions)
        return;
    m_sessions = std::move(sessions);
    emit sessionsChanged();
}

void AppStore::setProbes(std::vector<model::ProviderProbeResult> probes)
{
    if (m_probes == probes)
        return;
    m_probes = std::move(probes);
    emit probesChanged();
}

void AppStore::setIsRefreshing(bool value)
{
    if (m_isRefreshing == value)
        return;
    m_isRefreshing = value;
    emit isRefreshingChanged();
}

void AppStore::setLastRefresh(std::optional<model::Timestamp> value)
{
    if (m_lastRefresh == value)
        return;
    m_lastRefresh = value;
    emit lastRefreshChanged();
}

void AppStore::reportFailure(model::AgentTool tool, const std::string& description)
{
    setErrorMessage(std::string(model::displayName(tool)) + ": " + description);
}

void AppStore::setPricing(pricing::PricingService pricing)
{
    m_pricing = std::move(pricing);
    apply(m_sessions);
}

int AppStore::waitingCount() const
{
    return countInState(m_sessions, model::SessionState::waitingForInput);
}

int AppStore::workingCount() const
{
    return countInState(m_sessions, model::SessionState::working);
}

int AppStore::activeCount() const
{
    return static_cast<int>(std::ranges::count_if(m_sessions, isActive));
}

std::vector<model::AgentSession> AppStore::activeSessions() const
{
    std::vector<model::AgentSession> result;
    std::ranges::copy_if(m_sessions, std::back_inserter(result), isActive);
    return result;
}

model::Decimal AppStore::todayCost(std::optional<model::AgentTool> tool) const
{
    return core::todayCost(m_sessions, m_clock->now(), tool);
}

void AppStore::refreshWeekCosts()
{
    const model::Timestamp now = m_clock->now();
    m_scheduler.post<UsageReport>(
        [usage = m_usage, roots = m_transcriptRoots, pricing = m_pricing, now] {
            return usage ? usageReport(lastSevenDaysQuery(now), *usage, roots, pricing) : UsageReport{};
        },
        [this, now](UsageReport transcripts) {
            auto costs = lastSevenDays(transcripts, m_sessions, now);
            if (costs == m_weekCosts)
                return;
            m_weekCosts = std::move(costs);
            emit weekCostsChanged();
        });
}

void AppStore::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_history)
        m_history->prune(m_clock->now());
    // A refresh already running (asked for before the start) counts as the first one.
    connect(this, &AppStore::refreshFinished, this, &AppStore::listenToEvents, Qt::SingleShotConnection);
    refresh();
}

void AppStore::refresh()
{
    if (m_isRefreshing)
        return;
    setIsRefreshing(true);
    probeFrom(0, std::make_shared<Collected>());
}

// Between two provider calls the UI thread is free: a tool reload asked for meanwhile runs its call
// after the one in flight, and its result is applied before the full refresh's own.
void AppStore::probeFrom(std::size_t index, std::shared_ptr<Collected> collected)
{
    if (index == m_providers.size()) {
        std::ranges::stable_sort(collected->probes, {},
                                 [](const model::ProviderProbeResult& p) { return model::rawValue(p.tool); });
        setProbes(std::move(collected->probes));
        collectFrom(0, std::move(collected));
        return;
    }
    std::shared_ptr<model::SessionProvider> provider = m_providers[index];
    m_scheduler.post<model::ProviderProbeResult>([provider] { return fetchProbe(*provider); },
                                                 [this, index, collected](model::ProviderProbeResult probe) {
                                                     collected->probes.push_back(std::move(probe));
                                                     probeFrom(index + 1, collected);
                                                 });
}

void AppStore::collectFrom(std::size_t index, std::shared_ptr<Collected> collected)
{
    if (index == m_providers.size()) {
        finishRefresh(*collected);
        return;
    }
    std::shared_ptr<model::SessionProvider> provider = m_providers[index];
    m_scheduler.post<SessionsOutcome>([provider] { return fetchSessions(*provider); },
                                      [this, index, collected, tool = provider->tool()](SessionsOutcome outcome) {
                                          if (outcome.error)
                                              reportFailure(tool, *outcome.error);
                                          else
                                              std::ranges::move(outcome.sessions,
                                                                std::back_inserter(collected->sessions));
                                          collectFrom(index + 1, collected);
                                      });
}

void AppStore::finishRefresh(Collected& collected)
{
    apply(std::move(collected.sessions));
    setIsRefreshing(false);
    setLastRefresh(m_clock->now());
    emit refreshFinished();
}

void AppStore::refreshTool(model::AgentTool tool)
{
    reloadTool(tool, {});
}

void AppStore::reloadTool(model::AgentTool tool, std::function<void()> done)
{
    const auto found =
        std::ranges::find_if(m_providers, [tool](const auto& provider) { return provider->tool() == tool; });
    auto finish = [this, tool, done = std::move(done)] {
        emit toolRefreshFinished(tool);
        if (done)
            done();
    };
    if (found == m_providers.end()) {
        QMetaObject::invokeMethod(this, finish, Qt::QueuedConnection);
        return;
    }
    std::shared_ptr<model::SessionProvider> provider = *found;
    m_scheduler.post<SessionsOutcome>([provider] { return fetchSessions(*provider); },
                                      [this, tool, finish](SessionsOutcome outcome) {
                                          if (outcome.error)
                                              reportFailure(tool, *outcome.error);
                                          else
                                              apply(replaceTool(m_sessions, tool, std::move(outcome.sessions)));
                                          finish();
                                      });
}

void AppStore::listenToEvents()
{
    if (!m_listeners.empty())
        return;
    for (const auto& provider : m_providers)
        m_listeners.push_back(std::make_unique<EventListener>(*this, provider->events()));
}

void AppStore::apply(std::vector<model::AgentSession> sessions)
{
    setSessions(prepare(std::move(sessions), m_pricing));

    if (m_history && m_started)
        m_history->persist(m_sessions, m_pricing.table().version);

    if (m_notifications) {
        const model::Decimal budget = m_settings ? m_settings->dailyBudget() : model::Decimal();
        const bool playSound = m_settings ? m_settings->playNotificationSounds() : true;
        // Reads the list as it is when the evaluation runs, not when apply() ran.
        QMetaObject::invokeMethod(
            this, [this, budget, playSound] { m_notifications->evaluate(m_sessions, budget, playSound); },
            Qt::QueuedConnection);
    }
}

QDateTime AppStore::lastRefreshDateTime() const
{
    if (!m_lastRefresh)
        return {};
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_lastRefresh->time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(millis);
}

QString AppStore::errorMessageText() const
{
    return m_errorMessage ? QString::fromStdString(*m_errorMessage) : QString();
}

void AppStore::setErrorMessageText(const QString& message)
{
    setErrorMessage(message.isEmpty() ? std::nullopt : std::optional<std::string>(message.toStdString()));
}

} // namespace loomwatch::core
