// The batch's core: a folder of scans as rows, the clash checks of a growing set of files,
// and a run stopped between rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "batch/SeriesBatch.h"
#include "io/OutputClashes.h"
#include "support/TestSupport.h"
#include "transform/PointsFile.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

class SeriesBatchTest : public ::testing::Test {
protected:
    void MakeScan(const std::string& strName)
    {
        CDIBWorld scan;
        test::MakePatternPicture(scan, 24, 120, 90);
        ASSERT_EQ(scan.SaveDIB(m_folder.Path(strName)), ESaveResult::Written);
    }
    void MakePoints(const std::string& strName)
    {
        CLocatorSet locators;
        const int aX[3] = {5, 110, 108}, aY[3] = {6, 8, 80};
        for (int k = 0; k < 3; ++k)
            locators.SetLocator(k, aX[k], aY[k]);
        locators.SetMapPosition(0, 1000, 2000);
        locators.SetMapPosition(1, 1200, 2000);
        locators.SetMapPosition(2, 1200, 1850);
        ASSERT_TRUE(WritePointsFile(m_folder.Path(strName), locators, ""));
    }
    test::CTempFolder m_folder;
};

TEST_F(SeriesBatchTest, AFolderGivesOneRowPerScanWithTheLocatorsBesideIt)
{
    MakeScan("b.png");
    MakeScan("a.tif");
    MakeScan("c.png");
    MakePoints("a.tif.points");  // as the window keeps them
    MakePoints("a.points");      // not used: the one above comes first
    MakePoints("b.points");      // as Save Locators names them
    std::filesystem::create_directories(m_folder.Path("out"));
    const SBatchTable table = ReadScanFolder(m_folder.Path(""), m_folder.Path("out"));
    ASSERT_EQ(table.aRows.size(), 3u);
    const struct {
        const char* pScan;
        const char* pPoints;
        bool bAuto;
    } aExpected[] = {{"a.tif", "a.tif.points", false}, {"b.png", "b.points", false}, {"c.png", "", true}};
    for (std::size_t i = 0; i < 3; ++i) {
        const SBatchRow& row = table.aRows[i];
        SCOPED_TRACE(aExpected[i].pScan);
        EXPECT_EQ(std::filesystem::path(row.strScan).filename(), aExpected[i].pScan);
        EXPECT_EQ(std::filesystem::path(row.strPoints).filename(), aExpected[i].pPoints);
        EXPECT_EQ(row.bAuto, aExpected[i].bAuto);
        EXPECT_EQ(row.strOutput, m_folder.Path("out/" + SeriesOutputName(aExpected[i].pScan)));
        EXPECT_EQ(row.job.saveOptions.eTiffCompression, ETiffCompression::Lzw);
        EXPECT_EQ(row.strRefusal, "");
        EXPECT_EQ(row.nLine, int(i + 1));
    }
}

TEST_F(SeriesBatchTest, AnOutputOverAnotherScanOfTheFolderIsRefused)
{
    MakeScan("a.png");
    MakeScan("a-rectified.tif");  // a.png's output, rectified into the scans' own folder
    MakePoints("a.points");
    MakePoints("a-rectified.points");
    const SBatchTable table = ReadScanFolder(m_folder.Path(""), m_folder.Path(""));
    ASSERT_EQ(table.aRows.size(), 2u);
    // Sorted by name: a-rectified.tif (line 1), then a.png, whose output is line 1's scan.
    EXPECT_EQ(table.aRows[0].strRefusal, "");
    EXPECT_EQ(table.aRows[1].strRefusal,
              "the output " + m_folder.Path("a-rectified.tif") + " would replace a file read by line 1");
}

