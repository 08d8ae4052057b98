// Copying one georeferenced picture into another by map position, and cropping.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "errors/ErrorText.h"
#include "image/NearestColourCache.h"
#include "platform/MessageBox.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

bool SamePalette(const CDIBWorld& dest, const CDIBWorld& source)
{
    if (dest.m_nBitCount != 8 || source.m_nBitCount != 8)
        return false;
    for (int i = 0; i < kColourTableSize; ++i) {
        const SRGBQuad& a = dest.m_pRGBQuad[i];
        const SRGBQuad& b = source.m_pRGBQuad[i];
        if (a.rgbBlue != b.rgbBlue || a.rgbGreen != b.rgbGreen || a.rgbRed != b.rgbRed)
            return false;
    }
    return true;
}

// The source column or row of each destination one: the straight line between the two
// window corners, rounded as "+ 0.5, truncated".
std::vector<int> LinearMapping(int nFirst, int nLast, int nSourceFirst, int nSourceLast, int nSourceLimit)
{
    std::vector<int> aMap(static_cast<std::size_t>(nLast - nFirst + 1));
    const bool bSame = (nLast - nFirst == nSourceLast - nSourceFirst) || nLast == nFirst;
    const double dRatio = bSame ? 1.0 : double(nSourceLast - nSourceFirst) / double(nLast - nFirst);
    for (int n = nFirst; n <= nLast; ++n) {
        const int nSource = bSame ? nSourceFirst + (n - nFirst) : nSourceFirst + int((n - nFirst) * dRatio + 0.5);
        aMap[static_cast<std::size_t>(n - nFirst)] = std::min(nSource, nSourceLimit);
    }
    return aMap;
}

// Copies one destination row span pixel by pixel, by the pair of depths.
class CPixelCopier {
public:
    CPixelCopier(CDIBWorld& dest, const CDIBWorld& source, bool bSamePalette, bool bAnd)
        : m_dest(dest), m_source(source), m_bSamePalette(bSamePalette), m_bAnd(bAnd)
    {
        // A source that marks no data (an alpha channel, a transparent palette entry, a
        // no-data colour) gives only its valid pixels: what is beneath stays.
        if (const CDIBSection* pPicture = source.Bitmap(); pPicture && pPicture->m_noData.bSet) {
            const SNoDataValue& noData = pPicture->m_noData;
            if (source.m_nBitCount == 32 && noData.bTransparent)
                m_eSkip = ESkip::ZeroAlpha;
            else if (source.m_nBitCount == 8 && noData.nIndex >= 0 && noData.nIndex < 256)
                m_eSkip = ESkip::Index;
            else if (source.m_nBitCount == 24)
                m_eSkip = ESkip::Colour;
            m_noData = noData;
        }
        if (dest.m_nBitCount == 8 && dest.m_pPalette) {
            m_pNearest = std::make_unique<CNearestColourCache>(*dest.m_pPalette);
            if (source.m_nBitCount == 8 && !bSamePalette && !bAnd)
                for (int i = 0; i < kColourTableSize; ++i) {
                    const SRGBQuad& colour = source.m_pRGBQuad[i];
                    m_aIndexMap[static_cast<std::size_t>(i)] =
                        m_pNearest->Nearest(colour.rgbRed, colour.rgbGreen, colour.rgbBlue);
                }
        }
    }

    // Whether the source's pixels are copied only where they hold data.
    bool SkipsNoData() const { return m_eSkip != ESkip::None; }

    void CopySpan(std::uint8_t* pTargetRow, const std::uint8_t* pSourceRow, int x0, const std::vector<int>& aColumns)
    {
        if (m_eSkip != ESkip::None) {
            CopyValidPixels(pTargetRow, pSourceRow, x0, aColumns);
            return;
        }
        CopyAll(pTargetRow, pSourceRow, x0, aColumns);
    }

private:
    enum class ESkip { None, ZeroAlpha, Index, Colour };

