#pragma once

#include "model/clock.h"
#include "model/sessionprovider.h"

#include <memory>
#include <string>
#include <vector>

namespace loomwatch::core {

// The four providers of the real application, in refresh order, each with its own process
// inspector: Claude Code and Codex transcripts, the OpenCode database and Cursor's folder, over
// `home` and `cursorRoot` (defaults: homeDirectory() and cursorDirectory()).
std::vector<std::shared_ptr<model::SessionProvider>>
makeDefaultProviders(std::shared_ptr<const model::Clock> clock, std::string home = {}, std::string cursorRoot = {});

} // namespace loomwatch::core
