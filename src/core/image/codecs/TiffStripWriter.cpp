#include "image/codecs/TiffStripWriter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

// Raw bytes of the strips handed to a thread at once; strips are usually a single row.
constexpr std::size_t kGroupBytes = std::size_t(256) << 10;
constexpr int kGroupsInFlightPerThread = 4;

// A file in memory for libtiff: header, then the strip being encoded.
struct SMemoryFile {
    std::vector<std::uint8_t> aBytes;
    std::uint64_t nPosition = 0;
    std::string strError;
};

tmsize_t MemoryRead(thandle_t pHandle, void* pBuffer, tmsize_t nBytes)
{
    auto* pFile = static_cast<SMemoryFile*>(pHandle);
    if (nBytes < 0 || pFile->nPosition > pFile->aBytes.size())
        return 0;
    const std::size_t nCopied = std::min<std::size_t>(std::size_t(nBytes), pFile->aBytes.size() - pFile->nPosition);
    std::memcpy(pBuffer, pFile->aBytes.data() + pFile->nPosition, nCopied);
    pFile->nPosition += nCopied;
    return static_cast<tmsize_t>(nCopied);
}

tmsize_t MemoryWrite(thandle_t pHandle, void* pBuffer, tmsize_t nBytes)
{
    auto* pFile = static_cast<SMemoryFile*>(pHandle);
    if (nBytes < 0)
        return -1;
    try {
        const std::size_t nEnd = std::size_t(pFile->nPosition) + std::size_t(nBytes);
        if (nEnd > pFile->aBytes.size())
            pFile->aBytes.resize(nEnd);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(pFile->aBytes.data() + pFile->nPosition, pBuffer, std::size_t(nBytes));
    pFile->nPosition += std::uint64_t(nBytes);
    return nBytes;
}

toff_t MemorySeek(thandle_t pHandle, toff_t nOffset, int nWhence)
{
    auto* pFile = static_cast<SMemoryFile*>(pHandle);
    std::uint64_t nBase = 0;
    if (nWhence == SEEK_CUR)
        nBase = pFile->nPosition;
    else if (nWhence == SEEK_END)
        nBase = pFile->aBytes.size();
    pFile->nPosition = nBase + nOffset;
    return pFile->nPosition;
}

int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t pHandle) { return static_cast<SMemoryFile*>(pHandle)->aBytes.size(); }
int MemoryMap(thandle_t, void**, toff_t*) { return 0; }
void MemoryUnmap(thandle_t, void*, toff_t) {}

int OnMemoryError(TIFF*, void* pUserData, const char* pModule, const char* pFormat, va_list args)
{
    auto* pFile = static_cast<SMemoryFile*>(pUserData);
    if (pFile->strError.empty()) {
        char szText[512];
        std::vsnprintf(szText, sizeof szText, pFormat, args);
        pFile->strError = std::string(pModule ? pModule : "TIFF") + ": " + szText;
    }
    return 1;
}

int OnMemoryWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// One thread's strip encoder: a TIFF in memory with the file's fields. Each strip is
// encoded at the end of the header and taken out again, so the memory holds one strip.
class CStripEncoder {
public:
    CStripEncoder(const CDIBSection& picture, ETiffCompression eCompression)
    {
        TIFFOpenOptions* pOptions = TIFFOpenOptionsAlloc();
        if (!pOptions)
            throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(pOptions, OnMemoryError, &m_file);
        TIFFOpenOptionsSetWarningHandlerExtR(pOptions, OnMemoryWarning, &m_file);
        m_pTiff = TIFFClientOpenExt("strips", "wm", &m_file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                                    MemorySize, MemoryMap, MemoryUnmap, pOptions);
        TIFFOpenOptionsFree(pOptions);
        if (!m_pTiff)
            throw std::runtime_error(m_file.strError.empty() ? "TIFF: cannot start a strip encoder." : m_file.strError);
        SetTiffWriteFields(m_pTiff, picture, eCompression);
        m_nHeaderBytes = m_file.aBytes.size();
    }
    ~CStripEncoder()
    {
        // Nothing of this TIFF is kept: its directory may be written into memory and dropped.
        TIFFClose(m_pTiff);
    }
    CStripEncoder(const CStripEncoder&) = delete;
    CStripEncoder& operator=(const CStripEncoder&) = delete;

