#pragma once

#include "cli/commandtable.h"

#include <vector>

namespace loomwatch::cli {

// The reports after one full refresh: sessions, status, costs, diagnostics.
std::vector<Command> reportCommands();

} // namespace loomwatch::cli
