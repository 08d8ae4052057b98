// gridmorph-cli batch TABLE: a series of scans rectified from a CSV table, rows checked
// before any work, run in parallel within a job count and a memory budget, with resume,
// shards and a report. Each row is rectified by RectifyScan, as rectify does it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/GridCommands.h"
#include "io/Numbers.h"
#include "io/QuoteText.h"
#include "io/SafeFileWriter.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

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
    "the default. Relative paths are relative to the table's folder. Every row is checked\n"
    "before any work; when a row is refused, the refused rows are listed and nothing runs.\n"
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
    "A row whose output and world file exist and are newer than its scan, its .points file\n"
    "and the table is skipped. Exit status: 0 when every row was written or skipped, 1 when\n"
    "any failed, 2 for a wrong command line or a refused row.\n";

class CBatchUsageError {
public:
    explicit CBatchUsageError(std::string strProblem) : m_strProblem(std::move(strProblem)) {}
    std::string m_strProblem;
};

// The messages the core shows while a row runs belong to that row: they are kept per
// thread and reported with it. Questions take the batch's answer.
thread_local std::vector<std::string>* t_pRowMessages = nullptr;
thread_local int t_nRowMessages = 0;

class CBatchPlatform : public CHeadlessPlatform {
public:
    explicit CBatchPlatform(EAnswer eAnswer) : m_eAnswer(eAnswer) {}
    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override
    {
        ++t_nRowMessages;
        if (t_pRowMessages)
            t_pRowMessages->push_back(strText);
        const bool bQuestion = eKind == EMessageKind::QuestionYesNo || eKind == EMessageKind::QuestionYesNoCancel;
        return bQuestion ? m_eAnswer : EAnswer::Ok;
    }
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) override
    {
        std::lock_guard lock(m_mutex);
        return CHeadlessPlatform::GetProfileInt(strSection, strEntry, nDefault);
    }
    void WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue) override
    {
        std::lock_guard lock(m_mutex);
        CHeadlessPlatform::WriteProfileInt(strSection, strEntry, nValue);
    }
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) override
    {
        std::lock_guard lock(m_mutex);
        return CHeadlessPlatform::GetProfileString(strSection, strEntry, strDefault);
    }
    void WriteProfileString(const std::string& strSection, const std::string& strEntry,
                            const std::string& strValue) override
    {
        std::lock_guard lock(m_mutex);
        CHeadlessPlatform::WriteProfileString(strSection, strEntry, strValue);
    }
    void StartProgress(int, int, const std::string&) override {}
    void SetProgress(int, const std::string&) override {}
    void EndProgress() override {}

private:
    EAnswer m_eAnswer;
    std::mutex m_mutex;
};

struct SRecord {
    int nLine = 0;  // the table's line the record starts on, from 1
    std::vector<std::string> aFields;
};

