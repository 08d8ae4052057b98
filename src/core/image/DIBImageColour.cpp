// Colour depth and grey conversion of CDIBImage.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "image/DIBImage.h"
#include "image/NearestColourCache.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr int kFirstPopularEntry = 125;
constexpr int kLastPopularEntry = 235;
constexpr int kFirstGreyEntry = 236;
constexpr int kLastGreyEntry = 251;

}  // namespace

void CDIBImage::SetUniformRGBQuad(SRGBQuad* pColours)
{
    int nEntry = 0;
    for (int nBlue = 0; nBlue < 5; ++nBlue)
        for (int nGreen = 0; nGreen < 5; ++nGreen)
            for (int nRed = 0; nRed < 5; ++nRed)
                pColours[nEntry++] = SRGBQuad{static_cast<std::uint8_t>(63 * nBlue),
                                              static_cast<std::uint8_t>(63 * nGreen),
                                              static_cast<std::uint8_t>(63 * nRed), 0};
    for (; nEntry < kColourTableSize; ++nEntry)
        pColours[nEntry] = SRGBQuad{255, 255, 255, 0};
}

// 15-bit colour: blue, green and red each cut to 5 bits, blue highest. Its top five bits
// are the blue level that orders the popular-colour ties.
inline unsigned FifteenBitColour(std::uint8_t nBlue, std::uint8_t nGreen, std::uint8_t nRed)
{
    return (unsigned(nBlue >> 3) << 10) | (unsigned(nGreen >> 3) << 5) | unsigned(nRed >> 3);
}

void CDIBImage::BuildPopularRGBQuad(SRGBQuad* pColours)
{
    // One count per 15-bit colour and the order in which colours were first met. The
    // most frequent colours win; ties go to the lower blue level, then to the colour met
    // first (storage rows from the bottom, pixels from the left): the order of a count
    // kept in 32 blue buckets with colours appended as they appear, without its linear
    // search per pixel.
    std::vector<std::uint64_t> aCounts(32768, 0);
    std::vector<std::uint32_t> aFirstSeen(32768, 0);
    std::uint32_t nSeen = 0;
    const int nStep = m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
        const std::uint8_t* pPixel = StorageRow(nRow);
        for (int x = 0; x < m_nImageWidth; ++x, pPixel += nStep) {
            const unsigned nColour = FifteenBitColour(pPixel[0], pPixel[1], pPixel[2]);
            if (aCounts[nColour]++ == 0)
                aFirstSeen[nColour] = nSeen++;
        }
    }
    if (m_nErrorNumber != 0)
        return;

    std::vector<std::uint16_t> aPresent;
    aPresent.reserve(nSeen);
    for (unsigned nColour = 0; nColour < 32768; ++nColour)
        if (aCounts[nColour])
            aPresent.push_back(static_cast<std::uint16_t>(nColour));
    const std::size_t nChosen = std::min<std::size_t>(aPresent.size(), kLastPopularEntry - kFirstPopularEntry + 1);
    std::partial_sort(aPresent.begin(), aPresent.begin() + static_cast<std::ptrdiff_t>(nChosen), aPresent.end(),
                      [&](std::uint16_t a, std::uint16_t b) {
                          if (aCounts[a] != aCounts[b])
                              return aCounts[a] > aCounts[b];
                          if ((a >> 10) != (b >> 10))
                              return (a >> 10) < (b >> 10);
                          return aFirstSeen[a] < aFirstSeen[b];
                      });

    SetUniformRGBQuad(pColours);
    int nEntry = kFirstPopularEntry;
    for (std::size_t i = 0; i < nChosen; ++i, ++nEntry) {
        const unsigned nColour = aPresent[i];
        pColours[nEntry] = SRGBQuad{static_cast<std::uint8_t>((nColour >> 10) * 8),
                                    static_cast<std::uint8_t>(((nColour >> 5) & 31) * 8),
                                    static_cast<std::uint8_t>((nColour & 31) * 8), 0};
    }
    for (; nEntry <= kLastPopularEntry; ++nEntry)
        pColours[nEntry] = SRGBQuad{0, 0, 0, 0};
    for (int i = kFirstGreyEntry; i <= kLastGreyEntry; ++i) {
        const auto nGrey = static_cast<std::uint8_t>(16 * (i - kFirstGreyEntry));
        pColours[i] = SRGBQuad{nGrey, nGrey, nGrey, 0};
    }
}

