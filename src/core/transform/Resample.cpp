#include "transform/Resample.h"

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "errors/ErrorText.h"
#include "io/MappedFile.h"
#include "parallel/Threads.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "transform/LocatorChecks.h"
#include "transform/SmoothResample.h"

namespace gridmorph {
namespace {

// Rows handed to a thread at a time: enough that the threads rarely meet at the queue,
// few enough that the last band does not leave a thread waiting long.
constexpr int kResampleBandRows = 32;

// floor and ceil as truncation toward zero corrected by one; the caller has checked
// that the value fits.
std::int64_t FloorOf(double d)
{
    auto n = static_cast<std::int64_t>(d);
    if (static_cast<double>(n) > d)
        --n;
    return n;
}

std::int64_t CeilOf(double d)
{
    auto n = static_cast<std::int64_t>(d);
    if (static_cast<double>(n) < d)
        ++n;
    return n;
}

// The part of [nFirst, nLast] where a predicate that changes at most once holds, as
// [nLow, nHigh] (empty when nLow > nHigh).
template <typename FPredicate>
void NarrowToMonotonic(FPredicate fnHolds, int& nLow, int& nHigh)
{
    if (nLow > nHigh)
        return;
    const bool bFirst = fnHolds(nLow), bLast = fnHolds(nHigh);
    if (bFirst && bLast)
        return;
    if (!bFirst && !bLast) {
        nHigh = nLow - 1;
        return;
    }
    // Find the switch between nLow and nHigh.
    int nFalse = bFirst ? nHigh : nLow, nTrue = bFirst ? nLow : nHigh;
    while (std::abs(nTrue - nFalse) > 1) {
        const int nMiddle = nFalse + (nTrue - nFalse) / 2;
        (fnHolds(nMiddle) ? nTrue : nFalse) = nMiddle;
    }
    if (bFirst)
        nHigh = nTrue;
    else
        nLow = nTrue;
}

// Asks for the cache line at nAddress ahead of its use; never faults. The compiler treats a
// loop of plain prefetches as work without effect and may drop it, so on x86 the
// instruction is written out.
inline void FetchIntoCache(std::uintptr_t nAddress)
{
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 (%0)" : : "r"(nAddress));
#else
    __builtin_prefetch(reinterpret_cast<const void*>(nAddress));
#endif
}

}  // namespace

void ClipToLocatorRectangle(const SRectifyingTransform& transform, const SFrameCells* pFrame,
                            STransformBounds& bounds)
{
    double dU0 = std::min(transform.dX1, transform.dU2), dU1 = std::max(transform.dX1, transform.dU2);
    double dV0 = std::min(transform.dY1, transform.dV3Scaled), dV1 = std::max(transform.dY1, transform.dV3Scaled);
    if (pFrame && pFrame->nAcross > 0 && pFrame->nDown > 0) {
        const double dCellU = (dU1 - dU0) / pFrame->nAcross, dCellV = (dV1 - dV0) / pFrame->nDown;
        dU0 -= pFrame->nWest * dCellU;
        dU1 += pFrame->nEast * dCellU;
        dV0 -= pFrame->nNorth * dCellV;
        dV1 += pFrame->nSouth * dCellV;
    }
    bounds.nU0 = std::max(bounds.nU0, FloorOf(dU0));
    bounds.nU1 = std::min(bounds.nU1, CeilOf(dU1));
    bounds.nV0 = std::max(bounds.nV0, FloorOf(dV0));
    bounds.nV1 = std::min(bounds.nV1, CeilOf(dV1));
}

namespace {

// A palette index that no pixel of an 8-bit picture uses, the highest one; -1 when all
// 256 are used.
int FindUnusedIndex(const CDIBImage& source)
{
    bool aUsed[256] = {};
    const std::size_t nWidth = static_cast<std::size_t>(source.m_nImageWidth);
    // A scan read from its file on demand is read a band at a time; a band that cannot be
    // read counts as unused here, and the rectification that follows says why it failed.
    const CRowSupply* pRows = source.Bitmap()->m_pRowSupply;
    constexpr int kBand = 64;
    for (int nFirst = 0; nFirst < source.m_nImageHeight; nFirst += kBand) {
        const int nEnd = std::min(source.m_nImageHeight, nFirst + kBand);
        try {
            if (pRows)
                pRows->MakeRows(nFirst, nEnd - nFirst);
        } catch (const std::runtime_error&) {
            break;
        }
        for (int y = nFirst; y < nEnd; ++y) {
            const std::uint8_t* p = source.StorageRow(source.m_nImageHeight - 1 - y);
            for (std::size_t x = 0; x < nWidth; ++x)
                aUsed[p[x]] = true;
        }
        if (pRows)
            pRows->ReleaseRows(nFirst, nEnd - nFirst);
    }
    for (int i = 255; i >= 0; --i)
        if (!aUsed[i])
            return i;
    return -1;
}

// Fills a new output with its no-data value and records the value in the picture for the
// encoders. A 32-bit output keeps its zero bytes: alpha 0 everywhere the scan does not
// reach.
void MarkNoData(CDIBImage& output, const STransformOptions& options, int nNoDataIndex, bool bFill)
{
    SNoDataValue& noData = output.MutableBitmap()->m_noData;
    noData.bSet = true;
    noData.bTransparent = options.eNoData == ENoData::Transparent;
    if (output.m_nBitCount == 8) {
        noData.nIndex = nNoDataIndex;
        if (bFill)
            std::memset(output.m_pImageBits, nNoDataIndex, static_cast<std::size_t>(output.m_nStride) * output.m_nImageHeight);
    } else if (output.m_nBitCount == 24) {
        // An index given for a full-colour output is a grey value, as one no-data number
        // stands for all three bands in other programs.
        const bool bIndex = options.nNoDataIndex >= 0 && options.nNoDataIndex < 256;
        const auto nGrey = static_cast<std::uint8_t>(options.nNoDataIndex);
        noData.nRed = bIndex ? nGrey : options.nNoDataRed;
        noData.nGreen = bIndex ? nGrey : options.nNoDataGreen;
        noData.nBlue = bIndex ? nGrey : options.nNoDataBlue;
        if (bFill)
            output.FillImage(FILL_COLOUR, noData.nRed, noData.nGreen, noData.nBlue);
    }
}

// A fresh output row as the whole-picture path leaves it before resampling: the
// no-data value (or the black index of an 8-bit palette whose black is not index 0) on
// every pixel, padding included where that path fills the padding too.
std::vector<std::uint8_t> MakeBlankRow(const CDIBImage& output, const STransformOptions& options, int nNoDataIndex)
{
    std::vector<std::uint8_t> aRow(static_cast<std::size_t>(output.m_nStride), 0);
    if (output.m_nBitCount == 8) {
        if (options.eNoData != ENoData::Black)
            std::fill(aRow.begin(), aRow.end(), static_cast<std::uint8_t>(nNoDataIndex));
        else
            std::fill(aRow.begin(), aRow.end(),
                      static_cast<std::uint8_t>(output.m_pPalette->GetNearestPaletteIndex(0, 0, 0)));
    } else if (output.m_nBitCount == 24 && options.eNoData != ENoData::Black) {
        const SNoDataValue& noData = output.Bitmap()->m_noData;
        for (int x = 0; x < output.m_nImageWidth; ++x) {
            aRow[3 * static_cast<std::size_t>(x)] = noData.nBlue;
            aRow[3 * static_cast<std::size_t>(x) + 1] = noData.nGreen;
            aRow[3 * static_cast<std::size_t>(x) + 2] = noData.nRed;
        }
    }
    return aRow;
}

// The rows of a rectified picture made when an encoder asks for them, each by the same
// row functions as the whole-picture path, on a blank row.
class CResampledRows final : public CRowSupply {
public:
    CResampledRows(const SRectifyingTransform& transform, const STransformBounds& bounds, const CDIBImage& source,
                   CDIBImage& output, const STransformOptions& options, bool bSameFormat, int nNoDataIndex)
        : m_transform(transform), m_bounds(bounds), m_source(source), m_converted(MakeResampleSource(source)),
          m_output(output), m_eResampling(options.eResampling), m_bSameFormat(bSameFormat),
          m_aBlankRow(MakeBlankRow(output, options, nNoDataIndex)), m_nHighestKept(output.m_nImageHeight - 1),
          m_nDroppedBottom(source.m_nImageHeight)
    {
    }

