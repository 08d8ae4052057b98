// TIFF files through libtiff. Common layouts (palette, grey, RGB and RGBA with 1 to 16
// bits per sample, in strips or tiles) are converted row by row straight into the
// picture's storage; anything else (planar, CMYK, YCbCr without JPEG, Lab ...) goes
// through libtiff's RGBA reader one strip or tile at a time.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/GeoTiffTags.h"
#include "io/Numbers.h"
#include "image/codecs/ImageCodec.h"
#include "image/codecs/TiffReading.h"
#include "image/codecs/TiffRowsOnDemand.h"
#include "io/MappedFile.h"
#include "image/codecs/TiffStripWriter.h"
#include "io/SafeFileWriter.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace tiff {
namespace {

int OnTiffError(TIFF*, void* pUserData, const char* pModule, const char* pFormat, va_list args)
{
    auto* pMessages = static_cast<STiffMessages*>(pUserData);
    if (pMessages && pMessages->strError.empty()) {
        char szText[512];
        std::vsnprintf(szText, sizeof szText, pFormat, args);
        pMessages->strError = std::string(pModule ? pModule : "TIFF") + ": " + szText;
    }
    return 1;
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

// No picture the program reads has more samples per pixel (CMYK with alpha and a few
// extras); a file that says more is damaged, and its rows would be gigabytes long.
constexpr int kTiffMaxSamplesPerPixel = 16;

TIFF* OpenTiff(const std::string& strPath, int nFd, const char* pMode, STiffMessages& messages,
               CTiffOutputFile* pOutput)
{
    RegisterGeoTiffTags();
    TIFFOpenOptions* pOptions = TIFFOpenOptionsAlloc();
    if (!pOptions)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(pOptions, OnTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(pOptions, OnTiffWarning, &messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(pOptions, kTiffMaxSingleAllocation);
    TIFF* pTiff = pOutput    ? pOutput->Open(strPath.c_str(), pMode, pOptions)
                  : nFd >= 0 ? TIFFFdOpenExt(nFd, strPath.c_str(), pMode, pOptions)
                             : TIFFOpenExt(strPath.c_str(), pMode, pOptions);
    TIFFOpenOptionsFree(pOptions);
    return pTiff;
}

namespace {

class CTiffCodec final : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Tiff; }
    SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const override;
    SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                        const SEncodeOptions& options) const override;
    bool EncodesRowsOnDemand() const override { return true; }
};

// Sample nIndex (counted over the whole row) of a packed row, scaled to 8 bits.
inline std::uint8_t SampleAt(const std::uint8_t* pRow, int nIndex, int nBits)
{
    switch (nBits) {
    case 8:
        return pRow[nIndex];
    case 16: {
        std::uint16_t nValue;
        std::memcpy(&nValue, pRow + 2 * nIndex, 2);  // libtiff hands samples over in host order
        return static_cast<std::uint8_t>(nValue >> 8);
    }
    default: {
        const int nBit = nIndex * nBits;
        const int nMax = (1 << nBits) - 1;
        const int nValue = (pRow[nBit >> 3] >> (8 - nBits - (nBit & 7))) & nMax;
        return static_cast<std::uint8_t>(nValue * 255 / nMax);
    }
    }
}

}  // namespace

void ConvertSamples(const STiffLayout& layout, const std::uint8_t* pSamples, int nCount, std::uint8_t* pTargetRow,
                    int nFirst)
{
    const int nBits = layout.nBitsPerSample;
    const int nSamples = layout.nSamplesPerPixel;
    if (layout.nPhotometric == PHOTOMETRIC_PALETTE) {
        if (layout.nPictureBits == 8 && nBits == 8) {
            std::memcpy(pTargetRow + nFirst, pSamples, static_cast<std::size_t>(nCount));
        } else if (layout.nPictureBits == nBits) {
            // 1- and 4-bit rows are packed as the picture packs them; tiles start on byte bounds.
            std::memcpy(pTargetRow + (static_cast<std::size_t>(nFirst) * nBits) / 8, pSamples,
                        (static_cast<std::size_t>(nCount) * nBits + 7) / 8);
        } else {  // 2-bit indices widened to bytes
            const int nMax = (1 << nBits) - 1;
            for (int x = 0; x < nCount; ++x) {
                const int nBit = x * nBits;
                pTargetRow[nFirst + x] = static_cast<std::uint8_t>((pSamples[nBit >> 3] >> (8 - nBits - (nBit & 7))) & nMax);
            }
        }
        return;
    }
    const bool bInvert = layout.nPhotometric == PHOTOMETRIC_MINISWHITE;
    const int nStep = layout.nPictureBits / 8;
    std::uint8_t* pTarget = pTargetRow + static_cast<std::size_t>(nFirst) * nStep;
    // The common layouts of 8-bit samples, without per-sample dispatch.
    if (nBits == 8 && layout.nPhotometric == PHOTOMETRIC_RGB && nStep == 3 && nSamples == 3) {
        SwapRedAndBlue(pSamples, pTarget, nCount);
        return;
    }
    if (nBits == 8 && layout.nPhotometric == PHOTOMETRIC_RGB && nStep == 4 && nSamples == 4) {
        for (int x = 0; x < nCount; ++x, pTarget += 4, pSamples += 4) {
            pTarget[0] = pSamples[2];
            pTarget[1] = pSamples[1];
            pTarget[2] = pSamples[0];
            pTarget[3] = pSamples[3];
        }
        return;
    }
    if (nBits == 8 && nStep == 1 && nSamples == 1 && !bInvert) {
        std::memcpy(pTarget, pSamples, static_cast<std::size_t>(nCount));
        return;
    }
    for (int x = 0; x < nCount; ++x, pTarget += nStep) {
        const int nBase = x * nSamples;
        if (layout.nPhotometric == PHOTOMETRIC_RGB) {
            pTarget[2] = SampleAt(pSamples, nBase, nBits);
            pTarget[1] = SampleAt(pSamples, nBase + 1, nBits);
            pTarget[0] = SampleAt(pSamples, nBase + 2, nBits);
            if (nStep == 4)
                pTarget[3] = layout.bAlpha ? SampleAt(pSamples, nBase + 3, nBits) : 255;
        } else {
            std::uint8_t nGrey = SampleAt(pSamples, nBase, nBits);
            if (bInvert)
                nGrey = static_cast<std::uint8_t>(255 - nGrey);
            pTarget[0] = nGrey;
            if (nStep == 4) {
                pTarget[1] = pTarget[2] = nGrey;
                pTarget[3] = layout.bAlpha ? SampleAt(pSamples, nBase + 1, nBits) : 255;
            }
        }
    }
}

namespace {

SCodecStatus ChooseLayout(TIFF* pTiff, STiffLayout& layout)
{
    std::uint16_t nBits = 1, nSamples = 1, nPhotometric = PHOTOMETRIC_MINISWHITE, nPlanar = PLANARCONFIG_CONTIG;
    std::uint16_t nSampleFormat = SAMPLEFORMAT_UINT, nCompression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_BITSPERSAMPLE, &nBits);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_SAMPLESPERPIXEL, &nSamples);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_PLANARCONFIG, &nPlanar);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_SAMPLEFORMAT, &nSampleFormat);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nCompression);
    if (!TIFFGetField(pTiff, TIFFTAG_PHOTOMETRIC, &nPhotometric))
        nPhotometric = nSamples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    std::uint16_t nExtraCount = 0;
    std::uint16_t* pExtraTypes = nullptr;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_EXTRASAMPLES, &nExtraCount, &pExtraTypes);

    if (nPhotometric == PHOTOMETRIC_YCBCR && nCompression == COMPRESSION_JPEG) {
        // Let libjpeg turn YCbCr into RGB as it decodes.
        TIFFSetField(pTiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        nPhotometric = PHOTOMETRIC_RGB;
    }
    if (nSamples < 1 || nSamples > kTiffMaxSamplesPerPixel)
        return SCodecStatus::Fail(codec_result::kCorrupt,
                                  "TIFF: the file declares " + std::to_string(nSamples) + " samples per pixel.");
    if (nSampleFormat != SAMPLEFORMAT_UINT && nSampleFormat != SAMPLEFORMAT_VOID)
        return SCodecStatus::Fail(codec_result::kUnsupported, "TIFF: only unsigned integer samples are supported.");

    layout.nBitsPerSample = nBits;
    layout.nSamplesPerPixel = nSamples;
    layout.nPhotometric = nPhotometric;
    const bool bBitsKnown = nBits == 1 || nBits == 2 || nBits == 4 || nBits == 8 || nBits == 16;
    const bool bContiguous = nPlanar == PLANARCONFIG_CONTIG || nSamples == 1;

    if (bBitsKnown && bContiguous) {
        if (nPhotometric == PHOTOMETRIC_PALETTE && nSamples == 1 && nBits <= 8) {
            layout.nPictureBits = nBits == 2 ? 8 : nBits;
            return SCodecStatus::Ok();
        }
        if ((nPhotometric == PHOTOMETRIC_MINISBLACK || nPhotometric == PHOTOMETRIC_MINISWHITE) && nSamples >= 1) {
            layout.bAlpha = nSamples >= 2 && nExtraCount >= 1;
            layout.nPictureBits = layout.bAlpha ? 32 : 8;
            return SCodecStatus::Ok();
        }
        if (nPhotometric == PHOTOMETRIC_RGB && nSamples >= 3) {
            layout.bAlpha = nSamples >= 4 && nExtraCount >= 1;
            layout.nPictureBits = layout.bAlpha ? 32 : 24;
            return SCodecStatus::Ok();
        }
    }
    char szReason[1024] = "";
    if (!TIFFRGBAImageOK(pTiff, szReason))
        return SCodecStatus::Fail(codec_result::kUnsupported, std::string("TIFF: ") + szReason);
    layout.bGeneric = true;
    layout.bAlpha = nExtraCount >= 1;
    layout.nPictureBits = layout.bAlpha ? 32 : 24;
    return SCodecStatus::Ok();
}

