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

// One window row as the mean of 2 x 2 source pixels from two source rows: for zooms between
// two reduced copies, where every window pixel covers more than one pixel of the finer copy
// (and less than two), so that thin lines never fall between the samples.
template <int nBytes>
void AverageRow(const std::uint8_t* pTop, const std::uint8_t* pBottom, const int* pColumns, int nLastColumn,
                int nWidth, const std::uint32_t* pColours, std::uint32_t* pTarget)
{
    auto colour = [pColours](const std::uint8_t* p) -> std::uint32_t {
        if constexpr (nBytes == 1)
            return pColours[p[0]];
        else
            return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    };
    for (int x = 0; x < nWidth; ++x) {
        const int c0 = pColumns[x], c1 = std::min(c0 + 1, nLastColumn);
        const std::uint32_t a = colour(pTop + std::size_t(c0) * nBytes), b = colour(pTop + std::size_t(c1) * nBytes),
                            c = colour(pBottom + std::size_t(c0) * nBytes),
                            d = colour(pBottom + std::size_t(c1) * nBytes);
        const std::uint32_t nRedBlue = (a & 0xFF00FFu) + (b & 0xFF00FFu) + (c & 0xFF00FFu) + (d & 0xFF00FFu) + 0x20002u;
        const std::uint32_t nGreen = (a & 0xFF00u) + (b & 0xFF00u) + (c & 0xFF00u) + (d & 0xFF00u) + 0x200u;
        pTarget[x] = 0xFF000000u | ((nRedBlue >> 2) & 0xFF00FFu) | ((nGreen >> 2) & 0xFF00u);
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
    // Between two reduced copies each window pixel covers more than one pixel of the finer.
    const bool bAverage = pLevel && transform.Zoom() * double(1 << nShift) < 1.0 - 1e-9;
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
        if (bAverage) {
            const std::uint8_t* pTop = pLevel->Row(nRow);
            const std::uint8_t* pBottom = pLevel->Row(std::min(nRow + 1, nSourceHeight - 1));
            if (nBytes == 1)
                AverageRow<1>(pTop, pBottom, m_aColumns.data(), nSourceWidth - 1, nWidth, aColours, pTarget);
            else
                AverageRow<3>(pTop, pBottom, m_aColumns.data(), nSourceWidth - 1, nWidth, aColours, pTarget);
            continue;
        }
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