    void MakeRows(int nFirst, int nCount) const override
    {
        const int nHeight = m_output.m_nImageHeight;
        // A scan read from its file on demand reads the rows this band takes first.
        const CRowSupply* pSourceRows = m_source.Bitmap()->m_pRowSupply;
        if (pSourceRows) {
            const auto [nSourceFirst, nSourceLast] = SourceRowSpan(nFirst, nFirst + nCount - 1);
            if (nSourceFirst <= nSourceLast)
                pSourceRows->MakeRows(nSourceFirst, nSourceLast - nSourceFirst + 1);
        }
        for (int j = nFirst; j < nFirst + nCount; ++j) {
            std::uint8_t* pRow = m_output.StorageRow(nHeight - 1 - j);
            std::memcpy(pRow, m_aBlankRow.data(), m_aBlankRow.size());
            if (m_bSameFormat)
                ResampleRow(m_transform, m_source, m_bounds.nV0 + j, m_bounds.nU0, m_output.m_nImageWidth, pRow);
            else
                ResampleRowConverted(m_transform, m_converted, m_eResampling, m_bounds.nV0 + j, m_bounds.nU0,
                                     m_output.m_nImageWidth, m_output.m_nBitCount / 8, pRow);
        }
        // A mapped scan cut short while it is read gives zero bytes past its new end: no
        // file is made of such rows.
        if (MappedFileWasCut(m_source.m_pImageBits))
            throw std::runtime_error(kScanCutText);
    }

    std::string Problem() const override
    {
        if (const CRowSupply* pSourceRows = m_source.Bitmap()->m_pRowSupply)
            if (std::string strProblem = pSourceRows->Problem(); !strProblem.empty())
                return strProblem;
        return MappedFileWasCut(m_source.m_pImageBits) ? kScanCutText : std::string();
    }

    void ReleaseRows(int nFirst, int nCount) const override { DropRowsBehind(nFirst, nCount); }

