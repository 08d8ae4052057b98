#pragma once

// What the benchmark programs share: best-of-n timing and the test map, the bundled
// sample sheet tiled to map size (optionally with scanner noise).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <time.h>

#include "image/DIBImage.h"

namespace gridmorph::bench {

inline double Seconds(const std::function<void()>& fnWork, int nRepeats = 3)
{
    double dBest = 1e30;
    for (int i = 0; i < nRepeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        fnWork();
        dBest = std::min(dBest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return dBest;
}

// Like Seconds, but the processor time the whole process used: on a machine shared with
// other work this is steadier than the clock for work done on one thread.
inline double CpuSeconds(const std::function<void()>& fnWork, int nRepeats = 3)
{
    auto Now = [] {
        timespec time{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
        return double(time.tv_sec) + 1e-9 * double(time.tv_nsec);
    };
    double dBest = 1e30;
    for (int i = 0; i < nRepeats; ++i) {
        const double dStart = Now();
        fnWork();
        dBest = std::min(dBest, Now() - dStart);
    }
    return dBest;
}

// A 24-bit scan of the given size made by tiling the sample sheet. With a seed, every
// channel gets noise of +-16, which gives a scan of a million colours and more.
inline void MakeTiledScan(const CDIBImage& tile, int nWidth, int nHeight, CDIBImage& scan, std::uint32_t nNoiseSeed = 0)
{
    scan.CreateImage(24, nWidth, nHeight, FILL_NONE, 0, 0, 0, nullptr);
    for (int nRow = 0; nRow < nHeight; ++nRow) {
        const std::uint8_t* pSource = tile.StorageRow(nRow % tile.m_nImageHeight);
        std::uint8_t* pTarget = scan.StorageRow(nRow);
        for (int x = 0; x < nWidth; x += tile.m_nImageWidth)
            std::memcpy(pTarget + 3 * std::size_t(x), pSource, 3 * std::size_t(std::min(tile.m_nImageWidth, nWidth - x)));
        if (!nNoiseSeed)
            continue;
        for (int i = 0; i < 3 * nWidth; ++i) {
            nNoiseSeed = nNoiseSeed * 1664525u + 1013904223u;
            const int nValue = pTarget[i] + int((nNoiseSeed >> 12) & 31) - 16;
            pTarget[i] = static_cast<std::uint8_t>(std::clamp(nValue, 0, 255));
        }
    }
}

}  // namespace gridmorph::bench
