// The map grid on a scan: found on a reduced copy, refined at full resolution.
//
// The reduced copy keeps the darkest pixel of each block, so thin lines survive the
// reduction. A black-hat filter keeps the dark structures narrower than a few pixels
// (lines, text strokes) and drops dark areas. Each family of grid lines is found by the
// angle whose projection of that darkness is most peaked; the lines are the peaks of that
// projection that fall on an equal spacing. Every crossing of two such lines is then
// refined on the full picture: both lines are measured across their width at every pixel
// over a window of their length on both sides of the crossing, each fitted with a straight
// line by least squares (discarding what map content pulled off the line), and
// intersected.
#include "grid/GridFinder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <thread>
#include <type_traits>

#include <opencv2/imgproc.hpp>

#include "grid/GridInternal.h"
#include "io/MappedFile.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace grid {

CGreyReader::CGreyReader(const CDIBImage& picture)
{
    if (!picture.HasImage() || picture.m_nImageWidth <= 0 || picture.m_nImageHeight <= 0)
        return;
    m_nWidth = picture.m_nImageWidth;
    m_nHeight = picture.m_nImageHeight;
    m_nStride = picture.m_nStride;
    m_pBottom = picture.StorageRow(0);
    m_pRows = picture.Bitmap()->m_pRowSupply;
    if (picture.m_nBitCount == 8) {
        m_nStep = 1;
        SRGBQuad aColours[256];
        const_cast<CDIBImage&>(picture).GetDIBColours(0, 256, aColours);
        for (int i = 0; i < 256; ++i)
            m_aTable[i] = std::uint8_t((aColours[i].rgbRed * 77 + aColours[i].rgbGreen * 150 + aColours[i].rgbBlue * 29) >> 8);
        m_bUsable = true;
    } else if (picture.m_nBitCount == 24 || picture.m_nBitCount == 32) {
        m_nStep = picture.m_nBitCount / 8;
        m_bUsable = true;
    }
}

void CGreyReader::MakeRows(int y0, int y1) const
{
    y0 = std::max(y0, 0);
    y1 = std::min(y1, m_nHeight);
    if (y1 <= y0)
        return;
    try {
        m_pRows->MakeRows(y0, y1 - y0);
    } catch (const std::runtime_error&) {
        // The rows stay zero bytes; the supply keeps the reason (see NeedRows).
    }
}

void CGreyReader::GreyRow(int y, std::uint8_t* pOut) const
{
    const std::uint8_t* p = m_pBottom + std::ptrdiff_t(m_nHeight - 1 - y) * m_nStride;
    // A picture read on demand hands a row it can copy over without storing it (the
    // reduction reads each row once); other rows are made in the picture.
    thread_local std::vector<std::uint8_t> t_aCopy;
    if (m_pRows) {
        t_aCopy.resize(std::size_t(m_nStride));
        if (m_pRows->CopyRow(y, t_aCopy.data()))
            p = t_aCopy.data();
        else
            NeedRows(y, y + 1);
    }
    if (m_nStep == 1) {
        for (int x = 0; x < m_nWidth; ++x)
            pOut[x] = m_aTable[p[x]];
        return;
    }
    // A constant step lets the compiler work on many pixels at once.
    auto Convert = [&](auto step) {
        for (int x = 0; x < m_nWidth; ++x, p += step.value)
            pOut[x] = std::uint8_t((p[2] * 77 + p[1] * 150 + p[0] * 29) >> 8);
    };
    if (m_nStep == 3)
        Convert(std::integral_constant<int, 3>());
    else
        Convert(std::integral_constant<int, 4>());
}

void CGreyReader::DoneWithRows(int y0, int y1) const
{
    if (y1 > y0 && m_pRows)
        m_pRows->ReleaseRows(y0, y1 - y0);
    else if (y1 > y0)
        DropMappedPages(m_pBottom + std::ptrdiff_t(m_nHeight - y1) * m_nStride, std::size_t(y1 - y0) * std::size_t(m_nStride));
}

cv::Mat CGreyReader::Crop(int nLeft, int nTop, int nWidth, int nHeight) const
{
    cv::Mat crop(nHeight, nWidth, CV_8U, cv::Scalar(255));
    NeedRows(nTop, nTop + nHeight);
    for (int r = 0; r < nHeight; ++r) {
        const int y = nTop + r;
        if (y < 0 || y >= m_nHeight)
            continue;
        std::uint8_t* pOut = crop.ptr(r);
        const int x0 = std::max(0, nLeft), x1 = std::min(m_nWidth, nLeft + nWidth);
        for (int x = x0; x < x1; ++x)
            pOut[x - nLeft] = std::uint8_t(Grey(x, y));
    }
    return crop;
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxAngle = 16.0;  // degrees either side of the picture's axes

// A straight line n . p = d with a unit normal.
struct SLine {
    double nx = 0, ny = 0, d = 0;
};

bool Intersect(const SLine& a, const SLine& b, double& x, double& y)
{
    const double det = a.nx * b.ny - a.ny * b.nx;
    if (std::fabs(det) < 1e-9)
        return false;
    x = (a.d * b.ny - a.ny * b.d) / det;
    y = (a.nx * b.d - a.d * b.nx) / det;
    return true;
}

// The reduced copy: each pixel the darkest of an nFactor x nFactor block.
cv::Mat ReduceDarkest(const CGreyReader& reader, int nFactor)
{
    const int nW = (reader.Width() + nFactor - 1) / nFactor, nH = (reader.Height() + nFactor - 1) / nFactor;
    cv::Mat reduced(nH, nW, CV_8U, cv::Scalar(255));
    auto Work = [&](int nFirst, int nLast) {
        std::vector<std::uint8_t> aRow(std::size_t(reader.Width()));
        for (int ry = nFirst; ry < nLast; ++ry) {
            std::uint8_t* pOut = reduced.ptr(ry);
            const int y1 = std::min(reader.Height(), (ry + 1) * nFactor);
            // Every second row of a large block: a grid line is at least two rows thick
            // after the scan's blur, so it darkens one of them.
            for (int y = ry * nFactor; y < y1; y += nFactor >= 4 ? 2 : 1) {
                reader.GreyRow(y, aRow.data());
                for (int rx = 0, x = 0; rx < nW; ++rx) {
                    const int xEnd = std::min(reader.Width(), x + nFactor);
                    std::uint8_t o = pOut[rx];
                    for (; x < xEnd; ++x)
                        o = std::min(o, aRow[std::size_t(x)]);
                    pOut[rx] = o;
                }
            }
            reader.DoneWithRows(ry * nFactor, y1);
        }
    };
    const int nThreads = std::max(1, std::min(GetThreadCount(), nH / 16 + 1));
    std::vector<std::thread> aThreads;
    for (int t = 1; t < nThreads; ++t)
        aThreads.emplace_back(Work, nH * t / nThreads, nH * (t + 1) / nThreads);
    Work(0, nH / nThreads);
    for (std::thread& thread : aThreads)
        thread.join();
    return reduced;
}

struct SDarkPoint {
    float x, y, w;
};

// The dark, thin structures of a grey picture as weighted points.
std::vector<SDarkPoint> ThinDarkPoints(const cv::Mat& grey, int nKernel)
{
    cv::Mat hat;
    cv::morphologyEx(grey, hat, cv::MORPH_BLACKHAT, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(nKernel, nKernel)));
    // The noise floor: a high share of pixels is paper; its darkness is noise.
    int aHistogram[256] = {};
    for (int y = 0; y < hat.rows; ++y) {
        const std::uint8_t* p = hat.ptr(y);
        for (int x = 0; x < hat.cols; ++x)
            ++aHistogram[p[x]];
    }
    const long long nTotal = (long long)hat.rows * hat.cols;
    long long nCount = 0;
    int nMedian = 0;
    for (int v = 0; v < 256; ++v) {
        nCount += aHistogram[v];
        if (nCount * 2 >= nTotal) {
            nMedian = v;
            break;
        }
    }
    const int nFloor = std::max(8, 3 * nMedian + 4);
    std::vector<SDarkPoint> aPoints;
    for (int y = 0; y < hat.rows; ++y) {
        const std::uint8_t* p = hat.ptr(y);
        for (int x = 0; x < hat.cols; ++x)
            if (p[x] > nFloor)
                aPoints.push_back({float(x), float(y), float(std::min(p[x] - nFloor, 80))});
    }
    return aPoints;
}

