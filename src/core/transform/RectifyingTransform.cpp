#include "transform/RectifyingTransform.h"

#include <cmath>
#include <initializer_list>

namespace gridmorph {

bool SRectifyingTransform::Compute(const CLocatorSet& locators)
{
    const double X1 = locators.LocatorX(0), Y1 = locators.LocatorY(0);
    const double X2 = locators.LocatorX(1), Y2 = locators.LocatorY(1);
    const double X3 = locators.LocatorX(2), Y3 = locators.LocatorY(2);
    const double E1 = locators.Easting(0), E3 = locators.Easting(2);
    const double N1 = locators.Northing(0), N3 = locators.Northing(2);

    const double dx = X2 - X1, dy = Y2 - Y1;
    const double L = std::sqrt(dx * dx + dy * dy);
    const double c = dx / L, s = dy / L;
    const double U2 = dx * c + X1 + dy * s;
    const double a3 = X3 - X1, b3 = Y3 - Y1;
    const double U3 = a3 * c + X1 + b3 * s;
    const double V3 = b3 * c + Y1 - a3 * s;
    const double k = (U2 - U3) / (V3 - Y1);
    const double q = ((N1 - N3) * (U2 - X1)) / ((E3 - E1) * (V3 - Y1));
    const double V3s = (V3 - Y1) * q + Y1;

    dX1 = X1;
    dY1 = Y1;
    dCos = c;
    dSin = s;
    dShear = k;
    dScale = q;
    dU2 = U2;
    dV3 = V3;
    dV3Scaled = V3s;
    dResolutionX = (E3 - E1) / (U2 - X1);
    dResolutionY = (N1 - N3) / (V3s - Y1);
    dE1 = E1;
    dN1 = N1;
    for (double d : {c, s, k, q, U2, V3s, dResolutionX, dResolutionY})
        if (!std::isfinite(d))
            return false;
    return q != 0 && dResolutionX != 0 && dResolutionY != 0;
}

void SRectifyingTransform::Forward(double dX, double dY, double& dU, double& dV) const
{
    const double a = dX - dX1, b = dY - dY1;
    const double U = a * dCos + dX1 + b * dSin;
    const double V = b * dCos + dY1 - a * dSin;
    dU = (V - dY1) * dShear + U;
    dV = (V - dY1) * dScale + dY1;
}

void SRectifyingTransform::Inverse(double dU, double dV, double& dX, double& dY) const
{
    const double b = (dV - dY1) / dScale;
    const double a = (dU - dX1) - b * dShear;
    dX = a * dCos + dX1 - b * dSin;
    dY = b * dCos + dY1 + a * dSin;
}

void SRectifyingTransform::RectifiedToMap(double dU, double dV, double& dEasting, double& dNorthing) const
{
    dEasting = dE1 + (dU - dX1) * dResolutionX;
    dNorthing = dN1 - (dV - dY1) * dResolutionY;
}

}  // namespace gridmorph
