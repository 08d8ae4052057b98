#pragma once

// Pixels described by bit masks (16-bit pictures, and 16- and 32-bit bitmap files): the
// one rule by which a channel of any width becomes a byte.
#include <cstdint>

#include "image/DIBSection.h"

namespace gridmorph {

// One channel of a pixel described by a bit mask.
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
    // The channel as a byte: the level of 0..255 nearest to value / largest value, for
    // every width. A full 5-bit value becomes 255 (not 248), and 3 of a 10-bit channel
    // becomes 1 (0.75 of a level), not the 0 its top eight bits would give.
    std::uint8_t Extract(std::uint32_t nPixel) const
    {
        if (!nBits)
            return 0;
        const std::uint64_t nMax = (std::uint64_t(1) << nBits) - 1;
        const std::uint64_t nValue = ((nPixel & nMask) >> nShift) & nMax;
        return static_cast<std::uint8_t>((nValue * 255 + nMax / 2) / nMax);
    }
};

// The red, green and blue channels of a 16-bit picture's masks.
class CSixteenBitColours {
public:
    explicit CSixteenBitColours(const CDIBSection& picture)
        : m_red(picture.m_aBitFields[0]), m_green(picture.m_aBitFields[1]), m_blue(picture.m_aBitFields[2])
    {
    }
    // Pixel x of a stored 16-bit row as blue, green, red.
    void ReadBgr(const std::uint8_t* pRow, int x, std::uint8_t* pBgr) const
    {
        const std::uint32_t nPixel = pRow[2 * x] | (pRow[2 * x + 1] << 8);
        pBgr[0] = m_blue.Extract(nPixel);
        pBgr[1] = m_green.Extract(nPixel);
        pBgr[2] = m_red.Extract(nPixel);
    }

private:
    SMaskChannel m_red, m_green, m_blue;
};

// Widens one row of a 16-bit picture to 8 bits per channel, in the order red, green,
// blue (bRgbOrder) or blue, green, red.
void ExpandSixteenBitRow(const CDIBSection& picture, const std::uint8_t* pSource, std::uint8_t* pTarget,
                         bool bRgbOrder);

}  // namespace gridmorph
