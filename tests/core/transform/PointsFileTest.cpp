// Locator files in the .points layout, and the fourth-corner check of three locators.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "support/ScopedLocale.h"
#include "support/TestSupport.h"
#include "transform/FourthCorner.h"
#include "transform/PointsFile.h"

namespace gridmorph {
namespace {

// Locators 1 to 3 at the pixels and map positions given.
CLocatorSet MakeLocators(const int (&aX)[3], const int (&aY)[3], const double (&aEasting)[3],
                         const double (&aNorthing)[3])
{
    CLocatorSet locators;
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, aX[i], aY[i]);
        locators.SetMapPosition(i, aEasting[i], aNorthing[i]);
    }
    return locators;
}

CLocatorSet SampleLocators()
{
    return MakeLocators({313, 1663, 1656}, {305, 331, 1253}, {512250, 513750, 513750}, {6231250, 6231250, 6230250.5});
}

void ExpectSameLocators(const CLocatorSet& expected, const CLocatorSet& actual)
{
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(actual.LocatorX(i), expected.LocatorX(i)) << "locator " << i + 1;
        EXPECT_EQ(actual.LocatorY(i), expected.LocatorY(i)) << "locator " << i + 1;
        EXPECT_EQ(actual.Easting(i), expected.Easting(i)) << "locator " << i + 1;
        EXPECT_EQ(actual.Northing(i), expected.Northing(i)) << "locator " << i + 1;
    }
}

constexpr char kHeader[] = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";

TEST(PointsFileTest, WritesPixelCentresWithYNegativeDownwardsAndReadsThemBack)
{
    const CLocatorSet locators = SampleLocators();
    const std::string strText = FormatPointsText(locators, "PROJCRS[\"x\"]");
    EXPECT_EQ(strText, std::string("#CRS: PROJCRS[\"x\"]\n") + kHeader +
                           "512250.000000,6231250.000000,313.5,-305.5,1,0,0,0\n"
                           "513750.000000,6231250.000000,1663.5,-331.5,1,0,0,0\n"
                           "513750.000000,6230250.500000,1656.5,-1253.5,1,0,0,0\n");
    CLocatorSet read;
    std::string strProblem;
    ASSERT_TRUE(ParsePointsText(strText, read, strProblem)) << strProblem;
    ExpectSameLocators(locators, read);

    // The same under a comma-decimal locale, through a file.
    test::CTempFolder folder;
    const std::optional<test::SCommaLocale> commaLocale = test::FindCommaDecimalLocale();
    ASSERT_TRUE(commaLocale.has_value());
    test::CScopedLocale scoped(*commaLocale);
    ASSERT_TRUE(scoped.Active());
    ASSERT_TRUE(WritePointsFile(folder.Path("map.points"), locators, ""));
    EXPECT_EQ(test::ReadBytes(folder.Path("map.points")).size(), strText.size() - std::string("#CRS: PROJCRS[\"x\"]\n").size());
    CLocatorSet fromFile;
    ASSERT_TRUE(ReadPointsFile(folder.Path("map.points"), fromFile, strProblem)) << strProblem;
    ExpectSameLocators(locators, fromFile);
}

TEST(PointsFileTest, RowsAreMappedToTheCornersByTheirMapPositions)
{
    // Another program's file: rows in any order, CR LF endings, clicks inside a pixel,
    // a disabled extra point and the short header of older files.
    const std::string strText =
        "#CRS: \r\n"
        "mapX,mapY,pixelX,pixelY,enable\r\n"
        "513750,6230250.5,1656.9,-1253.01,1\r\n"
        "512250,6231250,313.2,-305.7,1\r\n"
        "512250,6230250.5,320,-1230,0\r\n"
        "\r\n"
        "513750,6231250,1663,-331,1\r\n";
    CLocatorSet read;
    std::string strProblem;
    ASSERT_TRUE(ParsePointsText(strText, read, strProblem)) << strProblem;
    ExpectSameLocators(SampleLocators(), read);
}

struct SMalformedCase {
    const char* pName;
    std::string strRows;  // after the header, unless the case is about the header
    bool bHeader;
    const char* pProblem;
};

