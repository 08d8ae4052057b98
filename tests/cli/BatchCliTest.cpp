// gridmorph-cli batch: the table's parsing and refusals, outputs identical to single
// rectify calls, resume, shards and the report.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SyntheticScan.h"
#include "image/DIBImage.h"
#include "support/TestSupport.h"
#include "transform/RectifyJob.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

test::SCommandResult Cli(const std::string& strArguments)
{
    return test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1");
}

std::string ReadBytes(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteText(const std::string& strPath, const std::string& strText)
{
    std::ofstream(strPath, std::ios::binary) << strText;
}

std::int64_t ModifiedTime(const std::string& strPath)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0)
        return -1;
    return std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// "o3.tif" from ("o", 3, ".tif").
std::string Numbered(const char* pStem, int nNumber, const char* pExtension)
{
    std::string strName(pStem);
    strName.append(std::to_string(nNumber)).append(pExtension);
    return strName;
}

// The CSV lines of a report, without their line ends.
std::vector<std::string> ReportLines(const std::string& strPath)
{
    std::vector<std::string> aLines;
    std::stringstream text(ReadBytes(strPath));
    std::string strLine;
    while (std::getline(text, strLine)) {
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        aLines.push_back(strLine);
    }
    return aLines;
}

std::vector<std::string> SplitCells(const std::string& strLine)
{
    std::vector<std::string> aCells;
    std::stringstream text(strLine);
    std::string strCell;
    while (std::getline(text, strCell, ','))
        aCells.push_back(strCell);
    if (!strLine.empty() && strLine.back() == ',')
        aCells.push_back("");
    return aCells;
}

// A scan's three grid corners, as rectify's options and as table cells.
constexpr const char* kLocatorOptions = " --p1 10,12,1000,2000 --p2 180,14 --p3 178,130,1400,1700";
constexpr const char* kLocatorCells = "10,12,1000,2000,180,14,178,130,1400,1700";
constexpr const char* kLocatorHeader = "p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n";

class BatchCliTest : public test::CPlatformTest {
protected:
    void MakeScan(const std::string& strName, int nBitCount = 24)
    {
        CDIBImage scan;
        test::MakePatternPicture(scan, nBitCount, 200, 150);
        ASSERT_EQ(scan.SaveDIB(m_folder.Path(strName)), ESaveResult::Written);
    }
    std::string Table(const std::string& strText, const std::string& strName = "table.csv")
    {
        WriteText(m_folder.Path(strName), strText);
        return m_folder.Path(strName);
    }
    test::CTempFolder m_folder;
};

// One table row (after a header) and the refusal it must give.
struct SRefusalCase {
    const char* pName;
    const char* pHeader;
    const char* pRow;
    const char* pMessage;
};

class BatchRefusalTest : public BatchCliTest, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(BatchRefusalTest, RefusesTheWholeBatchBeforeAnyWork)
{
    const SRefusalCase& c = GetParam();
    MakeScan("a.png");
    MakeScan("b.png");
    // A good row first, so that nothing written shows the batch refused before any work.
    const std::string strTable = Table(std::string(c.pHeader) + "\r\n" + "b.png,good.tif," + kLocatorCells +
                                       std::string(std::count(c.pHeader, c.pHeader + std::strlen(c.pHeader), ',') - 11, ',') +
                                       "\r\n" + c.pRow + "\r\n");
    const test::SCommandResult run = Cli("batch " + strTable + " --report " + m_folder.Path("report.csv"));
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find("line 3 refused: "), std::string::npos) << run.strOutput;
    EXPECT_NE(run.strOutput.find(c.pMessage), std::string::npos) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("line 2 refused"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("good.tif")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.tif")));
    const std::vector<std::string> aReport = ReportLines(m_folder.Path("report.csv"));
    ASSERT_EQ(aReport.size(), 3u);
    EXPECT_NE(aReport[1].find(",refused,not run"), std::string::npos) << aReport[1];
    EXPECT_NE(aReport[2].find(",refused,"), std::string::npos) << aReport[2];
}

constexpr const char* kHeader = "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n,resample,nodata,clip,points,auto";
constexpr const char* kHeaderWithSrs =
    "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n,resample,nodata,clip,points,auto,srs";

