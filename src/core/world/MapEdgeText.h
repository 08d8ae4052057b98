#pragma once

#include <string>

#include "world/MapEdges.h"

namespace gridmorph {

class CDIBWorld;


// The map's stored edges: the centres of its edge pixels, as its world file gives them.
SMapEdges CentreEdges(const CDIBWorld& map);

// The outside edges of the edge pixels, half a pixel further out than the stored edges.
// A map one pixel wide or high has no half pixel to add in that direction.
SMapEdges OutsideEdges(const CDIBWorld& map);

// The text of Map Edge Locations: the outside edges of the edge pixels (half a pixel
// further out than the stored edges), then the world file's locations (the centres of the
// edge pixels), each as a compass of two-decimal numbers. A map one pixel wide or high has
// no half pixel to add in that direction, so both compasses show its centre values there.
std::string FormatMapEdgeLocations(const CDIBWorld& map);

// Edges typed as the outside edges of the edge pixels, moved half a pixel inwards to the
// pixel centres the program stores (the full extent spans nWidth and nHeight pixels).
SMapEdges OutsideEdgesToCentres(int nWidth, int nHeight, const SMapEdges& outside);

}  // namespace gridmorph
