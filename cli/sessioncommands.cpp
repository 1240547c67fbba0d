#include "cli/sessioncommands.h"

#include "cli/commandcontext.h"
#include "core/appstore.h"
#include "core/editableresources.h"
#include "handoff/handoffgenerator.h"
#include "providers/processcontrol.h"

#include <algorithm>
#include <istream>
#include <ostream>

namespace loomwatch::cli {

namespace {

const model::AgentSession* findSession(const core::AppStore& store, const std::string& id, std::ostream& err)
{
    const auto& sessions = store.sessions();
    const auto it = std::ranges::find(sessions, id, &model::AgentSession::id);
    if (it != sessions.end())
        return &*it;
    err << "No session with the id " << id << ".\n";
    return nullptr;
}

int handoffCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    const core::AppStore& store = context.refreshedStore();
    const int status = context.reportErrors(err);
    const model::AgentSession* session = findSession(store, *context.args().operand, err);
    if (session == nullptr)
        return 2;
    try {
        const handoff::HandoffGenerator generator(
            [resources = context.services().resources] { return resources->handoffTemplateText(); });
        out << generator.generateHandoff(*session);
        out.flush();
    } catch (const std::exception& error) {
        err << error.what() << '\n';
        return 1;
    }
    return status;
}

bool confirm(const model::AgentSession& session, std::istream& in, std::ostream& err)
{
    err << "Terminate " << session.projectName << "?\n"
        << "Loomwatch will send SIGTERM to process " << *session.processID << ". Unsaved agent work may be lost.\n"
        << "Terminate? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(in, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

int terminateCommand(CommandContext& context, std::ostream&, std::ostream& err)
{
    const core::AppStore& store = context.refreshedStore();
    context.reportErrors(err);
    const model::AgentSession* session = findSession(store, *context.args().operand, err);
    if (session == nullptr)
        return 2;
    if (!session->processID) {
        err << "No agent process belongs to " << session->id << ".\n";
        return 1;
    }
    if (!context.args().flag("--yes") && !confirm(*session, context.in(), err)) {
        err << "Not terminated.\n";
        return 1;
    }
    try {
        providers::terminate(*session->processID, session->tool);
    } catch (const providers::ProcessControlError&) {
        err << providers::terminationFailureMessage(*session->processID) << '\n';
        return 1;
    }
    return 0;
}

} // namespace

std::vector<Command> sessionCommands()
{
    return {
        {.name = "handoff",
         .operand = "SESSION-ID",
         .summary = "print a continuation handoff for one session",
         .run = handoffCommand},
        {.name = "terminate",
         .operand = "SESSION-ID",
         .options = {{"--yes", "", "do not ask for confirmation"}},
         .summary = "send SIGTERM to a session's agent process",
         .run = terminateCommand},
    };
}

} // namespace loomwatch::cli