    void MakeAllRows() const override
    {
        const int nHeight = m_output.m_nImageHeight;
        const int nBands = (nHeight + kResampleBandRows - 1) / kResampleBandRows;
        const int nThreads = GetThreadCount();
        RunOrdered(
            nThreads, nBands, 4 * nThreads,
            [&](int nBand, int) {
                MakeRows(nBand * kResampleBandRows, std::min(kResampleBandRows, nHeight - nBand * kResampleBandRows));
            },
            [](int) { return true; });
    }

private:
    // Rows the encoder is done with. The output's memory goes back where every row on it
    // is done, from the top and from the bottom (encoders go either way), in whole 2 MB
    // pieces: a large picture is held in 2 MB pages, and handing back part of one would
    // split it and stop every thread to forget it, on every band.
    // The source rows that no output row still to be made reads (beyond a margin for the
    // blended kernels) are handed back when the source is a mapped file: its pages are
    // read again from the file if ever touched, so this changes no pixel.
    void DropRowsBehind(int nFirst, int nCount) const
    {
        const int nHeight = m_output.m_nImageHeight;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_aReleased.empty())
            m_aReleased.assign(static_cast<std::size_t>(nHeight), false);
        std::fill(m_aReleased.begin() + nFirst, m_aReleased.begin() + nFirst + nCount, true);
        while (m_nLowestKept < nHeight && m_aReleased[static_cast<std::size_t>(m_nLowestKept)])
            ++m_nLowestKept;
        if (m_nHighestKept > nHeight - 1)
            m_nHighestKept = nHeight - 1;
        while (m_nHighestKept >= 0 && m_aReleased[static_cast<std::size_t>(m_nHighestKept)])
            --m_nHighestKept;
        DropOutputPages();
        const int nSourceHeight = m_source.m_nImageHeight;
        int nKeepFrom = nSourceHeight, nKeepTo = -1;  // source picture rows still read
        if (m_nLowestKept <= m_nHighestKept)
            std::tie(nKeepFrom, nKeepTo) = SourceRowSpan(m_nLowestKept, m_nHighestKept);
        const std::size_t nStride = static_cast<std::size_t>(m_source.m_nStride);
        const CRowSupply* pSourceRows = m_source.Bitmap()->m_pRowSupply;
        auto Drop = [&](int nFromRow, int nToRow) {  // source picture rows [nFromRow, nToRow)
            if (nToRow <= nFromRow)
                return;
            if (pSourceRows)
                pSourceRows->ReleaseRows(nFromRow, nToRow - nFromRow);
            else
                DropMappedPages(m_source.StorageRow(nSourceHeight - nToRow), static_cast<std::size_t>(nToRow - nFromRow) * nStride);
        };
        Drop(m_nDroppedTop, nKeepFrom);
        m_nDroppedTop = std::max(m_nDroppedTop, nKeepFrom);
        Drop(std::max(nKeepTo + 1, m_nDroppedTop), m_nDroppedBottom);
        m_nDroppedBottom = std::min(m_nDroppedBottom, std::max(nKeepTo + 1, m_nDroppedTop));
    }

    // The source picture rows that output rows [j0, j1] read, with a margin for the
    // blended kernels: the source row is an affine function of the output row and column,
    // so its extremes lie at the corners. Empty (first > last) when they miss the scan.
    std::pair<int, int> SourceRowSpan(int j0, int j1) const
    {
        const int nSourceHeight = m_source.m_nImageHeight;
        double dLow = 1e300, dHigh = -1e300;
        for (const int j : {j0, j1})
            for (const std::int64_t i : {std::int64_t(0), std::int64_t(m_output.m_nImageWidth - 1)}) {
                const double b =
                    static_cast<double>(m_bounds.nV0 + j - static_cast<std::int64_t>(m_transform.dY1)) / m_transform.dScale;
                const double a = static_cast<double>(m_bounds.nU0 + i - static_cast<std::int64_t>(m_transform.dX1)) -
                                 b * m_transform.dShear;
                const double y = b * m_transform.dCos + m_transform.dY1 + a * m_transform.dSin + 0.5;
                dLow = std::min(dLow, y);
                dHigh = std::max(dHigh, y);
            }
        constexpr double kMargin = 4.0;
        return {static_cast<int>(std::clamp(std::floor(dLow - kMargin), 0.0, double(nSourceHeight))),
                static_cast<int>(std::clamp(std::ceil(dHigh + kMargin), -1.0, double(nSourceHeight - 1)))};
    }

    // The whole 2 MB pieces of the output storage that hold only rows the encoder is done
    // with, beyond what went back before (called with m_mutex held).
    void DropOutputPages() const
    {
        constexpr std::uintptr_t kPiece = std::uintptr_t(2) << 20;
        const int nHeight = m_output.m_nImageHeight;
        const auto nStride = static_cast<std::uintptr_t>(m_output.m_nStride);
        const auto nBase = reinterpret_cast<std::uintptr_t>(m_output.StorageRow(0));
        const std::uintptr_t nEnd = nBase + nStride * static_cast<std::uintptr_t>(nHeight);
        if (m_nTopDroppedFrom == 0) {  // nothing handed back yet
            m_nTopDroppedFrom = nEnd / kPiece * kPiece;
            m_nBottomDroppedTo = (nBase + kPiece - 1) / kPiece * kPiece;
        }
        // Picture rows [0, m_nLowestKept) lie in storage from row height - m_nLowestKept up.
        const std::uintptr_t nTopDone = nBase + nStride * static_cast<std::uintptr_t>(nHeight - m_nLowestKept);
        const std::uintptr_t nTopFrom = std::max((nTopDone + kPiece - 1) / kPiece * kPiece, m_nBottomDroppedTo);
        if (nTopFrom < m_nTopDroppedFrom) {
            madvise(reinterpret_cast<void*>(nTopFrom), m_nTopDroppedFrom - nTopFrom, MADV_DONTNEED);
            m_nTopDroppedFrom = nTopFrom;
        }
        // Picture rows (m_nHighestKept, height) lie in storage rows [0, height - 1 - m_nHighestKept).
        const std::uintptr_t nBottomDone =
            nBase + nStride * static_cast<std::uintptr_t>(nHeight - 1 - std::max(m_nHighestKept, -1));
        const std::uintptr_t nBottomTo = std::min(nBottomDone / kPiece * kPiece, m_nTopDroppedFrom);
        if (nBottomTo > m_nBottomDroppedTo) {
            madvise(reinterpret_cast<void*>(m_nBottomDroppedTo), nBottomTo - m_nBottomDroppedTo, MADV_DONTNEED);
            m_nBottomDroppedTo = nBottomTo;
        }
    }