// The projection of the points across lines at dAngle (degrees) from the family's axis:
// near-horizontal lines (bVertical false) project on y cos a - x sin a, near-vertical
// ones on x cos a + y sin a. The bins start at dOrigin.
void Project(const std::vector<SDarkPoint>& aPoints, bool bVertical, double dAngle, double dOrigin,
             std::vector<float>& aProfile)
{
    std::fill(aProfile.begin(), aProfile.end(), 0.0f);
    const float c = float(std::cos(dAngle * kPi / 180)), s = float(std::sin(dAngle * kPi / 180));
    const float o = float(dOrigin);
    const int n = int(aProfile.size());
    for (const SDarkPoint& point : aPoints) {
        const float rho = bVertical ? point.x * c + point.y * s : point.y * c - point.x * s;
        const int b = int(rho - o + 0.5f);
        if (b >= 0 && b < n)
            aProfile[b] += point.w;
    }
}

double Peakedness(const std::vector<float>& aProfile)
{
    double dSum = 0;
    for (float v : aProfile)
        dSum += double(v) * v;
    return dSum;
}

struct SFamily {
    bool bFound = false;
    double dAngle = 0;              // degrees
    std::vector<double> aRho;       // line positions in the reduced copy, ascending
    double dSpacing = 0;            // reduced pixels
};

// The peaks of a profile: local maxima with their height above the surrounding level and
// their centroid.
struct SPeak {
    double dPosition;
    double dHeight;
};

std::vector<SPeak> FindPeaks(const std::vector<float>& aProfile)
{
    const int n = int(aProfile.size());
    std::vector<SPeak> aPeaks;
    std::vector<float> aWindow;
    for (int b = 2; b < n - 2; ++b) {
        const float v = aProfile[b];
        bool bMax = v > 0;
        for (int k = -3; k <= 3 && bMax; ++k)
            if (k != 0 && b + k >= 0 && b + k < n && (aProfile[b + k] > v || (aProfile[b + k] == v && k < 0)))
                bMax = false;
        if (!bMax)
            continue;
        // The level around: the lower quartile of the bins 4..15 away on both sides.
        aWindow.clear();
        for (int k = 4; k <= 15; ++k) {
            if (b - k >= 0)
                aWindow.push_back(aProfile[b - k]);
            if (b + k < n)
                aWindow.push_back(aProfile[b + k]);
        }
        std::nth_element(aWindow.begin(), aWindow.begin() + aWindow.size() / 4, aWindow.end());
        const double dLevel = aWindow.empty() ? 0 : aWindow[aWindow.size() / 4];
        double dSum = 0, dMoment = 0;
        for (int k = -1; k <= 1; ++k) {
            const double w = std::max(0.0, aProfile[b + k] - dLevel);
            dSum += w;
            dMoment += w * (b + k);
        }
        if (dSum > 0)
            aPeaks.push_back({dMoment / dSum, dSum});
    }
    return aPeaks;
}

// The angle (degrees) whose projection of the points is most peaked: a coarse search on
// every fourth point over the whole range, then a fine one on all points near the best.
double MostPeakedAngle(const std::vector<SDarkPoint>& aPoints, bool bVertical, double dOrigin,
                       std::vector<float>& aProfile)
{
    double dBest = -1, dBestAngle = 0;
    {  // coarse, on every fourth point
        std::vector<SDarkPoint> aSome;
        aSome.reserve(aPoints.size() / 4 + 1);
        for (std::size_t k = 0; k < aPoints.size(); k += 4)
            aSome.push_back(aPoints[k]);
        for (double a = -kMaxAngle; a <= kMaxAngle + 1e-9; a += 0.25) {
            Project(aSome, bVertical, a, dOrigin, aProfile);
            const double dScore = Peakedness(aProfile);
            if (dScore > dBest)
                dBest = dScore, dBestAngle = a;
        }
        dBest = -1;
    }
    for (double a = dBestAngle - 0.3; a <= dBestAngle + 0.3 + 1e-9; a += 0.02) {
        Project(aPoints, bVertical, a, dOrigin, aProfile);
        const double dScore = Peakedness(aProfile);
        if (dScore > dBest)
            dBest = dScore, dBestAngle = a;
    }
    return dBestAngle;
}

