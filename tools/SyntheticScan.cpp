// Generated map scans with a known grid, for the grid finder's tests and benchmarks.
#include "SyntheticScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace gridmorph::synthetic {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string FormatWhole(double dValue)
{
    return std::to_string(static_cast<long long>(std::llround(dValue)));
}

// The Hershey font's scale for digits nHeight pixels tall, and the stroke width.
double FontScale(double dHeight) { return dHeight / 22.0; }
int FontThickness(double dHeight) { return std::max(1, int(std::lround(dHeight / 9.0))); }

// Draws text, its digits all one size or the leading ones at 60% (bSplit), with its box's
// anchor at (dX, dY): nAlignX -1 left, 0 centre, 1 right; nAlignY -1 top, 0 middle,
// 1 bottom (baseline).
void DrawLabel(cv::Mat& paper, const std::string& strText, double dHeight, bool bSplit, double dX, double dY,
               int nAlignX, int nAlignY, const cv::Scalar& colour)
{
    const std::size_t nSmall = bSplit && strText.size() > 3 ? strText.size() - 3 : 0;
    const std::string strSmall = strText.substr(0, nSmall), strLarge = strText.substr(nSmall);
    const double dSmallHeight = dHeight * 0.6;
    int nBase = 0;
    const cv::Size smallSize = strSmall.empty() ? cv::Size(0, 0)
                                                : cv::getTextSize(strSmall, cv::FONT_HERSHEY_SIMPLEX, FontScale(dSmallHeight),
                                                                  FontThickness(dSmallHeight), &nBase);
    const cv::Size largeSize =
        cv::getTextSize(strLarge, cv::FONT_HERSHEY_SIMPLEX, FontScale(dHeight), FontThickness(dHeight), &nBase);
    const int nGap = strSmall.empty() ? 0 : int(dHeight * 0.15);
    const double dWidth = smallSize.width + nGap + largeSize.width;
    const double dLeft = nAlignX < 0 ? dX : nAlignX == 0 ? dX - dWidth / 2 : dX - dWidth;
    const double dBaseline = nAlignY > 0 ? dY : nAlignY == 0 ? dY + largeSize.height / 2.0 : dY + largeSize.height;
    if (!strSmall.empty())
        cv::putText(paper, strSmall, cv::Point(int(std::lround(dLeft)), int(std::lround(dBaseline))),
                    cv::FONT_HERSHEY_SIMPLEX, FontScale(dSmallHeight), colour, FontThickness(dSmallHeight), cv::LINE_AA);
    cv::putText(paper, strLarge, cv::Point(int(std::lround(dLeft + smallSize.width + nGap)), int(std::lround(dBaseline))),
                cv::FONT_HERSHEY_SIMPLEX, FontScale(dHeight), colour, FontThickness(dHeight), cv::LINE_AA);
}

// Darkens a band of the paper by the exact share of each pixel the line covers: pixel
// c covers [c - 0.5, c + 0.5], the line [dCentre - w/2, dCentre + w/2].
void DarkenBand(cv::Mat& paper, bool bVertical, double dCentre, double dWidth, double dDarkness, int nFrom, int nTo)
{
    const int nFirst = int(std::floor(dCentre - dWidth / 2 - 1)), nLast = int(std::ceil(dCentre + dWidth / 2 + 1));
    for (int c = nFirst; c <= nLast; ++c) {
        const double dCover =
            std::max(0.0, std::min(c + 0.5, dCentre + dWidth / 2) - std::max(c - 0.5, dCentre - dWidth / 2));
        if (dCover <= 0)
            continue;
        const double dKeep = 1.0 - dDarkness * dCover;
        for (int t = nFrom; t <= nTo; ++t) {
            const int x = bVertical ? c : t, y = bVertical ? t : c;
            if (x < 0 || y < 0 || x >= paper.cols || y >= paper.rows)
                continue;
            cv::Vec3b& pixel = paper.at<cv::Vec3b>(y, x);
            for (int k = 0; k < 3; ++k)
                pixel[k] = cv::saturate_cast<std::uint8_t>(pixel[k] * dKeep);
        }
    }
}

