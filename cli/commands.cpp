#include "cli/commands.h"

#include "cli/commandcontext.h"
#include "cli/reportcommands.h"
#include "cli/sessioncommands.h"
#include "cli/usagecommand.h"
#include "cli/watchcommand.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

#ifndef LOOMWATCH_VERSION
#define LOOMWATCH_VERSION "0.0.0"
#endif

namespace loomwatch::cli {

namespace {

int helpCommand(CommandContext& context, std::ostream& out, std::ostream& err)
{
    const CommandTable& table = commandTable();
    if (!context.args().operand) {
        out << table.overview();
        return 0;
    }
    const Command* command = table.find(*context.args().operand);
    if (command == nullptr) {
        err << table.usageErrorText({"unknown command '" + *context.args().operand + "'", ""});
        return 2;
    }
    out << table.help(*command);
    return 0;
}

// The terminal's width, else $COLUMNS, else 80 (output to a pipe or a file).
std::size_t terminalColumns()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        char* end = nullptr;
        const long value = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && value > 0 && value < 10000)
            return static_cast<std::size_t>(value);
    }
    return 80;
}

} // namespace

const CommandTable& commandTable()
{
    static const CommandTable table = [] {
        std::vector<Command> commands;
        for (auto group : {reportCommands(), sessionCommands(), std::vector<Command>{watchCommand(), usageCommand()}})
            std::ranges::move(group, std::back_inserter(commands));
        commands.push_back({.name = "help",
                            .operand = "COMMAND",
                            .operandOptional = true,
                            .summary = "show this help, or one command's",
                            .description = "Shows the overview of every command, or one command's usage, options\n"
                                           "and an example.",
                            .example = "help sessions",
                            .keepsHistory = false,
                            .run = helpCommand});
        return CommandTable(std::move(commands));
    }();
    return table;
}

int run(const std::vector<std::string>& args, const Io& io, core::ServiceOptions options)
{
    const CommandTable& table = commandTable();
    if (!args.empty() && (args.front() == "-h" || args.front() == "--help")) {
        io.out << table.overview();
        return 0;
    }
    if (!args.empty() && args.front() == "--version") {
        io.out << "loomwatch-cli " << LOOMWATCH_VERSION << '\n';
        return 0;
    }
    auto parsed = table.parse(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        io.err << table.usageErrorText(*error);
        return 2;
    }
    auto& arguments = std::get<Arguments>(parsed);
    const Command& command = *table.find(arguments.command);
    if (arguments.help) {
        io.out << table.help(command);
        return 0;
    }
    CommandContext context(command, std::move(arguments), io.in, io.columns, std::move(options));
    return command.run(context, io.out, io.err);
}

int runProgram(int argc, char** argv)
{
    // Output to a closed pipe (`| head -1`) fails quietly instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    QCoreApplication::setOrganizationName("Loomwatch");
    QCoreApplication::setApplicationName("Loomwatch");
    return run(std::vector<std::string>(argv + 1, argv + argc), {std::cin, std::cout, std::cerr, terminalColumns()});
}

} // namespace loomwatch::cli
