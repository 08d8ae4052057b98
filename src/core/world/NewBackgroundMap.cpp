#include "world/NewBackgroundMap.h"

#include <cmath>
#include <cstdint>

#include "errors/ErrorText.h"
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
    SNewMapOutcome outcome = BuildNewBackgroundMapSilent(request, options);
    outcome.Tell();
    return std::move(outcome.pMap);
}

namespace {

// A failure told last by a warning with the picture's whole message.
void FailWith(SNewMapOutcome& outcome, const CDIBImage& image)
{
    outcome.nErrorNumber = image.m_nErrorNumber;
    outcome.strErrorText = image.m_strErrorText;
    outcome.aNotices.push_back(SNotice{EMessageKind::Warning, image.GetErrorMessage()});
}

void Keep(SNewMapOutcome& outcome, const SSilentResult& step)
{
    outcome.aNotices.insert(outcome.aNotices.end(), step.aNotices.begin(), step.aNotices.end());
}

}  // namespace

SNewMapOutcome BuildNewBackgroundMapSilent(const SNewMapRequest& request, const SEncodeOptions& options)
{
    SNewMapOutcome outcome;
    if (request.aBasedOn.empty()) {
        outcome.nErrorNumber = ERR_INVALID_ARGUMENT;
        return outcome;
    }
    CDIBWorld image;  // each based-on image in turn
    const SSilentResult first = image.OpenWorldSilent(request.aBasedOn.front(), true);
    Keep(outcome, first);
    if (!first.Succeeded()) {
        FailWith(outcome, image);
        return outcome;
    }
    SSnappedRegion region;
    const SMapEdges& wanted = request.region;
    if (!SnapRegionToGrid(image, wanted.dWest, wanted.dSouth, wanted.dEast, wanted.dNorth, region)) {
        outcome.nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        outcome.strErrorText = "The map region cannot be laid on the pixel grid of\n" + request.aBasedOn.front() +
                               "\n\nIts map edges give no pixel size, or the region is too large.";
        outcome.aNotices.push_back(SNotice{EMessageKind::Warning, outcome.strErrorText});
        return outcome;
    }

    auto pNewMap = std::make_unique<CDIBWorld>();
    const int nFileType = CDIBImage::GetFileType(request.strFileName);
    const int nDepth = nFileType == FILE_TYPE_GIF ? 8 : (nFileType == FILE_TYPE_JPEG ? 24 : 0);
    bool bCreated = false;
    Keep(outcome, pNewMap->RunSilently(
                      [&] { bCreated = pNewMap->CreateImage(&image, region.nColumns, region.nRows, nDepth); }));
    if (!bCreated) {
        FailWith(outcome, *pNewMap);
        return outcome;
    }
    pNewMap->SetEdges({region.dWest, region.dNorth, region.dEast, region.dSouth});
    pNewMap->SetCoordinateSystem(image.CoordinateSystem());  // the region is in the first map's system
    image.CloseImage();

    for (auto it = request.aBasedOn.rbegin(); it != request.aBasedOn.rend(); ++it) {
        CWaitCursor waitCursor;
        bool bCopied = false;
        Keep(outcome, image.RunSilently([&] {
            bCopied = image.OpenWorld(*it, true) && image.CopyMap(pNewMap.get(), &image, *it, true, kSrcCopy);
        }));
        if (!bCopied) {
            FailWith(outcome, image);
            return outcome;
        }
        image.CloseImage();
    }

    // The path keeps the user's letter case: on this system another case is another file.
    ESaveResult eSaved = ESaveResult::Failed;
    {
        CWaitCursor waitCursor;
        Keep(outcome, pNewMap->RunSilently([&] { eSaved = pNewMap->SaveWorld(request.strFileName, options); }));
    }
    // The picture and its world file are written together or not at all, so a failure
    // leaves whatever files of that name were there before.
    if (eSaved != ESaveResult::Written) {
        FailWith(outcome, *pNewMap);
        return outcome;
    }
    outcome.nErrorNumber = 0;
    outcome.strErrorText.clear();
    outcome.pMap = std::move(pNewMap);
    return outcome;
}

}  // namespace gridmorph
