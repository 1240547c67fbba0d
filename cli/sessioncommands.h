#pragma once

#include "cli/commandtable.h"

#include <vector>

namespace loomwatch::cli {

// The commands that act on one session: handoff, terminate.
std::vector<Command> sessionCommands();

} // namespace loomwatch::cli