    const SRectifyingTransform m_transform;
    const STransformBounds m_bounds;
    const CDIBImage& m_source;
    const SResampleSource m_converted;
    CDIBImage& m_output;
    const EResampling m_eResampling;
    const bool m_bSameFormat;
    const std::vector<std::uint8_t> m_aBlankRow;
    mutable std::mutex m_mutex;
    mutable std::vector<bool> m_aReleased;  // output rows written
    mutable int m_nLowestKept = 0, m_nHighestKept = std::numeric_limits<int>::max();
    mutable std::uintptr_t m_nTopDroppedFrom = 0;   // output storage [this, top piece) handed back
    mutable std::uintptr_t m_nBottomDroppedTo = 0;  // and [bottom piece, this)
    mutable int m_nDroppedTop = 0;                                   // source rows [0, this) dropped
    mutable int m_nDroppedBottom = std::numeric_limits<int>::max();  // and [this, height)
};

// The rectified picture's edges and coordinate system.
void SetOutputPlacement(CDIBWorld& output, const CDIBWorld& source, const CLocatorSet& locators,
                        const SRectifyingTransform& transform, const STransformBounds& bounds)
{
    const SMapEdges edges = RectifiedEdges(locators, transform, bounds);
    output.SetEdges(edges);
    // The locators' eastings and northings are in the scan's system.
    output.SetCoordinateSystem(source.CoordinateSystem());
}

}  // namespace

SMapEdges RectifiedEdges(const CLocatorSet& locators, const SRectifyingTransform& transform,
                         const STransformBounds& bounds)
{
    const std::int64_t X1 = locators.LocatorX(0), Y1 = locators.LocatorY(0);
    const double E1 = locators.Easting(0), N1 = locators.Northing(0);
    return SMapEdges{E1 - static_cast<double>(X1 - bounds.nU0) * transform.dResolutionX,
                     N1 + static_cast<double>(Y1 - bounds.nV0) * transform.dResolutionY,
                     E1 + static_cast<double>(bounds.nU1 - X1) * transform.dResolutionX,
                     N1 - static_cast<double>(bounds.nV1 - Y1) * transform.dResolutionY};
}

bool ComputeOutputBounds(const SRectifyingTransform& transform, int nSourceWidth, int nSourceHeight,
                         STransformBounds& bounds)
{
    double dMinU = 1e20, dMinV = 1e20, dMaxU = -1e20, dMaxV = -1e20;
    for (double x : {0.0, double(nSourceWidth - 1)})
        for (double y : {0.0, double(nSourceHeight - 1)}) {
            double dU = 0, dV = 0;
            transform.Forward(x, y, dU, dV);
            dMinU = std::min(dMinU, dU);
            dMaxU = std::max(dMaxU, dU);
            dMinV = std::min(dMinV, dV);
            dMaxV = std::max(dMaxV, dV);
        }
    // Beyond 2^40 no picture could be made anyway; stopping there keeps the integers exact.
    constexpr double kLimit = 1099511627776.0;
    for (double d : {dMinU, dMaxU, dMinV, dMaxV})
        if (!std::isfinite(d) || std::fabs(d) > kLimit)
            return false;
    bounds.nU0 = FloorOf(dMinU);
    bounds.nU1 = CeilOf(dMaxU);
    bounds.nV0 = FloorOf(dMinV);
    bounds.nV1 = CeilOf(dMaxV);
    return true;
}

void FindInsideSpan(const SRectifyingTransform& transform, int nSourceWidth, int nSourceHeight, std::int64_t nV,
                    std::int64_t nU0, int nWidth, int& nLow, int& nHigh)
{
    const double X1 = transform.dX1, Y1 = transform.dY1;
    const double c = transform.dCos, s = transform.dSin, k = transform.dShear;
    const double W = nSourceWidth, H = nSourceHeight;
    const double b = static_cast<double>(nV - static_cast<std::int64_t>(Y1)) / transform.dScale;
    const double bk = b * k, bs = b * s, bcY1 = b * c + Y1;
    const std::int64_t nFirstColumn = nU0 - static_cast<std::int64_t>(X1);
    auto SourceX = [&](int i) { return (((static_cast<double>(nFirstColumn + i) - bk) * c + X1) - bs) + 0.5; };
    auto SourceY = [&](int i) { return bcY1 + (static_cast<double>(nFirstColumn + i) - bk) * s + 0.5; };
    // trunc(v) lies in [0, n) exactly when -1 < v < n; tested on the double, before any cast.
    nLow = 0;
    nHigh = nWidth - 1;
    NarrowToMonotonic([&](int i) { return SourceX(i) > -1.0; }, nLow, nHigh);
    NarrowToMonotonic([&](int i) { return SourceX(i) < W; }, nLow, nHigh);
    NarrowToMonotonic([&](int i) { return SourceY(i) > -1.0; }, nLow, nHigh);
    NarrowToMonotonic([&](int i) { return SourceY(i) < H; }, nLow, nHigh);
}