TEST(OutputSetTest, AGrowingSetComparesOnlyTheNewEntriesAndForgetsARefusedPiece)
{
    test::CTempFolder folder;
    COutputSet files;
    files.AddRead(folder.Path("a.png"), "the scan");
    files.AddWritten(folder.Path("A.PNG"), "the output");  // a clash within the first piece
    EXPECT_FALSE(files.FindClashFrom(2).has_value());      // checked already: not again
    files.AddRead(folder.Path("b.png"), "the scan");
    files.AddWritten(folder.Path("a.png"), "the output");
    const std::optional<COutputSet::SClash> clash = files.FindClashFrom(2);
    ASSERT_TRUE(clash.has_value());
    // The earlier output meets the new one first (the new output is also the first scan).
    EXPECT_EQ(clash->nWritten, 1u);
    EXPECT_EQ(clash->nOther, 3u);
    files.Truncate(2);
    EXPECT_EQ(files.Count(), 2u);
    files.AddWritten(folder.Path("c.png"), "the output");
    EXPECT_FALSE(files.FindClashFrom(2).has_value());
}

// Two rows of a table whose sidecars meet: one row writes (or removes) a .prj or world file
// that another row writes or reads. Either order of the rows is refused before any work,
// the later row naming the earlier one; rows whose files stay apart are accepted.
TEST_F(SeriesBatchTest, RowsWhoseSidecarsMeetAreRefusedNamingBothRows)
{
    for (const char* pName : {"a.png", "b.png", "c.png"})
        MakeScan(pName);
    const std::string strCells = ",5,6,1000,2000,110,8,108,80,1200,1850,";
    const struct {
        const char* pName;
        const char* pFirst;   // scan,output of line 2 (with a coordinate system)
        const char* pSecond;  // scan,output of line 3 (without)
        const char* pFile;    // the file both rows touch, named in the refusal; "" for none
    } aCases[] = {
        // Line 3 would remove the m.prj that line 2 writes beside the same map name.
        {"OutputsOfOneMapName", "a.png,m.tif", "b.png,m.png", "m.prj"},
        // Line 2 writes c.prj beside line 3's scan c.png, which would then read it or not
        // depending on which row runs first.
        {"PrjBesideALaterScan", "a.png,c.tif", "c.png,o3.tif", "c.prj"},
        {"PrjBesideAnEarlierScan", "c.png,o2.tif", "a.png,c.tif", "c.prj"},
        {"Apart", "a.png,o2.tif", "b.png,o3.png", ""},
        // Beside its own scan under the scan's name, as rectify allows it: one row alone
        // decides what is there.
        {"BesideItsOwnScan", "a.png,a.tif", "b.png,b.tif", ""},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pName);
        // The coordinate system is on line 2, or on the row that writes beside the other's scan.
        const bool bSystemOnFirst = std::string(c.pName) != "PrjBesideAnEarlierScan";
        const std::string strText = std::string("scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n,srs\n") +
                                    c.pFirst + strCells + (bSystemOnFirst ? "EPSG:27700" : "") + "\n" + c.pSecond +
                                    strCells + (bSystemOnFirst ? "" : "EPSG:27700") + "\n";
        const SBatchTable table = ReadBatchTableText(strText, m_folder.Path(""), "");
        ASSERT_EQ(table.aRows.size(), 2u);
        EXPECT_EQ(table.aRows[0].strRefusal, "");
        if (*c.pFile == '\0') {
            EXPECT_EQ(table.aRows[1].strRefusal, "");
            continue;
        }
        EXPECT_NE(table.aRows[1].strRefusal.find("line 2"), std::string::npos) << table.aRows[1].strRefusal;
        EXPECT_NE(table.aRows[1].strRefusal.find(m_folder.Path(c.pFile)), std::string::npos)
            << table.aRows[1].strRefusal;
    }
}

