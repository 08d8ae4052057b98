#include "cli/CliCommands.h"

int main(int argc, char** argv) { return gridmorph::cli::RunCli(argc, argv); }
