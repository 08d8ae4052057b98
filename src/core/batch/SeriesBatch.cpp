#include "batch/SeriesBatch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>

#include "batch/RectifyOptions.h"
#include "grid/AutoLocators.h"
#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "io/OutputClashes.h"
#include "io/QuoteText.h"
#include "io/SafeFileWriter.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"
#include "world/DIBWorld.h"
#include "world/SidecarFiles.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

// The messages the core shows while a row runs belong to that row: they are kept per
// thread and reported with it. Questions take the batch's answer.
thread_local std::vector<std::string>* t_pRowMessages = nullptr;

class CBatchPlatform : public CHeadlessPlatform {
public:
    explicit CBatchPlatform(EAnswer eAnswer) : m_eAnswer(eAnswer) {}
    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override
    {
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
                        throw CBatchTableError("line " + std::to_string(record.nLine) + ": a quoted field is not closed");
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
                    throw CBatchTableError("line " + std::to_string(nLine) + ": text after a quoted field");
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

std::string Resolve(const std::string& strFolder, const std::string& strPath)
{
    if (strPath.empty() || strPath[0] == '/' || strFolder.empty())
        return strPath;
    return (std::filesystem::path(strFolder) / strPath).lexically_normal().string();
}

bool ModifiedTime(const std::string& strPath, std::int64_t& nNanoseconds)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0)
        return false;
    nNanoseconds = std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

// When the file last changed: its modification time, or the time its inode last changed
// when that is later. A file copied with its time kept, touched back, or moved over the
// old one from elsewhere has an old modification time but a new change time, which no
// one can set back.
bool LastChange(const std::string& strPath, std::int64_t& nNanoseconds)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0)
        return false;
    nNanoseconds = std::max(std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                            std::int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec);
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

// The rows' files in one set: the table (read), then each accepted row's scan and its
// sidecars and its .points file (read), and its output with its world file and .prj
// (written). A row whose files clash with those before it is refused and its files left
// out. Which files clashed says which refusal to give.
class CSeriesFiles {
public:
    explicit CSeriesFiles(const std::string& strTable)
    {
        if (!strTable.empty()) {
            m_files.AddRead(strTable, kTable);
            m_aLines.push_back(0);
        }
    }

    // "" when the row may join the series, else why not.
    std::string Add(const SBatchRow& row)
    {
        const std::size_t nFirst = m_files.Count();
        AddMapFilesRead(m_files, row.strScan, kScan);
        m_files.AddRead(row.strPoints, kPoints);
        AddMapFilesWritten(m_files, row.strOutput, row.outputSystem.has_value(), kOutput);
        // The rows run in any order, several at once: a sidecar one row would find or
        // leave, another must not write or remove.
        AddMapSidecarsOfPiece(m_files, row.strScan, false, kScan);
        AddMapSidecarsOfPiece(m_files, row.strOutput, true, kOutput);
        m_aLines.resize(m_files.Count(), row.nLine);
        const std::optional<COutputSet::SClash> clash = m_files.FindClashFrom(nFirst);
        if (!clash)
            return std::string();
        const std::string strWhy = Describe(*clash, nFirst, row);
        m_files.Truncate(nFirst);
        m_aLines.resize(nFirst);
        return strWhy;
    }

    // "" when the report may be written at strReport.
    std::string AddReport(const std::string& strReport)
    {
        const std::size_t nFirst = m_files.Count();
        m_files.AddWritten(strReport, "the report");
        m_aLines.resize(m_files.Count(), 0);
        const bool bClash = m_files.FindClashFrom(nFirst).has_value();
        m_files.Truncate(nFirst);
        m_aLines.resize(nFirst);
        return bClash ? "the report " + strReport + " would replace a file of the batch" : std::string();
    }

private:
    static constexpr const char* kTable = "the table";
    static constexpr const char* kScan = "the scan";
    static constexpr const char* kPoints = "the locator file";
    static constexpr const char* kOutput = "the output";

