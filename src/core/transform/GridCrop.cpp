#include "transform/GridCrop.h"

#include <cstring>
#include <limits>

#include "transform/RectifyingTransform.h"

namespace gridmorph {

bool FindGridCrop(const CLocatorSet& givenLocators, int nSourceWidth, int nSourceHeight, SGridCrop& crop)
{
    // A non-rectangular grid is rectified, and so clipped, through its built corner.
    CLocatorSet locators = givenLocators;
    if (givenLocators.NonRectangular() && MakeRectangularLocators(givenLocators, locators) != ETransformResult::Done)
        return false;
    SRectifyingTransform transform;
    STransformBounds whole;
    if (!transform.Compute(locators) || !ComputeOutputBounds(transform, nSourceWidth, nSourceHeight, whole))
        return false;
    constexpr std::int64_t kMaxSide = std::numeric_limits<int>::max();
    if (whole.Width() > kMaxSide || whole.Height() > kMaxSide)
        return false;
    STransformBounds kept = whole;
    ClipToLocatorRectangle(transform, nullptr, kept);
    if (kept.nU0 > kept.nU1 || kept.nV0 > kept.nV1)
        return false;
    crop.whole = whole;
    crop.kept = kept;
    crop.wholeEdges = RectifiedEdges(locators, transform, whole);
    crop.keptEdges = RectifiedEdges(locators, transform, kept);
    return true;
}

bool IsWholeRectifiedMap(const CDIBWorld& map, const SGridCrop& crop)
{
    return map.HasImage() && map.HasWorld() && map.m_nImageWidth == crop.whole.Width() &&
           map.m_nImageHeight == crop.whole.Height() && map.GetWest() == crop.wholeEdges.dWest &&
           map.GetNorth() == crop.wholeEdges.dNorth && map.GetEast() == crop.wholeEdges.dEast &&
           map.GetSouth() == crop.wholeEdges.dSouth;
}

std::unique_ptr<CDIBWorld> CropToGrid(const CDIBWorld& wholeMap, const SGridCrop& crop, std::string& strError)
{
    const int nBitCount = wholeMap.m_nBitCount;
    if (!wholeMap.HasImage() || (nBitCount != 8 && nBitCount != 24 && nBitCount != 32) ||
        crop.kept.nU0 < crop.whole.nU0 || crop.kept.nV0 < crop.whole.nV0 ||
        crop.kept.nU1 - crop.whole.nU0 >= wholeMap.m_nImageWidth ||
        crop.kept.nV1 - crop.whole.nV0 >= wholeMap.m_nImageHeight) {
        strError = "The map is not the one the locators make; transform it again before cropping.";
        return nullptr;
    }
    auto pKept = std::make_unique<CDIBWorld>();
    if (!pKept->CreateImage(nBitCount, crop.Width(), crop.Height(), FILL_NONE, 0, 0, 0,
                            nBitCount == 8 ? wholeMap.m_pRGBQuad.get() : nullptr)) {
        strError = pKept->GetErrorMessage();
        return nullptr;
    }
    // Storage rows count from the bottom.
    const std::size_t nOffset = static_cast<std::size_t>(crop.Left()) * (nBitCount / 8);
    const std::size_t nBytes = static_cast<std::size_t>(crop.Width()) * (nBitCount / 8);
    for (int j = 0; j < crop.Height(); ++j)
        std::memcpy(pKept->StorageRow(crop.Height() - 1 - j),
                    wholeMap.StorageRow(wholeMap.m_nImageHeight - 1 - (crop.Top() + j)) + nOffset, nBytes);
    pKept->MutableBitmap()->m_noData = wholeMap.Bitmap()->m_noData;
    pKept->SetEdges(crop.keptEdges);
    pKept->SetCoordinateSystem(wholeMap.CoordinateSystem());
    return pKept;
}

}  // namespace gridmorph
