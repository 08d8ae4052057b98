#pragma once

#include <memory>

#include "transform/LocatorSet.h"
#include "transform/Resample.h"
#include "world/DIBWorld.h"
#include "world/MapEdgeText.h"

namespace gridmorph {

// What a clip to the locators' rectangle keeps of the whole rectified map that the same
// locators make of a scan of the given size: the whole map's bounds and edges, and the
// kept part's. The kept part starts at column kept.nU0 - whole.nU0 and row
// kept.nV0 - whole.nV0 of the whole map.
struct SGridCrop {
    STransformBounds whole, kept;
    SMapEdges wholeEdges, keptEdges;
    int Left() const { return static_cast<int>(kept.nU0 - whole.nU0); }
    int Top() const { return static_cast<int>(kept.nV0 - whole.nV0); }
    int Width() const { return static_cast<int>(kept.Width()); }
    int Height() const { return static_cast<int>(kept.Height()); }
};

// The crop for three locators (of a non-rectangular grid, through its built top-right
// corner, as the rectification goes). False when they give no transform, the whole map
// could not be a picture, or nothing of it lies in the rectangle.
bool FindGridCrop(const CLocatorSet& locators, int nSourceWidth, int nSourceHeight, SGridCrop& crop);

// Whether a map is the whole rectified map the crop was found for: its size and edges.
bool IsWholeRectifiedMap(const CDIBWorld& map, const SGridCrop& crop);

// A new map of the kept part of the whole map: the same pixels, colour table, no-data
// value and coordinate system, with the kept part's edges, as a clipped rectification
// makes it. Null (with the reason in strError) when the picture cannot be made.
std::unique_ptr<CDIBWorld> CropToGrid(const CDIBWorld& wholeMap, const SGridCrop& crop, std::string& strError);

}  // namespace gridmorph
