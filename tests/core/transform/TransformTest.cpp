// The locator checks, the rectifying transform and the resampling into the transformed map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "errors/ErrorText.h"
#include "parallel/Threads.h"
#include "support/TestSupport.h"
#include "transform/GridCrop.h"
#include "transform/LocatorChecks.h"
#include "transform/Resample.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;

CLocatorSet Locators(std::initializer_list<int> aPixels, std::initializer_list<double> aMap, bool bNonRectangular = false)
{
    CLocatorSet locators;
    const int* pPixels = aPixels.begin();  // X1, Y1, X2, Y2, X3, Y3
    const double* pMap = aMap.begin();     // E1, N1, E2, N2, E3, N3
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, pPixels[2 * i], pPixels[2 * i + 1]);
        locators.SetMapPosition(i, pMap[2 * i], pMap[2 * i + 1]);
    }
    locators.SetNonRectangular(bNonRectangular);
    return locators;
}

TEST(LocatorSet, DefaultsAndCorners)
{
    CLocatorSet locators;
    EXPECT_EQ(locators.LocatorX(1), 120);
    EXPECT_EQ(locators.LocatorY(2), 120);
    EXPECT_FALSE(locators.TransformSetUp());
    locators.MoveLocatorsToCorners(640, 480);
    EXPECT_EQ(locators.LocatorX(0), 0);
    EXPECT_EQ(locators.LocatorX(1), 639);
    EXPECT_EQ(locators.LocatorY(1), 0);
    EXPECT_EQ(locators.LocatorX(2), 639);
    EXPECT_EQ(locators.LocatorY(2), 479);
}

TEST(LocatorChecks, TheTableInItsOrder)
{
    const std::initializer_list<int> aGood = {0, 0, 100, 0, 100, 80};
    struct SCase {
        CLocatorSet locators;
        int nFirst;
        int nExpected;
        ELocatorField eFocus;
    };
    const SCase aCases[] = {
        {Locators(aGood, {1000, 5000, 0, 0, 1001, 4000}), 1, 1, ELocatorField::EastingOfPoint3},      // |E3-E1| = 1.0
        {Locators(aGood, {1000, 5000, 0, 0, 1001.0001, 4000}), 1, 0, ELocatorField::None},            // passes
        {Locators(aGood, {1000, 5000, 0, 0, 3000, 4999}), 1, 2, ELocatorField::NorthingOfPoint3},
        {Locators(aGood, {3000, 5000, 0, 0, 1000, 4000}), 1, 3, ELocatorField::EastingOfPoint3},
        {Locators(aGood, {3000, 5000, 0, 0, 1000, 4000}), 4, 0, ELocatorField::None},                 // after Yes
        {Locators(aGood, {1000, 4000, 0, 0, 3000, 5000}), 1, 4, ELocatorField::NorthingOfPoint3},
        {Locators({0, 0, 50, 0, 100, 0}, {1000, 5000, 0, 0, 3000, 4000}), 1, 5, ELocatorField::XOfPoint1},  // one row
        {Locators({0, 0, 50, 1, 100, 0}, {1000, 5000, 0, 0, 3000, 4000}), 1, 5, ELocatorField::XOfPoint1},  // 1 off
        {Locators({0, 0, 50, 2, 100, 0}, {1000, 5000, 0, 0, 3000, 4000}), 1, 0, ELocatorField::None},       // 2 off
        // |dy| = |dx|: measured vertically (on a 45-degree line both ways give the same figure)
        {Locators({0, 0, 5, 4, 10, 10}, {1000, 5000, 0, 0, 3000, 4000}), 1, 5, ELocatorField::XOfPoint1},
        {Locators({0, 0, 4, 6, 10, 10}, {1000, 5000, 0, 0, 3000, 4000}), 1, 0, ELocatorField::None},
        {Locators(aGood, {1000, 5000, 1000.5, 4800, 3000, 4000}, true), 1, 6, ELocatorField::EastingOfPoint2},
        {Locators(aGood, {1000, 5000, 2000, 4000.5, 3000, 4000}, true), 1, 7, ELocatorField::NorthingOfPoint2},
        {Locators(aGood, {1000, 5000, 2000, 4500, 3000, 4000}, true), 1, 8, ELocatorField::EastingOfPoint1},
        {Locators(aGood, {1000, 5000, 3000, 5000, 3000, 4000}, true), 1, 0, ELocatorField::None},
        {Locators(aGood, {1000, 5000, 1000.5, 4800, 3000, 4000}, false), 1, 0, ELocatorField::None},  // 6-8 need non-rect
    };
    for (std::size_t n = 0; n < std::size(aCases); ++n) {
        const SLocatorCheck check = FindFailingCheck(aCases[n].locators, aCases[n].nFirst);
        EXPECT_EQ(check.nCheck, aCases[n].nExpected) << "case " << n;
        EXPECT_EQ(check.eFocus, aCases[n].eFocus) << "case " << n;
    }
    EXPECT_EQ(FindFailingCheck(Locators({0, 0, 50, 0, 100, 0}, {1000, 5000, 0, 0, 3000, 4000})).strMessage,
              "The X and Y pixel positions of the locators are in a straight line.\n\nA transform cannot be made.");
}

