// The coordinate labels printed outside the map frame: found beside each grid line's end,
// read with Tesseract (digits only, one line of text) and made consistent.
#include "grid/GridLabels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>

#include "grid/GridInternal.h"

namespace gridmorph {
namespace grid {
namespace {

constexpr int kMinimumConfidence = 75;

cv::Mat Ink(const cv::Mat& grey, bool bGreyAreas = false);

// One Tesseract engine for digits on one line of text.
class CDigitReader {
public:
    CDigitReader()
    {
        m_api = std::make_unique<tesseract::TessBaseAPI>();
        if (m_api->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            m_api.reset();
            return;
        }
        m_api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
        m_api->SetVariable("tessedit_char_whitelist", "0123456789");
        m_api->SetVariable("debug_file", "/dev/null");
    }
    ~CDigitReader()
    {
        if (m_api)
            m_api->End();
    }
    bool Ready() const { return m_api != nullptr; }

    // The digits on an upright grey picture of one label, read at two sizes which must
    // agree (a digit misread at one size is seldom misread the same way at the other).
    // When they do not, two more sizes are read: a value read at two sizes is taken only
    // when no size read anything else.
    std::string Read(const cv::Mat& upright, int* pConfidence)
    {
        if (pConfidence)
            *pConfidence = 0;
        // Each size is the height of the print itself: the picture is trimmed to its ink
        // with a narrow white margin, so a loosely cut label reads at the same size.
        cv::Rect box = cv::boundingRect(Ink(upright));
        if (box.area() == 0)
            return {};
        const int nMargin = std::max(1, box.height / 6);
        box = cv::Rect(cv::Point(std::max(0, box.x - nMargin), std::max(0, box.y - nMargin)),
                       cv::Point(std::min(upright.cols, box.br().x + nMargin), std::min(upright.rows, box.br().y + nMargin)));
        const cv::Mat trimmed = upright(box);
        static const double aHeights[] = {36.0, 26.0, 48.0, 31.0};
        std::string aRead[4];
        int nLowest = 100;
        for (int k = 0; k < 4; ++k) {
            int nConfidence = 0;
            aRead[k] = ReadAt(trimmed, aHeights[k], &nConfidence);
            if (!aRead[k].empty())
                nLowest = std::min(nLowest, nConfidence);
            if (k == 1 && !aRead[0].empty() && aRead[0] == aRead[1])
                break;
        }
        std::string strValue;
        int nVotes = 0;
        for (const std::string& strRead : aRead) {
            if (strRead.empty())
                continue;
            if (!strValue.empty() && strRead != strValue)
                return {};  // two sizes read two different values
            strValue = strRead;
            ++nVotes;
        }
        if (nVotes < 2)
            return {};
        if (pConfidence)
            *pConfidence = nLowest;
        return strValue;
    }

    std::string ReadAt(const cv::Mat& upright, double dHeight, int* pConfidence)
    {
        if (pConfidence)
            *pConfidence = 0;
        if (!m_api || upright.empty())
            return {};
        // Tesseract reads best with text some 30 to 40 pixels tall and a white border.
        const double dScale = std::clamp(dHeight / std::max(1, upright.rows), 0.3, 4.0);
        cv::Mat scaled;
        cv::resize(upright, scaled, cv::Size(), dScale, dScale, dScale > 1 ? cv::INTER_CUBIC : cv::INTER_AREA);
        cv::Mat bordered;
        cv::copyMakeBorder(scaled, bordered, 12, 12, 12, 12, cv::BORDER_CONSTANT, cv::Scalar(255));
        m_api->SetImage(bordered.data, bordered.cols, bordered.rows, 1, int(bordered.step));
        std::unique_ptr<char[]> pText(m_api->GetUTF8Text());
        const int nConfidence = m_api->MeanTextConf();
        if (pConfidence)
            *pConfidence = nConfidence;
        std::string strDigits;
        for (const char* p = pText.get(); p && *p; ++p)
            if (*p >= '0' && *p <= '9')
                strDigits += *p;
            else if (*p != ' ' && *p != '\n')
                return {};
        if (nConfidence < kMinimumConfidence)
            return {};
        return strDigits;
    }

