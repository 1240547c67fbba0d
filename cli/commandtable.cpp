#include "cli/commandtable.h"

#include <algorithm>

namespace loomwatch::cli {

namespace {

constexpr std::size_t descriptionColumn = 34;

// "  left   description", the description's further lines aligned under its first.
std::string overviewLine(const std::string& left, std::string_view description)
{
    std::string line = "  " + left;
    line.append(line.size() < descriptionColumn ? descriptionColumn - line.size() : 1, ' ');
    for (std::size_t start = 0;;) {
        const std::size_t end = description.find('\n', start);
        line.append(description.substr(start, end - start));
        line.push_back('\n');
        if (end == std::string_view::npos)
            return line;
        line.append(descriptionColumn, ' ');
        start = end + 1;
    }
}

std::string synopsis(const Command& command)
{
    std::string text = command.name;
    if (!command.operand.empty())
        text += " " + command.operand;
    for (const Option& option : command.options)
        text += " [" + option.name + (option.valueName.empty() ? "" : " " + option.valueName) + "]";
    return text;
}

} // namespace

CommandTable::CommandTable(std::vector<Command> commands) : m_commands(std::move(commands)) {}

const Command* CommandTable::find(std::string_view name) const
{
    const auto it = std::ranges::find(m_commands, name, &Command::name);
    return it == m_commands.end() ? nullptr : &*it;
}

std::variant<Arguments, UsageError> CommandTable::parse(const std::vector<std::string>& args) const
{
    if (args.empty())
        return UsageError{"missing command"};
    const Command* command = find(args.front());
    if (command == nullptr)
        return UsageError{"unknown command '" + args.front() + "'"};
    Arguments parsed;
    parsed.command = command->name;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto option = std::ranges::find(command->options, arg, &Option::name);
        if (option != command->options.end()) {
            auto& values = parsed.options[option->name];
            if (option->valueName.empty())
                continue;
            if (i + 1 == args.size())
                return UsageError{option->name + " needs a " + option->valueName};
            values.push_back(args[++i]);
        } else if (!command->operand.empty() && !parsed.operand && !arg.starts_with("--")) {
            parsed.operand = arg;
        } else {
            return UsageError{"unexpected argument '" + arg + "' for " + command->name};
        }
    }
    if (!command->operand.empty() && !parsed.operand)
        return UsageError{command->name + " needs a " + command->operand};
    return parsed;
}

std::string CommandTable::usage() const
{
    std::string text = "Usage: loomwatch-cli COMMAND [OPTIONS]\n"
                       "\n"
                       "Keeps watch over the coding agents on this computer (Claude Code, Codex, OpenCode, Cursor).\n"
                       "\n"
                       "Commands:\n";
    for (const Command& command : m_commands)
        text += overviewLine(synopsis(command), command.summary);
    text += "\nOptions:\n";
    text += overviewLine("-h, --help", "show this help");
    text += overviewLine("--version", "show the version");
    return text;
}

} // namespace loomwatch::cli