INSTANTIATE_TEST_SUITE_P(
    Rows, BatchRefusalTest,
    ::testing::Values(
        SRefusalCase{"MissingScan", kHeader, "nothere.png,out.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,,",
                     "the scan " /* ... does not exist */},
        SRefusalCase{"GridFinderWithPixels", kHeader, "a.png,out.tif,10,12,,,,,,,,,,,,,1",
                     "auto finds the locators on the scan"},
        SRefusalCase{"AutoNeitherOneNorZero", kHeader, "a.png,out.tif,,,,,,,,,,,,,,,yes", "auto takes 1 or 0"},
        SRefusalCase{"SomePointsMissing", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,,,,,,",
                     "all ten are needed"},
        SRefusalCase{"NoLocators", kHeader, "a.png,out.tif,,,,,,,,,,,,,,,", "no locators"},
        SRefusalCase{"PointsAndCells", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,x.points,",
                     "leave p1x .. p3n empty"},
        SRefusalCase{"Resample", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,1700,sharp,,,,",
                     "--resample takes nearest, bilinear or cubic"},
        SRefusalCase{"NoDataOnJpeg", kHeader, "a.png,out.jpg,10,12,1000,2000,180,14,178,130,1400,1700,,\"0,0,0\",,,",
                     "--nodata is written to PNG and TIFF outputs only"},
        SRefusalCase{"Clip", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,collar,,",
                     "--clip takes grid or frame"},
        SRefusalCase{"NotANumber", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,x,,,,,",
                     "is not a number"},
        SRefusalCase{"OutputOverItsScan", kHeader, "a.png,a.png,10,12,1000,2000,180,14,178,130,1400,1700,,,,,",
                     "would replace"},
        SRefusalCase{"SameOutputAsAnotherRow", kHeader, "a.png,good.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,,",
                     "would share its world file with the output of line 2"},
        SRefusalCase{"OutputOverAnotherRowsScan", kHeader,
                     "a.png,b.png,10,12,1000,2000,180,14,178,130,1400,1700,,,,,", "would replace a file read by line 2"},
        SRefusalCase{"MissingPointsFile", kHeader, "a.png,out.tif,,,,,,,,,,,,,,none.points,", "none.points"},
        SRefusalCase{"OutputNotNamedAsAPicture", kHeader,
                     "a.png,out.csv,10,12,1000,2000,180,14,178,130,1400,1700,,,,,", "is not named as a picture"},
        SRefusalCase{"OutputFolderMissing", kHeader,
                     "a.png,nowhere/out.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,,", "/nowhere of the output does not exist"},
        SRefusalCase{"PrjBesideAnotherRowsScan", kHeaderWithSrs,
                     "a.png,b.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,,,EPSG:27700", "b.prj"},
        SRefusalCase{"MoreCellsThanHeader", kHeader, "a.png,out.tif,10,12,1000,2000,180,14,178,130,1400,1700,,,,,,,9",
                     "more cells than the header"}),
    [](const ::testing::TestParamInfo<SRefusalCase>& info) { return std::string(info.param.pName); });

TEST_F(BatchCliTest, EveryRefusedRowIsListedWithItsLine)
{
    MakeScan("a.png");
    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + "\n" +  //
                                       "gone1.png,o1.tif," + kLocatorCells + "\n" +            // line 2
                                       "a.png,o2.tif," + kLocatorCells + "\n" +                // line 3: good
                                       "\n" +                                                  // line 4: blank
                                       "gone5.png,o5.tif," + kLocatorCells + "\n");            // line 5
    const test::SCommandResult run = Cli("batch " + strTable);
    EXPECT_EQ(run.nExitCode, 2);
    EXPECT_NE(run.strOutput.find("line 2 refused: the scan " + m_folder.Path("gone1.png") + " does not exist"),
              std::string::npos)
        << run.strOutput;
    EXPECT_NE(run.strOutput.find("line 5 refused: the scan " + m_folder.Path("gone5.png") + " does not exist"),
              std::string::npos)
        << run.strOutput;
    EXPECT_EQ(run.strOutput.find("line 3 refused"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("o2.tif")));
}

TEST_F(BatchCliTest, AnOutputOverTheTableIsRefused)
{
    MakeScan("a.png");
    const std::string strText = std::string("scan,output,") + kLocatorHeader + "\na.png,list.png," + kLocatorCells + "\n";
    const std::string strTable = Table(strText, "list.png");
    const test::SCommandResult run = Cli("batch " + strTable);
    EXPECT_EQ(run.nExitCode, 2);
    EXPECT_NE(run.strOutput.find("line 2 refused: the output " + strTable + " would replace the table"),
              std::string::npos)
        << run.strOutput;
    EXPECT_EQ(ReadBytes(strTable), strText);
}

