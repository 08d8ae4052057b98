// The grid finder on generated scans whose true crossings are known through the
// distortion, the snap, the locator check, the label reader and its consistency rules.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "SyntheticScan.h"
#include "grid/GridFinder.h"
#include "grid/GridLabels.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

class GridFinderTest : public test::CPlatformTest {};

// The true crossing nearest a point: its indices and distance.
double NearestTruth(const synthetic::SScanTruth& truth, double x, double y, int& ni, int& nj)
{
    double dBest = 1e300;
    for (int j = 0; j < truth.nRows; ++j)
        for (int i = 0; i < truth.nColumns; ++i) {
            const double d = std::hypot(truth.CrossX(i, j) - x, truth.CrossY(i, j) - y);
            if (d < dBest)
                dBest = d, ni = i, nj = j;
        }
    return dBest;
}

struct SDistortion {
    const char* pName;
    double dRotation, dShear, dStretchX, dStretchY;
    int nBitCount;
    double dDarkness;
    bool bBroken;
    double dLighting;
    int nJpeg;
    double dNoise;
};

class GridDistortionTest : public GridFinderTest, public ::testing::WithParamInterface<SDistortion> {};

TEST_P(GridDistortionTest, LocatorsLieWithinAPixelOfTheTrueCornersOfOneGridRectangle)
{
    const SDistortion& distortion = GetParam();
    synthetic::SScanRecipe recipe;
    recipe.nWidth = 1400, recipe.nHeight = 1050;
    recipe.dSpacing = 170;
    recipe.dRotationDegrees = distortion.dRotation;
    recipe.dShear = distortion.dShear;
    recipe.dStretchX = distortion.dStretchX;
    recipe.dStretchY = distortion.dStretchY;
    recipe.nBitCount = distortion.nBitCount;
    recipe.dLineDarkness = distortion.dDarkness;
    recipe.bBrokenLines = distortion.bBroken;
    recipe.dLighting = distortion.dLighting;
    recipe.nJpegQuality = distortion.nJpeg;
    recipe.dNoise = distortion.dNoise;
    recipe.bLabels = false;
    recipe.nSeed = 11;
    CDIBImage picture;
    synthetic::SScanTruth truth;
    std::string strWhy;
    ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy)) << strWhy;

    const SFoundGrid grid = FindGrid(picture, SFindGridOptions{false});
    ASSERT_TRUE(grid.bFound) << grid.strWhy;
    int aI[3] = {}, aJ[3] = {};
    for (int k = 0; k < 3; ++k) {
        NearestTruth(truth, grid.aLocators[k].dX, grid.aLocators[k].dY, aI[k], aJ[k]);
        EXPECT_LE(std::hypot(grid.aLocators[k].nX - truth.CrossX(aI[k], aJ[k]),
                             grid.aLocators[k].nY - truth.CrossY(aI[k], aJ[k])),
                  1.0)
            << "locator " << k + 1;
        EXPECT_LE(std::hypot(grid.aLocators[k].dX - truth.CrossX(aI[k], aJ[k]),
                             grid.aLocators[k].dY - truth.CrossY(aI[k], aJ[k])),
                  0.6)
            << "locator " << k + 1 << " before rounding";
    }
    // Top-left, top-right, bottom-right of one rectangle, and the largest one: the grid's
    // outermost lines (crossings all lie well inside the sheet).
    EXPECT_EQ(aJ[0], aJ[1]);
    EXPECT_EQ(aI[1], aI[2]);
    EXPECT_EQ(aI[0], 0);
    EXPECT_EQ(aJ[0], 0);
    EXPECT_EQ(aI[1], truth.nColumns - 1);
    EXPECT_EQ(aJ[2], truth.nRows - 1);
    EXPECT_NEAR(grid.dRotationDegrees, distortion.dRotation, 0.3);
}

