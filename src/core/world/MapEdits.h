#pragma once

#include <memory>

#include "errors/SilentResult.h"
#include "world/DIBWorld.h"

namespace gridmorph {

// A map made from another by a crop or a change of depth: the new map, null when none was
// made; the error that stopped it (or that came with it) and the boxes the window raises
// for the step, in order. The window tells the boxes and, without a map, warns with the
// error's message; the command line prints them.
struct SMadeMap : SSilentResult {
    std::unique_ptr<CDIBWorld> pMap;
};

// A pixel rectangle of a map: the left column and top row (counted from the top-left
// pixel) and the size. Whatever lies outside the map is white in the crop; the pixels
// inside keep their places, and the crop's edges are those of the whole rectangle.
struct SPixelWindow {
    int nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
};

// Cuts a window out of a map into a new map of the window's size and depth, with the
// window's edges and the map's coordinate system. A map read on demand gets the window's
// rows in bands on all threads first. A map without a georeference still gives the
// pixels: pMap is made without a world and the error is ERR_NO_WORLD_INFORMATION (the
// window refuses that crop, the command line keeps it). A rectangle that lies wholly
// outside the map is refused. Without a map, the error says why.
SMadeMap CropMapSilent(CDIBWorld& source, const SPixelWindow& window);

// A new map of the given depth (8 or 24) from a map of 8, 24 or 32 bits: the same pixels
// and georeference; a full-colour map going to 8 bits gets a table of its most frequent
// colours. The map itself is not changed.
SMadeMap ConvertMapSilent(CDIBWorld& source, int nBitCount);

}  // namespace gridmorph