TEST_F(BatchCliTest, TableErrorsAreUsageErrors)
{
    MakeScan("a.png");
    const std::vector<std::pair<std::string, std::string>> aCases = {
        {"scan,output,colour\na.png,o.tif,red\n", "the table's column 'colour' is not known"},
        {"scan,output,scan\n", "names the column scan twice"},
        {"output,points\n", "needs the columns scan and output"},
        {"scan,output,p1x,p1y\n", "all ten are needed"},
        {"scan,output\na.png,o.tif\n", "needs the column points"},
        {"scan,output,points,p4x\n", "p4x and p4y go together"},
        {"scan,output,points\n\"a.png,o.tif,x.points\n", "a quoted field is not closed"},
        {"", "no header line"},
    };
    for (const auto& [strText, strMessage] : aCases) {
        const test::SCommandResult run = Cli("batch " + Table(strText));
        EXPECT_EQ(run.nExitCode, 2) << strText;
        EXPECT_NE(run.strOutput.find(strMessage), std::string::npos) << strText << "\n" << run.strOutput;
    }
    for (const char* pOptions : {"--shard 0/3", "--shard 4/3", "--shard 2", "--jobs 0", "--memory x", "--what"}) {
        const test::SCommandResult run = Cli("batch " + Table("scan,output,points\n") + " " + pOptions);
        EXPECT_EQ(run.nExitCode, 2) << pOptions << "\n" << run.strOutput;
    }
}

// Each row's output, world file and .prj are the same bytes as a single rectify call
// with the same choices gives, whatever the number of rows at once and the memory budget.
TEST_F(BatchCliTest, OutputsAreIdenticalToSingleRectifyCalls)
{
    MakeScan("scan one.png");
    MakeScan("b.png");
    MakeScan("grey.bmp", 8);
    std::filesystem::create_directories(m_folder.Path("sub"));
    MakeScan("sub/c.png");
    const std::string strPoints = "mapX,mapY,sourceX,sourceY,enable\n"
                                  "1000,2000,10.5,-12.5,1\n1400,2000,180.5,-14.5,1\n1400,1700,178.5,-130.5,1\n";
    WriteText(m_folder.Path("sub/c.points"), strPoints);
    struct SRowCase {
        std::string strCells;    // after scan,output
        std::string strOptions;  // the same for rectify
    };
    const std::vector<std::pair<std::string, SRowCase>> aRows = {
        {"\"scan one.png\",\"out, one.tif\"",
         {std::string(kLocatorCells) + ",12,128,EPSG:27700,deflate,,,",
          std::string(kLocatorOptions) + " --p4 12,128 --srs EPSG:27700 --compress deflate"}},
        {"b.png,b-out.png",
         {std::string(kLocatorCells) + ",,,,,grid,transparent,bilinear",
          std::string(kLocatorOptions) + " --clip grid --nodata transparent --resample bilinear"}},
        {"grey.bmp,grey.tif", {std::string(kLocatorCells) + ",,,,none,,\"7\",", std::string(kLocatorOptions) + " --compress none --nodata 7"}},
    };
    std::string strTable = std::string("scan,output,") + kLocatorHeader + ",p4x,p4y,srs,compress,clip,nodata,resample,points\r\n";
    for (const auto& [strNames, row] : aRows)
        strTable += strNames + "," + row.strCells + ",\r\n";
    strTable += "sub/c.png,sub/c.tif,,,,,,,,,,,,,,,,,,sub/c.points\r\n";  // relative to the table, the points file too
    const std::string strTablePath = Table(strTable);

    const std::vector<std::pair<std::string, std::string>> aSingles = {
        {"'scan one.png'", "'out, one.tif'"}, {"b.png", "b-out.png"}, {"grey.bmp", "grey.tif"}, {"sub/c.png", "sub/c.tif"}};
    std::filesystem::create_directories(m_folder.Path("single/sub"));
    for (std::size_t i = 0; i < aSingles.size(); ++i) {
        const std::string strOptions =
            i < aRows.size() ? aRows[i].second.strOptions : " --points " + m_folder.Path("sub/c.points");
        const test::SCommandResult run = test::RunCommand("cd " + m_folder.Path("") + " && " + GRIDMORPH_CLI_PATH +
                                                          " rectify " + aSingles[i].first + " single/" +
                                                          aSingles[i].second + strOptions + " 2>&1");
        ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    }
    for (const char* pRun : {"--jobs 1", "--jobs 3", "--jobs 3 --memory 1 --force"}) {
        const test::SCommandResult run = Cli("batch " + strTablePath + " --force " + pRun);
        ASSERT_EQ(run.nExitCode, 0) << pRun << "\n" << run.strOutput;
        int nCompared = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folder.Path("single"))) {
            if (!entry.is_regular_file())
                continue;
            const std::string strName = std::filesystem::relative(entry.path(), m_folder.Path("single")).string();
            EXPECT_TRUE(ReadBytes(m_folder.Path(strName)) == ReadBytes(entry.path().string())) << pRun << ": " << strName;
            ++nCompared;
        }
        EXPECT_EQ(nCompared, 9);  // four pictures, four world files and one .prj
    }
}