INSTANTIATE_TEST_SUITE_P(
    Distortions, GridDistortionTest,
    ::testing::Values(SDistortion{"Straight", 0, 0, 1, 1, 24, 0.85, false, 0, 0, 3},
                      SDistortion{"TurnedFifteen", 15, 0, 1, 1, 24, 0.85, false, 0, 0, 3},
                      SDistortion{"TurnedBackFifteen", -15, 0.01, 1, 1, 24, 0.85, false, 0, 0, 3},
                      SDistortion{"ShearAndStretch", 3, 0.03, 1.03, 0.98, 24, 0.85, false, 0, 0, 3},
                      SDistortion{"FaintGreyJpeg", -4, 0, 1, 1, 0, 0.35, false, 0, 70, 5},
                      SDistortion{"BrokenPalette", 7, -0.01, 1, 1.02, 8, 0.8, true, 0, 0, 4},
                      SDistortion{"UnevenLightNoise", -9, 0.005, 1, 1, 24, 0.7, false, 0.45, 80, 9}),
    [](const ::testing::TestParamInfo<SDistortion>& info) { return std::string(info.param.pName); });

TEST_F(GridFinderTest, SheetWithoutAGridSaysSo)
{
    synthetic::SScanRecipe recipe;
    recipe.nWidth = 1200, recipe.nHeight = 900;
    recipe.bGrid = false;
    recipe.bLabels = false;
    CDIBImage picture;
    synthetic::SScanTruth truth;
    std::string strWhy;
    ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy)) << strWhy;
    const SFoundGrid grid = FindGrid(picture);
    EXPECT_FALSE(grid.bFound);
    EXPECT_NE(grid.strWhy.find("no grid"), std::string::npos) << grid.strWhy;
}

class GridSnapTest : public GridFinderTest {
protected:
    void SetUp() override
    {
        synthetic::SScanRecipe recipe;
        recipe.nWidth = 1200, recipe.nHeight = 900;
        recipe.dSpacing = 150;
        recipe.dRotationDegrees = 6;
        recipe.dShear = 0.01;
        recipe.bLabels = false;
        std::string strWhy;
        ASSERT_TRUE(synthetic::MakeScan(recipe, m_picture, m_truth, strWhy)) << strWhy;
    }
    CDIBImage m_picture;
    synthetic::SScanTruth m_truth;
};

TEST_F(GridSnapTest, ReleaseNearACrossingSnapsOntoIt)
{
    for (const auto& [i, j, dx, dy] : {std::tuple{1, 1, 5, -4}, std::tuple{2, 3, -9, 2}, std::tuple{3, 2, 0, 11}}) {
        const double x = m_truth.CrossX(i, j), y = m_truth.CrossY(i, j);
        const std::optional<SGridCrossing> crossing =
            SnapToGridCrossing(m_picture, int(std::lround(x)) + dx, int(std::lround(y)) + dy, 12);
        ASSERT_TRUE(crossing.has_value()) << i << "," << j;
        EXPECT_LE(std::hypot(crossing->nX - x, crossing->nY - y), 1.0) << i << "," << j;
        EXPECT_EQ(crossing->nX, int(std::floor(crossing->dX + 0.5)));
    }
}

TEST_F(GridSnapTest, FittedLinesFollowBothTrueLinesThroughTheCrossing)
{
    // The true lines run through neighbouring true crossings; the fitted ones must stay
    // within half a pixel of them over 20 pixels either side of the crossing.
    for (const auto& [i, j, dx, dy] : {std::tuple{1, 1, 4, 3}, std::tuple{3, 2, -7, 5}}) {
        const double x = m_truth.CrossX(i, j), y = m_truth.CrossY(i, j);
        const std::optional<SCrossingLines> lines =
            FitCrossingLines(m_picture, int(std::lround(x)) + dx, int(std::lround(y)) + dy, 12);
        ASSERT_TRUE(lines.has_value()) << i << "," << j;
        EXPECT_LE(std::hypot(lines->crossing.dX - x, lines->crossing.dY - y), 0.5) << i << "," << j;
        const double dTrueV = (m_truth.CrossX(i, j + 1) - x) / (m_truth.CrossY(i, j + 1) - y);
        const double dTrueH = (m_truth.CrossY(i + 1, j) - y) / (m_truth.CrossX(i + 1, j) - x);
        for (const double t : {-20.0, 20.0}) {
            EXPECT_NEAR(lines->crossing.dX + lines->dSlopeVertical * t, x + dTrueV * t, 0.5) << i << "," << j;
            EXPECT_NEAR(lines->crossing.dY + lines->dSlopeHorizontal * t, y + dTrueH * t, 0.5) << i << "," << j;
        }
        // The snap is this fit rounded.
        const std::optional<SGridCrossing> snapped =
            SnapToGridCrossing(m_picture, int(std::lround(x)) + dx, int(std::lround(y)) + dy, 12);
        ASSERT_TRUE(snapped.has_value());
        EXPECT_EQ(snapped->nX, lines->crossing.nX);
        EXPECT_EQ(snapped->nY, lines->crossing.nY);
    }
}

