// The batch's core: a folder of scans as rows, the clash checks of a growing set of files,
// and a run stopped between rows.
#include <gtest/gtest.h>

#include <filesystem>

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