    bool IsNoData(const std::uint8_t* pSourceRow, int nColumn) const
    {
        switch (m_eSkip) {
        case ESkip::ZeroAlpha:
            return pSourceRow[4 * static_cast<std::size_t>(nColumn) + 3] == 0;
        case ESkip::Index:
            return pSourceRow[nColumn] == m_noData.nIndex;
        case ESkip::Colour: {
            const std::uint8_t* p = pSourceRow + 3 * static_cast<std::size_t>(nColumn);
            return p[0] == m_noData.nBlue && p[1] == m_noData.nGreen && p[2] == m_noData.nRed;
        }
        case ESkip::None:
            break;
        }
        return false;
    }

    // The copy of runs of valid pixels, each through the copy of every pixel.
    void CopyValidPixels(std::uint8_t* pTargetRow, const std::uint8_t* pSourceRow, int x0, const std::vector<int>& aColumns)
    {
        const std::size_t nCount = aColumns.size();
        std::vector<int>& aRun = m_aRun;
        std::size_t i = 0;
        while (i < nCount) {
            while (i < nCount && IsNoData(pSourceRow, aColumns[i]))
                ++i;
            const std::size_t nStart = i;
            while (i < nCount && !IsNoData(pSourceRow, aColumns[i]))
                ++i;
            if (i > nStart) {
                aRun.assign(aColumns.begin() + static_cast<std::ptrdiff_t>(nStart),
                            aColumns.begin() + static_cast<std::ptrdiff_t>(i));
                CopyAll(pTargetRow, pSourceRow, x0 + static_cast<int>(nStart), aRun);
            }
        }
    }

    void CopyAll(std::uint8_t* pTargetRow, const std::uint8_t* pSourceRow, int x0, const std::vector<int>& aColumns)
    {
        const int nTargetBits = m_dest.m_nBitCount;
        const int nSourceBits = m_source.m_nBitCount;
        const std::size_t nCount = aColumns.size();
        if (nTargetBits == 8 && nSourceBits == 8) {
            std::uint8_t* pTarget = pTargetRow + x0;
            for (std::size_t i = 0; i < nCount; ++i) {
                const std::uint8_t nIndex = pSourceRow[aColumns[i]];
                if (m_bAnd) {
                    const SRGBQuad& a = m_dest.m_pRGBQuad[pTarget[i]];
                    const SRGBQuad& b = m_source.m_pRGBQuad[nIndex];
                    pTarget[i] = m_pNearest->Nearest(a.rgbRed & b.rgbRed, a.rgbGreen & b.rgbGreen, a.rgbBlue & b.rgbBlue);
                } else {
                    pTarget[i] = m_bSamePalette ? nIndex : m_aIndexMap[nIndex];
                }
            }
        } else if (nTargetBits == nSourceBits && (nTargetBits == 24 || nTargetBits == 32)) {
            const int nStep = nTargetBits / 8;
            std::uint8_t* pTarget = pTargetRow + static_cast<std::size_t>(x0) * nStep;
            for (std::size_t i = 0; i < nCount; ++i, pTarget += nStep) {
                const std::uint8_t* pSource = pSourceRow + static_cast<std::size_t>(aColumns[i]) * nStep;
                for (int c = 0; c < nStep; ++c)
                    pTarget[c] = m_bAnd ? std::uint8_t(pTarget[c] & pSource[c]) : pSource[c];
            }
        } else if ((nTargetBits == 24 || nTargetBits == 32) && nSourceBits == 8) {
            const int nStep = nTargetBits / 8;
            std::uint8_t* pTarget = pTargetRow + static_cast<std::size_t>(x0) * nStep;
            for (std::size_t i = 0; i < nCount; ++i, pTarget += nStep) {
                const SRGBQuad& colour = m_source.m_pRGBQuad[pSourceRow[aColumns[i]]];
                const std::uint8_t aBgr[3] = {colour.rgbBlue, colour.rgbGreen, colour.rgbRed};
                for (int c = 0; c < 3; ++c)
                    pTarget[c] = m_bAnd ? std::uint8_t(pTarget[c] & aBgr[c]) : aBgr[c];
                if (nStep == 4)
                    pTarget[3] = 255;
            }
        } else if (nTargetBits == 8 && (nSourceBits == 24 || nSourceBits == 32)) {
            const int nStep = nSourceBits / 8;
            std::uint8_t* pTarget = pTargetRow + x0;
            for (std::size_t i = 0; i < nCount; ++i) {
                const std::uint8_t* pSource = pSourceRow + static_cast<std::size_t>(aColumns[i]) * nStep;
                std::uint8_t nBlue = pSource[0], nGreen = pSource[1], nRed = pSource[2];
                if (m_bAnd) {
                    const SRGBQuad& old = m_dest.m_pRGBQuad[pTarget[i]];
                    nBlue &= old.rgbBlue;
                    nGreen &= old.rgbGreen;
                    nRed &= old.rgbRed;
                }
                pTarget[i] = m_pNearest->Nearest(nRed, nGreen, nBlue);
            }
        }
        // Any other pair (24-bit with 32-bit, or depths below 8) leaves the pixels as they are.
    }