TEST_F(GridSnapTest, ReleaseAwayFromCrossingsStaysPut)
{
    // The middle of a cell, and a point on a grid line halfway between two crossings.
    const double cx = (m_truth.CrossX(1, 1) + m_truth.CrossX(2, 2)) / 2, cy = (m_truth.CrossY(1, 1) + m_truth.CrossY(2, 2)) / 2;
    EXPECT_FALSE(SnapToGridCrossing(m_picture, int(cx), int(cy), 12).has_value());
    const double lx = (m_truth.CrossX(1, 1) + m_truth.CrossX(2, 1)) / 2, ly = (m_truth.CrossY(1, 1) + m_truth.CrossY(2, 1)) / 2;
    EXPECT_FALSE(SnapToGridCrossing(m_picture, int(lx), int(ly), 12).has_value());
}

TEST_F(GridSnapTest, LocatorOnTheWrongGridLineIsFound)
{
    const SFoundGrid grid = FindGrid(m_picture, SFindGridOptions{false});
    ASSERT_TRUE(grid.bFound) << grid.strWhy;
    CLocatorSet locators;
    for (int k = 0; k < 3; ++k) {
        locators.SetLocator(k, grid.aLocators[k].nX, grid.aLocators[k].nY);
    }
    locators.SetMapPosition(0, 1000, 9000);
    locators.SetMapPosition(1, 1000 + 500.0 * (grid.nRight - grid.nLeft), 9000);
    SGridCheck check = CheckLocatorsAgainstGrid(grid, locators);
    ASSERT_TRUE(check.bChecked);
    EXPECT_FALSE(check.Suspicious()) << check.dMismatchPixels;
    EXPECT_LE(check.dMismatchPixels, 2.0);

    // Locator 2 one grid row down.
    const int i = grid.nRight, j = grid.nTop + 1;
    ASSERT_TRUE(grid.Found(i, j));
    locators.SetLocator(1, int(std::lround(grid.X(i, j))), int(std::lround(grid.Y(i, j))));
    check = CheckLocatorsAgainstGrid(grid, locators);
    ASSERT_TRUE(check.bChecked);
    EXPECT_TRUE(check.Suspicious());
    EXPECT_GT(check.dMismatchPixels, 20.0);
    EXPECT_GT(check.dMismatchMetres, 0.0);
    EXPECT_EQ(check.nLocator, 2);
    EXPECT_EQ(check.strMessage, "Locator 2 is probably on the wrong grid line");
}

struct SStrip {
    const char* pText;
    int nHeight;
    bool bSplit;
    double dRotation;
};

class LabelStripTest : public GridFinderTest, public ::testing::WithParamInterface<SStrip> {};

TEST_P(LabelStripTest, DigitsAreReadFromARenderedLabel)
{
    const SStrip& strip = GetParam();
    CDIBImage picture;
    ASSERT_TRUE(synthetic::MakeLabelStrip(strip.pText, strip.nHeight, strip.bSplit, strip.dRotation, 3.0, picture));
    int nConfidence = 0;
    EXPECT_EQ(ReadLabelDigits(picture, strip.dRotation, &nConfidence), strip.pText) << "confidence " << nConfidence;
}

INSTANTIATE_TEST_SUITE_P(Strips, LabelStripTest,
                         ::testing::Values(SStrip{"412000", 18, false, 0}, SStrip{"5287000", 24, false, 4},
                                           SStrip{"398500", 30, true, -7}, SStrip{"6190000", 22, true, 12},
                                           // the smallest print of the sheets: leading digits
                                           // under 10 pixels tall, the last ones all zeros
                                           SStrip{"432000", 16, true, -5}, SStrip{"5350000", 16, true, 3},
                                           SStrip{"683000", 16, false, 6}, SStrip{"536500", 31, true, 0}));

