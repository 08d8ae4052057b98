#pragma once

#include "transform/LocatorSet.h"

namespace gridmorph {

// The rectifying transform of a locator set: a rotation about locator 1 that puts locator
// 2 on locator 1's row, a horizontal shear that puts locator 3 straight below locator 2,
// and a vertical scale that makes map pixels square. All in double precision, in the order
// written here; the loops that use it must not fuse a multiply and an add (the core is
// built with -ffp-contract=off), or pixels at half-pixel boundaries move.
struct SRectifyingTransform {
    double dX1 = 0, dY1 = 0;  // locator 1, the fixed point
    double dCos = 1, dSin = 0;
    double dShear = 0;   // k
    double dScale = 1;   // q
    double dU2 = 0;      // rectified x of locators 2 and 3
    double dV3 = 0;      // rotated y of locator 3
    double dV3Scaled = 0;
    double dResolutionX = 0, dResolutionY = 0;  // rX, rY, metres per pixel
    double dE1 = 0, dN1 = 0;

    // Computes the transform from the locators (the map position of locator 2 plays no
    // part). False when a coefficient is not finite (degenerate locators).
    bool Compute(const CLocatorSet& locators);

    // A source pixel position to its rectified position.
    void Forward(double dX, double dY, double& dU, double& dV) const;
    // A rectified position back to the source, before rounding.
    void Inverse(double dU, double dV, double& dX, double& dY) const;
    // The map position of a rectified point.
    void RectifiedToMap(double dU, double dV, double& dEasting, double& dNorthing) const;
};

}  // namespace gridmorph
