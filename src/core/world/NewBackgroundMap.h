#pragma once

#include <memory>
#include <string>
#include <vector>

#include "world/MapEdges.h"

#include "world/DIBWorld.h"

namespace gridmorph {

// What a new background map is made of: its file name, the georeferenced images it is
// based on (in the order chosen), and the map region wanted, in metres.
struct SNewMapRequest {
    std::string strFileName;
    std::vector<std::string> aBasedOn;
    SMapEdges region;  // the region the new map covers
};

// The region snapped outward to the pixel grid of the first image.
struct SSnappedRegion {
    double dWest = 0.0, dSouth = 0.0, dEast = 0.0, dNorth = 0.0;
    int nColumns = 0;
    int nRows = 0;
};

// Snaps the region to the pixel centres of a georeferenced image: west and south down,
// east and north up, on 32-bit integers so negative offsets snap outward too. False when
// the image's edges give no pixel size or the region needs more pixels than an int holds.
bool SnapRegionToGrid(const CDIBWorld& grid, double dWest, double dSouth, double dEast, double dNorth,
                      SSnappedRegion& region);

// Builds and saves a new background map: a white picture over the snapped region,
// filled from the based-on images from the last chosen to the first (so the first wins
// where they overlap), saved with its world file. Every failure is shown in a warning
// box; the result is then null and the files of that name on disc are as they were
// (none when there were none). The map lies in the first image's coordinate system; the
// options are the save's (their system, when set, is named instead).
std::unique_ptr<CDIBWorld> BuildNewBackgroundMap(const SNewMapRequest& request,
                                                 const SEncodeOptions& options = SEncodeOptions());

// What BuildNewBackgroundMapSilent did: the map when it was built and saved, else the
// error of the step that failed; the warnings BuildNewBackgroundMap shows, in order.
struct SNewMapOutcome : SSilentResult {
    std::unique_ptr<CDIBWorld> pMap;
};

// BuildNewBackgroundMap without any message box (no based-on image: ERR_INVALID_ARGUMENT
// and no warning, as the window never asks for one).
SNewMapOutcome BuildNewBackgroundMapSilent(const SNewMapRequest& request,
                                           const SEncodeOptions& options = SEncodeOptions());

}  // namespace gridmorph
