#pragma once

#include "cli/commandtable.h"

namespace loomwatch::cli {

// Tokens and estimated costs of the Claude Code and Codex transcripts, per day or per session, from the usage ledger.
Command usageCommand();

} // namespace loomwatch::cli
