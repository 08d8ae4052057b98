#pragma once

// Helpers shared by the codec adapters.
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// A file opened for reading with its size known up front, so that a decoder can check
// a declared size against what is really there before it allocates anything.
class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    SCodecStatus Open(const std::string& strPath);
    std::uint64_t Size() const { return m_nSize; }
    // Reads exactly nBytes at nOffset; false when the file is shorter.
    bool ReadAt(std::uint64_t nOffset, void* pBuffer, std::size_t nBytes) const;
    // A stdio stream over the file for libraries that read sequentially (owned here).
    std::FILE* Stream();
    int Descriptor() const { return m_nFd; }

private:
    int m_nFd = -1;
    std::uint64_t m_nSize = 0;
    std::FILE* m_pStream = nullptr;
};

// Fails when an indexed picture holds an index at or past nEntries (its table's size).
SCodecStatus CheckPaletteIndices(const CDIBSection& picture, int nEntries);

// A grey ramp: entry i is (i, i, i).
void SetGreyRamp(CDIBSection& picture);

// Copies nPixels 3-byte pixels from pSource to pTarget (separate rows) with the first and
// third bytes exchanged: RGB to BGR and back.
void SwapRedAndBlue(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels);

}  // namespace gridmorph

namespace gridmorph {

// One channel of a pixel described by bit masks (16- and 32-bit bitmaps).
struct SMaskChannel {
    std::uint32_t nMask = 0;
    int nShift = 0;
    int nBits = 0;

    explicit SMaskChannel(std::uint32_t nChannelMask = 0) : nMask(nChannelMask)
    {
        if (!nMask)
            return;
        while (!((nMask >> nShift) & 1))
            ++nShift;
        while (nShift + nBits < 32 && ((nMask >> (nShift + nBits)) & 1))
            ++nBits;
    }
    // The channel scaled to 0..255, so a full 5-bit value becomes 255, not 248.
    std::uint8_t Extract(std::uint32_t nPixel) const
    {
        if (!nBits)
            return 0;
        const std::uint32_t nValue = (nPixel & nMask) >> nShift;
        if (nBits >= 8)
            return static_cast<std::uint8_t>(nValue >> (nBits - 8));
        const std::uint32_t nMax = (1u << nBits) - 1;
        return static_cast<std::uint8_t>((nValue * 255 + nMax / 2) / nMax);
    }
};

// Widens one row of a 16-bit picture through its masks to 8 bits per channel, in the
// order red, green, blue (bRgbOrder) or blue, green, red.
void ExpandSixteenBitRow(const CDIBSection& picture, const std::uint8_t* pSource, std::uint8_t* pTarget,
                         bool bRgbOrder);

}  // namespace gridmorph