// The peaks strong enough to set the spacing (at least a fifth of the third highest) and
// the typical height of the clearly strong ones; false when fewer than two are strong.
bool SelectStrongPeaks(const std::vector<SPeak>& aPeaks, std::vector<SPeak>& aStrong, double& dTypical)
{
    std::vector<double> aHeights;
    for (const SPeak& peak : aPeaks)
        aHeights.push_back(peak.dHeight);
    std::sort(aHeights.rbegin(), aHeights.rend());
    const double dReference = aHeights[std::min<std::size_t>(2, aHeights.size() - 1)];
    for (const SPeak& peak : aPeaks)
        if (peak.dHeight >= 0.2 * dReference)
            aStrong.push_back(peak);
    if (aStrong.size() < 2)
        return false;
    std::vector<double> aStrongHeights;
    for (const SPeak& peak : aStrong)
        if (peak.dHeight >= 0.4 * dReference)
            aStrongHeights.push_back(peak.dHeight);
    std::nth_element(aStrongHeights.begin(), aStrongHeights.begin() + aStrongHeights.size() / 2, aStrongHeights.end());
    dTypical = aStrongHeights[aStrongHeights.size() / 2];
    return true;
}

// An equal spacing of lines, positions phase + k spacing, fitted to the strong peaks.
struct SProgression {
    const std::vector<SPeak>& aStrong;
    double dTypical;

    // The progression phase + k spacing that the peaks fit: matched peaks (the best one at
    // each k), its score, and the least-squares spacing and phase through them.
    void Match(double dSpacing, double dPhase, double dTolerance, double& dScore, double& dFitSpacing,
               double& dFitPhase) const
    {
        std::map<int, std::pair<double, double>> aMatched;  // k: capped height, position
        for (const SPeak& peak : aStrong) {
            const double k = (peak.dPosition - dPhase) / dSpacing;
            if (std::fabs(k - std::round(k)) * dSpacing <= dTolerance) {
                auto& at = aMatched[int(std::lround(k))];
                const double dHeight = std::min(peak.dHeight, 1.2 * dTypical);
                if (dHeight > at.first)
                    at = {dHeight, peak.dPosition};
            }
        }
        dScore = 0;
        double sk = 0, sp = 0, skk = 0, skp = 0;
        for (const auto& [k, at] : aMatched)
            dScore += at.first, sk += k, sp += at.second, skk += double(k) * k, skp += k * at.second;
        const int n = int(aMatched.size());
        const int nMissing = n ? std::max(0, aMatched.rbegin()->first - aMatched.begin()->first + 1 - n) : 0;
        dScore -= 0.7 * dTypical * nMissing;
        const double det = n * skk - sk * sk;
        dFitSpacing = dSpacing, dFitPhase = dPhase;
        if (n >= 2 && std::fabs(det) > 1e-9) {
            dFitSpacing = (n * skp - sk * sp) / det;
            dFitPhase = (sp - dFitSpacing * sk) / n;
        }
    }

    // The spacing: from every pair of strong peaks (and a half or third of their distance),
    // refined through the peaks it matches and scored on them. False when none is found.
    bool FindBest(double& dBestSpacing, double& dBestPhase) const
    {
        double dBestScore = -1e18;
        dBestSpacing = 0, dBestPhase = 0;
        for (std::size_t a = 0; a < aStrong.size(); ++a)
            for (std::size_t b = a + 1; b < aStrong.size(); ++b) {
                for (int nDivide = 1; nDivide <= 3; ++nDivide) {
                    double dSpacing = (aStrong[b].dPosition - aStrong[a].dPosition) / nDivide;
                    if (dSpacing < 8)
                        continue;
                    double dPhase = aStrong[a].dPosition, dScore = 0;
                    Match(dSpacing, dPhase, std::max(1.5, 0.03 * dSpacing), dScore, dSpacing, dPhase);
                    if (dSpacing < 8)
                        continue;
                    Match(dSpacing, dPhase, std::max(1.5, 0.01 * dSpacing), dScore, dSpacing, dPhase);
                    if (dSpacing >= 8 && dScore > dBestScore)
                        dBestScore = dScore, dBestSpacing = dSpacing, dBestPhase = dPhase;
                }
            }
        return dBestSpacing > 0;
    }

    // Refines the spacing and phase by least squares over the strong peaks near them.
    void Refine(double& dSpacing, double& dPhase) const
    {
        for (int nPass = 0; nPass < 2; ++nPass) {
            const double dTolerance = std::max(1.2, 0.01 * dSpacing);
            double sk = 0, sp = 0, skk = 0, skp = 0;
            int n = 0;
            for (const SPeak& peak : aStrong) {
                const double k = std::round((peak.dPosition - dPhase) / dSpacing);
                if (std::fabs(peak.dPosition - dPhase - k * dSpacing) <= dTolerance) {
                    sk += k, sp += peak.dPosition, skk += k * k, skp += k * peak.dPosition, ++n;
                }
            }
            const double det = n * skk - sk * sk;
            if (n >= 2 && std::fabs(det) > 1e-9) {
                dSpacing = (n * skp - sk * sp) / det;
                dPhase = (sp - dSpacing * sk) / n;
            }
        }
    }
};

// Every position of the progression with a peak, strong or weak, as (progression index,
// position) in ascending order; the highest peak where several fall at one index.
std::vector<std::pair<int, double>> PeaksOnProgression(const std::vector<SPeak>& aPeaks, double dTypical,
                                                       double dSpacing, double dPhase)
{
    const double dTolerance = std::max(1.2, 0.01 * dSpacing);
    std::vector<std::pair<int, double>> aLines;  // progression index, position
    std::vector<double> aLineHeights;
    for (const SPeak& peak : aPeaks) {
        if (peak.dHeight < 0.12 * dTypical)
            continue;
        const double k = std::round((peak.dPosition - dPhase) / dSpacing);
        if (std::fabs(peak.dPosition - dPhase - k * dSpacing) > dTolerance)
            continue;
        auto it = std::find_if(aLines.begin(), aLines.end(), [&](const auto& line) { return line.first == int(k); });
        if (it == aLines.end())
            aLines.emplace_back(int(k), peak.dPosition), aLineHeights.push_back(peak.dHeight);
        else if (peak.dHeight > aLineHeights[std::size_t(it - aLines.begin())])
            it->second = peak.dPosition, aLineHeights[std::size_t(it - aLines.begin())] = peak.dHeight;
    }
    std::sort(aLines.begin(), aLines.end());
    return aLines;
}

