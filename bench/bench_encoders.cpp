// Encoding a 12000 x 9000 scanned map to PNG, LZW TIFF and Deflate TIFF, side by side in
// one run with gdal_translate doing the same work from the same uncompressed TIFF:
// gridmorph-cli convert with two threads and with one (GRIDMORPH_THREADS=1), GDAL with
// its defaults and, for TIFF, with NUM_THREADS=2. Each process is timed on the clock, its
// processor time (user and system) and peak memory taken from the kernel; rounds alternate the tools and the best of the
// rounds is kept. A second table times the save alone inside one process and shows the
// memory it added to the picture's.
//
//   bench_encoders SAMPLE.jpg WORK_FOLDER [--noise] [--rounds N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "image/DIBImage.h"
#include "image/codecs/ImageCodec.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"

using namespace gridmorph;

namespace {

struct SRun {
    double dSeconds = 1e30;
    double dPeakMegabytes = 0;
    double dCpuSeconds = 0;  // user and system time of the child
    bool bOk = false;
};

// Runs a program with extra environment settings; wall time and peak memory of the child.
SRun RunProcess(const std::vector<std::string>& aArguments, const std::vector<std::string>& aEnvironment = {})
{
    SRun run;
    std::fflush(nullptr);  // or the child would write our pending output again
    const auto start = std::chrono::steady_clock::now();
    const pid_t nChild = fork();
    if (nChild == 0) {
        for (const std::string& strSetting : aEnvironment)
            putenv(const_cast<char*>(strSetting.c_str()));
        std::vector<char*> aArgv;
        for (const std::string& strArgument : aArguments)
            aArgv.push_back(const_cast<char*>(strArgument.c_str()));
        aArgv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        execvp(aArgv[0], aArgv.data());
        _exit(127);
    }
    int nStatus = 0;
    rusage usage{};
    if (nChild < 0 || wait4(nChild, &nStatus, 0, &usage) != nChild)
        return run;
    run.dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.dPeakMegabytes = double(usage.ru_maxrss) / 1024.0;
    run.dCpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    run.bOk = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
    return run;
}

void KeepBest(SRun& best, const SRun& run)
{
    if (!run.bOk) {
        std::fprintf(stderr, "a run failed\n");
        std::exit(1);
    }
    if (run.dSeconds < best.dSeconds)
        best = run;
}

double Megabytes(const std::string& strPath) { return double(std::filesystem::file_size(strPath)) / 1e6; }

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Child mode: open SOURCE, save it as TARGET (TIFF with COMPRESSION), print the save's
// seconds, the peak before and after it and the picture's size (kilobytes).
int SaveOnce(const std::string& strSource, const std::string& strTarget, const std::string& strCompression)
{
    CDIBImage picture;
    if (!picture.OpenDIB(strSource))
        return 1;
    SEncodeOptions options;
    options.eTiffCompression = strCompression == "deflate" ? ETiffCompression::Deflate : ETiffCompression::Lzw;
    const long nBefore = PeakKilobytes();
    const auto start = std::chrono::steady_clock::now();
    picture.SaveDIB(strTarget, options);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (picture.m_nErrorNumber != 0)
        return 1;
    std::fprintf(stderr, "%.3f %ld %ld %zu\n", dSeconds, nBefore, PeakKilobytes(),
                 std::size_t(picture.m_nStride) * picture.m_nImageHeight / 1024);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CHeadlessPlatform platform;
    CScopedPlatform installed(platform);
    if (argc == 5 && std::string(argv[1]) == "--save-once")
        return SaveOnce(argv[2], argv[3], argv[4]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_encoders SAMPLE.jpg WORK_FOLDER [--noise] [--rounds N]\n");
        return 2;
    }
    const std::string strFolder = argv[2];
    bool bNoise = false;
    int nRounds = 3;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--noise")
            bNoise = true;
        else if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
            nRounds = std::max(1, std::atoi(argv[++i]));
    }
    const std::string strSelf = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string strCli = GRIDMORPH_CLI_PATH;
    const std::string strSource = strFolder + "/encode-source.tif";
    {
        CDIBImage tile, scan;
        if (!tile.OpenDIB(argv[1]))
            return 1;
        bench::MakeTiledScan(tile, 12000, 9000, scan, bNoise ? 7 : 0);
        SEncodeOptions options;
        options.eTiffCompression = ETiffCompression::None;
        scan.SaveDIB(strSource, options);
        if (scan.m_nErrorNumber != 0)
            return 1;
    }
    std::printf("12000 x 9000 24-bit %s map (%.0f MB uncompressed TIFF), %d threads available, best of %d rounds\n\n",
                bNoise ? "noisy" : "tiled sample", Megabytes(strSource), GetThreadCount(), nRounds);

