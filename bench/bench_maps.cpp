// Map copies and colour reduction on map-sized pictures, beside a memcpy of the same
// bytes in the same run.
//
//   bench_maps SAMPLE.jpg
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <vector>

#include "BenchSupport.h"
#include "image/DIBImage.h"
#include "platform/HeadlessPlatform.h"
#include "world/DIBWorld.h"

using namespace gridmorph;
using bench::Seconds;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_maps SAMPLE.jpg\n");
        return 2;
    }
    CHeadlessPlatform platform;
    platform.SetQuiet(true);
    CScopedPlatform installed(platform);
    CDIBImage tile;
    if (!tile.OpenDIB(argv[1]))
        return 1;

    // Popular-colour reduction of a 12000 x 9000 scan (both passes).
    CDIBWorld scan;
    bench::MakeTiledScan(tile, 12000, 9000, scan, 7);
    {
        std::unordered_set<std::uint32_t> aColours;
        for (int nRow = 0; nRow < 9000; nRow += 3)
            for (int x = 0; x < 12000; ++x) {
                const std::uint8_t* p = scan.StorageRow(nRow) + 3 * x;
                aColours.insert(p[0] | (p[1] << 8) | (p[2] << 16));
            }
        std::printf("scan: 12000 x 9000, at least %zu distinct colours (every third row counted)\n", aColours.size());
    }
    const std::size_t nBytes24 = std::size_t(scan.m_nStride) * scan.m_nImageHeight;
    std::vector<std::uint8_t> aCopy(nBytes24);
    const double dMemcpy24 = Seconds([&] { std::memcpy(aCopy.data(), scan.m_pImageBits, nBytes24); });
    CDIBWorld reduced;
    const double dReduce = Seconds([&] { reduced.CreateImage(8, &scan, true, true, true, true, false); });
    std::printf("popular-colour reduction 24 -> 8: %.3f s = %.0f MP/s (memcpy of the 24-bit storage %.3f s)\n\n",
                dReduce, 108.0 / dReduce, dMemcpy24);

    // CopyMap: four 6000 x 4500 sources into a 12000 x 9000 map at the same resolution.
    std::printf("%-34s %9s %9s %7s\n", "CopyMap of four 6000 x 4500 maps", "seconds", "memcpy", "ratio");
    const struct {
        const char* pName;
        int nSourceBits;
        int nDestBits;
    } aCases[] = {{"8-bit, same palette", 8, 8}, {"24-bit", 24, 24}, {"24-bit into 8-bit", 24, 8}};
    for (const auto& aCase : aCases) {
        CDIBWorld aSources[4];
        for (int i = 0; i < 4; ++i) {
            CDIBWorld source24;
            bench::MakeTiledScan(tile, 6000, 4500, source24, 11 + i);
            if (aCase.nSourceBits == 8)
                aSources[i].CreateImage(8, &source24, true, true, true, false, false);  // the default cube
            else
                aSources[i].CreateImage(24, &source24, true, true, true, false, false);
            const double dWest = 500000 + (i % 2) * 6000, dSouth = 6000000 + (i / 2) * 4500;
            aSources[i].SetEdges({dWest, dSouth + 4499, dWest + 5999, dSouth});
        }
        CDIBWorld map;
        map.CreateImage(aCase.nDestBits, 12000, 9000, FILL_WHITE, 0, 0, 0, nullptr);
        map.SetEdges({500000, 6008999, 511999, 6000000});
        const std::size_t nBytes = std::size_t(map.m_nStride) * map.m_nImageHeight;
        const double dMemcpy = Seconds([&] { std::memcpy(aCopy.data(), map.m_pImageBits, nBytes); });
        const double dCopy = Seconds([&] {
            for (CDIBWorld& source : aSources)
                source.CopyMap(&map, &source, "bench", true, kSrcCopy);
        });
        std::printf("%-34s %9.3f %9.3f %7.2f\n", aCase.pName, dCopy, dMemcpy, dCopy / dMemcpy);
    }
    return 0;
}