SCodecStatus ReadColourMap(TIFF* pTiff, CDIBSection& picture, int nBits)
{
    std::uint16_t* pRed = nullptr;
    std::uint16_t* pGreen = nullptr;
    std::uint16_t* pBlue = nullptr;
    if (!TIFFGetField(pTiff, TIFFTAG_COLORMAP, &pRed, &pGreen, &pBlue))
        return SCodecStatus::Fail(codec_result::kCorrupt, "TIFF: a palette picture without a colour map.");
    const int nEntries = 1 << nBits;
    // Some old writers stored 8-bit values; then no entry reaches 256.
    bool bEightBit = true;
    for (int i = 0; i < nEntries && bEightBit; ++i)
        bEightBit = pRed[i] < 256 && pGreen[i] < 256 && pBlue[i] < 256;
    const int nShift = bEightBit ? 0 : 8;
    std::vector<SRGBQuad> aTable(static_cast<std::size_t>(nEntries));
    for (int i = 0; i < nEntries; ++i)
        aTable[static_cast<std::size_t>(i)] = SRGBQuad{static_cast<std::uint8_t>(pBlue[i] >> nShift),
                                                       static_cast<std::uint8_t>(pGreen[i] >> nShift),
                                                       static_cast<std::uint8_t>(pRed[i] >> nShift), 0};
    picture.SetColourTable(0, nEntries, aTable.data());
    return SCodecStatus::Ok();
}

