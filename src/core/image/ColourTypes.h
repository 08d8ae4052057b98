#pragma once

#include <cstdint>

namespace gridmorph {

// One colour-table entry as bitmaps store it: blue, green, red, reserved.
struct SRGBQuad {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
    bool operator==(const SRGBQuad&) const = default;
};
static_assert(sizeof(SRGBQuad) == 4);

// One logical-palette entry: red, green, blue, flags.
struct SPaletteEntry {
    std::uint8_t peRed = 0;
    std::uint8_t peGreen = 0;
    std::uint8_t peBlue = 0;
    std::uint8_t peFlags = 0;
    bool operator==(const SPaletteEntry&) const = default;
};
static_assert(sizeof(SPaletteEntry) == 4);

inline constexpr int kColourTableSize = 256;

}  // namespace gridmorph
