#include "cli/commands.h"

#include "cli/datetimetext.h"
#include "cli/jsonwriter.h"
#include "cli/terminaltable.h"
#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/services.h"
#include "handoff/handoffgenerator.h"
#include "model/clock.h"
#include "pricing/currencyformatter.h"
#include "providers/processcontrol.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>

#ifndef LOOMWATCH_VERSION
#define LOOMWATCH_VERSION "0.0.0"
#endif

namespace loomwatch::cli {

using model::AgentSession;
using model::AgentTool;

namespace {

constexpr std::string_view usageText =
    "Usage: loomwatch-cli COMMAND [OPTIONS]\n"
    "\n"
    "Keeps watch over the coding agents on this computer (Claude Code, Codex, OpenCode, Cursor).\n"
    "\n"
    "Commands:\n"
    "  sessions [--json]               refresh every provider and list the sessions\n"
    "  costs [--json]                  today's estimated spend, in total and per tool\n"
    "  diagnostics [--json]            what Loomwatch can see, and what it keeps\n"
    "  handoff SESSION-ID              print a continuation handoff for one session\n"
    "  terminate SESSION-ID [--yes]    send SIGTERM to a session's agent process\n"
    "  watch [--json] [--notify]       keep running and report sessions as they change;\n"
    "                                  --notify also posts desktop notifications\n"
    "\n"
    "Options:\n"
    "  -h, --help                      show this help\n"
    "  --version                       show the version\n";

constexpr std::string_view privacyStatements[] = {
    "Loomwatch stores normalized metadata only. Full transcripts are read on demand and are never uploaded.",
    "OpenCode credential and account tables are never queried.",
};

constexpr std::string_view costsCaveat =
    "Estimates only. Models without a matching price are shown as unknown and contribute $0 to these totals.";

struct Arguments
{
    std::string command;
    std::optional<std::string> sessionId;
    bool json = false;
    bool notify = false;
    bool yes = false;
};

struct UsageError
{
    std::string message;
};

std::variant<Arguments, UsageError> parseArguments(const std::vector<std::string>& args)
{
    Arguments parsed;
    if (args.empty())
        return UsageError{"missing command"};
    parsed.command = args.front();
    const bool takesJson = parsed.command == "sessions" || parsed.command == "costs" ||
                           parsed.command == "diagnostics" || parsed.command == "watch";
    const bool takesId = parsed.command == "handoff" || parsed.command == "terminate";
    if (!takesJson && !takesId)
        return UsageError{"unknown command '" + parsed.command + "'"};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json" && takesJson)
            parsed.json = true;
        else if (arg == "--notify" && parsed.command == "watch")
            parsed.notify = true;
        else if (arg == "--yes" && parsed.command == "terminate")
            parsed.yes = true;
        else if (takesId && !parsed.sessionId && !arg.starts_with("--"))
            parsed.sessionId = arg;
        else
            return UsageError{"unexpected argument '" + arg + "' for " + parsed.command};
    }
    if (takesId && !parsed.sessionId)
        return UsageError{parsed.command + " needs a SESSION-ID"};
    return parsed;
}

void writeSession(JsonWriter& json, const AgentSession& s)
{
    json.beginObject();
    json.key("id").value(s.id);
    json.key("tool").value(model::rawValue(s.tool));
    json.key("projectPath").value(s.projectPath);
    json.key("projectName").value(s.projectName);
    json.key("branch").value(s.branch);
    json.key("model").value(s.model);
    json.key("startedAt").value(model::formatIso8601Millis(s.startedAt));
    json.key("lastActivityAt").value(model::formatIso8601Millis(s.lastActivityAt));
    json.key("processID");
    if (s.processID)
        json.value(static_cast<std::int64_t>(*s.processID));
    else
        json.null();
    json.key("state").value(model::rawValue(s.state));
    json.key("supportLevel").value(model::rawValue(s.supportLevel));
    json.key("tokens").beginObject();
    json.key("input").value(s.tokens.input);
    json.key("output").value(s.tokens.output);
    json.key("cacheRead").value(s.tokens.cacheRead);
    json.key("cacheWrite").value(s.tokens.cacheWrite);
    json.endObject();
    json.key("estimatedCost");
    if (s.estimatedCost)
        json.value(s.estimatedCost->toString());
    else
        json.null();
    json.key("lastSnippet").value(s.lastSnippet);
    json.key("parserVersion").value(s.parserVersion);
    json.key("sourcePath").value(s.sourcePath);
    json.endObject();
}

std::string ageText(model::Timestamp then, model::Timestamp now)
{
    using namespace std::chrono;
    const auto seconds = duration_cast<std::chrono::seconds>(now - then).count();
    if (seconds < 60)
        return "now";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + "m ago";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + "h ago";
    return std::to_string(seconds / 86400) + "d ago";
}

// Signals that end `watch`: a self-pipe turns SIGINT/SIGTERM into an event-loop wakeup.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

void quitOnTerminationSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
}

