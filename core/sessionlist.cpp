#include "core/sessionlist.h"

#include "model/clock.h"

#include <algorithm>
#include <functional>
#include <string>
#include <unordered_map>

namespace loomwatch::core {

std::vector<model::AgentSession> mergeById(std::vector<model::AgentSession> sessions)
{
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
    return kept;
}

void price(std::vector<model::AgentSession>& sessions, const pricing::PricingService& pricing)
{
    for (model::AgentSession& s : sessions)
        s.estimatedCost = pricing.estimateCost(s);
}

void sortByLastActivity(std::vector<model::AgentSession>& sessions)
{
    std::ranges::stable_sort(sessions, std::ranges::greater{}, &model::AgentSession::lastActivityAt);
}

std::vector<model::AgentSession> prepare(std::vector<model::AgentSession> sessions,
                                         const pricing::PricingService& pricing)
{
    std::vector<model::AgentSession> result = mergeById(std::move(sessions));
    price(result, pricing);
    sortByLastActivity(result);
    return result;
}

std::vector<model::AgentSession> replaceTool(const std::vector<model::AgentSession>& current, model::AgentTool tool,
                                             std::vector<model::AgentSession> fresh)
{
    std::vector<model::AgentSession> result;
    result.reserve(current.size() + fresh.size());
    std::ranges::copy_if(current, std::back_inserter(result),
                         [tool](const model::AgentSession& s) { return s.tool != tool; });
    std::ranges::move(fresh, std::back_inserter(result));
    return result;
}

bool isActive(const model::AgentSession& session)
{
    return session.state != model::SessionState::ended && session.state != model::SessionState::errored;
}

int countInState(const std::vector<model::AgentSession>& sessions, model::SessionState state)
{
    return static_cast<int>(std::ranges::count(sessions, state, &model::AgentSession::state));
}

model::Decimal todayCost(const std::vector<model::AgentSession>& sessions, model::Timestamp now,
                         std::optional<model::AgentTool> tool)
{
    model::Decimal total;
    for (const model::AgentSession& s : sessions)
        if ((!tool || s.tool == *tool) && s.estimatedCost && model::isSameLocalDay(s.lastActivityAt, now))
            total += *s.estimatedCost;
    return total;
}

} // namespace loomwatch::core
