#pragma once

#include "cli/commandtable.h"

#include <vector>

namespace loomwatch::cli {

// The commands that act on one session, handoff and terminate, and the session ids for the shell
// completions.
std::vector<Command> sessionCommands();

} // namespace loomwatch::cli
