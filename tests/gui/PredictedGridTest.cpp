// View > Predicted Grid without painting: the round step the lines are drawn at, the lines
// three locators predict on a turned and scaled sheet (checked against the sheet's own
// rotation, not the solve), the found grid's spacing, and the sets that predict nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "grid/GridFinder.h"
#include "transform/LocatorSet.h"
#include "view/PredictedGrid.h"

namespace gridmorph {
namespace {

TEST(PredictedGridTest, RoundStepIsTheLargestThatDividesBothDistances)
{
    const struct {
        double dEasting, dNorthing, dStep;
    } aCases[] = {
        {1500, 1000, 500}, {4000, 3000, 1000}, {2500, 5000, 2500}, {750, 1000, 250},
        {1250, -1000, 250}, {7.5, 5, 2.5},  {36000, 24000, 2000}, {0.3, 0.2, 0.1},
        {1001, 999, 0},     // only 1 divides both, into more than 50 cells
        {100000, 50, 0},    // 50 is a step of 100000 only as 2000 cells
        {0, 0, 0},
    };
    for (const auto& c : aCases)
        EXPECT_NEAR(RoundGridStep(c.dEasting, c.dNorthing), c.dStep, 1e-12) << c.dEasting << " x " << c.dNorthing;
}

// A sheet turned by dDegrees clockwise on the screen at dScale pixels a metre, with
// locator 1 at (x1, y1) and its grid rectangle nColumns x nRows cells of dCell metres.
struct SSheet {
    double dDegrees, dScale, x1, y1;
    int nColumns, nRows;
    double dCell;
    // The pixel of a map position (easting east, northing up on the sheet).
    void Pixel(double dEast, double dNorth, double& x, double& y) const
    {
        const double a = dDegrees * 3.14159265358979323846 / 180, u = dEast * dScale, v = -dNorth * dScale;
        x = x1 + u * std::cos(a) - v * std::sin(a);
        y = y1 + u * std::sin(a) + v * std::cos(a);
    }
    CLocatorSet Locators() const
    {
        CLocatorSet locators;
        const double aEast[3] = {0, nColumns * dCell, nColumns * dCell}, aNorth[3] = {0, 0, -nRows * dCell};
        for (int k = 0; k < 3; ++k) {
            double x = 0, y = 0;
            Pixel(aEast[k], aNorth[k], x, y);
            locators.SetLocator(k, int(std::lround(x)), int(std::lround(y)));
            locators.SetMapPosition(k, 412000 + aEast[k], 5287000 + aNorth[k]);
        }
        return locators;
    }
};

// How far a line is from the sheet's line of equal easting (bEasting) or northing through
// map offset dOffset, and whether it runs along it: the largest distance of its ends.
double DistanceFromSheetLine(const SSheet& sheet, const QLineF& line, bool bEasting, double dOffset)
{
    double xa = 0, ya = 0, xb = 0, yb = 0;
    if (bEasting)
        sheet.Pixel(dOffset, 0, xa, ya), sheet.Pixel(dOffset, 1000, xb, yb);
    else
        sheet.Pixel(0, dOffset, xa, ya), sheet.Pixel(1000, dOffset, xb, yb);
    const double dx = xb - xa, dy = yb - ya, dLength = std::hypot(dx, dy);
    double dWorst = 0;
    for (const QPointF& p : {line.p1(), line.p2()})
        dWorst = std::max(dWorst, std::fabs((p.x() - xa) * dy - (p.y() - ya) * dx) / dLength);
    return dWorst;
}

TEST(PredictedGridTest, LinesLieOnTheSheetsGridAndAreCutToTheRectangle)
{
    // Locators on whole pixels: lines far from them are off by the rounding carried along
    // (a pixel or two), a wrong line by a whole cell (80 pixels or more).
    const SSheet aSheets[] = {
        {0.0, 0.5, 100, 50, 3, 2, 500},   // north up: 500 m steps every 250 pixels
        {3.0, 0.8, 150, 120, 5, 4, 100},  // turned, 100 m cells (the round step of 500 x 400)
        {-12.0, 0.25, 400, 90, 6, 3, 1000},
    };
    const QRectF rectClip(-0.5, -0.5, 1200, 900);
    for (const SSheet& sheet : aSheets) {
        const std::optional<SPredictedGrid> grid = PredictGrid(sheet.Locators(), nullptr);
        ASSERT_TRUE(grid.has_value()) << sheet.dDegrees;
        EXPECT_NEAR(grid->dStepEasting, sheet.dCell, 1e-9);
        EXPECT_NEAR(grid->dStepNorthing, sheet.dCell, 1e-9);
        const std::vector<QLineF> aLines = PredictedGridLines(*grid, rectClip, 4);
        // Every sheet line that crosses the rectangle, each family by itself, in order.
        int nEasting = 0, nNorthing = 0;
        for (const bool bEasting : {true, false})
            for (int k = -40; k <= 40; ++k) {
                double xa = 0, ya = 0, xb = 0, yb = 0;
                const double d = k * sheet.dCell;
                if (bEasting)
                    sheet.Pixel(d, -1e5, xa, ya), sheet.Pixel(d, 1e5, xb, yb);
                else
                    sheet.Pixel(-1e5, d, xa, ya), sheet.Pixel(1e5, d, xb, yb);
                // Crosses the rectangle when the corners are not all on one side.
                int nSides = 0;
                for (const QPointF& c : {rectClip.topLeft(), rectClip.topRight(), rectClip.bottomLeft(), rectClip.bottomRight()})
                    nSides += ((c.x() - xa) * (yb - ya) - (c.y() - ya) * (xb - xa)) > 0 ? 1 : -1;
                if (std::abs(nSides) == 4)
                    continue;
                const std::size_t n = std::size_t(nEasting + nNorthing);
                ASSERT_LT(n, aLines.size()) << sheet.dDegrees << (bEasting ? " easting " : " northing ") << k;
                EXPECT_LT(DistanceFromSheetLine(sheet, aLines[n], bEasting, d), 2.0)
                    << sheet.dDegrees << (bEasting ? " easting " : " northing ") << k;
                for (const QPointF& p : {aLines[n].p1(), aLines[n].p2()}) {
                    EXPECT_TRUE(rectClip.adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(p)) << p.x() << "," << p.y();
                }
                // From one edge of the rectangle to another.
                EXPECT_GT(aLines[n].length(), 100) << sheet.dDegrees;
                ++(bEasting ? nEasting : nNorthing);
            }
        EXPECT_EQ(aLines.size(), std::size_t(nEasting + nNorthing)) << sheet.dDegrees;
        EXPECT_GE(nEasting, 3);
        EXPECT_GE(nNorthing, 3);
    }
}

TEST(PredictedGridTest, FoundGridSpacingSplitsTheRectangleIntoItsCells)
{
    // 500 m steps every 250 pixels from the map distances; a grid found with lines every
    // 125 and 62.5 pixels makes them 250 m and 125 m.
    const SSheet sheet{0.0, 0.5, 100, 50, 3, 2, 500};
    SFoundGrid found;
    found.bFound = true;
    found.dSpacingX = 124.6, found.dSpacingY = 62.7;
    const std::optional<SPredictedGrid> grid = PredictGrid(sheet.Locators(), &found);
    ASSERT_TRUE(grid.has_value());
    EXPECT_DOUBLE_EQ(grid->dStepEasting, 250);
    EXPECT_DOUBLE_EQ(grid->dStepNorthing, 125);
    // Within 1000 x 700: lines of equal easting at x = 100, 225, ..., 975 (8) and of equal
    // northing at y = 50, 112.5, ..., 675 (11); at a minimum spacing of 100 pixels the
    // northing lines are left out.
    const QRectF rectClip(0, 0, 1000, 700);
    const std::vector<QLineF> aAll = PredictedGridLines(*grid, rectClip, 4);
    const std::vector<QLineF> aSparse = PredictedGridLines(*grid, rectClip, 100);
    EXPECT_EQ(aAll.size(), 8u + 11u);
    EXPECT_EQ(aSparse.size(), 8u);
}

TEST(PredictedGridTest, CrossingsFoundOffThePredictionAreMarked)
{
    // 250 m cells, 125 pixels: crossings found at x = 100 + 125 i, y = 50 + 125 j, but
    // crossing (2, 1) moved by the case's offset.
    const SSheet sheet{0.0, 0.5, 100, 50, 3, 2, 500};
    const struct {
        double dx, dy;
        bool bMarked;
    } aCases[] = {{4, -3, true}, {-2.5, 0, true}, {1.5, 1, false}, {0, 0, false}};
    for (const auto& c : aCases) {
        SFoundGrid found;
        found.bFound = true;
        found.nColumns = 8, found.nRows = 6;
        found.dSpacingX = found.dSpacingY = 125;
        found.aFound.assign(48, 1);
        for (int j = 0; j < found.nRows; ++j)
            for (int i = 0; i < found.nColumns; ++i) {
                found.aX.push_back(100 + 125.0 * i + (i == 2 && j == 1 ? c.dx : 0));
                found.aY.push_back(50 + 125.0 * j + (i == 2 && j == 1 ? c.dy : 0));
            }
        const std::optional<SPredictedGrid> grid = PredictGrid(sheet.Locators(), &found);
        ASSERT_TRUE(grid.has_value());
        const std::vector<QLineF> aPieces = MismatchedGridPieces(*grid, found, QRectF(-0.5, -0.5, 1200, 900));
        if (!c.bMarked) {
            EXPECT_TRUE(aPieces.empty()) << c.dx << "," << c.dy;
            continue;
        }
        // The two predicted lines through (350, 175), a cell long, centred on it.
        ASSERT_EQ(aPieces.size(), 2u) << c.dx << "," << c.dy;
        for (const QLineF& piece : aPieces) {
            EXPECT_NEAR(piece.center().x(), 350, 1e-6);
            EXPECT_NEAR(piece.center().y(), 175, 1e-6);
            EXPECT_NEAR(piece.length(), 125, 1e-6);
        }
        EXPECT_NEAR(std::fabs(aPieces[0].dx() * aPieces[1].dx() + aPieces[0].dy() * aPieces[1].dy()), 0, 1e-6);
        // Out of the rectangle asked for, nothing.
        EXPECT_TRUE(MismatchedGridPieces(*grid, found, QRectF(600, 500, 300, 300)).empty());
    }
}

TEST(PredictedGridTest, NoGridWithoutATriangleOfMapPositionsAndPixels)
{
    CLocatorSet unset;  // map positions all 0
    EXPECT_FALSE(PredictGrid(unset, nullptr).has_value());
    CLocatorSet inLine = SSheet{0.0, 0.5, 100, 50, 3, 2, 500}.Locators();
    inLine.SetLocator(2, inLine.LocatorX(1), inLine.LocatorY(1));  // 3 on 2's pixel
    EXPECT_FALSE(PredictGrid(inLine, nullptr).has_value());
    CLocatorSet sameEasting = SSheet{0.0, 0.5, 100, 50, 3, 2, 500}.Locators();
    sameEasting.SetEasting(2, sameEasting.Easting(0));
    EXPECT_FALSE(PredictGrid(sameEasting, nullptr).has_value());
}

}  // namespace
}  // namespace gridmorph
