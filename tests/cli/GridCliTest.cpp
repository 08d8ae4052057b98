// findgrid and rectify --auto as a script sees them, on generated scans with a known grid.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>

#include "SyntheticScan.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

struct SRun {
    int nExitCode = -1;
    std::string strOutput;
};

SRun RunCli(const std::string& strArguments, bool bErrorToo = true)
{
    const test::SCommandResult result =
        test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + (bErrorToo ? " 2>&1" : " 2>/dev/null"));
    return SRun{result.nExitCode, result.strOutput};
}

// The value of "key: value" in the output, or "" when there is no such line.
std::string Value(const std::string& strOutput, const std::string& strKey)
{
    const std::string strStart = strKey + ": ";
    std::size_t nAt = strOutput.rfind("\n" + strStart);
    nAt = strOutput.rfind(strStart, 0) == 0 ? 0 : nAt == std::string::npos ? nAt : nAt + 1;
    if (nAt == std::string::npos)
        return "";
    const std::size_t nEnd = strOutput.find('\n', nAt);
    return strOutput.substr(nAt + strStart.size(), nEnd - nAt - strStart.size());
}

class GridCliTest : public test::CPlatformTest {
protected:
    // A labelled scan saved as JPEG; the truth of its grid.
    void MakeSheet(bool bLabels, const std::string& strName)
    {
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
        std::string strWhy;
        ASSERT_TRUE(synthetic::MakeScan(recipe, picture, m_truth, strWhy)) << strWhy;
        ASSERT_EQ(picture.SaveDIB(m_folder.Path(strName)), ESaveResult::Written);
    }
    test::CTempFolder m_folder;
    synthetic::SScanTruth m_truth;
};

TEST_F(GridCliTest, FindGridPrintsTheLocatorsAndTheirMapPositions)
{
    MakeSheet(true, "scan.jpg");
    const SRun run = RunCli("findgrid " + m_folder.Path("scan.jpg"), false);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::regex pixel("-?[0-9]+,-?[0-9]+"), number("-?[0-9]+(\\.[0-9]+)?");
    // The first five lines, in this order; then the extras.
    EXPECT_TRUE(std::regex_search(run.strOutput, std::regex("^p1: [0-9]+,[0-9]+\np2: [0-9]+,[0-9]+\np3: [0-9]+,[0-9]+\n"
                                                            "p1_map: [0-9]+,[0-9]+\np3_map: [0-9]+,[0-9]+\n")))
        << run.strOutput;
    // The outermost grid lines' crossings (the largest rectangle) and their labels.
    const int nLast = m_truth.nColumns - 1, nBottom = m_truth.nRows - 1;
    auto Rounded = [](double d) { return std::to_string(int(std::floor(d + 0.5))); };
    EXPECT_EQ(Value(run.strOutput, "p1"), Rounded(m_truth.CrossX(0, 0)) + "," + Rounded(m_truth.CrossY(0, 0)));
    EXPECT_EQ(Value(run.strOutput, "p2"), Rounded(m_truth.CrossX(nLast, 0)) + "," + Rounded(m_truth.CrossY(nLast, 0)));
    EXPECT_EQ(Value(run.strOutput, "p3"),
              Rounded(m_truth.CrossX(nLast, nBottom)) + "," + Rounded(m_truth.CrossY(nLast, nBottom)));
    EXPECT_EQ(Value(run.strOutput, "p1_map"), "441000,5302000");
    EXPECT_EQ(Value(run.strOutput, "p3_map"),
              std::to_string(441000 + 1000 * nLast) + "," + std::to_string(5302000 - 1000 * nBottom));
    for (const char* pKey : {"rotation_degrees", "residual_pixels", "seconds"})
        EXPECT_TRUE(std::regex_match(Value(run.strOutput, pKey), number)) << pKey << "\n" << run.strOutput;
    EXPECT_TRUE(std::regex_match(Value(run.strOutput, "grid_lines"), pixel)) << run.strOutput;
}