// What the table names is what is written: an output whose name is no picture's (rectify
// would add .PNG to it) or whose folder does not exist is refused before any work.
TEST_F(SeriesBatchTest, AnOutputThatCannotBeWrittenAsNamedIsRefused)
{
    MakeScan("a.png");
    std::filesystem::create_directories(m_folder.Path("out"));
    const struct {
        const char* pOutput;
        const char* pRefusal;  // "" when accepted
    } aCases[] = {
        {"out/t.tif", ""},
        {"t.csv", "is not named as a picture"},
        {"out/t", "is not named as a picture"},
        {"nowhere/t.tif", "the folder " /* ... does not exist */},
        {"a.png/t.tif", "the folder "},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pOutput);
        const SBatchTable table = ReadBatchTableText(std::string("scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n\n"
                                                                 "a.png,") + c.pOutput + ",5,6,1000,2000,110,8,108,80,1200,1850\n",
                                                     m_folder.Path(""), "");
        ASSERT_EQ(table.aRows.size(), 1u);
        if (*c.pRefusal == '\0')
            EXPECT_EQ(table.aRows[0].strRefusal, "");
        else
            EXPECT_NE(table.aRows[0].strRefusal.find(c.pRefusal), std::string::npos) << table.aRows[0].strRefusal;
    }
}

// A table is read within limits: a file larger than any real table, or a line longer than
// any real row, is refused with a message saying which limit, without reading on.
TEST_F(SeriesBatchTest, ATableBeyondTheLimitsIsRefusedSayingWhy)
{
    const std::string strHuge = m_folder.Path("huge.csv");
    {
        std::ofstream file(strHuge, std::ios::binary);
        file << "scan,output,points\n";
    }
    std::filesystem::resize_file(strHuge, (std::uintmax_t(64) << 20) + 1);  // sparse: no disc taken
    try {
        ReadBatchTable(strHuge);
        ADD_FAILURE() << "a table over 64 MB was read";
    } catch (const CBatchTableError& error) {
        EXPECT_NE(error.Problem().find("larger than 64 MB"), std::string::npos) << error.Problem();
    }
    const std::string strLongLine = "scan,output,points\na.png,o.tif," + std::string(70000, 'x') + ".points\n";
    try {
        ReadBatchTableText(strLongLine, m_folder.Path(""), "");
        ADD_FAILURE() << "a line of 70000 characters was read";
    } catch (const CBatchTableError& error) {
        EXPECT_NE(error.Problem().find("line 2 is longer than 64 KB"), std::string::npos) << error.Problem();
    }
    // Just within the line limit: read, and the row refused for its own reasons.
    const SBatchTable table = ReadBatchTableText("scan,output,points\na.png,o.tif," + std::string(60000, 'x') + "\n",
                                                 m_folder.Path(""), "");
    EXPECT_EQ(table.aRows.size(), 1u);
}

// Stops the batch once the first row is done.
class CCancelAfterFirst : public CBatchFeedback {
public:
    void RowFinished(const SBatchRow&, const SBatchProgress& progress) override { m_nDone = progress.nDone; }
    bool Cancelled() override { return m_nDone >= 1; }
    int m_nDone = 0;
};

TEST_F(SeriesBatchTest, ACancelledBatchStartsNoFurtherRowAndLeavesNoOutputOfThem)
{
    for (const char* pName : {"s1.png", "s2.png", "s3.png"}) {
        MakeScan(pName);
        MakePoints(std::string(pName) + ".points");
    }
    std::filesystem::create_directories(m_folder.Path("out"));
    SBatchTable table = ReadScanFolder(m_folder.Path(""), m_folder.Path("out"));
    const std::vector<SBatchRow*> aRows = SelectShard(table, 1, 1);
    SBatchSettings settings;
    settings.nJobs = 1;
    CCancelAfterFirst feedback;
    const SBatchCounts counts = RunBatchRows(aRows, table.strTable, settings, feedback);
    EXPECT_EQ(counts.nWritten, 1);
    EXPECT_EQ(counts.nCancelled, 2);
    const EBatchStatus aStatus[] = {EBatchStatus::Written, EBatchStatus::Cancelled, EBatchStatus::Cancelled};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(aRows[i]->eStatus, aStatus[i]) << i;
        EXPECT_EQ(std::filesystem::exists(aRows[i]->strOutput), i == 0) << i;
    }
    EXPECT_NE(FormatBatchReport(aRows, false).find(",cancelled,not run: the batch was cancelled,"), std::string::npos);
}

}  // namespace
}  // namespace gridmorph
