#pragma once

#include <string>

#include "transform/LocatorSet.h"

namespace gridmorph {

// Locator files in the common ground-control-point layout (".points", as desktop GIS
// georeferencers write them): an optional "#CRS: WKT" line, a header line, then one row
// per point, "mapX,mapY,sourceX,sourceY,enable[,dX,dY,residual]". Source positions are in
// pixels from the outer top-left corner of the picture, y negative downwards, so the
// centre of pixel (x, y) is (x + 0.5, -(y + 0.5)) and a point stands for the pixel it
// falls in.

// Reads the three locators from the text: the enabled rows, put on locators 1, 2 and 3 by
// their map positions (the top-left, top-right and bottom-right corners of a map-grid
// rectangle). False with a message naming the wrong line when the text does not give
// exactly three enabled points of that shape.
bool ParsePointsText(const std::string& strText, CLocatorSet& locators, std::string& strProblem);
// With pSystemWkt, also the system the file's "#CRS:" line names ("" when it has none).
bool ReadPointsFile(const std::string& strPath, CLocatorSet& locators, std::string& strProblem,
                    std::string* pSystemWkt = nullptr);

// The definition on the text's "#CRS:" line (one of the comment lines before the header),
// or "" when it has none.
std::string PointsSystemWkt(const std::string& strText);

// Which rows became locators 1, 2 and 3 (file line numbers), and how many enabled points
// the file gave.
struct SPointsChoice {
    int aLines[3] = {0, 0, 0};
    int nEnabled = 0;
};

// As ParsePointsText, but a file of more than three enabled points (a whole grid of
// crossings, say) gives the three that are the top-left, top-right and bottom-right
// corners of the largest grid rectangle among them.
bool ParsePointsTextChoosingCorners(const std::string& strText, CLocatorSet& locators, SPointsChoice& choice,
                                    std::string& strProblem);
bool ReadPointsFileChoosingCorners(const std::string& strPath, CLocatorSet& locators, SPointsChoice& choice,
                                   std::string& strProblem);

// The text of the three locators (pixel centres), with a "#CRS:" line when a system's
// WKT is given.
std::string FormatPointsText(const CLocatorSet& locators, const std::string& strSystemWkt);
// Writes it through a temporary file and a rename; false when it cannot be written.
bool WritePointsFile(const std::string& strPath, const CLocatorSet& locators, const std::string& strSystemWkt);

}  // namespace gridmorph