class TransformTest : public CPlatformTest {};

TEST_F(TransformTest, QuestionsGoOnOnYesAndStopOnNo)
{
    const CLocatorSet locators = Locators({0, 0, 100, 0, 100, 80}, {3000, 4000, 0, 0, 1000, 5000});
    m_platform.AnswerNextQuestion(EAnswer::Yes);
    m_platform.AnswerNextQuestion(EAnswer::No);
    const SLocatorCheck check = RunLocatorChecks(locators);
    EXPECT_EQ(check.nCheck, 4);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Point 3 easting is usually greater than point 1\n\nContinue?",
                                                        "Point 3 northing is usually less than point 1\n\nContinue?"}));
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::QuestionYesNo);
}

TEST(RectifyingTransform, TheWorkedExample)
{
    SRectifyingTransform transform;
    ASSERT_TRUE(transform.Compute(Locators({0, 0, 399, 0, 399, 299}, {1000, 5000, 0, 0, 3000, 3500})));
    EXPECT_EQ(transform.dCos, 1.0);
    EXPECT_EQ(transform.dSin, 0.0);
    EXPECT_EQ(transform.dShear, 0.0);
    EXPECT_DOUBLE_EQ(transform.dScale, (1500.0 * 399) / (2000.0 * 299));
    EXPECT_DOUBLE_EQ(transform.dResolutionX, 2000.0 / 399);
    EXPECT_DOUBLE_EQ(transform.dV3Scaled, 299.25);
    double dX = 0, dY = 0;
    transform.Inverse(123.0, 77.0, dX, dY);
    double dU = 0, dV = 0;
    transform.Forward(dX, dY, dU, dV);
    EXPECT_NEAR(dU, 123.0, 1e-9);
    EXPECT_NEAR(dV, 77.0, 1e-9);
}

// Every output pixel by the inverse formula as written, for comparison with the fast row.
// Counts the source coordinates that land within 1e-9 of a half-pixel boundary, where
// any change in the order of operations would show.
void LiteralResample(const CDIBWorld& source, const CLocatorSet& locators, CDIBWorld& expected, long& nNearHalf)
{
    SRectifyingTransform t;
    ASSERT_TRUE(t.Compute(locators));
    STransformBounds bounds;
    ASSERT_TRUE(ComputeOutputBounds(t, source.m_nImageWidth, source.m_nImageHeight, bounds));
    const int nBits = source.m_nBitCount;
    ASSERT_TRUE(expected.CreateImage(nBits, int(bounds.Width()), int(bounds.Height()), FILL_BLACK, 0, 0, 0,
                                     source.m_pRGBQuad.get()));
    const int X1 = locators.LocatorX(0), Y1 = locators.LocatorY(0);
    for (int j = 0; j < expected.m_nImageHeight; ++j)
        for (int i = 0; i < expected.m_nImageWidth; ++i) {
            const double b = double(bounds.nV0 + j - Y1) / t.dScale;
            const double a = double(bounds.nU0 + i - X1) - b * t.dShear;
            const double x = a * t.dCos + X1 - b * t.dSin + 0.5;
            const double y = b * t.dCos + Y1 + a * t.dSin + 0.5;
            for (double d : {x, y})
                if (std::fabs(d - std::nearbyint(d)) < 1e-9)
                    ++nNearHalf;
            if (!(x > -1.0 && x < source.m_nImageWidth && y > -1.0 && y < source.m_nImageHeight))
                continue;
            const int sx = int(x), sy = int(y);
            const int nStep = nBits / 8;
            std::memcpy(expected.StorageRow(expected.m_nImageHeight - 1 - j) + i * nStep,
                        source.StorageRow(source.m_nImageHeight - 1 - sy) + sx * nStep, nStep);
        }
}

