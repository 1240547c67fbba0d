#pragma once

#include "cli/commandtable.h"

namespace loomwatch::cli {

// Keeps running until SIGINT or SIGTERM and reports sessions as they appear, change state or go.
Command watchCommand();

} // namespace loomwatch::cli
