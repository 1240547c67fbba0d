#include "cli/commands.h"

#include "cli/commandcontext.h"
#include "cli/reportcommands.h"
#include "cli/sessioncommands.h"
#include "cli/watchcommand.h"

#include <QCoreApplication>

#include <iostream>

#ifndef LOOMWATCH_VERSION
#define LOOMWATCH_VERSION "0.0.0"
#endif

namespace loomwatch::cli {

const CommandTable& commandTable()
{
    static const CommandTable table = [] {
        std::vector<Command> commands = reportCommands();
        for (auto& command : sessionCommands())
            commands.push_back(std::move(command));
        commands.push_back(watchCommand());
        return CommandTable(std::move(commands));
    }();
    return table;
}

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        core::ServiceOptions options)
{
    const CommandTable& table = commandTable();
    if (!args.empty() && (args.front() == "-h" || args.front() == "--help")) {
        out << table.usage();
        return 0;
    }
    if (!args.empty() && args.front() == "--version") {
        out << "loomwatch-cli " << LOOMWATCH_VERSION << '\n';
        return 0;
    }
    auto parsed = table.parse(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        err << "loomwatch-cli: " << error->message << "\n\n" << table.usage();
        return 2;
    }
    auto& arguments = std::get<Arguments>(parsed);
    const Command& command = *table.find(arguments.command);
    CommandContext context(command, std::move(arguments), in, std::move(options));
    return command.run(context, out, err);
}

int runProgram(int argc, char** argv)
{
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    QCoreApplication::setOrganizationName("Loomwatch");
    QCoreApplication::setApplicationName("Loomwatch");
    return run(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
}

} // namespace loomwatch::cli
