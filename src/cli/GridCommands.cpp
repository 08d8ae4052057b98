// The command-line verbs of the grid finder: findgrid, and rectify's --auto and grid check.
#include "cli/GridCommands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

#include "grid/AutoLocators.h"
#include "grid/GridFinder.h"
#include "io/MappedFile.h"
#include "io/Numbers.h"

namespace gridmorph::cli {
namespace {

std::string Pair(double a, double b, int nDecimals) { return FormatFixed(a, nDecimals) + "," + FormatFixed(b, nDecimals); }

std::string MapValue(double d) { return MapValueText(d); }

}  // namespace

int RunFindGrid(const std::vector<std::string>& aPositional)
{
    if (aPositional.size() != 1) {
        std::fprintf(stderr, "gridmorph-cli: findgrid takes one file name; see gridmorph-cli --help\n");
        return 2;
    }
    CDIBImage picture;
    // The finder only reads the scan: a BMP may be mapped and a TIFF read a band at a time.
    std::optional<CScopedFileMapping> mapping(std::in_place);
    const SSilentResult opened = picture.OpenDIBSilent(aPositional[0]);
    mapping.reset();
    opened.Tell();
    if (!opened.Succeeded()) {
        std::fprintf(stderr, "gridmorph-cli: findgrid failed: %s cannot be opened\n", aPositional[0].c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const SFoundGrid grid = FindGrid(picture);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const CRowSupply* pRows = picture.Bitmap()->m_pRowSupply;
    if (std::string strProblem = pRows ? pRows->Problem() : std::string(); !strProblem.empty() ||
                                                                          MappedFileWasCut(picture.m_pImageBits)) {
        std::fprintf(stderr, "gridmorph-cli: findgrid failed: %s\n",
                     strProblem.empty() ? "the scan was cut short while it was being read" : strProblem.c_str());
        return 1;
    }
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
    std::string strProblem, strCorners;
    if (!gridmorph::FindAutoLocators(source, pP1Map, pP3Map, locators, strProblem, strCorners)) {
        std::fprintf(stderr, "gridmorph-cli: rectify failed: %s\n", strProblem.c_str());
        if (!strCorners.empty())
            std::fprintf(stderr, "gridmorph-cli: the corners found: %s\n", strCorners.c_str());
        return false;
    }
    for (int k = 0; k < 3; ++k)
        std::printf("p%d: %d,%d\n", k + 1, locators.LocatorX(k), locators.LocatorY(k));
    std::printf("p1_map: %s,%s\np3_map: %s,%s\n", MapValue(locators.Easting(0)).c_str(),
                MapValue(locators.Northing(0)).c_str(), MapValue(locators.Easting(2)).c_str(),
                MapValue(locators.Northing(2)).c_str());
    return true;
}

void WarnIfOffGrid(const SGridAgreement& agreement)
{
    if (!agreement.bChecked)
        return;
    std::printf("grid_mismatch_pixels: %s\n", FormatFixed(agreement.dMismatchPixels, 2).c_str());
    std::printf("grid_mismatch_metres: %s\n", FormatFixed(agreement.dMismatchMetres, 2).c_str());
    if (!agreement.strWarning.empty())
        std::fprintf(stderr, "gridmorph-cli: warning: %s\n", agreement.strWarning.c_str());
}

}  // namespace gridmorph::cli