// The longest unbroken run of the progression among the lines (gaps of one missing line
// allowed), as its first line and its length: a stray peak far outside the grid (the
// frame, a margin's line) is no grid line.
void LongestRun(const std::vector<std::pair<int, double>>& aLines, std::size_t& nBestStart, std::size_t& nBestLength)
{
    std::size_t nRunStart = 0;
    nBestStart = 0, nBestLength = 0;
    for (std::size_t i = 0; i <= aLines.size(); ++i) {
        if (i == aLines.size() || (i > 0 && aLines[i].first - aLines[i - 1].first > 2)) {
            if (i - nRunStart > nBestLength)
                nBestLength = i - nRunStart, nBestStart = nRunStart;
            nRunStart = i;
        }
    }
}

// The lines of one family: the angle with the most peaked projection, then the peaks on
// one equal spacing.
SFamily FindFamily(const std::vector<SDarkPoint>& aPoints, bool bVertical, int nWidth, int nHeight)
{
    SFamily family;
    const double dSlack = std::sin(kMaxAngle * kPi / 180) * (bVertical ? nHeight : nWidth) + 2;
    const double dOrigin = -dSlack;
    std::vector<float> aProfile(std::size_t((bVertical ? nWidth : nHeight) + 2 * dSlack + 2));
    family.dAngle = MostPeakedAngle(aPoints, bVertical, dOrigin, aProfile);
    Project(aPoints, bVertical, family.dAngle, dOrigin, aProfile);
    const std::vector<SPeak> aPeaks = FindPeaks(aProfile);
    if (aPeaks.size() < 2)
        return family;
    std::vector<SPeak> aStrong;
    double dTypical = 0;
    if (!SelectStrongPeaks(aPeaks, aStrong, dTypical))
        return family;
    const SProgression progression{aStrong, dTypical};
    double dSpacing = 0, dPhase = 0;
    if (!progression.FindBest(dSpacing, dPhase))
        return family;
    progression.Refine(dSpacing, dPhase);
    const std::vector<std::pair<int, double>> aLines = PeaksOnProgression(aPeaks, dTypical, dSpacing, dPhase);
    std::size_t nStart = 0, nLength = 0;
    LongestRun(aLines, nStart, nLength);
    for (std::size_t i = nStart; i < nStart + nLength; ++i)
        family.aRho.push_back(dOrigin + aLines[i].second);
    family.dSpacing = dSpacing;
    family.bFound = family.aRho.size() >= 2;
    return family;
}

// One line's fit near a crossing: x = a + b (y - y0) for a near-vertical line, y = a + b
// (x - x0) for a near-horizontal one.
struct SLineFit {
    bool bGood = false;
    double a = 0, b = 0;
    double dRms = 0;
    int nUsed = 0;
    double dWidth = 0;  // median width of the dark dip, pixels
};

// Measures a line across its width at each step along it within dHalfLength of (x0, y0),
// skipping dGap either side of the crossing, and fits a straight line.
SLineFit FitLine(const CGreyReader& reader, bool bVertical, double x0, double y0, double dSlope, double dHalfLength,
                 double dGap, int nReach, int nMinDepth)
{
    SLineFit fit;
    std::vector<double> aT, aPosition, aWidth;
    int nTried = 0;
    std::vector<int> aValues(std::size_t(2 * nReach + 1));
    std::vector<int> aSorted;
    const int nLimitAlong = bVertical ? reader.Height() : reader.Width();
    const int nLimitAcross = bVertical ? reader.Width() : reader.Height();
    const double dCentreAlong = bVertical ? y0 : x0, dCentreAcross = bVertical ? x0 : y0;
    for (int nAlong = int(std::ceil(dCentreAlong - dHalfLength)); nAlong <= int(std::floor(dCentreAlong + dHalfLength));
         ++nAlong) {
        const double t = nAlong - dCentreAlong;
        if (std::fabs(t) < dGap || nAlong < 0 || nAlong >= nLimitAlong)
            continue;
        ++nTried;
        const int nCentre = int(std::lround(dCentreAcross + dSlope * t));
        if (nCentre - nReach < 0 || nCentre + nReach >= nLimitAcross)
            continue;
        if (bVertical)
            reader.NeedRows(nAlong, nAlong + 1);
        else
            reader.NeedRows(nCentre - nReach, nCentre + nReach + 1);
        int nMin = 256, nMinAt = 0;
        for (int k = -nReach; k <= nReach; ++k) {
            const int v = bVertical ? reader.Grey(nCentre + k, nAlong) : reader.Grey(nAlong, nCentre + k);
            aValues[std::size_t(k + nReach)] = v;
            if (v < nMin)
                nMin = v, nMinAt = k + nReach;
        }
        aSorted = aValues;
        std::nth_element(aSorted.begin(), aSorted.begin() + aSorted.size() * 3 / 4, aSorted.end());
        const int nBackground = aSorted[aSorted.size() * 3 / 4];
        const int nDepth = nBackground - nMin;
        if (nDepth < nMinDepth)
            continue;
        const double dHalf = nBackground - 0.5 * nDepth;
        int l = nMinAt, r = nMinAt;
        while (l > 0 && aValues[std::size_t(l - 1)] < dHalf)
            --l;
        while (r < int(aValues.size()) - 1 && aValues[std::size_t(r + 1)] < dHalf)
            ++r;
        if (l == 0 || r == int(aValues.size()) - 1)
            continue;  // the dip fills the window: not a thin line here
        // The centre of the dip: darkness-weighted over the dip and one pixel either side.
        double dSum = 0, dMoment = 0;
        for (int k = l - 1; k <= r + 1; ++k) {
            const double w = std::max(0, nBackground - aValues[std::size_t(k)]);
            dSum += w;
            dMoment += w * k;
        }
        aT.push_back(t);
        aPosition.push_back(nCentre - nReach + dMoment / dSum);
        aWidth.push_back(r - l + 1);
    }
    if (aT.size() < 6 || nTried == 0)
        return fit;
    std::vector<char> aUse(aT.size(), 1);
    for (int nPass = 0; nPass < 4; ++nPass) {
        double st = 0, sp = 0, stt = 0, stp = 0;
        int n = 0;
        for (std::size_t i = 0; i < aT.size(); ++i)
            if (aUse[i])
                st += aT[i], sp += aPosition[i], stt += aT[i] * aT[i], stp += aT[i] * aPosition[i], ++n;
        const double det = n * stt - st * st;
        if (n < 6 || std::fabs(det) < 1e-9)
            return fit;
        fit.b = (n * stp - st * sp) / det;
        fit.a = (sp - fit.b * st) / n;
        std::vector<double> aResidual;
        for (std::size_t i = 0; i < aT.size(); ++i)
            if (aUse[i])
                aResidual.push_back(std::fabs(aPosition[i] - fit.a - fit.b * aT[i]));
        std::nth_element(aResidual.begin(), aResidual.begin() + aResidual.size() / 2, aResidual.end());
        const double dLimit = std::max(0.6, 3.0 * 1.4826 * aResidual[aResidual.size() / 2]);
        double dSquares = 0;
        fit.nUsed = 0;
        for (std::size_t i = 0; i < aT.size(); ++i) {
            const double e = std::fabs(aPosition[i] - fit.a - fit.b * aT[i]);
            aUse[i] = e <= dLimit;
            if (aUse[i])
                dSquares += e * e, ++fit.nUsed;
        }
        fit.dRms = fit.nUsed ? std::sqrt(dSquares / fit.nUsed) : 0;
    }
    std::vector<double> aWidths;
    for (std::size_t i = 0; i < aT.size(); ++i)
        if (aUse[i])
            aWidths.push_back(aWidth[i]);
    if (!aWidths.empty()) {
        std::nth_element(aWidths.begin(), aWidths.begin() + aWidths.size() / 2, aWidths.end());
        fit.dWidth = aWidths[aWidths.size() / 2];
    }
    fit.bGood = fit.nUsed >= 8 && fit.nUsed >= 0.35 * nTried && fit.dRms < 1.5;
    return fit;
}

