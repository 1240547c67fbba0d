#pragma once

#include "model/sessiontypes.h"

#include <string>
#include <vector>

namespace loomwatch::cli {

// Entry point of loomwatch-cli; returns the process exit status (0 ok, 1 a provider or action
// failed, 2 usage error or unknown session id).
int run(int argc, char** argv);

// The output formats, exposed for tests.
std::string sessionsJson(const std::vector<model::AgentSession>& sessions);
std::string sessionsTable(const std::vector<model::AgentSession>& sessions, model::Timestamp now);

} // namespace loomwatch::cli
