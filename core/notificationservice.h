#pragma once

#include "core/notifier.h"
#include "model/clock.h"
#include "model/decimal.h"
#include "model/sessiontypes.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace loomwatch::core {

// Decides which sessions newly wait for the user and whether today's spend reached the budget,
// and posts one notification for each: once per waiting episode of a session, at most one budget
// alert per local calendar day. Evaluations run one at a time in call order; each waits for the
// outcome of its posts before the next begins. Use from one thread (the UI thread).
class NotificationService
{
public:
    // `locale` is the ICU locale of the currency text; empty means the user's.
    NotificationService(std::shared_ptr<Notifier> notifier,
                        std::shared_ptr<const model::Clock> clock = model::systemClock(), std::string locale = {});
    ~NotificationService();
    NotificationService(const NotificationService&) = delete;
    NotificationService& operator=(const NotificationService&) = delete;

    // Queues an evaluation of the store's whole list. `dailyBudget` 0 (or less) means no budget.
    // `done` (optional) runs when this evaluation has finished.
    void evaluate(std::vector<model::AgentSession> sessions, model::Decimal dailyBudget, bool playSound,
                  std::function<void()> done = {});

    bool isIdle() const;
    std::set<std::string> notifiedWaitingIDs() const;
    std::optional<model::Timestamp> budgetAlertDay() const;

    // What a click on the notification with this identifier opens in the desktop application: an
    // action of its org.freedesktop.Application interface ("show-session" with the session's id,
    // "show-costs", "show-updates"; empty: just show it) and the action's parameter (empty when it
    // takes none).
    struct ClickAction
    {
        std::string name;
        std::string parameter;
    };
    static ClickAction clickAction(const std::string& identifier);

    static NotificationRequest waitingRequest(const model::AgentSession& session, bool playSound);
    static NotificationRequest budgetRequest(const model::Decimal& total, model::Timestamp now, bool playSound,
                                             const std::string& locale = {});

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace loomwatch::core