TEST_F(GridFinderTest, LabelReaderReadsNoNumberIntoAName)
{
    // Only digits are read; letters must not pass as a coordinate.
    for (const char* pName : {"GREEN LANE", "MILL"}) {
        CDIBImage picture;
        ASSERT_TRUE(synthetic::MakeLabelStrip(pName, 20, false, 0, 3.0, picture));
        EXPECT_EQ(ReadLabelDigits(picture, 0), "") << pName;
    }
}

TEST_F(GridFinderTest, LabelReaderLeavesABlankStripEmpty)
{
    CDIBImage picture;
    ASSERT_TRUE(synthetic::MakeLabelStrip("", 20, false, 0, 3.0, picture));
    EXPECT_EQ(ReadLabelDigits(picture, 0), "");
}

TEST_F(GridFinderTest, ConsistentLabelsGiveTheSpacingAndAMisreadIsRejected)
{
    // Eastings every 1000 m; line 2's label misread as 414600 at the top (right at the bottom).
    const SLabelFit fit = FitGridLabels(
        {{0, 412000}, {1, 413000}, {2, 414600}, {2, 414000}, {3, 415000}, {4, 418000}, {4, 416000}, {5, 417000}}, false);
    // Line 2 and 4 were read two ways: neither of their labels counts.
    ASSERT_TRUE(fit.bConsistent) << fit.strWhy;
    EXPECT_EQ(fit.dStep, 1000.0);
    EXPECT_EQ(fit.ValueAt(0), 412000.0);
    EXPECT_EQ(fit.nAgreeing, 4);
    EXPECT_EQ(fit.nRejected, 2);

    // A single misread among agreeing labels is rejected, the rest stand.
    const SLabelFit one = FitGridLabels({{0, 5290000}, {1, 5289000}, {2, 5283000}, {3, 5287000}, {4, 5286000}}, true);
    ASSERT_TRUE(one.bConsistent) << one.strWhy;
    EXPECT_EQ(one.dStep, -1000.0);
    EXPECT_EQ(one.ValueAt(2), 5288000.0);
    EXPECT_EQ(one.nRejected, 1);
}

TEST_F(GridFinderTest, OneBadLabelIsDroppedOnlyWhenEnoughOthersAgree)
{
    // Northings every 500 m from 5117000; the truth is computed, not read back.
    auto Truth = [](int nLine) { return 5117000.0 - 500.0 * nLine; };
    struct SCase {
        const char* pName;
        std::vector<SLabelValue> aReads;
        bool bRepaired;
    };
    const SCase aCases[] = {
        {"three agree, one misread", {{0, Truth(0)}, {1, Truth(1)}, {2, 5118000}, {3, Truth(3)}}, true},
        {"both sides read, one side misread once",
         {{0, Truth(0)}, {1, Truth(1)}, {2, Truth(2)}, {0, Truth(0)}, {1, 5116600}, {3, Truth(3)}},
         true},
        {"two agree, one misread", {{0, Truth(0)}, {1, Truth(1)}, {3, 5110000}}, false},
        {"three agree, two misread", {{0, Truth(0)}, {1, Truth(1)}, {2, 5100000}, {3, Truth(3)}, {4, 5000000}}, false},
        {"misreads that agree with another spacing",
         {{0, Truth(0)}, {1, Truth(1)}, {2, Truth(2)}, {4, 5114600}, {5, 5113600}, {6, 5112600}},
         false},
    };
    for (const SCase& c : aCases) {
        const SLabelFit fit = FitGridLabels(c.aReads, true);
        EXPECT_EQ(fit.bConsistent, c.bRepaired) << c.pName << ": " << fit.strWhy;
        // Values are given only between the outermost agreeing labels: lines 0 and 3 here.
        EXPECT_EQ(fit.Covers(0) && fit.Covers(3), c.bRepaired) << c.pName;
        EXPECT_FALSE(fit.Covers(-1) || fit.Covers(4)) << c.pName;
        if (fit.bConsistent && c.bRepaired) {
            for (int nLine = 0; nLine < 6; ++nLine) {
                EXPECT_EQ(fit.ValueAt(nLine), Truth(nLine)) << c.pName << " line " << nLine;
            }
        }
    }
}

