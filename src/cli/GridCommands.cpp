// The command-line verbs of the grid finder: findgrid, and rectify's --auto and grid check.
#include "cli/GridCommands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "grid/GridFinder.h"
#include "io/Numbers.h"

namespace gridmorph::cli {
namespace {

std::string Pair(double a, double b, int nDecimals) { return FormatFixed(a, nDecimals) + "," + FormatFixed(b, nDecimals); }

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

// A map value as printed: whole metres without decimals, others with three.
std::string MapValue(double d) { return FormatFixed(d, d == std::floor(d) ? 0 : 3); }

}  // namespace

int RunFindGrid(const std::vector<std::string>& aPositional)
{
    if (aPositional.size() != 1) {
        std::fprintf(stderr, "gridmorph-cli: findgrid takes one file name; see gridmorph-cli --help\n");
        return 2;
    }
    CDIBImage picture;
    if (!picture.OpenDIB(aPositional[0])) {
        std::fprintf(stderr, "gridmorph-cli: findgrid failed: %s cannot be opened\n", aPositional[0].c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const SFoundGrid grid = FindGrid(picture);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!grid.bFound) {
        std::fprintf(stderr, "gridmorph-cli: findgrid: %s\n", grid.strWhy.c_str());
        return 1;
    }
    for (int k = 0; k < 3; ++k)
        std::printf("p%d: %d,%d\n", k + 1, grid.aLocators[k].nX, grid.aLocators[k].nY);
    if (grid.bLabelsRead) {
        std::printf("p1_map: %s,%s\n", MapValue(grid.dEasting[0]).c_str(), MapValue(grid.dNorthing[0]).c_str());
        std::printf("p3_map: %s,%s\n", MapValue(grid.dEasting[1]).c_str(), MapValue(grid.dNorthing[1]).c_str());
    }
    std::printf("p1_subpixel: %s\np2_subpixel: %s\np3_subpixel: %s\n",
                Pair(grid.aLocators[0].dX, grid.aLocators[0].dY, 2).c_str(),
                Pair(grid.aLocators[1].dX, grid.aLocators[1].dY, 2).c_str(),
                Pair(grid.aLocators[2].dX, grid.aLocators[2].dY, 2).c_str());
    std::printf("grid_lines: %d,%d\n", grid.nColumns, grid.nRows);
    std::printf("rectangle_cells: %d,%d\n", grid.nRight - grid.nLeft, grid.nBottom - grid.nTop);
    std::printf("spacing_pixels: %s\n", Pair(grid.dSpacingX, grid.dSpacingY, 3).c_str());
    std::printf("rotation_degrees: %s\n", FormatFixed(grid.dRotationDegrees, 3).c_str());
    std::printf("shear_degrees: %s\n", FormatFixed(grid.dShearDegrees, 3).c_str());
    std::printf("residual_pixels: %s\n", FormatFixed(grid.dResidualPixels, 3).c_str());
    if (grid.bLabelsRead)
        std::printf("grid_metres: %s\n", MapValue(grid.dGridMetres).c_str());
    else
        std::printf("labels: not read (%s)\n", grid.strLabelNote.empty() ? "none found" : grid.strLabelNote.c_str());
    std::printf("seconds: %s\n", FormatFixed(dSeconds, 3).c_str());
    return 0;
}

bool FindAutoLocators(const CDIBImage& source, const std::string* pP1Map, const std::string* pP3Map,
                      CLocatorSet& locators)
{
    double aGiven[4] = {};
    if ((pP1Map != nullptr) != (pP3Map != nullptr)) {
        std::fprintf(stderr, "gridmorph-cli: rectify failed: --auto takes the map positions of both --p1 and --p3 (E,N) "
                             "or of neither\n");
        return false;
    }
    if (pP1Map && (!ParseMapPair(*pP1Map, aGiven[0], aGiven[1]) || !ParseMapPair(*pP3Map, aGiven[2], aGiven[3]))) {
        std::fprintf(stderr, "gridmorph-cli: rectify failed: with --auto, --p1 and --p3 take the map position E,N\n");
        return false;
    }
    const SFoundGrid grid = FindGrid(source);
    if (!grid.bFound) {
        std::fprintf(stderr, "gridmorph-cli: rectify failed: --auto: %s\n", grid.strWhy.c_str());
        return false;
    }
    if (grid.dResidualPixels > 1.5) {
        std::fprintf(stderr,
                     "gridmorph-cli: rectify failed: --auto: the grid's crossings lie %s pixels (RMS) from one straight "
                     "grid; place the locators by hand\n",
                     FormatFixed(grid.dResidualPixels, 2).c_str());
        return false;
    }
    double dE1 = 0, dN1 = 0, dE3 = 0, dN3 = 0;
    if (pP1Map) {
        dE1 = aGiven[0], dN1 = aGiven[1], dE3 = aGiven[2], dN3 = aGiven[3];
        if (grid.bLabelsRead && (std::fabs(dE1 - grid.dEasting[0]) > 1e-6 || std::fabs(dN1 - grid.dNorthing[0]) > 1e-6 ||
                                 std::fabs(dE3 - grid.dEasting[1]) > 1e-6 || std::fabs(dN3 - grid.dNorthing[1]) > 1e-6)) {
            std::fprintf(stderr,
                         "gridmorph-cli: rectify failed: --auto: the labels on the sheet give %s,%s and %s,%s for the "
                         "grid corners found, not the positions given\n",
                         MapValue(grid.dEasting[0]).c_str(), MapValue(grid.dNorthing[0]).c_str(),
                         MapValue(grid.dEasting[1]).c_str(), MapValue(grid.dNorthing[1]).c_str());
            return false;
        }
    } else if (grid.bLabelsRead) {
        dE1 = grid.dEasting[0], dN1 = grid.dNorthing[0], dE3 = grid.dEasting[1], dN3 = grid.dNorthing[1];
    } else {
        std::fprintf(stderr,
                     "gridmorph-cli: rectify failed: --auto: the coordinate labels could not be read (%s); give the map "
                     "positions of the corners found with --p1 E,N --p3 E,N\n",
                     grid.strLabelNote.empty() ? "none found" : grid.strLabelNote.c_str());
        std::fprintf(stderr, "gridmorph-cli: the corners found: p1 %d,%d p3 %d,%d\n", grid.aLocators[0].nX,
                     grid.aLocators[0].nY, grid.aLocators[2].nX, grid.aLocators[2].nY);
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        locators.m_nLocatorX[k] = grid.aLocators[k].nX;
        locators.m_nLocatorY[k] = grid.aLocators[k].nY;
    }
    locators.m_dEasting[0] = dE1, locators.m_dNorthing[0] = dN1;
    locators.m_dEasting[2] = dE3, locators.m_dNorthing[2] = dN3;
    locators.m_dEasting[1] = dE3, locators.m_dNorthing[1] = dN1;
    locators.m_bNonRectangular = false;
    for (int k = 0; k < 3; ++k)
        std::printf("p%d: %d,%d\n", k + 1, locators.m_nLocatorX[k], locators.m_nLocatorY[k]);
    std::printf("p1_map: %s,%s\np3_map: %s,%s\n", MapValue(dE1).c_str(), MapValue(dN1).c_str(), MapValue(dE3).c_str(),
                MapValue(dN3).c_str());
    return true;
}

void WarnIfOffGrid(const CDIBImage& source, const CLocatorSet& locators)
{
    SFindGridOptions options;
    options.bReadLabels = false;
    const SFoundGrid grid = FindGrid(source, options);
    const SGridCheck check = CheckLocatorsAgainstGrid(grid, locators);
    if (!check.bChecked)
        return;
    std::printf("grid_mismatch_pixels: %s\n", FormatFixed(check.dMismatchPixels, 2).c_str());
    std::printf("grid_mismatch_metres: %s\n", FormatFixed(check.dMismatchMetres, 2).c_str());
    if (check.Suspicious())
        std::fprintf(stderr,
                     "gridmorph-cli: warning: %s: the grid on the scan lies up to %s pixels (%s m) from the grid the "
                     "three locators predict\n",
                     check.strMessage.c_str(), FormatFixed(check.dMismatchPixels, 2).c_str(),
                     FormatFixed(check.dMismatchMetres, 2).c_str());
}

}  // namespace gridmorph::cli
