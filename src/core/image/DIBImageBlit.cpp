// Block transfers of CDIBImage: a rectangle of this picture into another picture.
#include <algorithm>
#include <cstring>
#include <optional>

#include "image/DIBImage.h"
#include "image/NearestColourCache.h"
#include "image/PixelMasks.h"

namespace gridmorph {
namespace {

constexpr std::uint32_t kSrcCopy = 0x00CC0020;
constexpr std::uint32_t kSrcAnd = 0x008800C6;

// Blue, green, red of pixel x of a storage row of any depth; pSixteen reads 16-bit rows.
void ReadColour(const CDIBImage& image, const CSixteenBitColours* pSixteen, const std::uint8_t* pRow, int x,
                std::uint8_t* pBgr)
{
    const int nBits = image.m_nBitCount;
    if (nBits <= 8) {
        const int nBit = x * nBits;
        const int nIndex = (pRow[nBit >> 3] >> (8 - nBits - (nBit & 7))) & ((1 << nBits) - 1);
        const SRGBQuad& colour = image.m_pRGBQuad[nIndex];
        pBgr[0] = colour.rgbBlue;
        pBgr[1] = colour.rgbGreen;
        pBgr[2] = colour.rgbRed;
    } else if (nBits == 16) {
        pSixteen->ReadBgr(pRow, x, pBgr);  // the same widening as saving
    } else {
        std::memcpy(pBgr, pRow + x * (nBits / 8), 3);
    }
}

}  // namespace

bool CDIBImage::BitBlt(CDIBImage& target, int nTargetX, int nTargetY, int nSourceX, int nSourceY, int nWidth,
                       int nHeight, std::uint32_t nRop)
{
    if (nRop != kSrcCopy && nRop != kSrcAnd)
        return false;
    CDIBSection* pTargetDC = target.GetImageDC();
    CDIBSection* pSourceDC = GetImageDC();
    const bool bReady = pTargetDC && pSourceDC && m_pRGBQuad && target.m_pRGBQuad;
    if (bReady) {
        // Clip to both pictures; coordinates count rows from the top.
        if (nSourceX < 0) { nTargetX -= nSourceX; nWidth += nSourceX; nSourceX = 0; }
        if (nSourceY < 0) { nTargetY -= nSourceY; nHeight += nSourceY; nSourceY = 0; }
        if (nTargetX < 0) { nSourceX -= nTargetX; nWidth += nTargetX; nTargetX = 0; }
        if (nTargetY < 0) { nSourceY -= nTargetY; nHeight += nTargetY; nTargetY = 0; }
        nWidth = std::min({nWidth, m_nImageWidth - nSourceX, target.m_nImageWidth - nTargetX});
        nHeight = std::min({nHeight, m_nImageHeight - nSourceY, target.m_nImageHeight - nTargetY});
    }
    if (bReady && nWidth > 0 && nHeight > 0) {
        const bool bAnd = nRop == kSrcAnd;
        const int nBits = m_nBitCount;
        std::unique_ptr<CNearestColourCache> pNearest;
        std::optional<CSixteenBitColours> sixteen;
        if (nBits == 16)
            sixteen.emplace(*pSourceDC);
        for (int r = 0; r < nHeight; ++r) {
            const std::uint8_t* pSource = StorageRow(m_nImageHeight - 1 - (nSourceY + r));
            std::uint8_t* pTarget = target.StorageRow(target.m_nImageHeight - 1 - (nTargetY + r));
            if (nBits == target.m_nBitCount && nBits >= 8) {
                const int nStep = nBits / 8;
                const std::uint8_t* pFrom = pSource + static_cast<std::size_t>(nSourceX) * nStep;
                std::uint8_t* pTo = pTarget + static_cast<std::size_t>(nTargetX) * nStep;
                const std::size_t nBytes = static_cast<std::size_t>(nWidth) * nStep;
                if (!bAnd) {
                    std::memcpy(pTo, pFrom, nBytes);
                } else if (nBits == 8) {  // AND of colours, not of indices
                    for (int x = 0; x < nWidth; ++x) {
                        const SRGBQuad& a = target.m_pRGBQuad[pTo[x]];
                        const SRGBQuad& b = m_pRGBQuad[pFrom[x]];
                        if (!pNearest)
                            pNearest = std::make_unique<CNearestColourCache>(*target.m_pPalette);
                        pTo[x] = pNearest->Nearest(a.rgbRed & b.rgbRed, a.rgbGreen & b.rgbGreen, a.rgbBlue & b.rgbBlue);
                    }
                } else {
                    for (std::size_t i = 0; i < nBytes; ++i)
                        pTo[i] &= pFrom[i];
                }
                continue;
            }
            // Different depths: colour by colour.
            for (int x = 0; x < nWidth; ++x) {
                std::uint8_t aBgr[3];
                ReadColour(*this, sixteen ? &*sixteen : nullptr, pSource, nSourceX + x, aBgr);
                const int nTargetBits = target.m_nBitCount;
                if (nTargetBits == 24 || nTargetBits == 32) {
                    std::uint8_t* pPixel = pTarget + static_cast<std::size_t>(nTargetX + x) * (nTargetBits / 8);
                    for (int c = 0; c < 3; ++c)
                        pPixel[c] = bAnd ? std::uint8_t(pPixel[c] & aBgr[c]) : aBgr[c];
                    if (nTargetBits == 32)
                        pPixel[3] = 255;
                } else if (nTargetBits == 8 && target.m_pPalette) {
                    std::uint8_t& nIndex = pTarget[nTargetX + x];
                    if (bAnd) {
                        const SRGBQuad& old = target.m_pRGBQuad[nIndex];
                        aBgr[0] &= old.rgbBlue;
                        aBgr[1] &= old.rgbGreen;
                        aBgr[2] &= old.rgbRed;
                    }
                    if (!pNearest)
                        pNearest = std::make_unique<CNearestColourCache>(*target.m_pPalette);
                    nIndex = pNearest->Nearest(aBgr[2], aBgr[1], aBgr[0]);
                }
            }
        }
    }
    ReleaseImageDC(false);
    target.ReleaseImageDC(false);
    return bReady;
}

}  // namespace gridmorph