    struct SWork {
        const char* pName;
        const char* pExtension;
        const char* pCompression;  // for our --compress
        std::vector<std::string> aGdalOptions;
        bool bGdalThreads;
    };
    const SWork aWorks[] = {
        {"PNG", "png", "lzw", {"-of", "PNG"}, false},
        {"LZW TIFF", "tif", "lzw", {"-co", "COMPRESS=LZW", "-co", "PREDICTOR=2"}, true},
        {"Deflate TIFF", "tif", "deflate", {"-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2"}, true},
    };
    std::printf("%-13s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", "whole process", "ours 2t", "ours 1t", "gdal",
                "gdal 2t", "x gdal", "ours cpu", "gdal cpu", "ours MB", "gdal MB", "size", "ours pk", "gdal pk");
    for (const SWork& work : aWorks) {
        const std::string strOurs = strFolder + "/encode-ours." + work.pExtension;
        const std::string strGdal = strFolder + "/encode-gdal." + work.pExtension;
        const std::vector<std::string> aOurs = {strCli, "convert", strSource, strOurs, "--compress", work.pCompression};
        std::vector<std::string> aGdal = {"gdal_translate", "-q"};
        aGdal.insert(aGdal.end(), work.aGdalOptions.begin(), work.aGdalOptions.end());
        std::vector<std::string> aGdalThreads = aGdal;
        aGdalThreads.insert(aGdalThreads.end(), {"-co", "NUM_THREADS=2"});
        aGdal.insert(aGdal.end(), {strSource, strGdal});
        aGdalThreads.insert(aGdalThreads.end(), {strSource, strGdal});
        SRun ours2, ours1, gdal, gdal2;
        for (int nRound = 0; nRound < nRounds; ++nRound) {
            KeepBest(ours2, RunProcess(aOurs, {"GRIDMORPH_THREADS=2"}));
            KeepBest(gdal, RunProcess(aGdal));
            KeepBest(ours1, RunProcess(aOurs, {"GRIDMORPH_THREADS=1"}));
            if (work.bGdalThreads)
                KeepBest(gdal2, RunProcess(aGdalThreads));
        }
        // The sizes come from the default runs (the threaded GDAL TIFF is the same size).
        RunProcess(aGdal);
        char szGdal2[16] = "-";
        if (work.bGdalThreads)
            std::snprintf(szGdal2, sizeof szGdal2, "%.2f", gdal2.dSeconds);
        std::printf("%-13s %8.2f %8.2f %8.2f %8s %8.2f %8.2f %8.2f %8.2f %8.2f %8.3f %8.0f %8.0f\n", work.pName,
                    ours2.dSeconds, ours1.dSeconds, gdal.dSeconds, szGdal2, gdal.dSeconds / ours2.dSeconds,
                    ours2.dCpuSeconds, gdal.dCpuSeconds, Megabytes(strOurs),
                    Megabytes(strGdal), Megabytes(strOurs) / Megabytes(strGdal), ours2.dPeakMegabytes,
                    gdal.dPeakMegabytes);
        std::fflush(stdout);
        std::filesystem::remove(strOurs);
        std::filesystem::remove(strGdal);
    }

    std::printf("\n%-13s %8s %8s %10s %12s\n", "save alone", "2t s", "1t s", "picture MB", "added MB 2t");
    for (const SWork& work : aWorks) {
        const std::string strOurs = strFolder + "/encode-save." + work.pExtension;
        double aBest[2] = {1e30, 1e30};
        double dAdded = 0, dPicture = 0;
        for (int nRound = 0; nRound < nRounds; ++nRound)
            for (int nThreads : {2, 1}) {
                const std::string strLog = strFolder + "/encode-save.log";
                const std::string strCommand = "GRIDMORPH_THREADS=" + std::to_string(nThreads) + " " + strSelf +
                                               " --save-once " + strSource + " " + strOurs + " " + work.pCompression +
                                               " 2>" + strLog;
                if (std::system(strCommand.c_str()) != 0)
                    return 1;
                double dSeconds = 0;
                long nBefore = 0, nAfter = 0;
                std::size_t nPicture = 0;
                if (std::FILE* pLog = std::fopen(strLog.c_str(), "r")) {
                    if (std::fscanf(pLog, "%lf %ld %ld %zu", &dSeconds, &nBefore, &nAfter, &nPicture) != 4)
                        dSeconds = 1e30;
                    std::fclose(pLog);
                }
                double& dBest = aBest[nThreads == 2 ? 0 : 1];
                if (dSeconds < dBest) {
                    dBest = dSeconds;
                    if (nThreads == 2)
                        dAdded = double(nAfter - nBefore) / 1024.0;
                }
                dPicture = double(nPicture) / 1024.0;
            }
        std::printf("%-13s %8.2f %8.2f %10.0f %12.1f\n", work.pName, aBest[0], aBest[1], dPicture, dAdded);
        std::filesystem::remove(strOurs);
    }
    std::filesystem::remove(strSource);
    std::filesystem::remove(strFolder + "/encode-save.log");
    return 0;
}
