// gridmorph-cli batch TABLE: the command line of the batch (batch/SeriesBatch does the
// work) and its progress line, its printed results and its report.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "batch/SeriesBatch.h"
#include "cli/CliCommands.h"
#include "cli/GridCommands.h"
#include "io/Numbers.h"
#include "io/QuoteText.h"
#include "io/SafeFileWriter.h"
#include "world/DIBWorld.h"

namespace gridmorph::cli {
namespace {

constexpr const char* kBatchUsage =
    "Usage: gridmorph-cli batch TABLE [--jobs N] [--memory MB] [--report FILE.csv] [--report-no-header]\n"
    "                              [--force] [--shard I/N] [--yes]\n"
    "\n"
    "Rectifies every row of TABLE, a CSV file (RFC 4180) whose header names the columns in\n"
    "any order: scan, output, and either points (a .points file) or p1x,p1y,p1e,p1n,p2x,p2y,\n"
    "p3x,p3y,p3e,p3n (pixels and metres as for rectify); optional srs, compress, clip,\n"
    "nodata, resample, p4x,p4y, and auto (1 = find the grid on the scan, with p1e,p1n and\n"
    "p3e,p3n as the corners' map positions when the labels cannot be read). An empty cell is\n"
    "the default. Relative paths are relative to the table's folder; an output is named as a\n"
    "picture (.tif, .png, .jpg, .gif, .bmp) in a folder that exists. Every row is checked\n"
    "before any work, also against the other rows: no row writes or removes a file another\n"
    "row reads or writes (its output, world file or .prj), so no row's result depends on\n"
    "--jobs. When a row is refused, the refused rows are listed and nothing runs. The table\n"
    "is at most 64 MB, a line at most 64 KB, the rows at most 1,000,000.\n"
    "\n"
    "  --jobs N            rows at once (default: the processors); the threads of the\n"
    "                      encoders and the resampler are shared out between them\n"
    "  --memory MB         memory the running rows may take together (default: half of\n"
    "                      the machine's); a row's need is estimated from its scan's size,\n"
    "                      and a row larger than the budget runs alone\n"
    "  --report FILE.csv   one line per row: line,scan,output,status,message,\n"
    "                      mismatch_pixels,mismatch_metres,west,north,east,south,resolution,\n"
    "                      seconds (status: written, skipped, refused, failed)\n"
    "  --report-no-header  leave out the report's header line (for shards' reports that\n"
    "                      are concatenated)\n"
    "  --force             redo rows whose output is already up to date\n"
    "  --shard I/N         only every N-th row, starting with row I (1-based: 1/N .. N/N,\n"
    "                      as a job array's task number)\n"
    "  --yes               answer Yes to the locator questions (else those rows fail)\n"
    "\n"
    "Each row gets rectify's warnings (a locator on the wrong grid line, the fourth corner);\n"
    "the report's mismatch is the larger of the grid check's and the fourth corner's. A row\n"
    "whose output and world file exist and are newer than the last change (modification or\n"
    "inode change time) of its scan, its .points file and the table is skipped. Exit status:\n"
    "0 when every row was written or skipped, 1 when any failed or the memory ran out, 2 for\n"
    "a wrong command line, a table that cannot be used or a refused row.\n";

class CBatchUsageError {
public:
    explicit CBatchUsageError(std::string strProblem) : m_strProblem(std::move(strProblem)) {}
    std::string m_strProblem;
};

int WholeNumber(const std::string& str, const char* pOption, double dLowest)
{
    const char* pEnd = nullptr;
    const double d = ScanNumber(str.c_str(), &pEnd);
    constexpr double kHighest = 1e6;
    if (str.empty() || *pEnd != '\0' || d != std::floor(d) || d < dLowest || d > kHighest)
        throw CBatchUsageError(std::string(pOption) + " takes a whole number from " + FormatFixed(dLowest, 0) +
                               " to " + FormatFixed(kHighest, 0));
    return int(d);
}

// The progress line on a terminal (a line of its own for a row that failed or warned),
// else one plain line per row on standard output.
class CCliBatchFeedback : public CBatchFeedback {
public:
    void RowFinished(const SBatchRow& row, const SBatchProgress& progress) override
    {
        const char* pStatus = BatchStatusName(row.eStatus);
        if (m_bTerminal) {
            if (row.eStatus == EBatchStatus::Failed || row.bWarned)
                std::fprintf(stderr, "\r\033[Kline %d %s: %s\n", row.nLine,
                             row.eStatus == EBatchStatus::Failed ? "failed" : "warning", row.strMessage.c_str());
            std::fprintf(stderr, "\r\033[K%s", FormatBatchProgress(progress).c_str());
            if (progress.nDone == progress.nTotal)
                std::fputc('\n', stderr);
            std::fflush(stderr);
        } else {
            std::printf("line %d: %s %s%s%s\n", row.nLine, pStatus, row.strOutput.c_str(),
                        row.strMessage.empty() ? "" : ": ", row.strMessage.c_str());
            std::fflush(stdout);
        }
    }
    // The grid finder's reasons go to standard error, as rectify --auto prints them.
    bool FindLocators(const SBatchRow& row, const CDIBWorld& source, CLocatorSet& locators,
                      std::string& strProblem) override
    {
        std::fprintf(stderr, "gridmorph-cli: batch: line %d: finding the grid on %s\n", row.nLine,
                     row.strScan.c_str());
        if (FindAutoLocators(source, row.p1Map ? &*row.p1Map : nullptr, row.p3Map ? &*row.p3Map : nullptr, locators))
            return true;
        strProblem = "the grid on the scan was not found with certainty (the reason is printed above)";
        return false;
    }
    const bool m_bTerminal = isatty(fileno(stderr)) != 0;
};

}  // namespace

namespace {

// What the batch verb's arguments ask for.
struct SBatchCommandLine {
    std::string strTable, strReport;
    int nShard = 1, nShards = 1;
    bool bReportHeader = true;
    SBatchSettings settings;
};

SBatchCommandLine ParseBatchArguments(const std::vector<std::string>& aArguments)
{
    SBatchCommandLine commandLine;
    SBatchSettings& settings = commandLine.settings;
    settings.eQuestionAnswer = EAnswer::No;
    for (std::size_t i = 0; i < aArguments.size(); ++i) {
        const std::string& str = aArguments[i];
        const auto Value = [&]() -> const std::string& {
            if (i + 1 >= aArguments.size())
                throw CBatchUsageError(str + " needs a value");
            return aArguments[++i];
        };
        if (str == "--jobs")
            settings.nJobs = WholeNumber(Value(), "--jobs", 1);
        else if (str == "--memory")
            settings.nMemory = std::uint64_t(WholeNumber(Value(), "--memory", 1)) << 20;
        else if (str == "--report")
            commandLine.strReport = Value();
        else if (str == "--report-no-header")
            commandLine.bReportHeader = false;
        else if (str == "--force")
            settings.bForce = true;
        else if (str == "--yes")
            settings.eQuestionAnswer = EAnswer::Yes;
        else if (str == "--shard") {
            const std::string& strShard = Value();
            const std::size_t nSlash = strShard.find('/');
            if (nSlash == std::string::npos)
                throw CBatchUsageError("--shard takes I/N, I from 1 to N");
            commandLine.nShard = WholeNumber(strShard.substr(0, nSlash), "--shard", 1);
            commandLine.nShards = WholeNumber(strShard.substr(nSlash + 1), "--shard", 1);
            if (commandLine.nShard > commandLine.nShards)
                throw CBatchUsageError("--shard takes I/N, I from 1 to N");
        } else if (str.rfind("--", 0) == 0)
            throw CBatchUsageError("unknown option " + QuoteForMessage(str));
        else if (commandLine.strTable.empty())
            commandLine.strTable = str;
        else
            throw CBatchUsageError("batch takes one table");
    }
    if (commandLine.strTable.empty())
        throw CBatchUsageError("batch takes a table (a CSV file)");
    return commandLine;
}

// The table read, with the report's name checked against it.
SBatchTable ReadCheckedTable(const SBatchCommandLine& commandLine)
{
    SBatchTable table;
    try {
        table = ReadBatchTable(commandLine.strTable);
    } catch (const CBatchTableError& error) {
        throw CBatchUsageError(error.Problem());
    }
    // The report is written by the batch too.
    if (!commandLine.strReport.empty()) {
        const std::string strProblem = CheckBatchReport(table, commandLine.strReport);
        if (!strProblem.empty())
            throw CBatchUsageError(strProblem);
    }
    return table;
}

// Writes the report when one was asked for; false (said on stderr) when it cannot be written.
bool WriteReport(const SBatchCommandLine& commandLine, const std::vector<SBatchRow*>& aMine)
{
    if (commandLine.strReport.empty())
        return true;
    if (!WriteTextFile(commandLine.strReport, FormatBatchReport(aMine, commandLine.bReportHeader))) {
        std::fprintf(stderr, "gridmorph-cli: batch: the report %s cannot be written\n", commandLine.strReport.c_str());
        return false;
    }
    return true;
}

// Says every refused row; true when there was one.
bool TellRefusedRows(const SBatchTable& table)
{
    bool bRefused = false;
    for (const SBatchRow& row : table.aRows)
        if (!row.strRefusal.empty()) {
            std::fprintf(stderr, "gridmorph-cli: batch: line %d refused: %s\n", row.nLine, row.strRefusal.c_str());
            bRefused = true;
        }
    return bRefused;
}

// Nothing runs when a row was refused: every row of this shard is reported as not run.
int RefuseWholeBatch(const SBatchCommandLine& commandLine, const std::vector<SBatchRow*>& aMine)
{
    for (SBatchRow* pRow : aMine) {
        pRow->eStatus = EBatchStatus::Refused;
        pRow->strMessage =
            pRow->strRefusal.empty() ? "not run: other rows of the table were refused" : pRow->strRefusal;
    }
    WriteReport(commandLine, aMine);
    std::fprintf(stderr, "gridmorph-cli: batch: nothing was done; mend the refused rows and start again\n");
    return 2;
}

}  // namespace

int RunBatch(const std::vector<std::string>& aArguments)
{
    for (const std::string& strArgument : aArguments)
        if (strArgument == "-h" || strArgument == "--help") {
            std::fputs(kBatchUsage, stdout);
            return 0;
        }
    try {
        const SBatchCommandLine commandLine = ParseBatchArguments(aArguments);
        SBatchTable table = ReadCheckedTable(commandLine);
        const std::vector<SBatchRow*> aMine = SelectShard(table, commandLine.nShard, commandLine.nShards);
        if (TellRefusedRows(table))
            return RefuseWholeBatch(commandLine, aMine);

        CCliBatchFeedback feedback;
        const SBatchCounts counts = RunBatchRows(aMine, table.strTable, commandLine.settings, feedback);
        if (!feedback.m_bTerminal)
            for (const SBatchRow* pRow : aMine)
                if (pRow->eStatus == EBatchStatus::Skipped)
                    std::printf("line %d: skipped %s: %s\n", pRow->nLine, pRow->strOutput.c_str(),
                                pRow->strMessage.c_str());
        std::printf("batch: %d written, %d skipped, %d failed, %d warned\n", counts.nWritten, counts.nSkipped,
                    counts.nFailed, counts.nWarned);
        const bool bReportWritten = WriteReport(commandLine, aMine);
        return counts.nFailed > 0 || !bReportWritten ? 1 : 0;
    } catch (const CBatchUsageError& error) {
        std::fprintf(stderr, "gridmorph-cli: batch: %s; see gridmorph-cli batch --help\n", error.m_strProblem.c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        // Whatever the batch was doing when memory ran out (a row's own work fails alone).
        std::fprintf(stderr, "gridmorph-cli: batch failed: out of memory (the machine has not enough memory "
                             "available for this work)\n");
        return 1;
    }
}

}  // namespace gridmorph::cli