SCodecStatus Failure(const STiffMessages& messages, const char* pFallback)
{
    return SCodecStatus::Fail(codec_result::kCorrupt,
                              messages.strError.empty() ? std::string("TIFF: ") + pFallback : messages.strError);
}

SCodecStatus ReadGeneric(TIFF* pTiff, CDIBSection& picture, const STiffLayout& layout, const STiffMessages& messages)
{
    const int nWidth = picture.Width();
    const int nHeight = picture.Height();
    const int nStep = layout.nPictureBits / 8;
    auto Store = [&](const std::uint32_t* pRaster, int nRasterWidth, int nX0, int nY0, int nColumns, int nRows) {
        // libtiff's RGBA raster has its first row at the bottom.
        for (int r = 0; r < nRows; ++r) {
            const std::uint32_t* pSource = pRaster + static_cast<std::size_t>(nRows - 1 - r) * nRasterWidth;
            std::uint8_t* pTarget = picture.PictureRow(nY0 + r) + static_cast<std::size_t>(nX0) * nStep;
            for (int x = 0; x < nColumns; ++x, pTarget += nStep) {
                const std::uint32_t nPixel = pSource[x];
                pTarget[0] = static_cast<std::uint8_t>(TIFFGetB(nPixel));
                pTarget[1] = static_cast<std::uint8_t>(TIFFGetG(nPixel));
                pTarget[2] = static_cast<std::uint8_t>(TIFFGetR(nPixel));
                if (nStep == 4)
                    pTarget[3] = static_cast<std::uint8_t>(TIFFGetA(nPixel));
            }
        }
    };
    if (TIFFIsTiled(pTiff)) {
        std::uint32_t nTileWidth = 0, nTileHeight = 0;
        TIFFGetField(pTiff, TIFFTAG_TILEWIDTH, &nTileWidth);
        TIFFGetField(pTiff, TIFFTAG_TILELENGTH, &nTileHeight);
        if (!nTileWidth || !nTileHeight || std::uint64_t(nTileWidth) * nTileHeight * 4 > std::uint64_t(kTiffMaxSingleAllocation))
            return SCodecStatus::Fail(codec_result::kCorrupt, "TIFF: the tile size is not usable.");
        std::vector<std::uint32_t> aRaster(static_cast<std::size_t>(nTileWidth) * nTileHeight);
        for (std::uint32_t nY = 0; nY < std::uint32_t(nHeight); nY += nTileHeight)
            for (std::uint32_t nX = 0; nX < std::uint32_t(nWidth); nX += nTileWidth) {
                if (!TIFFReadRGBATile(pTiff, nX, nY, aRaster.data()))
                    return Failure(messages, "a tile cannot be read.");
                const int nRows = static_cast<int>(std::min<std::uint32_t>(nTileHeight, nHeight - nY));
                const int nColumns = static_cast<int>(std::min<std::uint32_t>(nTileWidth, nWidth - nX));
                // A tile's raster is a full tile high; its visible rows are the top ones.
                Store(aRaster.data() + static_cast<std::size_t>(nTileHeight - nRows) * nTileWidth,
                      static_cast<int>(nTileWidth), static_cast<int>(nX), static_cast<int>(nY), nColumns, nRows);
            }
        return SCodecStatus::Ok();
    }
    std::uint32_t nRowsPerStrip = 0;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_ROWSPERSTRIP, &nRowsPerStrip);
    nRowsPerStrip = std::min<std::uint32_t>(std::max<std::uint32_t>(nRowsPerStrip, 1), std::uint32_t(nHeight));
    if (std::uint64_t(nWidth) * nRowsPerStrip * 4 > std::uint64_t(kTiffMaxSingleAllocation))
        return SCodecStatus::Fail(codec_result::kUnsupported, "TIFF: the strips of this file are too large to convert.");
    std::vector<std::uint32_t> aRaster(static_cast<std::size_t>(nWidth) * nRowsPerStrip);
    for (std::uint32_t nY = 0; nY < std::uint32_t(nHeight); nY += nRowsPerStrip) {
        if (!TIFFReadRGBAStrip(pTiff, nY, aRaster.data()))
            return Failure(messages, "a strip cannot be read.");
        const int nRows = static_cast<int>(std::min<std::uint32_t>(nRowsPerStrip, nHeight - nY));
        Store(aRaster.data(), nWidth, 0, static_cast<int>(nY), nWidth, nRows);
    }
    return SCodecStatus::Ok();
}

