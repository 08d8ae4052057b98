#include <gtest/gtest.h>

#include <random>

#include "image/DIBImage.h"
#include "image/NearestColourCache.h"

namespace gridmorph {
namespace {

// The cached, cell-pruned search must give exactly the palette's own answer, ties and
// exact matches included, for palettes with many duplicates and equidistant entries.
TEST(NearestColourCache, GivesThePalettesOwnAnswerForEveryColourTried)
{
    std::mt19937 random(3);
    std::vector<std::vector<SPaletteEntry>> aPalettes;
    SRGBQuad aCube[256];
    CDIBImage::SetDefaultRGBQuad(aCube);
    std::vector<SPaletteEntry> aCubeEntries;
    for (const SRGBQuad& q : aCube)
        aCubeEntries.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    aPalettes.push_back(aCubeEntries);
    std::vector<SPaletteEntry> aCoarse;  // few levels: many equidistant entries, duplicates
    for (int i = 0; i < 256; ++i)
        aCoarse.push_back({std::uint8_t((random() % 3) * 120), std::uint8_t((random() % 3) * 120), std::uint8_t((random() % 3) * 120), 0});
    aPalettes.push_back(aCoarse);
    std::vector<SPaletteEntry> aRandom;
    for (int i = 0; i < 256; ++i)
        aRandom.push_back({std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()), 0});
    aPalettes.push_back(aRandom);
    aPalettes.push_back({{10, 10, 10, 0}});
    for (const auto& aEntries : aPalettes) {
        const CPalette palette(aEntries);
        CNearestColourCache cache(palette);
        for (int n = 0; n < 200000; ++n) {
            const std::uint32_t c = random();
            const std::uint8_t r = std::uint8_t(c), g = std::uint8_t(c >> 8), b = std::uint8_t(c >> 16);
            ASSERT_EQ(cache.Nearest(r, g, b), palette.GetNearestPaletteIndex(r, g, b)) << int(r) << "," << int(g) << "," << int(b);
        }
        // Every exact entry colour, and the corners of the cube.
        for (const SPaletteEntry& entry : aEntries)
            ASSERT_EQ(cache.Nearest(entry.peRed, entry.peGreen, entry.peBlue),
                      palette.GetNearestPaletteIndex(entry.peRed, entry.peGreen, entry.peBlue));
        for (int corner = 0; corner < 8; ++corner) {
            const std::uint8_t r = (corner & 1) ? 255 : 0, g = (corner & 2) ? 255 : 0, b = (corner & 4) ? 255 : 0;
            ASSERT_EQ(cache.Nearest(r, g, b), palette.GetNearestPaletteIndex(r, g, b));
        }
    }
}

}  // namespace
}  // namespace gridmorph
