#include "cli/sessionfilter.h"

#include "cli/commandtable.h"
#include "core/sessionlist.h"

#include <unicode/unistr.h>

namespace loomwatch::cli {

namespace {

icu::UnicodeString folded(const std::string& text)
{
    return icu::UnicodeString::fromUTF8(text).foldCase();
}

} // namespace

SessionFilter SessionFilter::fromArguments(const Arguments& arguments)
{
    SessionFilter filter;
    for (const auto& raw : arguments.values("--tool"))
        filter.tools.insert(*model::agentToolFromRaw(raw));
    for (const auto& raw : arguments.values("--state"))
        filter.states.insert(*model::sessionStateFromRaw(raw));
    if (const auto& project = arguments.values("--project"); !project.empty())
        filter.project = project.front();
    filter.activeOnly = arguments.flag("--active");
    return filter;
}

bool SessionFilter::matches(const model::AgentSession& session) const
{
    if (!tools.empty() && !tools.contains(session.tool))
        return false;
    if (!states.empty() && !states.contains(session.state))
        return false;
    if (activeOnly && !core::isActive(session))
        return false;
    return !project || folded(session.projectName).indexOf(folded(*project)) >= 0;
}

} // namespace loomwatch::cli