TEST_F(BatchCliTest, ResumeSkipsFinishedRowsAndForceRedoesThem)
{
    std::string strTable = std::string("scan,output,") + kLocatorHeader + "\n";
    for (int i = 1; i <= 4; ++i) {
        MakeScan(Numbered("s", i, ".png"));
        strTable += Numbered("s", i, ".png,") + Numbered("o", i, ".tif,") + kLocatorCells + "\n";
    }
    const std::string strTablePath = Table(strTable);
    const std::string strReport = m_folder.Path("report.csv");
    test::SCommandResult run = Cli("batch " + strTablePath + " --jobs 2 --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    std::map<int, std::int64_t> aTimes;
    for (int i = 1; i <= 4; ++i)
        aTimes[i] = ModifiedTime(m_folder.Path(Numbered("o", i, ".tif")));

    // An interrupted run: row 2's output never got its world file, row 4 never started;
    // row 3's scan was changed after its output was written.
    ASSERT_TRUE(std::filesystem::remove(FindWorldFile(m_folder.Path("o2.tif"))));
    ASSERT_TRUE(std::filesystem::remove(m_folder.Path("o4.tif")));
    ASSERT_TRUE(std::filesystem::remove(FindWorldFile(m_folder.Path("o4.tif"))));
    std::filesystem::last_write_time(m_folder.Path("o3.tif"),
                                     std::filesystem::last_write_time(m_folder.Path("s3.png")) - std::chrono::seconds(5));
    run = Cli("batch " + strTablePath + " --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::vector<std::string> aReport = ReportLines(strReport);
    ASSERT_EQ(aReport.size(), 5u);
    EXPECT_EQ(SplitCells(aReport[1])[3], "skipped");
    EXPECT_EQ(SplitCells(aReport[2])[3], "written");
    EXPECT_EQ(SplitCells(aReport[3])[3], "written");
    EXPECT_EQ(SplitCells(aReport[4])[3], "written");
    EXPECT_EQ(ModifiedTime(m_folder.Path("o1.tif")), aTimes[1]);
    EXPECT_FALSE(FindWorldFile(m_folder.Path("o2.tif")).empty());
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("o4.tif")));

    run = Cli("batch " + strTablePath + " --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::vector<std::string> aAgain = ReportLines(strReport);
    ASSERT_EQ(aAgain.size(), 5u);
    for (std::size_t i = 1; i < aAgain.size(); ++i)
        EXPECT_EQ(SplitCells(aAgain[i])[3], "skipped") << aAgain[i];

    run = Cli("batch " + strTablePath + " --force --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::vector<std::string> aForced = ReportLines(strReport);
    for (std::size_t i = 1; i < aForced.size(); ++i)
        EXPECT_EQ(SplitCells(aForced[i])[3], "written") << aForced[i];
    EXPECT_NE(ModifiedTime(m_folder.Path("o1.tif")), aTimes[1]);
}

TEST_F(BatchCliTest, ShardsCoverEveryRowExactlyOnceAndTheirReportsConcatenate)
{
    std::string strTable = std::string("scan,output,") + kLocatorHeader + "\n";
    MakeScan("s.png");
    for (int i = 0; i < 7; ++i)
        strTable += Numbered("s.png,o", i, ".png,") + kLocatorCells + "\n";
    const std::string strTablePath = Table(strTable);
    std::string strJoined;
    for (int nShard = 1; nShard <= 3; ++nShard) {
        const std::string strReport = m_folder.Path(Numbered("report", nShard, ".csv"));
        const test::SCommandResult run = Cli("batch " + strTablePath + " --shard " + std::to_string(nShard) +
                                             "/3 --report " + strReport + (nShard > 1 ? " --report-no-header" : ""));
        ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
        strJoined += ReadBytes(strReport);
    }
    WriteText(m_folder.Path("joined.csv"), strJoined);
    const std::vector<std::string> aLines = ReportLines(m_folder.Path("joined.csv"));
    ASSERT_EQ(aLines.size(), 8u);
    EXPECT_EQ(aLines[0].rfind("line,", 0), 0u);
    std::multiset<std::string> aTableLines;
    for (std::size_t i = 1; i < aLines.size(); ++i) {
        EXPECT_EQ(SplitCells(aLines[i])[3], "written") << aLines[i];
        aTableLines.insert(SplitCells(aLines[i])[0]);
    }
    EXPECT_EQ(aTableLines, (std::multiset<std::string>{"2", "3", "4", "5", "6", "7", "8"}));
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(std::filesystem::exists(m_folder.Path(Numbered("o", i, ".png")))) << i;
    // Shard 1 of 3 took rows 1, 4 and 7 of the table (lines 2, 5 and 8).
    const std::vector<std::string> aFirst = ReportLines(m_folder.Path("report1.csv"));
    ASSERT_EQ(aFirst.size(), 4u);
    EXPECT_EQ(SplitCells(aFirst[1])[0], "2");
    EXPECT_EQ(SplitCells(aFirst[2])[0], "5");
    EXPECT_EQ(SplitCells(aFirst[3])[0], "8");
}

TEST_F(BatchCliTest, ReportGivesStatusMismatchEdgesAndTimeOfEveryRow)
{
    MakeScan("a.png");
    MakeScan("b.png");
    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + ",p4x,p4y\n" +
                                       "a.png,a.tif," + kLocatorCells + ",14,128\n" +
                                       "b.png,b.tif,10,12,1000,2000,180,14,178,190,1400,1700,,\n");  // p3 off the scan
    const std::string strReport = m_folder.Path("report.csv");
    const test::SCommandResult run = Cli("batch " + strTable + " --report " + strReport);
    EXPECT_EQ(run.nExitCode, 1) << run.strOutput;
    const std::vector<std::string> aLines = ReportLines(strReport);
    ASSERT_EQ(aLines.size(), 3u);
    EXPECT_EQ(aLines[0], "line,scan,output,status,message,mismatch_pixels,mismatch_metres,west,north,east,south,"
                         "resolution,seconds");
    const std::vector<std::string> aWritten = SplitCells(aLines[1]);
    ASSERT_EQ(aWritten.size(), 13u) << aLines[1];
    EXPECT_EQ(aWritten[0], "2");
    EXPECT_EQ(aWritten[2], m_folder.Path("a.tif"));
    EXPECT_EQ(aWritten[3], "written");
    const test::SCommandResult single = Cli("rectify " + m_folder.Path("a.png") + " " + m_folder.Path("single.tif") +
                                            kLocatorOptions + " --p4 14,128");
    ASSERT_EQ(single.nExitCode, 0) << single.strOutput;
    // The same numbers rectify prints, in the report's columns.
    const std::map<std::string, std::size_t> aColumns = {{"fourth_corner_mismatch_pixels: ", 5},
                                                         {"fourth_corner_mismatch_metres: ", 6},
                                                         {"west: ", 7},
                                                         {"north: ", 8},
                                                         {"east: ", 9},
                                                         {"south: ", 10},
                                                         {"resolution: ", 11}};
    for (const auto& [strKey, nColumn] : aColumns) {
        const std::size_t nAt = single.strOutput.find("\n" + strKey);
        ASSERT_NE(nAt, std::string::npos) << strKey << single.strOutput;
        const std::string strValue = single.strOutput.substr(nAt + 1 + strKey.size(), 
                                                             single.strOutput.find('\n', nAt + 1) - nAt - 1 - strKey.size());
        EXPECT_EQ(aWritten[nColumn].substr(0, 5), strValue.substr(0, 5)) << strKey;
    }
    EXPECT_FALSE(aWritten[12].empty());
    const std::vector<std::string> aFailed = SplitCells(aLines[2]);
    ASSERT_EQ(aFailed.size(), 13u) << aLines[2];
    EXPECT_EQ(aFailed[3], "failed");
    EXPECT_EQ(aFailed[4], "point 3 lies outside the 200 x 150 picture");
    EXPECT_EQ(aFailed[7], "");
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("b.tif")));
}

