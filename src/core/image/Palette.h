#pragma once

#include <cstdint>
#include <vector>

#include "image/ColourTypes.h"

namespace gridmorph {

// A logical palette: the colours of a picture's table, and the nearest-colour search
// that fills, copies and colour reduction ask of it.
class CPalette {
public:
    CPalette() = default;
    explicit CPalette(std::vector<SPaletteEntry> aEntries) : m_aEntries(std::move(aEntries)) {}

    int GetEntryCount() const { return static_cast<int>(m_aEntries.size()); }
    const SPaletteEntry& GetEntry(int nIndex) const { return m_aEntries[static_cast<std::size_t>(nIndex)]; }
    void ResizePalette(int nEntries) { m_aEntries.resize(static_cast<std::size_t>(nEntries)); }
    void SetPaletteEntries(int nFirst, int nCount, const SPaletteEntry* pEntries);

    // The entry nearest to the colour by squared distance in RGB: an exact match when
    // there is one, and among equally near entries the lowest index. Deterministic, so
    // results never depend on the machine. Returns 0 for an empty palette.
    int GetNearestPaletteIndex(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue) const;

private:
    std::vector<SPaletteEntry> m_aEntries;
};

}  // namespace gridmorph