    // The refusal for a clash of the new row (entries from nFirst) with an earlier one.
    std::string Describe(const COutputSet::SClash& clash, std::size_t nFirst, const SBatchRow& row) const
    {
        const bool bNewFirst = clash.nWritten >= nFirst;
        const std::size_t nEarlier = bNewFirst ? clash.nOther : clash.nWritten;
        const std::size_t nNew = bNewFirst ? clash.nWritten : clash.nOther;
        const bool bNewWrites = m_files.Written(nNew);
        if (nEarlier >= nFirst)  // within the row itself
            return m_files.Role(clash.nWritten) + " " + m_files.Path(clash.nWritten) + " is the same file as " +
                   m_files.Role(clash.nOther) + " " + m_files.Path(clash.nOther) + " and would replace it";
        const std::string strLine = std::to_string(m_aLines[nEarlier]);
        const std::string& strEarlierRole = m_files.Role(nEarlier);
        const std::string& strNewRole = m_files.Role(nNew);
        const std::string& strFile = m_files.Path(nNew);
        const auto IsPrj = [](const std::string& strRole) {
            return strRole.size() >= 4 && strRole.compare(strRole.size() - 4, 4, ".prj") == 0;
        };
        if (bNewWrites) {
            if (strEarlierRole == kTable)
                return "the output " + row.strOutput + " would replace the table";
            if (m_files.Written(nEarlier) && IsPrj(strEarlierRole))
                return "the output " + row.strOutput + " would write or remove the .prj " + strFile +
                       " that the output of line " + strLine + " writes or removes";
            if (m_files.Written(nEarlier))
                return "the output " + row.strOutput + " would share its world file with the output of line " + strLine;
            if (strEarlierRole == kScan || strEarlierRole == kPoints)
                return "the output " + row.strOutput + " would replace a file read by line " + strLine;
            if (IsPrj(strEarlierRole))
                return "the output " + row.strOutput + " would write or remove the .prj " + strFile +
                       " beside the scan of line " + strLine + ", which that scan would read";
            return "the output " + row.strOutput + " would write its world file or .prj beside the scan of line " +
                   strLine + " (" + strFile + ", which that scan would read)";
        }
        if (strNewRole == kScan || strNewRole == kPoints)
            return "the file " + strFile + " is written by line " + strLine;
        if (IsPrj(strNewRole))
            return "the scan " + row.strScan + " would take its coordinate system from the .prj " + strFile +
                   " written or removed by line " + strLine;
        return "the scan " + row.strScan + " would be placed by the world file written by line " + strLine + " (" +
               strFile + ")";
    }

    COutputSet m_files;
    std::vector<int> m_aLines;  // the line of each entry's row (0: the table)
};

std::uint64_t EstimateRowMemory(SBatchRow& row)
{
    int nWidth = 0, nHeight = 0;
    if (!ReadDeclaredPictureSize(row.strScan, nWidth, nHeight)) {
        row.strRefusal = "the scan " + row.strScan + " is not a picture that can be read";
        return 0;
    }
    return EstimateRectifyMemory(nWidth, nHeight);
}