// Draws one grid line, with gaps when the lines are broken.
void DrawGridLine(cv::Mat& paper, const SScanRecipe& recipe, bool bVertical, double dCentre, int nFrom, int nTo,
                  std::mt19937& random)
{
    if (!recipe.bBrokenLines) {
        DarkenBand(paper, bVertical, dCentre, recipe.dLineWidth, recipe.dLineDarkness, nFrom, nTo);
        return;
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int nAt = nFrom;
    while (nAt <= nTo) {
        const int nRun = int(recipe.dSpacing * (0.3 + 0.9 * unit(random)));
        DarkenBand(paper, bVertical, dCentre, recipe.dLineWidth, recipe.dLineDarkness, nAt, std::min(nTo, nAt + nRun));
        nAt += nRun + int(recipe.dSpacing * (0.05 + 0.25 * unit(random)));
    }
}

void DrawMapContent(cv::Mat& paper, const cv::Rect& frame, double dTextHeight, std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto X = [&] { return frame.x + unit(random) * frame.width; };
    auto Y = [&] { return frame.y + unit(random) * frame.height; };
    const double dArea = double(frame.width) * frame.height;
    const double dScale = std::sqrt(dArea) / 1000.0;
    // Woods: hatching in patches.
    const int nWoods = 2 + int(dArea / 600000.0);
    for (int n = 0; n < nWoods; ++n) {
        const double cx = X(), cy = Y(), r = (40 + 120 * unit(random)) * dScale;
        const double dAngle = (unit(random) < 0.5 ? 45.0 : 30.0 + 120 * unit(random)) * kPi / 180;
        const double dx = std::cos(dAngle), dy = std::sin(dAngle);
        for (double d = -r; d <= r; d += 7) {
            const double h = std::sqrt(std::max(0.0, r * r - d * d));
            cv::line(paper, cv::Point2d(cx - dy * d - dx * h, cy + dx * d - dy * h),
                     cv::Point2d(cx - dy * d + dx * h, cy + dx * d + dy * h), cv::Scalar(60, 140, 60), 1, cv::LINE_AA);
        }
    }
    // Contours and rivers: smooth curves.
    const int nCurves = 4 + int(dArea / 400000.0);
    for (int n = 0; n < nCurves; ++n) {
        const bool bRiver = n % 3 == 0;
        std::vector<cv::Point> aPoints;
        const double x0 = X(), y0 = Y(), a = unit(random) * 2 * kPi, amp = (20 + 60 * unit(random)) * dScale;
        const double len = (300 + 900 * unit(random)) * dScale;
        for (double t = 0; t <= len; t += 4) {
            const double w = amp * std::sin(t / (60 * dScale + 1));
            aPoints.emplace_back(int(x0 + std::cos(a) * t - std::sin(a) * w), int(y0 + std::sin(a) * t + std::cos(a) * w));
        }
        cv::polylines(paper, aPoints, false, bRiver ? cv::Scalar(210, 130, 40) : cv::Scalar(40, 90, 150),
                      bRiver ? 3 + int(3 * unit(random)) : 1, cv::LINE_AA);
    }
    // Roads: cased lines, some nearly parallel to the grid.
    const int nRoads = 3 + int(dArea / 500000.0);
    for (int n = 0; n < nRoads; ++n) {
        std::vector<cv::Point> aPoints;
        double x = X(), y = Y();
        double a = n % 2 == 0 ? (unit(random) - 0.5) * 0.3 + (n % 4 == 0 ? 0 : kPi / 2) : unit(random) * 2 * kPi;
        for (int k = 0; k < 30; ++k) {
            aPoints.emplace_back(int(x), int(y));
            x += std::cos(a) * 40 * dScale;
            y += std::sin(a) * 40 * dScale;
            a += (unit(random) - 0.5) * 0.25;
        }
        const int nWidth = 5 + int(5 * unit(random));
        cv::polylines(paper, aPoints, false, cv::Scalar(70, 70, 70), nWidth + 3, cv::LINE_AA);
        cv::polylines(paper, aPoints, false, cv::Scalar(150, 220, 250), nWidth, cv::LINE_AA);
    }
    // Buildings.
    const int nBuildings = 20 + int(dArea / 50000.0);
    for (int n = 0; n < nBuildings; ++n) {
        const double cx = X(), cy = Y(), w = (6 + 14 * unit(random)) * dScale, h = (6 + 14 * unit(random)) * dScale;
        cv::rectangle(paper, cv::Point2d(cx, cy), cv::Point2d(cx + w, cy + h), cv::Scalar(50, 50, 90), cv::FILLED);
    }
    // Names and spot heights.
    static const char* const aWords[] = {"MILL", "FARM", "WOOD", "HILL", "BRIDGE", "CHURCH", "SCHOOL", "QUARRY"};
    const int nTexts = 6 + int(dArea / 150000.0);
    for (int n = 0; n < nTexts; ++n) {
        const std::string strText =
            n % 2 == 0 ? aWords[random() % 8] : std::to_string(100 + random() % 800);
        const double dHeight = dTextHeight * (0.5 + unit(random));
        cv::putText(paper, strText, cv::Point(int(X()), int(Y())), cv::FONT_HERSHEY_SIMPLEX, FontScale(dHeight),
                    cv::Scalar(20, 20, 20), FontThickness(dHeight), cv::LINE_AA);
    }
}

bool ToPicture(const cv::Mat& scan, int nBitCount, CDIBImage& picture, std::string& strWhy)
{
    if (nBitCount == 0) {  // 8-bit grey: a colour table of the 256 greys
        SRGBQuad aGreys[256];
        for (int i = 0; i < 256; ++i)
            aGreys[i].rgbBlue = aGreys[i].rgbGreen = aGreys[i].rgbRed = std::uint8_t(i);
        if (!picture.CreateImage(8, scan.cols, scan.rows, FILL_NONE, 255, 255, 255, aGreys)) {
            strWhy = "the grey picture cannot be created";
            return false;
        }
        cv::Mat grey;
        cv::cvtColor(scan, grey, cv::COLOR_BGR2GRAY);
        for (int y = 0; y < grey.rows; ++y)
            std::memcpy(picture.StorageRow(grey.rows - 1 - y), grey.ptr(y), std::size_t(grey.cols));
        return true;
    }
    CDIBImage colour;
    CDIBImage& target = nBitCount == 24 ? picture : colour;
    if (!target.CreateImage(24, scan.cols, scan.rows, FILL_NONE, 255, 255, 255, nullptr)) {
        strWhy = "the picture cannot be created";
        return false;
    }
    for (int y = 0; y < scan.rows; ++y)
        std::memcpy(target.StorageRow(scan.rows - 1 - y), scan.ptr(y), std::size_t(scan.cols) * 3);
    if (nBitCount == 24)
        return true;
    if (!picture.CreateImage(8, &colour, true, false, true, true, false)) {
        strWhy = "the 8-bit picture cannot be created";
        return false;
    }
    return true;
}

// Blur, noise and JPEG, as a scanner and its file do.
void Degrade(cv::Mat& scan, double dBlur, double dNoise, int nJpegQuality, std::uint32_t nSeed)
{
    if (dBlur > 0)
        cv::GaussianBlur(scan, scan, cv::Size(0, 0), dBlur);
    if (dNoise > 0) {
        cv::RNG rng(nSeed * 7919u + 17);
        const int nBand = 256;
        cv::Mat noise;
        for (int y = 0; y < scan.rows; y += nBand) {
            const cv::Range rows(y, std::min(scan.rows, y + nBand));
            cv::Mat band = scan.rowRange(rows);
            noise.create(band.rows, band.cols, CV_16SC3);
            rng.fill(noise, cv::RNG::NORMAL, 0, dNoise);
            cv::Mat sum;
            cv::add(band, noise, sum, cv::noArray(), CV_16SC3);
            sum.convertTo(band, CV_8UC3);
        }
    }
    if (nJpegQuality > 0) {
        std::vector<std::uint8_t> aBytes;
        cv::imencode(".jpg", scan, aBytes, {cv::IMWRITE_JPEG_QUALITY, nJpegQuality});
        scan = cv::imdecode(aBytes, cv::IMREAD_COLOR);
    }
}

}  // namespace