void ResampleRow(const SRectifyingTransform& transform, const CDIBImage& source, std::int64_t nV, std::int64_t nU0,
                 int nWidth, std::uint8_t* pOutputRow)
{
    const double X1 = transform.dX1, Y1 = transform.dY1;
    const double c = transform.dCos, s = transform.dSin, k = transform.dShear;
    const double W = source.m_nImageWidth, H = source.m_nImageHeight;
    // Terms of a row, computed once: the same operations on the same values as per pixel.
    struct SRowTerms {
        double bk, bs, bcY1;
    };
    auto TermsOf = [&](std::int64_t nRow) {
        const double b = static_cast<double>(nRow - static_cast<std::int64_t>(Y1)) / transform.dScale;
        return SRowTerms{b * k, b * s, b * c + Y1};
    };
    const SRowTerms terms = TermsOf(nV);
    const double bk = terms.bk, bs = terms.bs, bcY1 = terms.bcY1;
    const std::int64_t nFirstColumn = nU0 - static_cast<std::int64_t>(X1);
    auto SourceY = [&](int i) { return bcY1 + (static_cast<double>(nFirstColumn + i) - bk) * s + 0.5; };

    int nLow = 0, nHigh = nWidth - 1;
    FindInsideSpan(transform, source.m_nImageWidth, source.m_nImageHeight, nV, nU0, nWidth, nLow, nHigh);

    if (nLow > nHigh)
        return;
    const std::uint8_t* pBottom = source.m_pImageBits;
    const std::ptrdiff_t nStride = source.m_nStride;
    const std::uint8_t* pTopRow = pBottom + static_cast<std::ptrdiff_t>(source.m_nImageHeight - 1) * nStride;
    const int nPixelBytes = source.m_nBitCount / 8;
    const double dFirst = static_cast<double>(nFirstColumn + nLow);
    const int nCount = nHigh - nLow + 1;
    std::uint8_t* pOut = pOutputRow + static_cast<std::ptrdiff_t>(nLow) * nPixelBytes;

    // A 24-bit pixel is copied as four bytes, the fourth being overwritten by the next
    // pixel: so the span's last pixel is copied as three, and so is every pixel of a row
    // that may read the last pixel of the source's top row, where a fourth byte would lie
    // beyond the picture's memory when its rows have no padding.
    const bool bWideCopy = nPixelBytes == 3 && (nStride > 3 * static_cast<std::ptrdiff_t>(source.m_nImageWidth) ||
                                                (static_cast<int>(SourceY(nLow)) > 0 && static_cast<int>(SourceY(nHigh)) > 0));
    const int nLast = nCount - 1;
    auto Copy = [&](int n, int sx, int sy) {
        const std::uint8_t* pSource = pTopRow - static_cast<std::ptrdiff_t>(sy) * nStride + static_cast<std::ptrdiff_t>(sx) * nPixelBytes;
        std::uint8_t* pTarget = pOut + static_cast<std::ptrdiff_t>(n) * nPixelBytes;
        if (nPixelBytes == 1) {
            *pTarget = *pSource;
        } else if (bWideCopy && n != nLast) {
            std::uint32_t nBytes;
            std::memcpy(&nBytes, pSource, 4);
            std::memcpy(pTarget, &nBytes, 4);
        } else {
            pTarget[0] = pSource[0];
            pTarget[1] = pSource[1];
            pTarget[2] = pSource[2];
        }
    };

    // A row of a slightly turned map reads short pieces of a few hundred source rows,
    // which the processor cannot foresee. The same columns of a row a little further down
    // read next to where this row reads, so while this row is copied the source of that
    // later row is asked into the cache ahead of its turn, a cache line at a time. Where
    // the fetch goes has no effect on the result.
    constexpr int kPrefetchRows = 2;
    const SRowTerms ahead = TermsOf(nV + kPrefetchRows);
    const int nPrefetchStep = 64 / nPixelBytes;
    int nNextPrefetch = 0;
    const auto nSourceBottom = reinterpret_cast<std::uintptr_t>(pBottom);
    auto PrefetchAhead = [&](int n) {
        nNextPrefetch = n + nPrefetchStep;
        const double a = (dFirst + (n + nPrefetchStep)) - ahead.bk;
        const double x = ((a * c + X1) - ahead.bs) + 0.5, y = ahead.bcY1 + a * s + 0.5;
        if (x > -1.0 && x < W && y > -1.0 && y < H)
            FetchIntoCache(nSourceBottom + static_cast<std::uintptr_t>(source.m_nImageHeight - 1 - static_cast<int>(y)) * nStride +
                           static_cast<std::uintptr_t>(static_cast<int>(x)) * nPixelBytes);
    };

    int n = 0;
#if defined(__SSE2__)
    // Two pixels at a time in SSE2 registers: the same IEEE operations in the same order as
    // one at a time (SSE2 has no fused multiply-add), so the result is identical.
    const __m128d vBk = _mm_set1_pd(bk), vC = _mm_set1_pd(c), vS = _mm_set1_pd(s), vX1 = _mm_set1_pd(X1);
    const __m128d vBs = _mm_set1_pd(bs), vBcY1 = _mm_set1_pd(bcY1), vHalf = _mm_set1_pd(0.5);
    const __m128d vTwo = _mm_set1_pd(2.0);
    __m128d vColumn = _mm_set_pd(dFirst + 1.0, dFirst);  // exact: whole numbers
    for (; n + 1 < nCount; n += 2) {
        if (n >= nNextPrefetch)
            PrefetchAhead(n);
        const __m128d a = _mm_sub_pd(vColumn, vBk);
        const __m128d x = _mm_add_pd(_mm_sub_pd(_mm_add_pd(_mm_mul_pd(a, vC), vX1), vBs), vHalf);
        const __m128d y = _mm_add_pd(_mm_add_pd(vBcY1, _mm_mul_pd(a, vS)), vHalf);
        const __m128i ix = _mm_cvttpd_epi32(x);
        const __m128i iy = _mm_cvttpd_epi32(y);
        Copy(n, _mm_cvtsi128_si32(ix), _mm_cvtsi128_si32(iy));
        Copy(n + 1, _mm_cvtsi128_si32(_mm_srli_si128(ix, 4)), _mm_cvtsi128_si32(_mm_srli_si128(iy, 4)));
        vColumn = _mm_add_pd(vColumn, vTwo);
    }
#endif
    for (; n < nCount; ++n) {
        if (n >= nNextPrefetch)
            PrefetchAhead(n);
        const double a = (dFirst + n) - bk;
        Copy(n, static_cast<int>(((a * c + X1) - bs) + 0.5), static_cast<int>(bcY1 + a * s + 0.5));
    }
}

