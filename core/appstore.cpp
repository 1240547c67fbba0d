#include "core/appstore.h"

#include "core/dbusnotifier.h"
#include "core/defaultproviders.h"
#include "core/editableresources.h"
#include "core/notificationservice.h"
#include "core/sessionhistory.h"
#include "core/settings.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace loomwatch::core {

// The one thread on which provider calls run, strictly one after another in the order posted.
class AppStore::Worker
{
public:
    Worker()
    {
        m_thread.setObjectName(QStringLiteral("loomwatch-providers"));
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }
    ~Worker()
    {
        // Lets a running provider call finish; jobs still queued are dropped with the context.
        m_thread.quit();
        m_thread.wait();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void post(std::function<void()> job)
    {
        QMetaObject::invokeMethod(&m_context, std::move(job), Qt::QueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
};

// Lets a provider's sending thread reach the store until the store is gone.
struct WakeupTarget
{
    std::mutex mutex;
    AppStore* store = nullptr;
};

struct AppStore::ProviderEvents
{
    model::EventReceiver<model::ProviderEvent> receiver;
    std::shared_ptr<WakeupTarget> target;
    bool reloading = false; // the next event is taken only after this reload has applied
};

struct AppStore::FullRefresh
{
    bool probing = true;
    std::size_t next = 0;
    std::vector<model::ProviderProbeResult> probes;
    std::vector<model::AgentSession> sessions;
    std::vector<std::function<void()>> done;
};

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
        // The contract says probes never fail; one that does anyway is reported, not fatal.
        model::ProviderProbeResult result;
        result.tool = provider.tool();
        result.lastError = describe(std::current_exception());
        return result;
    }
}

} // namespace

AppStore::AppStore(QObject* parent) : QObject(parent), m_clock(model::systemClock())
{
    EditableResources resources;
    m_pricing = resources.loadPricing();
    m_settings = std::make_shared<Settings>();
    auto* notifier = new DBusNotifier(this);
    // The notifier is a child of the store; the service only borrows it.
    m_notifications = std::make_shared<NotificationService>(
        std::shared_ptr<Notifier>(std::shared_ptr<Notifier>(), notifier), m_clock);
    m_providers = makeDefaultProviders(m_clock);
    m_worker = std::make_unique<Worker>();
}

