#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace gridmorph {

class CDIBImage;

// One reduced copy of a picture: level n has one pixel for every 2^n x 2^n block of the
// picture (the mean of the block's colours), rows from the top, packed. Pictures with a
// colour table keep one byte per pixel, the table's entry nearest to the mean; the others
// keep blue, green, red.
struct SPyramidLevel {
    int nLevel = 0;
    int nWidth = 0;
    int nHeight = 0;
    int nBytesPerPixel = 0;
    std::vector<std::uint8_t> aPixels;

    const std::uint8_t* Row(int y) const { return aPixels.data() + std::size_t(y) * nWidth * nBytesPerPixel; }
};

// The reduced copies the view draws from below 100%: halvings of the picture built in the
// background, on the core's threads, from the largest level down. The picture must stay
// alive and unchanged until Cancel() has returned; the view cancels before any of its maps
// changes. Levels become readable one at a time and never change afterwards.
class CMapPyramid {
public:
    CMapPyramid() = default;
    ~CMapPyramid();
    CMapPyramid(const CMapPyramid&) = delete;
    CMapPyramid& operator=(const CMapPyramid&) = delete;

    // Drops what there was and starts building the levels of the picture. fnLevelReady
    // is called on the building thread after each level.
    void Start(const CDIBImage& picture, std::function<void()> fnLevelReady = {});
    // Builds every level on the calling thread (benchmarks and tests).
    void BuildNow(const CDIBImage& picture);
    // Stops the building, waits for it, and drops the levels.
    void Cancel();
    // Waits until the building has finished.
    void Wait();

    // The picture the levels were made from (null for none).
    const CDIBImage* Picture() const { return m_pPicture; }
    // The level to draw a zoom from: the coarsest built level at least as fine as the
    // zoom (level n serves zooms up to 1 / 2^n); null when none is built yet or the zoom
    // needs the picture itself.
    const SPyramidLevel* LevelFor(double dZoom) const;
    bool IsComplete() const { return m_nPlanned > 0 && m_nReady.load() == m_nPlanned; }
    int LevelCount() const { return m_nReady.load(); }
    // Memory held by the built levels.
    std::size_t Bytes() const;

    // Levels planned for a picture of this size: halvings until both sides fit in 64.
    static int PlannedLevels(int nWidth, int nHeight);

private:
    void Build();

    const CDIBImage* m_pPicture = nullptr;
    std::vector<std::unique_ptr<SPyramidLevel>> m_apLevels;
    int m_nPlanned = 0;
    std::atomic<int> m_nReady{0};
    std::atomic<bool> m_bCancel{false};
    std::function<void()> m_fnLevelReady;
    std::thread m_thread;
};

}  // namespace gridmorph
