#pragma once

#include <string>

#include "grid/GridFinder.h"
#include "transform/TransformOptions.h"

namespace gridmorph {

// The whole grid cells between the three locators and the outermost grid lines found on
// a scan (where a sheet's grid runs to its frame, the last whole cells inside the frame):
// the locators are matched to crossings of the found grid through its affine model, each
// within a quarter of a cell. False, with the reason in strProblem, when no grid was found
// or the locators do not sit on its crossings as corners 1 to 3 of one rectangle.
bool FindFrameCells(const SFoundGrid& grid, const CLocatorSet& locators, SFrameCells& cells, std::string& strProblem);

// The same on a scan: the grid is found first (without reading its labels).
bool FindFrameCells(const CDIBImage& scan, const CLocatorSet& locators, SFrameCells& cells, std::string& strProblem);

}  // namespace gridmorph