class Runner
{
public:
    // The application's own services; notifications only when asked for, file watches only for `watch`.
    explicit Runner(bool withNotifications, bool watching = false)
        : m_services([&] {
              core::ServiceOptions options;
              options.notify = withNotifications;
              options.watchChanges = watching;
              return options;
          }())
    {}

    core::AppStore& store() { return *m_services.store; }

    // Start the store (prune, one full refresh) and wait for that refresh to finish.
    void refreshOnce()
    {
        QEventLoop loop;
        QObject::connect(m_services.store.get(), &core::AppStore::refreshFinished, &loop, &QEventLoop::quit);
        m_services.store->start();
        loop.exec();
    }

    void start() { m_services.store->start(); }

    const core::Services& services() const { return m_services; }

    // Exit status of a one-shot command: a provider failure is reported on stderr.
    int reportErrors()
    {
        if (const auto& error = store().errorMessage()) {
            std::cerr << *error << '\n';
            return 1;
        }
        return 0;
    }

    const AgentSession* find(const std::string& id)
    {
        const auto& sessions = store().sessions();
        const auto it = std::find_if(sessions.begin(), sessions.end(), [&](const auto& s) { return s.id == id; });
        return it == sessions.end() ? nullptr : &*it;
    }

private:
    core::Services m_services;
};

// The read-only commands: one full refresh, the report on stdout, a provider failure on stderr.
int reportAfterRefresh(const std::function<void(const core::AppStore&)>& print)
{
    Runner runner(false);
    runner.refreshOnce();
    print(runner.store());
    std::cout.flush();
    return runner.reportErrors();
}

int sessionsCommand(const Arguments& args)
{
    return reportAfterRefresh([&](const core::AppStore& store) {
        const auto& sessions = store.sessions();
        std::cout << (args.json ? sessionsJson(sessions) + "\n" : sessionsTable(sessions, store.clock().now()));
    });
}

int costsCommand(const Arguments& args)
{
    return reportAfterRefresh([&](const core::AppStore& store) {
        if (args.json) {
            JsonWriter json;
            json.beginObject();
            json.key("today").value(store.todayCost().toString());
            json.key("currency").value("USD");
            json.key("tools").beginObject();
            for (AgentTool tool : model::allAgentTools)
                json.key(model::rawValue(tool)).value(store.todayCost(tool).toString());
            json.endObject().endObject();
            std::cout << json.text() << '\n';
        } else {
            TerminalTable table({{"", 14}, {"", 16, TerminalTable::Align::right}});
            std::cout << "Estimated costs today: " << pricing::formatUsd(store.todayCost()) << "\n\n";
            for (AgentTool tool : model::allAgentTools)
                table.addRow({std::string(model::displayName(tool)), pricing::formatUsd(store.todayCost(tool))});
            std::cout << table.render(false) << '\n' << costsCaveat << '\n';
        }
    });
}