class MalformedPointsTest : public ::testing::TestWithParam<SMalformedCase> {};

TEST_P(MalformedPointsTest, IsRefusedNamingTheWrongLine)
{
    const SMalformedCase& c = GetParam();
    CLocatorSet locators = SampleLocators();
    std::string strProblem;
    EXPECT_FALSE(ParsePointsText((c.bHeader ? kHeader : "") + c.strRows, locators, strProblem));
    EXPECT_EQ(strProblem, c.pProblem);
    ExpectSameLocators(SampleLocators(), locators);  // untouched
}

const std::string kTopLeft = "512250,6231250,313.5,-305.5,1\n";
const std::string kTopRight = "513750,6231250,1663.5,-331.5,1\n";
const std::string kBottomRight = "513750,6230250,1656.5,-1253.5,1\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, MalformedPointsTest,
    ::testing::Values(
        SMalformedCase{"NoHeader", kTopLeft + kTopRight + kBottomRight, false,
                       "line 1: the header line (mapX,mapY,sourceX,sourceY,enable) is missing"},
        SMalformedCase{"TooFewFields", kTopLeft + "513750,6231250,1663.5\n" + kBottomRight, true,
                       "line 3: 3 fields; a row gives mapX,mapY,sourceX,sourceY,enable"},
        SMalformedCase{"NotANumber", kTopLeft + kTopRight + "513750,62302x0,1656.5,-1253.5,1\n", true,
                       "line 4: mapY '62302x0' is not a number"},
        SMalformedCase{"CommaDecimal", kTopLeft + kTopRight + "513750,6230250,1656 5,-1253.5,1\n", true,
                       "line 4: sourceX '1656 5' is not a number"},
        SMalformedCase{"EnableNotZeroOrOne", kTopLeft + "513750,6231250,1663.5,-331.5,2\n" + kBottomRight, true,
                       "line 3: enable is 1 or 0, not '2'"},
        SMalformedCase{"SourceYPositive", kTopLeft + "513750,6231250,1663.5,331.5,1\n" + kBottomRight, true,
                       "line 3: source position 1663.5,331.5 is not on a picture (x counts right from 0, y down from "
                       "0 as negative numbers)"},
        SMalformedCase{"DuplicatedRow", kTopLeft + kTopRight + kTopRight + kBottomRight, true,
                       "line 4: the map position of line 3 again (a duplicated row)"},
        SMalformedCase{"AbsurdMapPosition", kTopLeft + kTopRight + "1e300,6230250,1656.5,-1253.5,1\n", true,
                       "line 4: map position 1e300,6230250 lies beyond 21474836 m, farther than any map reaches"},
        SMalformedCase{"EscapeSequenceNotEchoed", kTopLeft + "\x1b[2J" + std::string(60000, 'x') + ",1,2,3,1\n", true,
                       "line 3: mapX '\\x1B[2Jxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'... (60004 bytes) is not a number"},
        SMalformedCase{"LongLineOfCommas", std::string(100000, ',') + "\n", true,
                       "not a locator file (line 2 is longer than 65536 characters)"},
        SMalformedCase{"NulBytes", std::string("\0\0\0", 3), false, "not a locator file (line 1 holds a NUL byte)"},
        SMalformedCase{"HeaderOnly", "", true,
                       "the file gives 0 enabled points; rectify takes three (top-left, top-right and bottom-right "
                       "corners of a grid rectangle)"},
        SMalformedCase{"OnlyComments", "# nothing\n\n", false,
                       "not a locator file (no mapX,mapY,sourceX,sourceY,enable header line)"},
        SMalformedCase{"FourEnabled", kTopLeft + kTopRight + kBottomRight + "512250,6230250,320,-1230,1\n", true,
                       "line 5: a fourth enabled point; rectify takes three (top-left, top-right and bottom-right "
                       "corners of a grid rectangle)"},
        SMalformedCase{"TwoEnabled", kTopLeft + kTopRight + "513750,6230250,1656.5,-1253.5,0\n", true,
                       "the file gives 2 enabled points; rectify takes three (top-left, top-right and bottom-right "
                       "corners of a grid rectangle)"},
        SMalformedCase{"BottomLeftInsteadOfTopRight", kTopLeft + "512250,6230250,320,-1230,1\n" + kBottomRight, true,
                       "line 3: map position 512250.000000,6230250.000000 is not the top-left, top-right or "
                       "bottom-right corner of the grid rectangle the three points span"},
        SMalformedCase{"TopLeftTwice", kTopLeft + kTopLeft + kBottomRight, true,
                       "line 3: the map position of line 2 again (a duplicated row)"},
        SMalformedCase{"OneNorthing", kTopLeft + kTopRight + "514000,6231250,1700.5,-340.5,1\n", true,
                       "lines 2, 3 and 4: the map positions do not span a rectangle"}),
    [](const ::testing::TestParamInfo<SMalformedCase>& info) { return std::string(info.param.pName); });