namespace {

const char* const kNoUsableTransform =
    "The locators and their map positions do not give a usable transform.\n\n"
    "Check the positions and the eastings and northings of the three points.";

// The window's transform: the silent one under the wait cursor, then its warnings.
template <typename FSilent>
ETransformResult TellTransform(const FSilent& fnSilent)
{
    CWaitCursor waitCursor;
    const STransformOutcome outcome = fnSilent();
    outcome.Tell();
    return outcome.eResult;
}

// The transform of the locators and the output's bounds, clipped as the options ask; the
// refusal instead when the map's depth is not transformed or the locators give no usable
// transform.
std::optional<STransformOutcome> PlanTransform(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                               const STransformOptions& options, SRectifyingTransform& transform,
                                               STransformBounds& bounds)
{
    if ((nBitCount != 8 && nBitCount != 24) || source.m_nBitCount != nBitCount) {
        char szText[160];
        std::snprintf(szText, sizeof szText,
                      "Only 8-bit and 24-bit maps can be transformed.\n\nThis map is %d-bit; convert it first.",
                      source.m_nBitCount);
        return STransformOutcome::Refused(ETransformResult::UnsupportedDepth, szText);
    }
    // The locators may have been dragged since they were checked.
    const int* X = locators.LocatorXs();
    const int* Y = locators.LocatorYs();
    if (ArePixelsInLine(X[0], Y[0], X[1], Y[1], X[2], Y[2])) {
        return STransformOutcome::Refused(ETransformResult::PixelsInLine, FindFailingCheck(locators, 5).strMessage);
    }
    if (!transform.Compute(locators) ||
        !ComputeOutputBounds(transform, source.m_nImageWidth, source.m_nImageHeight, bounds)) {
        return STransformOutcome::Refused(ETransformResult::NoTransform, kNoUsableTransform);
    }
    if (options.eClip == EClip::Grid)
        ClipToLocatorRectangle(transform, nullptr, bounds);
    else if (options.eClip == EClip::Frame)
        ClipToLocatorRectangle(transform, &options.frame, bounds);
    return std::nullopt;
}

// The output's depth and the palette index its outside takes (-1 for none).
struct SOutputFormat {
    int nBits = 0;
    int nNoDataIndex = -1;
};

// The output's depth: the source's, full colour when pixels are blended (an 8-bit map
// through its colour table), and with an alpha channel for a transparent outside
// unless an 8-bit map has a palette index to spare for it.
SOutputFormat ChooseOutputFormat(const CDIBWorld& source, int nBitCount, const STransformOptions& options)
{
    const bool bSmooth = options.eResampling != EResampling::Nearest;
    SOutputFormat format;
    format.nBits = bSmooth ? 24 : nBitCount;
    if (options.eNoData == ENoData::Transparent) {
        if (format.nBits == 8)
            format.nNoDataIndex = FindUnusedIndex(source);
        if (format.nNoDataIndex < 0)
            format.nBits = 32;
    } else if (options.eNoData == ENoData::Value && format.nBits == 8) {
        format.nNoDataIndex = options.nNoDataIndex >= 0 && options.nNoDataIndex < 256
                                  ? options.nNoDataIndex
                                  : source.m_pPalette->GetNearestPaletteIndex(options.nNoDataRed, options.nNoDataGreen,
                                                                              options.nNoDataBlue);
    }
    return format;
}

// Creates the output picture of the bounds' size with its outside marked (rows made on
// demand are marked as they are made); false, with the reason in the picture and in the
// notices, when it could not be made.
bool CreateOutput(const CDIBWorld& source, const STransformOptions& options, const SOutputFormat& format,
                  const STransformBounds& bounds, bool bRowsOnDemand, CDIBWorld& output, SSilentResult& created)
{
    const std::int64_t nWidth = bounds.Width(), nHeight = bounds.Height();
    if (nWidth > std::numeric_limits<int>::max() || nHeight > std::numeric_limits<int>::max()) {
        // Larger than any picture: the same failure as a creation refused for memory.
        // The size comes from the locators, not from the memory: it says so.
        char szText[400];
        std::snprintf(szText, sizeof szText,
                      "Failure creating bitmap, lack of memory\n\nwidth=%lld, height=%lld, nBPP=%d in CreateImage()."
                      "\n\nThe locators make a map larger than any picture can be; a locator's pixel or map "
                      "position is probably wrong.",
                      static_cast<long long>(nWidth), static_cast<long long>(nHeight), format.nBits);
        output.m_nErrorNumber = ERR_OUT_OF_MEMORY;
        output.m_strErrorText = szText;
        created.aNotices.push_back(SNotice{EMessageKind::Warning, szText});
        return false;
    }
    // A new picture's storage is zero bytes, which is black for 24 bits; an 8-bit one
    // gets the index nearest to black only where that is not index 0.
    // A spare palette entry taken for transparency shows black where it is not honoured.
    std::unique_ptr<SRGBQuad[]> pColours;
    if (format.nBits == 8) {
        pColours = std::make_unique<SRGBQuad[]>(256);
        std::copy(source.m_pRGBQuad.get(), source.m_pRGBQuad.get() + 256, pColours.get());
        if (options.eNoData == ENoData::Transparent)
            pColours[format.nNoDataIndex] = SRGBQuad{};
    }
    bool bCreated = false;
    created = output.RunSilently([&] {
        bCreated = output.CreateImage(format.nBits, static_cast<int>(nWidth), static_cast<int>(nHeight), FILL_NONE, 0,
                                      0, 0, pColours.get());
    });
    // Rows made on demand are filled as they are made (MakeBlankRow).
    if (bCreated && options.eNoData == ENoData::Black && format.nBits == 8 &&
        output.m_pPalette->GetNearestPaletteIndex(0, 0, 0) != 0 && !bRowsOnDemand)
        output.FillImage(FILL_BLACK, 0, 0, 0);
    if (bCreated && options.eNoData != ENoData::Black)
        MarkNoData(output, options, format.nNoDataIndex, !bRowsOnDemand);
    return bCreated;
}

// The outcome of an output that could not be made: its notices and its reason.
STransformOutcome CreateFailed(const CDIBWorld& output, SSilentResult& created)
{
    STransformOutcome failed;
    failed.eResult = ETransformResult::CreateFailed;
    failed.nErrorNumber = output.m_nErrorNumber;
    failed.strErrorText = output.m_strErrorText;
    failed.aNotices = std::move(created.aNotices);
    failed.aNotices.push_back(SNotice{EMessageKind::Warning, output.GetErrorMessage()});
    return failed;
}

// Fills every row of the output from the source, with a progress bar when asked.
void ResampleWhole(const SRectifyingTransform& transform, const STransformBounds& bounds, const CDIBWorld& source,
                   CDIBWorld& output, const STransformOptions& options, int nOutputBits, bool bSameFormat,
                   bool bShowProgress)
{
    CMessageBox progress;
    if (bShowProgress)
        progress.StartProgress(0, output.m_nImageHeight, "Transforming Bitmap");
    // Bands of rows are shared out between the threads; every row depends on the source
    // alone, so the picture is the same whatever the number of threads. The progress is
    // stepped here, on the calling thread, for every row in order as its band is done.
    const int nOutputHeight = output.m_nImageHeight;
    const int nBands = (nOutputHeight + kResampleBandRows - 1) / kResampleBandRows;
    const int nThreads = GetThreadCount();
    const SResampleSource converted = MakeResampleSource(source);
    RunOrdered(
        nThreads, nBands, 4 * nThreads,
        [&](int nBand, int) {
            const int nEnd = std::min(nOutputHeight, (nBand + 1) * kResampleBandRows);
            for (int j = nBand * kResampleBandRows; j < nEnd; ++j) {
                if (bSameFormat)
                    ResampleRow(transform, source, bounds.nV0 + j, bounds.nU0, output.m_nImageWidth,
                                output.StorageRow(nOutputHeight - 1 - j));
                else
                    ResampleRowConverted(transform, converted, options.eResampling, bounds.nV0 + j, bounds.nU0,
                                         output.m_nImageWidth, nOutputBits / 8, output.StorageRow(nOutputHeight - 1 - j));
            }
        },
        [&](int nBand) {
            const int nEnd = std::min(nOutputHeight, (nBand + 1) * kResampleBandRows);
            for (int j = nBand * kResampleBandRows; bShowProgress && j < nEnd; ++j)
                progress.SetProgress(j, std::string());
            return true;
        });
    progress.EndProgress();
}

}  // namespace

