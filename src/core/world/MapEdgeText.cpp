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

SMapEdges CentreEdges(const CDIBWorld& map)
{
    return {map.GetWest(), map.GetNorth(), map.GetEast(), map.GetSouth()};
}

SMapEdges OutsideEdges(const CDIBWorld& map)
{
    const SMapEdges centres = CentreEdges(map);
    // Half a pixel; a single column or row has no pixel size to take half of.
    const double hx =
        map.m_nImageWidth > 1 ? (centres.dEast - centres.dWest) * 0.5 / (map.m_nImageWidth - 1) : 0.0;
    const double hy =
        map.m_nImageHeight > 1 ? (centres.dNorth - centres.dSouth) * 0.5 / (map.m_nImageHeight - 1) : 0.0;
    return {centres.dWest - hx, centres.dNorth + hy, centres.dEast + hx, centres.dSouth - hy};
}

std::string FormatMapEdgeLocations(const CDIBWorld& map)
{
    const SMapEdges outside = OutsideEdges(map), centres = CentreEdges(map);
    return "Map edge locations of the image\n\n" + Compass(outside.dNorth, outside.dWest, outside.dEast, outside.dSouth) +
           "\n\n\nMap World file locations (centre pixel)\n\n" +
           Compass(centres.dNorth, centres.dWest, centres.dEast, centres.dSouth);
}

SMapEdges OutsideEdgesToCentres(int nWidth, int nHeight, const SMapEdges& outside)
{
    const double hx = (outside.dEast - outside.dWest) * 0.5 / nWidth;
    const double hy = (outside.dNorth - outside.dSouth) * 0.5 / nHeight;
    return {outside.dWest + hx, outside.dNorth - hy, outside.dEast - hx, outside.dSouth + hy};
}

}  // namespace gridmorph
