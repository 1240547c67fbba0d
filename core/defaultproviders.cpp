#include "core/defaultproviders.h"

#include "core/paths.h"
#include "ingestion/filesessionprovider.h"
#include "providers/cursorprovider.h"
#include "providers/opencodeprovider.h"
#include "providers/procfsprocesses.h"

namespace loomwatch::core {

std::vector<std::shared_ptr<model::SessionProvider>> makeDefaultProviders(std::shared_ptr<const model::Clock> clock,
                                                                          std::string home, std::string cursorRoot)
{
    if (home.empty())
        home = homeDirectory();
    if (cursorRoot.empty())
        cursorRoot = cursorDirectory();
    auto inspector = [] {
        return std::make_shared<const providers::NativeProcessInspector>();
    };
    std::vector<std::shared_ptr<model::SessionProvider>> result;
    result.push_back(std::make_shared<ingestion::FileSessionProvider>(model::AgentTool::claude,
                                                                      home + "/.claude/projects", inspector(), clock));
    result.push_back(std::make_shared<ingestion::FileSessionProvider>(model::AgentTool::codex,
                                                                      home + "/.codex/sessions", inspector(), clock));
    result.push_back(
        std::make_shared<providers::OpenCodeProvider>(home + "/.local/share/opencode/opencode.db", inspector()));
    result.push_back(std::make_shared<providers::CursorProvider>(cursorRoot, inspector(), clock));
    return result;
}

} // namespace loomwatch::core