// findgrid reads a TIFF scan a band at a time and maps a BMP: the grid, its crossings and
// its labels are those found on the same sheet read whole from a PNG.
TEST_F(GridCliTest, FindGridGivesTheSameGridWhetherTheScanIsReadWholeOrABandAtATime)
{
    MakeSheet(true, "sheet.png");
    CDIBImage sheet;
    ASSERT_TRUE(sheet.OpenDIB(m_folder.Path("sheet.png")));
    ASSERT_EQ(sheet.SaveDIB(m_folder.Path("sheet.tif")), ESaveResult::Written);
    ASSERT_EQ(sheet.SaveDIB(m_folder.Path("sheet.bmp")), ESaveResult::Written);
    auto WithoutTime = [](const std::string& strOutput) {
        return std::regex_replace(strOutput, std::regex("seconds: [^\n]*\n"), "");
    };
    const SRun whole = RunCli("findgrid " + m_folder.Path("sheet.png"), false);
    ASSERT_EQ(whole.nExitCode, 0) << whole.strOutput;
    ASSERT_FALSE(Value(whole.strOutput, "p1_map").empty()) << whole.strOutput;
    for (const char* pName : {"sheet.tif", "sheet.bmp"}) {
        const SRun run = RunCli("findgrid " + m_folder.Path(pName), false);
        ASSERT_EQ(run.nExitCode, 0) << pName << "\n" << run.strOutput;
        EXPECT_EQ(WithoutTime(run.strOutput), WithoutTime(whole.strOutput)) << pName;
    }
}

TEST_F(GridCliTest, FindGridWithoutLabelsOmitsTheMapPositionsAndWithoutAGridSaysWhy)
{
    MakeSheet(false, "plain.png");
    SRun run = RunCli("findgrid " + m_folder.Path("plain.png"), false);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_FALSE(Value(run.strOutput, "p1").empty());
    EXPECT_EQ(Value(run.strOutput, "p1_map"), "");
    EXPECT_EQ(Value(run.strOutput, "p3_map"), "");

    synthetic::SScanRecipe recipe;
    recipe.bGrid = false;
    CDIBImage picture;
    synthetic::SScanTruth truth;
    std::string strWhy;
    ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy));
    ASSERT_EQ(picture.SaveDIB(m_folder.Path("nogrid.png")), ESaveResult::Written);
    run = RunCli("findgrid " + m_folder.Path("nogrid.png"));
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_TRUE(std::regex_match(run.strOutput, std::regex("gridmorph-cli: findgrid: no grid found[^\n]*\n"))) << run.strOutput;
}

TEST_F(GridCliTest, AutoRectifyGivesTheSameMapAsTheHandPlacedLocators)
{
    MakeSheet(true, "scan.jpg");
    const SRun found = RunCli("findgrid " + m_folder.Path("scan.jpg"), false);
    ASSERT_EQ(found.nExitCode, 0) << found.strOutput;
    SRun run = RunCli("rectify " + m_folder.Path("scan.jpg") + " " + m_folder.Path("auto.tif") + " --auto");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    const std::string strHand = " --p1 " + Value(found.strOutput, "p1") + "," + Value(found.strOutput, "p1_map") +
                                " --p2 " + Value(found.strOutput, "p2") + " --p3 " + Value(found.strOutput, "p3") + "," +
                                Value(found.strOutput, "p3_map");
    run = RunCli("rectify " + m_folder.Path("scan.jpg") + " " + m_folder.Path("hand.tif") + strHand);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("warning"), std::string::npos) << run.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("auto.tif")), test::ReadBytes(m_folder.Path("hand.tif")));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("auto.tfw")), test::ReadBytes(m_folder.Path("hand.tfw")));
}

TEST_F(GridCliTest, AutoRectifyTakesTheMapPositionsGivenWhenThereAreNoLabelsAndRefusesWithoutThem)
{
    MakeSheet(false, "plain.png");
    SRun run = RunCli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("out.tif") + " --auto");
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("--p1 E,N --p3 E,N"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.tif")));

    run = RunCli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("out.tif") +
                 " --auto --p1 441000,5302000 --p3 447000,5298000");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(Value(run.strOutput, "p1_map"), "441000,5302000");
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("out.tif")));

    run = RunCli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("out.tif") + " --auto --p2 1,2");
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
}

