#include "view/MapPainter.h"

#include <cstring>

#include "image/DIBImage.h"
#include "view/MapPyramid.h"
#include "view/ViewTransform.h"

namespace gridmorph {

const QImage& CMapPainter::Convert(const CDIBImage& picture, const QRect& rectPicture)
{
    const int nWidth = rectPicture.width(), nHeight = rectPicture.height();
    FitBuffer(nWidth, nHeight);

    std::uint32_t aColours[256];
    if (picture.m_nBitCount == 8) {
        const SRGBQuad* pTable = picture.m_pRGBQuad.get();
        for (int i = 0; i < 256; ++i)
            aColours[i] = pTable ? 0xFF000000u | (std::uint32_t(pTable[i].rgbRed) << 16) |
                                       (std::uint32_t(pTable[i].rgbGreen) << 8) | pTable[i].rgbBlue
                                 : 0xFF000000u;
    }
    const int x0 = rectPicture.left();
    for (int y = 0; y < nHeight; ++y) {
        // Picture row y0 + y lies in storage row H - 1 - (y0 + y).
        const std::uint8_t* pSource = picture.StorageRow(picture.m_nImageHeight - 1 - (rectPicture.top() + y));
        auto* pTarget = reinterpret_cast<std::uint32_t*>(m_buffer.scanLine(y));
        switch (picture.m_nBitCount) {
        case 8:
            pSource += x0;
            for (int x = 0; x < nWidth; ++x)
                pTarget[x] = aColours[pSource[x]];
            break;
        case 24:
            pSource += 3 * std::size_t(x0);
            for (int x = 0; x < nWidth; ++x, pSource += 3)
                pTarget[x] = 0xFF000000u | (std::uint32_t(pSource[2]) << 16) | (std::uint32_t(pSource[1]) << 8) |
                             pSource[0];
            break;
        case 32:
            // Blue, green, red, and a fourth byte the screen ignores (Format_RGB32).
            std::memcpy(pTarget, pSource + 4 * std::size_t(x0), 4 * std::size_t(nWidth));
            break;
        default:
            std::memset(pTarget, 0, 4 * std::size_t(nWidth));
            break;
        }
    }
    return m_buffer;
}

void CMapPainter::FitBuffer(int nWidth, int nHeight)
{
    if (m_buffer.width() < nWidth || m_buffer.height() < nHeight)
        m_buffer = QImage(std::max(nWidth, m_buffer.width()), std::max(nHeight, m_buffer.height()), QImage::Format_RGB32);
}

namespace {

std::uint32_t Opaque(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue)
{
    return 0xFF000000u | (std::uint32_t(nRed) << 16) | (std::uint32_t(nGreen) << 8) | nBlue;
}

// One window row from one source row through the column table.
template <int nBytes>
void SampleRow(const std::uint8_t* pSource, const int* pColumns, int nWidth, const std::uint32_t* pColours,
               std::uint32_t* pTarget)
{
    for (int x = 0; x < nWidth; ++x) {
        const std::uint8_t* p = pSource + std::size_t(pColumns[x]) * nBytes;
        if constexpr (nBytes == 1)
            pTarget[x] = pColours[p[0]];
        else
            pTarget[x] = Opaque(p[2], p[1], p[0]);
    }
}

}  // namespace

const QImage& CMapPainter::Paint(const CDIBImage& picture, const SPyramidLevel* pLevel,
                                 const CViewTransform& transform, const QRect& rectWindow)
{
    const QPoint ptScroll = transform.Scroll();
    if (transform.Zoom() == 1.0 && !pLevel)
        return Convert(picture, rectWindow.translated(ptScroll));

    const int nWidth = rectWindow.width(), nHeight = rectWindow.height();
    FitBuffer(nWidth, nHeight);
    const int nShift = pLevel ? pLevel->nLevel : 0;
    const int nSourceWidth = pLevel ? pLevel->nWidth : picture.m_nImageWidth;
    const int nSourceHeight = pLevel ? pLevel->nHeight : picture.m_nImageHeight;
    const int nBytes = pLevel ? pLevel->nBytesPerPixel : picture.m_nBitCount / 8;

    // The source column of every window column, once per paint.
    m_aColumns.resize(std::size_t(nWidth));
    for (int x = 0; x < nWidth; ++x)
        m_aColumns[x] = std::min(transform.CanvasToPicture(rectWindow.left() + x + ptScroll.x()) >> nShift,
                                 nSourceWidth - 1);

    std::uint32_t aColours[256];
    if (nBytes == 1) {
        const SRGBQuad* pTable = picture.m_pRGBQuad.get();
        for (int i = 0; i < 256; ++i)
            aColours[i] = pTable ? Opaque(pTable[i].rgbRed, pTable[i].rgbGreen, pTable[i].rgbBlue) : 0xFF000000u;
    }
    int nPreviousRow = -1;
    for (int y = 0; y < nHeight; ++y) {
        auto* pTarget = reinterpret_cast<std::uint32_t*>(m_buffer.scanLine(y));
        const int nRow = std::min(transform.CanvasToPicture(rectWindow.top() + y + ptScroll.y()) >> nShift,
                                  nSourceHeight - 1);
        if (nRow == nPreviousRow) {
            // Above 100% several window rows show one picture row.
            std::memcpy(pTarget, m_buffer.scanLine(y - 1), 4 * std::size_t(nWidth));
            continue;
        }
        nPreviousRow = nRow;
        const std::uint8_t* pSource =
            pLevel ? pLevel->Row(nRow) : picture.StorageRow(picture.m_nImageHeight - 1 - nRow);
        switch (nBytes) {
        case 1: SampleRow<1>(pSource, m_aColumns.data(), nWidth, aColours, pTarget); break;
        case 3: SampleRow<3>(pSource, m_aColumns.data(), nWidth, aColours, pTarget); break;
        case 4: SampleRow<4>(pSource, m_aColumns.data(), nWidth, aColours, pTarget); break;
        default: std::memset(pTarget, 0, 4 * std::size_t(nWidth)); break;
        }
    }
    return m_buffer;
}

}  // namespace gridmorph
