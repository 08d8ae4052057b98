#include "view/MapPyramid.h"

#include <algorithm>

#include "image/DIBImage.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

constexpr int kSmallestSide = 64;
// Output rows per piece of work.
constexpr int kBandRows = 32;

// The colour table's entry nearest to each colour of a 32 x 32 x 32 cube (five bits of
// red, green and blue): how the mean of a block goes back into the table.
std::vector<std::uint8_t> NearestEntries(const std::uint8_t (*aTable)[3], int nEntries)
{
    std::vector<std::uint8_t> aNearest(32 * 32 * 32);
    for (int r = 0; r < 32; ++r)
        for (int g = 0; g < 32; ++g)
            for (int b = 0; b < 32; ++b) {
                const int nRed = r * 8 + 4, nGreen = g * 8 + 4, nBlue = b * 8 + 4;
                int nBest = 0, nBestDistance = 1 << 30;
                for (int i = 0; i < nEntries; ++i) {
                    const int dr = aTable[i][2] - nRed, dg = aTable[i][1] - nGreen, db = aTable[i][0] - nBlue;
                    const int nDistance = dr * dr + dg * dg + db * db;
                    if (nDistance < nBestDistance) {
                        nBestDistance = nDistance;
                        nBest = i;
                    }
                }
                aNearest[(r << 10) | (g << 5) | b] = static_cast<std::uint8_t>(nBest);
            }
    return aNearest;
}

// Where the source rows of a halving come from: the picture (bottom-up storage) or the
// level above (rows from the top).
struct SSource {
    const std::uint8_t* (*fnRow)(const void*, int) = nullptr;
    const void* pOwner = nullptr;
    int nWidth = 0, nHeight = 0, nBytesPerPixel = 0;
    const std::uint8_t* Row(int y) const { return fnRow(pOwner, y); }
};

// Halves the rows [y0, y1) of a level of blue-green-red pixels from nIn bytes a pixel.
template <int nIn>
void HalveColourRows(const SSource& source, SPyramidLevel& target, int y0, int y1)
{
    const int nLastPair = (source.nWidth / 2) * 2;  // columns that have a right-hand neighbour pair
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* pTop = source.Row(2 * y);
        const std::uint8_t* pBottom = source.Row(std::min(2 * y + 1, source.nHeight - 1));
        std::uint8_t* pTarget = target.aPixels.data() + std::size_t(y) * target.nWidth * 3;
        int x = 0;
        for (; 2 * x < nLastPair; ++x, pTop += 2 * nIn, pBottom += 2 * nIn, pTarget += 3)
            for (int k = 0; k < 3; ++k)
                pTarget[k] = static_cast<std::uint8_t>((pTop[k] + pTop[nIn + k] + pBottom[k] + pBottom[nIn + k] + 2) >> 2);
        if (x < target.nWidth)  // an odd width: the last column pairs with itself
            for (int k = 0; k < 3; ++k)
                pTarget[k] = static_cast<std::uint8_t>((2 * pTop[k] + 2 * pBottom[k] + 2) >> 2);
    }
}

// Halves the rows [y0, y1) of a level of colour-table entries.
void HalveTableRows(const SSource& source, SPyramidLevel& target, int y0, int y1, const std::uint8_t (*aTable)[3],
                    const std::vector<std::uint8_t>& aNearest)
{
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* pTop = source.Row(2 * y);
        const std::uint8_t* pBottom = source.Row(std::min(2 * y + 1, source.nHeight - 1));
        std::uint8_t* pTarget = target.aPixels.data() + std::size_t(y) * target.nWidth;
        for (int x = 0; x < target.nWidth; ++x) {
            const int x0 = 2 * x, x1 = std::min(2 * x + 1, source.nWidth - 1);
            const std::uint8_t* a[4] = {aTable[pTop[x0]], aTable[pTop[x1]], aTable[pBottom[x0]], aTable[pBottom[x1]]};
            const int nBlue = (a[0][0] + a[1][0] + a[2][0] + a[3][0] + 2) >> 2;
            const int nGreen = (a[0][1] + a[1][1] + a[2][1] + a[3][1] + 2) >> 2;
            const int nRed = (a[0][2] + a[1][2] + a[2][2] + a[3][2] + 2) >> 2;
            pTarget[x] = aNearest[((nRed >> 3) << 10) | ((nGreen >> 3) << 5) | (nBlue >> 3)];
        }
    }
}

void HalveRows(const SSource& source, SPyramidLevel& target, int y0, int y1, const std::uint8_t (*aTable)[3],
               const std::vector<std::uint8_t>& aNearest)
{
    if (target.nBytesPerPixel == 1)
        HalveTableRows(source, target, y0, y1, aTable, aNearest);
    else if (source.nBytesPerPixel == 4)
        HalveColourRows<4>(source, target, y0, y1);
    else
        HalveColourRows<3>(source, target, y0, y1);
}

}  // namespace

CMapPyramid::~CMapPyramid() { Cancel(); }