TEST_F(TransformTest, TheFastResampleIsIdenticalToTheFormulaForEveryPixel)
{
    std::mt19937 random(11);
    std::vector<std::pair<CLocatorSet, int>> aCases = {
        {Locators({0, 0, 99, 0, 99, 49}, {1000, 2049, 0, 0, 1099, 1951}), 24},   // exact half-pixel rows
        {Locators({0, 0, 399, 0, 399, 299}, {1000, 5000, 0, 0, 3000, 3500}), 8},
        {Locators({90, 10, 90, 90, 10, 90}, {0, 800, 0, 0, 800, 0}), 24},        // quarter turn
        {Locators({5, 3, 95, 9, 101, 70}, {500, 900, 0, 0, 1500, 300}), 24},    // rotated and sheared
        {Locators({20, 30, 80, 28, 83, 90}, {0, 1000, 0, 0, 3000, 0}), 8},      // strong vertical scale
    };
    for (int n = 0; n < 16; ++n) {  // random small rotations, shears and scales
        const int x1 = int(random() % 20), y1 = int(random() % 20);
        const int x2 = 200 + int(random() % 90), y2 = y1 - 12 + int(random() % 25);
        const int x3 = x2 - 9 + int(random() % 19), y3 = 180 + int(random() % 70);
        aCases.push_back({Locators({x1, y1, x2, y2, x3, y3}, {1000, 5000, 0, 0, 1000 + 50.0 + random() % 3000, 5000 - 50.0 - random() % 3000}),
                          n % 2 ? 8 : 24});
    }
    long nNearHalf = 0;
    for (const auto& [locators, nBits] : aCases) {
        // 301 columns leave padding at the end of each stored row; 300 columns of 24 bits
        // leave none, so the last byte of the top row is the last byte of the picture.
        for (int nWidth : {301, 300}) {
            SCOPED_TRACE(testing::Message() << locators.LocatorX(1) << "," << locators.LocatorY(1) << " " << nBits
                                            << " bits, " << nWidth << " wide");
            CDIBWorld source;
            test::MakePatternPicture(source, nBits, nWidth, 257);
            CDIBWorld expected;
            LiteralResample(source, locators, expected, nNearHalf);
            // Rows are shared out between threads in bands; one, two and three threads (the
            // last band short) must all give the formula's picture, with the progress
            // stepped once for every output row in order.
            for (int nThreads : {1, 2, 3}) {
                SCOPED_TRACE(testing::Message() << nThreads << " threads");
                CScopedThreadCount threads(nThreads);
                const std::size_t nEventsBefore = m_platform.ProgressEvents().size();
                std::unique_ptr<CDIBWorld> pTransformed;
                ASSERT_EQ(TransformBitmap(source, locators, nBits, pTransformed), ETransformResult::Done);
                EXPECT_TRUE(test::SamePicture(expected, *pTransformed));
                const auto& aEvents = m_platform.ProgressEvents();
                ASSERT_EQ(aEvents.size() - nEventsBefore, std::size_t(expected.m_nImageHeight) + 2);
                for (int j = 0; j < expected.m_nImageHeight; ++j) {
                    const auto& event = aEvents[nEventsBefore + 1 + std::size_t(j)];
                    ASSERT_EQ(event.eType, CScriptedPlatform::SProgressEvent::Set);
                    ASSERT_EQ(event.nPosition, j);
                }
            }
        }
    }
    // The scale of 2 puts every odd output row exactly on a half pixel, and the quarter
    // turn and the shears come close many times over.
    EXPECT_GT(nNearHalf, 1000);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(TransformTest, WorkedExamplesGiveTheirSizesEdgesAndPixels)
{
    CDIBWorld source;
    test::MakePatternPicture(source, 24, 100, 50);
    std::unique_ptr<CDIBWorld> pOut;

    // Axis-aligned with equal scales: a pixel-for-pixel copy.
    ASSERT_EQ(TransformBitmap(source, Locators({0, 0, 99, 0, 99, 49}, {1000, 2049, 0, 0, 1099, 2000}), 24, pOut),
              ETransformResult::Done);
    EXPECT_TRUE(test::SamePicture(source, *pOut));
    EXPECT_EQ(pOut->GetWest(), 1000);
    EXPECT_EQ(pOut->GetEast(), 1099);
    EXPECT_EQ(pOut->GetNorth(), 2049);
    EXPECT_EQ(pOut->GetSouth(), 2000);

    // A vertical scale of 2: 99 rows, row j from source row trunc(j / 2 + 0.5).
    ASSERT_EQ(TransformBitmap(source, Locators({0, 0, 99, 0, 99, 49}, {1000, 2049, 0, 0, 1099, 1951}), 24, pOut),
              ETransformResult::Done);
    ASSERT_EQ(pOut->m_nImageWidth, 100);
    ASSERT_EQ(pOut->m_nImageHeight, 99);
    EXPECT_EQ(pOut->GetSouth(), 1951);
    for (int j = 0; j < 99; ++j)
        ASSERT_EQ(std::memcmp(pOut->Bitmap()->PictureRow(j), source.Bitmap()->PictureRow(int(j / 2.0 + 0.5)), 300), 0) << j;

    // The 400 x 300 example: q = 1.000836..., 301 rows.
    CDIBWorld wide;
    test::MakePatternPicture(wide, 8, 400, 300);
    ASSERT_EQ(TransformBitmap(wide, Locators({0, 0, 399, 0, 399, 299}, {1000, 5000, 0, 0, 3000, 3500}), 8, pOut),
              ETransformResult::Done);
    EXPECT_EQ(pOut->m_nImageWidth, 400);
    EXPECT_EQ(pOut->m_nImageHeight, 301);
    EXPECT_EQ(pOut->GetWest(), 1000);
    EXPECT_EQ(pOut->GetNorth(), 5000);
    EXPECT_DOUBLE_EQ(pOut->GetEast(), 3000);
    EXPECT_NEAR(pOut->GetSouth(), 5000 - 300 * 1500 / 299.25, 1e-9);
    EXPECT_EQ(std::memcmp(pOut->m_pRGBQuad.get(), wide.m_pRGBQuad.get(), 1024), 0);  // the source's table

    // Map north to the image's right: a quarter turn anticlockwise.
    CDIBWorld square;
    test::MakePatternPicture(square, 24, 100, 100);
    ASSERT_EQ(TransformBitmap(square, Locators({90, 10, 90, 90, 10, 90}, {0, 800, 0, 0, 800, 0}), 24, pOut),
              ETransformResult::Done);
    ASSERT_EQ(pOut->m_nImageWidth, 100);
    ASSERT_EQ(pOut->m_nImageHeight, 100);
    EXPECT_EQ(pOut->GetWest(), -100);
    EXPECT_EQ(pOut->GetNorth(), 890);
    EXPECT_EQ(pOut->GetEast(), 890);
    EXPECT_EQ(pOut->GetSouth(), -100);
    for (int j = 0; j < 100; j += 7)
        for (int i = 0; i < 100; i += 3)
            ASSERT_EQ(std::memcmp(pOut->Bitmap()->PictureRow(j) + 3 * i, square.Bitmap()->PictureRow(i) + 3 * (99 - j), 3), 0)
                << i << "," << j;

    // Progress: over the output rows, stepped once per row.
    const auto& aEvents = m_platform.ProgressEvents();
    EXPECT_EQ(aEvents[aEvents.size() - 102].strText, "Transforming Bitmap");
    EXPECT_EQ(aEvents[aEvents.size() - 102].nUpper, 100);
    EXPECT_EQ(aEvents.back().eType, CScriptedPlatform::SProgressEvent::End);
}

TEST_F(TransformTest, AClockwiseTurnLeavesBlackCorners)
{
    // A colour table whose entry 0 is white and whose nearest to black is entry 77.
    SRGBQuad aFarFromBlack[256];
    for (int i = 0; i < 256; ++i)
        aFarFromBlack[i] = SRGBQuad{255, std::uint8_t(255 - i / 4), std::uint8_t(128 + i / 2), 0};
    aFarFromBlack[0] = SRGBQuad{255, 255, 255, 0};
    aFarFromBlack[77] = SRGBQuad{1, 2, 3, 0};
    struct SCase {
        int nBits;
        const SRGBQuad* pTable;  // 8-bit: the source's colour table (null: the default cube)
        int nBlackIndex;         // 8-bit: the entry the corners must hold
    };
    const SCase aCases[] = {{24, nullptr, 0}, {8, nullptr, 0}, {8, aFarFromBlack, 77}};
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(testing::Message() << aCase.nBits << "-bit, black at " << aCase.nBlackIndex);
        CDIBWorld source;
        ASSERT_TRUE(source.CreateImage(aCase.nBits, 60, 40, FILL_WHITE, 0, 0, 0, aCase.pTable));
        std::unique_ptr<CDIBWorld> pOut;
        ASSERT_EQ(TransformBitmap(source, Locators({0, 0, 59, 4, 55, 39}, {0, 100, 0, 0, 100, 0}), aCase.nBits, pOut),
                  ETransformResult::Done);
        EXPECT_GT(pOut->m_nImageHeight, 40);
        const std::uint8_t* pCorner = pOut->Bitmap()->PictureRow(0);
        if (aCase.nBits == 24) {
            EXPECT_EQ(pCorner[0] | pCorner[1] | pCorner[2], 0);
        } else {
            EXPECT_EQ(pCorner[0], aCase.nBlackIndex);
            EXPECT_EQ(pCorner[0], pOut->m_pPalette->GetNearestPaletteIndex(0, 0, 0));
        }
        const std::uint8_t* pMiddle = pOut->Bitmap()->PictureRow(pOut->m_nImageHeight / 2) + (pOut->m_nImageWidth / 2) * (aCase.nBits / 8);
        EXPECT_EQ(aCase.nBits == 24 ? pMiddle[0] : pOut->m_pRGBQuad[pMiddle[0]].rgbRed, 255);
    }
}