bool MakeScan(const SScanRecipe& recipe, CDIBImage& picture, SScanTruth& truth, std::string& strWhy)
{
    const int W = recipe.nWidth, H = recipe.nHeight;
    if (W < 200 || H < 200 || recipe.dSpacing < 20) {
        strWhy = "the sheet is too small";
        return false;
    }
    std::mt19937 random(recipe.nSeed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double dTextHeight = std::max(16.0, 0.013 * std::min(W, H));
    const int nSide = recipe.bLabels ? int(8.5 * dTextHeight) : int(0.04 * W) + 10;
    const int nTop = recipe.bLabels ? int(3.2 * dTextHeight) : int(0.04 * H) + 10;
    const cv::Rect frame(nSide, nTop, W - 2 * nSide, H - 2 * nTop);
    cv::Mat paper(H, W, CV_8UC3, cv::Scalar(250, 252, 252));

    // The grid on the paper: axis-aligned lines inside the frame.
    std::vector<double> aU, aV;
    const double dOffsetU = recipe.dSpacing * (0.25 + 0.5 * unit(random));
    const double dOffsetV = recipe.dSpacing * (0.25 + 0.5 * unit(random));
    for (double u = frame.x + dOffsetU; u < frame.x + frame.width - 0.2 * recipe.dSpacing; u += recipe.dSpacing)
        aU.push_back(u);
    for (double v = frame.y + dOffsetV; v < frame.y + frame.height - 0.2 * recipe.dSpacing; v += recipe.dSpacing)
        aV.push_back(v);

    if (recipe.bMapContent) {  // the map content, inside the frame only
        DrawMapContent(paper, frame, dTextHeight, random);
        cv::Mat inside = paper(frame).clone();
        paper.setTo(cv::Scalar(250, 252, 252));
        inside.copyTo(paper(frame));
    }
    if (!recipe.bGrid)
        aU.clear(), aV.clear();
    for (double u : aU)
        DrawGridLine(paper, recipe, true, u, frame.y, frame.y + frame.height, random);
    for (double v : aV)
        DrawGridLine(paper, recipe, false, v, frame.x, frame.x + frame.width, random);
    cv::rectangle(paper, frame, cv::Scalar(15, 15, 15), std::max(3, int(dTextHeight / 5)));
    if (recipe.bMapContent) {  // a few names printed over the grid lines
        for (std::size_t k = 0; k < aU.size(); k += 3) {
            const double v = aV.empty() ? frame.y + 50 : aV[(k * 7) % aV.size()] + recipe.dSpacing * 0.3;
            cv::putText(paper, "GREEN LANE", cv::Point(int(aU[k] - 2 * dTextHeight), int(v)), cv::FONT_HERSHEY_SIMPLEX,
                        FontScale(dTextHeight * 0.8), cv::Scalar(20, 20, 20), FontThickness(dTextHeight * 0.8),
                        cv::LINE_AA);
        }
    }
    truth = SScanTruth{};
    truth.bLabels = recipe.bLabels;
    for (std::size_t i = 0; i < aU.size(); ++i)
        truth.aEastings.push_back(recipe.dFirstEasting + double(i) * recipe.dGridMetres);
    for (std::size_t j = 0; j < aV.size(); ++j)
        truth.aNorthings.push_back(recipe.dFirstNorthing - double(j) * recipe.dGridMetres);
    if (recipe.bLabels) {
        const cv::Scalar ink(10, 10, 10);
        const double dGap = dTextHeight * 0.7;
        for (std::size_t i = 0; i < aU.size(); ++i) {
            const std::string strText = FormatWhole(truth.aEastings[i]);
            DrawLabel(paper, strText, dTextHeight, recipe.bSplitLabels, aU[i], frame.y - dGap, 0, 1, ink);
            DrawLabel(paper, strText, dTextHeight, recipe.bSplitLabels, aU[i], frame.y + frame.height + dGap, 0, -1, ink);
        }
        for (std::size_t j = 0; j < aV.size(); ++j) {
            const std::string strText = FormatWhole(truth.aNorthings[j]);
            DrawLabel(paper, strText, dTextHeight, recipe.bSplitLabels, frame.x - dGap, aV[j], 1, 0, ink);
            DrawLabel(paper, strText, dTextHeight, recipe.bSplitLabels, frame.x + frame.width + dGap, aV[j], -1, 0, ink);
        }
    }

    // Paper to scan: stretch, shear, turn about the centre, then shrink to fit.
    const double a = recipe.dRotationDegrees * kPi / 180;
    const double c = std::cos(a), s = std::sin(a);
    // R * Sh * St
    double m00 = c * recipe.dStretchX, m01 = (c * recipe.dShear - s) * recipe.dStretchY;
    double m10 = s * recipe.dStretchX, m11 = (s * recipe.dShear + c) * recipe.dStretchY;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double dMinX = 1e18, dMaxX = -1e18, dMinY = 1e18, dMaxY = -1e18;
    for (const auto& corner : {cv::Point2d(0, 0), cv::Point2d(W, 0), cv::Point2d(0, H), cv::Point2d(W, H)}) {
        const double x = m00 * (corner.x - cx) + m01 * (corner.y - cy), y = m10 * (corner.x - cx) + m11 * (corner.y - cy);
        dMinX = std::min(dMinX, x), dMaxX = std::max(dMaxX, x), dMinY = std::min(dMinY, y), dMaxY = std::max(dMaxY, y);
    }
    const double dFit = std::min({1.0, W / (dMaxX - dMinX), H / (dMaxY - dMinY)});
    m00 *= dFit, m01 *= dFit, m10 *= dFit, m11 *= dFit;
    const cv::Matx23d forward(m00, m01, cx - m00 * cx - m01 * cy, m10, m11, cy - m10 * cx - m11 * cy);
    cv::Mat scan;
    cv::warpAffine(paper, scan, forward, cv::Size(W, H), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar(235, 235, 235));
    paper.release();

    truth.nColumns = int(aU.size());
    truth.nRows = int(aV.size());
    for (double v : aV)
        for (double u : aU) {
            truth.aCrossX.push_back(forward(0, 0) * u + forward(0, 1) * v + forward(0, 2));
            truth.aCrossY.push_back(forward(1, 0) * u + forward(1, 1) * v + forward(1, 2));
        }

    if (recipe.dLighting > 0) {  // darker towards one corner, smoothly
        for (int y = 0; y < H; ++y) {
            std::uint8_t* p = scan.ptr(y);
            for (int x = 0; x < W; ++x) {
                const double dFactor = 1.0 - recipe.dLighting * (0.5 * double(x) / W + 0.5 * double(y) / H) *
                                                 (0.8 + 0.2 * std::sin(x * 0.003 + y * 0.002));
                for (int k = 0; k < 3; ++k)
                    p[3 * x + k] = cv::saturate_cast<std::uint8_t>(p[3 * x + k] * dFactor);
            }
        }
    }
    Degrade(scan, recipe.dBlurSigma, recipe.dNoise, recipe.nJpegQuality, recipe.nSeed);
    return ToPicture(scan, recipe.nBitCount, picture, strWhy);
}

bool MakeLabelStrip(const std::string& strText, int nTextHeight, bool bSplit, double dRotationDegrees, double dNoise,
                    CDIBImage& picture)
{
    const int W = int(strText.size() * nTextHeight * 1.1) + 4 * nTextHeight, H = 4 * nTextHeight;
    cv::Mat paper(H, W, CV_8UC3, cv::Scalar(250, 250, 250));
    DrawLabel(paper, strText, nTextHeight, bSplit, W / 2.0, H / 2.0, 0, 0, cv::Scalar(10, 10, 10));
    const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(W / 2.0f, H / 2.0f), -dRotationDegrees, 1.0);
    cv::warpAffine(paper, paper, turn, paper.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(250, 250, 250));
    Degrade(paper, 0.5, dNoise, 0, 5);
    std::string strWhy;
    return ToPicture(paper, 0, picture, strWhy);
}

}  // namespace gridmorph::synthetic
