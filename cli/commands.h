#pragma once

#include "cli/commandtable.h"
#include "core/services.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace loomwatch::cli {

// Every command of loomwatch-cli, in the order the help lists them.
const CommandTable& commandTable();

// Where a command line reads and writes, and how wide the terminal is.
struct Io
{
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::size_t columns = 80;
};

// Runs one command line (`args` without the program name) and returns its exit status: 0 ok, 1 a
// provider or action failed, 2 usage error or unknown session id, 3 (status) a session waits for
// input. Needs a QCoreApplication.
int run(const std::vector<std::string>& args, const Io& io, core::ServiceOptions options = {});

// The program: the application object, the standard streams and the terminal's width, then run().
int runProgram(int argc, char** argv);

} // namespace loomwatch::cli