// The checks of one row that do not depend on the other rows: the cells, the scan and
// the options as rectify reads them.
void CheckRow(SBatchRow& row, const std::map<std::string, std::string>& aCells)
{
    const auto Cell = [&](const char* pName) -> std::string {
        const auto it = aCells.find(pName);
        return it == aCells.end() ? std::string() : it->second;
    };
    const auto Refuse = [&](const std::string& strWhy) { row.strRefusal = strWhy; };
    const std::string strAuto = Cell("auto");
    bool bAnyPoint = false, bAllPoints = true;
    for (const char* p : kPointColumns) {
        bAnyPoint = bAnyPoint || !Cell(p).empty();
        bAllPoints = bAllPoints && !Cell(p).empty();
    }
    if (row.strScan.empty() || row.strOutput.empty())
        return Refuse("the scan and the output are needed");
    if (!strAuto.empty() && strAuto != "0" && strAuto != "1")
        return Refuse("auto takes 1 or 0");
    row.bAuto = strAuto == "1";
    bool bAnyPixel = !Cell("p4x").empty() || !Cell("p4y").empty();
    for (const char* p : {"p1x", "p1y", "p2x", "p2y", "p3x", "p3y"})
        bAnyPixel = bAnyPixel || !Cell(p).empty();
    if (row.bAuto && (!row.strPoints.empty() || bAnyPixel))
        return Refuse("auto finds the locators on the scan; leave points and the pixel cells (p1x, p1y, p2x, p2y, "
                      "p3x, p3y, p4x, p4y) empty");
    if (!row.bAuto && !row.strPoints.empty() && bAnyPoint)
        return Refuse("the points file gives the three locators; leave p1x .. p3n empty");
    if (!row.bAuto && row.strPoints.empty() && !bAllPoints)
        return Refuse(bAnyPoint ? "p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n: all ten are needed"
                                : "no locators: give points, p1x .. p3n or auto=1");
    struct stat info {};
    if (stat(row.strScan.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return Refuse("the scan " + row.strScan + " does not exist");
    // The report names the file written, and resume looks for it: the output is written
    // under the name the table gives, in a folder that is there before any work.
    if (CDIBImage::GetFileType(row.strOutput) == FILE_TYPE_NONE)
        return Refuse("the output " + row.strOutput +
                      " is not named as a picture (.bmp, .gif, .jpg, .png or .tif); rectify would write it as " +
                      row.strOutput + ".PNG");
    const std::filesystem::path outputFolder = std::filesystem::path(row.strOutput).parent_path();
    const std::string strOutputFolder = outputFolder.empty() ? "." : outputFolder.string();
    if (stat(strOutputFolder.c_str(), &info) != 0)
        return Refuse("the folder " + strOutputFolder + " of the output does not exist");
    if (!S_ISDIR(info.st_mode))
        return Refuse("the folder " + strOutputFolder + " of the output is not a folder");
    std::map<std::string, std::string> aOptions;
    if (row.bAuto) {
        // The map positions of corners 1 and 3 when the sheet's labels cannot be read.
        aOptions["--auto"] = "";
        if (!Cell("p1e").empty() || !Cell("p1n").empty())
            row.p1Map = aOptions["--p1"] = Cell("p1e") + "," + Cell("p1n");
        if (!Cell("p3e").empty() || !Cell("p3n").empty())
            row.p3Map = aOptions["--p3"] = Cell("p3e") + "," + Cell("p3n");
    } else if (!row.strPoints.empty()) {
        aOptions["--points"] = row.strPoints;
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
    const std::string strProblem = ReadRectifyRow(aOptions, row.strScan, row.strOutput, row.job, row.outputSystem);
    if (!strProblem.empty())
        return Refuse(strProblem);
    row.nMemory = EstimateRowMemory(row);
}

}  // namespace

const char* BatchStatusName(EBatchStatus eStatus)
{
    switch (eStatus) {
    case EBatchStatus::Written: return "written";
    case EBatchStatus::Skipped: return "skipped";
    case EBatchStatus::Refused: return "refused";
    case EBatchStatus::Failed: return "failed";
    case EBatchStatus::Cancelled: return "cancelled";
    case EBatchStatus::Waiting: break;
    }
    return "";
}

SBatchTable ReadBatchTable(const std::string& strTable)
{
    std::ifstream tableFile(strTable, std::ios::binary);
    if (!tableFile)
        throw CBatchTableError("the table " + QuoteForMessage(strTable, 200) + " cannot be read");
    // Read up to the limit and no further: a file that never ends (a device, a pipe) or a
    // huge one is refused before it fills the memory.
    std::string strText;
    try {
        const auto TooLarge = [&] {
            return CBatchTableError("the table " + QuoteForMessage(strTable, 200) + " is larger than " +
                                    std::to_string(kBatchTableLimit >> 20) +
                                    " MB, more than any series needs (100,000 rows take about 10 MB); split it into "
                                    "several tables");
        };
        struct stat info {};
        if (stat(strTable.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            if (std::uint64_t(info.st_size) > kBatchTableLimit)
                throw TooLarge();
            strText.reserve(std::size_t(info.st_size));
        }
        char aBuffer[1 << 16];
        while (tableFile.read(aBuffer, sizeof aBuffer) || tableFile.gcount() > 0) {
            strText.append(aBuffer, std::size_t(tableFile.gcount()));
            if (strText.size() > kBatchTableLimit)
                throw TooLarge();
        }
        return ReadBatchTableText(strText, std::filesystem::path(strTable).parent_path().string(), strTable);
    } catch (const std::bad_alloc&) {
        throw CBatchTableError("out of memory while reading the table " + QuoteForMessage(strTable, 200) +
                               " (the machine has not enough memory available for it)");
    }
}

SBatchTable ReadBatchTableText(const std::string& strText, const std::string& strFolder, const std::string& strTable)
{
    // Every line within the limit, and not more rows than the limit, before any is parsed.
    std::size_t nLines = 0;
    for (std::size_t nStart = 0; nStart < strText.size(); ++nLines) {
        const std::size_t nEnd = std::min(strText.find('\n', nStart), strText.size());
        if (nEnd - nStart > kBatchLineLimit)
            throw CBatchTableError("line " + std::to_string(nLines + 1) + " is longer than " +
                                   std::to_string(kBatchLineLimit >> 10) + " KB, more than any row needs");
        nStart = nEnd + 1;
    }
    if (nLines > kBatchRowLimit + 1)
        throw CBatchTableError("the table has more than " + std::to_string(kBatchRowLimit) +
                               " rows; split it into several tables");
    const CFolderListings listings;  // the folders are read once for all the rows' sidecars
    const std::vector<SRecord> aRecords = ParseCsv(strText);
    if (aRecords.empty())
        throw CBatchTableError("the table has no header line");

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
            throw CBatchTableError("the table's column " + QuoteForMessage(strName) + " is not known");
        if (!aColumns.emplace(strName, c).second)
            throw CBatchTableError("the table names the column " + strName + " twice");
    }
    if (!aColumns.count("scan") || !aColumns.count("output"))
        throw CBatchTableError("the table needs the columns scan and output");
    std::size_t nPointColumns = 0;
    for (const char* p : kPointColumns)
        nPointColumns += aColumns.count(p);
    if (nPointColumns != 0 && nPointColumns != 10 && !aColumns.count("auto"))
        throw CBatchTableError("the table names some of p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n; all ten are needed");
    if (!aColumns.count("points") && nPointColumns == 0 && !aColumns.count("auto"))
        throw CBatchTableError("the table needs the column points, the columns p1x .. p3n, or auto");
    if (aColumns.count("p4x") != aColumns.count("p4y"))
        throw CBatchTableError("the columns p4x and p4y go together");

    // Every row checked before any work.
    SBatchTable table;
    table.strTable = strTable;
    CSeriesFiles files(strTable);
    table.aRows.reserve(aRecords.size() - 1);
    for (std::size_t r = 1; r < aRecords.size(); ++r) {
        const SRecord& record = aRecords[r];
        SBatchRow& row = table.aRows.emplace_back();
        row.nLine = record.nLine;
        row.nIndex = int(r - 1);
        if (record.aFields.size() > aRecords[0].aFields.size()) {
            row.strRefusal = "the row has more cells than the header";
            continue;
        }
        std::map<std::string, std::string> aCells;
        for (const auto& [strName, nColumn] : aColumns)
            if (nColumn < record.aFields.size())
                aCells[strName] = Trim(record.aFields[nColumn]);
        row.strScan = Resolve(strFolder, aCells["scan"]);
        row.strOutput = Resolve(strFolder, aCells["output"]);
        row.strPoints = Resolve(strFolder, aCells["points"]);
        CheckRow(row, aCells);
        if (row.strRefusal.empty())
            row.strRefusal = files.Add(row);
    }
    return table;
}

std::string SeriesOutputName(const std::string& strScan)
{
    return std::filesystem::path(strScan).stem().string() + "-rectified.tif";
}

SBatchTable ReadScanFolder(const std::string& strFolder, const std::string& strOutputFolder)
{
    std::vector<std::string> aScans;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(strFolder, error)) {
        const std::string strPath = entry.path().string();
        const int nType = CDIBImage::GetFileType(strPath);
        if (entry.is_regular_file(error) && nType != FILE_TYPE_NONE)
            aScans.push_back(strPath);
    }
    std::sort(aScans.begin(), aScans.end());
    const CFolderListings listings;  // the folders are read once for all the rows' sidecars
    SBatchTable table;
    CSeriesFiles files("");
    for (std::size_t i = 0; i < aScans.size(); ++i) {
        SBatchRow& row = table.aRows.emplace_back();
        row.nLine = int(i + 1);
        row.nIndex = int(i);
        row.strScan = aScans[i];
        row.strOutput = (std::filesystem::path(strOutputFolder) / SeriesOutputName(aScans[i])).string();
        // The locators remembered beside the scan (SCAN.points, as the window keeps them),
        // else those saved under the name Action > Save Locators offers (NAME.points).
        std::map<std::string, std::string> aCells;
        for (const std::string& strPoints :
             {aScans[i] + ".points", std::filesystem::path(aScans[i]).replace_extension(".points").string()})
            if (row.strPoints.empty() && std::filesystem::is_regular_file(strPoints, error))
                row.strPoints = strPoints;
        if (row.strPoints.empty())
            aCells["auto"] = "1";
        aCells["compress"] = "lzw";
        CheckRow(row, aCells);
        if (row.strRefusal.empty())
            row.strRefusal = files.Add(row);
    }
    return table;
}

std::string CheckBatchReport(const SBatchTable& table, const std::string& strReport)
{
    const CFolderListings listings;
    CSeriesFiles files(table.strTable);
    for (const SBatchRow& row : table.aRows)
        if (row.strRefusal.empty())
            files.Add(row);
    return files.AddReport(strReport);
}

std::vector<SBatchRow*> SelectShard(SBatchTable& table, int nShard, int nShards)
{
    std::vector<SBatchRow*> aMine;
    for (SBatchRow& row : table.aRows)
        if (row.nIndex % nShards == nShard - 1)
            aMine.push_back(&row);
    return aMine;
}

bool BatchRowUpToDate(const SBatchRow& row, const std::string& strTable)
{
    std::int64_t nOutput = 0, nWorld = 0, nInput = 0;
    const std::string strWorld = FindWorldFile(row.strOutput);
    if (strWorld.empty() || !ModifiedTime(row.strOutput, nOutput) || !ModifiedTime(strWorld, nWorld))
        return false;
    const std::int64_t nOldest = std::min(nOutput, nWorld);
    for (const std::string& strInput : {row.strScan, row.strPoints, strTable}) {
        if (strInput.empty())
            continue;
        if (!LastChange(strInput, nInput) || nInput > nOldest)
            return false;
    }
    return true;
}

bool CBatchFeedback::FindLocators(const SBatchRow& row, const CDIBWorld& source, CLocatorSet& locators,
                                  std::string& strProblem)
{
    std::string strCorners;
    if (FindAutoLocators(source, row.p1Map ? &*row.p1Map : nullptr, row.p3Map ? &*row.p3Map : nullptr, locators,
                         strProblem, strCorners))
        return true;
    if (!strCorners.empty())
        strProblem += " (the corners found: " + strCorners + ")";
    return false;
}

std::string FormatBatchProgress(const SBatchProgress& progress)
{
    const long n = long(progress.dSecondsLeft + 0.5);
    char aLeft[32];
    std::snprintf(aLeft, sizeof aLeft, "%ld:%02ld:%02ld", n / 3600, n / 60 % 60, n % 60);
    return std::to_string(progress.nDone) + " of " + std::to_string(progress.nTotal) + " rows done, " +
           std::to_string(progress.nFailed) + " failed, " + std::to_string(progress.nWarned) + " warned, " + aLeft +
           " left";
}

std::uint64_t MachineMemory()
{
    const long nPages = sysconf(_SC_PHYS_PAGES);
    const long nPageSize = sysconf(_SC_PAGESIZE);
    return nPages > 0 && nPageSize > 0 ? std::uint64_t(nPages) * std::uint64_t(nPageSize) : (std::uint64_t(4) << 30);
}

// The platform that keeps each row's messages with the row and answers its questions.
static std::unique_ptr<CPlatform> MakeBatchPlatform(EAnswer eQuestionAnswer)
{
    return std::make_unique<CBatchPlatform>(eQuestionAnswer);
}

namespace {

// Why the row's save would be refused for a file of the set it writes (picture, world
// file, .prj) that its user may not write; "" when nothing stands in the way. Found before
// the row's work rather than after it.
std::string ReadOnlyOutputProblem(const SBatchRow& row)
{
    COutputSet files;
    AddMapFilesWritten(files, row.strOutput, row.outputSystem.has_value(), "the output");
    for (std::size_t i = 0; i < files.Count(); ++i) {
        std::string strProblem;
        if (files.Written(i) &&
            CheckReplaceable(files.Path(i), EReadOnlyFiles::Refuse, strProblem) == EReplaceProblem::ReadOnly)
            return strProblem + " (--force replaces it)";
    }
    return std::string();
}

// Resume: rows already done are skipped (and counted); the others are returned to run.
std::vector<SBatchRow*> RowsToRun(const std::vector<SBatchRow*>& aRows, const std::string& strTable,
                                  const SBatchSettings& settings, SBatchCounts& counts)
{
    std::vector<SBatchRow*> aToRun;
    for (SBatchRow* pRow : aRows) {
        if (!settings.bForce && BatchRowUpToDate(*pRow, strTable)) {
            pRow->eStatus = EBatchStatus::Skipped;
            pRow->strMessage = "the output is newer than its inputs";
            ++counts.nSkipped;
        } else {
            aToRun.push_back(pRow);
        }
    }
    return aToRun;
}

// The row's job: its messages kept with the row, its locators found on the scan when the
// row asks for it.
SRectifyJob RowJob(SBatchRow& row, CBatchFeedback& feedback)
{
    SRectifyJob job = row.job;
    job.bReaderSeesBoxes = true;  // the row keeps the messages
    if (row.bAuto)
        job.fnFindLocators = [&row, &feedback](const CDIBWorld& source, CLocatorSet& found, std::string& strProblem) {
            // One grid search at a time.
            static std::mutex finderMutex;
            std::lock_guard finderLock(finderMutex);
            return feedback.FindLocators(row, source, found, strProblem);
        };
    return job;
}

// The row's status and message from its result.
void RecordRowResult(SBatchRow& row, const SBatchSettings& settings)
{
    if (row.result.Written()) {
        row.eStatus = EBatchStatus::Written;
        // rectify's warnings: the fourth corner given, and the grid found on the scan.
        std::vector<std::string> aWarnings;
        if (row.result.bFourthCorner && row.result.check.Suspicious())
            aWarnings.push_back("the fourth corner lies " + FormatFixed(row.result.check.dMismatchPixels, 2) +
                                " pixels (" + FormatFixed(row.result.check.dMismatchMetres, 2) +
                                " m) from where the three locators put it; a locator is probably on the "
                                "wrong grid line");
        if (!row.result.grid.strWarning.empty())
            aWarnings.push_back(row.result.grid.strWarning);
        row.bWarned = !aWarnings.empty();
        for (const std::string& strWarning : aWarnings)
            row.strMessage += (row.strMessage.empty() ? "" : "; ") + strWarning;
    } else {
        row.eStatus = EBatchStatus::Failed;
        row.strMessage = row.result.strError.empty() ? "the transform failed" : row.result.strError;
        if (row.result.eFailure == ERectifyFailure::Locators && settings.eQuestionAnswer != EAnswer::Yes)
            row.strMessage += " (a question is answered Yes only with --yes)";
    }
}

// Rectifies one row's scan, keeping the messages shown meanwhile with the row, and records
// its status, message and time.
void RunRow(SBatchRow& row, const SBatchSettings& settings, CBatchFeedback& feedback)
{
    std::vector<std::string> aMessages;
    t_pRowMessages = &aMessages;
    const auto tRow = std::chrono::steady_clock::now();
    try {
        SRectifyJob job = RowJob(row, feedback);
        const std::string strReadOnly = settings.bForce ? std::string() : ReadOnlyOutputProblem(row);
        if (settings.bForce)  // --force also lets a row replace read-only outputs
            job.saveOptions.eReadOnly = EReadOnlyFiles::Replace;
        if (!strReadOnly.empty()) {  // said before the work rather than after it
            row.eStatus = EBatchStatus::Failed;
            row.strMessage = strReadOnly;
        } else {
            row.result = RectifyScan(job);
            RecordRowResult(row, settings);
        }
    } catch (const std::bad_alloc&) {
        row.eStatus = EBatchStatus::Failed;
        row.strMessage = "out of memory";
    }
    if (row.eStatus == EBatchStatus::Failed && !aMessages.empty() &&
        row.strMessage.find(aMessages.back()) == std::string::npos)
        row.strMessage += " (" + aMessages.back() + ")";
    t_pRowMessages = nullptr;
    row.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tRow).count();
}

// The rows of a run shared out between workers: rows in table order, each started when
// its memory fits the budget beside the rows running (or when none runs).
class CBatchQueue {
public:
    CBatchQueue(const std::vector<SBatchRow*>& aToRun, std::uint64_t nBudget, const SBatchSettings& settings,
                CBatchFeedback& feedback, SBatchCounts& counts)
        : m_aToRun(aToRun), m_nBudget(nBudget), m_settings(settings), m_feedback(feedback), m_counts(counts)
    {
        m_progress.nTotal = int(aToRun.size());
    }

    // One worker: runs rows until none is left or the batch is cancelled.
    void Work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] {
                return m_nNext >= m_aToRun.size() || m_nRunning == 0 ||
                       m_nMemoryInUse + m_aToRun[m_nNext]->nMemory <= m_nBudget;
            });
            if (m_nNext >= m_aToRun.size())
                return;
            if (m_feedback.Cancelled()) {
                CancelTheRest();
                return;
            }
            SBatchRow& row = *m_aToRun[m_nNext++];
            m_nMemoryInUse += row.nMemory;
            ++m_nRunning;
            lock.unlock();
            RunRow(row, m_settings, m_feedback);
            lock.lock();
            Finished(row);
        }
    }

    const SBatchProgress& Progress() const { return m_progress; }

