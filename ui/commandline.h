#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace loomwatch::ui {

// The desktop program's arguments, read before any window system is touched, so that --help and
// --version work without a display.
struct CommandLine
{
    // Made-up sessions, with a settings file and data folder of their own.
    bool demo = false;
    // Qt's own -platform and -display, which decide where the windows go.
    QString platform;
    QString display;
    // Set when the program ends here: what to print and the exit status (0 for --help and --version,
    // which go to standard output; 2 for a bad argument, which goes to standard error).
    std::optional<int> exitCode;
    QString output;

    static CommandLine parse(const QStringList& arguments);
};

} // namespace loomwatch::ui
