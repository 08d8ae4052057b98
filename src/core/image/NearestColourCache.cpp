#include "image/NearestColourCache.h"

#include <algorithm>
#include <cstdlib>

namespace gridmorph {
namespace {

// Squared distance along one channel from v to the interval [nLow, nHigh], and to its
// farther end.
int NearDistance(int v, int nLow, int nHigh)
{
    const int d = v < nLow ? nLow - v : (v > nHigh ? v - nHigh : 0);
    return d * d;
}
int FarDistance(int v, int nLow, int nHigh)
{
    const int d = std::max(std::abs(v - nLow), std::abs(v - nHigh));
    return d * d;
}

}  // namespace

void CNearestColourCache::SFree::operator()(std::uint16_t* p) const { std::free(p); }

CNearestColourCache::CNearestColourCache(const CPalette& palette)
    : m_pKnown(static_cast<std::uint16_t*>(std::calloc(std::size_t(1) << 24, sizeof(std::uint16_t)))),
      m_aCellCandidates(32768), m_aCellReady(32768, false)
{
    for (int i = 0; i < palette.GetEntryCount(); ++i)
        m_aEntries.push_back(palette.GetEntry(i));
}

const std::vector<std::uint8_t>& CNearestColourCache::CandidatesOf(unsigned nCell)
{
    std::vector<std::uint8_t>& aCandidates = m_aCellCandidates[nCell];
    if (m_aCellReady[nCell])
        return aCandidates;
    const int nRedLow = int((nCell >> 10) & 31) * 8, nGreenLow = int((nCell >> 5) & 31) * 8, nBlueLow = int(nCell & 31) * 8;
    int nBound = 0x7FFFFFFF;
    for (const SPaletteEntry& entry : m_aEntries)
        nBound = std::min(nBound, FarDistance(entry.peRed, nRedLow, nRedLow + 7) +
                                      FarDistance(entry.peGreen, nGreenLow, nGreenLow + 7) +
                                      FarDistance(entry.peBlue, nBlueLow, nBlueLow + 7));
    for (std::size_t i = 0; i < m_aEntries.size(); ++i) {
        const SPaletteEntry& entry = m_aEntries[i];
        if (NearDistance(entry.peRed, nRedLow, nRedLow + 7) + NearDistance(entry.peGreen, nGreenLow, nGreenLow + 7) +
                NearDistance(entry.peBlue, nBlueLow, nBlueLow + 7) <=
            nBound)
            aCandidates.push_back(static_cast<std::uint8_t>(i));  // in ascending index order
    }
    m_aCellReady[nCell] = true;
    return aCandidates;
}

std::uint8_t CNearestColourCache::Search(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue)
{
    if (m_aEntries.empty())
        return 0;
    const unsigned nCell = (unsigned(nRed >> 3) << 10) | (unsigned(nGreen >> 3) << 5) | unsigned(nBlue >> 3);
    int nBest = 0;
    int nBestDistance = 0x7FFFFFFF;
    for (std::uint8_t nIndex : CandidatesOf(nCell)) {
        const SPaletteEntry& entry = m_aEntries[nIndex];
        const int dr = int(entry.peRed) - nRed, dg = int(entry.peGreen) - nGreen, db = int(entry.peBlue) - nBlue;
        const int nDistance = dr * dr + dg * dg + db * db;
        if (nDistance < nBestDistance) {  // strictly nearer: the lowest index keeps a tie
            nBestDistance = nDistance;
            nBest = nIndex;
        }
    }
    return static_cast<std::uint8_t>(nBest);
}

}  // namespace gridmorph
