#include "cli/CliCommands.h"
#include "io/SafeFileWriter.h"

int main(int argc, char** argv)
{
    // Interrupted or killed, the tool leaves no half-written temporary file behind.
    gridmorph::RemoveTemporaryFilesOnSignals();
    return gridmorph::cli::RunCli(argc, argv);
}
