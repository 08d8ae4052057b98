#include "grid/AutoLocators.h"

#include <cmath>
#include <sstream>

#include "grid/GridFinder.h"
#include "io/Numbers.h"

namespace gridmorph {
namespace {

// "E,N" as two finite numbers.
bool ParseMapPair(const std::string& strText, double& dEasting, double& dNorthing)
{
    std::stringstream stream(strText);
    std::string strPiece;
    double aValues[2] = {};
    int n = 0;
    while (std::getline(stream, strPiece, ',')) {
        const char* pEnd = nullptr;
        const double d = ScanNumber(strPiece.c_str(), &pEnd);
        if (n >= 2 || strPiece.empty() || *pEnd != '\0' || !std::isfinite(d))
            return false;
        aValues[n++] = d;
    }
    dEasting = aValues[0], dNorthing = aValues[1];
    return n == 2;
}

}  // namespace

std::string MapValueText(double d) { return FormatFixed(d, d == std::floor(d) ? 0 : 3); }

bool FindAutoLocators(const CDIBImage& source, const std::string* pP1Map, const std::string* pP3Map,
                      CLocatorSet& locators, std::string& strProblem, std::string& strCorners)
{
    strCorners.clear();
    double aGiven[4] = {};
    if ((pP1Map != nullptr) != (pP3Map != nullptr)) {
        strProblem = "--auto takes the map positions of both --p1 and --p3 (E,N) or of neither";
        return false;
    }
    if (pP1Map && (!ParseMapPair(*pP1Map, aGiven[0], aGiven[1]) || !ParseMapPair(*pP3Map, aGiven[2], aGiven[3]))) {
        strProblem = "with --auto, --p1 and --p3 take the map position E,N";
        return false;
    }
    const SFoundGrid grid = FindGrid(source);
    if (!grid.bFound) {
        strProblem = "--auto: " + grid.strWhy;
        return false;
    }
    if (grid.dResidualPixels > 1.5) {
        strProblem = "--auto: the grid's crossings lie " + FormatFixed(grid.dResidualPixels, 2) +
                     " pixels (RMS) from one straight grid; place the locators by hand";
        return false;
    }
    double dE1 = 0, dN1 = 0, dE3 = 0, dN3 = 0;
    if (pP1Map) {
        dE1 = aGiven[0], dN1 = aGiven[1], dE3 = aGiven[2], dN3 = aGiven[3];
        if (grid.bLabelsRead && (std::fabs(dE1 - grid.dEasting[0]) > 1e-6 || std::fabs(dN1 - grid.dNorthing[0]) > 1e-6 ||
                                 std::fabs(dE3 - grid.dEasting[1]) > 1e-6 || std::fabs(dN3 - grid.dNorthing[1]) > 1e-6)) {
            strProblem = "--auto: the labels on the sheet give " + MapValueText(grid.dEasting[0]) + "," +
                         MapValueText(grid.dNorthing[0]) + " and " + MapValueText(grid.dEasting[1]) + "," +
                         MapValueText(grid.dNorthing[1]) + " for the grid corners found, not the positions given";
            return false;
        }
    } else if (grid.bLabelsRead) {
        dE1 = grid.dEasting[0], dN1 = grid.dNorthing[0], dE3 = grid.dEasting[1], dN3 = grid.dNorthing[1];
    } else {
        strProblem = "--auto: the coordinate labels could not be read (" +
                     (grid.strLabelNote.empty() ? std::string("none found") : grid.strLabelNote) +
                     "); give the map positions of the corners found with --p1 E,N --p3 E,N";
        strCorners = "p1 " + std::to_string(grid.aLocators[0].nX) + "," + std::to_string(grid.aLocators[0].nY) + " p3 " +
                     std::to_string(grid.aLocators[2].nX) + "," + std::to_string(grid.aLocators[2].nY);
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        locators.SetLocator(k, grid.aLocators[k].nX, grid.aLocators[k].nY);
    }
    locators.SetMapPosition(0, dE1, dN1);
    locators.SetMapPosition(2, dE3, dN3);
    locators.SetMapPosition(1, dE3, dN1);
    locators.SetNonRectangular(false);
    return true;
}

}  // namespace gridmorph
