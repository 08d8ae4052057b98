#pragma once

#include <QImage>
#include <QRect>
#include <vector>

namespace gridmorph {

class CDIBImage;
class CViewTransform;
struct SPyramidLevel;

// Converts the part of a picture that a window shows into a screen image, one visible
// row at a time straight from the picture's bottom-up storage: 8-bit through its colour
// table, 24-bit blue-green-red, 32-bit as stored. Nothing outside the rectangle is read,
// and the buffer is kept between paints, so a paint costs only what it shows.
class CMapPainter {
public:
    // The picture's rectangle (picture pixels, rows from the top) as a screen image;
    // the rectangle must lie inside the picture.
    const QImage& Convert(const CDIBImage& picture, const QRect& rectPicture);

    // The window rectangle (window pixels, inside the zoomed canvas) as a screen image at the
    // transform's zoom: each window pixel shows the picture pixel under it (above 100% a
    // sharp square), read from the reduced copy when one is given. Only what the rectangle
    // shows is read and converted.
    const QImage& Paint(const CDIBImage& picture, const SPyramidLevel* pLevel, const CViewTransform& transform,
                        const QRect& rectWindow);

private:
    void FitBuffer(int nWidth, int nHeight);

    QImage m_buffer;
    std::vector<int> m_aColumns;
};

}  // namespace gridmorph
