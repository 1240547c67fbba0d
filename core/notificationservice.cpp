#include "core/notificationservice.h"

#include "pricing/currencyformatter.h"

#include <charconv>

namespace loomwatch::core {

namespace {

struct Evaluation
{
    std::vector<model::AgentSession> sessions;
    model::Decimal dailyBudget;
    bool playSound = true;
    std::function<void()> done;
};

enum class Step
{
    waiting,
    budget,
    finished,
};

} // namespace

// Shared with the notifier's callbacks, which may outlive the service.
struct NotificationService::State : std::enable_shared_from_this<NotificationService::State>
{
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<const model::Clock> clock;
    std::string locale;

    std::set<std::string> notifiedWaitingIDs;
    std::optional<model::Timestamp> budgetAlertDay;

    std::deque<Evaluation> queue;
    bool running = false; // an evaluation is in progress (queue.front())
    bool posting = false; // waiting for the notifier's answer
    bool alive = true;
    Step step = Step::waiting;
    std::size_t next = 0; // next session to look at in the waiting step
    bool inDrive = false;

    void start()
    {
        if (running || queue.empty())
            return;
        begin();
        drive();
    }

    // Forgets the sessions that no longer wait, before anything of this evaluation is posted.
    void begin()
    {
        running = true;
        step = Step::waiting;
        next = 0;
        std::set<std::string> waiting;
        for (const model::AgentSession& s : queue.front().sessions)
            if (s.state == model::SessionState::waitingForInput)
                waiting.insert(s.id);
        std::erase_if(notifiedWaitingIDs, [&](const std::string& id) { return !waiting.contains(id); });
    }

    // Advances the current evaluation until it must wait for a post. A notifier that answers
    // synchronously loops here instead of recursing once per session.
    void drive()
    {
        if (inDrive)
            return;
        const auto keep = shared_from_this(); // a `done` callback may destroy the service
        inDrive = true;
        while (running && !posting && alive) {
            Evaluation& e = queue.front();
            if (step == Step::waiting) {
                if (next >= e.sessions.size()) {
                    step = Step::budget;
                    continue;
                }
                const model::AgentSession& s = e.sessions[next++];
                if (s.state != model::SessionState::waitingForInput || notifiedWaitingIDs.contains(s.id))
                    continue;
                post(waitingRequest(s, e.playSound), [id = s.id](State& st) { st.notifiedWaitingIDs.insert(id); });
            } else if (step == Step::budget) {
                step = Step::finished;
                const model::Timestamp now = clock->now();
                model::Decimal total;
                for (const model::AgentSession& s : e.sessions)
                    if (s.estimatedCost && model::isSameLocalDay(s.lastActivityAt, now))
                        total += *s.estimatedCost;
                if (!(e.dailyBudget > model::Decimal()) || total < e.dailyBudget)
                    continue;
                if (budgetAlertDay && model::isSameLocalDay(*budgetAlertDay, now))
                    continue;
                post(budgetRequest(total, now, e.playSound, locale),
                     [](State& st) { st.budgetAlertDay = st.clock->now(); });
            } else {
                std::function<void()> done = std::move(e.done);
                queue.pop_front();
                running = false;
                if (done)
                    done(); // may queue another evaluation
                if (!alive)
                    return;
                if (!running && !queue.empty())
                    begin();
            }
        }
        inDrive = false;
    }

    // Rejected posts count as shown: the outcome only decides when to go on.
    void post(const NotificationRequest& request, std::function<void(State&)> afterwards)
    {
        posting = true;
        std::weak_ptr<State> weak = weak_from_this();
        notifier->post(request, [weak, afterwards = std::move(afterwards)](bool) {
            auto self = weak.lock();
            if (!self || !self->alive)
                return;
            afterwards(*self);
            self->posting = false;
            self->drive();
        });
    }
};

NotificationService::NotificationService(std::shared_ptr<Notifier> notifier, std::shared_ptr<const model::Clock> clock,
                                         std::string locale)
    : m_state(std::make_shared<State>())
{
    m_state->notifier = std::move(notifier);
    m_state->clock = clock ? std::move(clock) : model::systemClock();
    m_state->locale = std::move(locale);
}

NotificationService::~NotificationService()
{
    m_state->alive = false;
}

void NotificationService::evaluate(std::vector<model::AgentSession> sessions, model::Decimal dailyBudget,
                                   bool playSound, std::function<void()> done)
{
    if (!m_state->notifier) {
        if (done)
            done();
        return;
    }
    m_state->queue.push_back(Evaluation{std::move(sessions), std::move(dailyBudget), playSound, std::move(done)});
    m_state->start();
}

bool NotificationService::isIdle() const
{
    return !m_state->running && m_state->queue.empty();
}

std::set<std::string> NotificationService::notifiedWaitingIDs() const
{
    return m_state->notifiedWaitingIDs;
}

std::optional<model::Timestamp> NotificationService::budgetAlertDay() const
{
    return m_state->budgetAlertDay;
}

NotificationService::ClickAction NotificationService::clickAction(const std::string& identifier)
{
    const std::string_view waiting = "waiting:";
    if (identifier.starts_with(waiting))
        return {"show-session", identifier.substr(waiting.size())};
    if (identifier.starts_with("budget:"))
        return {"show-costs", {}};
    if (identifier.starts_with("update:"))
        return {"show-updates", {}};
    return {};
}

NotificationRequest NotificationService::waitingRequest(const model::AgentSession& session, bool playSound)
{
    NotificationRequest r;
    r.identifier = "waiting:" + session.id;
    r.title = std::string(model::displayName(session.tool)) + " is waiting";
    r.body = session.projectName + " is waiting for your input.";
    r.playSound = playSound;
    return r;
}

NotificationRequest NotificationService::budgetRequest(const model::Decimal& total, model::Timestamp now,
                                                       bool playSound, const std::string& locale)
{
    // Seconds since 1970 as the shortest text that reads back to the same double.
    // Whole seconds and the fraction apart: nanoseconds since 1970 do not fit a double's mantissa.
    const auto since = now.time_since_epoch();
    const auto whole = std::chrono::floor<std::chrono::seconds>(since);
    const double seconds = static_cast<double>(whole.count()) + std::chrono::duration<double>(since - whole).count();
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    NotificationRequest r;
    r.identifier = "budget:" + std::string(buffer, ec == std::errc() ? end : buffer);
    r.title = "Loomwatch budget alert";
    r.body = "Today\u2019s estimated agent cost reached " + pricing::formatUsd(total, locale) + ".";
    r.playSound = playSound;
    return r;
}

} // namespace loomwatch::core
