#pragma once

#include <cstdint>
#include <memory>

#include "errors/SilentResult.h"
#include "transform/LocatorSet.h"
#include "transform/RectifyingTransform.h"
#include "transform/TransformOptions.h"
#include "world/DIBWorld.h"
#include "world/MapEdgeText.h"

namespace gridmorph {

enum class ETransformResult {
    Done,
    UnsupportedDepth,    // only 8- and 24-bit maps are transformed
    PixelsInLine,        // the current locator positions fail the in-line check
    NoTransform,         // the locators give coefficients or bounds that are not finite
    CreateFailed,        // the output picture cannot be made (too large for memory)
    PointsInLine,        // non-rectangular: point 4 falls on locator 1
    MapPointsInLine,     // non-rectangular: point 4's easting equals locator 1's
};

// What a silent transform did: the result, the error (ERR_MESSAGE_IS_DETAIL with the
// warning's text for locators that give no transform or a depth not transformed; the
// output picture's error when it cannot be made) and the warnings the window shows.
struct STransformOutcome : SSilentResult {
    ETransformResult eResult = ETransformResult::Done;
    // A failure told by one warning whose text is the whole message.
    static STransformOutcome Refused(ETransformResult eResult, const std::string& strText);
};

// The rectified picture's extent: output column i and row j (0 = top) stand for the
// rectified point (nU0 + i, nV0 + j).
struct STransformBounds {
    std::int64_t nU0 = 0, nU1 = 0, nV0 = 0, nV1 = 0;
    std::int64_t Width() const { return nU1 - nU0 + 1; }
    std::int64_t Height() const { return nV1 - nV0 + 1; }
};

// The bounds of the four source corners carried forward, floored and ceiled. False when
// they are not finite or lie beyond what a picture position can hold.
bool ComputeOutputBounds(const SRectifyingTransform& transform, int nSourceWidth, int nSourceHeight,
                         STransformBounds& bounds);

// Narrows the output to the rectified rectangle of the three locators: the pixel columns
// and rows from locator 1's to the first whose centre lies on or beyond the rectangle's
// far side, so that sheets clipped at a shared grid line overlap by at most a pixel and
// never leave a gap. With pFrame (null: the rectangle itself) the rectangle first grows by
// its whole cells on each side, a cell being the rectangle's size over the cells it spans.
void ClipToLocatorRectangle(const SRectifyingTransform& transform, const SFrameCells* pFrame,
                            STransformBounds& bounds);

// The edges (centres of the edge pixels) of a rectified picture with these bounds, from
// locator 1's easting and northing and the transform's pixel size.
SMapEdges RectifiedEdges(const CLocatorSet& locators, const SRectifyingTransform& transform,
                         const STransformBounds& bounds);

// The columns [nLow, nHigh] (empty when nLow > nHigh) of the rectified row nV, counted
// from nU0, whose nearest source pixel lies inside the source picture.
void FindInsideSpan(const SRectifyingTransform& transform, int nSourceWidth, int nSourceHeight, std::int64_t nV,
                    std::int64_t nU0, int nWidth, int& nLow, int& nHigh);

// Fills one output row: the rectified row nV (picture row nV - nV0 of the output), columns
// from nU0 on, nWidth of them. Every pixel takes the source pixel at
// (trunc(x + 0.5), trunc(y + 0.5)) of the inverse transform, evaluated afresh in the
// written order; pixels that fall outside the source are left as they are. The row's
// inside span is found first (it is one interval, because both source coordinates change
// monotonically along a row), so the copy loop has no bounds checks.
void ResampleRow(const SRectifyingTransform& transform, const CDIBImage& source, std::int64_t nV,
                 std::int64_t nU0, int nWidth, std::uint8_t* pOutputRow);

// Resamples the source map into a new north-up map with square pixels and map edges
// (nearest neighbour), and puts it in pTransformedMap, replacing what was there. The
// source is never changed. On any failure a message has been shown and pTransformedMap
// is as it was.
// The options choose the resampling, a clip to the locators' rectangle and what the area
// outside the scan becomes; their default values give the nearest-neighbour map above.
// With pRowsOnDemand, no row is made here: the output picture is marked with a supply of
// its rows (put in *pRowsOnDemand, which must outlive every use of the output's rows, as
// the source must) that makes each row exactly as this function would, when an encoder
// asks for it; the output then never needs to exist whole.
ETransformResult TransformBitmap(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                 std::unique_ptr<CDIBWorld>& pTransformedMap,
                                 const STransformOptions& options = STransformOptions(),
                                 std::unique_ptr<CRowSupply>* pRowsOnDemand = nullptr);
// TransformBitmap without any message box: the outcome holds the warnings it would show.
// The progress panel is shown only with bShowProgress.
STransformOutcome TransformBitmapSilent(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                        std::unique_ptr<CDIBWorld>& pTransformedMap,
                                        const STransformOptions& options = STransformOptions(),
                                        std::unique_ptr<CRowSupply>* pRowsOnDemand = nullptr,
                                        bool bShowProgress = false);

// The locators of a rectangular grid for three points that are not corners of one: the
// top-right corner built on the line from locator 3 through locator 2 takes locator 2's
// place. Done, or why no corner can be built (PointsInLine, MapPointsInLine, NoTransform);
// no message is shown.
ETransformResult MakeRectangularLocators(const CLocatorSet& locators, CLocatorSet& rectangular);

// The same for three points that are not corners of a map-grid rectangle: the top-right
// corner is built on the line from locator 3 through locator 2 and used as locator 2; the
// caller's locators are not changed.
ETransformResult TransformNonRectangular(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                         std::unique_ptr<CDIBWorld>& pTransformedMap,
                                         const STransformOptions& options = STransformOptions(),
                                         std::unique_ptr<CRowSupply>* pRowsOnDemand = nullptr);
// TransformNonRectangular without any message box (as TransformBitmapSilent).
STransformOutcome TransformNonRectangularSilent(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                                std::unique_ptr<CDIBWorld>& pTransformedMap,
                                                const STransformOptions& options = STransformOptions(),
                                                std::unique_ptr<CRowSupply>* pRowsOnDemand = nullptr,
                                                bool bShowProgress = false);

}  // namespace gridmorph