    CDIBWorld& m_dest;
    const CDIBWorld& m_source;
    bool m_bSamePalette;
    bool m_bAnd;
    std::unique_ptr<CNearestColourCache> m_pNearest;
    std::array<std::uint8_t, kColourTableSize> m_aIndexMap{};
    ESkip m_eSkip = ESkip::None;
    SNoDataValue m_noData;
    std::vector<int> m_aRun;  // the columns of one run of valid pixels, reused row after row
};

// A rectangle of pixels, both corners included.
struct SPixelWindow {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The pixel of dest whose centre is nearest a map position in centimetres, moved one
// pixel inwards (nInwards +1 for the west and south corner, -1 for the east and north)
// when that centre lies outside the position.
void CornerPixel(const CDIBWorld& dest, int nEastingCm, int nNorthingCm, int nInwards, int& nX, int& nY)
{
    nX = nEastingCm;
    nY = nNorthingCm;
    dest.MapToPixel(nX, nY, false);
    int nBackX = nX, nBackY = nY;
    dest.PixelToMap(nBackX, nBackY, false);
    if (nInwards > 0 ? nBackX < nEastingCm : nBackX > nEastingCm)
        nX += nInwards;
    if (nInwards > 0 ? nBackY < nNorthingCm : nBackY > nNorthingCm)
        nY += nInwards;
}

// The destination pixels whose centres lie on or inside the source's area, and the source
// pixels at its corners (carried across by map position); false when they do not meet.
bool CopyWindows(const CDIBWorld& dest, const CDIBWorld& source, SPixelWindow& to, SPixelWindow& from)
{
    const int nDestWidth = dest.m_nImageWidth, nDestHeight = dest.m_nImageHeight;
    const int nSourceWidth = source.m_nImageWidth, nSourceHeight = source.m_nImageHeight;
    CornerPixel(dest, source.m_nWestCm, source.m_nSouthCm, +1, to.x0, to.y0);
    if (to.x0 > nDestWidth - 1 || to.y0 > nDestHeight - 1)
        return false;
    to.x0 = std::max(to.x0, 0);
    to.y0 = std::max(to.y0, 0);
    CornerPixel(dest, source.m_nEastCm, source.m_nNorthCm, -1, to.x1, to.y1);
    if (to.x1 < 0 || to.y1 < 0)
        return false;
    to.x1 = std::min(to.x1, nDestWidth - 1);
    to.y1 = std::min(to.y1, nDestHeight - 1);

    auto SourcePixel = [&](int x, int y, int& nSourceX, int& nSourceY) {
        double dX = x, dY = y;
        dest.PixelToMap(dX, dY, false);
        source.MapToPixel(dX, dY, false);
        nSourceX = static_cast<int>(std::clamp(dX + 0.5, -2147483648.0, 2147483647.0));
        nSourceY = static_cast<int>(std::clamp(dY + 0.5, -2147483648.0, 2147483647.0));
    };
    SourcePixel(to.x0, to.y0, from.x0, from.y0);
    if (from.x0 > nSourceWidth - 1 || from.y0 > nSourceHeight - 1)
        return false;
    from.x0 = std::max(from.x0, 0);
    from.y0 = std::max(from.y0, 0);
    SourcePixel(to.x1, to.y1, from.x1, from.y1);
    if (from.x1 < 0 || from.y1 < 0)
        return false;
    from.x1 = std::min(from.x1, nSourceWidth - 1);
    from.y1 = std::min(from.y1, nSourceHeight - 1);
    return to.x1 >= to.x0 && from.x1 >= from.x0 && to.y1 >= to.y0 && from.y1 >= from.y0;
}

}  // namespace