    // Encodes strip nStrip from its rows and appends the compressed bytes to aTarget.
    void Encode(std::uint32_t nStrip, std::uint8_t* pRows, std::size_t nBytes, std::vector<std::uint8_t>& aTarget)
    {
        m_file.aBytes.resize(m_nHeaderBytes);
        m_file.nPosition = m_nHeaderBytes;
        if (TIFFWriteEncodedStrip(m_pTiff, nStrip, pRows, static_cast<tmsize_t>(nBytes)) < 0)
            throw std::runtime_error(m_file.strError.empty() ? "TIFF: compressing a strip failed." : m_file.strError);
        const std::uint64_t nOffset = TIFFGetStrileOffset(m_pTiff, nStrip);
        const std::uint64_t nCount = TIFFGetStrileByteCount(m_pTiff, nStrip);
        if (nOffset < m_nHeaderBytes || nOffset + nCount > m_file.aBytes.size())
            throw std::runtime_error("TIFF: a compressed strip went astray.");
        aTarget.insert(aTarget.end(), m_file.aBytes.begin() + std::ptrdiff_t(nOffset),
                       m_file.aBytes.begin() + std::ptrdiff_t(nOffset + nCount));
    }

private:
    SMemoryFile m_file;
    TIFF* m_pTiff = nullptr;
    std::size_t m_nHeaderBytes = 0;
};

// A group of consecutive strips, compressed and waiting to be written.
struct SStripGroup {
    std::vector<std::uint8_t> aData;
    std::vector<std::size_t> aLengths;
};

struct SStripScratch {
    std::unique_ptr<CStripEncoder> pEncoder;
    std::vector<std::uint8_t> aRows;
};

}  // namespace

std::size_t TiffRowBytes(const CDIBSection& picture)
{
    const int nBits = picture.BitCount();
    const std::size_t nWidth = static_cast<std::size_t>(picture.Width());
    if (nBits <= 8)
        return (nWidth * static_cast<std::size_t>(nBits) + 7) / 8;
    return nWidth * (nBits == 32 ? 4 : 3);
}

void ConvertTiffRow(const CDIBSection& picture, int y, std::uint8_t* pTarget)
{
    const int nBits = picture.BitCount();
    const std::uint8_t* pSource = picture.PictureRow(y);
    if (nBits <= 8) {
        std::memcpy(pTarget, pSource, TiffRowBytes(picture));
    } else if (nBits == 16) {
        ExpandSixteenBitRow(picture, pSource, pTarget, true);
    } else {
        const int nStep = nBits / 8;
        const int nWidth = picture.Width();
        for (int x = 0; x < nWidth; ++x, pSource += nStep, pTarget += nStep) {
            pTarget[0] = pSource[2];
            pTarget[1] = pSource[1];
            pTarget[2] = pSource[0];
            if (nStep == 4)
                pTarget[3] = pSource[3];
        }
    }
}

