#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/DIBImage.h"
#include "transform/LocatorSet.h"

namespace gridmorph {

// A grid crossing on the scan: whole picture pixels from the top-left pixel, and the
// sub-pixel intersection of the two fitted lines it was rounded from.
struct SGridCrossing {
    int nX = 0;
    int nY = 0;
    double dX = 0.0;
    double dY = 0.0;
};

// The map grid found on a scan. Crossing (i, j) lies on vertical line i (west to east)
// and horizontal line j (north to south); only crossings whose two lines were fitted at
// full resolution are marked found.
struct SFoundGrid {
    bool bFound = false;
    std::string strWhy;         // why no grid was found

    int nColumns = 0;           // vertical lines
    int nRows = 0;              // horizontal lines
    std::vector<char> aFound;   // nColumns * nRows
    std::vector<double> aX, aY; // the fitted crossings, sub-pixel
    // The chosen rectangle: columns nLeft..nRight, rows nTop..nBottom.
    int nLeft = 0, nRight = 0, nTop = 0, nBottom = 0;
    SGridCrossing aLocators[3];  // top-left, top-right, bottom-right

    double dSpacingX = 0.0;      // pixels between vertical lines, along a horizontal line
    double dSpacingY = 0.0;      // pixels between horizontal lines
    double dRotationDegrees = 0.0;  // of the horizontal lines, clockwise on the screen
    double dShearDegrees = 0.0;     // how far the lines are from square
    double dResidualPixels = 0.0;   // RMS distance of the crossings from one affine grid

    // Map coordinates from the frame labels (both present or neither).
    bool bLabelsRead = false;
    double dEasting[2] = {0, 0};    // locator 1, locator 3
    double dNorthing[2] = {0, 0};
    double dGridMetres = 0.0;
    std::string strLabelNote;       // why the labels were not used
    // The affine grid through the crossings: x = m[0] i + m[1] j + m[2], y = m[3] i + m[4] j + m[5].
    double aModel[6] = {0, 0, 0, 0, 0, 0};

    bool Found(int i, int j) const { return aFound[std::size_t(j) * nColumns + i] != 0; }
    double X(int i, int j) const { return aX[std::size_t(j) * nColumns + i]; }
    double Y(int i, int j) const { return aY[std::size_t(j) * nColumns + i]; }
};

struct SFindGridOptions {
    bool bReadLabels = true;
};

// Finds the map grid on a scan (8-bit palette or grey, 24 or 32 bits): the two families
// of long straight dark lines within 16 degrees of the picture's axes, their crossings to
// a pixel, and locators 1 to 3 at the corners of the largest rectangle whose corners were
// all found. With bReadLabels the frame's coordinate labels give the map positions of
// locators 1 and 3 when they are read with confidence and agree with each other.
SFoundGrid FindGrid(const CDIBImage& picture, const SFindGridOptions& options = {});

// The grid crossing nearest to (nX, nY) within nRadius pixels: the intersection of the two
// dark lines through that area, each fitted over a window of its length, rounded to the
// nearest pixel. None when no two lines cross there.
std::optional<SGridCrossing> SnapToGridCrossing(const CDIBImage& picture, int nX, int nY, int nRadius);

// The two lines that cross there, as fitted: both pass through the sub-pixel crossing,
// the near-vertical one as x = dX + dSlopeVertical (y - dY), the near-horizontal one as
// y = dY + dSlopeHorizontal (x - dX) (pixel centres at whole numbers).
struct SCrossingLines {
    SGridCrossing crossing;
    double dSlopeVertical = 0.0;
    double dSlopeHorizontal = 0.0;
};
// The fit SnapToGridCrossing rounds, with its lines.
std::optional<SCrossingLines> FitCrossingLines(const CDIBImage& picture, int nX, int nY, int nRadius);

// How well three locators agree with the grid on the scan: the grid they predict (their
// rectangle divided into the cells of the found grid) against the crossings found inside
// the rectangle.
struct SGridCheck {
    bool bChecked = false;        // a grid was found and the locators give a rectangle of its cells
    double dMismatchPixels = 0.0; // the largest distance of a found crossing from the predicted one
    double dMismatchMetres = 0.0;
    int nLocator = 0;             // 1..3: the locator that is probably on the wrong line
    std::string strMessage;       // "Locator N is probably on the wrong grid line" with the figures
    bool Suspicious() const { return bChecked && dMismatchPixels > 2.0; }
};
SGridCheck CheckLocatorsAgainstGrid(const SFoundGrid& grid, const CLocatorSet& locators);

}  // namespace gridmorph