private:
    // The rows not started are marked cancelled (the lock held).
    void CancelTheRest()
    {
        for (; m_nNext < m_aToRun.size(); ++m_nNext) {
            m_aToRun[m_nNext]->eStatus = EBatchStatus::Cancelled;
            m_aToRun[m_nNext]->strMessage = "not run: the batch was cancelled";
            ++m_counts.nCancelled;
        }
        m_changed.notify_all();
    }

    // A row done: its memory freed, the progress told (the lock held).
    void Finished(const SBatchRow& row)
    {
        m_nMemoryInUse -= row.nMemory;
        --m_nRunning;
        ++m_progress.nDone;
        m_progress.nFailed += row.eStatus == EBatchStatus::Failed;
        m_progress.nWarned += row.bWarned;
        const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_tStart).count();
        m_progress.dSecondsLeft = dElapsed / m_progress.nDone * (m_progress.nTotal - m_progress.nDone);
        m_feedback.RowFinished(row, m_progress);
        m_changed.notify_all();
    }

    const std::vector<SBatchRow*>& m_aToRun;
    const std::uint64_t m_nBudget;
    const SBatchSettings& m_settings;
    CBatchFeedback& m_feedback;
    SBatchCounts& m_counts;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_nNext = 0;
    std::uint64_t m_nMemoryInUse = 0;
    int m_nRunning = 0;
    SBatchProgress m_progress;
    const std::chrono::steady_clock::time_point m_tStart = std::chrono::steady_clock::now();
};

}  // namespace

