#include "grid/GridFrame.h"

#include <algorithm>
#include <cmath>

namespace gridmorph {

bool FindFrameCells(const SFoundGrid& grid, const CLocatorSet& locators, SFrameCells& cells, std::string& strProblem)
{
    if (!grid.bFound) {
        strProblem = "--clip frame needs the map grid, and none was found on the scan" +
                     (grid.strWhy.empty() ? std::string() : " (" + grid.strWhy + ")");
        return false;
    }
    // The grid position (i, j) of each locator through the inverse of the affine model.
    const double* m = grid.aModel;
    const double dDeterminant = m[0] * m[4] - m[1] * m[3];
    if (!(std::fabs(dDeterminant) > 0)) {
        strProblem = "--clip frame: the grid found on the scan has no usable model";
        return false;
    }
    int aI[3] = {0, 0, 0}, aJ[3] = {0, 0, 0};
    for (int n = 0; n < 3; ++n) {
        const double dx = locators.LocatorX(n) - m[2], dy = locators.LocatorY(n) - m[5];
        const double i = (m[4] * dx - m[1] * dy) / dDeterminant, j = (m[0] * dy - m[3] * dx) / dDeterminant;
        aI[n] = static_cast<int>(std::lround(i));
        aJ[n] = static_cast<int>(std::lround(j));
        if (std::fabs(i - aI[n]) > 0.25 || std::fabs(j - aJ[n]) > 0.25) {
            strProblem = "--clip frame: locator " + std::to_string(n + 1) +
                         " is not on a crossing of the grid found on the scan";
            return false;
        }
    }
    if (aJ[0] != aJ[1] || aI[1] != aI[2] || aI[1] <= aI[0] || aJ[2] <= aJ[1]) {
        strProblem = "--clip frame: the locators are not the top-left, top-right and bottom-right corners of a "
                     "rectangle of the grid found on the scan";
        return false;
    }
    // The outermost lines that carry a found crossing; lines dropped as off the grid (a
    // frame, a margin line) carry none.
    int nFirstColumn = grid.nColumns, nLastColumn = -1, nFirstRow = grid.nRows, nLastRow = -1;
    for (int j = 0; j < grid.nRows; ++j)
        for (int i = 0; i < grid.nColumns; ++i)
            if (grid.Found(i, j)) {
                nFirstColumn = std::min(nFirstColumn, i);
                nLastColumn = std::max(nLastColumn, i);
                nFirstRow = std::min(nFirstRow, j);
                nLastRow = std::max(nLastRow, j);
            }
    cells.nAcross = aI[1] - aI[0];
    cells.nDown = aJ[2] - aJ[1];
    cells.nWest = std::max(0, aI[0] - nFirstColumn);
    cells.nEast = std::max(0, nLastColumn - aI[1]);
    cells.nNorth = std::max(0, aJ[0] - nFirstRow);
    cells.nSouth = std::max(0, nLastRow - aJ[2]);
    return true;
}

bool FindFrameCells(const CDIBImage& scan, const CLocatorSet& locators, SFrameCells& cells, std::string& strProblem)
{
    SFindGridOptions options;
    options.bReadLabels = false;
    return FindFrameCells(FindGrid(scan, options), locators, cells, strProblem);
}

}  // namespace gridmorph
