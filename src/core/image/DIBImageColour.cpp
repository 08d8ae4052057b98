// Colour depth and grey conversion of CDIBImage.
#include <algorithm>
#include <array>
#include <vector>

#include "image/DIBImage.h"
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

void CDIBImage::BuildPopularRGBQuad(SRGBQuad* pColours)
{
    // One bucket per 5-bit blue level; within it the 15-bit keys (green, red) in the
    // order first met, each with its hit count.
    struct SBucket {
        std::vector<std::uint16_t> aKeys;
        std::vector<std::int32_t> aCounts;
    };
    std::array<SBucket, 32> aBuckets;
    const int nStep = m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
        const std::uint8_t* pPixel = StorageRow(nRow);
        for (int x = 0; x < m_nImageWidth; ++x, pPixel += nStep) {
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
    if (m_nErrorNumber != 0)
        return;

    SetUniformRGBQuad(pColours);
    int nEntry = kFirstPopularEntry;
    for (; nEntry <= kLastPopularEntry; ++nEntry) {
        int nBestBucket = -1;
        std::size_t nBestKey = 0;
        std::int32_t nBestCount = 0;
        for (int nBucket = 0; nBucket < 32; ++nBucket) {
            const SBucket& bucket = aBuckets[static_cast<std::size_t>(nBucket)];
            for (std::size_t k = 0; k < bucket.aKeys.size(); ++k) {
                if (bucket.aCounts[k] > nBestCount) {
                    nBestCount = bucket.aCounts[k];
                    nBestBucket = nBucket;
                    nBestKey = k;
                }
            }
        }
        if (nBestCount <= 0)
            break;
        SBucket& best = aBuckets[static_cast<std::size_t>(nBestBucket)];
        const std::uint16_t nKey = best.aKeys[nBestKey];
        pColours[nEntry] = SRGBQuad{static_cast<std::uint8_t>(nBestBucket * 8),
                                    static_cast<std::uint8_t>((nKey >> 5) * 8),
                                    static_cast<std::uint8_t>((nKey & 31) * 8), 0};
        best.aCounts[nBestKey] = -best.aCounts[nBestKey];
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
    const int nStep = basedOn.m_nBitCount == 32 ? 4 : 3;
    for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
        if (bShowProgress)
            progress.SetProgress(nRow, std::string());
        const std::uint8_t* pSource = basedOn.StorageRow(nRow);
        std::uint8_t* pTarget = StorageRow(nRow);
        for (int x = 0; x < m_nImageWidth; ++x, pSource += nStep) {
            const std::uint8_t nBlue = pSource[0];
            const std::uint8_t nGreen = pSource[1];
            const std::uint8_t nRed = pSource[2];
            int nIndex = FindPopularIndex(nRed, nGreen, nBlue);
            if (nIndex < 0) {
                if (nEntryOneRed == 63)
                    nIndex = (nRed + 32) / 63 + 5 * ((nGreen + 32) / 63) + 25 * ((nBlue + 32) / 63);
                else if (nEntryOneRed == 51)
                    nIndex = (nRed + 26) / 51 + 6 * ((nGreen + 26) / 51) + 36 * ((nBlue + 26) / 51);
                else
                    nIndex = m_pPalette->GetNearestPaletteIndex(nRed, nGreen, nBlue);
            }
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