    // A label whose leading digits are printed smaller than the last ones is read in two
    // parts, each at its own size.
    std::string ReadLabel(const cv::Mat& text, int* pConfidence);

private:
    std::unique_ptr<tesseract::TessBaseAPI> m_api;
};


std::string CDigitReader::ReadLabel(const cv::Mat& text, int* pConfidence)
{
    if (text.empty())
        return {};
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(Ink(text), labels, stats, centroids, 8, CV_32S);
    int nTallest = 0;
    for (int k = 1; k < n; ++k)
        if (stats.at<int>(k, cv::CC_STAT_AREA) >= 4)
            nTallest = std::max(nTallest, stats.at<int>(k, cv::CC_STAT_HEIGHT));
    int nSmallRight = -1, nLargeLeft = text.cols, nSmall = 0;
    for (int k = 1; k < n; ++k) {
        if (stats.at<int>(k, cv::CC_STAT_AREA) < 4)
            continue;
        const int l = stats.at<int>(k, cv::CC_STAT_LEFT), r = l + stats.at<int>(k, cv::CC_STAT_WIDTH);
        if (stats.at<int>(k, cv::CC_STAT_HEIGHT) < 0.78 * nTallest)
            nSmallRight = std::max(nSmallRight, r), ++nSmall;
        else
            nLargeLeft = std::min(nLargeLeft, l);
    }
    if (nSmall == 0 || nSmallRight > nLargeLeft + 1 || nLargeLeft >= text.cols)
        return Read(text, pConfidence);
    const int nSplit = (nSmallRight + nLargeLeft) / 2;
    // The small part: trimmed to its own rows.
    cv::Mat small = text.colRange(0, std::max(1, nSplit)), large = text.colRange(nSplit, text.cols);
    cv::Rect smallBox = cv::boundingRect(Ink(small));
    if (smallBox.area() == 0)
        return Read(text, pConfidence);
    const int nPad = std::max(2, smallBox.height / 4);
    const int x0 = std::max(0, smallBox.x - nPad), y0 = std::max(0, smallBox.y - nPad);
    smallBox = cv::Rect(x0, y0, std::min(small.cols, smallBox.x + smallBox.width + nPad) - x0,
                        std::min(small.rows, smallBox.y + smallBox.height + nPad) - y0);
    int nFirst = 0, nSecond = 0;
    const std::string strFirst = Read(small(smallBox), &nFirst);
    const std::string strSecond = Read(large, &nSecond);
    if (pConfidence)
        *pConfidence = std::min(nFirst, nSecond);
    if (strFirst.empty() || strSecond.empty())
        return {};
    return strFirst + strSecond;
}

// How many pixels of a grey picture have each grey level.
struct SGreyHistogram {
    explicit SGreyHistogram(const cv::Mat& grey) : nTotal((long long)grey.rows * grey.cols)
    {
        for (int y = 0; y < grey.rows; ++y)
            for (int x = 0; x < grey.cols; ++x)
                ++aCount[grey.at<std::uint8_t>(y, x)];
    }
    // The darkest level with at least nPerMille thousandths of the pixels at or below it.
    int Level(int nPerMille) const
    {
        long long nSeen = 0;
        for (int v = 0; v < 256; ++v) {
            nSeen += aCount[v];
            if (nSeen * 1000 >= nTotal * nPerMille)
                return v;
        }
        return 255;
    }
    long long aCount[256] = {};
    long long nTotal = 0;
};

// Dark print on light paper as a binary picture (ink 255). bGreyAreas: the picture is
// wide around its print and may hold grey areas, which are not ink.
cv::Mat Ink(const cv::Mat& grey, bool bGreyAreas)
{
    // Otsu's threshold between print and paper, but never within 40 grey levels of the
    // paper: a patch of bare paper has no ink.
    const SGreyHistogram histogram(grey);
    const int nPaper = histogram.Level(800);
    cv::Mat ink;
    const double dOtsu = cv::threshold(grey, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    const double dThreshold = std::min(dOtsu, nPaper - 40.0);
    cv::threshold(grey, ink, dThreshold, 255, cv::THRESH_BINARY_INV);
    // Print covers far less than a quarter of a label's picture: more is a grey area (the
    // scanner's lid beyond a turned sheet) that would swallow the print beside it. Then
    // only what is darker than half way from that grey to the darkest print is ink.
    if (bGreyAreas && cv::countNonZero(ink) * 4 > histogram.nTotal) {
        int nGrey = 0;
        for (int v = 1; v < dThreshold; ++v)
            if (histogram.aCount[v] > histogram.aCount[nGrey])
                nGrey = v;
        cv::threshold(grey, ink, (nGrey + histogram.Level(2)) / 2.0, 255, cv::THRESH_BINARY_INV);
    }
    return ink;
}

// The upright picture of the text nearest the anchor (a point in the upright picture),
// grouped into one line of text; empty when there is none or it is cut by the picture's
// edge. bFrameEdge: the anchor lies on the edge along the frame.
cv::Mat TextNear(const cv::Mat& upright, double dAnchorX, double dAnchorY, bool bSide, bool bFrameEdge)
{
    const cv::Mat ink = Ink(upright, true);
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    // What touches the frame's edge of the picture is left of the frame, not a label.
    auto OnFrameEdge = [&](int k) {
        const int l = stats.at<int>(k, cv::CC_STAT_LEFT), t = stats.at<int>(k, cv::CC_STAT_TOP);
        const int r = l + stats.at<int>(k, cv::CC_STAT_WIDTH), b = t + stats.at<int>(k, cv::CC_STAT_HEIGHT);
        if (!bFrameEdge)
            return false;
        return bSide ? (dAnchorX < 1 ? l == 0 : r >= upright.cols) : (dAnchorY < 1 ? t == 0 : b >= upright.rows);
    };
    int nSeed = -1;
    double dBest = 1e300;
    for (int k = 1; k < n; ++k) {
        const int w = stats.at<int>(k, cv::CC_STAT_WIDTH), h = stats.at<int>(k, cv::CC_STAT_HEIGHT);
        // A label may be nearly as wide as the patch (its digits run together when blurred);
        // what spans the whole patch is a line or the scan's edge.
        if (stats.at<int>(k, cv::CC_STAT_AREA) < 6 || h < 6 || w > upright.cols * 0.95 || h > upright.rows * 0.8)
            continue;
        if (OnFrameEdge(k))
            continue;
        const int l = stats.at<int>(k, cv::CC_STAT_LEFT), t = stats.at<int>(k, cv::CC_STAT_TOP);
        const double cx = l + w / 2.0, cy = t + h / 2.0;
        // Top and bottom labels are centred on their line; side labels begin at the frame.
        const double d = bSide ? std::hypot(2 * (cx - dAnchorX) / upright.cols, 3 * (cy - dAnchorY) / upright.rows)
                               : std::hypot(3 * (cx - dAnchorX) / upright.cols, (cy - dAnchorY) / upright.rows);
        if (d < dBest)
            dBest = d, nSeed = k;
    }
    if (nSeed < 0)
        return {};
    int x0 = stats.at<int>(nSeed, cv::CC_STAT_LEFT), y0 = stats.at<int>(nSeed, cv::CC_STAT_TOP);
    int x1 = x0 + stats.at<int>(nSeed, cv::CC_STAT_WIDTH), y1 = y0 + stats.at<int>(nSeed, cv::CC_STAT_HEIGHT);
    std::vector<char> aTaken(std::size_t(n), 0);
    aTaken[std::size_t(nSeed)] = 1;
    for (bool bGrew = true; bGrew;) {
        bGrew = false;
        const int nHeight = y1 - y0;
        for (int k = 1; k < n; ++k) {
            if (aTaken[std::size_t(k)] || stats.at<int>(k, cv::CC_STAT_AREA) < 4 || OnFrameEdge(k))
                continue;
            const int l = stats.at<int>(k, cv::CC_STAT_LEFT), t = stats.at<int>(k, cv::CC_STAT_TOP);
            const int r = l + stats.at<int>(k, cv::CC_STAT_WIDTH), b = t + stats.at<int>(k, cv::CC_STAT_HEIGHT);
            const bool bSameLine = std::min(b, y1) - std::max(t, y0) > 0.4 * std::min(b - t, nHeight) &&
                                   b - t < 2.0 * nHeight;
            const int nGap = std::max(l - x1, x0 - r);
            if (bSameLine && nGap <= 0.9 * nHeight) {
                aTaken[std::size_t(k)] = 1;
                x0 = std::min(x0, l), y0 = std::min(y0, t), x1 = std::max(x1, r), y1 = std::max(y1, b);
                bGrew = true;
            }
        }
    }
    // A label cut by the patch's edge would be read short: it is not read at all.
    if (x0 <= 0 || y0 <= 0 || x1 >= upright.cols || y1 >= upright.rows)
        return {};
    const int nPad = std::max(2, (y1 - y0) / 4);
    const cv::Rect box(std::max(0, x0 - nPad), std::max(0, y0 - nPad), 0, 0);
    const cv::Rect full(box.x, box.y, std::min(upright.cols, x1 + nPad) - box.x, std::min(upright.rows, y1 + nPad) - box.y);
    // Only the label's own strokes: anything else in the box is whitened.
    cv::Mat text = upright(full).clone();
    for (int y = 0; y < text.rows; ++y)
        for (int x = 0; x < text.cols; ++x) {
            const int k = labels.at<int>(y + full.y, x + full.x);
            if (k > 0 && !aTaken[std::size_t(k)])
                text.at<std::uint8_t>(y, x) = 255;
        }
    return text;
}

enum class ESide { Top, Bottom, Left, Right };

// The label of grid line nLine on one side of the frame, read; empty when unreadable.
std::string ReadSideLabel(const CGreyReader& reader, const SFoundGrid& grid, ESide eSide, int nLine,
                          CDigitReader& digits, int& nConfidence, bool& bTextSeen)
{
    const double* m = grid.aModel;
    const bool bSide = eSide == ESide::Left || eSide == ESide::Right;
    // The line's last crossing on this side, the unit outward along the line and the unit
    // across it (towards the picture's right or down).
    const double i = bSide ? (eSide == ESide::Left ? 0 : grid.nColumns - 1) : nLine;
    const double j = bSide ? nLine : (eSide == ESide::Top ? 0 : grid.nRows - 1);
    const double cx = m[0] * i + m[1] * j + m[2], cy = m[3] * i + m[4] * j + m[5];
    double ox = bSide ? m[0] : m[1], oy = bSide ? m[3] : m[4];
    const double dOut = std::hypot(ox, oy), dAcrossSpacing = bSide ? grid.dSpacingY : grid.dSpacingX;
    ox /= dOut, oy /= dOut;
    if (eSide == ESide::Top || eSide == ESide::Left)
        ox = -ox, oy = -oy;
    double ax = bSide ? m[1] : m[0], ay = bSide ? m[4] : m[3];
    const double dAcross = std::hypot(ax, ay);
    ax /= dAcross, ay /= dAcross;
    // The canonical patch: columns across the line, rows outward from the last crossing.
    const int nWidth = int(0.9 * dAcrossSpacing), nDepth = int(3.2 * dOut);
    const double dStart = 0.12 * dOut;
    if (nWidth < 20 || nDepth < 20)
        return {};
    double dMinX = 1e300, dMaxX = -1e300, dMinY = 1e300, dMaxY = -1e300;
    for (int a : {0, nWidth})
        for (int b : {0, nDepth}) {
            const double x = cx + (a - nWidth / 2.0) * ax + (dStart + b) * ox, y = cy + (a - nWidth / 2.0) * ay + (dStart + b) * oy;
            dMinX = std::min(dMinX, x), dMaxX = std::max(dMaxX, x), dMinY = std::min(dMinY, y), dMaxY = std::max(dMaxY, y);
        }
    const int nLeft = int(std::floor(dMinX)) - 1, nTop = int(std::floor(dMinY)) - 1;
    if (dMaxX < 0 || dMaxY < 0 || dMinX > reader.Width() || dMinY > reader.Height())
        return {};
    const cv::Mat crop = reader.Crop(nLeft, nTop, int(dMaxX - nLeft) + 3, int(dMaxY - nTop) + 3);
    // patch (a, b) -> crop position
    const cv::Matx23d toCrop(ax, ox, cx - nLeft - nWidth / 2.0 * ax + dStart * ox, ay, oy,
                             cy - nTop - nWidth / 2.0 * ay + dStart * oy);
    cv::Mat patch;
    cv::warpAffine(crop, patch, toCrop, cv::Size(nWidth, nDepth), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, cv::Scalar(255));
    // The frame: the first row outward inked dark across most of the patch. Only dark ink
    // counts, half way from the paper to the darkest print: the grey beyond a turned
    // scan's edge must not lengthen the frame over the labels.
    const SGreyHistogram histogram(patch);
    cv::Mat ink;
    cv::threshold(patch, ink, (histogram.Level(800) + histogram.Level(2)) / 2.0, 255, cv::THRESH_BINARY_INV);
    int nFrameEnd = -1;
    for (int r = 0; r < ink.rows; ++r) {
        const double dShare = cv::countNonZero(ink.row(r)) / double(ink.cols);
        if (nFrameEnd < 0 && dShare >= 0.7)
            nFrameEnd = r;
        else if (nFrameEnd >= 0 && dShare >= 0.3)
            nFrameEnd = r;
        else if (nFrameEnd >= 0)
            break;
    }
    if (nFrameEnd < 0 || nFrameEnd + 4 >= patch.rows)
        return {};
    cv::Mat beyond = patch.rowRange(nFrameEnd + 2, std::min(patch.rows, nFrameEnd + 2 + int(2.4 * dOut))).clone();
    // Upright: rows down the page, columns to the right.
    cv::Mat upright;
    double dAnchorX = 0, dAnchorY = 0;
    switch (eSide) {
    case ESide::Bottom:
        upright = beyond;
        dAnchorX = upright.cols / 2.0, dAnchorY = 0;
        break;
    case ESide::Top:
        cv::flip(beyond, upright, 0);
        dAnchorX = upright.cols / 2.0, dAnchorY = upright.rows;
        break;
    case ESide::Right:
        cv::transpose(beyond, upright);
        dAnchorX = 0, dAnchorY = upright.rows / 2.0;
        break;
    case ESide::Left:
        cv::transpose(beyond, upright);
        cv::flip(upright, upright, 1);
        dAnchorX = upright.cols, dAnchorY = upright.rows / 2.0;
        break;
    }
    const cv::Mat text = TextNear(upright, dAnchorX, dAnchorY, bSide, true);
    if (text.empty())
        return {};
    bTextSeen = true;
    return digits.ReadLabel(text, &nConfidence);
}

}  // namespace

std::string ReadDigits(const cv::Mat& grey, double dRotationDegrees, int* pConfidence)
{
    CDigitReader digits;
    cv::Mat upright = grey;
    if (std::fabs(dRotationDegrees) > 0.05) {
        const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(grey.cols / 2.0f, grey.rows / 2.0f), dRotationDegrees, 1.0);
        cv::warpAffine(grey, upright, turn, grey.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(255));
    }
    const cv::Mat text = TextNear(upright, upright.cols / 2.0, upright.rows / 2.0, false, false);
    return digits.ReadLabel(text, pConfidence);
}

void ReadFrameLabels(const CGreyReader& reader, SFoundGrid& grid)
{
    // Starting the text reader costs a large share of a second: one engine serves the
    // process, one search at a time.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    static CDigitReader digits;
    if (!digits.Ready()) {
        grid.strLabelNote = "the text reader could not start";
        return;
    }
    std::vector<SLabelValue> aEastings, aNorthings;
    std::set<int> aEastingText, aNorthingText;  // lines with a label beside them, read or not
    // One family's labels: one side, then the other when too few were read there. Four
    // unreadable labels in a row at the start end a side (on a sheet without labels both
    // sides end so).
    auto ReadFamily = [&](bool bEastings, std::vector<SLabelValue>& aValues) {
        const int nLines = bEastings ? grid.nColumns : grid.nRows;
        const ESide aSides[2] = {bEastings ? ESide::Top : ESide::Left, bEastings ? ESide::Bottom : ESide::Right};
        for (ESide eSide : aSides) {
            int nRead = 0;
            for (int n = 0; n < nLines; ++n) {
                int nConfidence = 0;
                bool bTextSeen = false;
                const std::string strDigits = ReadSideLabel(reader, grid, eSide, n, digits, nConfidence, bTextSeen);
                if (bTextSeen)
                    (bEastings ? aEastingText : aNorthingText).insert(n);
                if (strDigits.size() >= 3 && strDigits.size() <= 9)
                    aValues.push_back({n, double(std::stoll(strDigits))}), ++nRead;
                if (aValues.empty() && n >= 3)
                    break;
            }
            if (nRead >= std::max(3, nLines - 1))
                return;
        }
    };
    ReadFamily(true, aEastings);
    if (!aEastings.empty())
        ReadFamily(false, aNorthings);
    if (aEastings.empty() && aNorthings.empty()) {
        grid.strLabelNote = "no labels were read";
        return;
    }
    const SLabelFit eastings = FitGridLabels(aEastings, false);
    const SLabelFit northings = FitGridLabels(aNorthings, true);
    if (!eastings.bConsistent || !northings.bConsistent) {
        grid.strLabelNote = !eastings.bConsistent ? "eastings: " + eastings.strWhy : "northings: " + northings.strWhy;
        return;
    }
    // A map grid is square: the same distance between lines both ways, and about the same
    // scale across and down the scan.
    if (std::fabs(eastings.dStep + northings.dStep) > 1e-6) {
        grid.strLabelNote = "the eastings and northings give different grid spacings";
        return;
    }
    const double dAcross = eastings.dStep / grid.dSpacingX, dDown = -northings.dStep / grid.dSpacingY;
    if (std::fabs(dAcross - dDown) > 0.1 * std::max(dAcross, dDown)) {
        grid.strLabelNote = "the labels give different scales across and down the sheet";
        return;
    }
    // A corner beyond the outermost agreeing labels may sit on a line the labels do not
    // know (a road or the frame taken for a grid line): its value would be made up. A line
    // with a label beside it, though unread, is a grid line the spacing carries on to.
    auto Known = [](const SLabelFit& fit, const std::set<int>& aText, int nLine) {
        return fit.Covers(nLine) || aText.count(nLine) > 0;
    };
    if (!Known(eastings, aEastingText, grid.nLeft) || !Known(eastings, aEastingText, grid.nRight) ||
        !Known(northings, aNorthingText, grid.nTop) || !Known(northings, aNorthingText, grid.nBottom)) {
        grid.strLabelNote = "a corner lies beyond the lines whose labels were read";
        return;
    }
    grid.bLabelsRead = true;
    grid.dGridMetres = eastings.dStep;
    grid.dEasting[0] = eastings.ValueAt(grid.nLeft);
    grid.dEasting[1] = eastings.ValueAt(grid.nRight);
    grid.dNorthing[0] = northings.ValueAt(grid.nTop);
    grid.dNorthing[1] = northings.ValueAt(grid.nBottom);
}

}  // namespace grid

SLabelFit FitGridLabels(const std::vector<SLabelValue>& aReads, bool bDescending)
{
    SLabelFit fit;
    // A line read twice with two values is a misread: neither is used.
    std::map<int, double> aByLine;
    std::map<int, bool> aConflict;
    for (const SLabelValue& read : aReads) {
        const auto it = aByLine.find(read.nLine);
        if (it == aByLine.end())
            aByLine[read.nLine] = read.dValue;
        else if (std::fabs(it->second - read.dValue) > 0.5)
            aConflict[read.nLine] = true;
    }
    std::vector<std::pair<int, double>> aLines;
    for (const auto& [nLine, dValue] : aByLine)
        if (!aConflict.count(nLine))
            aLines.emplace_back(nLine, dValue);
    fit.nRejected = int(aConflict.size());
    if (aLines.size() < 3) {
        fit.strWhy = "fewer than three labels were read";
        return fit;
    }
    // Every pair of lines proposes a spacing; the proposal most labels agree with wins when
    // no other explains as many.
    int nBest = 0, nBestTies = 0;
    double dBestFirst = 0, dBestStep = 0;
    for (std::size_t a = 0; a < aLines.size(); ++a)
        for (std::size_t b = a + 1; b < aLines.size(); ++b) {
            const double dStep = (aLines[b].second - aLines[a].second) / (aLines[b].first - aLines[a].first);
            if (std::fabs(dStep - std::round(dStep)) > 1e-6 || (bDescending ? dStep >= 0 : dStep <= 0))
                continue;
            const double dFirst = aLines[a].second - dStep * aLines[a].first;
            int nAgree = 0;
            for (const auto& [nLine, dValue] : aLines)
                nAgree += std::fabs(dFirst + dStep * nLine - dValue) < 0.5;
            if (nAgree > nBest)
                nBest = nAgree, nBestTies = 0, dBestFirst = dFirst, dBestStep = dStep;
            else if (nAgree == nBest && (std::fabs(dFirst - dBestFirst) > 0.5 || std::fabs(dStep - dBestStep) > 0.5))
                ++nBestTies;
        }
    fit.nAgreeing = nBest;
    fit.nRejected += int(aLines.size()) - nBest;
    if (nBest < 3) {
        fit.strWhy = "fewer than three labels agree on one spacing";
        return fit;
    }
    if (nBestTies > 0) {
        fit.strWhy = "the labels agree with two different spacings";
        return fit;
    }
    // At most one label in four may be a misread (two readings of one line that differ
    // are not counted: the line simply has no label).
    if ((int(aLines.size()) - nBest) * 3 > nBest) {
        fit.strWhy = "too many labels disagree with the others";
        return fit;
    }
    fit.bConsistent = true;
    fit.dFirst = dBestFirst;
    fit.dStep = dBestStep;
    fit.nFirstLine = INT_MAX, fit.nLastLine = INT_MIN;
    for (const auto& [nLine, dValue] : aLines)
        if (std::fabs(fit.ValueAt(nLine) - dValue) < 0.5)
            fit.nFirstLine = std::min(fit.nFirstLine, nLine), fit.nLastLine = std::max(fit.nLastLine, nLine);
    return fit;
}

std::string ReadLabelDigits(const CDIBImage& picture, double dRotationDegrees, int* pConfidence)
{
    const grid::CGreyReader reader(picture);
    if (!reader.Usable())
        return {};
    const cv::Mat grey = reader.Crop(0, 0, reader.Width(), reader.Height());
    return grid::ReadDigits(grey, dRotationDegrees, pConfidence);
}

}  // namespace gridmorph