// RFC 4180: fields separated by commas, a quoted field may hold commas, line breaks and
// doubled quotes; records end with CRLF or LF. Blank lines are left out.
std::vector<SRecord> ParseCsv(const std::string& strText)
{
    std::vector<SRecord> aRecords;
    std::size_t i = strText.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    int nLine = 1;
    while (i < strText.size()) {
        SRecord record;
        record.nLine = nLine;
        std::string strField;
        bool bEnd = false;
        while (!bEnd) {
            strField.clear();
            if (i < strText.size() && strText[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= strText.size())
                        throw CBatchUsageError("line " + std::to_string(record.nLine) + ": a quoted field is not closed");
                    if (strText[i] == '"') {
                        if (i + 1 < strText.size() && strText[i + 1] == '"') {
                            strField += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (strText[i] == '\n')
                        ++nLine;
                    strField += strText[i++];
                }
                if (i < strText.size() && strText[i] != ',' && strText[i] != '\r' && strText[i] != '\n')
                    throw CBatchUsageError("line " + std::to_string(nLine) + ": text after a quoted field");
            } else {
                while (i < strText.size() && strText[i] != ',' && strText[i] != '\r' && strText[i] != '\n')
                    strField += strText[i++];
            }
            record.aFields.push_back(strField);
            if (i < strText.size() && strText[i] == ',') {
                ++i;
                continue;
            }
            if (i < strText.size() && strText[i] == '\r')
                ++i;
            if (i < strText.size() && strText[i] == '\n')
                ++i;
            ++nLine;
            bEnd = true;
        }
        const bool bBlank = record.aFields.size() == 1 && record.aFields[0].empty();
        if (!bBlank)
            aRecords.push_back(std::move(record));
    }
    return aRecords;
}

std::string Trim(const std::string& str)
{
    std::size_t a = 0, b = str.size();
    while (a < b && std::isspace(static_cast<unsigned char>(str[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(str[b - 1])))
        --b;
    return str.substr(a, b - a);
}

const char* const kPointColumns[] = {"p1x", "p1y", "p1e", "p1n", "p2x", "p2y", "p3x", "p3y", "p3e", "p3n"};
const char* const kOptionColumns[] = {"srs", "compress", "clip", "nodata", "resample"};

struct SRow {
    int nLine = 0;
    int nIndex = 0;  // among the table's rows, from 0
    std::string strScan, strOutput, strPoints;
    SRectifyJob job;
    std::string strRefusal;
    std::uint64_t nMemory = 0;
    std::map<std::string, std::string> aAutoOptions;  // auto=1: --auto and the map positions
    // After the run:
    std::string strStatus;
    std::string strMessage;
    SRectifyResult result;
    double dSeconds = 0.0;
    bool bWarned = false;
};

std::string Resolve(const std::filesystem::path& folder, const std::string& strPath)
{
    if (strPath.empty() || strPath[0] == '/')
        return strPath;
    return (folder / strPath).lexically_normal().string();
}

// A name standing for the file wherever it is reached from: the existing file's device
// and inode, else its absolute name; in letter case folded, as the world-file search
// folds it.
std::string FileKey(const std::string& strPath)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) == 0)
        return "#" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    std::error_code error;
    std::string strKey = std::filesystem::weakly_canonical(strPath, error).string();
    if (error)
        strKey = strPath;
    for (char& c : strKey)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strKey;
}

// The output's name without its extension, folded: two outputs of one stem in one
// folder would share their world file or .prj.
std::string StemKey(const std::string& strPath)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(strPath, error);
    if (error)
        path = strPath;
    std::string strKey = (path.parent_path() / path.stem()).string();
    for (char& c : strKey)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strKey;
}

bool ModifiedTime(const std::string& strPath, std::int64_t& nNanoseconds)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0)
        return false;
    nNanoseconds = std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

// True when the row's output and its world file exist and are newer than what it reads.
bool UpToDate(const SRow& row, const std::string& strTable)
{
    std::int64_t nOutput = 0, nWorld = 0, nInput = 0;
    const std::string strWorld = FindWorldFile(row.strOutput);
    if (strWorld.empty() || !ModifiedTime(row.strOutput, nOutput) || !ModifiedTime(strWorld, nWorld))
        return false;
    const std::int64_t nOldest = std::min(nOutput, nWorld);
    for (const std::string& strInput : {row.strScan, row.strPoints, strTable}) {
        if (strInput.empty())
            continue;
        if (!ModifiedTime(strInput, nInput) || nInput > nOldest)
            return false;
    }
    return true;
}

std::string CsvField(const std::string& str)
{
    if (str.find_first_of(",\"\r\n") == std::string::npos)
        return str;
    std::string strQuoted = "\"";
    for (char c : str) {
        if (c == '"')
            strQuoted += '"';
        strQuoted += c;
    }
    return strQuoted + "\"";
}

std::uint64_t MachineMemory()
{
    const long nPages = sysconf(_SC_PHYS_PAGES);
    const long nPageSize = sysconf(_SC_PAGESIZE);
    return nPages > 0 && nPageSize > 0 ? std::uint64_t(nPages) * std::uint64_t(nPageSize) : (std::uint64_t(4) << 30);
}

int WholeNumber(const std::string& str, const char* pOption, double dLowest)
{
    const char* pEnd = nullptr;
    const double d = ScanNumber(str.c_str(), &pEnd);
    if (str.empty() || *pEnd != '\0' || d != std::floor(d) || d < dLowest || d > 1e6)
        throw CBatchUsageError(std::string(pOption) + " takes a whole number from " + FormatFixed(dLowest, 0));
    return int(d);
}

