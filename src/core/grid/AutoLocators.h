#pragma once

#include <string>

#include "image/DIBImage.h"
#include "transform/LocatorSet.h"

namespace gridmorph {

// The three locators of a scan from the grid found on it (the corners of its largest
// rectangle), their map positions from the sheet's coordinate labels or from pP1Map and
// pP3Map ("E,N" of corners 1 and 3). False when anything is uncertain, with the reason in
// strProblem (worded for rectify --auto) and, when the labels could not be read, the
// corners found in strCorners ("p1 X,Y p3 X,Y").
bool FindAutoLocators(const CDIBImage& source, const std::string* pP1Map, const std::string* pP3Map,
                      CLocatorSet& locators, std::string& strProblem, std::string& strCorners);

// A map value as printed: whole metres without decimals, others with three.
std::string MapValueText(double d);

}  // namespace gridmorph
