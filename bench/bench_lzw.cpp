// TIFF LZW strips of a picture, with the horizontal predictor as the TIFF writer uses it,
// by this program's encoder and by libtiff's (a TIFF in memory, one strip written at a
// time), side by side in one run, one thread, processor time, best of the rounds; then
// whether the two gave the same bytes.
//
//   bench_lzw PICTURE [--rounds N]
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "image/DIBImage.h"
#include "image/codecs/TiffLzw.h"
#include "platform/HeadlessPlatform.h"

using namespace gridmorph;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_lzw PICTURE [--rounds N]\n");
        return 2;
    }
    const int nRounds = argc >= 4 && std::string(argv[2]) == "--rounds" ? std::atoi(argv[3]) : 3;
    CHeadlessPlatform platform;
    platform.SetQuiet(true);
    CScopedPlatform installed(platform);
    CDIBImage picture;
    if (!picture.OpenDIB(argv[1]) || picture.m_nBitCount != 24) {
        std::fprintf(stderr, "bench_lzw: a 24-bit picture is needed\n");
        return 1;
    }
    const int nWidth = picture.m_nImageWidth, nHeight = picture.m_nImageHeight;
    const std::size_t nRowBytes = std::size_t(nWidth) * 3;
    // The rows as a TIFF holds them: top first, red, green, blue.
    std::vector<std::uint8_t> aRows(nRowBytes * std::size_t(nHeight));
    for (int y = 0; y < nHeight; ++y) {
        const std::uint8_t* p = picture.StorageRow(nHeight - 1 - y);
        std::uint8_t* q = aRows.data() + std::size_t(y) * nRowBytes;
        for (int x = 0; x < nWidth; ++x)
            q[3 * x] = p[3 * x + 2], q[3 * x + 1] = p[3 * x + 1], q[3 * x + 2] = p[3 * x];
    }
    std::vector<std::uint8_t> aScratch(nRowBytes), aOurs, aTheirs;

    // Ours: predictor and LZW, a row per strip.
    auto Ours = [&] {
        aOurs.clear();
        CTiffLzwEncoder encoder;
        for (int y = 0; y < nHeight; ++y) {
            std::memcpy(aScratch.data(), aRows.data() + std::size_t(y) * nRowBytes, nRowBytes);
            DifferenceTiffRows(aScratch.data(), nRowBytes, 1, 3);
            encoder.EncodeStrip(aScratch.data(), nRowBytes, aOurs);
        }
    };
    // libtiff's: a file in a temporary folder, a row per strip, the strips read back raw.
    const std::string strPath = std::string(P_tmpdir) + "/bench_lzw_" + std::to_string(getpid()) + ".tif";
    auto Theirs = [&] {
        TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
        TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(nWidth));
        TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, std::uint32_t(nHeight));
        TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(pTiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(pTiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, 1);
        for (int y = 0; y < nHeight; ++y) {
            std::memcpy(aScratch.data(), aRows.data() + std::size_t(y) * nRowBytes, nRowBytes);
            TIFFWriteEncodedStrip(pTiff, std::uint32_t(y), aScratch.data(), tmsize_t(nRowBytes));
        }
        TIFFClose(pTiff);
    };
    double dOurs = 1e30, dTheirs = 1e30;
    for (int n = 0; n < nRounds; ++n) {
        dOurs = std::min(dOurs, bench::CpuSeconds(Ours, 1));
        dTheirs = std::min(dTheirs, bench::CpuSeconds(Theirs, 1));
    }
    // libtiff's strips, read back raw, against ours.
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "r");
    for (int y = 0; pTiff && y < nHeight; ++y) {
        std::vector<std::uint8_t> aStrip(std::size_t(TIFFRawStripSize(pTiff, std::uint32_t(y))));
        TIFFReadRawStrip(pTiff, std::uint32_t(y), aStrip.data(), tmsize_t(aStrip.size()));
        aTheirs.insert(aTheirs.end(), aStrip.begin(), aStrip.end());
    }
    if (pTiff)
        TIFFClose(pTiff);
    std::remove(strPath.c_str());
    const double dMegabytes = double(aRows.size()) / 1e6;
    std::printf("%d x %d, 24-bit, a row per strip, %.1f MB in, %.1f MB out\n", nWidth, nHeight, dMegabytes,
                double(aOurs.size()) / 1e6);
    std::printf("%-10s %8s %8s\n", "encoder", "cpu s", "MB/s");
    std::printf("%-10s %8.3f %8.0f\n", "ours", dOurs, dMegabytes / dOurs);
    std::printf("%-10s %8.3f %8.0f\n", "libtiff", dTheirs, dMegabytes / dTheirs);
    std::printf("speedup %.2f; the same bytes: %s\n", dTheirs / dOurs, aOurs == aTheirs ? "yes" : "NO");
    return aOurs == aTheirs ? 0 : 1;
}
