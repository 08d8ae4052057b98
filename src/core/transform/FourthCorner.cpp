#include "transform/FourthCorner.h"

#include <cmath>

#include "transform/RectifyingTransform.h"

namespace gridmorph {

bool CheckFourthCorner(const CLocatorSet& locators, const double* pGivenPixel, SFourthCornerCheck& check)
{
    SRectifyingTransform transform;
    if (!transform.Compute(locators))
        return false;
    SFourthCornerCheck result;
    result.dEasting = locators.Easting(0);
    result.dNorthing = locators.Northing(2);
    // On the rectified grid the corner lies straight below locator 1, as far as locator 3's
    // northing is south of locator 1's.
    const double dU = transform.dX1;
    const double dV = transform.dY1 + (locators.Northing(0) - locators.Northing(2)) / transform.dResolutionY;
    transform.Inverse(dU, dV, result.dPredictedX, result.dPredictedY);
    if (pGivenPixel) {
        double dGivenU = 0, dGivenV = 0, dEasting = 0, dNorthing = 0;
        transform.Forward(pGivenPixel[0], pGivenPixel[1], dGivenU, dGivenV);
        transform.RectifiedToMap(dGivenU, dGivenV, dEasting, dNorthing);
        result.bMeasured = true;
        result.dMismatchPixels = std::hypot(pGivenPixel[0] - result.dPredictedX, pGivenPixel[1] - result.dPredictedY);
        result.dMismatchMetres = std::hypot(dEasting - result.dEasting, dNorthing - result.dNorthing);
    }
    if (!std::isfinite(result.dPredictedX) || !std::isfinite(result.dPredictedY))
        return false;
    check = result;
    return true;
}

}  // namespace gridmorph