bool CDIBWorld::CopyMap(CDIBWorld* pDest, CDIBWorld* pSource, const std::string& strName, bool bShowProgress,
                        std::uint32_t nRop)
{
    CDIBWorld& dest = *pDest;
    CDIBWorld& source = *pSource;
    auto Fail = [this](CDIBWorld& offender, int nNumber, const char* pDetail) {
        offender.m_nErrorNumber = nNumber;
        m_nErrorNumber = nNumber;
        m_strErrorText = pDetail;
        return false;
    };
    if (!dest.HasWorld())
        return Fail(dest, ERR_NO_WORLD_INFORMATION, "\nIn destination for CopyMap().");
    if (!source.HasWorld())
        return Fail(source, ERR_NO_WORLD_INFORMATION, "\nIn source for CopyMap().");
    if (dest.m_nImageWidth <= 1 || dest.m_nImageHeight <= 1)
        return Fail(dest, ERR_IMAGE_TOO_SMALL, "\nIn destination for CopyMap().");
    if (source.m_nImageWidth <= 1 || source.m_nImageHeight <= 1)
        return Fail(source, ERR_IMAGE_TOO_SMALL, "\nIn source for CopyMap().");

    // Returns that leave before copying report whether the destination has no error.
    SPixelWindow to, from;
    if (!CopyWindows(dest, source, to, from))
        return dest.m_nErrorNumber == 0;
    const int x0 = to.x0, y0 = to.y0, x1 = to.x1, y1 = to.y1, sx0 = from.x0;

    const bool bSamePalette = SamePalette(dest, source);
    const bool bSameColumns = (x1 - x0 == from.x1 - from.x0) || x1 == x0;
    const std::vector<int> aColumns = LinearMapping(x0, x1, from.x0, from.x1, source.m_nImageWidth - 1);
    const std::vector<int> aRows = LinearMapping(y0, y1, from.y0, from.y1, source.m_nImageHeight - 1);
    const bool bAnd = nRop == kSrcAnd;
    const int nDepth = dest.m_nBitCount;
    const bool bByteRunDepths = bSameColumns && ((nDepth == 8 && source.m_nBitCount == 8 && bSamePalette && !bAnd) ||
                                           ((nDepth == 24 || nDepth == 32) && source.m_nBitCount == nDepth));
    CPixelCopier copier(dest, source, bSamePalette, bAnd);
    const bool bByteRun = bByteRunDepths && !copier.SkipsNoData();

    CMessageBox progress;
    if (bShowProgress)
        progress.StartProgress(y0, y1, "Copying " + strName);
    for (int y = y0; y <= y1; ++y) {
        const int sy = aRows[static_cast<std::size_t>(y - y0)];
        if (bShowProgress)
            progress.SetProgress(y, std::string());
        std::uint8_t* pTargetRow = dest.StorageRow(y);
        const std::uint8_t* pSourceRow = source.StorageRow(sy);
        if (bByteRun) {
            const int nStep = nDepth / 8;
            std::uint8_t* pTo = pTargetRow + static_cast<std::size_t>(x0) * nStep;
            const std::uint8_t* pFrom = pSourceRow + static_cast<std::size_t>(sx0) * nStep;
            const std::size_t nBytes = static_cast<std::size_t>(x1 - x0 + 1) * nStep;
            if (bAnd) {
                for (std::size_t i = 0; i < nBytes; ++i)
                    pTo[i] &= pFrom[i];
            } else {
                std::memcpy(pTo, pFrom, nBytes);
            }
        } else {
            copier.CopySpan(pTargetRow, pSourceRow, x0, aColumns);
        }
    }
    if (bShowProgress)
        progress.EndProgress();

    // The copy lies in the source's system; a destination that had none takes it.
    if (!dest.CoordinateSystem() && source.CoordinateSystem())
        dest.SetCoordinateSystem(source.CoordinateSystem());
    m_nErrorNumber = dest.m_nErrorNumber;
    if (m_nErrorNumber == 0 && source.m_nErrorNumber > 0)
        m_nErrorNumber = source.m_nErrorNumber;
    return m_nErrorNumber == 0;
}

