#pragma once

#include <QLineF>
#include <QRectF>
#include <optional>
#include <vector>

class QPainter;

namespace gridmorph {

class CLocatorSet;
class CViewTransform;
struct SFoundGrid;

// The map grid three locators predict on the scan (View > Predicted Grid): the affine map
// from easting and northing to picture pixels that puts each locator's map position on its
// pixel, and the map distance between neighbouring grid lines of each family.
struct SPredictedGrid {
    // x = m[0] (E - E1) + m[1] (N - N1) + x1, y = m[2] (E - E1) + m[3] (N - N1) + y1, with
    // locator 1 at (x1, y1) and (E1, N1); pixel centres at whole numbers.
    double aToPixel[4] = {0, 0, 0, 0};
    double dX1 = 0, dY1 = 0;
    double dEasting1 = 0, dNorthing1 = 0;
    // Lines of equal easting lie dStepEasting apart, lines of equal northing dStepNorthing;
    // locator 1 is on one of each.
    double dStepEasting = 0, dStepNorthing = 0;

    // The picture point of a map position.
    QPointF ToPixel(double dEasting, double dNorthing) const;
};

// The largest round step (1, 2, 2.5 or 5 times a power of ten) that divides both map
// distances into whole numbers of at most 50 cells; 0 when none does.
double RoundGridStep(double dEastingRange, double dNorthingRange);

// The grid of the three locators and their map positions (locator 2 at locator 3's easting
// and locator 1's northing unless the set is non-rectangular). With a grid found on the scan
// the lines are its spacing apart, rounded so that the locators' map distances hold whole
// cells; without one, RoundGridStep of those distances. None while the map positions or
// the pixels do not make a triangle.
std::optional<SPredictedGrid> PredictGrid(const CLocatorSet& locators, const SFoundGrid* pFound);

// The grid lines that cross rectClip (picture coordinates, pixel centres at whole numbers),
// cut to it: the lines of equal easting first. A family whose lines would lie closer than
// dMinSpacing picture pixels is left out (too dense to show).
std::vector<QLineF> PredictedGridLines(const SPredictedGrid& grid, const QRectF& rectClip, double dMinSpacing);

// Where the grid found on the scan is not where the locators predict it: for each found
// crossing more than dTolerance pixels (and less than half a cell) from the predicted
// one, the two predicted lines through the predicted crossing, half a cell either way,
// cut to rectClip.
std::vector<QLineF> MismatchedGridPieces(const SPredictedGrid& grid, const SFoundGrid& found, const QRectF& rectClip,
                                         double dTolerance = 2.0);

// Draws the lines one screen pixel wide in cyan (it shows on paper and on black) through
// the view's transform, and the mismatched pieces over them in orange.
void DrawPredictedGrid(QPainter& painter, const std::vector<QLineF>& aLines, const CViewTransform& transform,
                       const std::vector<QLineF>& aMismatched = {});

}  // namespace gridmorph