TEST_F(GridCliTest, RectifyWarnsWhenALocatorIsOnTheWrongGridLine)
{
    MakeSheet(false, "plain.png");
    const int nLast = m_truth.nColumns - 1;
    auto Pixel = [&](int i, int j) {
        return std::to_string(int(std::floor(m_truth.CrossX(i, j) + 0.5))) + "," +
               std::to_string(int(std::floor(m_truth.CrossY(i, j) + 0.5)));
    };
    const std::string strP1 = " --p1 " + Pixel(0, 0) + ",441000,5302000";
    const std::string strP3 = " --p3 " + Pixel(nLast, 3) + "," + std::to_string(441000 + 1000 * nLast) + ",5299000";
    // Locator 2 on the right line (no warning), then one row down.
    SRun run = RunCli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("a.tif") + strP1 + strP3 +
                      " --p2 " + Pixel(nLast, 0));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("wrong grid line"), std::string::npos) << run.strOutput;
    run = RunCli("rectify " + m_folder.Path("plain.png") + " " + m_folder.Path("b.tif") + strP1 + strP3 + " --p2 " +
                 Pixel(nLast, 1) + " --yes");
    EXPECT_NE(run.strOutput.find("warning: Locator 2 is probably on the wrong grid line"), std::string::npos)
        << run.strOutput;
    const std::string strPixels = Value(run.strOutput, "grid_mismatch_pixels");
    ASSERT_FALSE(strPixels.empty()) << run.strOutput;
    EXPECT_GT(std::stod(strPixels), 2.0);
    EXPECT_FALSE(Value(run.strOutput, "grid_mismatch_metres").empty());
}

TEST_F(GridCliTest, ClipFrameKeepsTheWholeCellsOutToTheOutermostGridLines)
{
    MakeSheet(false, "plain.png");
    const int nLast = m_truth.nColumns - 1, nBottom = m_truth.nRows - 1;
    ASSERT_GE(nLast, 3);
    ASSERT_GE(nBottom, 3);
    auto Pixel = [&](int i, int j, int nShift) {
        return std::to_string(int(std::floor(m_truth.CrossX(i, j) + 0.5)) + nShift) + "," +
               std::to_string(int(std::floor(m_truth.CrossY(i, j) + 0.5)) + nShift);
    };
    // Grid line i is easting 441000 + 1000 i, line j northing 5302000 - 1000 j.
    auto Locators = [&](int i1, int j1, int i3, int j3, int nShift) {
        return " --p1 " + Pixel(i1, j1, nShift) + "," + std::to_string(441000 + 1000 * i1) + "," +
               std::to_string(5302000 - 1000 * j1) + " --p2 " + Pixel(i3, j1, nShift) + " --p3 " + Pixel(i3, j3, nShift) +
               "," + std::to_string(441000 + 1000 * i3) + "," + std::to_string(5302000 - 1000 * j3);
    };
    const std::string strScan = "rectify " + m_folder.Path("plain.png") + " ";
    // The outermost rectangle clipped to its grid, and an inner one (a line in from every
    // side) clipped to the frame: one more cell on each side gives the same map area.
    const SRun outer = RunCli(strScan + m_folder.Path("outer.tif") + Locators(0, 0, nLast, nBottom, 0) + " --clip grid");
    ASSERT_EQ(outer.nExitCode, 0) << outer.strOutput;
    const SRun inner =
        RunCli(strScan + m_folder.Path("inner.tif") + Locators(1, 1, nLast - 1, nBottom - 1, 0) + " --clip frame");
    ASSERT_EQ(inner.nExitCode, 0) << inner.strOutput;
    const double dResolution = std::stod(Value(outer.strOutput, "resolution"));
    for (const char* pEdge : {"west", "north", "east", "south"})
        EXPECT_NEAR(std::stod(Value(inner.strOutput, pEdge)), std::stod(Value(outer.strOutput, pEdge)), 1.5 * dResolution)
            << pEdge << "\n" << inner.strOutput << outer.strOutput;
    // Locators on the outermost lines leave no whole cell to add: the grid clip, byte for byte.
    const SRun same = RunCli(strScan + m_folder.Path("same.tif") + Locators(0, 0, nLast, nBottom, 0) + " --clip frame");
    ASSERT_EQ(same.nExitCode, 0) << same.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("same.tif")), test::ReadBytes(m_folder.Path("outer.tif")));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("same.tfw")), test::ReadBytes(m_folder.Path("outer.tfw")));
    // Locators between the crossings: no cells to count, nothing written.
    const int nHalfCell = int(m_truth.CrossX(1, 0) - m_truth.CrossX(0, 0)) / 2;
    const SRun off = RunCli(strScan + m_folder.Path("off.tif") + Locators(0, 0, nLast - 1, nBottom - 1, nHalfCell) +
                            " --clip frame --yes");
    EXPECT_EQ(off.nExitCode, 1) << off.strOutput;
    EXPECT_NE(off.strOutput.find("is not on a crossing of the grid found on the scan"), std::string::npos)
        << off.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("off.tif")));
}

}  // namespace
}  // namespace gridmorph
