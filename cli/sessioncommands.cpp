#include "cli/sessioncommands.h"

#include "cli/commandcontext.h"
#include "cli/sessionids.h"
#include "core/appstore.h"
#include "core/editableresources.h"
#include "handoff/handoffgenerator.h"
#include "providers/processcontrol.h"

#include <algorithm>
#include <istream>
#include <ostream>

namespace loomwatch::cli {

namespace {

// The one session the operand names; else the reason on `err`.
const model::AgentSession* findSession(const core::AppStore& store, const std::string& query, std::ostream& err)
{
    const auto found = resolveSessionId(store.sessions(), query);
    if (found.size() == 1)
        return found.front();
    if (found.empty()) {
        err << "No session matches '" << query << "'.\n";
        return nullptr;
    }
    err << "'" << query << "' matches " << found.size() << " sessions:\n";
    for (const auto* session : found)
        err << "  " << session->id << "  " << model::displayName(session->tool) << "  " << session->projectName << '\n';
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

// For the shell completions: every session's short id, a tab, and what it is.
int idsCommand(CommandContext& context, std::ostream& out, std::ostream&)
{
    const auto& sessions = context.refreshedStore().sessions();
    const auto ids = shortIds(sessions);
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        std::string project = sessions[i].projectName;
        std::ranges::replace_if(
            project, [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        out << ids[i] << '\t' << project << " (" << model::displayName(sessions[i].state) << ", "
            << model::displayName(sessions[i].tool) << ")\n";
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
         .description = "Refreshes every provider and prints a continuation handoff for the session: its\n"
                        "project, branch and recent activity, with secrets redacted. SESSION-ID is any start of\n"
                        "a session's id that names it alone, with or without the tool prefix.",
         .example = "handoff 7d1c2f4e",
         .run = handoffCommand},
        {.name = "terminate",
         .operand = "SESSION-ID",
         .options = {{"--yes", "", "do not ask for confirmation"}},
         .summary = "send SIGTERM to a session's agent process",
         .description = "Refreshes every provider and, after a confirmation on the terminal, sends SIGTERM to\n"
                        "the agent process of the session. SESSION-ID is any start of a session's id that names\n"
                        "it alone, with or without the tool prefix.",
         .example = "terminate claude:7d1c2f4e --yes",
         .run = terminateCommand},
        {.name = "ids",
         .summary = "the short id of every session, for the shell completions",
         .description = "Prints each session's short id, a tab, and its project, state and tool.",
         .hidden = true,
         .keepsHistory = false,
         .run = idsCommand},
    };
}

} // namespace loomwatch::cli
