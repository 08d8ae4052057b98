#pragma once

#include "transform/LocatorSet.h"

namespace gridmorph {

// Beyond this many source pixels between the fourth corner found on the scan and where
// the three locators put it, a locator is probably on the wrong grid line.
inline constexpr double kFourthCornerTolerancePixels = 2.0;

// The accuracy check of three locators: the grid rectangle's fourth, bottom-left corner
// (locator 1's easting, locator 3's northing) carried back onto the scan by the
// rectifying transform, and compared with the pixel the user sees it at.
struct SFourthCornerCheck {
    double dEasting = 0.0;
    double dNorthing = 0.0;
    double dPredictedX = 0.0;  // source pixel, from the top-left pixel
    double dPredictedY = 0.0;
    bool bMeasured = false;    // a pixel was given to compare with
    double dMismatchPixels = 0.0;
    double dMismatchMetres = 0.0;

    bool Suspicious() const { return bMeasured && dMismatchPixels > kFourthCornerTolerancePixels; }
};

// Predicts the fourth corner of a rectangular locator set, and with pGivenPixel (x, y of
// the corner on the scan) measures how far that pixel lies from it, in source pixels and
// in metres on the map. False when the locators give no transform.
bool CheckFourthCorner(const CLocatorSet& locators, const double* pGivenPixel, SFourthCornerCheck& check);

}  // namespace gridmorph
