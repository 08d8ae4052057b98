#include "transform/SmoothResample.h"

#include <algorithm>
#include <cmath>

#include "transform/Resample.h"

namespace gridmorph {
namespace {

constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

// The source as the row loops read it: picture rows counted from the top.
struct SSourceView {
    const std::uint8_t* pTopRow;
    std::ptrdiff_t nStride;
    int nWidth, nHeight;
    const std::uint8_t* pColours;  // 8-bit sources: 4 bytes per index

    // The blue, green, red bytes of source pixel (x, y).
    template <int nSourceBytes>
    const std::uint8_t* Pixel(int x, int y) const
    {
        const std::uint8_t* p = pTopRow - static_cast<std::ptrdiff_t>(y) * nStride;
        if constexpr (nSourceBytes == 1)
            return pColours + 4 * static_cast<int>(p[x]);
        else
            return p + static_cast<std::ptrdiff_t>(x) * nSourceBytes;
    }
};

template <int nSourceBytes>
inline void Bilinear(const SSourceView& view, double x, double y, std::uint8_t* pTarget)
{
    const double dx = std::clamp(x, 0.0, static_cast<double>(view.nWidth - 1));
    const double dy = std::clamp(y, 0.0, static_cast<double>(view.nHeight - 1));
    const int x0 = static_cast<int>(dx), y0 = static_cast<int>(dy);
    const int x1 = x0 + (x0 < view.nWidth - 1 ? 1 : 0), y1 = y0 + (y0 < view.nHeight - 1 ? 1 : 0);
    const std::uint32_t wx = static_cast<std::uint32_t>((dx - x0) * kWeightOne + 0.5);
    const std::uint32_t wy = static_cast<std::uint32_t>((dy - y0) * kWeightOne + 0.5);
    const std::uint8_t* p00 = view.Pixel<nSourceBytes>(x0, y0);
    const std::uint8_t* p01 = view.Pixel<nSourceBytes>(x1, y0);
    const std::uint8_t* p10 = view.Pixel<nSourceBytes>(x0, y1);
    const std::uint8_t* p11 = view.Pixel<nSourceBytes>(x1, y1);
    for (int n = 0; n < 3; ++n) {
        const std::uint32_t nTop = p00[n] * (kWeightOne - wx) + p01[n] * wx;
        const std::uint32_t nBottom = p10[n] * (kWeightOne - wx) + p11[n] * wx;
        pTarget[n] = static_cast<std::uint8_t>(
            (nTop * (kWeightOne - wy) + nBottom * wy + (1u << (2 * kWeightBits - 1))) >> (2 * kWeightBits));
    }
}

// Bilinear where the four pixels around the point all lie on the scan (0 <= x < width - 1,
// 0 <= y < height - 1): there the clamps of Bilinear change nothing and the right and lower
// neighbours are the next column and row, so the same sums are made without them. The four
// products of the weights are the terms of Bilinear's two stages multiplied out: the same
// integers (at most 255 x 2^22 + 2^21, inside 32 bits).
template <int nSourceBytes>
inline void BilinearInside(const SSourceView& view, double x, double y, std::uint8_t* pTarget)
{
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const std::uint32_t wx = static_cast<std::uint32_t>((x - x0) * kWeightOne + 0.5);
    const std::uint32_t wy = static_cast<std::uint32_t>((y - y0) * kWeightOne + 0.5);
    const std::uint32_t w00 = (kWeightOne - wx) * (kWeightOne - wy), w01 = wx * (kWeightOne - wy);
    const std::uint32_t w10 = (kWeightOne - wx) * wy, w11 = wx * wy;
    const std::uint8_t* pRow = view.pTopRow - static_cast<std::ptrdiff_t>(y0) * view.nStride;
    const std::uint8_t *p00, *p01, *p10, *p11;
    if constexpr (nSourceBytes == 1) {
        p00 = view.pColours + 4 * static_cast<int>(pRow[x0]);
        p01 = view.pColours + 4 * static_cast<int>(pRow[x0 + 1]);
        p10 = view.pColours + 4 * static_cast<int>(pRow[x0 - view.nStride]);
        p11 = view.pColours + 4 * static_cast<int>(pRow[x0 + 1 - view.nStride]);
    } else {
        p00 = pRow + static_cast<std::ptrdiff_t>(x0) * nSourceBytes;
        p01 = p00 + nSourceBytes;
        p10 = p00 - view.nStride;
        p11 = p10 + nSourceBytes;
    }
    for (int n = 0; n < 3; ++n)
        pTarget[n] = static_cast<std::uint8_t>(
            (p00[n] * w00 + p01[n] * w01 + p10[n] * w10 + p11[n] * w11 + (1u << (2 * kWeightBits - 1))) >>
            (2 * kWeightBits));
}

// The cubic convolution weights (a = -0.5) of the four pixels around a point t of the way
// from the second to the third, in steps of 1/4096 that add up to exactly 4096.
constexpr int kCubicBits = 12;
inline void CubicWeights(double t, std::int32_t* pWeights)
{
    const double t2 = t * t, t3 = t2 * t;
    const double dOne = 1 << kCubicBits;
    auto Round = [](double d) { return static_cast<std::int32_t>(d < 0 ? d - 0.5 : d + 0.5); };
    pWeights[0] = Round((-0.5 * t3 + t2 - 0.5 * t) * dOne);
    pWeights[2] = Round((-1.5 * t3 + 2.0 * t2 + 0.5 * t) * dOne);
    pWeights[3] = Round((0.5 * t3 - 0.5 * t2) * dOne);
    pWeights[1] = (1 << kCubicBits) - pWeights[0] - pWeights[2] - pWeights[3];
}

template <int nSourceBytes>
inline void Cubic(const SSourceView& view, double x, double y, std::uint8_t* pTarget)
{
    // Inside the span x and y lie above -1.5: truncation corrected by one is the floor.
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    x0 -= static_cast<double>(x0) > x ? 1 : 0;
    y0 -= static_cast<double>(y0) > y ? 1 : 0;
    if (x0 < 1 || x0 + 2 >= view.nWidth || y0 < 1 || y0 + 2 >= view.nHeight) {
        Bilinear<nSourceBytes>(view, x, y, pTarget);
        return;
    }
    std::int32_t aWx[4], aWy[4];
    CubicWeights(x - x0, aWx);
    CubicWeights(y - y0, aWy);
    // Rows: at most 255 x 1.25 x 4096 in magnitude, the sum of four rows in 64 bits.
    std::int64_t aSum[3] = {0, 0, 0};
    for (int r = 0; r < 4; ++r) {
        std::int32_t aRow[3] = {0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t* p = view.Pixel<nSourceBytes>(x0 - 1 + k, y0 - 1 + r);
            aRow[0] += aWx[k] * p[0];
            aRow[1] += aWx[k] * p[1];
            aRow[2] += aWx[k] * p[2];
        }
        aSum[0] += static_cast<std::int64_t>(aWy[r]) * aRow[0];
        aSum[1] += static_cast<std::int64_t>(aWy[r]) * aRow[1];
        aSum[2] += static_cast<std::int64_t>(aWy[r]) * aRow[2];
    }
    constexpr std::int64_t kHalf = std::int64_t(1) << (2 * kCubicBits - 1);
    for (int n = 0; n < 3; ++n)
        pTarget[n] = static_cast<std::uint8_t>(std::clamp<std::int64_t>((aSum[n] + kHalf) >> (2 * kCubicBits), 0, 255));
}

template <int nSourceBytes, EResampling eResampling>
void RunRow(const SRectifyingTransform& transform, const SSourceView& sourceView, std::int64_t nV, std::int64_t nU0,
            int nLow, int nHigh, int nOutputBytes, std::uint8_t* pOutputRow)
{
    // A copy of the view of its own: the byte stores of the loop could otherwise, as far as
    // the compiler knows, change the caller's, which would then be read again per pixel.
    const SSourceView view = sourceView;
    const double X1 = transform.dX1, Y1 = transform.dY1;
    const double c = transform.dCos, s = transform.dSin, k = transform.dShear;
    // The row terms and the per-pixel operations of the nearest-neighbour row.
    const double b = static_cast<double>(nV - static_cast<std::int64_t>(Y1)) / transform.dScale;
    const double bk = b * k, bs = b * s, bcY1 = b * c + Y1;
    const double dFirst = static_cast<double>(nU0 - static_cast<std::int64_t>(X1));
    const double dLastX = view.nWidth - 1, dLastY = view.nHeight - 1;
    std::uint8_t* pTarget = pOutputRow + static_cast<std::ptrdiff_t>(nLow) * nOutputBytes;
    for (int i = nLow; i <= nHigh; ++i, pTarget += nOutputBytes) {
        const double a = (dFirst + i) - bk;
        const double x = (a * c + X1) - bs, y = bcY1 + a * s;
        if constexpr (eResampling == EResampling::Nearest) {
            const std::uint8_t* p = view.Pixel<nSourceBytes>(static_cast<int>(x + 0.5), static_cast<int>(y + 0.5));
            pTarget[0] = p[0];
            pTarget[1] = p[1];
            pTarget[2] = p[2];
        } else if constexpr (eResampling == EResampling::Bilinear) {
            if (x >= 0.0 && y >= 0.0 && x < dLastX && y < dLastY)
                BilinearInside<nSourceBytes>(view, x, y, pTarget);
            else
                Bilinear<nSourceBytes>(view, x, y, pTarget);
        } else {
            Cubic<nSourceBytes>(view, x, y, pTarget);
        }
        if (nOutputBytes == 4)
            pTarget[3] = 255;
    }
}

template <int nSourceBytes>
void RunRowFor(EResampling eResampling, const SRectifyingTransform& transform, const SSourceView& view,
               std::int64_t nV, std::int64_t nU0, int nLow, int nHigh, int nOutputBytes, std::uint8_t* pOutputRow)
{
    switch (eResampling) {
    case EResampling::Nearest:
        RunRow<nSourceBytes, EResampling::Nearest>(transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
        break;
    case EResampling::Bilinear:
        RunRow<nSourceBytes, EResampling::Bilinear>(transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
        break;
    case EResampling::Cubic:
        RunRow<nSourceBytes, EResampling::Cubic>(transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
        break;
    }
}

}  // namespace

SResampleSource MakeResampleSource(const CDIBImage& source)
{
    SResampleSource result;
    result.pImage = &source;
    if (source.m_nBitCount == 8 && source.m_pRGBQuad)
        for (int i = 0; i < 256; ++i) {
            result.aColours[4 * i] = source.m_pRGBQuad[i].rgbBlue;
            result.aColours[4 * i + 1] = source.m_pRGBQuad[i].rgbGreen;
            result.aColours[4 * i + 2] = source.m_pRGBQuad[i].rgbRed;
        }
    return result;
}

void ResampleRowConverted(const SRectifyingTransform& transform, const SResampleSource& source,
                          EResampling eResampling, std::int64_t nV, std::int64_t nU0, int nWidth, int nOutputBytes,
                          std::uint8_t* pOutputRow)
{
    const CDIBImage& image = *source.pImage;
    int nLow = 0, nHigh = nWidth - 1;
    FindInsideSpan(transform, image.m_nImageWidth, image.m_nImageHeight, nV, nU0, nWidth, nLow, nHigh);
    if (nLow > nHigh)
        return;
    const SSourceView view{image.m_pImageBits + static_cast<std::ptrdiff_t>(image.m_nImageHeight - 1) * image.m_nStride,
                           image.m_nStride, image.m_nImageWidth, image.m_nImageHeight, source.aColours.data()};
    if (image.m_nBitCount == 8)
        RunRowFor<1>(eResampling, transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
    else if (image.m_nBitCount == 24)
        RunRowFor<3>(eResampling, transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
    else if (image.m_nBitCount == 32)
        RunRowFor<4>(eResampling, transform, view, nV, nU0, nLow, nHigh, nOutputBytes, pOutputRow);
}

}  // namespace gridmorph