ETransformResult TransformBitmap(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                 std::unique_ptr<CDIBWorld>& pTransformedMap, const STransformOptions& options,
                                 std::unique_ptr<CRowSupply>* pRowsOnDemand)
{
    return TellTransform([&] {
        return TransformBitmapSilent(source, locators, nBitCount, pTransformedMap, options, pRowsOnDemand, true);
    });
}

STransformOutcome TransformBitmapSilent(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                        std::unique_ptr<CDIBWorld>& pTransformedMap, const STransformOptions& options,
                                        std::unique_ptr<CRowSupply>* pRowsOnDemand, bool bShowProgress)
{
    SRectifyingTransform transform;
    STransformBounds bounds;
    if (std::optional<STransformOutcome> refused = PlanTransform(source, locators, nBitCount, options, transform, bounds))
        return *std::move(refused);
    const SOutputFormat format = ChooseOutputFormat(source, nBitCount, options);
    auto pNewMap = std::make_unique<CDIBWorld>();
    SSilentResult created;
    if (!CreateOutput(source, options, format, bounds, pRowsOnDemand != nullptr, *pNewMap, created))
        return CreateFailed(*pNewMap, created);  // the previous transformed map stays
    pTransformedMap = std::move(pNewMap);
    CDIBWorld& output = *pTransformedMap;
    const bool bSmooth = options.eResampling != EResampling::Nearest;
    const bool bSameFormat = !bSmooth && format.nBits == nBitCount;
    if (pRowsOnDemand) {
        auto pRows = std::make_unique<CResampledRows>(transform, bounds, source, output, options, bSameFormat,
                                                      format.nNoDataIndex);
        output.MutableBitmap()->m_pRowSupply = pRows.get();
        *pRowsOnDemand = std::move(pRows);
    }
    SetOutputPlacement(output, source, locators, transform, bounds);
    if (!pRowsOnDemand)
        ResampleWhole(transform, bounds, source, output, options, format.nBits, bSameFormat, bShowProgress);
    return STransformOutcome();
}