// The noise of the picture's paper: the typical difference of neighbouring pixels in a
// few rows, as a grey-level deviation.
int EstimateNoise(const CGreyReader& reader)
{
    std::vector<int> aDifferences;
    for (int n = 1; n <= 16; ++n) {
        const int y = reader.Height() * n / 17;
        reader.NeedRows(y, y + 1);
        for (int x = 1; x < reader.Width(); x += 3)
            aDifferences.push_back(std::abs(reader.Grey(x, y) - reader.Grey(x - 1, y)));
    }
    if (aDifferences.empty())
        return 0;
    std::nth_element(aDifferences.begin(), aDifferences.begin() + aDifferences.size() / 2, aDifferences.end());
    return aDifferences[aDifferences.size() / 2];
}

// Refines a crossing predicted at (x, y) with lines of the given slopes (dx/dy of the
// near-vertical line, dy/dx of the near-horizontal one).
// pSlopes, when given, gets the slopes of the two lines the crossing was last fitted from.
bool RefineCrossing(const CGreyReader& reader, double x, double y, double dSlopeV, double dSlopeH, double dHalfLength,
                    int nReach, int nMinDepth, double& dX, double& dY, double* pRms = nullptr,
                    double (*pSlopes)[2] = nullptr)
{
    double cx = x, cy = y;
    int nR = nReach;
    for (int nPass = 0; nPass < 2; ++nPass) {
        const double dGap = nR + 3;
        const SLineFit v = FitLine(reader, true, cx, cy, dSlopeV, dHalfLength, dGap, nR, nMinDepth);
        const SLineFit h = FitLine(reader, false, cx, cy, dSlopeH, dHalfLength, dGap, nR, nMinDepth);
        if (!v.bGood || !h.bGood)
            return false;
        // x = v.a + v.b (y - cy), y = h.a + h.b (x - cx)
        const double det = 1 - v.b * h.b;
        if (std::fabs(det) < 1e-6)
            return false;
        const double nx = (v.a + v.b * (h.a - cy) - v.b * h.b * cx) / det;
        const double ny = h.a + h.b * (nx - cx);
        if (std::hypot(nx - x, ny - y) > nReach + 2)
            return false;
        cx = nx, cy = ny;
        dSlopeV = v.b, dSlopeH = h.b;
        nR = std::max(4, int(std::ceil(std::max(v.dWidth, h.dWidth) * 1.5)) + 2);
        if (pRms)
            *pRms = std::max(v.dRms, h.dRms);
    }
    dX = cx, dY = cy;
    if (pSlopes)
        (*pSlopes)[0] = dSlopeV, (*pSlopes)[1] = dSlopeH;
    return true;
}

int MinimumDepth(int nNoise) { return std::max(14, 5 * nNoise); }

// The two families of lines on the reduced copy, searched for at once, one on a thread of
// its own.
void FindFamilies(const std::vector<SDarkPoint>& aPoints, const cv::Mat& reduced, SFamily& vertical,
                  SFamily& horizontal)
{
    std::thread verticalSearch;
    if (GetThreadCount() > 1)
        verticalSearch = std::thread([&] { vertical = FindFamily(aPoints, true, reduced.cols, reduced.rows); });
    horizontal = FindFamily(aPoints, false, reduced.cols, reduced.rows);
    if (verticalSearch.joinable())
        verticalSearch.join();
    else
        vertical = FindFamily(aPoints, true, reduced.cols, reduced.rows);
}

// A line of the reduced copy in full-resolution pixels: a reduced pixel's centre is the
// centre of its block.
SLine FullLine(bool bVertical, double dAngle, double dRho, int nFactor)
{
    const double dCentre = (nFactor - 1) / 2.0;
    const double c = std::cos(dAngle * kPi / 180), s = std::sin(dAngle * kPi / 180);
    SLine line;
    if (bVertical)
        line.nx = c, line.ny = s;
    else
        line.nx = -s, line.ny = c;
    line.d = nFactor * dRho + dCentre * (line.nx + line.ny);
    return line;
}

