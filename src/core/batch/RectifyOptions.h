#pragma once

// The options of the commands that write a map, read as the command line gives them
// ("--p1" -> "X,Y,E,N", "--compress" -> "lzw", ...) and checked before any work. The
// command line's rectify and every row of a batch table are read here, so a row is refused
// for exactly the reasons rectify refuses the same options.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/codecs/ImageCodec.h"
#include "transform/RectifyJob.h"
#include "world/CoordinateSystem.h"

namespace gridmorph {

struct SCommandLine {
    std::string strCommand;
    std::vector<std::string> aPositional;
    std::map<std::string, std::string> aOptions;
    // What every save of the command is told (--compress, --srs), and --srs resolved.
    SEncodeOptions saveOptions;
    std::optional<SCoordinateSystem> outputSystem;
};

class CUsageError {
public:
    explicit CUsageError(std::string strProblem) : m_strProblem(std::move(strProblem)) {}
    const std::string& Problem() const { return m_strProblem; }

private:
    std::string m_strProblem;
};

// The numbers of a comma-separated option value; throws CUsageError unless there are
// exactly nExpected of them.
std::vector<double> ParseNumbers(const std::string& strList, std::size_t nExpected, const char* pOption);

// Refuses, before any work, a command that would write over a file it reads or over
// another file it writes (throws CUsageError).
void RefuseOutputOverInput(const SCommandLine& commandLine);

// --compress and --srs, into what every save of the command is told (throws CUsageError).
void ReadSaveOptions(SCommandLine& commandLine);

// Everything rectify is told, checked and gathered into a job: throws CUsageError for a
// wrong command line; returns the problem of a locator file that cannot be read, or "".
std::string PrepareRectifyJob(const SCommandLine& commandLine, SRectifyJob& job);

// The check of the locators against the grid lines found on the scan (without reading its
// labels) that rectify makes, its result kept in SRectifyResult::grid, and with --clip
// frame the frame's cells found on the same lines, found once for the job.
// PrepareRectifyJob adds it, so rectify and every batch row make the same check.
void AddGridCheck(SRectifyJob& job);

// A rectify command line given as its options ("--p1" -> "X,Y,E,N", "--points", "--srs",
// "--compress", "--clip", ...), checked as rectify checks it and gathered into job
// (outputSystem: --srs resolved). Returns "" or what is wrong with it. Its files are not
// checked against each other here: the batch checks each row's files, with the same
// entries as RefuseOutputOverInput and more, in the set of all the rows' files.
std::string ReadRectifyRow(const std::map<std::string, std::string>& aOptions, const std::string& strScan,
                           const std::string& strOutput, SRectifyJob& job,
                           std::optional<SCoordinateSystem>& outputSystem);

}  // namespace gridmorph
