#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "image/Palette.h"

namespace gridmorph {

// Remembers the nearest palette entry of colours already asked for, so a pixel loop
// that meets the same colours again and again (a scanned map has few) pays the search
// of the 256 entries once per colour. Gives exactly the palette's own answer.
class CNearestColourCache {
public:
    explicit CNearestColourCache(const CPalette& palette) : m_palette(palette), m_pSlots(new SSlot[kSlots]) {}

    std::uint8_t Nearest(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue)
    {
        const std::uint32_t nKey = (std::uint32_t(nRed) << 16) | (std::uint32_t(nGreen) << 8) | nBlue;
        SSlot& slot = m_pSlots[(nKey ^ (nKey >> 12) ^ (nKey >> 20)) & (kSlots - 1)];
        if (slot.nKey != nKey) {
            slot.nKey = nKey;
            slot.nIndex = static_cast<std::uint8_t>(m_palette.GetNearestPaletteIndex(nRed, nGreen, nBlue));
        }
        return slot.nIndex;
    }

private:
    static constexpr std::uint32_t kSlots = 1u << 16;
    struct SSlot {
        std::uint32_t nKey = 0xFFFFFFFF;  // no colour has this key
        std::uint8_t nIndex = 0;
    };
    const CPalette& m_palette;
    std::unique_ptr<SSlot[]> m_pSlots;
};

}  // namespace gridmorph
