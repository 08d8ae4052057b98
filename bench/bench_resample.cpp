// The in-memory resample of a 12000 x 9000 map (24-bit and 8-bit) with a small rotation,
// a shear and a vertical scale, on one and two threads, beside a memcpy of the output's
// bytes in the same run.
// With --make-source OUT.tif it writes the 24-bit scan used by bench/bench_rectify.sh
// (12000 x 9000 unless a size is given).
//
//   bench_resample SAMPLE.jpg [--make-source OUT.tif [WIDTHxHEIGHT]]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "image/codecs/ImageCodec.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"
#include "transform/Resample.h"
#include "transform/SmoothResample.h"

using namespace gridmorph;
using bench::Seconds;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_resample SAMPLE.jpg [--make-source OUT.tif [WIDTHxHEIGHT]]\n");
        return 2;
    }
    CHeadlessPlatform platform;
    platform.SetQuiet(true);
    CScopedPlatform installed(platform);
    CDIBImage tile;
    if (!tile.OpenDIB(argv[1]))
        return 1;
    CDIBWorld scan24;
    int nWidth = 12000, nHeight = 9000;
    if (argc == 5 && std::sscanf(argv[4], "%dx%d", &nWidth, &nHeight) != 2)
        return 2;
    bench::MakeTiledScan(tile, nWidth, nHeight, scan24);
    if (argc >= 4 && std::string(argv[2]) == "--make-source") {
        SEncodeOptions options;
        options.eTiffCompression = ETiffCompression::None;
        scan24.SaveDIB(argv[3], options);
        return scan24.m_nErrorNumber == 0 ? 0 : 1;
    }
    CDIBWorld scan8;
    scan8.CreateImage(8, &scan24, true, false, true, true, false);

    // About 1 degree of rotation (locator 2 is 200 rows lower across 11600 columns), a
    // shear (locator 3 is 60 columns left of locator 2) and a vertical scale of about 1.03.
    CLocatorSet locators;
    const int aX[3] = {200, 11800, 11740}, aY[3] = {200, 400, 8800};
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, aX[i], aY[i]);
    }
    locators.SetMapPosition(0, 500000, 6100000);
    locators.SetMapPosition(2, 511600, 6091150);

    // The whole transform (output creation and its first-touch page faults included) on
    // one and on two threads, clock and processor time, best of 3; then the row loop alone
    // on one thread into the output that already exists, and a memcpy of its bytes.
    std::printf("%-7s %7s %13s %9s %9s %8s %10s %10s %9s\n", "source", "threads", "output", "clock s", "cpu s",
                "MP/s", "loop s", "loop MP/s", "memcpy s");
    for (CDIBWorld* pSource : {&scan24, &scan8}) {
        std::unique_ptr<CDIBWorld> pOut;
        for (int nThreads : {1, 2}) {
            CScopedThreadCount threads(nThreads);
            double dClock = 1e30, dProcessor = 1e30;
            for (int n = 0; n < 3; ++n) {
                pOut.reset();  // freeing the last result is not part of the work
                dProcessor = std::min(dProcessor, bench::CpuSeconds([&] {
                    dClock = std::min(dClock, Seconds([&] { TransformBitmap(*pSource, locators, pSource->m_nBitCount, pOut); }, 1));
                }, 1));
            }
            const double dMegapixels = double(pOut->m_nImageWidth) * pOut->m_nImageHeight / 1e6;
            std::printf("%-7s %7d %6d x %5d %9.3f %9.3f %8.0f", pSource->m_nBitCount == 24 ? "24-bit" : "8-bit", nThreads,
                        pOut->m_nImageWidth, pOut->m_nImageHeight, dClock, dProcessor, dMegapixels / dClock);
            if (nThreads == 2) {
                std::printf("\n");
                continue;
            }
            SRectifyingTransform transform;
            transform.Compute(locators);
            STransformBounds bounds;
            ComputeOutputBounds(transform, pSource->m_nImageWidth, pSource->m_nImageHeight, bounds);
            const double dLoop = Seconds([&] {
                for (int j = 0; j < pOut->m_nImageHeight; ++j)
                    ResampleRow(transform, *pSource, bounds.nV0 + j, bounds.nU0, pOut->m_nImageWidth,
                                pOut->StorageRow(pOut->m_nImageHeight - 1 - j));
            });
            const std::size_t nBytes = std::size_t(pOut->m_nStride) * pOut->m_nImageHeight;
            std::vector<std::uint8_t> aCopy(nBytes);
            const double dMemcpy = Seconds([&] { std::memcpy(aCopy.data(), pOut->m_pImageBits, nBytes); });
            std::printf(" %10.3f %10.0f %9.3f\n", dLoop, dMegapixels / dLoop, dMemcpy);
        }
    }

    // The blended row loops alone, one thread, into a full-colour output of the same grid.
    SRectifyingTransform transform;
    transform.Compute(locators);
    STransformBounds bounds;
    ComputeOutputBounds(transform, scan24.m_nImageWidth, scan24.m_nImageHeight, bounds);
    CDIBImage blended;
    blended.CreateImage(24, static_cast<int>(bounds.Width()), static_cast<int>(bounds.Height()), 0, 0, 0, 0, nullptr);
    const double dMegapixels = double(bounds.Width()) * bounds.Height() / 1e6;
    std::printf("\n%-7s %-9s %10s %10s  (row loop alone, 1 thread, full-colour output)\n", "source", "resample",
                "loop s", "loop MP/s");
    for (CDIBWorld* pSource : {&scan24, &scan8}) {
        const SResampleSource converted = MakeResampleSource(*pSource);
        for (EResampling eResampling : {EResampling::Bilinear, EResampling::Cubic}) {
            double dLoop = 1e30;
            for (int n = 0; n < 3; ++n)
                dLoop = std::min(dLoop, Seconds([&] {
                    for (int j = 0; j < blended.m_nImageHeight; ++j)
                        ResampleRowConverted(transform, converted, eResampling, bounds.nV0 + j, bounds.nU0,
                                             blended.m_nImageWidth, 3, blended.StorageRow(blended.m_nImageHeight - 1 - j));
                }));
            std::printf("%-7s %-9s %10.3f %10.0f\n", pSource->m_nBitCount == 24 ? "24-bit" : "8-bit",
                        eResampling == EResampling::Bilinear ? "bilinear" : "cubic", dLoop, dMegapixels / dLoop);
        }
    }
    return 0;
}
