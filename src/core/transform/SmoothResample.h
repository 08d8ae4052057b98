#pragma once

#include <array>
#include <cstdint>

#include "image/DIBImage.h"
#include "transform/RectifyingTransform.h"
#include "transform/TransformOptions.h"

namespace gridmorph {

// The source of a resampling that changes the pixel format: the picture, and for an 8-bit
// one its colour table as blue, green, red, unused bytes per index.
struct SResampleSource {
    const CDIBImage* pImage = nullptr;
    std::array<std::uint8_t, 1024> aColours{};
};
SResampleSource MakeResampleSource(const CDIBImage& source);

// Fills one full-colour output row (nOutputBytes 3: blue, green, red; 4: the same with
// alpha 255 on every pixel the scan covers): the rectified row nV, columns from nU0 on,
// nWidth of them. The pixels written are the same as the nearest-neighbour row's (those
// whose nearest source pixel lies inside the scan); the others are left as they are.
//   Nearest: the nearest source pixel's colour.
//   Bilinear: the four source pixels around the point, weighted by distance (weights in
//     steps of 1/2048, the result rounded); positions beyond the outermost pixel centres
//     take the edge pixels, so the border is not darkened.
//   Cubic: the 4 x 4 pixels around the point through the cubic convolution kernel with
//     a = -0.5 (weights in steps of 1/4096), rounded and clamped to 0..255; where the
//     4 x 4 pixels do not all lie on the scan, bilinear.
// The transform is evaluated per pixel in the same operations as the nearest-neighbour row.
void ResampleRowConverted(const SRectifyingTransform& transform, const SResampleSource& source,
                          EResampling eResampling, std::int64_t nV, std::int64_t nU0, int nWidth, int nOutputBytes,
                          std::uint8_t* pOutputRow);

}  // namespace gridmorph
