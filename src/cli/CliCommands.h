#pragma once

#include <vector>
#include <string>

namespace gridmorph::cli {

// Runs gridmorph-cli with its command line; returns the process exit code.
int RunCli(int argc, char** argv);

// gridmorph-cli batch TABLE [OPTIONS]: aArguments are the words after "batch".
int RunBatch(const std::vector<std::string>& aArguments);

}  // namespace gridmorph::cli