// Every crossing of a line of each family refined on the full picture: the grid gets its
// columns and rows and the crossings found.
void MeasureCrossings(const CGreyReader& reader, const SFamily& vertical, const SFamily& horizontal, int nFactor,
                      SFoundGrid& grid)
{
    grid.nColumns = int(vertical.aRho.size());
    grid.nRows = int(horizontal.aRho.size());
    const std::size_t nCrossings = std::size_t(grid.nColumns) * grid.nRows;
    grid.aFound.assign(nCrossings, 0);
    grid.aX.assign(nCrossings, 0.0);
    grid.aY.assign(nCrossings, 0.0);
    const double dSlopeV = -std::tan(vertical.dAngle * kPi / 180);
    const double dSlopeH = std::tan(horizontal.dAngle * kPi / 180);
    const double dSpacing = nFactor * std::min(vertical.dSpacing, horizontal.dSpacing);
    const double dHalfLength = std::min(0.45 * dSpacing, 160.0);
    const int nReach = 2 * nFactor + 5;
    const int nMinDepth = MinimumDepth(EstimateNoise(reader));
    // Each crossing is refined on its own: the crossings of a row are shared out between
    // the threads (the result does not depend on which thread refines which).
    const int nThreads = std::clamp(GetThreadCount(), 1, std::max(1, grid.nColumns));
    for (int j = 0; j < grid.nRows; ++j) {
        const SLine h = FullLine(false, horizontal.dAngle, horizontal.aRho[std::size_t(j)], nFactor);
        RunOrdered(
            nThreads, grid.nColumns, 2 * nThreads,
            [&](int i, int) {
                const SLine v = FullLine(true, vertical.dAngle, vertical.aRho[std::size_t(i)], nFactor);
                double x = 0, y = 0, rx = 0, ry = 0;
                if (!Intersect(v, h, x, y) || x < 0 || y < 0 || x > reader.Width() - 1 || y > reader.Height() - 1)
                    return;
                if (!RefineCrossing(reader, x, y, dSlopeV, dSlopeH, dHalfLength, nReach, nMinDepth, rx, ry))
                    return;
                const std::size_t n = std::size_t(j) * grid.nColumns + i;
                grid.aFound[n] = 1;
                grid.aX[n] = rx;
                grid.aY[n] = ry;
            },
            [](int) { return true; });
        // A row of crossings reads pieces of a few hundred rows across the picture; a
        // mapped picture hands them back before the next row of crossings.
        reader.DoneWithRows(0, reader.Height());
    }
}

// How the found crossings lie about the affine grid through them.
struct SGridFit {
    std::vector<double> aResiduals;            // each found crossing's distance from the grid
    std::vector<int> aColumnCount, aRowCount;  // crossings found on each line
};

// Fits one affine grid through the crossings found and sets the grid's model, spacing,
// rotation, shear and residual from it; false (the grid untouched) with fewer than four.
bool FitAffineGrid(SFoundGrid& grid, SGridFit& fit)
{
    cv::Mat A(0, 3, CV_64F), bx(0, 1, CV_64F), by(0, 1, CV_64F);
    for (int j = 0; j < grid.nRows; ++j)
        for (int i = 0; i < grid.nColumns; ++i)
            if (grid.Found(i, j)) {
                A.push_back(cv::Mat(cv::Matx13d(i, j, 1)));
                bx.push_back(grid.X(i, j));
                by.push_back(grid.Y(i, j));
            }
    if (A.rows < 4)
        return false;
    cv::Mat cx, cy;
    cv::solve(A, bx, cx, cv::DECOMP_SVD);
    cv::solve(A, by, cy, cv::DECOMP_SVD);
    for (int k = 0; k < 3; ++k)
        grid.aModel[k] = cx.at<double>(k), grid.aModel[3 + k] = cy.at<double>(k);
    const double* m = grid.aModel;
    fit.aColumnCount.assign(std::size_t(grid.nColumns), 0);
    fit.aRowCount.assign(std::size_t(grid.nRows), 0);
    double dSquares = 0;
    for (int j = 0; j < grid.nRows; ++j)
        for (int i = 0; i < grid.nColumns; ++i)
            if (grid.Found(i, j)) {
                const double ex = grid.X(i, j) - (m[0] * i + m[1] * j + m[2]);
                const double ey = grid.Y(i, j) - (m[3] * i + m[4] * j + m[5]);
                fit.aResiduals.push_back(std::hypot(ex, ey));
                dSquares += ex * ex + ey * ey;
                ++fit.aColumnCount[std::size_t(i)], ++fit.aRowCount[std::size_t(j)];
            }
    grid.dResidualPixels = std::sqrt(dSquares / fit.aResiduals.size());
    grid.dSpacingX = std::hypot(m[0], m[3]);
    grid.dSpacingY = std::hypot(m[1], m[4]);
    grid.dRotationDegrees = std::atan2(m[3], m[0]) * 180 / kPi;
    grid.dShearDegrees = std::atan2(-m[1], m[4]) * 180 / kPi - grid.dRotationDegrees;
    return true;
}

// The line whose crossings lie furthest, on average in one direction, from the grid
// through all the other lines' crossings: its distance, and its column or its row (the
// other -1).
double FindWorstLine(const SFoundGrid& grid, const SGridFit& fit, int& nWorstColumn, int& nWorstRow)
{
    double dWorstLine = 0;
    nWorstColumn = -1, nWorstRow = -1;
    for (int nLine = 0; nLine < grid.nColumns + grid.nRows; ++nLine) {
        const bool bColumn = nLine < grid.nColumns;
        const int nIndex = bColumn ? nLine : nLine - grid.nColumns;
        if ((bColumn ? fit.aColumnCount : fit.aRowCount)[std::size_t(nIndex)] < 2)
            continue;
        cv::Mat B(0, 3, CV_64F), ox(0, 1, CV_64F), oy(0, 1, CV_64F);
        for (int j = 0; j < grid.nRows; ++j)
            for (int i = 0; i < grid.nColumns; ++i)
                if (grid.Found(i, j) && (bColumn ? i : j) != nIndex) {
                    B.push_back(cv::Mat(cv::Matx13d(i, j, 1)));
                    ox.push_back(grid.X(i, j));
                    oy.push_back(grid.Y(i, j));
                }
        if (B.rows < 4)
            continue;
        cv::Mat lx, ly;
        cv::solve(B, ox, lx, cv::DECOMP_SVD);
        cv::solve(B, oy, ly, cv::DECOMP_SVD);
        double ex = 0, ey = 0;
        int n = 0;
        for (int k = 0; k < (bColumn ? grid.nRows : grid.nColumns); ++k) {
            const int i = bColumn ? nIndex : k, j = bColumn ? k : nIndex;
            if (!grid.Found(i, j))
                continue;
            ex += grid.X(i, j) - (lx.at<double>(0) * i + lx.at<double>(1) * j + lx.at<double>(2));
            ey += grid.Y(i, j) - (ly.at<double>(0) * i + ly.at<double>(1) * j + ly.at<double>(2));
            ++n;
        }
        const double d = std::hypot(ex, ey) / n;
        if (d > dWorstLine)
            dWorstLine = d, nWorstColumn = bColumn ? nIndex : -1, nWorstRow = bColumn ? -1 : nIndex;
    }
    return dWorstLine;
}

