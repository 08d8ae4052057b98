#include "support/ReferenceColour.h"

#include <algorithm>
#include <array>

namespace gridmorph::test {

void ReferenceBuildPopularRGBQuad(const CDIBImage& source, SRGBQuad* pColours)
{
    struct SBucket {
        std::vector<std::uint16_t> aKeys;
        std::vector<std::int32_t> aCounts;
    };
    std::array<SBucket, 32> aBuckets;
    const int nStep = source.m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < source.m_nImageHeight; ++nRow) {
        const std::uint8_t* pPixel = source.StorageRow(nRow);
        for (int x = 0; x < source.m_nImageWidth; ++x, pPixel += nStep) {
            SBucket& bucket = aBuckets[pPixel[0] >> 3];
            const auto nKey = static_cast<std::uint16_t>((pPixel[1] >> 3) * 32 + (pPixel[2] >> 3));
            auto it = std::find(bucket.aKeys.begin(), bucket.aKeys.end(), nKey);
            if (it != bucket.aKeys.end()) {
                ++bucket.aCounts[static_cast<std::size_t>(it - bucket.aKeys.begin())];
            } else {
                bucket.aKeys.push_back(nKey);
                bucket.aCounts.push_back(1);
            }
        }
    }
    CDIBImage::SetUniformRGBQuad(pColours);
    int nEntry = 125;
    for (; nEntry <= 235; ++nEntry) {
        int nBestBucket = -1;
        std::size_t nBestKey = 0;
        std::int32_t nBestCount = 0;
        for (int nBucket = 0; nBucket < 32; ++nBucket)
            for (std::size_t k = 0; k < aBuckets[nBucket].aKeys.size(); ++k)
                if (aBuckets[nBucket].aCounts[k] > nBestCount) {
                    nBestCount = aBuckets[nBucket].aCounts[k];
                    nBestBucket = nBucket;
                    nBestKey = k;
                }
        if (nBestCount <= 0)
            break;
        SBucket& best = aBuckets[nBestBucket];
        const std::uint16_t nKey = best.aKeys[nBestKey];
        pColours[nEntry] = SRGBQuad{std::uint8_t(nBestBucket * 8), std::uint8_t((nKey >> 5) * 8),
                                    std::uint8_t((nKey & 31) * 8), 0};
        best.aCounts[nBestKey] = -best.aCounts[nBestKey];
    }
    for (; nEntry <= 235; ++nEntry)
        pColours[nEntry] = SRGBQuad{0, 0, 0, 0};
    for (int i = 236; i <= 251; ++i)
        pColours[i] = SRGBQuad{std::uint8_t(16 * (i - 236)), std::uint8_t(16 * (i - 236)), std::uint8_t(16 * (i - 236)), 0};
}

std::vector<std::uint8_t> ReferenceConvertToPalette(const CDIBImage& source, const SRGBQuad* pColours)
{
    std::vector<SPaletteEntry> aEntries;
    for (int i = 0; i < 256; ++i)
        aEntries.push_back({pColours[i].rgbRed, pColours[i].rgbGreen, pColours[i].rgbBlue, 0});
    const CPalette palette(aEntries);
    auto FindPopularIndex = [&](int r, int g, int b) {
        if (pColours[1].rgbRed != 63)
            return -1;
        for (int i = 125; i <= 235; ++i)
            if (pColours[i].rgbRed == (r & 0xF8) && pColours[i].rgbGreen == (g & 0xF8) && pColours[i].rgbBlue == (b & 0xF8))
                return i;
        return -1;
    };
    std::vector<std::uint8_t> aIndices;
    const int nStep = source.m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < source.m_nImageHeight; ++nRow) {
        const std::uint8_t* p = source.StorageRow(nRow);
        for (int x = 0; x < source.m_nImageWidth; ++x, p += nStep) {
            const int b = p[0], g = p[1], r = p[2];
            int nIndex = FindPopularIndex(r, g, b);
            if (nIndex < 0) {
                if (pColours[1].rgbRed == 63)
                    nIndex = (r + 32) / 63 + 5 * ((g + 32) / 63) + 25 * ((b + 32) / 63);
                else if (pColours[1].rgbRed == 51)
                    nIndex = (r + 26) / 51 + 6 * ((g + 26) / 51) + 36 * ((b + 26) / 51);
                else
                    nIndex = palette.GetNearestPaletteIndex(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
            }
            aIndices.push_back(std::uint8_t(nIndex));
        }
    }
    return aIndices;
}

}  // namespace gridmorph::test
