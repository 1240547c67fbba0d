#include "cli/commands.h"

int main(int argc, char** argv)
{
    return loomwatch::cli::runProgram(argc, argv);
}