// A scan turned by atan(12/160): grid corners 160 m apart at (30,10), (190,22), (178,182)
// and (18,170), all whole pixels, so the fourth corner is predicted exactly.
CLocatorSet TurnedScanLocators()
{
    return MakeLocators({30, 190, 178}, {10, 22, 182}, {1000, 1160, 1160}, {2160, 2160, 2000});
}

struct SCornerCase {
    double dX, dY;          // where the fourth corner is found on the scan
    double dMismatchPixels;
    bool bSuspicious;
};

class FourthCornerTest : public ::testing::TestWithParam<SCornerCase> {};

TEST_P(FourthCornerTest, MeasuresTheCornerAgainstThePrediction)
{
    const SCornerCase& c = GetParam();
    SFourthCornerCheck check;
    const double aGiven[2] = {c.dX, c.dY};
    ASSERT_TRUE(CheckFourthCorner(TurnedScanLocators(), aGiven, check));
    EXPECT_EQ(check.dEasting, 1000.0);
    EXPECT_EQ(check.dNorthing, 2000.0);
    EXPECT_NEAR(check.dPredictedX, 18.0, 1e-9);
    EXPECT_NEAR(check.dPredictedY, 170.0, 1e-9);
    EXPECT_TRUE(check.bMeasured);
    EXPECT_NEAR(check.dMismatchPixels, c.dMismatchPixels, 1e-9);
    // 160 m over sqrt(160^2 + 12^2) pixels.
    EXPECT_NEAR(check.dMismatchMetres, c.dMismatchPixels * 160.0 / std::hypot(160.0, 12.0), 1e-9);
    EXPECT_EQ(check.Suspicious(), c.bSuspicious);
}

INSTANTIATE_TEST_SUITE_P(Corners, FourthCornerTest,
                         ::testing::Values(SCornerCase{18, 170, 0.0, false}, SCornerCase{23, 170, 5.0, true},
                                           SCornerCase{18, 165, 5.0, true}, SCornerCase{21, 174, 5.0, true},
                                           SCornerCase{19, 171, std::sqrt(2.0), false},
                                           SCornerCase{20, 170, 2.0, false}));

TEST(FourthCornerPredictionTest, WithoutAGivenPixelOnlyPredicts)
{
    SFourthCornerCheck check;
    ASSERT_TRUE(CheckFourthCorner(TurnedScanLocators(), nullptr, check));
    EXPECT_NEAR(check.dPredictedX, 18.0, 1e-9);
    EXPECT_NEAR(check.dPredictedY, 170.0, 1e-9);
    EXPECT_FALSE(check.bMeasured);
    EXPECT_FALSE(check.Suspicious());
    CLocatorSet degenerate = TurnedScanLocators();
    degenerate.SetEasting(2, degenerate.Easting(0));  // no width on the map
    EXPECT_FALSE(CheckFourthCorner(degenerate, nullptr, check));
}

TEST(PointsFileTest, AByteOrderMarkAndAnyLineEndsAreRead)
{
    for (const char* pEnd : {"\n", "\r\n", "\r"}) {
        std::string strText = "\xEF\xBB\xBF";
        for (char c : FormatPointsText(SampleLocators(), ""))
            strText += c == '\n' ? std::string(pEnd) : std::string(1, c);
        CLocatorSet read;
        std::string strProblem;
        ASSERT_TRUE(ParsePointsText(strText, read, strProblem)) << strProblem;
        ExpectSameLocators(SampleLocators(), read);
    }
}

