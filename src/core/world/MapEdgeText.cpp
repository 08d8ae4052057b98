#include "world/MapEdgeText.h"

#include "io/Numbers.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

std::string Compass(double dNorth, double dWest, double dEast, double dSouth)
{
    return "\t\tNorth\t" + FormatFixed(dNorth, 2) + "\n\nWest\t" + FormatFixed(dWest, 2) + "\t\tEast\t" +
           FormatFixed(dEast, 2) + "\n\n\t\tSouth\t" + FormatFixed(dSouth, 2);
}

}  // namespace

std::string FormatMapEdgeLocations(const CDIBWorld& map)
{
    const double W = map.GetWest(), N = map.GetNorth(), E = map.GetEast(), S = map.GetSouth();
    // Half a pixel; a single column or row has no pixel size to take half of.
    const double hx = map.m_nImageWidth > 1 ? (E - W) * 0.5 / (map.m_nImageWidth - 1) : 0.0;
    const double hy = map.m_nImageHeight > 1 ? (N - S) * 0.5 / (map.m_nImageHeight - 1) : 0.0;
    return "Map edge locations of the image\n\n" + Compass(N + hy, W - hx, E + hx, S - hy) +
           "\n\n\nMap World file locations (centre pixel)\n\n" + Compass(N, W, E, S);
}

void OutsideEdgesToCentres(int nWidth, int nHeight, double& dWest, double& dNorth, double& dEast, double& dSouth)
{
    const double hx = (dEast - dWest) * 0.5 / nWidth;
    dWest += hx;
    dEast -= hx;
    const double hy = (dNorth - dSouth) * 0.5 / nHeight;
    dSouth += hy;
    dNorth -= hy;
}

}  // namespace gridmorph