// Drops the crossings further from the grid's model than five times the median residual
// (at least 2.5 pixels); true when any was dropped.
bool DropFarCrossings(SFoundGrid& grid, const std::vector<double>& aResiduals)
{
    const double* m = grid.aModel;
    std::vector<double> aSorted = aResiduals;
    std::nth_element(aSorted.begin(), aSorted.begin() + aSorted.size() / 2, aSorted.end());
    const double dLimit = std::max(2.5, 5 * aSorted[aSorted.size() / 2]);
    bool bDropped = false;
    for (int j = 0; j < grid.nRows; ++j)
        for (int i = 0; i < grid.nColumns; ++i)
            if (grid.Found(i, j) && std::hypot(grid.X(i, j) - (m[0] * i + m[1] * j + m[2]),
                                               grid.Y(i, j) - (m[3] * i + m[4] * j + m[5])) > dLimit) {
                grid.aFound[std::size_t(j) * grid.nColumns + i] = 0;
                bDropped = true;
            }
    return bDropped;
}

// One affine grid through the crossings found. A whole line off it (the frame, a line
// of the margin that fell near the spacing) is no grid line; a single crossing far off
// it was measured on something else. Both are dropped, the worst first.
void DropCrossingsOffGrid(SFoundGrid& grid)
{
    for (int nPass = 0; nPass < 12; ++nPass) {
        SGridFit fit;
        if (!FitAffineGrid(grid, fit))
            break;
        int nWorstColumn = -1, nWorstRow = -1;
        if (FindWorstLine(grid, fit, nWorstColumn, nWorstRow) > 1.5) {
            for (int j = 0; j < grid.nRows; ++j)
                for (int i = 0; i < grid.nColumns; ++i)
                    if (i == nWorstColumn || j == nWorstRow)
                        grid.aFound[std::size_t(j) * grid.nColumns + i] = 0;
            continue;
        }
        if (!DropFarCrossings(grid, fit.aResiduals))
            break;
    }
}

// Chooses the largest rectangle whose four corners were found; false when there is none.
bool ChooseRectangle(SFoundGrid& grid)
{
    long long nBestArea = 0;
    for (int j0 = 0; j0 < grid.nRows; ++j0)
        for (int j1 = j0 + 1; j1 < grid.nRows; ++j1)
            for (int i0 = 0; i0 < grid.nColumns; ++i0) {
                if (!grid.Found(i0, j0) || !grid.Found(i0, j1))
                    continue;
                for (int i1 = grid.nColumns - 1; i1 > i0; --i1) {
                    const long long nArea = (long long)(i1 - i0) * (j1 - j0);
                    if (nArea <= nBestArea)
                        break;
                    if (grid.Found(i1, j0) && grid.Found(i1, j1)) {
                        nBestArea = nArea;
                        grid.nLeft = i0, grid.nRight = i1, grid.nTop = j0, grid.nBottom = j1;
                        break;
                    }
                }
            }
    return nBestArea != 0;
}

// Locators 1 to 3 on the rectangle's top-left, top-right and bottom-right crossings.
void PlaceLocators(SFoundGrid& grid)
{
    const int aI[3] = {grid.nLeft, grid.nRight, grid.nRight}, aJ[3] = {grid.nTop, grid.nTop, grid.nBottom};
    for (int k = 0; k < 3; ++k) {
        SGridCrossing& locator = grid.aLocators[k];
        locator.dX = grid.X(aI[k], aJ[k]);
        locator.dY = grid.Y(aI[k], aJ[k]);
        locator.nX = int(std::floor(locator.dX + 0.5));
        locator.nY = int(std::floor(locator.dY + 0.5));
    }
}

}  // namespace
}  // namespace grid

using namespace grid;

SFoundGrid FindGrid(const CDIBImage& picture, const SFindGridOptions& options)
{
    SFoundGrid grid;
    const CGreyReader reader(picture);
    if (!reader.Usable()) {
        grid.strWhy = picture.HasImage() ? "only 8, 24 and 32-bit pictures are searched for a grid" : "no picture";
        return grid;
    }
    if (reader.Width() < 64 || reader.Height() < 64) {
        grid.strWhy = "the picture is too small to hold a map grid";
        return grid;
    }
    const int nFactor = std::max(1, int(std::ceil(std::max(reader.Width(), reader.Height()) / 1400.0)));
    const cv::Mat reduced = ReduceDarkest(reader, nFactor);
    const std::vector<SDarkPoint> aPoints = ThinDarkPoints(reduced, 5);
    SFamily vertical, horizontal;
    FindFamilies(aPoints, reduced, vertical, horizontal);
    if (!horizontal.bFound || !vertical.bFound) {
        grid.strWhy = "no grid found: no two families of equally spaced straight lines";
        return grid;
    }
    MeasureCrossings(reader, vertical, horizontal, nFactor, grid);
    DropCrossingsOffGrid(grid);
    if (!ChooseRectangle(grid)) {
        grid.strWhy = "no grid found: no four crossings of a grid rectangle could be measured";
        return grid;
    }
    PlaceLocators(grid);
    grid.bFound = true;
    if (options.bReadLabels)
        ReadFrameLabels(reader, grid);
    return grid;
}

std::optional<SGridCrossing> SnapToGridCrossing(const CDIBImage& picture, int nX, int nY, int nRadius)
{
    const std::optional<SCrossingLines> lines = FitCrossingLines(picture, nX, nY, nRadius);
    return lines ? std::optional<SGridCrossing>(lines->crossing) : std::nullopt;
}