TEST(PointsFileTest, WhatIsNoLocatorFileIsSaidToBeNone)
{
    test::CTempFolder folder;
    const std::string strHuge = folder.Path("huge.points");
    test::WriteBytes(strHuge, std::vector<std::uint8_t>(10 << 20, ','));
    struct SCase {
        std::string strPath;
        const char* pProblem;
    };
    const SCase aCases[] = {
        {strHuge, "not a locator file (larger than 1024 KB)"},
        {"/dev/zero", "not a locator file (not a plain file)"},
        {"/dev/null", "not a locator file (not a plain file)"},
        {folder.Root().string(), "not a locator file (a folder)"},
        {folder.Path("missing.points"), "it does not exist"},
    };
    for (const SCase& aCase : aCases) {
        CLocatorSet locators = SampleLocators();
        std::string strProblem;
        EXPECT_FALSE(ReadPointsFile(aCase.strPath, locators, strProblem)) << aCase.strPath;
        EXPECT_EQ(strProblem, aCase.pProblem) << aCase.strPath;
        ExpectSameLocators(SampleLocators(), locators);
    }
    test::WriteBytes(folder.Path("empty.points"), {});
    CLocatorSet locators;
    std::string strProblem;
    EXPECT_FALSE(ReadPointsFile(folder.Path("empty.points"), locators, strProblem));
    EXPECT_EQ(strProblem, "not a locator file (it is empty)");
}

