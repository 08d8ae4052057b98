#pragma once

#include <QImage>
#include <QRect>

namespace gridmorph {

class CDIBImage;

// Converts the part of a picture that a window shows into a screen image, one visible
// row at a time straight from the picture's bottom-up storage: 8-bit through its colour
// table, 24-bit blue-green-red, 32-bit as stored. Nothing outside the rectangle is read,
// and the buffer is kept between paints, so a paint costs only what it shows.
class CMapPainter {
public:
    // The picture's rectangle (picture pixels, rows from the top) as a screen image;
    // the rectangle must lie inside the picture.
    const QImage& Convert(const CDIBImage& picture, const QRect& rectPicture);

private:
    QImage m_buffer;
};

}  // namespace gridmorph