SBatchCounts RunBatchRows(const std::vector<SBatchRow*>& aRows, const std::string& strTable,
                          const SBatchSettings& settings, CBatchFeedback& feedback)
{
    SBatchCounts counts;
    const std::vector<SBatchRow*> aToRun = RowsToRun(aRows, strTable, settings, counts);
    counts.nRun = int(aToRun.size());

    // The run: rows in table order, as many at once as the jobs and the memory allow;
    // the processors shared out between them so that the threads do not outnumber them.
    const std::uint64_t nBudget = settings.nMemory != 0 ? settings.nMemory : MachineMemory() / 2;
    const int nProcessors = GetThreadCount();
    const int nJobs = std::max(1, std::min<int>(settings.nJobs != 0 ? settings.nJobs : nProcessors, int(aToRun.size())));
    CScopedThreadCount threads(std::max(1, nProcessors / nJobs));
    std::unique_ptr<CPlatform> pPlatform;
    CPlatform* pRowPlatform = &GetPlatform();
    if (settings.bInstallPlatform) {
        pPlatform = MakeBatchPlatform(settings.eQuestionAnswer);
        pRowPlatform = pPlatform.get();
    }
    CBatchQueue queue(aToRun, nBudget, settings, feedback, counts);
    const auto Work = [&queue, pRowPlatform] {
        CScopedThreadPlatform installed(*pRowPlatform);
        queue.Work();
    };
    std::vector<std::thread> aWorkers;
    for (int j = 1; j < nJobs; ++j)
        aWorkers.emplace_back(Work);
    Work();
    for (std::thread& worker : aWorkers)
        worker.join();
    counts.nFailed = queue.Progress().nFailed;
    counts.nWarned = queue.Progress().nWarned;
    counts.nWritten = queue.Progress().nDone - queue.Progress().nFailed;
    return counts;
}