TEST_F(TransformTest, NonRectangularReductionBuildsTheTopRightCorner)
{
    CDIBWorld source;
    test::MakePatternPicture(source, 24, 230, 240);
    struct SCase {
        const char* pName;
        CLocatorSet locators;
        ETransformResult eResult;
        int nX2, nY2;          // Done: the constructed top-right corner
        const char* pMessage;  // otherwise: the message shown
    };
    const SCase aCases[] = {
        // t = 1: point 4 is locator 2, and locator 2 stays where it is.
        {"corner in place", Locators({10, 10, 200, 30, 210, 220}, {0, 2000, 1000, 2000, 1000, 1000}, true),
         ETransformResult::Done, 200, 30, nullptr},
        // t = 1000 / 1200: point 4 at (201.67, 70) with easting 1416.67; t2 = 0.70588.
        {"corner built", Locators({10, 10, 200, 40, 210, 220}, {0, 2000, 1500, 2200, 1000, 1000}, true),
         ETransformResult::Done, 145, 52, nullptr},
        {"points in line", Locators({10, 10, 200, 30, 390, 50}, {0, 2000, 1000, 1500, 2000, 1000}, true),
         ETransformResult::PointsInLine, 0, 0, "Error : Points are in a straight line"},
        // Point 4 lies away from locator 1 but at its easting.
        {"map points in line", Locators({10, 10, 200, 30, 210, 220}, {0, 2000, 0, 2000, 1000, 1000}, true),
         ETransformResult::MapPointsInLine, 0, 0, "Error : Eastings and Northings form a straight line."},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        const CLocatorSet before = aCase.locators;
        std::unique_ptr<CDIBWorld> pOut;
        ASSERT_EQ(TransformBitmap(source, Locators({0, 0, 229, 0, 229, 239}, {0, 239, 0, 0, 229, 0}), 24, pOut),
                  ETransformResult::Done);
        const CDIBWorld* pPrevious = pOut.get();
        m_platform.ClearRecord();
        EXPECT_EQ(TransformNonRectangular(source, aCase.locators, 24, pOut), aCase.eResult);
        EXPECT_EQ(std::memcmp(&before, &aCase.locators, sizeof before), 0);  // the user's locators stay
        if (aCase.eResult != ETransformResult::Done) {
            EXPECT_EQ(MessageTexts(), std::vector<std::string>{aCase.pMessage});
            EXPECT_EQ(pOut.get(), pPrevious);
            continue;
        }
        // The same map as the rectangular transform with the constructed corner as locator 2.
        CLocatorSet rectangular = aCase.locators;
        rectangular.SetLocator(1, aCase.nX2, aCase.nY2);
        rectangular.SetMapPosition(1, rectangular.Easting(2), rectangular.Northing(0));
        std::unique_ptr<CDIBWorld> pRectangular;
        ASSERT_EQ(TransformBitmap(source, rectangular, 24, pRectangular), ETransformResult::Done);
        EXPECT_TRUE(test::SamePicture(*pRectangular, *pOut));
        EXPECT_EQ(pOut->GetWest(), pRectangular->GetWest());
        EXPECT_EQ(pOut->GetSouth(), pRectangular->GetSouth());
    }
}