// Uncompressed strips whose bytes need no reordering by libtiff are read straight from
// the file in blocks of about a megabyte, each block converted row by row while it is
// still in the cache, the blocks shared out between the threads. False when the file is
// not of that kind or a strip is shorter than its rows (then libtiff reads it, and says
// what is wrong).
constexpr std::size_t kReadBlockBytes = std::size_t(1) << 20;

bool ReadUncompressedStrips(TIFF* pTiff, const CInputFile& file, CDIBSection& picture, const STiffLayout& layout)
{
    std::uint16_t nCompression = COMPRESSION_NONE, nFillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nCompression);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_FILLORDER, &nFillOrder);
    if (TIFFIsTiled(pTiff) || nCompression != COMPRESSION_NONE || nFillOrder != FILLORDER_MSB2LSB ||
        (layout.nBitsPerSample == 16 && TIFFIsByteSwapped(pTiff)))
        return false;
    const int nWidth = picture.Width();
    const int nHeight = picture.Height();
    const tmsize_t nLineBytes = TIFFScanlineSize(pTiff);
    std::uint32_t nRowsPerStrip = 0;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_ROWSPERSTRIP, &nRowsPerStrip);
    nRowsPerStrip = std::clamp<std::uint32_t>(nRowsPerStrip, 1, std::uint32_t(nHeight));
    // The table of row places below costs 8 bytes a row; pictures with narrower rows (a
    // hostile file may declare billions of them) are left to libtiff.
    if (nLineBytes < tmsize_t(sizeof(std::uint64_t)) || nLineBytes > kTiffMaxSingleAllocation)
        return false;
    const std::size_t nRowBytes = static_cast<std::size_t>(nLineBytes);
    const std::uint32_t nStrips = (std::uint32_t(nHeight) + nRowsPerStrip - 1) / nRowsPerStrip;
    if (nStrips != TIFFNumberOfStrips(pTiff))
        return false;
    // Where each row lies in the file, checked before anything is read.
    for (std::uint32_t nStrip = 0; nStrip < nStrips; ++nStrip) {
        const std::uint64_t nRows = std::min<std::uint64_t>(nRowsPerStrip, std::uint64_t(nHeight) - std::uint64_t(nStrip) * nRowsPerStrip);
        const std::uint64_t nOffset = TIFFGetStrileOffset(pTiff, nStrip);
        if (TIFFGetStrileByteCount(pTiff, nStrip) < nRows * nRowBytes || nOffset > file.Size() ||
            nRows * nRowBytes > file.Size() - nOffset)
            return false;
    }
    auto RowOffset = [&](int y) {
        return TIFFGetStrileOffset(pTiff, std::uint32_t(y) / nRowsPerStrip) + (std::uint32_t(y) % nRowsPerStrip) * nRowBytes;
    };
    // The libtiff handle is not shared between threads: every row's place is taken first.
    std::vector<std::uint64_t> aRowOffsets;
    try {
        aRowOffsets.resize(static_cast<std::size_t>(nHeight));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = 0; y < nHeight; ++y)
        aRowOffsets[static_cast<std::size_t>(y)] = RowOffset(y);

    const int nBlockRows = static_cast<int>(std::clamp<std::size_t>(kReadBlockBytes / nRowBytes, 1, std::size_t(nHeight)));
    const int nBlocks = (nHeight + nBlockRows - 1) / nBlockRows;
    const int nThreads = std::clamp(GetThreadCount(), 1, nBlocks);
    std::vector<std::vector<std::uint8_t>> aScratch(static_cast<std::size_t>(nThreads));
    std::atomic<bool> bShort{false};
    try {
        RunOrdered(
            nThreads, nBlocks, 4 * nThreads,
            [&](int nBlock, int nSlot) {
                std::vector<std::uint8_t>& aBuffer = aScratch[static_cast<std::size_t>(nSlot)];
                aBuffer.resize(static_cast<std::size_t>(nBlockRows) * nRowBytes);
                const int nFirst = nBlock * nBlockRows;
                const int nEnd = std::min(nHeight, nFirst + nBlockRows);
                // Rows that follow each other in the file are read with one call.
                for (int y = nFirst; y < nEnd && !bShort;) {
                    int nRunEnd = y + 1;
                    while (nRunEnd < nEnd && aRowOffsets[std::size_t(nRunEnd)] == aRowOffsets[std::size_t(nRunEnd - 1)] + nRowBytes)
                        ++nRunEnd;
                    std::uint8_t* pRun = aBuffer.data() + std::size_t(y - nFirst) * nRowBytes;
                    if (!file.ReadAt(aRowOffsets[std::size_t(y)], pRun, std::size_t(nRunEnd - y) * nRowBytes)) {
                        bShort = true;
                        return;
                    }
                    for (int r = y; r < nRunEnd; ++r)
                        ConvertSamples(layout, aBuffer.data() + std::size_t(r - nFirst) * nRowBytes, nWidth, picture.PictureRow(r), 0);
                    y = nRunEnd;
                }
            },
            [&](int) { return !bShort; });
    } catch (const std::bad_alloc&) {
        return false;  // libtiff reads it again row by row
    }
    return !bShort;
}

