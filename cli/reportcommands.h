#pragma once

#include "cli/commandtable.h"

#include <vector>

namespace loomwatch::cli {

// The read-only reports after one full refresh: sessions, costs, diagnostics.
std::vector<Command> reportCommands();

} // namespace loomwatch::cli