bool CDIBWorld::CropMap(CDIBWorld* pDest, int nLeft, int nTop, int nWidth, int nHeight, std::uint32_t nRop)
{
    const long long W = m_nImageWidth, H = m_nImageHeight;
    const long long nRight = static_cast<long long>(nLeft) + nWidth - 1;
    const long long nBottom = static_cast<long long>(nTop) + nHeight - 1;
    if (nLeft >= W || nTop >= H || nRight < 0 || nBottom < 0)
        return true;
    // Only the part of the rectangle on the picture is copied, and each of its pixels
    // goes where the rectangle puts it: destination column k always shows source column
    // left + k. Whatever lies beyond the picture stays as the destination was made.
    const int nFirstColumn = std::max(nLeft, 0), nFirstRow = std::max(nTop, 0);
    const int nToX = static_cast<int>(nFirstColumn - static_cast<long long>(nLeft));
    const int nToY = static_cast<int>(nFirstRow - static_cast<long long>(nTop));
    const long long nCopyWidth = std::min<long long>(std::min(nRight, W - 1) - nFirstColumn + 1,
                                                     static_cast<long long>(pDest->m_nImageWidth) - nToX);
    const long long nCopyHeight = std::min<long long>(std::min(nBottom, H - 1) - nFirstRow + 1,
                                                      static_cast<long long>(pDest->m_nImageHeight) - nToY);
    if (nCopyWidth > 0 && nCopyHeight > 0 &&
        !BitBlt(*pDest, nToX, nToY, nFirstColumn, nFirstRow, static_cast<int>(nCopyWidth),
                static_cast<int>(nCopyHeight), nRop))
        return false;
    if (!HasWorld()) {
        m_nErrorNumber = ERR_NO_WORLD_INFORMATION;
        m_strErrorText = "\nIn source for CropMap().";
        pDest->m_bWorld = 0;
        return false;
    }
    // The edges of the rectangle asked for, also where it reaches beyond the picture.
    double dWest = nLeft, dNorth = nTop;
    double dEast = double(nLeft) + pDest->m_nImageWidth - 1, dSouth = double(nTop) + pDest->m_nImageHeight - 1;
    PixelToMap(dWest, dNorth, true);
    PixelToMap(dEast, dSouth, true);
    pDest->SetEdges({dWest / 100.0, dNorth / 100.0, dEast / 100.0, dSouth / 100.0});
    pDest->SetCoordinateSystem(m_coordinateSystem);
    return true;
}

}  // namespace gridmorph
