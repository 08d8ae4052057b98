#pragma once

#include <string>
#include <vector>

#include "grid/GridFinder.h"
#include "image/DIBImage.h"
#include "transform/LocatorSet.h"
#include "transform/RectifyJob.h"

namespace gridmorph::cli {

// findgrid SCAN: the grid's locators as 'key: value' lines; 0 when a grid was found, 1 (with
// one line on standard error) when not.
int RunFindGrid(const std::vector<std::string>& aPositional);

// rectify --auto: the three locators from the grid on the scan, the map positions of 1 and 3
// from the frame labels or from pP1Map/pP3Map ("E,N"). False, with the reason printed,
// when anything is uncertain.
bool FindAutoLocators(const CDIBImage& source, const std::string* pP1Map, const std::string* pP3Map,
                      CLocatorSet& locators);

// rectify: prints how the grid the three locators predict agrees with the grid lines found
// on the scan, and warns on standard error when they differ by more than 2 pixels inside
// the rectangle.
void WarnIfOffGrid(const SGridAgreement& agreement);

}  // namespace gridmorph::cli
