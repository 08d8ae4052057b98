#include "image/codecs/CodecCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include <bit>
#include <cerrno>
#include <cstring>

namespace gridmorph {

CInputFile::~CInputFile()
{
    if (m_pStream)
        std::fclose(m_pStream);  // closes m_nFd too
    else if (m_nFd >= 0)
        close(m_nFd);
}

SCodecStatus CInputFile::Open(const std::string& strPath)
{
    m_nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_nFd < 0)
        return SCodecStatus::Fail(codec_result::kCannotOpen,
                                  "Cannot open " + strPath + ": " + std::strerror(errno) + ".");
    struct stat info {};
    if (fstat(m_nFd, &info) != 0 || !S_ISREG(info.st_mode))
        return SCodecStatus::Fail(codec_result::kCannotOpen, strPath + " is not a regular file.");
    m_nSize = static_cast<std::uint64_t>(info.st_size);
    return SCodecStatus::Ok();
}

bool CInputFile::ReadAt(std::uint64_t nOffset, void* pBuffer, std::size_t nBytes) const
{
    if (nOffset > m_nSize || nBytes > m_nSize - nOffset)
        return false;
    auto* pTarget = static_cast<std::uint8_t*>(pBuffer);
    while (nBytes > 0) {
        const ssize_t nRead = pread(m_nFd, pTarget, nBytes, static_cast<off_t>(nOffset));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return false;
        pTarget += nRead;
        nOffset += static_cast<std::uint64_t>(nRead);
        nBytes -= static_cast<std::size_t>(nRead);
    }
    return true;
}

std::FILE* CInputFile::Stream()
{
    if (!m_pStream && m_nFd >= 0)
        m_pStream = fdopen(m_nFd, "rb");
    return m_pStream;
}

SCodecStatus CheckDataCanHoldPicture(const char* pFormat, int nWidth, int nHeight, int nBitCount,
                                     std::uint64_t nDataBytes, double dMostPixelsPerByte)
{
    if (!CDIBSection::WithinMemoryLimit(nWidth, nHeight, nBitCount))
        return SCodecStatus::Ok();
    const double dPixels = static_cast<double>(nWidth) * static_cast<double>(nHeight);
    if (static_cast<double>(nDataBytes) * dMostPixelsPerByte >= dPixels)
        return SCodecStatus::Ok();
    return SCodecStatus::Fail(codec_result::kCorrupt, std::string(pFormat) + ": the file's " +
                                                          std::to_string(nDataBytes) + " bytes cannot hold the " +
                                                          std::to_string(nWidth) + " x " + std::to_string(nHeight) +
                                                          " picture it declares (damaged or cut short).");
}

SCodecStatus CheckPaletteIndices(const CDIBSection& picture, int nEntries)
{
    const int nBits = picture.BitCount();
    if (nBits > 8 || nEntries >= (1 << nBits))
        return SCodecStatus::Ok();
    const int nMask = (1 << nBits) - 1;
    for (int nRow = 0; nRow < picture.Height(); ++nRow) {
        const std::uint8_t* pRow = picture.LowestRow() + static_cast<std::size_t>(nRow) * picture.Stride();
        int nLargest = 0;
        for (int x = 0; x < picture.Width(); ++x) {
            const int nBit = x * nBits;
            const int nIndex = (pRow[nBit >> 3] >> (8 - nBits - (nBit & 7))) & nMask;
            nLargest = nIndex > nLargest ? nIndex : nLargest;
        }
        if (nLargest >= nEntries)
            return SCodecStatus::Fail(codec_result::kCorrupt,
                                      "A pixel uses colour " + std::to_string(nLargest) +
                                          ", past the colour table of " + std::to_string(nEntries) + " entries.");
    }
    return SCodecStatus::Ok();
}

void SetGreyRamp(CDIBSection& picture)
{
    SRGBQuad aRamp[kColourTableSize];
    for (int i = 0; i < kColourTableSize; ++i) {
        const auto n = static_cast<std::uint8_t>(i);
        aRamp[i] = SRGBQuad{n, n, n, 0};
    }
    picture.SetColourTable(0, kColourTableSize, aRamp);
}

}  // namespace gridmorph

namespace gridmorph {
namespace {

void SwapRedAndBlueWords(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels)
{
    // Four bytes at a time: the byte after a pixel is read and written too, and the next
    // pixel's store puts it right, so the last pixel goes byte by byte.
    int x = 0;
    if constexpr (std::endian::native == std::endian::little)
        for (; x + 1 < nPixels; ++x, pSource += 3, pTarget += 3) {
            std::uint32_t nWord;
            std::memcpy(&nWord, pSource, 4);
            const std::uint32_t nSwapped = (nWord & 0xFF00FF00u) | ((nWord >> 16) & 0xFFu) | ((nWord & 0xFFu) << 16);
            std::memcpy(pTarget, &nSwapped, 4);
        }
    for (; x < nPixels; ++x, pSource += 3, pTarget += 3) {
        pTarget[0] = pSource[2];
        pTarget[1] = pSource[1];
        pTarget[2] = pSource[0];
    }
}

#if defined(__x86_64__)
// Five pixels (15 bytes) a shuffle, sixteen bytes loaded and stored: the sixteenth is put
// right by the next store, so the last five pixels or fewer go through the words.
__attribute__((target("ssse3"))) void SwapRedAndBlueShuffled(const std::uint8_t* pSource, std::uint8_t* pTarget,
                                                             int nPixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    for (; x + 6 <= nPixels; x += 5, pSource += 15, pTarget += 15) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSource));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pTarget), _mm_shuffle_epi8(pixels, order));
    }
    SwapRedAndBlueWords(pSource, pTarget, nPixels - x);
}
#endif

}  // namespace

void SwapRedAndBlue(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels)
{
#if defined(__x86_64__)
    static const bool s_bShuffle = __builtin_cpu_supports("ssse3");
    if (s_bShuffle) {
        SwapRedAndBlueShuffled(pSource, pTarget, nPixels);
        return;
    }
#endif
    SwapRedAndBlueWords(pSource, pTarget, nPixels);
}

}  // namespace gridmorph
