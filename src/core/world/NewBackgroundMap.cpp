#include "world/NewBackgroundMap.h"

#include <cmath>
#include <cstdint>

#include "platform/Platform.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

// floor and ceil on 32-bit integers: truncate toward zero, then correct by one when the
// truncated value lies on the wrong side of the real one.
bool FloorToInt(double dValue, std::int32_t& nResult)
{
    if (!(dValue > -2147483647.0 && dValue < 2147483647.0))
        return false;
    nResult = static_cast<std::int32_t>(dValue);
    if (nResult > dValue)
        --nResult;
    return true;
}

bool CeilToInt(double dValue, std::int32_t& nResult)
{
    if (!(dValue > -2147483647.0 && dValue < 2147483647.0))
        return false;
    nResult = static_cast<std::int32_t>(dValue);
    if (nResult < dValue)
        ++nResult;
    return true;
}

}  // namespace

bool SnapRegionToGrid(const CDIBWorld& grid, double dWest, double dSouth, double dEast, double dNorth,
                      SSnappedRegion& region)
{
    const double w = grid.m_nImageWidth, h = grid.m_nImageHeight;
    const double W = grid.GetWest(), E = grid.GetEast(), N = grid.GetNorth(), S = grid.GetSouth();
    const double px = (w - 1) / (E - W);
    const double py = (h - 1) / (N - S);
    std::int32_t cw = 0, ce = 0, rs = 0, rn = 0;
    if (!std::isfinite(px) || !std::isfinite(py) || px == 0 || py == 0 || !FloorToInt((dWest - W) * px, cw) ||
        !CeilToInt((dEast - W) * px, ce) || !FloorToInt((dSouth - S) * py, rs) || !CeilToInt((dNorth - S) * py, rn))
        return false;
    const std::int64_t nColumns = std::int64_t(ce) - cw + 1;
    const std::int64_t nRows = std::int64_t(rn) - rs + 1;
    if (nColumns > INT32_MAX || nRows > INT32_MAX)
        return false;
    region.dWest = W + cw / px;
    region.dEast = W + ce / px;
    region.dSouth = S + rs / py;
    region.dNorth = S + rn / py;
    region.nColumns = static_cast<int>(nColumns);
    region.nRows = static_cast<int>(nRows);
    return true;
}

std::unique_ptr<CDIBWorld> BuildNewBackgroundMap(const SNewMapRequest& request, const SEncodeOptions& options)
{
    if (request.aBasedOn.empty())
        return nullptr;
    CDIBWorld image;  // each based-on image in turn
    if (!image.OpenWorld(request.aBasedOn.front(), true)) {
        ShowWarning(image.GetErrorMessage());
        return nullptr;
    }
    SSnappedRegion region;
    if (!SnapRegionToGrid(image, request.dWest, request.dSouth, request.dEast, request.dNorth, region)) {
        ShowWarning("The map region cannot be laid on the pixel grid of\n" + request.aBasedOn.front() +
                    "\n\nIts map edges give no pixel size, or the region is too large.");
        return nullptr;
    }

    auto pNewMap = std::make_unique<CDIBWorld>();
    const int nFileType = CDIBImage::GetFileType(request.strFileName);
    const int nDepth = nFileType == FILE_TYPE_GIF ? 8 : (nFileType == FILE_TYPE_JPEG ? 24 : 0);
    if (!pNewMap->CreateImage(&image, region.nColumns, region.nRows, nDepth)) {
        ShowWarning(pNewMap->GetErrorMessage());
        return nullptr;
    }
    pNewMap->SetEdges(region.dWest, region.dNorth, region.dEast, region.dSouth);
    pNewMap->SetCoordinateSystem(image.CoordinateSystem());  // the region is in the first map's system
    image.CloseImage();

    for (auto it = request.aBasedOn.rbegin(); it != request.aBasedOn.rend(); ++it) {
        CWaitCursor waitCursor;
        if (!image.OpenWorld(*it, true) || !image.CopyMap(pNewMap.get(), &image, *it, true, kSrcCopy)) {
            ShowWarning(image.GetErrorMessage());
            return nullptr;
        }
        image.CloseImage();
    }

    ESaveResult eSaved;
    {
        CWaitCursor waitCursor;
        // The path keeps the user's letter case: on this system another case is another file.
        eSaved = pNewMap->SaveWorld(request.strFileName, options);
    }
    // The picture and its world file are written together or not at all, so a failure
    // leaves whatever files of that name were there before.
    if (eSaved != ESaveResult::Written) {
        ShowWarning(pNewMap->GetErrorMessage());
        return nullptr;
    }
    return pNewMap;
}

}  // namespace gridmorph
