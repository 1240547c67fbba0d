#pragma once

#include "cli/commandtable.h"
#include "core/services.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace loomwatch::cli {

// Every command of loomwatch-cli, in the order the help lists them.
const CommandTable& commandTable();

// Runs one command line (`args` without the program name) and returns its exit status: 0 ok, 1 a
// provider or action failed, 2 usage error or unknown session id. Needs a QCoreApplication.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        core::ServiceOptions options = {});

// The program: the application object, the standard streams, then run().
int runProgram(int argc, char** argv);

} // namespace loomwatch::cli
