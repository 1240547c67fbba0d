#pragma once

#include "cli/commandtable.h"
#include "core/services.h"

#include <iosfwd>
#include <memory>

namespace loomwatch::core {
class AppStore;
}

namespace loomwatch::cli {

// What one command runs with: its arguments, standard input, the width of the terminal, and the
// application's services, built on first use for this command (file watches only for a command that
// keeps running, notifications only when --notify was given).
class CommandContext
{
public:
    CommandContext(const Command& command, Arguments arguments, std::istream& in, std::size_t columns,
                   core::ServiceOptions options);
    ~CommandContext();
    CommandContext(const CommandContext&) = delete;
    CommandContext& operator=(const CommandContext&) = delete;

    const Arguments& args() const { return m_arguments; }
    std::istream& in() { return m_in; }
    std::size_t columns() const { return m_columns; }

    core::Services& services();
    core::AppStore& store() { return *services().store; }
    // Starts the store (prune, one full refresh) and waits for that refresh to finish.
    core::AppStore& refreshedStore();
    // A provider failure of the last refresh goes to `err`, as the exit status 1; else 0.
    int reportErrors(std::ostream& err);

private:
    const Command& m_command;
    Arguments m_arguments;
    std::istream& m_in;
    std::size_t m_columns;
    core::ServiceOptions m_options;
    std::unique_ptr<core::Services> m_services;
};

} // namespace loomwatch::cli
