#pragma once

// A series of scans rectified in one go: the rows of a table (a CSV file, or the scans of
// a folder), every row checked before any work, run in parallel within a job count and a
// memory budget, rows already done skipped, shards, and the report. The command line's
// batch and the window's Rectify Series run this same code; each row is rectified by
// RectifyScan, as rectify does it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "transform/RectifyJob.h"
#include "world/CoordinateSystem.h"

namespace gridmorph {

class CDIBWorld;

enum class EBatchStatus { Waiting, Written, Skipped, Refused, Failed, Cancelled };

// The status as the report names it: "written", "skipped", "refused", "failed", "cancelled".
const char* BatchStatusName(EBatchStatus eStatus);

struct SBatchRow {
    int nLine = 0;   // the table's line the row starts on, from 1
    int nIndex = 0;  // among the table's rows, from 0
    std::string strScan, strOutput, strPoints;
    SRectifyJob job;
    std::optional<SCoordinateSystem> outputSystem;  // the srs cell, resolved
    std::string strRefusal;                         // why the row cannot run, "" when it can
    std::uint64_t nMemory = 0;                      // estimated from the scan's size
    bool bAuto = false;                             // the locators from the grid on the scan
    std::optional<std::string> p1Map, p3Map;        // auto: "E,N" of corners 1 and 3 when given
    // After the run:
    EBatchStatus eStatus = EBatchStatus::Waiting;
    std::string strMessage;
    SRectifyResult result;
    double dSeconds = 0.0;
    bool bWarned = false;
};

// A table that cannot be read at all (no header, an unknown column, a broken quote).
class CBatchTableError {
public:
    explicit CBatchTableError(std::string strProblem) : m_strProblem(std::move(strProblem)) {}
    const std::string& Problem() const { return m_strProblem; }

private:
    std::string m_strProblem;
};

struct SBatchTable {
    std::string strTable;  // the table's file, "" for a folder's scans
    std::vector<SBatchRow> aRows;
};

// What a table may hold: far more than any real series (a row of scan, output and
// locators is about 100 bytes, a coordinate system's WKT in a cell a few KB), and little
// enough that reading and checking it stays within a small part of a machine's memory.
inline constexpr std::uint64_t kBatchTableLimit = std::uint64_t(64) << 20;  // bytes
inline constexpr std::size_t kBatchLineLimit = std::size_t(64) << 10;       // bytes of one line
inline constexpr std::size_t kBatchRowLimit = 1000000;

// The table's rows, each checked (cells, files, options as rectify checks them) and then
// against the rows before it (no output over another row's output or input, no sidecar
// written or removed that another row reads or writes, nor over the table). Throws
// CBatchTableError for a table that cannot be read, is over the limits above, or does not
// fit in the memory.
SBatchTable ReadBatchTable(const std::string& strTable);

// The same from the table's text, relative paths taken from strFolder ("" = as they are).
SBatchTable ReadBatchTableText(const std::string& strText, const std::string& strFolder,
                               const std::string& strTable);

// The scans of a folder (BMP, PNG, JPEG, GIF, TIFF) in name order, one row each: the
// locators remembered beside the scan
// (SCAN.points, else NAME.points for NAME.tif) when there is one, else from the grid found on
// the scan; the output NAME-rectified.tif in strOutputFolder (LZW TIFF). Checked as a
// table's rows are. Line numbers count the scans from 1.
SBatchTable ReadScanFolder(const std::string& strFolder, const std::string& strOutputFolder);

// The output name the window gives a scan of a folder: NAME-rectified.tif.
std::string SeriesOutputName(const std::string& strScan);

// "" when the report can be written there, else why not (it would replace a file of the
// batch).
std::string CheckBatchReport(const SBatchTable& table, const std::string& strReport);

// This shard's rows (every N-th from the I-th, 1-based), in table order.
std::vector<SBatchRow*> SelectShard(SBatchTable& table, int nShard, int nShards);

// True when the row's output and its world file exist and are newer than the last change
// of its scan, its .points file and the table (the later of a file's modification time
// and its inode's change time: a scan replaced by an older file is noticed).
bool BatchRowUpToDate(const SBatchRow& row, const std::string& strTable);

struct SBatchProgress {
    int nDone = 0, nTotal = 0, nFailed = 0, nWarned = 0;
    double dSecondsLeft = 0.0;  // estimated from the rows done so far
};

// "3 of 10 rows done, 0 failed, 1 warned, 0:01:20 left": the progress line of a batch.
std::string FormatBatchProgress(const SBatchProgress& progress);

// What the runner tells and asks of its front (the command line's progress line, the
// window's progress panel). RowFinished is called on the thread that ran the row, one row
// at a time, in the order the rows finish.
class CBatchFeedback {
public:
    virtual ~CBatchFeedback() = default;
    virtual void RowFinished(const SBatchRow& row, const SBatchProgress& progress) = 0;
    // True once the user asked to stop: no further row starts (a row running finishes, so
    // no output is left half written); the rows not started are Cancelled.
    virtual bool Cancelled() { return false; }
    // auto rows: the three locators from the grid on the scan; false with the reason in
    // strProblem ("" when it has been told already).
    virtual bool FindLocators(const SBatchRow& row, const CDIBWorld& source, CLocatorSet& locators,
                              std::string& strProblem);
};

struct SBatchSettings {
    int nJobs = 0;                // rows at once; 0 = the processors
    std::uint64_t nMemory = 0;    // the budget of the running rows together; 0 = half the machine's
    bool bForce = false;          // redo rows already up to date, and replace read-only outputs
    EAnswer eQuestionAnswer = EAnswer::No;  // the answer to the locator questions
    // The rows' messages are kept with the rows by a platform the runner installs for the
    // threads that run rows, and for them only: the caller's other threads (a window's
    // user-interface thread) go on with their own. False: the rows use the platform the
    // calling thread has.
    bool bInstallPlatform = true;
};

struct SBatchCounts {
    int nRun = 0, nWritten = 0, nSkipped = 0, nFailed = 0, nWarned = 0, nCancelled = 0;
};

// Runs the rows given (the refused ones must have been dealt with): skips those up to date
// unless forced, then rectifies the others, rows in table order, as many at once as the
// jobs and the memory allow, the processors shared out between them.
SBatchCounts RunBatchRows(const std::vector<SBatchRow*>& aRows, const std::string& strTable,
                          const SBatchSettings& settings, CBatchFeedback& feedback);

// The report: a header line (when bHeader) and one CSV line per row, lines ending CRLF:
// line,scan,output,status,message,mismatch_pixels,mismatch_metres,west,north,east,south,
// resolution,seconds.
std::string FormatBatchReport(const std::vector<SBatchRow*>& aRows, bool bHeader);

// The machine's memory in bytes.
std::uint64_t MachineMemory();

}  // namespace gridmorph