SCodecStatus ReadDirect(TIFF* pTiff, const CInputFile& file, CDIBSection& picture, const STiffLayout& layout,
                        const STiffMessages& messages)
{
    const int nWidth = picture.Width();
    const int nHeight = picture.Height();
    if (TIFFIsTiled(pTiff)) {
        std::uint32_t nTileWidth = 0, nTileHeight = 0;
        TIFFGetField(pTiff, TIFFTAG_TILEWIDTH, &nTileWidth);
        TIFFGetField(pTiff, TIFFTAG_TILELENGTH, &nTileHeight);
        const tmsize_t nTileBytes = TIFFTileSize(pTiff);
        const tmsize_t nTileRowBytes = TIFFTileRowSize(pTiff);
        if (!nTileWidth || !nTileHeight || nTileBytes <= 0 || nTileRowBytes <= 0 || nTileBytes > kTiffMaxSingleAllocation)
            return SCodecStatus::Fail(codec_result::kCorrupt, "TIFF: the tile size is not usable.");
        std::vector<std::uint8_t> aTile(static_cast<std::size_t>(nTileBytes));
        for (std::uint32_t nY = 0; nY < std::uint32_t(nHeight); nY += nTileHeight)
            for (std::uint32_t nX = 0; nX < std::uint32_t(nWidth); nX += nTileWidth) {
                const ttile_t nTile = TIFFComputeTile(pTiff, nX, nY, 0, 0);
                if (TIFFReadEncodedTile(pTiff, nTile, aTile.data(), nTileBytes) < 0)
                    return Failure(messages, "a tile cannot be read.");
                const int nRows = static_cast<int>(std::min<std::uint32_t>(nTileHeight, nHeight - nY));
                const int nColumns = static_cast<int>(std::min<std::uint32_t>(nTileWidth, nWidth - nX));
                for (int r = 0; r < nRows; ++r)
                    ConvertSamples(layout, aTile.data() + static_cast<std::size_t>(r) * nTileRowBytes, nColumns,
                                   picture.PictureRow(static_cast<int>(nY) + r), static_cast<int>(nX));
            }
        return SCodecStatus::Ok();
    }
    if (ReadUncompressedStrips(pTiff, file, picture, layout))
        return SCodecStatus::Ok();
    // Scanline reading decodes strip by strip without holding a whole strip, which for
    // an uncompressed single-strip file would be the whole picture again.
    const tmsize_t nLineBytes = TIFFScanlineSize(pTiff);
    if (nLineBytes <= 0 || nLineBytes > kTiffMaxSingleAllocation)
        return Failure(messages, "the row size is not usable.");
    std::vector<std::uint8_t> aLine(static_cast<std::size_t>(nLineBytes));
    for (int y = 0; y < nHeight; ++y) {
        if (TIFFReadScanline(pTiff, aLine.data(), static_cast<std::uint32_t>(y), 0) < 0)
            return Failure(messages, "a row cannot be read.");
        ConvertSamples(layout, aLine.data(), nWidth, picture.PictureRow(y), 0);
    }
    return SCodecStatus::Ok();
}