int diagnosticsCommand(const Arguments& args)
{
    return reportAfterRefresh([&](const core::AppStore& store) {
        if (args.json) {
            JsonWriter json;
            json.beginObject();
            json.key("probes").beginArray();
            for (const auto& probe : store.probes()) {
                json.beginObject();
                json.key("tool").value(model::rawValue(probe.tool));
                json.key("installed").value(probe.installed);
                json.key("supportLevel").value(model::rawValue(probe.supportLevel));
                json.key("detectedPath").value(probe.detectedPath);
                json.key("lastError").value(probe.lastError);
                json.endObject();
            }
            json.endArray();
            json.key("lastRefresh");
            if (store.lastRefresh())
                json.value(model::formatIso8601Millis(*store.lastRefresh()));
            else
                json.null();
            json.key("sessionCount").value(static_cast<std::int64_t>(store.sessions().size()));
            json.key("historyRetentionDays").value(std::int64_t{7});
            json.endObject();
            std::cout << json.text() << '\n';
        } else {
            std::cout << "Provider support\n";
            for (const auto& probe : store.probes()) {
                TerminalTable row({{"", 13}, {"", 12}, {"", 9}});
                row.addRow({std::string(model::displayName(probe.tool)),
                            std::string(model::rawValue(probe.supportLevel)), probe.installed ? "found" : "not found"});
                std::cout << row.render(false, 2) << "    " << probe.detectedPath << '\n';
                if (probe.lastError)
                    std::cout << "    " << *probe.lastError << '\n';
            }
            std::cout << "\nRefresh\n";
            TerminalTable refresh({{"", 20}, {"", 50}});
            refresh.addRow(
                {"Last completed", store.lastRefresh() ? localDateTimeText(*store.lastRefresh()) : "Not yet"});
            refresh.addRow({"Sessions in memory", std::to_string(store.sessions().size())});
            refresh.addRow({"History retention", "7 days"});
            std::cout << refresh.render(false, 2) << "\nPrivacy\n";
            for (auto statement : privacyStatements)
                std::cout << "  " << statement << '\n';
        }
    });
}