// A row's memory need comes from the scan's declared size, read from its header alone.
TEST_F(BatchCliTest, DeclaredSizeComesFromEveryFormatsHeader)
{
    for (const char* pName : {"p.bmp", "p.png", "p.gif", "p.jpg", "p.tif"}) {
        CDIBImage picture;
        const bool bEightBit = std::string(pName) == "p.gif";
        test::MakePatternPicture(picture, bEightBit ? 8 : 24, 301, 77);
        ASSERT_EQ(picture.SaveDIB(m_folder.Path(pName)), ESaveResult::Written) << pName;
        int nWidth = 0, nHeight = 0;
        EXPECT_TRUE(ReadDeclaredPictureSize(m_folder.Path(pName), nWidth, nHeight)) << pName;
        EXPECT_EQ(nWidth, 301) << pName;
        EXPECT_EQ(nHeight, 77) << pName;
    }
    WriteText(m_folder.Path("text.png"), "not a picture");
    int nWidth = 0, nHeight = 0;
    EXPECT_FALSE(ReadDeclaredPictureSize(m_folder.Path("text.png"), nWidth, nHeight));
    EXPECT_FALSE(ReadDeclaredPictureSize(m_folder.Path("none.png"), nWidth, nHeight));
}

// auto=1: the grid finder gives the locators, as rectify --auto does.
TEST_F(BatchCliTest, AutoRowsFindTheGridAsRectifyAutoDoes)
{
    for (const bool bLabels : {true, false}) {
        synthetic::SScanRecipe recipe;
        recipe.nWidth = 1800, recipe.nHeight = 1350;
        recipe.dSpacing = 230;
        recipe.dRotationDegrees = 2.5;
        recipe.dShear = 0.01;
        recipe.bLabels = bLabels;
        recipe.dFirstEasting = 441000;
        recipe.dFirstNorthing = 5302000;
        recipe.nSeed = 5;
        CDIBImage picture;
        synthetic::SScanTruth truth;
        std::string strWhy;
        ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy)) << strWhy;
        ASSERT_EQ(picture.SaveDIB(m_folder.Path(bLabels ? "labelled.jpg" : "plain.png")), ESaveResult::Written);
    }
    const test::SCommandResult single =
        Cli("rectify " + m_folder.Path("labelled.jpg") + " " + m_folder.Path("single.tif") + " --auto");
    ASSERT_EQ(single.nExitCode, 0) << single.strOutput;
    const std::string strTable = Table("scan,output,auto\nlabelled.jpg,auto.tif,1\nplain.png,plain.tif,1\n");
    const std::string strReport = m_folder.Path("report.csv");
    const test::SCommandResult run = Cli("batch " + strTable + " --report " + strReport);
    EXPECT_EQ(run.nExitCode, 1) << run.strOutput;  // the sheet without labels has no map positions
    EXPECT_TRUE(ReadBytes(m_folder.Path("auto.tif")) == ReadBytes(m_folder.Path("single.tif")));
    EXPECT_EQ(ReadBytes(FindWorldFile(m_folder.Path("auto.tif"))), ReadBytes(FindWorldFile(m_folder.Path("single.tif"))));
    const std::vector<std::string> aLines = ReportLines(strReport);
    ASSERT_EQ(aLines.size(), 3u);
    EXPECT_EQ(SplitCells(aLines[1])[3], "written");
    EXPECT_EQ(SplitCells(aLines[2])[3], "failed");
    EXPECT_NE(aLines[2].find("the grid on the scan was not found with certainty"), std::string::npos) << aLines[2];
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("plain.tif")));
}