// An alpha channel, or GDAL's no-data tag: one number, the value of every band that stands for no data. An
// 8-bit picture takes it as a palette index, a 24-bit one as a grey colour; other values
// (fractions, out of range) are left alone.
void ReadNoDataTag(TIFF* pTiff, CDIBSection& picture, bool bAlpha)
{
    if (bAlpha) {  // the alpha channel says where there is no data
        picture.m_noData.bSet = true;
        picture.m_noData.bTransparent = true;
        return;
    }
    // A tag libtiff does not know is read as an anonymous field, which comes with its count.
    const TIFFField* pField = TIFFFindField(pTiff, TIFFTAG_GDAL_NODATA, TIFF_ANY);
    const char* pText = nullptr;
    bool bRead = false;
    if (pField && !TIFFFieldPassCount(pField)) {
        bRead = TIFFGetField(pTiff, TIFFTAG_GDAL_NODATA, &pText) != 0;
    } else if (pField && TIFFFieldReadCount(pField) == TIFF_VARIABLE2) {
        std::uint32_t nCount = 0;
        bRead = TIFFGetField(pTiff, TIFFTAG_GDAL_NODATA, &nCount, &pText) != 0 && nCount > 0;
    } else if (pField) {
        std::uint16_t nCount = 0;
        bRead = TIFFGetField(pTiff, TIFFTAG_GDAL_NODATA, &nCount, &pText) != 0 && nCount > 0;
    }
    if (!bRead || !pText)
        return;
    const char* pEnd = nullptr;
    const double dValue = ScanNumber(pText, &pEnd);
    if (pEnd == pText || !(dValue >= 0 && dValue <= 255) || dValue != static_cast<int>(dValue))
        return;
    SNoDataValue& noData = picture.m_noData;
    if (picture.BitCount() == 8) {
        noData.bSet = true;
        noData.nIndex = static_cast<int>(dValue);
    } else if (picture.BitCount() == 24) {
        noData.bSet = true;
        noData.nRed = noData.nGreen = noData.nBlue = static_cast<std::uint8_t>(dValue);
    }
}