int handoffCommand(const Arguments& args)
{
    Runner runner(false);
    runner.refreshOnce();
    const int status = runner.reportErrors();
    const AgentSession* session = runner.find(*args.sessionId);
    if (!session) {
        std::cerr << "No session with the id " << *args.sessionId << ".\n";
        return 2;
    }
    try {
        const handoff::HandoffGenerator generator(
            [resources = runner.services().resources] { return resources->handoffTemplateText(); });
        std::cout << generator.generateHandoff(*session);
        std::cout.flush();
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return status;
}

bool confirm(const AgentSession& session)
{
    std::cerr << "Terminate " << session.projectName << "?\n"
              << "Loomwatch will send SIGTERM to process " << *session.processID
              << ". Unsaved agent work may be lost.\n"
              << "Terminate? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

int terminateCommand(const Arguments& args)
{
    Runner runner(false);
    runner.refreshOnce();
    runner.reportErrors();
    const AgentSession* session = runner.find(*args.sessionId);
    if (!session) {
        std::cerr << "No session with the id " << *args.sessionId << ".\n";
        return 2;
    }
    if (!session->processID) {
        std::cerr << "No agent process belongs to " << session->id << ".\n";
        return 1;
    }
    if (!args.yes && !confirm(*session)) {
        std::cerr << "Not terminated.\n";
        return 1;
    }
    try {
        providers::terminate(*session->processID, session->tool);
    } catch (const providers::ProcessControlError&) {
        std::cerr << providers::terminationFailureMessage(*session->processID) << '\n';
        return 1;
    }
    return 0;
}

class WatchPrinter
{
public:
    WatchPrinter(core::AppStore& store, bool json) : m_store(store), m_json(json) {}

    void sessionsChanged()
    {
        std::map<std::string, AgentSession> current;
        for (const auto& session : m_store.sessions())
            current.emplace(session.id, session);
        for (const auto& session : m_store.sessions()) {
            const auto before = m_known.find(session.id);
            if (before == m_known.end())
                print("appeared", session);
            else if (before->second.state != session.state)
                print("changed", session);
        }
        for (const auto& [id, session] : m_known) {
            if (!current.contains(id))
                print("disappeared", session);
        }
        m_known = std::move(current);
        std::cout.flush();
    }

    void errorChanged()
    {
        if (const auto& error = m_store.errorMessage(); error && error != m_lastError)
            std::cerr << *error << std::endl;
        m_lastError = m_store.errorMessage();
    }

private:
    void print(std::string_view event, const AgentSession& s)
    {
        if (m_json) {
            JsonWriter json;
            json.beginObject().key("event").value(event).key("session");
            writeSession(json, s);
            json.endObject();
            std::cout << json.text() << '\n';
            return;
        }
        TerminalTable line({{"", 11}, {"", 11}, {"", 22}, {"", 15}, {"", 12}});
        line.addRow({localTimeText(m_store.clock().now()), std::string(event), s.projectName,
                     std::string(model::displayName(s.state)), std::string(model::displayName(s.tool))});
        std::cout << line.render(false);
    }

    core::AppStore& m_store;
    bool m_json;
    std::map<std::string, AgentSession> m_known;
    std::optional<std::string> m_lastError;
};

int watchCommand(const Arguments& args, QCoreApplication& app)
{
    quitOnTerminationSignals(app);
    Runner runner(args.notify, true);
    WatchPrinter printer(runner.store(), args.json);
    QObject::connect(&runner.store(), &core::AppStore::sessionsChanged, &app, [&] { printer.sessionsChanged(); });
    QObject::connect(&runner.store(), &core::AppStore::errorMessageChanged, &app, [&] { printer.errorChanged(); });
    runner.start();
    app.exec();
    return 0;
}

} // namespace

std::string sessionsJson(const std::vector<AgentSession>& sessions)
{
    JsonWriter json;
    json.beginArray();
    for (const auto& session : sessions)
        writeSession(json, session);
    json.endArray();
    return json.text();
}

std::string sessionsTable(const std::vector<AgentSession>& sessions, model::Timestamp now)
{
    if (sessions.empty())
        return "No sessions found.\n";
    // 11 + 15 + 17 + 12 + 9 + 7 characters and five two-space gaps: 81 would wrap, this is 79.
    TerminalTable table({{"TOOL", 11},
                         {"STATE", 15},
                         {"PROJECT", 17},
                         {"BRANCH", 11},
                         {"COST", 9, TerminalTable::Align::right},
                         {"ACTIVE", 6, TerminalTable::Align::right}});
    for (const auto& s : sessions) {
        table.addRow({std::string(model::displayName(s.tool)), std::string(model::displayName(s.state)), s.projectName,
                      s.branch.value_or(""), s.estimatedCost ? pricing::formatUsd(*s.estimatedCost) : "-",
                      ageText(s.lastActivityAt, now)});
    }
    return table.render(true);
}

int run(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args.front() == "-h" || args.front() == "--help")) {
        std::cout << usageText;
        return 0;
    }
    if (!args.empty() && args.front() == "--version") {
        std::cout << "loomwatch-cli " << LOOMWATCH_VERSION << '\n';
        return 0;
    }
    const auto parsed = parseArguments(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        std::cerr << "loomwatch-cli: " << error->message << "\n\n" << usageText;
        return 2;
    }
    const auto& arguments = std::get<Arguments>(parsed);

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    QCoreApplication::setOrganizationName("Loomwatch");
    QCoreApplication::setApplicationName("Loomwatch");

    if (arguments.command == "sessions")
        return sessionsCommand(arguments);
    if (arguments.command == "costs")
        return costsCommand(arguments);
    if (arguments.command == "diagnostics")
        return diagnosticsCommand(arguments);
    if (arguments.command == "handoff")
        return handoffCommand(arguments);
    if (arguments.command == "terminate")
        return terminateCommand(arguments);
    return watchCommand(arguments, app);
}

} // namespace loomwatch::cli