ETransformResult MakeRectangularLocators(const CLocatorSet& locators, CLocatorSet& rectangular)
{
    const int* X = locators.LocatorXs();
    const int* Y = locators.LocatorYs();
    const double E1 = locators.Easting(0), E2 = locators.Easting(1), E3 = locators.Easting(2);
    const double N1 = locators.Northing(0), N2 = locators.Northing(1), N3 = locators.Northing(2);
    const double t = (N1 - N3) / (N2 - N3);
    const double x4 = static_cast<double>(X[1] - X[2]) * t + X[2];
    const double y4 = static_cast<double>(Y[1] - Y[2]) * t + Y[2];
    const double E4 = (E2 - E3) * t + E3;
    auto Round = [](double d) -> std::int64_t {
        return std::isfinite(d) && std::fabs(d) < 9e15 ? static_cast<std::int64_t>(d + 0.5) : INT64_MIN;
    };
    if (Round(x4) == X[0] && Round(y4) == Y[0])
        return ETransformResult::PointsInLine;
    if (Round(E4) == Round(E1))
        return ETransformResult::MapPointsInLine;
    const double t2 = (E3 - E1) / (E4 - E1);
    const std::int64_t nX2 = Round((x4 - X[0]) * t2 + X[0]);
    const std::int64_t nY2 = Round((y4 - Y[0]) * t2 + Y[0]);
    if (nX2 < INT32_MIN || nX2 > INT32_MAX || nY2 < INT32_MIN || nY2 > INT32_MAX)
        return ETransformResult::NoTransform;
    rectangular = locators;
    rectangular.SetLocator(1, static_cast<int>(nX2), static_cast<int>(nY2));
    rectangular.SetMapPosition(1, E3, N1);
    return ETransformResult::Done;
}

ETransformResult TransformNonRectangular(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                         std::unique_ptr<CDIBWorld>& pTransformedMap, const STransformOptions& options,
                                         std::unique_ptr<CRowSupply>* pRowsOnDemand)
{
    return TellTransform([&] {
        return TransformNonRectangularSilent(source, locators, nBitCount, pTransformedMap, options, pRowsOnDemand,
                                             true);
    });
}

STransformOutcome TransformNonRectangularSilent(const CDIBWorld& source, const CLocatorSet& locators, int nBitCount,
                                                std::unique_ptr<CDIBWorld>& pTransformedMap,
                                                const STransformOptions& options,
                                                std::unique_ptr<CRowSupply>* pRowsOnDemand, bool bShowProgress)
{
    // A copy with the constructed corner as locator 2; the caller's set is untouched.
    CLocatorSet rectangular;
    const ETransformResult eResult = MakeRectangularLocators(locators, rectangular);
    switch (eResult) {
    case ETransformResult::Done:
        return TransformBitmapSilent(source, rectangular, nBitCount, pTransformedMap, options, pRowsOnDemand,
                                     bShowProgress);
    case ETransformResult::PointsInLine:
        return STransformOutcome::Refused(eResult, "Error : Points are in a straight line");
    case ETransformResult::MapPointsInLine:
        return STransformOutcome::Refused(eResult, "Error : Eastings and Northings form a straight line.");
    default:
        return STransformOutcome::Refused(eResult, kNoUsableTransform);
    }
}

STransformOutcome STransformOutcome::Refused(ETransformResult eResult, const std::string& strText)
{
    STransformOutcome outcome;
    outcome.eResult = eResult;
    outcome.nErrorNumber = ERR_MESSAGE_IS_DETAIL;
    outcome.strErrorText = strText;
    outcome.aNotices.push_back(SNotice{EMessageKind::Warning, strText});
    return outcome;
}

}  // namespace gridmorph