// The rows' results never depend on how many rows run at once: a row that would write a
// .prj beside another row's scan is refused (one row at a time, the other row's scan read
// it; two at once, it might not), and rows kept apart give the same files and the same
// report with one job and with two.
TEST_F(BatchCliTest, RowsResultsDoNotDependOnTheJobs)
{
    for (const char* pName : {"a.png", "c.png", "d.png"})
        MakeScan(pName);
    std::filesystem::create_directories(m_folder.Path("out"));
    const std::string strHeader = std::string("scan,output,") + kLocatorHeader + ",srs\n";
    const std::string strClash = Table(strHeader + "a.png,c.tif," + kLocatorCells + ",EPSG:27700\n" +
                                           "c.png,out/c.tif," + kLocatorCells + ",\n",
                                       "clash.csv");
    for (const char* pJobs : {"1", "2"}) {
        const test::SCommandResult run = Cli("batch " + strClash + " --jobs " + pJobs);
        EXPECT_EQ(run.nExitCode, 2) << pJobs << "\n" << run.strOutput;
        EXPECT_NE(run.strOutput.find("line 3 refused: "), std::string::npos) << run.strOutput;
        EXPECT_NE(run.strOutput.find("line 2"), std::string::npos) << run.strOutput;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("c.tif")));
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("c.prj")));
    }

    const std::string strApart = Table(strHeader + "a.png,out/a.tif," + kLocatorCells + ",EPSG:27700\n" +
                                           "c.png,out/c.png," + kLocatorCells + ",\n" + "d.png,out/d.tif," +
                                           kLocatorCells + ",\n",
                                       "apart.csv");
    std::map<std::string, std::string> aFiles[2];
    std::vector<std::string> aReports[2];
    for (int nJobs = 1; nJobs <= 2; ++nJobs) {
        std::filesystem::remove_all(m_folder.Path("out"));
        std::filesystem::create_directories(m_folder.Path("out"));
        const test::SCommandResult run =
            Cli("batch " + strApart + " --jobs " + std::to_string(nJobs) + " --report " + m_folder.Path("report.csv"));
        ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path("out")))
            aFiles[nJobs - 1][entry.path().filename().string()] = ReadBytes(entry.path().string());
        for (const std::string& strLine : ReportLines(m_folder.Path("report.csv")))
            aReports[nJobs - 1].push_back(strLine.substr(0, strLine.rfind(',')));  // the seconds left out
    }
    EXPECT_EQ(aFiles[0].size(), 7u);  // three pictures, three world files, one .prj
    EXPECT_TRUE(aFiles[0] == aFiles[1]);
    EXPECT_EQ(aReports[0].size(), 4u);
    EXPECT_EQ(aReports[0], aReports[1]);
}