std::string FormatDuration(double dSeconds)
{
    const long n = long(dSeconds + 0.5);
    char aText[32];
    std::snprintf(aText, sizeof aText, "%ld:%02ld:%02ld", n / 3600, n / 60 % 60, n % 60);
    return aText;
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
        std::string strTable, strReport;
        int nJobs = 0, nShard = 1, nShards = 1;
        std::uint64_t nMemory = MachineMemory() / 2;
        bool bForce = false, bReportHeader = true, bYes = false;
        for (std::size_t i = 0; i < aArguments.size(); ++i) {
            const std::string& str = aArguments[i];
            const auto Value = [&]() -> const std::string& {
                if (i + 1 >= aArguments.size())
                    throw CBatchUsageError(str + " needs a value");
                return aArguments[++i];
            };
            if (str == "--jobs")
                nJobs = WholeNumber(Value(), "--jobs", 1);
            else if (str == "--memory")
                nMemory = std::uint64_t(WholeNumber(Value(), "--memory", 1)) << 20;
            else if (str == "--report")
                strReport = Value();
            else if (str == "--report-no-header")
                bReportHeader = false;
            else if (str == "--force")
                bForce = true;
            else if (str == "--yes")
                bYes = true;
            else if (str == "--shard") {
                const std::string& strShard = Value();
                const std::size_t nSlash = strShard.find('/');
                if (nSlash == std::string::npos)
                    throw CBatchUsageError("--shard takes I/N, I from 1 to N");
                nShard = WholeNumber(strShard.substr(0, nSlash), "--shard", 1);
                nShards = WholeNumber(strShard.substr(nSlash + 1), "--shard", 1);
                if (nShard > nShards)
                    throw CBatchUsageError("--shard takes I/N, I from 1 to N");
            } else if (str.rfind("--", 0) == 0)
                throw CBatchUsageError("unknown option " + QuoteForMessage(str));
            else if (strTable.empty())
                strTable = str;
            else
                throw CBatchUsageError("batch takes one table");
        }
        if (strTable.empty())
            throw CBatchUsageError("batch takes a table (a CSV file)");
        std::ifstream tableFile(strTable, std::ios::binary);
        if (!tableFile)
            throw CBatchUsageError("the table " + QuoteForMessage(strTable, 200) + " cannot be read");
        std::stringstream tableText;
        tableText << tableFile.rdbuf();
        const std::vector<SRecord> aRecords = ParseCsv(tableText.str());
        if (aRecords.empty())
            throw CBatchUsageError("the table has no header line");

        // The header: known columns in any order, each once.
        std::map<std::string, std::size_t> aColumns;
        for (std::size_t c = 0; c < aRecords[0].aFields.size(); ++c) {
            std::string strName = Trim(aRecords[0].aFields[c]);
            for (char& ch : strName)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            bool bKnown = strName == "scan" || strName == "output" || strName == "points" || strName == "auto" ||
                          strName == "p4x" || strName == "p4y";
            for (const char* p : kPointColumns)
                bKnown = bKnown || strName == p;
            for (const char* p : kOptionColumns)
                bKnown = bKnown || strName == p;
            if (!bKnown)
                throw CBatchUsageError("the table's column " + QuoteForMessage(strName) + " is not known");
            if (!aColumns.emplace(strName, c).second)
                throw CBatchUsageError("the table names the column " + strName + " twice");
        }
        if (!aColumns.count("scan") || !aColumns.count("output"))
            throw CBatchUsageError("the table needs the columns scan and output");
        std::size_t nPointColumns = 0;
        for (const char* p : kPointColumns)
            nPointColumns += aColumns.count(p);
        if (nPointColumns != 0 && nPointColumns != 10 && !aColumns.count("auto"))
            throw CBatchUsageError("the table names some of p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n; all ten are needed");
        if (!aColumns.count("points") && nPointColumns == 0 && !aColumns.count("auto"))
            throw CBatchUsageError("the table needs the column points, the columns p1x .. p3n, or auto");
        if (aColumns.count("p4x") != aColumns.count("p4y"))
            throw CBatchUsageError("the columns p4x and p4y go together");

        // Every row checked before any work.
        const std::filesystem::path folder = std::filesystem::path(strTable).parent_path();
        std::vector<SRow> aRows;
        std::map<std::string, int> aWrittenStems, aWrittenFiles;  // key -> line
        std::map<std::string, int> aReadFiles, aReadStems;
        const std::string strTableKey = FileKey(strTable);
        for (std::size_t r = 1; r < aRecords.size(); ++r) {
            const SRecord& record = aRecords[r];
            SRow row;
            row.nLine = record.nLine;
            row.nIndex = int(r - 1);
            const auto Cell = [&](const char* pName) -> std::string {
                const auto it = aColumns.find(pName);
                return it == aColumns.end() || it->second >= record.aFields.size() ? std::string()
                                                                                    : Trim(record.aFields[it->second]);
            };
            aRows.push_back(row);
            SRow& added = aRows.back();
            const auto Refuse = [&](const std::string& strWhy) {
                if (added.strRefusal.empty())
                    added.strRefusal = strWhy;
            };
            if (record.aFields.size() > aRecords[0].aFields.size()) {
                Refuse("the row has more cells than the header");
                continue;
            }
            added.strScan = Resolve(folder, Cell("scan"));
            added.strOutput = Resolve(folder, Cell("output"));
            added.strPoints = Resolve(folder, Cell("points"));
            const std::string strAuto = Cell("auto");
            bool bAnyPoint = false, bAllPoints = true;
            for (const char* p : kPointColumns) {
                bAnyPoint = bAnyPoint || !Cell(p).empty();
                bAllPoints = bAllPoints && !Cell(p).empty();
            }
            if (added.strScan.empty() || added.strOutput.empty()) {
                Refuse("the scan and the output are needed");
                continue;
            }
            if (!strAuto.empty() && strAuto != "0" && strAuto != "1") {
                Refuse("auto takes 1 or 0");
                continue;
            }
            const bool bAuto = strAuto == "1";
            bool bAnyPixel = !Cell("p4x").empty() || !Cell("p4y").empty();
            for (const char* p : {"p1x", "p1y", "p2x", "p2y", "p3x", "p3y"})
                bAnyPixel = bAnyPixel || !Cell(p).empty();
            if (bAuto && (!added.strPoints.empty() || bAnyPixel)) {
                Refuse("auto finds the locators on the scan; leave points and the pixel cells (p1x, p1y, p2x, p2y, "
                       "p3x, p3y, p4x, p4y) empty");
                continue;
            }
            if (!bAuto && !added.strPoints.empty() && bAnyPoint) {
                Refuse("the points file gives the three locators; leave p1x .. p3n empty");
                continue;
            }
            if (!bAuto && added.strPoints.empty() && !bAllPoints) {
                Refuse(bAnyPoint ? "p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n: all ten are needed"
                                 : "no locators: give points, p1x .. p3n or auto=1");
                continue;
            }
            struct stat info {};
            if (stat(added.strScan.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
                Refuse("the scan " + added.strScan + " does not exist");
                continue;
            }
            std::map<std::string, std::string> aOptions;
            if (bAuto) {
                // The map positions of corners 1 and 3 when the sheet's labels cannot be read.
                aOptions["--auto"] = "";
                if (!Cell("p1e").empty() || !Cell("p1n").empty())
                    aOptions["--p1"] = Cell("p1e") + "," + Cell("p1n");
                if (!Cell("p3e").empty() || !Cell("p3n").empty())
                    aOptions["--p3"] = Cell("p3e") + "," + Cell("p3n");
                added.aAutoOptions = aOptions;
            } else if (!added.strPoints.empty()) {
                aOptions["--points"] = added.strPoints;
            } else {
                aOptions["--p1"] = Cell("p1x") + "," + Cell("p1y") + "," + Cell("p1e") + "," + Cell("p1n");
                aOptions["--p2"] = Cell("p2x") + "," + Cell("p2y");
                aOptions["--p3"] = Cell("p3x") + "," + Cell("p3y") + "," + Cell("p3e") + "," + Cell("p3n");
            }
            if (!Cell("p4x").empty() || !Cell("p4y").empty())
                aOptions["--p4"] = Cell("p4x") + "," + Cell("p4y");
            for (const char* p : kOptionColumns)
                if (!Cell(p).empty())
                    aOptions[std::string("--") + p] = Cell(p);
            std::optional<SCoordinateSystem> outputSystem;
            const std::string strProblem =
                ReadRectifyRow(aOptions, added.strScan, added.strOutput, added.job, outputSystem);
            if (!strProblem.empty()) {
                Refuse(strProblem);
                continue;
            }
            int nWidth = 0, nHeight = 0;
            if (!ReadDeclaredPictureSize(added.strScan, nWidth, nHeight)) {
                Refuse("the scan " + added.strScan + " is not a picture that can be read");
                continue;
            }
            added.nMemory = EstimateRectifyMemory(nWidth, nHeight);
            // Across rows: no output over another row's output or input.
            const std::string strStem = StemKey(added.strOutput);
            const std::string strOutputKey = FileKey(added.strOutput);
            if (strOutputKey == strTableKey)
                Refuse("the output " + added.strOutput + " would replace the table");
            else if (const auto it = aWrittenStems.find(strStem); it != aWrittenStems.end())
                Refuse("the output " + added.strOutput + " would share its world file with the output of line " +
                       std::to_string(it->second));
            else if (const auto itRead = aReadFiles.find(strOutputKey); itRead != aReadFiles.end())
                Refuse("the output " + added.strOutput + " would replace a file read by line " +
                       std::to_string(itRead->second));
            else if (const auto itStem = aReadStems.find(strStem); itStem != aReadStems.end())
                Refuse("the output " + added.strOutput + " would write its world file or .prj beside the scan of line " +
                       std::to_string(itStem->second));
            for (const std::string& strRead : {added.strScan, added.strPoints}) {
                if (strRead.empty())
                    continue;
                if (const auto it = aWrittenFiles.find(FileKey(strRead)); it != aWrittenFiles.end())
                    Refuse("the file " + strRead + " is written by line " + std::to_string(it->second));
                else if (const auto itStem = aWrittenStems.find(StemKey(strRead));
                         itStem != aWrittenStems.end() && strRead == added.strScan)
                    Refuse("the scan " + strRead + " would be placed by the world file written by line " +
                           std::to_string(itStem->second));
            }
            if (!added.strRefusal.empty())
                continue;
            aWrittenStems.emplace(strStem, added.nLine);
            aWrittenFiles.emplace(strOutputKey, added.nLine);
            aReadFiles.emplace(FileKey(added.strScan), added.nLine);
            aReadStems.emplace(StemKey(added.strScan), added.nLine);
            if (!added.strPoints.empty())
                aReadFiles.emplace(FileKey(added.strPoints), added.nLine);
        }
        // The report is written by the batch too.
        if (!strReport.empty()) {
            const std::string strKey = FileKey(strReport);
            if (aReadFiles.count(strKey) || aWrittenFiles.count(strKey) || FileKey(strTable) == strKey)
                throw CBatchUsageError("the report " + strReport + " would replace a file of the batch");
        }

        // This shard's rows: every N-th from the I-th (1-based).
        std::vector<SRow*> aMine;
        for (SRow& row : aRows)
            if (row.nIndex % nShards == nShard - 1)
                aMine.push_back(&row);
        bool bRefused = false;
        for (const SRow& row : aRows)
            if (!row.strRefusal.empty()) {
                std::fprintf(stderr, "gridmorph-cli: batch: line %d refused: %s\n", row.nLine, row.strRefusal.c_str());
                bRefused = true;
            }

        const auto WriteReport = [&]() -> bool {
            if (strReport.empty())
                return true;
            std::string strText;
            if (bReportHeader)
                strText += "line,scan,output,status,message,mismatch_pixels,mismatch_metres,west,north,east,south,"
                           "resolution,seconds\r\n";
            for (const SRow* pRow : aMine) {
                const SRow& row = *pRow;
                const bool bWritten = row.strStatus == "written";
                const bool bMeasured = bWritten && row.result.bFourthCorner && row.result.check.bMeasured;
                const auto Number = [&](bool bHas, double d, int nDecimals) {
                    return bHas ? FormatFixed(d, nDecimals) : std::string();
                };
                strText += std::to_string(row.nLine) + "," + CsvField(row.strScan) + "," + CsvField(row.strOutput) +
                           "," + row.strStatus + "," + CsvField(row.strMessage) + "," +
                           Number(bMeasured, row.result.check.dMismatchPixels, 3) + "," +
                           Number(bMeasured, row.result.check.dMismatchMetres, 3) + "," +
                           Number(bWritten, row.result.dWest, 6) + "," + Number(bWritten, row.result.dNorth, 6) + "," +
                           Number(bWritten, row.result.dEast, 6) + "," + Number(bWritten, row.result.dSouth, 6) + "," +
                           Number(bWritten, row.result.dResolution, 6) + "," +
                           Number(row.strStatus == "written" || row.strStatus == "failed", row.dSeconds, 2) + "\r\n";
            }
            if (!WriteTextFile(strReport, strText)) {
                std::fprintf(stderr, "gridmorph-cli: batch: the report %s cannot be written\n", strReport.c_str());
                return false;
            }
            return true;
        };
        if (bRefused) {
            for (SRow* pRow : aMine) {
                pRow->strStatus = "refused";
                pRow->strMessage = pRow->strRefusal.empty() ? "not run: other rows of the table were refused"
                                                            : pRow->strRefusal;
            }
            WriteReport();
            std::fprintf(stderr, "gridmorph-cli: batch: nothing was done; mend the refused rows and start again\n");
            return 2;
        }

        // Resume: rows already done are skipped.
        std::vector<SRow*> aToRun;
        for (SRow* pRow : aMine) {
            if (!bForce && UpToDate(*pRow, strTable)) {
                pRow->strStatus = "skipped";
                pRow->strMessage = "the output is newer than its inputs";
            } else {
                aToRun.push_back(pRow);
            }
        }

        // The run: rows in table order, as many at once as the jobs and the memory allow;
        // the processors shared out between them so that the threads do not outnumber them.
        const int nProcessors = GetThreadCount();
        if (nJobs == 0)
            nJobs = nProcessors;
        nJobs = std::max(1, std::min<int>(nJobs, int(aToRun.size())));
        CScopedThreadCount threads(std::max(1, nProcessors / nJobs));
        CBatchPlatform platform(bYes ? EAnswer::Yes : EAnswer::No);
        CScopedPlatform installed(platform);
        const bool bTerminal = isatty(fileno(stderr)) != 0;
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t nNext = 0;
        std::uint64_t nMemoryInUse = 0;
        int nRunning = 0, nDone = 0, nFailed = 0, nWarned = 0;
        const auto tStart = std::chrono::steady_clock::now();
        const auto ShowProgress = [&](const SRow& row) {  // under the lock
            const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
            const int nTotal = int(aToRun.size());
            const double dLeft = nDone > 0 ? dElapsed / nDone * (nTotal - nDone) : 0.0;
            if (bTerminal) {
                if (row.strStatus == "failed" || row.bWarned)
                    std::fprintf(stderr, "\r\033[Kline %d %s: %s\n", row.nLine,
                                 row.strStatus == "failed" ? "failed" : "warning", row.strMessage.c_str());
                std::fprintf(stderr, "\r\033[K%d of %d rows done, %d failed, %d warned, %s left", nDone, nTotal,
                             nFailed, nWarned, FormatDuration(dLeft).c_str());
                if (nDone == nTotal)
                    std::fputc('\n', stderr);
                std::fflush(stderr);
            } else {
                std::printf("line %d: %s %s%s%s\n", row.nLine, row.strStatus.c_str(), row.strOutput.c_str(),
                            row.strMessage.empty() ? "" : ": ", row.strMessage.c_str());
                std::fflush(stdout);
            }
        };
        const auto Work = [&] {
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [&] {
                    return nNext >= aToRun.size() || nRunning == 0 ||
                           nMemoryInUse + aToRun[nNext]->nMemory <= nMemory;
                });
                if (nNext >= aToRun.size())
                    return;
                SRow& row = *aToRun[nNext++];
                nMemoryInUse += row.nMemory;
                ++nRunning;
                lock.unlock();
                std::vector<std::string> aMessages;
                t_pRowMessages = &aMessages;
                t_nRowMessages = 0;
                SRectifyJob job = row.job;
                job.fnMessagesShown = [] { return t_nRowMessages; };
                if (!row.aAutoOptions.empty())
                    job.fnFindLocators = [&row](const CDIBWorld& source, CLocatorSet& found, std::string& strProblem) {
                        // One grid search at a time; its reasons go to standard error.
                        static std::mutex finderMutex;
                        std::lock_guard finderLock(finderMutex);
                        const auto Option = [&](const char* pName) -> const std::string* {
                            const auto it = row.aAutoOptions.find(pName);
                            return it == row.aAutoOptions.end() ? nullptr : &it->second;
                        };
                        std::fprintf(stderr, "gridmorph-cli: batch: line %d: finding the grid on %s\n", row.nLine,
                                     row.strScan.c_str());
                        if (FindAutoLocators(source, Option("--p1"), Option("--p3"), found))
                            return true;
                        strProblem = "the grid on the scan was not found with certainty (the reason is printed "
                                     "above)";
                        return false;
                    };
                const auto tRow = std::chrono::steady_clock::now();
                try {
                    row.result = RectifyScan(job);
                    if (row.result.Written()) {
                        row.strStatus = "written";
                        if (row.result.bFourthCorner && row.result.check.Suspicious()) {
                            row.bWarned = true;
                            row.strMessage = "the fourth corner lies " +
                                             FormatFixed(row.result.check.dMismatchPixels, 2) + " pixels (" +
                                             FormatFixed(row.result.check.dMismatchMetres, 2) +
                                             " m) from where the three locators put it; a locator is probably on "
                                             "the wrong grid line";
                        }
                    } else {
                        row.strStatus = "failed";
                        row.strMessage = row.result.strError.empty() ? "the transform failed" : row.result.strError;
                        if (row.result.eFailure == ERectifyFailure::Locators && !bYes)
                            row.strMessage += " (a question is answered Yes only with --yes)";
                    }
                } catch (const std::bad_alloc&) {
                    row.strStatus = "failed";
                    row.strMessage = "out of memory";
                }
                if (row.strStatus == "failed" && !aMessages.empty() &&
                    row.strMessage.find(aMessages.back()) == std::string::npos)
                    row.strMessage += " (" + aMessages.back() + ")";
                t_pRowMessages = nullptr;
                row.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tRow).count();
                lock.lock();
                nMemoryInUse -= row.nMemory;
                --nRunning;
                ++nDone;
                nFailed += row.strStatus == "failed";
                nWarned += row.bWarned;
                ShowProgress(row);
                changed.notify_all();
            }
        };
        std::vector<std::thread> aWorkers;
        for (int j = 1; j < nJobs; ++j)
            aWorkers.emplace_back(Work);
        Work();
        for (std::thread& worker : aWorkers)
            worker.join();
        if (!bTerminal)
            for (const SRow* pRow : aMine)
                if (pRow->strStatus == "skipped")
                    std::printf("line %d: skipped %s: %s\n", pRow->nLine, pRow->strOutput.c_str(),
                                pRow->strMessage.c_str());
        int nSkipped = 0;
        for (const SRow* pRow : aMine)
            nSkipped += pRow->strStatus == "skipped";
        std::printf("batch: %d written, %d skipped, %d failed, %d warned\n", int(aToRun.size()) - nFailed, nSkipped,
                    nFailed, nWarned);
        const bool bReportWritten = WriteReport();
        return nFailed > 0 || !bReportWritten ? 1 : 0;
    } catch (const CBatchUsageError& error) {
        std::fprintf(stderr, "gridmorph-cli: batch: %s; see gridmorph-cli batch --help\n", error.m_strProblem.c_str());
        return 2;
    }
}

}  // namespace gridmorph::cli