TEST_F(TransformTest, DegenerateLocatorsAndHugeOutputsFailCleanlyAndKeepThePreviousMap)
{
    CDIBWorld source;
    test::MakePatternPicture(source, 24, 50, 50);
    std::unique_ptr<CDIBWorld> pOut;
    ASSERT_EQ(TransformBitmap(source, Locators({0, 0, 49, 0, 49, 49}, {0, 100, 0, 0, 100, 0}), 24, pOut),
              ETransformResult::Done);
    const CDIBWorld* pPrevious = pOut.get();

    // Locator 2 dragged onto locator 1 after the set-up: the in-line check stops it.
    EXPECT_EQ(TransformBitmap(source, Locators({5, 5, 5, 5, 49, 49}, {0, 100, 0, 0, 100, 0}), 24, pOut),
              ETransformResult::PixelsInLine);
    EXPECT_EQ(pOut.get(), pPrevious);
    // Map positions that give no scale.
    EXPECT_EQ(TransformBitmap(source, Locators({0, 0, 49, 0, 49, 49}, {0, 100, 0, 0, 0, 0}), 24, pOut),
              ETransformResult::NoTransform);
    // A huge vertical scale: far more rows than memory holds.
    m_platform.ClearRecord();
    ETransformResult eHuge = ETransformResult::Done;
    {
        const test::CScopedEnvironment limit("GRIDMORPH_MEMORY_LIMIT_MB", "64");
        eHuge = TransformBitmap(source, Locators({0, 0, 49, 0, 49, 49}, {0, 1e7, 0, 0, 1, 0}), 24, pOut);
    }
    EXPECT_EQ(eHuge, ETransformResult::CreateFailed);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts().front().rfind("Failure creating bitmap, lack of memory", 0), 0u) << MessageTexts().front();
    EXPECT_EQ(pOut.get(), pPrevious);
    // A 32-bit map is refused before any work.
    CDIBWorld alpha;
    test::MakePatternPicture(alpha, 32, 10, 10);
    EXPECT_EQ(TransformBitmap(alpha, Locators({0, 0, 9, 0, 9, 9}, {0, 10, 0, 0, 10, 0}), 32, pOut),
              ETransformResult::UnsupportedDepth);
    EXPECT_EQ(pOut.get(), pPrevious);
}