int CMapPyramid::PlannedLevels(int nWidth, int nHeight)
{
    int nLevels = 0;
    while ((nWidth > kSmallestSide || nHeight > kSmallestSide) && nWidth > 1 && nHeight > 1) {
        nWidth = (nWidth + 1) / 2;
        nHeight = (nHeight + 1) / 2;
        ++nLevels;
    }
    return nLevels;
}

void CMapPyramid::Cancel()
{
    m_bCancel = true;
    if (m_thread.joinable())
        m_thread.join();
    m_bCancel = false;
    m_apLevels.clear();
    m_nReady = 0;
    m_nPlanned = 0;
    m_pPicture = nullptr;
}

void CMapPyramid::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CMapPyramid::Start(const CDIBImage& picture, std::function<void()> fnLevelReady)
{
    Cancel();
    m_pPicture = &picture;
    m_fnLevelReady = std::move(fnLevelReady);
    const int nBits = picture.m_nBitCount;
    if (!picture.HasImage() || (nBits != 8 && nBits != 24 && nBits != 32))
        return;
    m_nPlanned = PlannedLevels(picture.m_nImageWidth, picture.m_nImageHeight);
    if (m_nPlanned == 0)
        return;
    m_apLevels.resize(m_nPlanned);
    m_thread = std::thread([this] { Build(); });
}

void CMapPyramid::BuildNow(const CDIBImage& picture)
{
    Start(picture);
    Wait();
}

void CMapPyramid::Build()
{
    const CDIBImage& picture = *m_pPicture;
    const bool bTable = picture.m_nBitCount == 8;
    std::uint8_t aTable[256][3] = {};
    std::vector<std::uint8_t> aNearest;
    if (bTable) {
        if (const SRGBQuad* pQuads = picture.m_pRGBQuad.get())
            for (int i = 0; i < 256; ++i) {
                aTable[i][0] = pQuads[i].rgbBlue;
                aTable[i][1] = pQuads[i].rgbGreen;
                aTable[i][2] = pQuads[i].rgbRed;
            }
        aNearest = NearestEntries(aTable, 256);
    }
    SSource source;
    source.pOwner = &picture;
    source.fnRow = [](const void* p, int y) {
        const auto* pImage = static_cast<const CDIBImage*>(p);
        return pImage->StorageRow(pImage->m_nImageHeight - 1 - y);
    };
    source.nWidth = picture.m_nImageWidth;
    source.nHeight = picture.m_nImageHeight;
    source.nBytesPerPixel = picture.m_nBitCount / 8;

    const int nThreads = GetThreadCount();
    for (int nLevel = 1; nLevel <= m_nPlanned; ++nLevel) {
        auto pLevel = std::make_unique<SPyramidLevel>();
        pLevel->nLevel = nLevel;
        pLevel->nWidth = (source.nWidth + 1) / 2;
        pLevel->nHeight = (source.nHeight + 1) / 2;
        pLevel->nBytesPerPixel = bTable ? 1 : 3;
        pLevel->aPixels.resize(std::size_t(pLevel->nWidth) * pLevel->nHeight * pLevel->nBytesPerPixel);
        SPyramidLevel& level = *pLevel;
        const int nBands = (level.nHeight + kBandRows - 1) / kBandRows;
        RunOrdered(
            nThreads, nBands, 2 * nThreads,
            [&](int nBand, int) {
                if (!m_bCancel.load(std::memory_order_relaxed))
                    HalveRows(source, level, nBand * kBandRows, std::min(level.nHeight, (nBand + 1) * kBandRows), aTable,
                              aNearest);
            },
            [&](int) { return !m_bCancel.load(std::memory_order_relaxed); });
        if (m_bCancel)
            return;
        m_apLevels[nLevel - 1] = std::move(pLevel);
        const SPyramidLevel* pDone = m_apLevels[nLevel - 1].get();
        source.pOwner = pDone;
        source.fnRow = [](const void* p, int y) { return static_cast<const SPyramidLevel*>(p)->Row(y); };
        source.nWidth = pDone->nWidth;
        source.nHeight = pDone->nHeight;
        source.nBytesPerPixel = pDone->nBytesPerPixel;
        m_nReady = nLevel;
        if (m_fnLevelReady)
            m_fnLevelReady();
    }
}

const SPyramidLevel* CMapPyramid::LevelFor(double dZoom) const
{
    // Level n shows one pixel per 2^n: it serves zooms of 1 / 2^n and below.
    int nWanted = 0;
    while (nWanted < m_nPlanned && dZoom * double(2 << nWanted) <= 1.0 + 1e-9)
        ++nWanted;
    const int nUsable = std::min(nWanted, m_nReady.load());
    return nUsable > 0 ? m_apLevels[nUsable - 1].get() : nullptr;
}

std::size_t CMapPyramid::Bytes() const
{
    std::size_t nBytes = 0;
    for (int i = 0; i < m_nReady.load(); ++i)
        nBytes += m_apLevels[i]->aPixels.size();
    return nBytes;
}

}  // namespace gridmorph
