#pragma once

#include "model/sessiontypes.h"
#include "pricing/pricingservice.h"

#include <optional>
#include <vector>

namespace loomwatch::core {

// What the store does to every list it publishes, as plain functions over values.

// One session per id, in first-seen order: a later lastActivityAt replaces the kept one, the first
// one met wins a tie.
std::vector<model::AgentSession> mergeById(std::vector<model::AgentSession> sessions);
// Every session's estimate from the table; none when the table has no price for it.
void price(std::vector<model::AgentSession>& sessions, const pricing::PricingService& pricing);
// Latest activity first.
void sortByLastActivity(std::vector<model::AgentSession>& sessions);
// The three above, in that order.
std::vector<model::AgentSession> prepare(std::vector<model::AgentSession> sessions,
                                         const pricing::PricingService& pricing);
// `current` without the sessions of `tool`, then `fresh`.
std::vector<model::AgentSession> replaceTool(const std::vector<model::AgentSession>& current, model::AgentTool tool,
                                             std::vector<model::AgentSession> fresh);

// Working, waiting, idle or limited: everything but ended and errored.
bool isActive(const model::AgentSession& session);
int countInState(const std::vector<model::AgentSession>& sessions, model::SessionState state);
// The sum of the estimates of the sessions last active on the local calendar day of `now`
// (of one tool, when given); sessions without an estimate add nothing.
model::Decimal todayCost(const std::vector<model::AgentSession>& sessions, model::Timestamp now,
                         std::optional<model::AgentTool> tool = std::nullopt);

} // namespace loomwatch::core
