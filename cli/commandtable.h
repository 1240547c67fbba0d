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

// One option of a command: a flag ("--json"), or, with a value name, an option followed by its value.
struct Option
{
    std::string name{};
    std::string valueName{};
    std::string help{};
};

using CommandFunction = std::function<int(CommandContext& context, std::ostream& out, std::ostream& err)>;

// A command as the user names it. Parsing, the usage text and dispatch all come from these fields.
struct Command
{
    std::string name{};
    // A required operand such as "SESSION-ID"; empty when the command takes none.
    std::string operand{};
    std::vector<Option> options{};
    // The overview's description; further lines are indented under the first.
    std::string summary{};
    // Keeps running: its services watch the agents' folders.
    bool watches = false;
    CommandFunction run{};
};

// A parsed command line. Flags are present with no values; valued options keep every value in order.
struct Arguments
{
    std::string command;
    std::optional<std::string> operand;
    std::map<std::string, std::vector<std::string>, std::less<>> options;

    bool flag(std::string_view name) const { return options.find(name) != options.end(); }
};

struct UsageError
{
    std::string message;
};

class CommandTable
{
public:
    explicit CommandTable(std::vector<Command> commands);

    const std::vector<Command>& commands() const { return m_commands; }
    const Command* find(std::string_view name) const;

    // `args` without the program name.
    std::variant<Arguments, UsageError> parse(const std::vector<std::string>& args) const;
    // The overview of every command and of the program's own options.
    std::string usage() const;

private:
    std::vector<Command> m_commands;
};

} // namespace loomwatch::cli
