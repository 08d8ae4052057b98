#include "view/MapPainter.h"

#include <cstring>

#include "image/DIBImage.h"

namespace gridmorph {

const QImage& CMapPainter::Convert(const CDIBImage& picture, const QRect& rectPicture)
{
    const int nWidth = rectPicture.width(), nHeight = rectPicture.height();
    if (m_buffer.width() < nWidth || m_buffer.height() < nHeight)
        m_buffer = QImage(std::max(nWidth, m_buffer.width()), std::max(nHeight, m_buffer.height()), QImage::Format_RGB32);

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

}  // namespace gridmorph
