#pragma once

#include <cstdint>

namespace gridmorph {

// How a rectified pixel takes its value from the scan.
enum class EResampling {
    Nearest,   // the nearest source pixel (bit-exact, the default)
    Bilinear,  // the four surrounding source pixels, weighted by distance
    Cubic,     // the sixteen surrounding pixels through the cubic convolution kernel (a = -0.5)
};

// What part of the rectified map is kept.
enum class EClip {
    None,   // everything the scan covers
    Grid,   // the rectangle of the three locators
    Frame,  // the locators' rectangle extended by whole grid cells (SFrameCells)
};

// The grid cells that EClip::Frame keeps, counted from the three locators' rectangle: how
// many cells the rectangle spans across and down, and how many whole cells more it is
// extended by on each side.
struct SFrameCells {
    int nAcross = 0, nDown = 0;
    int nWest = 0, nNorth = 0, nEast = 0, nSouth = 0;
};

// What the area outside the scan (and outside the clip) becomes.
enum class ENoData {
    Black,        // filled black (or the colour-table index nearest to black), nothing marked
    Transparent,  // an alpha channel (32-bit output) or a palette index marked transparent
    Value,        // filled with a given colour or index, named as the no-data value
};

// The choices of one rectification; the default values give the map as it has always been.
struct STransformOptions {
    EResampling eResampling = EResampling::Nearest;
    EClip eClip = EClip::None;
    ENoData eNoData = ENoData::Black;
    // ENoData::Value: the colour of a full-colour output, or with nNoDataIndex >= 0 the
    // palette index of an 8-bit output.
    std::uint8_t nNoDataRed = 0, nNoDataGreen = 0, nNoDataBlue = 0;
    int nNoDataIndex = -1;
    // EClip::Frame: the cells kept, found on the scan before the transform.
    SFrameCells frame;
};

}  // namespace gridmorph