std::optional<SCrossingLines> FitCrossingLines(const CDIBImage& picture, int nX, int nY, int nRadius)
{
    const CGreyReader reader(picture);
    if (!reader.Usable() || nRadius < 0 || nX < 0 || nY < 0 || nX >= reader.Width() || nY >= reader.Height())
        return std::nullopt;
    nRadius = std::min(nRadius, 256);  // a snap reaches a few cells at most
    // The lines through the neighbourhood, found on the full picture near the point.
    const int nHalf = std::max(nRadius + 48, 80);
    const cv::Mat crop = reader.Crop(nX - nHalf, nY - nHalf, 2 * nHalf + 1, 2 * nHalf + 1);
    const std::vector<SDarkPoint> aPoints = ThinDarkPoints(crop, 11);
    if (aPoints.empty())
        return std::nullopt;
    // For each family the strongest line passing within the radius of the point.
    auto BestLine = [&](bool bVertical, double& dAngle, double& dRho) {
        const double dSlack = std::sin(kMaxAngle * kPi / 180) * crop.rows + 2;
        std::vector<float> aProfile(std::size_t(crop.rows + 2 * dSlack + 2));
        double dBest = 0;
        for (double a = -kMaxAngle; a <= kMaxAngle + 1e-9; a += 0.5) {
            Project(aPoints, bVertical, a, -dSlack, aProfile);
            const double c = std::cos(a * kPi / 180), s = std::sin(a * kPi / 180);
            const double dCentreRho = bVertical ? nHalf * c + nHalf * s : nHalf * c - nHalf * s;
            const int b0 = std::max(1, int(dCentreRho + dSlack - nRadius - 1));
            const int b1 = std::min(int(aProfile.size()) - 2, int(dCentreRho + dSlack + nRadius + 1));
            for (int b = b0; b <= b1; ++b) {
                const double dSum = aProfile[b - 1] + aProfile[b] + aProfile[b + 1];
                if (dSum > dBest)
                    dBest = dSum, dAngle = a, dRho = b - dSlack;
            }
        }
        return dBest > 0;
    };
    double aV = 0, rV = 0, aH = 0, rH = 0;
    if (!BestLine(true, aV, rV) || !BestLine(false, aH, rH))
        return std::nullopt;
    SLine v, h;
    v.nx = std::cos(aV * kPi / 180), v.ny = std::sin(aV * kPi / 180), v.d = rV;
    h.nx = -std::sin(aH * kPi / 180), h.ny = std::cos(aH * kPi / 180), h.d = rH;
    double x = 0, y = 0;
    if (!Intersect(v, h, x, y))
        return std::nullopt;
    x += nX - nHalf, y += nY - nHalf;
    double rx = 0, ry = 0;
    double aSlopes[2] = {0, 0};
    const int nMinDepth = MinimumDepth(EstimateNoise(reader));
    if (!RefineCrossing(reader, x, y, -std::tan(aV * kPi / 180), std::tan(aH * kPi / 180), nHalf - 4, 6, nMinDepth, rx,
                        ry, nullptr, &aSlopes))
        return std::nullopt;
    if (std::hypot(rx - nX, ry - nY) > nRadius + 0.5)
        return std::nullopt;
    SGridCrossing crossing;
    crossing.dX = rx, crossing.dY = ry;
    crossing.nX = int(std::floor(rx + 0.5));
    crossing.nY = int(std::floor(ry + 0.5));
    if (crossing.nX < 0 || crossing.nY < 0 || crossing.nX >= reader.Width() || crossing.nY >= reader.Height())
        return std::nullopt;
    SCrossingLines lines;
    lines.crossing = crossing;
    lines.dSlopeVertical = aSlopes[0];
    lines.dSlopeHorizontal = aSlopes[1];
    return lines;
}

SGridCheck CheckLocatorsAgainstGrid(const SFoundGrid& grid, const CLocatorSet& locators)
{
    SGridCheck check;
    if (!grid.bFound || grid.dSpacingX <= 0 || grid.dSpacingY <= 0)
        return check;
    const double x1 = locators.LocatorX(0), y1 = locators.LocatorY(0);
    const double x2 = locators.LocatorX(1), y2 = locators.LocatorY(1);
    const double x3 = locators.LocatorX(2), y3 = locators.LocatorY(2);
    const int nColumns = int(std::lround(std::hypot(x2 - x1, y2 - y1) / grid.dSpacingX));
    const int nRows = int(std::lround(std::hypot(x3 - x2, y3 - y2) / grid.dSpacingY));
    if (nColumns < 1 || nRows < 1)
        return check;
    // The found crossing nearest each locator, by grid index.
    auto Nearest = [&](double x, double y, int& ni, int& nj) {
        double dBest = 1e300;
        for (int j = 0; j < grid.nRows; ++j)
            for (int i = 0; i < grid.nColumns; ++i)
                if (grid.Found(i, j)) {
                    const double d = std::hypot(grid.X(i, j) - x, grid.Y(i, j) - y);
                    if (d < dBest)
                        dBest = d, ni = i, nj = j;
                }
        return dBest;
    };
    // The predicted crossings of the rectangle against the nearest found ones.
    double dWorst = 0;
    for (int v = 0; v <= nRows; ++v)
        for (int u = 0; u <= nColumns; ++u) {
            const double px = x1 + (x2 - x1) * u / nColumns + (x3 - x2) * v / nRows;
            const double py = y1 + (y2 - y1) * u / nColumns + (y3 - y2) * v / nRows;
            int ni = 0, nj = 0;
            const double d = Nearest(px, py, ni, nj);
            if (d < 0.5 * std::min(grid.dSpacingX, grid.dSpacingY))
                dWorst = std::max(dWorst, d);
            else
                dWorst = std::max(dWorst, 0.5 * std::min(grid.dSpacingX, grid.dSpacingY));
        }
    check.bChecked = true;
    check.dMismatchPixels = dWorst;
    // Metres per pixel along the top edge from the locators' map positions.
    const double dTop = std::hypot(x2 - x1, y2 - y1);
    const double dMetres = std::hypot(locators.Easting(1) - locators.Easting(0),
                                      locators.Northing(1) - locators.Northing(0));
    check.dMismatchMetres = dTop > 0 ? dWorst * dMetres / dTop : 0.0;
    int i1 = 0, j1 = 0, i2 = 0, j2 = 0, i3 = 0, j3 = 0;
    Nearest(x1, y1, i1, j1);
    Nearest(x2, y2, i2, j2);
    Nearest(x3, y3, i3, j3);
    check.nLocator = (j1 != j2 && i2 != i3) ? 2 : (j1 != j2) ? 2 : (i2 != i3) ? 3 : 2;
    check.strMessage = "Locator " + std::to_string(check.nLocator) + " is probably on the wrong grid line";
    return check;
}

}  // namespace gridmorph
