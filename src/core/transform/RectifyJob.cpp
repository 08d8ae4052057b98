#include "transform/RectifyJob.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "io/MappedFile.h"
#include "transform/LocatorChecks.h"
#include "transform/Resample.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

// Tells a step's boxes (to the terminal, or to the batch row's messages) and, when it
// failed, records what failed; true when it succeeded.
bool TellStep(const SSilentResult& outcome, bool bSucceeded, const SRectifyJob& job, SRectifyResult& result,
              ERectifyFailure eFailure)
{
    outcome.Tell();
    if (bSucceeded)
        return true;
    result.eFailure = eFailure;
    result.strError = job.bReaderSeesBoxes ? outcome.FailureLine() : outcome.FullText();
    return false;
}

std::uint32_t Little32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

int IgnoreTiffMessage(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

bool JpegSize(std::FILE* pFile, int& nWidth, int& nHeight)
{
    if (std::fseek(pFile, 2, SEEK_SET) != 0)
        return false;
    for (int nMarkers = 0; nMarkers < 10000; ++nMarkers) {
        int c = std::fgetc(pFile);
        while (c == 0xFF)
            c = std::fgetc(pFile);
        if (c == EOF)
            return false;
        unsigned char aLength[2];
        if (std::fread(aLength, 1, 2, pFile) != 2)
            return false;
        const int nLength = aLength[0] << 8 | aLength[1];
        const bool bFrame = c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC;
        if (bFrame) {
            unsigned char aFrame[5];
            if (std::fread(aFrame, 1, 5, pFile) != 5)
                return false;
            nHeight = aFrame[1] << 8 | aFrame[2];
            nWidth = aFrame[3] << 8 | aFrame[4];
            return true;
        }
        if (nLength < 2 || std::fseek(pFile, nLength - 2, SEEK_CUR) != 0)
            return false;
    }
    return false;
}

// Opens the scan; false when it could not be read or has a depth that is not transformed.
// A scan rectified band by band (bStream) is only read: it may be mapped instead of
// copied (see CMappedFile), or read from its file a band at a time (see TiffRowsOnDemand).
bool OpenScan(const SRectifyJob& job, bool bStream, CDIBWorld& source, SRectifyResult& result)
{
    std::optional<CScopedFileMapping> mapping;
    if (bStream)
        mapping.emplace();
    const SSilentResult opened = source.OpenWorldSilent(job.strScan, false);
    mapping.reset();
    if (!TellStep(opened, opened.Succeeded(), job, result, ERectifyFailure::Open))
        return false;
    if (source.m_nBitCount != 8 && source.m_nBitCount != 24) {
        result.eFailure = ERectifyFailure::Depth;
        result.strError = "only 8-bit and 24-bit maps are transformed; this one is " +
                          std::to_string(source.m_nBitCount) + "-bit (convert it with --depth 24 or 8 first)";
        return false;
    }
    return true;
}

// Finds the locators when the job asks, then checks that they and the fourth corner lie
// on the scan and that the locators pass their checks; false when they do not.
bool CheckLocators(const SRectifyJob& job, const CDIBWorld& source, CLocatorSet& locators, SRectifyResult& result)
{
    if (job.fnFindLocators && !job.fnFindLocators(source, locators, result.strError)) {
        result.eFailure = ERectifyFailure::FindLocators;
        return false;
    }
    const std::string strSize = std::to_string(source.m_nImageWidth) + " x " + std::to_string(source.m_nImageHeight);
    for (int i = 0; i < 3; ++i)
        if (locators.LocatorX(i) < 0 || locators.LocatorX(i) >= source.m_nImageWidth ||
            locators.LocatorY(i) < 0 || locators.LocatorY(i) >= source.m_nImageHeight) {
            result.eFailure = ERectifyFailure::Outside;
            result.strError = "point " + std::to_string(i + 1) + " lies outside the " + strSize + " picture";
            return false;
        }
    if (job.bFourthCornerGiven && (job.aFourthCorner[0] < 0 || job.aFourthCorner[0] >= source.m_nImageWidth ||
                                   job.aFourthCorner[1] < 0 || job.aFourthCorner[1] >= source.m_nImageHeight)) {
        result.eFailure = ERectifyFailure::Outside;
        result.strError = "point 4 lies outside the " + strSize + " picture";
        return false;
    }
    if (!RunLocatorChecks(locators).Passed()) {
        result.eFailure = ERectifyFailure::Locators;
        result.strError = "the locators did not pass their checks";
        return false;
    }
    if (job.fnLocatorsChecked && !locators.NonRectangular())
        result.grid = job.fnLocatorsChecked(source, locators);
    return true;
}

// The locators' map positions against the output's coordinate system (the one the save
// is told, else the scan's own): refused when the system cannot have them, a warning
// when they lie far outside its area; false when refused.
bool CheckPositions(const SRectifyJob& job, const CDIBWorld& source, const CLocatorSet& locators,
                    SRectifyResult& result)
{
    const std::optional<SGeoSystem> system = job.saveOptions.system ? job.saveOptions.system
                                             : source.CoordinateSystem()
                                                 ? std::optional<SGeoSystem>(source.CoordinateSystem()->geoSystem)
                                                 : std::nullopt;
    if (!system)
        return true;
    const SPositionCheck check = CheckLocatorPositions(locators, *system);
    if (!check.strRefusal.empty()) {
        result.eFailure = ERectifyFailure::Positions;
        result.strError = check.strRefusal;
        return false;
    }
    if (!check.strWarning.empty()) {
        SSilentResult warned;
        warned.aNotices.push_back({EMessageKind::Warning, check.strWarning});
        warned.Tell();
    }
    return true;
}

// The grid cells around the locators for a map clipped to the frame; false when they
// were not found.
bool FindFrameWhenClipped(const SRectifyJob& job, const CDIBWorld& source, const CLocatorSet& locators,
                          STransformOptions& options, SRectifyResult& result)
{
    if (options.eClip == EClip::Frame &&
        (!job.fnFindFrame || !job.fnFindFrame(source, locators, options.frame, result.strError))) {
        result.eFailure = ERectifyFailure::Frame;
        if (result.strError.empty())
            result.strError = "--clip frame: the grid cells around the locators were not found";
        return false;
    }
    return true;
}

// The rows of a scan read on demand or mapped that the finding and the checks read go
// back; the transform reads them from the file again as it needs them. A scan that
// could not be read meanwhile makes no map (false).
bool GiveBackScanRows(const CDIBWorld& source, SRectifyResult& result)
{
    if (const CRowSupply* pSourceRows = source.HasImage() ? source.Bitmap()->m_pRowSupply : nullptr) {
        if (std::string strProblem = pSourceRows->Problem(); !strProblem.empty()) {
            result.eFailure = ERectifyFailure::Open;
            result.strError = strProblem;
            return false;
        }
        pSourceRows->ReleaseRows(0, source.m_nImageHeight);
    } else if (source.HasImage()) {
        DropMappedPages(source.StorageRow(0), static_cast<std::size_t>(source.m_nStride) * source.m_nImageHeight);
    }
    return true;
}

// Transforms the scan, its rows made while the file is written when pRowsOnDemand is
// given; false when the transform failed (its warning told why).
bool TransformScan(const CDIBWorld& source, const CLocatorSet& locators, const STransformOptions& options,
                   std::unique_ptr<CRowSupply>* pRowsOnDemand, std::unique_ptr<CDIBWorld>& pTransformed,
                   SRectifyResult& result)
{
    const STransformOutcome transformed =
        locators.NonRectangular()
            ? TransformNonRectangularSilent(source, locators, source.m_nBitCount, pTransformed, options,
                                            pRowsOnDemand, true)
            : TransformBitmapSilent(source, locators, source.m_nBitCount, pTransformed, options, pRowsOnDemand, true);
    transformed.Tell();
    if (transformed.eResult != ETransformResult::Done) {
        result.eFailure = ERectifyFailure::Transform;
        return false;
    }
    return true;
}

// A blended map reduced to the most frequent 256 colours, edges kept; false when the
// reduction failed.
bool ReduceToEightBit(const SRectifyJob& job, std::unique_ptr<CDIBWorld>& pTransformed, SRectifyResult& result)
{
    auto pReduced = std::make_unique<CDIBWorld>();
    bool bReduced = false;
    const SSilentResult reduced = pReduced->RunSilently(
        [&] { bReduced = pReduced->CreateImage(8, pTransformed.get(), true, true, true, true, true); });
    if (!TellStep(reduced, bReduced, job, result, ERectifyFailure::Reduce))
        return false;
    pTransformed = std::move(pReduced);
    return true;
}

// Writes the map and its world file; false when it was not written.
bool SaveMap(const SRectifyJob& job, CDIBWorld& output, bool bRowsOnDemand, SRectifyResult& result)
{
    if (job.locatorSystem && !job.saveOptions.system)
        output.SetCoordinateSystem(job.locatorSystem);
    ESaveResult eSaved = ESaveResult::Failed;
    const SSilentResult saved = output.RunSilently([&] { eSaved = output.SaveWorld(job.strOutput, job.saveOptions); });
    if (bRowsOnDemand)
        output.MutableBitmap()->m_pRowSupply = nullptr;  // its rows were given back as written
    return TellStep(saved, eSaved == ESaveResult::Written, job, result, ERectifyFailure::Save);
}

// The written map's size, edges and resolution, and how well the fourth corner agrees.
void DescribeMap(const SRectifyJob& job, const CDIBWorld& output, SRectifyResult& result)
{
    result.nWidth = output.m_nImageWidth;
    result.nHeight = output.m_nImageHeight;
    result.dWest = output.GetWest();
    result.dNorth = output.GetNorth();
    result.dEast = output.GetEast();
    result.dSouth = output.GetSouth();
    result.dResolution =
        output.m_nImageWidth > 1 ? (output.GetEast() - output.GetWest()) / (output.m_nImageWidth - 1) : 0.0;
    result.outputSystem = output.CoordinateSystem();
    // The fourth corner of the grid rectangle is where the three locators' transform puts
    // it; a scan whose corner lies elsewhere has a locator on the wrong grid line.
    const CLocatorSet& locators = result.locators;
    result.bFourthCorner = !locators.NonRectangular() &&
                           CheckFourthCorner(locators, job.bFourthCornerGiven ? job.aFourthCorner : nullptr,
                                             result.check);
}

}  // namespace