// Names the picture's no-data value in GDAL's tag, where one number says it: an 8-bit
// picture's index, or a 24-bit picture's grey. A 32-bit picture's alpha says it already.
void WriteNoDataTag(TIFF* pTiff, const CDIBSection& picture)
{
    const SNoDataValue& noData = picture.m_noData;
    if (!noData.bSet)
        return;
    std::string strValue;
    if (picture.BitCount() == 8 && noData.nIndex >= 0)
        strValue = std::to_string(noData.nIndex);
    else if (picture.BitCount() == 24 && noData.nRed == noData.nGreen && noData.nGreen == noData.nBlue)
        strValue = std::to_string(noData.nRed);
    if (strValue.empty())
        return;
    // libtiff may not know GDAL's tag: it is made known to this file as an ASCII field.
    if (!TIFFFindField(pTiff, TIFFTAG_GDAL_NODATA, TIFF_ANY)) {
        static const TIFFFieldInfo s_noDataField = {TIFFTAG_GDAL_NODATA, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
                                                    const_cast<char*>("GDALNoDataValue")};
        TIFFMergeFieldInfo(pTiff, &s_noDataField, 1);
    }
    TIFFSetField(pTiff, TIFFTAG_GDAL_NODATA, strValue.c_str());
}

SCodecStatus CTiffCodec::Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const
{
    CInputFile file;
    if (SCodecStatus status = file.Open(strPath); status.Failed())
        return status;
    STiffMessages messages;
    STiffHandle handle;
    // "m": read, do not map the file; a mapped file would count its pages against the
    // open's memory on top of the picture.
    handle.pTiff = OpenTiff(strPath, -1, "rm", messages);
    if (!handle.pTiff)
        return Failure(messages, "the file is not a TIFF picture.");
    TIFF* pTiff = handle.pTiff;

    std::uint32_t nWidth = 0, nHeight = 0;
    TIFFGetField(pTiff, TIFFTAG_IMAGEWIDTH, &nWidth);
    TIFFGetField(pTiff, TIFFTAG_IMAGELENGTH, &nHeight);
    if (nWidth == 0 || nHeight == 0 || nWidth > 0x7FFFFFFF || nHeight > 0x7FFFFFFF)
        return SCodecStatus::Fail(codec_result::kCorrupt, "TIFF: the file declares a picture of " +
                                                              std::to_string(nWidth) + " x " + std::to_string(nHeight) +
                                                              " pixels.");
    STiffLayout layout;
    if (SCodecStatus status = ChooseLayout(pTiff, layout); status.Failed())
        return status;
    // The file's rows packed, against the most its compression can pack into a byte
    // (LZW: a 12-bit code for at most 4096 bytes; deflate 1032 to 1; PackBits 128 bytes in
    // 2). A file far smaller than that is refused before the picture is made; other
    // compressions are not bounded.
    std::uint16_t nFileCompression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nFileCompression);
    double dMostPacking = 0.0;
    switch (nFileCompression) {
    case COMPRESSION_NONE:
        dMostPacking = 1.0;
        break;
    case COMPRESSION_LZW:
        dMostPacking = 4096.0 * 8.0 / 12.0;
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        dMostPacking = 1032.0;
        break;
    case COMPRESSION_PACKBITS:
        dMostPacking = 64.0;
        break;
    default:
        break;
    }
    if (const std::uint64_t nRowBytes = TIFFScanlineSize64(pTiff); dMostPacking > 0.0 && nRowBytes > 0) {
        const double dPixelsPerRowByte = static_cast<double>(nWidth) / static_cast<double>(nRowBytes);
        if (SCodecStatus status = CheckDataCanHoldPicture("TIFF", static_cast<int>(nWidth), static_cast<int>(nHeight),
                                                          layout.nPictureBits, file.Size(),
                                                          dMostPacking * dPixelsPerRowByte);
            status.Failed())
            return status;
    }
    if (SCodecStatus status = CreateDecodedPicture(static_cast<int>(nWidth), static_cast<int>(nHeight),
                                                   layout.nPictureBits, pPicture);
        status.Failed())
        return status;
    SCodecStatus status;
    if (!layout.bGeneric && layout.nPhotometric == PHOTOMETRIC_PALETTE)
        status = ReadColourMap(pTiff, *pPicture, layout.nBitsPerSample);
    else if (layout.nPictureBits == 8)
        SetGreyRamp(*pPicture);
    // Work that only reads its scan reads each band of rows when it needs it.
    const bool bOnDemand = !status.Failed() && CScopedFileMapping::Allowed() &&
                           AttachRowsOnDemand(pTiff, strPath, file.Size(), layout, *pPicture);
    // Compressed strips and tiles read whole are decoded on every core the same way, a
    // handle per thread, and the picture keeps no supply.
    std::uint16_t nCompression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nCompression);
    bool bDecoded = false;
    if (!status.Failed() && !bOnDemand && nCompression != COMPRESSION_NONE && GetThreadCount() > 1 &&
        AttachRowsOnDemand(pTiff, strPath, file.Size(), layout, *pPicture)) {
        try {
            pPicture->m_pRowSupply->MakeAllRows();
            bDecoded = true;
        } catch (const std::runtime_error& error) {
            status = SCodecStatus::Fail(codec_result::kCorrupt, error.what());
        }
        pPicture->m_pRowSupply = nullptr;
        pPicture->m_pOwnedRowSupply.reset();
    }
    if (!status.Failed() && !bOnDemand && !bDecoded)
        status = layout.bGeneric ? ReadGeneric(pTiff, *pPicture, layout, messages)
                                 : ReadDirect(pTiff, file, *pPicture, layout, messages);
    if (status.Failed())
        pPicture.reset();
    else
        ReadNoDataTag(pTiff, *pPicture, layout.bAlpha && layout.nPictureBits == 32);
    return status;
}

