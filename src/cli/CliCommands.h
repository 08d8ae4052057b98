#pragma once

namespace gridmorph::cli {

// Runs gridmorph-cli with its command line; returns the process exit code.
int RunCli(int argc, char** argv);

}  // namespace gridmorph::cli
