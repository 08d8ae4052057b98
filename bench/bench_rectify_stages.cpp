// Where the time of one rectification goes: open, resample, save (uncompressed and LZW
// TIFF), each with its clock time, processor time (user and system) and minor page
// faults, in one process. The same work as `gridmorph-cli rectify` on the scan of
// bench/bench_rectify.sh.
//
//   bench_rectify_stages SOURCE.tif WORK_FOLDER [X1,Y1,E1,N1 X2,Y2 X3,Y3,E3,N3]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "image/codecs/ImageCodec.h"
#include "platform/HeadlessPlatform.h"
#include "transform/Resample.h"

using namespace gridmorph;

namespace {

struct SUsage {
    double dClock = 0, dUser = 0, dSystem = 0;
    long nMinorFaults = 0;
};

SUsage Now()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    SUsage now;
    now.dClock = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    now.dUser = double(usage.ru_utime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec);
    now.dSystem = double(usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_stime.tv_usec);
    now.nMinorFaults = usage.ru_minflt;
    return now;
}

void Stage(const char* pName, const std::function<void()>& fnWork)
{
    const SUsage before = Now();
    fnWork();
    const SUsage after = Now();
    std::printf("%-22s %7.3f s clock %7.3f s user %7.3f s system %8ld faults\n", pName, after.dClock - before.dClock,
                after.dUser - before.dUser, after.dSystem - before.dSystem, after.nMinorFaults - before.nMinorFaults);
}

bool ParseInts(const char* pText, int* aValues, int nCount, double* aMap)
{
    double aAll[4] = {};
    const int nRead = std::sscanf(pText, "%lf,%lf,%lf,%lf", &aAll[0], &aAll[1], &aAll[2], &aAll[3]);
    if (nRead < nCount)
        return false;
    aValues[0] = int(aAll[0]);
    aValues[1] = int(aAll[1]);
    if (aMap) {
        aMap[0] = aAll[2];
        aMap[1] = aAll[3];
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: bench_rectify_stages SOURCE.tif WORK_FOLDER [X1,Y1,E1,N1 X2,Y2 X3,Y3,E3,N3]\n");
        return 2;
    }
    CHeadlessPlatform platform;
    platform.SetQuiet(true);
    CScopedPlatform installed(platform);
    CLocatorSet locators;
    const char* aPoints[3] = {"200,200,500000,6100000", "11800,400", "11740,8800,511600,6091150"};
    if (argc == 6)
        for (int i = 0; i < 3; ++i)
            aPoints[i] = argv[3 + i];
    int aXY[2];
    double aMap[2];
    for (int i = 0; i < 3; ++i) {
        if (!ParseInts(aPoints[i], aXY, i == 1 ? 2 : 4, i == 1 ? nullptr : aMap)) {
            std::fprintf(stderr, "bench_rectify_stages: cannot read %s\n", aPoints[i]);
            return 2;
        }
        locators.SetLocator(i, aXY[0], aXY[1]);
        if (i != 1) {
            locators.SetMapPosition(i, aMap[0], aMap[1]);
        }
    }
    locators.SetMapPosition(1, locators.Easting(2), locators.Northing(0));

    const std::string strWork = argv[2];
    auto pSource = std::make_unique<CDIBWorld>();
    std::unique_ptr<CDIBWorld> pOut;
    const SUsage start = Now();
    Stage("open", [&] { pSource->OpenWorld(argv[1], false); });
    if (pSource->m_nErrorNumber)
        return 1;
    Stage("resample", [&] { TransformBitmap(*pSource, locators, pSource->m_nBitCount, pOut); });
    if (!pOut)
        return 1;
    Stage("free source", [&] { pSource.reset(); });
    Stage("save none", [&] {
        SEncodeOptions options;
        options.eTiffCompression = ETiffCompression::None;
        pOut->SaveWorld(strWork + "/stages-none.tif", options);
    });
    Stage("save lzw", [&] {
        pOut->SaveWorld(strWork + "/stages-lzw.tif", SEncodeOptions());  // LZW, the default
    });
    const SUsage end = Now();
    std::printf("%-22s %7.3f s clock %7.3f s user %7.3f s system %8ld faults\n", "all", end.dClock - start.dClock,
                end.dUser - start.dUser, end.dSystem - start.dSystem, end.nMinorFaults - start.nMinorFaults);
    return 0;
}