SCodecStatus CTiffCodec::Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                              const SEncodeOptions& options) const
{
    const int nFd = writer.DuplicateDescriptor();
    if (nFd < 0)
        return SCodecStatus::Fail(codec_result::kWriteFailed, "TIFF: the file cannot be written.");
    return WriteTiffFile(nFd, writer.TargetPath(), picture, options);
}

}  // namespace
}  // namespace tiff

SCodecStatus WriteTiffFile(int nFd, const std::string& strName, const CDIBSection& picture,
                           const SEncodeOptions& options)
{
    using namespace tiff;
    STiffMessages messages;
    // Files past 4 GB need BigTIFF; smaller ones stay classic for older readers.
    const char* pMode = picture.StorageBytes() > (std::uint64_t(3) << 30) ? "w8m" : "wm";
    CTiffOutputFile output(nFd);  // closed after the TIFF below
    STiffHandle handle;
    // What went wrong: libtiff's message, else the fallback, with the system's reason of a
    // write the file did not take ("No space left on device").
    const auto Failed = [&](const std::string& strFallback) {
        std::string strText = messages.strError.empty() ? strFallback : messages.strError;
        if (const std::string strProblem = output.WriteProblem(); !strProblem.empty()) {
            while (!strText.empty() && (strText.back() == '.' || strText.back() == '\n'))
                strText.pop_back();
            strText += ": " + strProblem + ".";
        }
        return SCodecStatus::Fail(codec_result::kWriteFailed, strText);
    };
    handle.pTiff = OpenTiff(strName, -1, pMode, messages, &output);
    if (!handle.pTiff)
        return Failed("TIFF: cannot start writing.");
    TIFF* pTiff = handle.pTiff;
    if (!WriteGeoTiffTags(pTiff, options.geoReference))
        return Failed("TIFF: the GeoTIFF tags cannot be written.");
    const ETiffCompression eCompression = options.eTiffCompression;
    SetTiffWriteFields(pTiff, picture, eCompression);
    WriteNoDataTag(pTiff, picture);
    std::string strError;
    if (!WriteStrips(pTiff, picture, eCompression, GetThreadCount(), strError))
        return Failed(strError);
    if (!TIFFFlush(pTiff) || !output.Flush())
        return Failed("TIFF: writing the file failed.");
    return SCodecStatus::Ok();
}

const CImageCodec& GetTiffCodec()
{
    static const tiff::CTiffCodec s_codec;
    return s_codec;
}

}  // namespace gridmorph
