#include "image/codecs/TiffStripWriter.h"

#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/TiffLzw.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

// Raw bytes of the strips handed to a thread at once; strips are usually a single row.
// Uncompressed groups are only rows put in order, quick work that is handed out in
// larger pieces so that the threads meet less often.
constexpr std::size_t kGroupBytes = std::size_t(256) << 10;
constexpr std::size_t kUncompressedGroupBytes = std::size_t(1) << 20;
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
// LZW strips are made by this program's own encoder (the same bytes libtiff makes, see
// TiffLzw.h), with the horizontal predictor that SetTiffWriteFields names for full-colour
// pictures; other compressions go through libtiff.
class CStripEncoder {
public:
    CStripEncoder(const CDIBSection& picture, ETiffCompression eCompression)
    {
        if (eCompression == ETiffCompression::Lzw) {
            m_pLzw = std::make_unique<CTiffLzwEncoder>();
            m_nRowBytes = TiffRowBytes(picture);
            m_nPredictorSamples = picture.BitCount() <= 8 ? 0 : picture.BitCount() == 32 ? 4 : 3;
            return;
        }
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
        if (m_pTiff)
            TIFFClose(m_pTiff);
    }
    CStripEncoder(const CStripEncoder&) = delete;
    CStripEncoder& operator=(const CStripEncoder&) = delete;

    // Puts picture row y into a strip's rows as Encode takes it: in TIFF's order, and for
    // LZW with the predictor already applied (a full-colour row in the same pass).
    void TakeRow(const CDIBSection& picture, int y, std::uint8_t* pTarget) const
    {
        if (m_pLzw && picture.BitCount() == 24) {
            SwapAndDifferenceRow(picture.PictureRow(y), pTarget, picture.Width());
            return;
        }
        ConvertTiffRow(picture, y, pTarget);
        if (m_pLzw && m_nPredictorSamples > 0)
            DifferenceTiffRows(pTarget, m_nRowBytes, 1, m_nPredictorSamples);
    }

    // Encodes strip nStrip from its rows (made by TakeRow) and appends the compressed
    // bytes to aTarget.
    void Encode(std::uint32_t nStrip, std::uint8_t* pRows, std::size_t nBytes, std::vector<std::uint8_t>& aTarget)
    {
        if (m_pLzw) {
            m_pLzw->EncodeStrip(pRows, nBytes, aTarget);
            return;
        }
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
    std::unique_ptr<CTiffLzwEncoder> m_pLzw;
    std::size_t m_nRowBytes = 0;
    int m_nPredictorSamples = 0;
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

// Blocks written to the file at once, ending on multiples of their size in the file.
// Writes of a megabyte and more made the kernel's page cache take memory in large pieces,
// which cost up to twice the system time on a virtual machine whose free memory the host
// reclaims; between 8 KB and 256 KB the size made no difference there.
constexpr std::size_t kOutputBlockBytes = std::size_t(128) << 10;

int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

}  // namespace

CTiffOutputFile::CTiffOutputFile(int nFd) : m_nFd(nFd)
{
    struct stat status {};
    if (m_nFd >= 0 && fstat(m_nFd, &status) == 0)
        m_nSize = static_cast<std::uint64_t>(status.st_size);
}

CTiffOutputFile::~CTiffOutputFile() { Close(this); }

TIFF* CTiffOutputFile::Open(const char* pName, const char* pMode, TIFFOpenOptions* pOptions)
{
    return TIFFClientOpenExt(pName, pMode, this, Read, Write, Seek, Close, Size, NoMap, NoUnmap, pOptions);
}

bool CTiffOutputFile::WriteAt(std::uint64_t nOffset, const std::uint8_t* pData, std::size_t nBytes)
{
    while (nBytes > 0) {
        const ssize_t nWritten = pwrite(m_nFd, pData, nBytes, static_cast<off_t>(nOffset));
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0) {
            // A write of nothing without an error is a full disc, as a further write would say.
            m_nWriteError = nWritten < 0 ? errno : ENOSPC;
            m_bFailed = true;
            errno = m_nWriteError;
            return false;
        }
        pData += nWritten;
        nOffset += static_cast<std::uint64_t>(nWritten);
        nBytes -= static_cast<std::size_t>(nWritten);
    }
    // The file is flushed to the disc before it takes the target's name; the strips
    // written so far start on their way now, so that the flush at the end waits only for
    // the last of them. A hint: a system that refuses it only makes that flush longer.
    constexpr std::uint64_t kWriteBehind = std::uint64_t(8) << 20;
    if (nOffset >= m_nStartedUpTo + kWriteBehind) {
        sync_file_range(m_nFd, static_cast<off_t>(m_nStartedUpTo), static_cast<off_t>(nOffset - m_nStartedUpTo),
                        SYNC_FILE_RANGE_WRITE);
        m_nStartedUpTo = nOffset;
    }
    return true;
}

