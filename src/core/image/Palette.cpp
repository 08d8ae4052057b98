#include "image/Palette.h"

namespace gridmorph {

void CPalette::SetPaletteEntries(int nFirst, int nCount, const SPaletteEntry* pEntries)
{
    for (int i = 0; i < nCount; ++i) {
        const int nIndex = nFirst + i;
        if (nIndex >= 0 && nIndex < GetEntryCount())
            m_aEntries[static_cast<std::size_t>(nIndex)] = pEntries[i];
    }
}

int CPalette::GetNearestPaletteIndex(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue) const
{
    int nBest = 0;
    int nBestDistance = 0x7FFFFFFF;
    for (int i = 0; i < GetEntryCount(); ++i) {
        const SPaletteEntry& entry = m_aEntries[static_cast<std::size_t>(i)];
        const int nDeltaRed = int(entry.peRed) - nRed;
        const int nDeltaGreen = int(entry.peGreen) - nGreen;
        const int nDeltaBlue = int(entry.peBlue) - nBlue;
        const int nDistance = nDeltaRed * nDeltaRed + nDeltaGreen * nDeltaGreen + nDeltaBlue * nDeltaBlue;
        // Strictly nearer only: the first (lowest) index wins a tie, and an exact match
        // (distance 0) can never be beaten.
        if (nDistance < nBestDistance) {
            nBestDistance = nDistance;
            nBest = i;
            if (nDistance == 0)
                break;
        }
    }
    return nBest;
}

}  // namespace gridmorph