std::string FormatBatchReport(const std::vector<SBatchRow*>& aRows, bool bHeader)
{
    std::string strText;
    if (bHeader)
        strText += "line,scan,output,status,message,mismatch_pixels,mismatch_metres,west,north,east,south,"
                   "resolution,seconds\r\n";
    for (const SBatchRow* pRow : aRows) {
        const SBatchRow& row = *pRow;
        const bool bWritten = row.eStatus == EBatchStatus::Written;
        // The mismatch: the larger of the fourth corner's (p4x,p4y given) and the grid check's.
        bool bMeasured = false;
        double dPixels = 0.0, dMetres = 0.0;
        if (bWritten && row.result.bFourthCorner && row.result.check.bMeasured) {
            bMeasured = true;
            dPixels = row.result.check.dMismatchPixels;
            dMetres = row.result.check.dMismatchMetres;
        }
        if (bWritten && row.result.grid.bChecked && (!bMeasured || row.result.grid.dMismatchPixels > dPixels)) {
            bMeasured = true;
            dPixels = row.result.grid.dMismatchPixels;
            dMetres = row.result.grid.dMismatchMetres;
        }
        const auto Number = [&](bool bHas, double d, int nDecimals) {
            return bHas ? FormatFixed(d, nDecimals) : std::string();
        };
        strText += std::to_string(row.nLine) + "," + CsvField(row.strScan) + "," + CsvField(row.strOutput) + "," +
                   BatchStatusName(row.eStatus) + "," + CsvField(row.strMessage) + "," +
                   Number(bMeasured, dPixels, 3) + "," + Number(bMeasured, dMetres, 3) + "," +
                   Number(bWritten, row.result.dWest, 6) + "," + Number(bWritten, row.result.dNorth, 6) + "," +
                   Number(bWritten, row.result.dEast, 6) + "," + Number(bWritten, row.result.dSouth, 6) + "," +
                   Number(bWritten, row.result.dResolution, 6) + "," +
                   Number(bWritten || row.eStatus == EBatchStatus::Failed, row.dSeconds, 2) + "\r\n";
    }
    return strText;
}

}  // namespace gridmorph
