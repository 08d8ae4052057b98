// What flushing to the disc costs a save: a 12000 x 9000 map (the sample sheet tiled) is
// saved with its world file as BMP, PNG and LZW TIFF, alternately with the flushes (fsync
// of each file before its rename and of the folder after) and without them, best of n.
//
//   bench_durable_save SAMPLE.jpg FOLDER [--rounds N]
//
// FOLDER must be on a real disc (not tmpfs, where fsync costs nothing).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "io/SafeFileWriter.h"
#include "world/DIBWorld.h"

namespace {

// The writer's calls with the flushes left out.
class CNoFlushCalls : public gridmorph::CFileSystemCalls {
public:
    int Fsync(int) override { return 0; }
};

}  // namespace

int main(int argc, char** argv)
{
    using namespace gridmorph;
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_durable_save SAMPLE.jpg FOLDER [--rounds N]\n");
        return 2;
    }
    int nRounds = 3;
    for (int i = 3; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--rounds")
            nRounds = std::max(1, std::atoi(argv[i + 1]));
    CDIBImage tile;
    if (!tile.OpenDIB(argv[1]))
        return 1;
    CDIBImage scan;
    bench::MakeTiledScan(tile, 12000, 9000, scan);
    CDIBWorld map;
    map.CreateImage(24, 12000, 9000, FILL_NONE, 0, 0, 0, nullptr);
    std::memcpy(map.StorageRow(0), scan.StorageRow(0), std::size_t(scan.m_nStride) * 9000);
    scan.DestroyImage(true);
    map.SetEdges({500000.0, 6209000.0, 511999.0, 6200001.0});

    const std::string strFolder = argv[2];
    std::printf("%-6s %12s %12s %8s %10s\n", "format", "flushed s", "unflushed s", "ratio", "size MB");
    for (const char* pExtension : {"bmp", "png", "tif"}) {
        const std::string strPath = strFolder + "/durable." + pExtension;
        CNoFlushCalls noFlush;
        double dFlushed = 1e30, dUnflushed = 1e30;
        for (int nRound = 0; nRound < nRounds; ++nRound) {
            // Alternated, so both see the same state of the machine and its disc.
            dFlushed = std::min(dFlushed, bench::Seconds([&] { map.SaveWorldSilent(strPath); }, 1));
            const CScopedFileSystemCalls installed(noFlush);
            dUnflushed = std::min(dUnflushed, bench::Seconds([&] { map.SaveWorldSilent(strPath); }, 1));
        }
        std::printf("%-6s %12.3f %12.3f %8.2f %10.1f\n", pExtension, dFlushed, dUnflushed, dFlushed / dUnflushed,
                    double(std::filesystem::file_size(strPath)) / (1 << 20));
        std::filesystem::remove(strPath);
        std::filesystem::remove(WorldFileNameFor(strPath));
    }
    return 0;
}