// Cutting the grid rectangle out of the whole rectified map gives the clipped
// rectification: the same pixels, edges and no-data value, for turns either way and a
// non-rectangular grid.
TEST_F(TransformTest, GridCropOfTheWholeMapIsTheClippedMap)
{
    const struct {
        int nBits;
        ENoData eNoData;
        CLocatorSet locators;
    } aCases[] = {
        {24, ENoData::Black, Locators({12, 10, 225, 18, 220, 168}, {1000, 2000, 1200, 2000, 1200, 1850})},
        {8, ENoData::Black, Locators({20, 30, 200, 12, 210, 150}, {500, 900, 680, 900, 680, 760})},
        {24, ENoData::Transparent, Locators({5, 5, 230, 9, 226, 170}, {0, 400, 450, 400, 450, 80})},
        {8, ENoData::Value, Locators({12, 10, 225, 18, 220, 168}, {1000, 2000, 1200, 2000, 1200, 1850})},
        // Point 2 halfway along the top edge: the corner is built at (228, 18).
        {24, ENoData::Black, Locators({12, 10, 120, 14, 220, 168}, {1000, 2000, 1100, 2000, 1200, 1850}, true)},
    };
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(testing::Message() << aCase.nBits << "-bit, outside " << int(aCase.eNoData));
        CDIBWorld source;
        test::MakePatternPicture(source, aCase.nBits, 240, 180);
        STransformOptions options;
        options.eNoData = aCase.eNoData;
        options.nNoDataRed = 200, options.nNoDataGreen = 230, options.nNoDataBlue = 255;
        const auto Transform = aCase.locators.NonRectangular() ? TransformNonRectangular : TransformBitmap;
        std::unique_ptr<CDIBWorld> pWhole, pClipped;
        ASSERT_EQ(Transform(source, aCase.locators, aCase.nBits, pWhole, options, nullptr), ETransformResult::Done);
        options.eClip = EClip::Grid;
        ASSERT_EQ(Transform(source, aCase.locators, aCase.nBits, pClipped, options, nullptr), ETransformResult::Done);
        SGridCrop crop;
        ASSERT_TRUE(FindGridCrop(aCase.locators, 240, 180, crop));
        EXPECT_TRUE(IsWholeRectifiedMap(*pWhole, crop));
        EXPECT_FALSE(IsWholeRectifiedMap(*pClipped, crop));
        std::string strError;
        const std::unique_ptr<CDIBWorld> pKept = CropToGrid(*pWhole, crop, strError);
        ASSERT_TRUE(pKept) << strError;
        EXPECT_LT(pKept->m_nImageWidth, pWhole->m_nImageWidth);
        EXPECT_TRUE(test::SamePicture(*pClipped, *pKept));
        EXPECT_EQ(pKept->GetWest(), pClipped->GetWest());
        EXPECT_EQ(pKept->GetNorth(), pClipped->GetNorth());
        EXPECT_EQ(pKept->GetEast(), pClipped->GetEast());
        EXPECT_EQ(pKept->GetSouth(), pClipped->GetSouth());
        const SNoDataValue& kept = pKept->Bitmap()->m_noData;
        const SNoDataValue& clipped = pClipped->Bitmap()->m_noData;
        EXPECT_EQ(kept.bSet, clipped.bSet);
        EXPECT_EQ(kept.bTransparent, clipped.bTransparent);
        EXPECT_EQ(kept.nIndex, clipped.nIndex);
    }
    // Three points in a line give no rectangle.
    SGridCrop crop;
    EXPECT_FALSE(FindGridCrop(Locators({10, 10, 50, 50, 90, 90}, {1000, 2000, 1200, 2000, 1200, 1850}), 240, 180, crop));
    EXPECT_FALSE(FindGridCrop(Locators({12, 10, 120, 10, 228, 10}, {1000, 2000, 1100, 2000, 1200, 1850}, true), 240,
                              180, crop));
}

}  // namespace
}  // namespace gridmorph