TEST_F(GridFinderTest, LabelsThatDoNotAgreeAreLeftUnread)
{
    struct SCase {
        const char* pName;
        std::vector<SLabelValue> aReads;
        bool bDescending;
    };
    const SCase aCases[] = {
        {"two labels only", {{0, 412000}, {1, 413000}}, false},
        {"no three agree", {{0, 412000}, {1, 413500}, {2, 414200}, {3, 419000}}, false},
        {"a second spacing explains a third of them", {{0, 100}, {1, 200}, {2, 300}, {4, 700}, {5, 900}, {6, 1100}}, false},
        {"falling eastings", {{0, 415000}, {1, 414000}, {2, 413000}}, false},
        {"rising northings", {{0, 5000}, {1, 6000}, {2, 7000}}, true},
        {"too many misreads", {{0, 1000}, {1, 2000}, {2, 3000}, {3, 7777}, {4, 8888}}, false},
    };
    for (const SCase& c : aCases) {
        const SLabelFit fit = FitGridLabels(c.aReads, c.bDescending);
        EXPECT_FALSE(fit.bConsistent) << c.pName;
        EXPECT_FALSE(fit.strWhy.empty()) << c.pName;
    }
}

// Finds the grid on a generated scan with labels and checks the corners' map positions
// against the generator's own.
void ExpectLabelsRightOn(const synthetic::SScanRecipe& recipe)
{
    CDIBImage picture;
    synthetic::SScanTruth truth;
    std::string strWhy;
    ASSERT_TRUE(synthetic::MakeScan(recipe, picture, truth, strWhy)) << strWhy;
    const SFoundGrid grid = FindGrid(picture);
    ASSERT_TRUE(grid.bFound) << grid.strWhy;
    ASSERT_TRUE(grid.bLabelsRead) << grid.strLabelNote;
    int i1 = 0, j1 = 0, i3 = 0, j3 = 0;
    NearestTruth(truth, grid.aLocators[0].dX, grid.aLocators[0].dY, i1, j1);
    NearestTruth(truth, grid.aLocators[2].dX, grid.aLocators[2].dY, i3, j3);
    EXPECT_EQ(grid.dEasting[0], truth.aEastings[std::size_t(i1)]);
    EXPECT_EQ(grid.dNorthing[0], truth.aNorthings[std::size_t(j1)]);
    EXPECT_EQ(grid.dEasting[1], truth.aEastings[std::size_t(i3)]);
    EXPECT_EQ(grid.dNorthing[1], truth.aNorthings[std::size_t(j3)]);
    EXPECT_EQ(grid.dGridMetres, recipe.dGridMetres);
}

TEST_F(GridFinderTest, FrameLabelsGiveTheCornersMapPositions)
{
    synthetic::SScanRecipe recipe;
    recipe.nWidth = 1800, recipe.nHeight = 1350;
    recipe.dSpacing = 230;
    recipe.dRotationDegrees = -3;
    recipe.dGridMetres = 1000;
    recipe.dFirstEasting = 441000;
    recipe.dFirstNorthing = 5302000;
    recipe.nSeed = 5;
    ExpectLabelsRightOn(recipe);
}

TEST_F(GridFinderTest, SmallSplitLabelsOfATurnedSheetAreRead)
{
    // A small scan turned far enough that the scanner's grey comes close to the labels,
    // whose leading digits are under 10 pixels tall.
    synthetic::SScanRecipe recipe;
    recipe.nWidth = 1600, recipe.nHeight = 1200;
    recipe.dSpacing = 150;
    recipe.dRotationDegrees = 9;
    recipe.bSplitLabels = true;
    recipe.dGridMetres = 500;
    recipe.dFirstEasting = 509000;
    recipe.dFirstNorthing = 5438000;
    recipe.nSeed = 11;
    ExpectLabelsRightOn(recipe);
}

}  // namespace
}  // namespace gridmorph
