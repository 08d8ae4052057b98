#include "transform/PointsFile.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "io/Numbers.h"
#include "io/QuoteText.h"
#include "io/SafeFileWriter.h"

namespace gridmorph {
namespace {

constexpr char kHeader[] = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual";
// Map positions that differ by less than this are the same grid line.
constexpr double kSameLine = 1e-6;
// No picture has a pixel position beyond this.
constexpr double kLargestPixel = 1e9;
// A locator file is a few short lines (a system's WKT is the longest); anything far
// larger is something else, read no further.
constexpr std::size_t kLargestFile = 1 << 20;
constexpr std::size_t kLongestLine = 1 << 16;
// Map positions are held in whole centimetres in 32 bits.
constexpr double kLargestMapPosition = 21474836.0;
// A file of more points than this is not a set of grid corners picked by hand.
constexpr std::size_t kMostPointsToChooseFrom = 1024;

struct SPoint {
    int nLine = 0;
    double dEasting = 0, dNorthing = 0;
    int nX = 0, nY = 0;
};

std::string Trimmed(const std::string& strText)
{
    const std::size_t nFirst = strText.find_first_not_of(" \t\r");
    if (nFirst == std::string::npos)
        return std::string();
    return strText.substr(nFirst, strText.find_last_not_of(" \t\r") - nFirst + 1);
}

// A field already read as a number, for a message: as written unless it is long.
std::string ShortNumber(const std::string& strField)
{
    return strField.size() <= 40 ? strField : QuoteForMessage(strField);
}

std::string LineName(int nLine) { return "line " + std::to_string(nLine); }

// One data row; false with the reason when it is malformed. bEnabled says whether it counts.
bool ParseRow(const std::string& strRow, int nLine, SPoint& point, bool& bEnabled, std::string& strProblem)
{
    static const char* const aFields[] = {"mapX", "mapY", "sourceX", "sourceY", "enable"};
    std::vector<std::string> aPieces;
    std::stringstream stream(strRow);
    std::string strPiece;
    while (std::getline(stream, strPiece, ','))
        aPieces.push_back(Trimmed(strPiece));
    if (aPieces.size() < 5) {
        strProblem = LineName(nLine) + ": " + std::to_string(aPieces.size()) +
                     " fields; a row gives mapX,mapY,sourceX,sourceY,enable";
        return false;
    }
    double aValues[5];
    for (int i = 0; i < 5; ++i) {
        const char* pEnd = nullptr;
        aValues[i] = ScanNumber(aPieces[i].c_str(), &pEnd);
        if (aPieces[i].empty() || *pEnd != '\0' || !std::isfinite(aValues[i])) {
            strProblem = LineName(nLine) + ": " + aFields[i] + " " + QuoteForMessage(aPieces[i]) + " is not a number";
            return false;
        }
    }
    if (aValues[4] != 0 && aValues[4] != 1) {
        strProblem = LineName(nLine) + ": enable is 1 or 0, not " + QuoteForMessage(aPieces[4]);
        return false;
    }
    bEnabled = aValues[4] == 1;
    if (!bEnabled)
        return true;
    const double dSourceX = aValues[2], dSourceY = aValues[3];
    if (dSourceX < 0 || dSourceY > 0 || dSourceX >= kLargestPixel || -dSourceY >= kLargestPixel) {
        strProblem = LineName(nLine) + ": source position " + ShortNumber(aPieces[2]) + "," + ShortNumber(aPieces[3]) +
                     " is not on a picture (x counts right from 0, y down from 0 as negative numbers)";
        return false;
    }
    if (std::fabs(aValues[0]) > kLargestMapPosition || std::fabs(aValues[1]) > kLargestMapPosition) {
        strProblem = LineName(nLine) + ": map position " + ShortNumber(aPieces[0]) + "," + ShortNumber(aPieces[1]) +
                     " lies beyond " + FormatFixed(kLargestMapPosition, 0) + " m, farther than any map reaches";
        return false;
    }
    point.nLine = nLine;
    point.dEasting = aValues[0];
    point.dNorthing = aValues[1];
    point.nX = static_cast<int>(std::floor(dSourceX));
    point.nY = static_cast<int>(std::floor(-dSourceY));
    return true;
}

// The enabled points of the text in file order; more than nMaxPoints is refused.
bool CollectPoints(const std::string& strText, std::size_t nMaxPoints, std::vector<SPoint>& aPoints,
                   std::string& strProblem)
{
    bool bHeader = false;
    int nLine = 0;
    // A byte-order mark is skipped; lines end in LF, CR LF or CR alone.
    std::size_t nStart = strText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (nStart < strText.size()) {
        std::size_t nEnd = strText.find_first_of("\r\n", nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        ++nLine;
        if (nEnd - nStart > kLongestLine) {
            strProblem = "not a locator file (" + LineName(nLine) + " is longer than " +
                         std::to_string(kLongestLine) + " characters)";
            return false;
        }
        const std::string strLine = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + (strText.compare(nEnd, 2, "\r\n") == 0 ? 2 : 1);
        if (strLine.find('\0') != std::string::npos) {
            strProblem = "not a locator file (" + LineName(nLine) + " holds a NUL byte)";
            return false;
        }
        const std::string strRow = Trimmed(strLine);
        if (strRow.empty() || strRow[0] == '#')
            continue;  // blank lines and comments, such as the "#CRS:" line
        if (!bHeader) {
            std::string strLower = strRow;
            std::transform(strLower.begin(), strLower.end(), strLower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (strLower.rfind("mapx", 0) != 0) {
                strProblem = LineName(nLine) + ": the header line (mapX,mapY,sourceX,sourceY,enable) is missing";
                return false;
            }
            bHeader = true;
            continue;
        }
        SPoint point;
        bool bEnabled = false;
        if (!ParseRow(strRow, nLine, point, bEnabled, strProblem))
            return false;
        if (!bEnabled)
            continue;
        for (const SPoint& earlier : aPoints)
            if (std::fabs(earlier.dEasting - point.dEasting) <= kSameLine &&
                std::fabs(earlier.dNorthing - point.dNorthing) <= kSameLine) {
                strProblem = LineName(nLine) + ": the map position of " + LineName(earlier.nLine) +
                             " again (a duplicated row)";
                return false;
            }
        if (aPoints.size() == nMaxPoints) {
            strProblem = nMaxPoints == 3 ? LineName(nLine) +
                                               ": a fourth enabled point; rectify takes three (top-left, top-right "
                                               "and bottom-right corners of a grid rectangle)"
                                         : LineName(nLine) + ": more than " + std::to_string(nMaxPoints) +
                                               " enabled points";
            return false;
        }
        aPoints.push_back(point);
    }
    if (!bHeader) {
        strProblem = "not a locator file (no mapX,mapY,sourceX,sourceY,enable header line)";
        return false;
    }
    return true;
}

}  // namespace

bool ParsePointsText(const std::string& strText, CLocatorSet& locators, std::string& strProblem)
{
    std::vector<SPoint> aPoints;
    if (!CollectPoints(strText, 3, aPoints, strProblem))
        return false;
    if (aPoints.size() < 3) {
        strProblem = "the file gives " + std::to_string(aPoints.size()) +
                     " enabled points; rectify takes three (top-left, top-right and bottom-right corners of a "
                     "grid rectangle)";
        return false;
    }
    double dWest = aPoints[0].dEasting, dEast = dWest, dSouth = aPoints[0].dNorthing, dNorth = dSouth;
    for (const SPoint& point : aPoints) {
        dWest = std::min(dWest, point.dEasting);
        dEast = std::max(dEast, point.dEasting);
        dSouth = std::min(dSouth, point.dNorthing);
        dNorth = std::max(dNorth, point.dNorthing);
    }
    if (dEast - dWest <= kSameLine || dNorth - dSouth <= kSameLine) {
        strProblem = "lines " + std::to_string(aPoints[0].nLine) + ", " + std::to_string(aPoints[1].nLine) + " and " +
                     std::to_string(aPoints[2].nLine) + ": the map positions do not span a rectangle";
        return false;
    }
    // Locator 1 top-left, 2 top-right, 3 bottom-right.
    const double aCornerEasting[3] = {dWest, dEast, dEast};
    const double aCornerNorthing[3] = {dNorth, dNorth, dSouth};
    const SPoint* aAssigned[3] = {nullptr, nullptr, nullptr};
    for (const SPoint& point : aPoints) {
        int nCorner = -1;
        for (int i = 0; i < 3 && nCorner < 0; ++i)
            if (!aAssigned[i] && std::fabs(point.dEasting - aCornerEasting[i]) <= kSameLine &&
                std::fabs(point.dNorthing - aCornerNorthing[i]) <= kSameLine)
                nCorner = i;
        if (nCorner < 0) {
            strProblem = LineName(point.nLine) + ": map position " + FormatFixed(point.dEasting, 6) + "," +
                         FormatFixed(point.dNorthing, 6) +
                         " is not the top-left, top-right or bottom-right corner of the grid rectangle the three "
                         "points span";
            return false;
        }
        aAssigned[nCorner] = &point;
    }
    CLocatorSet result = locators;
    for (int i = 0; i < 3; ++i) {
        result.SetLocator(i, aAssigned[i]->nX, aAssigned[i]->nY);
        result.SetMapPosition(i, aAssigned[i]->dEasting, aAssigned[i]->dNorthing);
    }
    result.SetNonRectangular(false);
    locators = result;
    return true;
}

namespace {

bool ReadWholeFile(const std::string& strPath, std::string& strText, std::string& strProblem)
{
    const int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (nFd < 0) {
        strProblem = errno == ENOENT ? "it does not exist" : std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(nFd, &info) != 0 || S_ISDIR(info.st_mode) || (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode))) {
        strProblem = S_ISDIR(info.st_mode) ? "not a locator file (a folder)" : "not a locator file (not a plain file)";
        close(nFd);
        return false;
    }
    fcntl(nFd, F_SETFL, fcntl(nFd, F_GETFL) & ~O_NONBLOCK);
    // At most one byte more than the largest locator file is read.
    char aBuffer[65536];
    while (strText.size() <= kLargestFile) {
        const ssize_t nRead = read(nFd, aBuffer, sizeof aBuffer);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            strProblem = std::string("cannot read it: ") + std::strerror(errno);
            close(nFd);
            return false;
        }
        if (nRead == 0)
            break;
        strText.append(aBuffer, static_cast<std::size_t>(nRead));
    }
    close(nFd);
    if (strText.size() > kLargestFile) {
        strProblem = "not a locator file (larger than " + std::to_string(kLargestFile / 1024) + " KB)";
        return false;
    }
    if (strText.empty()) {
        strProblem = "not a locator file (it is empty)";
        return false;
    }
    return true;
}

}  // namespace

bool ReadPointsFile(const std::string& strPath, CLocatorSet& locators, std::string& strProblem,
                    std::string* pSystemWkt)
{
    std::string strText;
    if (!ReadWholeFile(strPath, strText, strProblem) || !ParsePointsText(strText, locators, strProblem))
        return false;
    if (pSystemWkt)
        *pSystemWkt = PointsSystemWkt(strText);
    return true;
}

std::string PointsSystemWkt(const std::string& strText)
{
    // The comment lines before the header; the first "#CRS:" among them names the system.
    std::size_t nStart = strText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (nStart < strText.size()) {
        std::size_t nEnd = strText.find_first_of("\r\n", nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string strRow = Trimmed(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (strRow.empty())
            continue;
        if (strRow[0] != '#')
            break;
        if (strRow.compare(0, 5, "#CRS:") == 0)
            return Trimmed(strRow.substr(5));
    }
    return std::string();
}

bool ParsePointsTextChoosingCorners(const std::string& strText, CLocatorSet& locators, SPointsChoice& choice,
                                    std::string& strProblem)
{
    std::vector<SPoint> aPoints;
    if (!CollectPoints(strText, kMostPointsToChooseFrom, aPoints, strProblem))
        return false;
    SPointsChoice result;
    result.nEnabled = static_cast<int>(aPoints.size());
    if (aPoints.size() <= 3) {
        // Three points are read as they always were, with the same reasons for a refusal.
        CLocatorSet read = locators;
        if (!ParsePointsText(strText, read, strProblem))
            return false;
        for (int i = 0; i < 3; ++i)
            for (const SPoint& point : aPoints)
                if (point.nX == read.LocatorX(i) && point.nY == read.LocatorY(i) &&
                    point.dEasting == read.Easting(i) && point.dNorthing == read.Northing(i))
                    result.aLines[i] = point.nLine;
        locators = read;
        choice = result;
        return true;
    }
    // The top-right corner of a candidate rectangle is looked up among the points sorted by
    // easting, so the search is one pass over the pairs of top-left and bottom-right corners.
    std::vector<const SPoint*> aByEasting;
    for (const SPoint& point : aPoints)
        aByEasting.push_back(&point);
    std::stable_sort(aByEasting.begin(), aByEasting.end(),
                     [](const SPoint* pA, const SPoint* pB) { return pA->dEasting < pB->dEasting; });
    auto FindAt = [&](double dEasting, double dNorthing) -> const SPoint* {
        auto it = std::lower_bound(aByEasting.begin(), aByEasting.end(), dEasting - kSameLine,
                                   [](const SPoint* pPoint, double d) { return pPoint->dEasting < d; });
        for (; it != aByEasting.end() && (*it)->dEasting <= dEasting + kSameLine; ++it)
            if (std::fabs((*it)->dNorthing - dNorthing) <= kSameLine)
                return *it;
        return nullptr;
    };
    // The largest rectangle gives the most accurate transform; among equal ones the
    // earliest lines win.
    double dLargest = 0;
    const SPoint* aBest[3] = {nullptr, nullptr, nullptr};
    for (const SPoint& topLeft : aPoints)
        for (const SPoint& bottomRight : aPoints) {
            const double dWidth = bottomRight.dEasting - topLeft.dEasting;
            const double dHeight = topLeft.dNorthing - bottomRight.dNorthing;
            if (dWidth <= kSameLine || dHeight <= kSameLine || dWidth * dHeight <= dLargest)
                continue;
            if (const SPoint* pTopRight = FindAt(bottomRight.dEasting, topLeft.dNorthing)) {
                dLargest = dWidth * dHeight;
                aBest[0] = &topLeft;
                aBest[1] = pTopRight;
                aBest[2] = &bottomRight;
            }
        }
    if (!aBest[0]) {
        strProblem = "no three of the " + std::to_string(aPoints.size()) +
                     " enabled points are the top-left, top-right and bottom-right corners of a grid rectangle";
        return false;
    }
    CLocatorSet chosen = locators;
    for (int i = 0; i < 3; ++i) {
        chosen.SetLocator(i, aBest[i]->nX, aBest[i]->nY);
        chosen.SetMapPosition(i, aBest[i]->dEasting, aBest[i]->dNorthing);
        result.aLines[i] = aBest[i]->nLine;
    }
    chosen.SetNonRectangular(false);
    locators = chosen;
    choice = result;
    return true;
}

bool ReadPointsFileChoosingCorners(const std::string& strPath, CLocatorSet& locators, SPointsChoice& choice,
                                   std::string& strProblem)
{
    std::string strText;
    return ReadWholeFile(strPath, strText, strProblem) &&
           ParsePointsTextChoosingCorners(strText, locators, choice, strProblem);
}

namespace {

// A map position as the common layout writes it, with six decimals; a value that six
// decimals would change (a typed 6231250.0000005) gets as many as it needs to be read back
// as itself, so a file that was read is never refused when written again.
std::string FormatMapPosition(double dValue)
{
    std::string strText = FormatFixed(dValue, 6);
    for (int nDecimals = 7; ScanNumber(strText.c_str()) != dValue && nDecimals <= 17; ++nDecimals)
        strText = FormatFixed(dValue, nDecimals);
    return strText;
}

}  // namespace

std::string FormatPointsText(const CLocatorSet& locators, const std::string& strSystemWkt)
{
    std::string strText;
    if (!strSystemWkt.empty())
        strText += "#CRS: " + strSystemWkt + "\n";
    strText += std::string(kHeader) + "\n";
    for (int i = 0; i < 3; ++i)
        strText += FormatMapPosition(locators.Easting(i)) + "," + FormatMapPosition(locators.Northing(i)) + "," +
                   FormatFixed(locators.LocatorX(i) + 0.5, 1) + "," +
                   FormatFixed(-(locators.LocatorY(i) + 0.5), 1) + ",1,0,0,0\n";
    return strText;
}

bool WritePointsFile(const std::string& strPath, const CLocatorSet& locators, const std::string& strSystemWkt)
{
    return WriteTextFile(strPath, FormatPointsText(locators, strSystemWkt));
}

}  // namespace gridmorph