AppStore::AppStore(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_providers(std::move(dependencies.providers)),
      m_clock(dependencies.clock ? std::move(dependencies.clock) : model::systemClock()),
      m_settings(dependencies.settings ? std::move(dependencies.settings) : std::make_shared<Settings>()),
      m_notifications(std::move(dependencies.notifications)),
      m_pricing(dependencies.pricing ? std::move(*dependencies.pricing) : EditableResources().loadPricing()),
      m_worker(std::make_unique<Worker>())
{}

AppStore::~AppStore()
{
    for (const auto& events : m_events) {
        {
            std::lock_guard lock(events->target->mutex);
            events->target->store = nullptr;
        }
        events->receiver.setWakeup(nullptr);
    }
    // Joins the provider thread before anything it could call back into goes away.
    m_worker.reset();
}

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

void AppStore::setProviderFailure(const model::SessionProvider& provider, const std::string& what)
{
    setErrorMessage(std::string(model::displayName(provider.tool())) + ": " + what);
}

void AppStore::setPricing(pricing::PricingService pricing)
{
    m_pricing = std::move(pricing);
}

int AppStore::waitingCount() const
{
    return static_cast<int>(
        std::ranges::count(m_sessions, model::SessionState::waitingForInput, &model::AgentSession::state));
}

int AppStore::workingCount() const
{
    return static_cast<int>(std::ranges::count(m_sessions, model::SessionState::working, &model::AgentSession::state));
}

namespace {

bool isActive(const model::AgentSession& s)
{
    return s.state != model::SessionState::ended && s.state != model::SessionState::errored;
}

} // namespace

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

model::Decimal AppStore::todayCost() const
{
    const model::Timestamp now = m_clock->now();
    model::Decimal total;
    for (const model::AgentSession& s : m_sessions)
        if (s.estimatedCost && model::isSameLocalDay(s.lastActivityAt, now))
            total += *s.estimatedCost;
    return total;
}

model::Decimal AppStore::todayCost(model::AgentTool tool) const
{
    const model::Timestamp now = m_clock->now();
    model::Decimal total;
    for (const model::AgentSession& s : m_sessions)
        if (s.tool == tool && s.estimatedCost && model::isSameLocalDay(s.lastActivityAt, now))
            total += *s.estimatedCost;
    return total;
}

void AppStore::start(SessionHistory* history)
{
    if (m_started)
        return;
    m_started = true;
    m_history = history;
    if (m_history)
        m_history->prune(m_clock->now());
    // A refresh already running (asked for before the start) counts as the first one.
    if (!runRefresh([this] { listenToEvents(); }))
        listenToEvents();
}

void AppStore::refresh()
{
    runRefresh({});
}

bool AppStore::runRefresh(std::function<void()> done)
{
    if (m_isRefreshing)
        return false;
    setIsRefreshing(true);
    m_fullRefresh = std::make_unique<FullRefresh>();
    if (done)
        m_fullRefresh->done.push_back(std::move(done));
    continueRefresh();
    return true;
}

// One provider call per step; between steps the UI thread is free, so tool reloads of the event
// listeners interleave with a full refresh exactly at its waits.
void AppStore::continueRefresh()
{
    FullRefresh& r = *m_fullRefresh;
    if (r.probing && r.next == m_providers.size()) {
        std::ranges::stable_sort(r.probes, {},
                                 [](const model::ProviderProbeResult& p) { return model::rawValue(p.tool); });
        setProbes(std::move(r.probes));
        r.probing = false;
        r.next = 0;
    }
    if (!r.probing && r.next == m_providers.size()) {
        std::vector<std::function<void()>> done = std::move(r.done);
        apply(std::move(r.sessions));
        m_fullRefresh.reset();
        setIsRefreshing(false);
        setLastRefresh(m_clock->now());
        emit refreshFinished();
        for (auto& callback : done)
            callback();
        return;
    }

    std::shared_ptr<model::SessionProvider> provider = m_providers[r.next++];
    if (r.probing) {
        m_worker->post([this, provider] {
            model::ProviderProbeResult probe = fetchProbe(*provider);
            QMetaObject::invokeMethod(
                this,
                [this, probe = std::move(probe)]() mutable {
                    m_fullRefresh->probes.push_back(std::move(probe));
                    continueRefresh();
                },
                Qt::QueuedConnection);
        });
    } else {
        m_worker->post([this, provider] {
            SessionsOutcome outcome = fetchSessions(*provider);
            QMetaObject::invokeMethod(
                this,
                [this, provider, outcome = std::move(outcome)]() mutable {
                    if (outcome.error)
                        setProviderFailure(*provider, *outcome.error);
                    else
                        std::ranges::move(outcome.sessions, std::back_inserter(m_fullRefresh->sessions));
                    continueRefresh();
                },
                Qt::QueuedConnection);
        });
    }
}

void AppStore::refreshTool(model::AgentTool tool)
{
    reloadTool(tool, {});
}

void AppStore::reloadTool(model::AgentTool tool, std::function<void()> done)
{
    const auto found =
        std::ranges::find_if(m_providers, [tool](const auto& provider) { return provider->tool() == tool; });
    if (found == m_providers.end()) {
        QMetaObject::invokeMethod(
            this,
            [this, tool, done = std::move(done)] {
                emit toolRefreshFinished(tool);
                if (done)
                    done();
            },
            Qt::QueuedConnection);
        return;
    }
    std::shared_ptr<model::SessionProvider> provider = *found;
    m_worker->post([this, provider, tool, done = std::move(done)]() mutable {
        SessionsOutcome outcome = fetchSessions(*provider);
        QMetaObject::invokeMethod(
            this,
            [this, provider, tool, outcome = std::move(outcome), done = std::move(done)]() mutable {
                if (outcome.error) {
                    setProviderFailure(*provider, *outcome.error);
                } else {
                    std::vector<model::AgentSession> merged;
                    merged.reserve(m_sessions.size() + outcome.sessions.size());
                    std::ranges::copy_if(m_sessions, std::back_inserter(merged),
                                         [tool](const model::AgentSession& s) { return s.tool != tool; });
                    std::ranges::move(outcome.sessions, std::back_inserter(merged));
                    apply(std::move(merged));
                }
                emit toolRefreshFinished(tool);
                if (done)
                    done();
            },
            Qt::QueuedConnection);
    });
}

void AppStore::listenToEvents()
{
    if (!m_events.empty())
        return;
    for (std::size_t i = 0; i < m_providers.size(); ++i) {
        auto events = std::make_unique<ProviderEvents>();
        events->receiver = m_providers[i]->events();
        events->target = std::make_shared<WakeupTarget>();
        events->target->store = this;
        m_events.push_back(std::move(events));
    }
    for (std::size_t i = 0; i < m_events.size(); ++i) {
        // Runs on the provider's sending thread: only post, never touch the store there.
        m_events[i]->receiver.setWakeup([target = m_events[i]->target, i] {
            std::lock_guard lock(target->mutex);
            if (target->store)
                QMetaObject::invokeMethod(
                    target->store, [store = target->store, i] { store->takeNextEvent(i); }, Qt::QueuedConnection);
        });
    }
}

void AppStore::takeNextEvent(std::size_t providerIndex)
{
    ProviderEvents& events = *m_events[providerIndex];
    while (!events.reloading) {
        std::optional<model::ProviderEvent> event = events.receiver.tryReceive();
        if (!event)
            return;
        if (event->kind == model::ProviderEvent::Kind::failed) {
            setErrorMessage(event->message);
            continue;
        }
        events.reloading = true;
        reloadTool(event->tool, [this, providerIndex] {
            m_events[providerIndex]->reloading = false;
            takeNextEvent(providerIndex);
        });
    }
}

void AppStore::apply(std::vector<model::AgentSession> sessions)
{
    // One entry per id: a later lastActivityAt replaces it, the first one met wins a tie.
    std::vector<model::AgentSession> kept;
    kept.reserve(sessions.size());
    std::unordered_map<std::string, std::size_t> position;
    position.reserve(sessions.size());
    for (model::AgentSession& s : sessions) {
        const auto [it, inserted] = position.try_emplace(s.id, kept.size());
        if (inserted)
            kept.push_back(std::move(s));
        else if (s.lastActivityAt > kept[it->second].lastActivityAt)
            kept[it->second] = std::move(s);
    }
    for (model::AgentSession& s : kept)
        s.estimatedCost = m_pricing.estimateCost(s.tool, s.model, s.tokens);
    std::ranges::stable_sort(kept, std::ranges::greater{}, &model::AgentSession::lastActivityAt);
    setSessions(std::move(kept));

    if (m_history)
        m_history->persist(m_sessions, m_pricing.table().version);

    if (m_notifications) {
        const model::Decimal budget = m_settings->dailyBudget();
        const bool playSound = m_settings->playNotificationSounds();
        // Reads the list as it is when the evaluation is queued, not when apply() ran.
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
