#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/Palette.h"

namespace gridmorph {

// The palette's nearest-colour answer for pixel loops, exactly as CPalette gives it
// (smallest squared distance, an exact match first, ties to the lowest index), without
// its search of all entries per pixel:
// - every colour already asked for is remembered;
// - a new colour is compared only with the entries that can be nearest to anything in
//   its 8 x 8 x 8 cell of the colour cube: those whose distance to the cell is at most
//   the smallest "farthest distance" of any entry to the cell. Every entry that is
//   nearest to a colour of the cell, ties included, is among them.
class CNearestColourCache {
public:
    explicit CNearestColourCache(const CPalette& palette);

    std::uint8_t Nearest(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue)
    {
        if (!m_pKnown)
            return Search(nRed, nGreen, nBlue);  // no memory for the memo: still the same answer
        const std::uint32_t nKey = (std::uint32_t(nRed) << 16) | (std::uint32_t(nGreen) << 8) | nBlue;
        std::uint16_t& nKnown = m_pKnown.get()[nKey];
        if (!nKnown)
            nKnown = static_cast<std::uint16_t>(Search(nRed, nGreen, nBlue) + 1);
        return static_cast<std::uint8_t>(nKnown - 1);
    }

private:
    struct SFree {
        void operator()(std::uint16_t* p) const;
    };
    std::uint8_t Search(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue);
    const std::vector<std::uint8_t>& CandidatesOf(unsigned nCell);

    std::vector<SPaletteEntry> m_aEntries;
    // One entry per 24-bit colour: 0 not yet asked, else the answer + 1. Allocated zeroed
    // by calloc, so only the pages of colours met are ever touched.
    std::unique_ptr<std::uint16_t, SFree> m_pKnown;
    std::vector<std::vector<std::uint8_t>> m_aCellCandidates;  // filled on first use
    std::vector<bool> m_aCellReady;
};

}  // namespace gridmorph