// A row is checked against the grid on its scan as rectify checks it: a locator on the
// wrong grid line is warned about, counted and reported with its mismatch.
TEST_F(BatchCliTest, RowsGetTheGridCheckOfRectify)
{
    synthetic::SScanRecipe recipe;
    recipe.nWidth = 1800, recipe.nHeight = 1350;
    recipe.dSpacing = 230;
    recipe.dRotationDegrees = 2.5;
    recipe.dShear = 0.01;
    recipe.bLabels = false;
    recipe.nSeed = 5;
    CDIBImage picture;
    synthetic::SScanTruth truth;
    std::string strWhy;
    ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy)) << strWhy;
    ASSERT_EQ(picture.SaveDIB(m_folder.Path("plain.png")), ESaveResult::Written);
    const int nLast = truth.nColumns - 1;
    const auto Pixel = [&](int i, int j) {
        return std::to_string(int(std::floor(truth.CrossX(i, j) + 0.5))) + "," +
               std::to_string(int(std::floor(truth.CrossY(i, j) + 0.5)));
    };
    // Locator 2 one grid line too low.
    const std::string strP1 = Pixel(0, 0) + ",441000,5302000", strP2 = Pixel(nLast, 1),
                      strP3 = Pixel(nLast, 3) + "," + std::to_string(441000 + 1000 * nLast) + ",5299000";
    const test::SCommandResult single = Cli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("single.tif") +
                                            " --p1 " + strP1 + " --p2 " + strP2 + " --p3 " + strP3 + " --yes");
    ASSERT_EQ(single.nExitCode, 0) << single.strOutput;
    ASSERT_NE(single.strOutput.find("warning: Locator 2 is probably on the wrong grid line"), std::string::npos)
        << single.strOutput;
    const auto Printed = [&](const std::string& strKey) {
        const std::size_t nAt = single.strOutput.find("\n" + strKey + ": ");
        return nAt == std::string::npos ? std::string()
                                        : single.strOutput.substr(nAt + strKey.size() + 3,
                                                                  single.strOutput.find('\n', nAt + 1) - nAt - strKey.size() - 3);
    };
    const std::string strPixels = Printed("grid_mismatch_pixels"), strMetres = Printed("grid_mismatch_metres");
    ASSERT_FALSE(strPixels.empty()) << single.strOutput;

    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + "\nplain.png,batch.tif," + strP1 +
                                       "," + strP2 + "," + strP3 + "\n");
    const test::SCommandResult run = Cli("batch " + strTable + " --yes --report " + m_folder.Path("report.csv"));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_NE(run.strOutput.find("batch: 1 written, 0 skipped, 0 failed, 1 warned"), std::string::npos) << run.strOutput;
    const std::vector<std::string> aLines = ReportLines(m_folder.Path("report.csv"));
    ASSERT_EQ(aLines.size(), 2u);
    const std::vector<std::string> aCells = SplitCells(aLines[1]);
    ASSERT_EQ(aCells.size(), 13u) << aLines[1];
    EXPECT_EQ(aCells[3], "written");
    EXPECT_NE(aCells[4].find("Locator 2 is probably on the wrong grid line"), std::string::npos) << aLines[1];
    ASSERT_FALSE(aCells[5].empty()) << aLines[1];
    ASSERT_FALSE(aCells[6].empty()) << aLines[1];
    EXPECT_NEAR(std::stod(aCells[5]), std::stod(strPixels), 0.006);
    EXPECT_NEAR(std::stod(aCells[6]), std::stod(strMetres), 0.006);
    EXPECT_TRUE(ReadBytes(m_folder.Path("batch.tif")) == ReadBytes(m_folder.Path("single.tif")));
}

// A table that never ends is read up to the limit and refused, not read until the memory
// runs out. The address space is capped so that a reader without a limit fails at once.
TEST_F(BatchCliTest, ATableThatNeverEndsIsRefused)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves terabytes of address space, which the cap forbids";
#endif
    const test::SCommandResult run =
        test::RunCommand("ulimit -v 3000000; " + std::string(GRIDMORPH_CLI_PATH) + " batch /dev/zero 2>&1");
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find("larger than 64 MB"), std::string::npos) << run.strOutput;
}

// A table within the limits whose rows do not fit in the memory given fails with a message
// instead of an abort.
TEST_F(BatchCliTest, ATableLargerThanTheMemoryFailsWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves terabytes of address space, which the cap forbids";
#endif
    std::string strText = "scan,output,points\n";
    for (int i = 0; i < 900000; ++i)
        strText += "a.png,b.tif,c.points\n";
    const std::string strTable = Table(strText);
    const test::SCommandResult run =
        test::RunCommand("ulimit -v 400000; " + std::string(GRIDMORPH_CLI_PATH) + " batch " + strTable + " 2>&1");
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find("out of memory while reading the table"), std::string::npos) << run.strOutput;
}

