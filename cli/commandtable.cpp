#include "cli/commandtable.h"

#include <algorithm>

namespace loomwatch::cli {

namespace {

constexpr std::size_t overviewColumn = 34;
constexpr std::string_view program = "loomwatch-cli";

// "  left   description" with the description starting at `column` (or one space after a longer
// left part), its further lines aligned under its first.
std::string twoColumns(const std::string& left, std::string_view description, std::size_t column)
{
    std::string line = "  " + left;
    line.append(line.size() < column ? column - line.size() : 1, ' ');
    for (std::size_t start = 0;;) {
        const std::size_t end = description.find('\n', start);
        line.append(description.substr(start, end - start));
        line.push_back('\n');
        if (end == std::string_view::npos)
            return line;
        line.append(column, ' ');
        start = end + 1;
    }
}

std::string optionText(const Option& option)
{
    return option.valueName.empty() ? option.name : option.name + " " + option.valueName;
}

std::string synopsis(const Command& command)
{
    std::string text = command.name;
    if (!command.operand.empty())
        text += command.operandOptional ? " [" + command.operand + "]" : " " + command.operand;
    for (const Option& option : command.options)
        text += " [" + optionText(option) + "]" + (option.repeatable ? "..." : "");
    return text;
}

std::string joined(const std::vector<std::string>& values)
{
    std::string text;
    for (const auto& value : values)
        text += (text.empty() ? "" : ", ") + value;
    return text;
}

} // namespace

const std::vector<std::string>& Arguments::values(std::string_view name) const
{
    static const std::vector<std::string> none;
    const auto it = options.find(name);
    return it == options.end() ? none : it->second;
}

CommandTable::CommandTable(std::vector<Command> commands) : m_commands(std::move(commands)) {}

const Command* CommandTable::find(std::string_view name) const
{
    const auto it = std::ranges::find(m_commands, name, &Command::name);
    return it == m_commands.end() ? nullptr : &*it;
}

std::variant<Arguments, UsageError> CommandTable::parse(const std::vector<std::string>& args) const
{
    if (args.empty())
        return UsageError{"missing command", ""};
    const Command* command = find(args.front());
    if (command == nullptr)
        return UsageError{"unknown command '" + args.front() + "'", ""};
    Arguments parsed;
    parsed.command = command->name;
    const auto error = [&](std::string message) {
        return UsageError{std::move(message), command->name};
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            return parsed;
        }
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const auto option = std::ranges::find(command->options, name, &Option::name);
        if (option == command->options.end()) {
            if (command->operand.empty() || parsed.operand || arg.starts_with("--"))
                return error("unexpected argument '" + arg + "' for " + command->name);
            parsed.operand = arg;
            continue;
        }
        auto& values = parsed.options[option->name];
        if (option->valueName.empty()) {
            if (equals != std::string::npos)
                return error(option->name + " takes no value");
            continue;
        }
        if (equals == std::string::npos && i + 1 == args.size())
            return error(option->name + " needs a " + option->valueName);
        std::string value = equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
        if (!option->choices.empty() && std::ranges::find(option->choices, value) == option->choices.end())
            return error("unknown value '" + value + "' for " + option->name +
                         "; valid values: " + joined(option->choices));
        if (!values.empty() && !option->repeatable)
            return error(option->name + " given twice");
        values.push_back(std::move(value));
    }
    if (!command->operand.empty() && !command->operandOptional && !parsed.operand)
        return error(command->name + " needs a " + command->operand);
    return parsed;
}

std::string CommandTable::overview() const
{
    std::string text = "Usage: loomwatch-cli COMMAND [OPTIONS]\n"
                       "\n"
                       "Keeps watch over the coding agents on this computer (Claude Code, Codex, OpenCode, Cursor).\n"
                       "\n"
                       "Commands:\n";
    for (const Command& command : m_commands) {
        if (command.hidden)
            continue;
        std::string left = synopsis(command);
        if (left.size() + 3 > overviewColumn)
            left = command.name + (command.operand.empty() ? "" : " " + command.operand) + " [OPTIONS]";
        text += twoColumns(left, command.summary, overviewColumn);
    }
    text += "\nOptions:\n";
    text += twoColumns("-h, --help", "show this help", overviewColumn);
    text += twoColumns("--version", "show the version", overviewColumn);
    text += "\nRun 'loomwatch-cli help COMMAND' for a command's options and an example.\n";
    return text;
}

std::string CommandTable::help(const Command& command) const
{
    std::string text = "Usage: " + std::string(program) + " " + synopsis(command) + "\n\n" + command.description + "\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Option& option : command.options) {
        std::string description = option.help;
        if (option.repeatable)
            description += " (repeatable)";
        if (!option.choices.empty())
            description += ": " + joined(option.choices);
        rows.emplace_back(optionText(option), description);
    }
    rows.emplace_back("-h, --help", "show this help");
    std::size_t column = 0;
    for (const auto& [left, description] : rows)
        column = std::max(column, left.size() + 4);
    text += "\nOptions:\n";
    for (const auto& [left, description] : rows)
        text += twoColumns(left, description, column);
    if (!command.example.empty())
        text += "\nExample:\n  " + std::string(program) + " " + command.example + "\n";
    return text;
}

std::string CommandTable::usageErrorText(const UsageError& error) const
{
    std::string text = std::string(program) + ": " + error.message + "\n";
    if (error.command.empty())
        return text + "\n" + overview();
    return text + "Run '" + std::string(program) + " help " + error.command + "' for its usage.\n";
}

} // namespace loomwatch::cli