// A file of more points than three, as a grid of crossings gives: the corners of the
// largest grid rectangle among them, with the lines they came from.
TEST(PointsFileTest, ChoosingCornersTakesTheLargestGridRectangle)
{
    const std::string strHeader = "mapX,mapY,sourceX,sourceY,enable\n";
    struct SCase {
        const char* pName;
        std::string strRows;  // from line 2
        bool bRead;
        int aLines[3];
        double dWest, dNorth, dEast, dSouth;
        const char* pProblem;
    };
    const SCase aCases[] = {
        {"three points read as always",
         "100,300,10.5,-10.5,1\n300,300,90.5,-12.5,1\n300,100,88.5,-80.5,1\n", true, {2, 3, 4}, 100, 300, 300, 100, ""},
        {"a 3 x 2 grid: the whole of it",
         "100,300,10.5,-10.5,1\n200,300,50.5,-11.5,1\n300,300,90.5,-12.5,1\n"
         "100,100,12.5,-80.5,1\n200,100,50.5,-80.5,1\n300,100,88.5,-80.5,1\n",
         true, {2, 4, 7}, 100, 300, 300, 100, ""},
        {"the top-left corner missing: the larger of the rectangles left",
         "200,300,50.5,-11.5,1\n300,300,90.5,-12.5,1\n100,200,11.5,-45.5,1\n200,200,50.5,-45.5,1\n"
         "300,200,89.5,-45.5,1\n300,100,88.5,-80.5,1\n",
         true, {2, 3, 7}, 200, 300, 300, 100, ""},
        {"a disabled point takes no part",
         "100,300,10.5,-10.5,0\n200,300,50.5,-11.5,1\n300,300,90.5,-12.5,1\n300,100,88.5,-80.5,1\n"
         "200,100,50.5,-80.5,1\n",
         true, {3, 4, 5}, 200, 300, 300, 100, ""},
        {"no rectangle among them",
         "100,300,10.5,-10.5,1\n310,300,90.5,-12.5,1\n300,100,88.5,-80.5,1\n200,200,50.5,-45.5,1\n", false, {0, 0, 0},
         0, 0, 0, 0, "no three of the 4 enabled points are the top-left, top-right and bottom-right corners"},
        {"three points that are no rectangle keep their reason",
         "100,300,10.5,-10.5,1\n310,300,90.5,-12.5,1\n300,100,88.5,-80.5,1\n", false, {0, 0, 0}, 0, 0, 0, 0,
         "line 4: map position 300.000000,100.000000 is not the top-left"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        CLocatorSet locators;
        SPointsChoice choice;
        std::string strProblem;
        const bool bRead = ParsePointsTextChoosingCorners(strHeader + aCase.strRows, locators, choice, strProblem);
        ASSERT_EQ(bRead, aCase.bRead) << strProblem;
        if (!bRead) {
            EXPECT_EQ(strProblem.rfind(aCase.pProblem, 0), 0u) << strProblem;
            EXPECT_EQ(locators.LocatorX(0), CLocatorSet().LocatorX(0)) << "a refusal changes nothing";
            continue;
        }
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(choice.aLines[i], aCase.aLines[i]) << i;
        EXPECT_EQ(locators.Easting(0), aCase.dWest);
        EXPECT_EQ(locators.Northing(0), aCase.dNorth);
        EXPECT_EQ(locators.Easting(1), aCase.dEast);
        EXPECT_EQ(locators.Northing(1), aCase.dNorth);
        EXPECT_EQ(locators.Easting(2), aCase.dEast);
        EXPECT_EQ(locators.Northing(2), aCase.dSouth);
    }
    // Three points give the same locators as the reading the command line uses.
    const std::string strThree = strHeader + aCases[0].strRows;
    CLocatorSet chosen, plain;
    SPointsChoice choice;
    std::string strProblem;
    ASSERT_TRUE(ParsePointsTextChoosingCorners(strThree, chosen, choice, strProblem));
    ASSERT_TRUE(ParsePointsText(strThree, plain, strProblem));
    ExpectSameLocators(plain, chosen);
    EXPECT_EQ(choice.nEnabled, 3);
}

// A hostile file of very many points is refused before the search, naming the line.
TEST(PointsFileTest, ChoosingCornersRefusesAFloodOfPoints)
{
    std::string strText = "mapX,mapY,sourceX,sourceY,enable\n";
    for (int i = 0; i < 2000; ++i)
        strText += std::to_string(i) + "," + std::to_string(i) + ",1.5,-1.5,1\n";
    CLocatorSet locators;
    SPointsChoice choice;
    std::string strProblem;
    EXPECT_FALSE(ParsePointsTextChoosingCorners(strText, locators, choice, strProblem));
    EXPECT_EQ(strProblem, "line 1026: more than 1024 enabled points");
}

}  // namespace
}  // namespace gridmorph

namespace gridmorph {
namespace {

// Found by fuzzing: a northing that six decimals would round (6231250.0000005) was read,
// then written as 6231250.000001, and the file written was refused as no rectangle. What
// is read is written so that it reads back as itself; plain values keep six decimals.
TEST(PointsFileTest, WhatWasReadIsWrittenSoThatItReadsBack)
{
    const std::string strText = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n"
                                "512250.000000,6231250.0000005,313.5,-305.5,1,0,,00\n"
                                "513750.000000,6231250.000000,1663.5,-331.5,1,0,0,0\n"
                                "513750.000000,6230250.000000,1656.5,-1253.5,1,0,0,0\n";
    CLocatorSet read;
    std::string strProblem;
    ASSERT_TRUE(ParsePointsText(strText, read, strProblem)) << strProblem;
    const std::string strWritten = FormatPointsText(read, "");
    EXPECT_NE(strWritten.find("512250.000000,6231250.0000005,313.5,-305.5"), std::string::npos) << strWritten;
    EXPECT_NE(strWritten.find("513750.000000,6231250.000000,1663.5,-331.5"), std::string::npos) << strWritten;
    CLocatorSet again;
    ASSERT_TRUE(ParsePointsText(strWritten, again, strProblem)) << strProblem;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(again.Easting(i), read.Easting(i)) << i;
        EXPECT_EQ(again.Northing(i), read.Northing(i)) << i;
        EXPECT_EQ(again.LocatorX(i), read.LocatorX(i)) << i;
        EXPECT_EQ(again.LocatorY(i), read.LocatorY(i)) << i;
    }
}

}  // namespace
}  // namespace gridmorph
