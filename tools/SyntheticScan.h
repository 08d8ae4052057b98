#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/DIBImage.h"

namespace gridmorph::synthetic {

// What a generated scan looks like: a printed map sheet with a square map grid inside a
// frame, coordinate labels outside it, map content over it, and then what scanning did
// to it (turned, sheared, stretched paper, blur, noise, JPEG, uneven light).
struct SScanRecipe {
    int nWidth = 1600;
    int nHeight = 1200;
    int nBitCount = 24;          // 24 (colour), 8 (palette of colours) or 0 (8-bit grey)
    double dRotationDegrees = 0.0;
    double dShear = 0.0;         // x moves by dShear * y
    double dStretchX = 1.0;      // paper stretch across and down the sheet
    double dStretchY = 1.0;
    double dSpacing = 200.0;     // grid spacing on the paper, pixels
    double dLineWidth = 2.5;     // grid line width, pixels
    double dLineDarkness = 0.85; // 1 = black lines, 0.3 = faint
    bool bGrid = true;           // false: a sheet without a map grid
    bool bBrokenLines = false;   // gaps along the grid lines
    bool bMapContent = true;     // roads, rivers, hatching, text over the grid
    bool bLabels = true;         // eastings top and bottom, northings left and right
    bool bSplitLabels = false;   // the leading digits small, the last three large
    double dBlurSigma = 0.6;
    double dNoise = 4.0;         // standard deviation of the added noise, grey levels
    double dLighting = 0.0;      // 0..0.5: how much darker one corner is than the other
    int nJpegQuality = 0;        // 0: no JPEG round trip
    double dGridMetres = 1000.0; // map distance between grid lines
    double dFirstEasting = 412000.0;   // easting of the leftmost grid line
    double dFirstNorthing = 5287000.0; // northing of the topmost grid line
    std::uint32_t nSeed = 1;
};

// The truth of a generated scan: every grid crossing's position on the scan (pixels from
// the centre of the top-left pixel, through the distortion), with the map coordinates of
// its lines. Crossing (i, j) is vertical line i (west to east) on horizontal line j
// (north to south).
struct SScanTruth {
    int nColumns = 0;  // vertical lines
    int nRows = 0;     // horizontal lines
    std::vector<double> aCrossX, aCrossY;  // nColumns * nRows, row-major by j
    std::vector<double> aEastings;         // per vertical line
    std::vector<double> aNorthings;        // per horizontal line
    bool bLabels = false;

    double CrossX(int i, int j) const { return aCrossX[std::size_t(j) * nColumns + i]; }
    double CrossY(int i, int j) const { return aCrossY[std::size_t(j) * nColumns + i]; }
};

// Renders the scan into picture. False (with strWhy) when the picture cannot be made.
bool MakeScan(const SScanRecipe& recipe, CDIBImage& picture, SScanTruth& truth, std::string& strWhy);

// A strip of white paper with one label printed on it (as MakeScan prints them), for the
// label reader's tests: nHeight pixels of text, turned by dRotationDegrees.
bool MakeLabelStrip(const std::string& strText, int nTextHeight, bool bSplit, double dRotationDegrees, double dNoise,
                    CDIBImage& picture);

}  // namespace gridmorph::synthetic