bool CTiffOutputFile::Flush()
{
    if (!m_aPending.empty() && !m_bFailed)
        WriteAt(m_nPendingStart, m_aPending.data(), m_aPending.size());
    m_aPending.clear();
    return !m_bFailed;
}

std::string CTiffOutputFile::WriteProblem() const
{
    return m_nWriteError ? std::string(std::strerror(m_nWriteError)) : std::string();
}

tmsize_t CTiffOutputFile::Read(thandle_t pHandle, void* pBuffer, tmsize_t nBytes)
{
    auto* pFile = static_cast<CTiffOutputFile*>(pHandle);
    if (nBytes < 0 || !pFile->Flush())
        return -1;
    const ssize_t nRead = pread(pFile->m_nFd, pBuffer, static_cast<std::size_t>(nBytes), static_cast<off_t>(pFile->m_nPosition));
    if (nRead > 0)
        pFile->m_nPosition += static_cast<std::uint64_t>(nRead);
    return nRead;
}

tmsize_t CTiffOutputFile::Write(thandle_t pHandle, void* pBuffer, tmsize_t nBytes)
{
    auto* pFile = static_cast<CTiffOutputFile*>(pHandle);
    if (nBytes < 0 || pFile->m_bFailed)
        return -1;
    const auto* pData = static_cast<const std::uint8_t*>(pBuffer);
    const std::size_t nCount = static_cast<std::size_t>(nBytes);
    // Only a write that continues the gathered bytes joins them.
    if (pFile->m_nPosition != pFile->m_nPendingStart + pFile->m_aPending.size())
        pFile->Flush();
    try {
        if (pFile->m_aPending.capacity() < kOutputBlockBytes)
            pFile->m_aPending.reserve(kOutputBlockBytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (std::size_t nDone = 0; nDone < nCount;) {
        if (pFile->m_aPending.empty()) {
            // The caller's bytes that fill a block to its end go to the file as they are:
            // the same writes, one copy fewer.
            const std::uint64_t nAt = pFile->m_nPosition + nDone;
            const std::size_t nToBlockEnd = kOutputBlockBytes - static_cast<std::size_t>(nAt % kOutputBlockBytes);
            if (nCount - nDone >= nToBlockEnd) {
                if (!pFile->WriteAt(nAt, pData + nDone, nToBlockEnd))
                    return -1;
                nDone += nToBlockEnd;
                continue;
            }
            pFile->m_nPendingStart = nAt;
        }
        const std::size_t nRoom = kOutputBlockBytes - static_cast<std::size_t>(pFile->m_nPendingStart % kOutputBlockBytes) -
                                  pFile->m_aPending.size();
        const std::size_t nTaken = std::min(nRoom, nCount - nDone);
        pFile->m_aPending.insert(pFile->m_aPending.end(), pData + nDone, pData + nDone + nTaken);
        nDone += nTaken;
        if (nTaken == nRoom && !pFile->Flush())
            return -1;
    }
    pFile->m_nPosition += nCount;
    pFile->m_nSize = std::max(pFile->m_nSize, pFile->m_nPosition);
    return nBytes;
}

toff_t CTiffOutputFile::Seek(thandle_t pHandle, toff_t nOffset, int nWhence)
{
    auto* pFile = static_cast<CTiffOutputFile*>(pHandle);
    const std::uint64_t nBase = nWhence == SEEK_CUR ? pFile->m_nPosition : nWhence == SEEK_END ? pFile->m_nSize : 0;
    pFile->m_nPosition = nBase + nOffset;
    return pFile->m_nPosition;
}

int CTiffOutputFile::Close(thandle_t pHandle)
{
    auto* pFile = static_cast<CTiffOutputFile*>(pHandle);
    if (pFile->m_nFd < 0)
        return 0;
    const bool bFlushed = pFile->Flush();
    const int nResult = close(pFile->m_nFd);
    pFile->m_nFd = -1;
    return bFlushed && nResult == 0 ? 0 : -1;
}

toff_t CTiffOutputFile::Size(thandle_t pHandle) { return static_cast<CTiffOutputFile*>(pHandle)->m_nSize; }

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
    } else if (nBits == 24) {
        SwapRedAndBlue(pSource, pTarget, picture.Width());
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

bool WriteStrips(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression, int nThreads,
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
            static_cast<int>(std::clamp<std::size_t>((eCompression == ETiffCompression::None ? kUncompressedGroupBytes : kGroupBytes) /
                                                         (nRowBytes * nRowsPerStrip),
                                                     1, std::size_t(nStrips)));
        const int nGroups = (nStrips + nStripsPerGroup - 1) / nStripsPerGroup;

        nThreads = std::clamp(nThreads, 1, nGroups);
        const int nWindow = kGroupsInFlightPerThread * nThreads;
        std::vector<SStripScratch> aScratch(static_cast<std::size_t>(nThreads));
        std::vector<SStripGroup> aGroups(static_cast<std::size_t>(nWindow));
        const bool bCompleted = RunOrdered(
            nThreads, nGroups, nWindow,
            [&](int nGroup, int nSlot) {
                SStripScratch& scratch = aScratch[static_cast<std::size_t>(nSlot)];
                SStripGroup& group = aGroups[static_cast<std::size_t>(nGroup % nWindow)];
                group.aLengths.clear();
                const int nFirstStrip = nGroup * nStripsPerGroup;
                const int nEndStrip = std::min(nStrips, nFirstStrip + nStripsPerGroup);
                // A picture made on demand makes the group's rows now and lets them go
                // once they are converted.
                const int nGroupFirstRow = nFirstStrip * static_cast<int>(nRowsPerStrip);
                const int nGroupRows = std::min(nHeight, nEndStrip * static_cast<int>(nRowsPerStrip)) - nGroupFirstRow;
                if (picture.m_pRowSupply)
                    picture.m_pRowSupply->MakeRows(nGroupFirstRow, nGroupRows);
                struct SRelease {
                    const CDIBSection& picture;
                    int nFirst, nCount;
                    ~SRelease()
                    {
                        if (picture.m_pRowSupply)
                            picture.m_pRowSupply->ReleaseRows(nFirst, nCount);
                    }
                } release{picture, nGroupFirstRow, nGroupRows};
                if (eCompression == ETiffCompression::None) {
                    // Uncompressed strips are the rows themselves.
                    const int nFirstRow = nFirstStrip * static_cast<int>(nRowsPerStrip);
                    const int nEndRow = std::min(nHeight, nEndStrip * static_cast<int>(nRowsPerStrip));
                    // The ring's buffers keep their size from group to group: no fresh zeros.
                    group.aData.resize(std::size_t(nEndRow - nFirstRow) * nRowBytes);
                    for (int y = nFirstRow; y < nEndRow; ++y)
                        ConvertTiffRow(picture, y, group.aData.data() + std::size_t(y - nFirstRow) * nRowBytes);
                    for (int nStrip = nFirstStrip; nStrip < nEndStrip; ++nStrip) {
                        const int nStripEnd = std::min(nHeight, (nStrip + 1) * static_cast<int>(nRowsPerStrip));
                        group.aLengths.push_back(std::size_t(nStripEnd - nStrip * static_cast<int>(nRowsPerStrip)) * nRowBytes);
                    }
                    return;
                }
                group.aData.clear();
                if (!scratch.pEncoder)
                    scratch.pEncoder = std::make_unique<CStripEncoder>(picture, eCompression);
                scratch.aRows.resize(nRowBytes * nRowsPerStrip);
                for (int nStrip = nFirstStrip; nStrip < nEndStrip; ++nStrip) {
                    const int nFirstRow = nStrip * static_cast<int>(nRowsPerStrip);
                    const int nEndRow = std::min(nHeight, nFirstRow + static_cast<int>(nRowsPerStrip));
                    for (int y = nFirstRow; y < nEndRow; ++y)
                        scratch.pEncoder->TakeRow(picture, y, scratch.aRows.data() + std::size_t(y - nFirstRow) * nRowBytes);
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