int CDIBImage::FindPopularIndex(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue) const
{
    if (!m_pRGBQuad || m_pRGBQuad[1].rgbRed != 63)
        return -1;
    for (int i = kFirstPopularEntry; i <= kLastPopularEntry; ++i) {
        const SRGBQuad& entry = m_pRGBQuad[i];
        if (entry.rgbRed == (nRed & 0xF8) && entry.rgbGreen == (nGreen & 0xF8) && entry.rgbBlue == (nBlue & 0xF8))
            return i;
    }
    return -1;
}

void CDIBImage::ConvertRGBToPalette(const CDIBImage& basedOn, bool bShowProgress)
{
    CMessageBox progress;
    if (bShowProgress)
        progress.StartProgress(0, m_nImageHeight, "Converting RGB to palette");
    const int nEntryOneRed = m_pRGBQuad[1].rgbRed;

    // FindPopularIndex answered once per 15-bit colour instead of by a search of 111
    // entries per pixel: the lowest entry whose colour is that colour's 5-bit levels.
    std::vector<std::int16_t> aPopular;
    if (nEntryOneRed == 63) {
        aPopular.assign(32768, -1);
        for (int i = kLastPopularEntry; i >= kFirstPopularEntry; --i) {
            const SRGBQuad& entry = m_pRGBQuad[i];
            if (((entry.rgbRed | entry.rgbGreen | entry.rgbBlue) & 7) == 0)
                aPopular[FifteenBitColour(entry.rgbBlue, entry.rgbGreen, entry.rgbRed)] = static_cast<std::int16_t>(i);
        }
    }
    // The cube rules, channel by channel: (v + 32) / 63 on five levels, (v + 26) / 51 on six.
    std::array<std::uint8_t, 256> aRedLevel{}, aGreenLevel{}, aBlueLevel{};
    for (int v = 0; v < 256; ++v) {
        const int nLevel = nEntryOneRed == 63 ? (v + 32) / 63 : (v + 26) / 51;
        const int nLevels = nEntryOneRed == 63 ? 5 : 6;
        aRedLevel[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(nLevel);
        aGreenLevel[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(nLevels * nLevel);
        aBlueLevel[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(nLevels * nLevels * nLevel);
    }
    const bool bCube = nEntryOneRed == 63 || nEntryOneRed == 51;
    std::unique_ptr<CNearestColourCache> pNearest;
    if (!bCube)
        pNearest = std::make_unique<CNearestColourCache>(*m_pPalette);

    const int nStep = basedOn.m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
        if (bShowProgress)
            progress.SetProgress(nRow, std::string());
        const std::uint8_t* pSource = basedOn.StorageRow(nRow);
        std::uint8_t* pTarget = StorageRow(nRow);
        for (int x = 0; x < m_nImageWidth; ++x, pSource += nStep) {
            const std::uint8_t nBlue = pSource[0], nGreen = pSource[1], nRed = pSource[2];
            int nIndex = aPopular.empty() ? -1 : aPopular[FifteenBitColour(nBlue, nGreen, nRed)];
            if (nIndex < 0)
                nIndex = bCube ? aRedLevel[nRed] + aGreenLevel[nGreen] + aBlueLevel[nBlue]
                               : pNearest->Nearest(nRed, nGreen, nBlue);
            pTarget[x] = static_cast<std::uint8_t>(nIndex);
        }
    }
    if (bShowProgress)
        progress.EndProgress();
}

void CDIBImage::ConvertToGreyScale()
{
    CWaitCursor waitCursor;
    if (!m_pImageBits)
        return;
    if (m_nBitCount <= 8) {
        for (int i = 0; i < m_nColours; ++i) {
            SRGBQuad& entry = m_pRGBQuad[i];
            const auto nGrey = static_cast<std::uint8_t>(
                (entry.rgbRed * m_nGreyWeightRed + entry.rgbGreen * m_nGreyWeightGreen +
                 entry.rgbBlue * m_nGreyWeightBlue) /
                255);
            entry.rgbBlue = entry.rgbGreen = entry.rgbRed = nGrey;
        }
        SetDIBColours(0, kColourTableSize, m_pRGBQuad.get());
        UpdatePalette();
        return;
    }
    if (m_nBitCount != 24 && m_nBitCount != 32)
        return;
    const int nStep = m_nBitCount / 8;
    for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
        std::uint8_t* pPixel = StorageRow(nRow);
        for (int x = 0; x < m_nImageWidth; ++x, pPixel += nStep) {
            const auto nGrey = static_cast<std::uint8_t>(
                (pPixel[2] * m_nGreyWeightRed + pPixel[1] * m_nGreyWeightGreen + pPixel[0] * m_nGreyWeightBlue) /
                255);
            pPixel[0] = pPixel[1] = pPixel[2] = nGrey;
        }
    }
}

}  // namespace gridmorph
