// Makes the bundled sample map: a scanned-looking sheet of a 1:1000-ish town map with
// a map grid that the scan turned slightly (rotation, shear and a vertical stretch),
// rivers, roads, woods, contours and labels, plus the pixel and map positions of three
// grid corners to put the locators on.
//
//   make-sample-map OUT.jpg OUT.locators
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "platform/HeadlessPlatform.h"

namespace {

using gridmorph::CDIBImage;

// The grid and the scan: map metres to scan pixels.
constexpr double kWest = 512000.0, kNorth = 6231500.0;  // map position of the sheet's corner
constexpr double kAngle = 1.1 * 3.14159265358979 / 180.0;
constexpr double kShear = 0.012;
constexpr double kVerticalScale = 1.025;
constexpr double kPixelsPerMetre = 0.9;
constexpr double kOriginX = 90.0, kOriginY = 70.0;
constexpr int kWidth = 2000, kHeight = 1500;

void MapToPixel(double dEasting, double dNorthing, double& dX, double& dY)
{
    const double u = (dEasting - kWest) * kPixelsPerMetre;
    const double v = (kNorth - dNorthing) * kPixelsPerMetre;
    dX = kOriginX + u * std::cos(kAngle) - v * std::sin(kAngle) + kShear * v;
    dY = kOriginY + (u * std::sin(kAngle) + v * std::cos(kAngle)) * kVerticalScale;
}

void PixelToMap(double dX, double dY, double& dEasting, double& dNorthing)
{
    // Invert the 2 x 2 part of MapToPixel.
    const double a = std::cos(kAngle), b = -std::sin(kAngle) + kShear;
    const double c = std::sin(kAngle) * kVerticalScale, d = std::cos(kAngle) * kVerticalScale;
    const double x = dX - kOriginX, y = dY - kOriginY;
    const double det = a * d - b * c;
    const double u = (d * x - b * y) / det, v = (-c * x + a * y) / det;
    dEasting = kWest + u / kPixelsPerMetre;
    dNorthing = kNorth - v / kPixelsPerMetre;
}

// A 5 x 7 font for digits, capitals and a few marks; each glyph is 7 rows of 5 bits.
const char* const kGlyphChars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ.-:";
const std::uint8_t kGlyphs[][7] = {
    {14, 17, 19, 21, 25, 17, 14}, {4, 12, 4, 4, 4, 4, 14},     {14, 17, 1, 2, 4, 8, 31},    {31, 2, 4, 2, 1, 17, 14},
    {2, 6, 10, 18, 31, 2, 2},     {31, 16, 30, 1, 1, 17, 14},  {6, 8, 16, 30, 17, 17, 14},  {31, 1, 2, 4, 8, 8, 8},
    {14, 17, 17, 14, 17, 17, 14}, {14, 17, 17, 15, 1, 2, 12},  {14, 17, 17, 31, 17, 17, 17}, {30, 17, 17, 30, 17, 17, 30},
    {14, 17, 16, 16, 16, 17, 14}, {28, 18, 17, 17, 17, 18, 28}, {31, 16, 16, 30, 16, 16, 31}, {31, 16, 16, 30, 16, 16, 16},
    {14, 17, 16, 23, 17, 17, 15}, {17, 17, 17, 31, 17, 17, 17}, {14, 4, 4, 4, 4, 4, 14},     {7, 2, 2, 2, 2, 18, 12},
    {17, 18, 20, 24, 20, 18, 17}, {16, 16, 16, 16, 16, 16, 31}, {17, 27, 21, 21, 17, 17, 17}, {17, 17, 25, 21, 19, 17, 17},
    {14, 17, 17, 17, 17, 17, 14}, {30, 17, 17, 30, 16, 16, 16}, {14, 17, 17, 17, 21, 18, 13}, {30, 17, 17, 30, 20, 18, 17},
    {15, 16, 16, 14, 1, 1, 30},   {31, 4, 4, 4, 4, 4, 4},      {17, 17, 17, 17, 17, 17, 14}, {17, 17, 17, 17, 17, 10, 4},
    {17, 17, 17, 21, 21, 21, 10}, {17, 17, 10, 4, 10, 17, 17}, {17, 17, 10, 4, 4, 4, 4},     {31, 1, 2, 4, 8, 16, 31},
    {0, 0, 0, 0, 0, 12, 12},      {0, 0, 0, 31, 0, 0, 0},      {0, 12, 12, 0, 12, 12, 0},
};

struct SColour {
    int nRed, nGreen, nBlue;
};

class CCanvas {
public:
    explicit CCanvas(CDIBImage& image) : m_image(image) {}
    void Set(int x, int y, SColour colour)
    {
        if (x < 0 || y < 0 || x >= m_image.m_nImageWidth || y >= m_image.m_nImageHeight)
            return;
        std::uint8_t* p = m_image.StorageRow(m_image.m_nImageHeight - 1 - y) + 3 * x;
        p[0] = static_cast<std::uint8_t>(colour.nBlue);
        p[1] = static_cast<std::uint8_t>(colour.nGreen);
        p[2] = static_cast<std::uint8_t>(colour.nRed);
    }
    void Text(int x, int y, const std::string& strText, int nScale, SColour colour)
    {
        for (char ch : strText) {
            const char* pFound = ch ? std::strchr(kGlyphChars, ch) : nullptr;
            if (pFound && ch != ' ') {
                const std::uint8_t* pGlyph = kGlyphs[pFound - kGlyphChars];
                for (int r = 0; r < 7; ++r)
                    for (int c = 0; c < 5; ++c)
                        if (pGlyph[r] & (16 >> c))
                            for (int dy = 0; dy < nScale; ++dy)
                                for (int dx = 0; dx < nScale; ++dx)
                                    Set(x + c * nScale + dx, y + r * nScale + dy, colour);
            }
            x += 6 * nScale;
        }
    }

private:
    CDIBImage& m_image;
};

std::uint32_t s_nSeed = 12345;
double Noise()
{
    s_nSeed = s_nSeed * 1664525u + 1013904223u;
    return (s_nSeed >> 8) / double(1u << 24);
}

// Distance from a point to a line through the river's course, in metres.
double RiverDistance(double e, double n)
{
    const double dCentre = 6230700.0 + 180.0 * std::sin((e - 512000.0) / 260.0) + 60.0 * std::sin((e - 512000.0) / 90.0);
    return std::fabs(n - dCentre);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-sample-map OUT.jpg OUT.locators\n");
        return 2;
    }
    gridmorph::CHeadlessPlatform platform;
    gridmorph::CScopedPlatform installed(platform);
    CDIBImage image;
    if (!image.CreateImage(24, kWidth, kHeight, gridmorph::FILL_WHITE, 0, 0, 0, nullptr))
        return 1;
    CCanvas canvas(image);

    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double e = 0, n = 0;
            PixelToMap(x + 0.5, y + 0.5, e, n);
            // Paper: warm, slightly uneven, with scanner speckle.
            const double dStain = 8.0 * std::sin(x / 310.0) * std::cos(y / 270.0);
            SColour colour{int(238 + dStain + 6 * Noise()), int(232 + dStain + 6 * Noise()), int(214 + dStain + 6 * Noise())};
            const bool bOnSheet = e > 512000 && e < 514000 && n > 6230000 && n < 6231500;
            if (bOnSheet) {
                // Woods: green patches with a dotted fill.
                const double dWood = std::sin((e - 512000) / 170.0) * std::cos((n - 6230000) / 140.0);
                if (dWood > 0.55 && ((x / 4 + y / 4) % 3 == 0))
                    colour = {90, 160, 90};
                else if (dWood > 0.55)
                    colour = {200, 225, 190};
                // Contours every 25 units of a smooth hill.
                const double dHeight = 40 * std::exp(-(std::pow(e - 513400, 2) + std::pow(n - 6231100, 2)) / 180000.0);
                if (std::fmod(dHeight, 5.0) < 0.22 && dHeight > 1)
                    colour = {160, 110, 60};
                // The river and its banks.
                const double dRiver = RiverDistance(e, n);
                if (dRiver < 14)
                    colour = {150, 190, 230};
                if (std::fabs(dRiver - 14) < 1.3)
                    colour = {40, 80, 170};
                // A road: two red lines along a straight diagonal.
                const double dRoad = std::fabs((e - 512000) * 0.6 - (n - 6230000) - 150) / std::sqrt(1.36);
                if (std::fabs(dRoad - 6) < 1.2)
                    colour = {190, 40, 30};
                // The map grid every 250 m, thin black lines.
                const double dGridE = std::fabs(std::remainder(e - 512000, 250.0));
                const double dGridN = std::fabs(std::remainder(n - 6230000, 250.0));
                if (dGridE < 0.9 || dGridN < 0.9)
                    colour = {25, 25, 25};
            }
            // A neat line round the sheet.
            if ((std::fabs(e - 512000) < 2.2 || std::fabs(e - 514000) < 2.2) && n > 6229998 && n < 6231502)
                colour = {20, 20, 20};
            if ((std::fabs(n - 6230000) < 2.2 || std::fabs(n - 6231500) < 2.2) && e > 511998 && e < 514002)
                colour = {20, 20, 20};
            const double dGrain = 10 * (Noise() - 0.5);
            canvas.Set(x, y, {int(std::clamp(colour.nRed + dGrain, 0.0, 255.0)), int(std::clamp(colour.nGreen + dGrain, 0.0, 255.0)),
                              int(std::clamp(colour.nBlue + dGrain, 0.0, 255.0))});
        }
    }
    // Grid labels along the top and left margins, and a few names.
    for (int k = 0; k <= 8; ++k) {
        double x = 0, y = 0;
        MapToPixel(512000 + 250.0 * k, 6231500, x, y);
        canvas.Text(int(x) - 36, int(y) - 30, std::to_string(512000 + 250 * k), 2, {30, 30, 30});
    }
    for (int k = 0; k <= 6; ++k) {
        double x = 0, y = 0;
        MapToPixel(512000, 6231500 - 250.0 * k, x, y);
        canvas.Text(int(x) - 88, int(y) - 7, std::to_string(6231500 - 250 * k).substr(3), 2, {30, 30, 30});
    }
    const struct {
        double e, n;
        const char* pName;
        SColour colour;
    } aNames[] = {{512300, 6231350, "KELMAR BRIDGE", {30, 30, 30}}, {513300, 6230250, "RIVER ORVE", {40, 80, 170}},
                  {512700, 6230950, "HOLM WOOD", {40, 110, 40}},   {513250, 6231150, "SPOT HEIGHT 41", {120, 80, 40}}};
    for (const auto& name : aNames) {
        double x = 0, y = 0;
        MapToPixel(name.e, name.n, x, y);
        canvas.Text(int(x), int(y), name.pName, 3, name.colour);
    }
    canvas.Text(120, kHeight - 60, "GRIDMORPH SAMPLE SHEET - GRID 250 M", 3, {30, 30, 30});

    image.SaveDIB(argv[1]);
    if (image.m_nErrorNumber != 0)
        return 1;

    // Locators on the top-left, top-right and bottom-right corners of the grid
    // rectangle 512250..513750 east, 6230250..6231250 north.
    std::FILE* pFile = std::fopen(argv[2], "w");
    if (!pFile)
        return 1;
    std::fprintf(pFile, "# locator: pixel x, pixel y (from the top-left pixel), easting, northing (metres)\n");
    const double aCorners[3][2] = {{512250, 6231250}, {513750, 6231250}, {513750, 6230250}};
    for (int i = 0; i < 3; ++i) {
        double x = 0, y = 0;
        MapToPixel(aCorners[i][0], aCorners[i][1], x, y);
        std::fprintf(pFile, "%d %ld %ld %s %s\n", i + 1, std::lround(x - 0.5), std::lround(y - 0.5),
                     gridmorph::FormatFixed(aCorners[i][0], 0).c_str(), gridmorph::FormatFixed(aCorners[i][1], 0).c_str());
    }
    std::fclose(pFile);
    return 0;
}