bool ReadDeclaredPictureSize(const std::string& strPath, int& nWidth, int& nHeight)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> pFile(std::fopen(strPath.c_str(), "rb"), std::fclose);
    if (!pFile)
        return false;
    unsigned char aHead[32] = {};
    const std::size_t nRead = std::fread(aHead, 1, sizeof aHead, pFile.get());
    if (nRead >= 24 && aHead[0] == 0x89 && aHead[1] == 'P' && aHead[2] == 'N' && aHead[3] == 'G') {
        nWidth = int(aHead[16] << 24 | aHead[17] << 16 | aHead[18] << 8 | aHead[19]);
        nHeight = int(aHead[20] << 24 | aHead[21] << 16 | aHead[22] << 8 | aHead[23]);
    } else if (nRead >= 26 && aHead[0] == 'B' && aHead[1] == 'M') {
        nWidth = static_cast<std::int32_t>(Little32(aHead + 18));
        nHeight = static_cast<std::int32_t>(Little32(aHead + 22));
        nHeight = nHeight < 0 ? -nHeight : nHeight;
    } else if (nRead >= 10 && aHead[0] == 'G' && aHead[1] == 'I' && aHead[2] == 'F') {
        nWidth = aHead[6] | aHead[7] << 8;
        nHeight = aHead[8] | aHead[9] << 8;
    } else if (nRead >= 3 && aHead[0] == 0xFF && aHead[1] == 0xD8) {
        if (!JpegSize(pFile.get(), nWidth, nHeight))
            return false;
    } else if (nRead >= 4 && ((aHead[0] == 'I' && aHead[1] == 'I') || (aHead[0] == 'M' && aHead[1] == 'M'))) {
        pFile.reset();
        TIFFOpenOptions* pOptions = TIFFOpenOptionsAlloc();
        if (!pOptions)
            return false;
        TIFFOpenOptionsSetErrorHandlerExtR(pOptions, IgnoreTiffMessage, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(pOptions, IgnoreTiffMessage, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(pOptions, tmsize_t(16) << 20);
        std::unique_ptr<TIFF, void (*)(TIFF*)> pTiff(TIFFOpenExt(strPath.c_str(), "r", pOptions), TIFFClose);
        TIFFOpenOptionsFree(pOptions);
        if (!pTiff)
            return false;
        std::uint32_t nTiffWidth = 0, nTiffHeight = 0;
        if (!TIFFGetField(pTiff.get(), TIFFTAG_IMAGEWIDTH, &nTiffWidth) ||
            !TIFFGetField(pTiff.get(), TIFFTAG_IMAGELENGTH, &nTiffHeight))
            return false;
        nWidth = int(nTiffWidth > 0x7FFFFFFF ? 0x7FFFFFFF : nTiffWidth);
        nHeight = int(nTiffHeight > 0x7FFFFFFF ? 0x7FFFFFFF : nTiffHeight);
    } else {
        return false;
    }
    return nWidth > 0 && nHeight > 0;
}

std::uint64_t EstimateRectifyMemory(int nWidth, int nHeight)
{
    const std::uint64_t nPixels = std::uint64_t(nWidth) * std::uint64_t(nHeight);
    // 3 bytes a pixel for the scan, up to 1.5 times that for the output, and a margin for
    // the encoder's strips and the resampler's rows.
    return nPixels * 3 + nPixels * 9 / 2 + (std::uint64_t(16) << 20);
}

SRectifyResult RectifyScan(const SRectifyJob& job)
{
    SRectifyResult result;
    result.locators = job.locators;
    CLocatorSet& locators = result.locators;
    CDIBWorld source;
    // Rows made while the file is written, unless the whole picture is wanted or the
    // reduction to 256 colours needs it.
    const bool bStream = !job.bWholePicture && !job.bEightBit;
    STransformOptions options = job.options;
    if (!OpenScan(job, bStream, source, result) || !CheckLocators(job, source, locators, result) ||
        !CheckPositions(job, source, locators, result) ||
        !FindFrameWhenClipped(job, source, locators, options, result) || !GiveBackScanRows(source, result))
        return result;
    std::unique_ptr<CDIBWorld> pTransformed;
    std::unique_ptr<CRowSupply> pRowsOnDemand;
    if (!TransformScan(source, locators, options, bStream ? &pRowsOnDemand : nullptr, pTransformed, result))
        return result;
    if (!pRowsOnDemand)
        source.CloseImage();  // the source's memory is not needed while the result is written
    if (job.bEightBit && pTransformed->m_nBitCount != 8 && !ReduceToEightBit(job, pTransformed, result))
        return result;
    if (!SaveMap(job, *pTransformed, pRowsOnDemand != nullptr, result))
        return result;
    DescribeMap(job, *pTransformed, result);
    return result;
}

}  // namespace gridmorph