// Resume notices a scan that was replaced, even by a file whose modification time is older
// than the output (copied with its time kept, or moved back from elsewhere).
TEST_F(BatchCliTest, AScanReplacedByAnOlderFileIsDoneAgain)
{
    MakeScan("s.png");
    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + "\ns.png,o.tif," + kLocatorCells + "\n");
    const std::string strReport = m_folder.Path("report.csv");
    test::SCommandResult run = Cli("batch " + strTable + " --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::string strFirst = ReadBytes(m_folder.Path("o.tif"));

    MakeScan("other.png", 8);
    const auto tOld = std::filesystem::last_write_time(m_folder.Path("o.tif")) - std::chrono::hours(48);
    std::filesystem::last_write_time(m_folder.Path("other.png"), tOld);
    std::filesystem::rename(m_folder.Path("other.png"), m_folder.Path("s.png"));
    run = Cli("batch " + strTable + " --report " + strReport);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    ASSERT_EQ(ReportLines(strReport).size(), 2u);
    EXPECT_EQ(SplitCells(ReportLines(strReport)[1])[3], "written");
    EXPECT_FALSE(ReadBytes(m_folder.Path("o.tif")) == strFirst);

    run = Cli("batch " + strTable + " --report " + strReport);  // nothing changed since
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(SplitCells(ReportLines(strReport)[1])[3], "skipped");
}

// A row whose output may not be written fails before its work, saying that --force
// replaces it; the read-only file stays as it was, and --force writes it.
TEST_F(BatchCliTest, ARowWithAReadOnlyOutputFailsBeforeItsWorkUnlessForced)
{
    MakeScan("s.png");
    MakeScan("t.png");
    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + "\ns.png,o.tif," +
                                       kLocatorCells + "\nt.png,p.tif," + kLocatorCells + "\n");
    const std::string strLocked = m_folder.Path("o.tif");
    WriteText(strLocked, "kept");
    // Older than the scan, so that resume does not take it for done.
    std::filesystem::last_write_time(strLocked, std::filesystem::last_write_time(m_folder.Path("s.png")) -
                                                    std::chrono::hours(1));
    std::filesystem::permissions(strLocked, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                std::filesystem::perms::others_read);
    const std::string strReport = m_folder.Path("report.csv");
    test::SCommandResult run = Cli("batch " + strTable + " --report " + strReport);
    EXPECT_NE(run.nExitCode, 0) << run.strOutput;
    std::vector<std::string> aReport = ReportLines(strReport);
    ASSERT_EQ(aReport.size(), 3u) << run.strOutput;
    EXPECT_EQ(SplitCells(aReport[1])[3], "failed") << aReport[1];
    EXPECT_NE(aReport[1].find("read-only"), std::string::npos) << aReport[1];
    EXPECT_NE(aReport[1].find("--force replaces it"), std::string::npos) << aReport[1];
    EXPECT_EQ(SplitCells(aReport[2])[3], "written") << aReport[2];
    EXPECT_EQ(ReadBytes(strLocked), "kept");

    run = Cli("batch " + strTable + " --force --report " + strReport);
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    aReport = ReportLines(strReport);
    ASSERT_EQ(aReport.size(), 3u) << run.strOutput;
    EXPECT_EQ(SplitCells(aReport[1])[3], "written") << aReport[1];
    EXPECT_NE(ReadBytes(strLocked), "kept");
}

// GRIDMORPH_THREADS that cannot be used as given is warned about, saying what is used.
TEST_F(BatchCliTest, AThreadSettingThatIsNotUsedAsGivenIsWarnedAbout)
{
    MakeScan("s.png");
    const std::string strTable = Table(std::string("scan,output,") + kLocatorHeader + "\ns.png,o.tif," + kLocatorCells + "\n");
    for (const char* pValue : {"0", "abc", "2"}) {
        const test::SCommandResult run = test::RunCommand("GRIDMORPH_THREADS=" + std::string(pValue) + " " +
                                                          GRIDMORPH_CLI_PATH + " batch " + strTable + " --force 2>&1");
        EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
        const bool bWarned = run.strOutput.find("gridmorph-cli: warning: GRIDMORPH_THREADS='" + std::string(pValue) +
                                                "' is not a whole number from 1 to 64; as many threads as processors") !=
                             std::string::npos;
        EXPECT_EQ(bWarned, std::string(pValue) != "2") << pValue << "\n" << run.strOutput;
    }
}

}  // namespace
}  // namespace gridmorph
