#pragma once

#include <map>
#include <vector>
#include <optional>
#include <string>

#include "transform/RectifyJob.h"
#include "world/CoordinateSystem.h"

namespace gridmorph::cli {

// Runs gridmorph-cli with its command line; returns the process exit code.
int RunCli(int argc, char** argv);

// A rectify command line given as its options ("--p1" → "X,Y,E,N", "--points", "--srs",
// "--compress", "--clip", ...), checked as rectify checks it and gathered into job
// (outputSystem: --srs resolved). Returns "" or what is wrong with it.
std::string ReadRectifyRow(const std::map<std::string, std::string>& aOptions, const std::string& strScan,
                           const std::string& strOutput, SRectifyJob& job,
                           std::optional<SCoordinateSystem>& outputSystem);

// gridmorph-cli batch TABLE [OPTIONS]: aArguments are the words after "batch".
int RunBatch(const std::vector<std::string>& aArguments);

}  // namespace gridmorph::cli
