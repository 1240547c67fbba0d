#include "cli/commands.h"

int main(int argc, char** argv)
{
    return loomwatch::cli::run(argc, argv);
}
