#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace loomwatch::cli {

class CommandContext;

// One option of a command: a flag ("--json"), or, with a value name, an option followed by its
// value ("--tool claude" or "--tool=claude").
struct Option
{
    std::string name{};
    std::string valueName{};
    std::string help{};
    // The accepted values; empty: any.
    std::vector<std::string> choices{};
    bool repeatable = false;
};

using CommandFunction = std::function<int(CommandContext& context, std::ostream& out, std::ostream& err)>;

// A command as the user names it. Parsing, the help texts and dispatch all come from these fields.
struct Command
{
    std::string name{};
    // An operand such as "SESSION-ID"; empty when the command takes none.
    std::string operand{};
    bool operandOptional = false;
    std::vector<Option> options{};
    // The overview's line; further lines are indented under the first.
    std::string summary{};
    // The command's own help page: what it does, in sentences.
    std::string description{};
    std::string example{};
    // Left out of the overview (a helper for the shell completions).
    bool hidden = false;
    // Keeps running: its services watch the agents' folders.
    bool watches = false;
    // Its refresh writes the history, as the application's does.
    bool keepsHistory = true;
    CommandFunction run{};
};

// A parsed command line. Flags are present with no values; valued options keep every value in order.
struct Arguments
{
    std::string command;
    std::optional<std::string> operand;
    std::map<std::string, std::vector<std::string>, std::less<>> options;
    // -h or --help after the command: its help page instead of a run.
    bool help = false;

    bool flag(std::string_view name) const { return options.find(name) != options.end(); }
    const std::vector<std::string>& values(std::string_view name) const;
};

// A command line that cannot run; `command` is the command it was meant for, when that is known.
struct UsageError
{
    std::string message;
    std::string command;
};

class CommandTable
{
public:
    explicit CommandTable(std::vector<Command> commands);

    const std::vector<Command>& commands() const { return m_commands; }
    const Command* find(std::string_view name) const;

    // `args` without the program name; the first one names the command.
    std::variant<Arguments, UsageError> parse(const std::vector<std::string>& args) const;
    // Every visible command in one line each, and the program's own options.
    std::string overview() const;
    // One command's usage, description, options and example.
    std::string help(const Command& command) const;
    // The message, then the help that fits the error.
    std::string usageErrorText(const UsageError& error) const;

private:
    std::vector<Command> m_commands;
};

} // namespace loomwatch::cli
