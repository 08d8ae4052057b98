#include "world/MapEdits.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "errors/ErrorText.h"
#include "image/DIBSection.h"
#include "io/MappedFile.h"
#include "parallel/Threads.h"

namespace gridmorph {

namespace {

SMadeMap Refused(const std::string& strText)
{
    SMadeMap made;
    made.nErrorNumber = ERR_MESSAGE_IS_DETAIL;
    made.strErrorText = strText;
    return made;
}

// A map read on demand decodes the window's rows in bands on all threads (a compressed
// file's strips on every core) before they are copied.
void MakeWindowRows(const CDIBWorld& source, const SPixelWindow& window)
{
    const CRowSupply* pRows = source.Bitmap()->m_pRowSupply;
    if (!pRows)
        return;
    const long long nTop = std::max(0, window.nTop);
    const long long nEnd = std::min<long long>(source.m_nImageHeight, static_cast<long long>(window.nTop) + window.nHeight);
    constexpr int kBand = 64;
    const int nBands = nEnd > nTop ? static_cast<int>((nEnd - nTop + kBand - 1) / kBand) : 0;
    RunOrdered(
        std::clamp(GetThreadCount(), 1, std::max(1, nBands)), nBands, 2 * GetThreadCount(),
        [&](int nBand, int) {
            const int nFirst = static_cast<int>(nTop) + nBand * kBand;
            pRows->MakeRows(nFirst, std::min(kBand, static_cast<int>(nEnd) - nFirst));
        },
        [](int) { return true; });
}

}  // namespace

SMadeMap CropMapSilent(CDIBWorld& source, const SPixelWindow& window)
{
    if (!source.HasImage())
        return Refused("There is no map to crop.");
    // A rectangle that misses the picture would give a white map with no place of its own.
    const long long nRight = static_cast<long long>(window.nLeft) + window.nWidth - 1;
    const long long nBottom = static_cast<long long>(window.nTop) + window.nHeight - 1;
    if (window.nLeft >= source.m_nImageWidth || window.nTop >= source.m_nImageHeight || nRight < 0 || nBottom < 0)
        return Refused("The rectangle to crop (columns " + std::to_string(window.nLeft) + " to " +
                       std::to_string(nRight) + ", rows " + std::to_string(window.nTop) + " to " +
                       std::to_string(nBottom) + ") lies wholly outside the " + std::to_string(source.m_nImageWidth) +
                       " x " + std::to_string(source.m_nImageHeight) + " picture: there is nothing to crop.");
    try {
        MakeWindowRows(source, window);
    } catch (const std::runtime_error& error) {
        return Refused(error.what());
    }
    SMadeMap made;
    made.pMap.reset(new (std::nothrow) CDIBWorld);
    if (!made.pMap)
        return Refused("Insufficient memory for image in Crop()");
    CDIBWorld& cropped = *made.pMap;
    bool bCreated = false;
    static_cast<SSilentResult&>(made) =
        cropped.RunSilently([&] { bCreated = cropped.CreateImage(&source, window.nWidth, window.nHeight, 0); });
    if (!bCreated) {
        made.pMap.reset();
        return made;
    }
    bool bCut = false;
    const SSilentResult cut = source.RunSilently([&] {
        bCut = source.CropMap(&cropped, window.nLeft, window.nTop, window.nWidth, window.nHeight, kSrcCopy);
    });
    made.aNotices.insert(made.aNotices.end(), cut.aNotices.begin(), cut.aNotices.end());
    // The source reports why the cut failed; an error it had from before does not count.
    made.nErrorNumber = bCut ? 0 : cut.nErrorNumber;
    made.strErrorText = bCut ? std::string() : cut.strErrorText;
    // A mapped input cut short while the window was copied reads as zero bytes there.
    if (MappedFileWasCut(source.m_pImageBits)) {
        made.nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        made.strErrorText = "the input was cut short while it was being read";
    }
    // Without a georeference the pixels are there all the same.
    if (!made.Succeeded() && made.nErrorNumber != ERR_NO_WORLD_INFORMATION)
        made.pMap.reset();
    return made;
}

SMadeMap ConvertMapSilent(CDIBWorld& source, int nBitCount)
{
    if (!source.HasImage())
        return Refused("There is no map to convert.");
    if (source.m_nBitCount != 8 && source.m_nBitCount != 24 && source.m_nBitCount != 32)
        return Refused("a " + std::to_string(source.m_nBitCount) + "-bit picture cannot be converted");
    SMadeMap made;
    made.pMap.reset(new (std::nothrow) CDIBWorld);
    if (!made.pMap)
        return Refused("Insufficient memory for image in Convert()");
    CDIBWorld& converted = *made.pMap;
    // The conversion only reads the map: an error the map reported for an earlier step (a
    // refused crop, say) is not this step's and must not cut its colour count short. The
    // map keeps that report.
    const int nEarlierError = std::exchange(source.m_nErrorNumber, 0);
    const std::string strEarlierText = std::exchange(source.m_strErrorText, std::string());
    bool bCreated = false;
    static_cast<SSilentResult&>(made) = converted.RunSilently(
        [&] { bCreated = converted.CreateImage(nBitCount, &source, true, true, false, true, true); });
    source.m_nErrorNumber = nEarlierError;
    source.m_strErrorText = strEarlierText;
    if (!bCreated)
        made.pMap.reset();
    return made;
}

}  // namespace gridmorph