void SetTiffWriteFields(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression)
{
    const int nBits = picture.BitCount();
    const bool bPalette = nBits <= 8;
    const int nSamples = bPalette ? 1 : (nBits == 32 ? 4 : 3);
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(picture.Width()));
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(picture.Height()));
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(bPalette ? nBits : 8));
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(nSamples));
    TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(pTiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, bPalette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    if (nSamples == 4) {
        const std::uint16_t nAlphaType = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(pTiff, TIFFTAG_EXTRASAMPLES, 1, &nAlphaType);
    }
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION,
                 eCompression == ETiffCompression::Lzw       ? COMPRESSION_LZW
                 : eCompression == ETiffCompression::Deflate ? COMPRESSION_ADOBE_DEFLATE
                                                             : COMPRESSION_NONE);
    if (eCompression != ETiffCompression::None && !bPalette)
        TIFFSetField(pTiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(pTiff, 0));
    if (bPalette) {
        const int nEntries = 1 << nBits;
        std::vector<std::uint16_t> aRed(static_cast<std::size_t>(nEntries)), aGreen(aRed.size()), aBlue(aRed.size());
        const SRGBQuad* pTable = picture.ColourTable();
        for (int i = 0; i < nEntries; ++i) {
            aRed[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(pTable[i].rgbRed * 257);
            aGreen[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(pTable[i].rgbGreen * 257);
            aBlue[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(pTable[i].rgbBlue * 257);
        }
        TIFFSetField(pTiff, TIFFTAG_COLORMAP, aRed.data(), aGreen.data(), aBlue.data());
    }
}

bool WriteCompressedStrips(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression, int nThreads,
                           std::string& strError)
{
    try {
        const int nHeight = picture.Height();
        std::uint32_t nRowsPerStrip = 0;
        TIFFGetFieldDefaulted(pTiff, TIFFTAG_ROWSPERSTRIP, &nRowsPerStrip);
        nRowsPerStrip = std::clamp<std::uint32_t>(nRowsPerStrip, 1, std::uint32_t(nHeight));
        const std::size_t nRowBytes = TiffRowBytes(picture);
        const int nStrips = static_cast<int>((std::uint32_t(nHeight) + nRowsPerStrip - 1) / nRowsPerStrip);
        const int nStripsPerGroup =
            static_cast<int>(std::clamp<std::size_t>(kGroupBytes / (nRowBytes * nRowsPerStrip), 1, std::size_t(nStrips)));
        const int nGroups = (nStrips + nStripsPerGroup - 1) / nStripsPerGroup;

        nThreads = std::clamp(nThreads, 1, nGroups);
        const int nWindow = kGroupsInFlightPerThread * nThreads;
        std::vector<SStripScratch> aScratch(static_cast<std::size_t>(nThreads));
        std::vector<SStripGroup> aGroups(static_cast<std::size_t>(nWindow));
        const bool bCompleted = RunOrdered(
            nThreads, nGroups, nWindow,
            [&](int nGroup, int nSlot) {
                SStripScratch& scratch = aScratch[static_cast<std::size_t>(nSlot)];
                if (!scratch.pEncoder)
                    scratch.pEncoder = std::make_unique<CStripEncoder>(picture, eCompression);
                SStripGroup& group = aGroups[static_cast<std::size_t>(nGroup % nWindow)];
                group.aData.clear();
                group.aLengths.clear();
                scratch.aRows.resize(nRowBytes * nRowsPerStrip);
                const int nFirstStrip = nGroup * nStripsPerGroup;
                const int nEndStrip = std::min(nStrips, nFirstStrip + nStripsPerGroup);
                for (int nStrip = nFirstStrip; nStrip < nEndStrip; ++nStrip) {
                    const int nFirstRow = nStrip * static_cast<int>(nRowsPerStrip);
                    const int nEndRow = std::min(nHeight, nFirstRow + static_cast<int>(nRowsPerStrip));
                    for (int y = nFirstRow; y < nEndRow; ++y)
                        ConvertTiffRow(picture, y, scratch.aRows.data() + std::size_t(y - nFirstRow) * nRowBytes);
                    const std::size_t nBefore = group.aData.size();
                    scratch.pEncoder->Encode(static_cast<std::uint32_t>(nStrip), scratch.aRows.data(),
                                             std::size_t(nEndRow - nFirstRow) * nRowBytes, group.aData);
                    group.aLengths.push_back(group.aData.size() - nBefore);
                }
            },
            [&](int nGroup) {
                SStripGroup& group = aGroups[static_cast<std::size_t>(nGroup % nWindow)];
                std::uint8_t* pData = group.aData.data();
                std::uint32_t nStrip = static_cast<std::uint32_t>(nGroup * nStripsPerGroup);
                for (const std::size_t nLength : group.aLengths) {
                    if (TIFFWriteRawStrip(pTiff, nStrip++, pData, static_cast<tmsize_t>(nLength)) < 0)
                        return false;
                    pData += nLength;
                }
                return true;
            });
        if (!bCompleted)
            strError = "TIFF: writing a strip failed.";
        return bCompleted;
    } catch (const std::bad_alloc&) {
        strError = "TIFF: there is not enough memory to compress the picture.";
    } catch (const std::exception& error) {
        strError = error.what();
    }
    return false;
}

}  // namespace gridmorph
