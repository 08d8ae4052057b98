// Sheets that join: the smooth resamplings of rectify compared with GDAL's, the clip to the
// locators' rectangle, no-data that GDAL reads, and a mosaic of two sheets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "support/TestSupport.h"
#include "transform/LocatorSet.h"
#include "transform/RectifyingTransform.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

test::SCommandResult Cli(const std::string& strArguments)
{
    return test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1");
}

bool HaveTool(const char* pName)
{
    return test::RunCommand(std::string("command -v ") + pName + " >/dev/null 2>&1").nExitCode == 0;
}

// A map-like scan: smooth colour washes crossed by dark grid lines every 40 pixels and
// thin contour-like lines, so both flat areas and sharp edges are resampled. 8-bit scans
// get a colour table of 256 distinct colours and the index follows the same pattern.
void MakeMapScan(CDIBImage& scan, int nBitCount, int nWidth, int nHeight)
{
    SRGBQuad aTable[256];
    for (int i = 0; i < 256; ++i)
        aTable[i] = SRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>((i * 5 + 40) & 255),
                             static_cast<std::uint8_t>(255 - i), 0};
    ASSERT_TRUE(scan.CreateImage(nBitCount, nWidth, nHeight, FILL_NONE, 0, 0, 0, nBitCount == 8 ? aTable : nullptr));
    for (int y = 0; y < nHeight; ++y) {
        std::uint8_t* p = scan.StorageRow(nHeight - 1 - y);
        for (int x = 0; x < nWidth; ++x) {
            const bool bLine = x % 40 == 0 || y % 40 == 0 || (x + 2 * y) % 97 == 0;
            for (int c = 0; c < nBitCount / 8; ++c) {
                const double d = 128 + 90 * std::sin(x / (6.0 + c) + c) * std::cos(y / (9.0 + 2 * c));
                *p++ = bLine ? static_cast<std::uint8_t>(20 + 10 * c) : static_cast<std::uint8_t>(d);
            }
        }
    }
}

// The locators of the sheets below: a turn of about 2 degrees and a little shear, and the
// output pixel a little smaller than the scan's (GDAL blends its neighbours the same way
// then; for outputs coarser than the scan it widens its kernels).
struct SSheet {
    int nX1 = 20, nY1 = 18, nX2 = 270, nY2 = 27, nX3 = 262, nY3 = 215;
    double dE1 = 500000, dN1 = 6100000, dE3 = 500240, dN3 = 6099810;

    std::string Options() const
    {
        return " --p1 " + std::to_string(nX1) + "," + std::to_string(nY1) + "," + FormatFixed(dE1, 3) + "," +
               FormatFixed(dN1, 3) + " --p2 " + std::to_string(nX2) + "," + std::to_string(nY2) + " --p3 " +
               std::to_string(nX3) + "," + std::to_string(nY3) + "," + FormatFixed(dE3, 3) + "," + FormatFixed(dN3, 3);
    }
    CLocatorSet Locators() const
    {
        CLocatorSet locators;
        const int aX[3] = {nX1, nX2, nX3}, aY[3] = {nY1, nY2, nY3};
        const double aE[3] = {dE1, dE3, dE3}, aN[3] = {dN1, dN1, dN3};
        for (int i = 0; i < 3; ++i) {
            locators.SetLocator(i, aX[i], aY[i]);
            locators.SetMapPosition(i, aE[i], aN[i]);
        }
        return locators;
    }
    // GDAL's control points: the centre of the top-left pixel is 0.5, 0.5 there.
    std::string GdalControlPoints() const
    {
        auto Point = [](int x, int y, double e, double n) {
            return " -gcp " + std::to_string(x) + ".5 " + std::to_string(y) + ".5 " + FormatFixed(e, 3) + " " +
                   FormatFixed(n, 3);
        };
        return Point(nX1, nY1, dE1, dN1) + Point(nX2, nY2, dE3, dN1) + Point(nX3, nY3, dE3, dN3);
    }
};

// The colour of picture pixel (x, y) (0, 0 top left) as blue, green, red.
void ColourAt(const CDIBImage& image, int x, int y, std::uint8_t* pColour)
{
    const std::uint8_t* p = image.StorageRow(image.m_nImageHeight - 1 - y);
    if (image.m_nBitCount == 8) {
        const SRGBQuad& q = image.m_pRGBQuad[p[x]];
        pColour[0] = q.rgbBlue;
        pColour[1] = q.rgbGreen;
        pColour[2] = q.rgbRed;
        return;
    }
    const int nStep = image.m_nBitCount / 8;
    for (int c = 0; c < 3; ++c)
        pColour[c] = p[x * nStep + c];
}

struct SResampleCase {
    const char* pName;
    const char* pResample;  // ours
    const char* pGdal;      // gdalwarp's -r
    int nBitCount;
};

class ResampleLikeGdalTest : public test::CPlatformTest, public ::testing::WithParamInterface<SResampleCase> {
protected:
    test::CTempFolder m_folder;
};

// The rectified map beside gdalwarp's on the same control points and the same output grid:
// every interior pixel (whose 4 x 4 source neighbourhood lies on the scan) within one grey
// level in each colour.
TEST_P(ResampleLikeGdalTest, InteriorPixelsWithinOneGreyLevelOfGdalwarp)
{
    const SResampleCase& c = GetParam();
    if (!HaveTool("gdalwarp") || !HaveTool("gdal_translate"))
        GTEST_SKIP() << "gdalwarp and gdal_translate (Debian's gdal-bin) are not installed: the comparison with "
                        "GDAL's resampling is skipped";
    const int nWidth = 290, nHeight = 235;
    CDIBImage scan;
    MakeMapScan(scan, c.nBitCount, nWidth, nHeight);
    const std::string strScan = m_folder.Path("scan.tif");
    ASSERT_EQ(scan.SaveDIB(strScan), ESaveResult::Written);
    const SSheet sheet;
    const std::string strOurs = m_folder.Path("ours.tif");
    const test::SCommandResult run =
        Cli("rectify " + strScan + " " + strOurs + sheet.Options() + " --resample " + c.pResample);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld ours;
    ASSERT_TRUE(ours.OpenWorld(strOurs, true));
    EXPECT_EQ(ours.m_nBitCount, 24) << "blended maps are full colour";

    // GDAL's output grid: our outside edges and size. An 8-bit scan is expanded to colour
    // first, since GDAL would otherwise blend the palette indices.
    const double dHalfX = (ours.GetEast() - ours.GetWest()) / (ours.m_nImageWidth - 1) / 2;
    const double dHalfY = (ours.GetNorth() - ours.GetSouth()) / (ours.m_nImageHeight - 1) / 2;
    const std::string strVrt = m_folder.Path("scan.vrt"), strGdal = m_folder.Path("gdal.tif");
    test::SCommandResult gdal = test::RunCommand("gdal_translate -q -of VRT" + std::string(c.nBitCount == 8 ? " -expand rgb" : "") +
                                                 sheet.GdalControlPoints() + " " + strScan + " " + strVrt + " 2>&1");
    ASSERT_EQ(gdal.nExitCode, 0) << gdal.strOutput;
    gdal = test::RunCommand("gdalwarp -q -overwrite -order 1 -et 0 -r " + std::string(c.pGdal) + " -te " +
                            FormatFixed(ours.GetWest() - dHalfX, 6) + " " + FormatFixed(ours.GetSouth() - dHalfY, 6) +
                            " " + FormatFixed(ours.GetEast() + dHalfX, 6) + " " +
                            FormatFixed(ours.GetNorth() + dHalfY, 6) + " -ts " + std::to_string(ours.m_nImageWidth) +
                            " " + std::to_string(ours.m_nImageHeight) + " " + strVrt + " " + strGdal + " 2>&1");
    ASSERT_EQ(gdal.nExitCode, 0) << gdal.strOutput;
    CDIBImage theirs;
    ASSERT_TRUE(theirs.OpenDIB(strGdal));
    ASSERT_EQ(theirs.m_nImageWidth, ours.m_nImageWidth);
    ASSERT_EQ(theirs.m_nImageHeight, ours.m_nImageHeight);

    // Interior pixels: the rectified point's source position at least 2 pixels inside.
    SRectifyingTransform transform;
    ASSERT_TRUE(transform.Compute(sheet.Locators()));
    double dU0 = 0, dV0 = 0;  // the rectified point of the output's top-left pixel
    {
        const double dResolution = transform.dResolutionX;
        dU0 = sheet.nX1 + std::round((ours.GetWest() - sheet.dE1) / dResolution);
        dV0 = sheet.nY1 - std::round((ours.GetNorth() - sheet.dN1) / transform.dResolutionY);
    }
    int nInterior = 0, nOff = 0, nWorst = 0;
    for (int j = 0; j < ours.m_nImageHeight; ++j)
        for (int i = 0; i < ours.m_nImageWidth; ++i) {
            double x = 0, y = 0;
            transform.Inverse(dU0 + i, dV0 + j, x, y);
            if (x < 2 || y < 2 || x > nWidth - 3 || y > nHeight - 3)
                continue;
            ++nInterior;
            std::uint8_t aOurs[3], aTheirs[3];
            ColourAt(ours, i, j, aOurs);
            ColourAt(theirs, i, j, aTheirs);
            for (int k = 0; k < 3; ++k) {
                const int nDifference = std::abs(aOurs[k] - aTheirs[k]);
                nWorst = std::max(nWorst, nDifference);
                nOff += nDifference > 1;
            }
        }
    EXPECT_GT(nInterior, nWidth * nHeight / 2);
    EXPECT_EQ(nOff, 0) << "largest difference " << nWorst;
}

INSTANTIATE_TEST_SUITE_P(Resamplings, ResampleLikeGdalTest,
                         ::testing::Values(SResampleCase{"Bilinear24", "bilinear", "bilinear", 24},
                                           SResampleCase{"Cubic24", "cubic", "cubic", 24},
                                           SResampleCase{"Bilinear8", "bilinear", "bilinear", 8},
                                           SResampleCase{"Cubic8", "cubic", "cubic", 8}),
                         [](const ::testing::TestParamInfo<SResampleCase>& info) { return std::string(info.param.pName); });

class JoinCliTest : public test::CPlatformTest {
protected:
    test::CTempFolder m_folder;
};

// A scan of one flat colour keeps that colour on every pixel the scan covers, up to the
// outermost ones: the edges are not blended with the black outside.
TEST_F(JoinCliTest, BlendedEdgesAreNotDarkened)
{
    for (const int nBitCount : {24, 8}) {
        CDIBImage scan;
        SRGBQuad aTable[256] = {};
        aTable[7] = SRGBQuad{180, 140, 200, 0};
        ASSERT_TRUE(scan.CreateImage(nBitCount, 120, 90, FILL_NONE, 0, 0, 0, aTable));
        if (nBitCount == 24)
            scan.FillImage(FILL_COLOUR, 200, 140, 180);
        else
            std::memset(scan.m_pImageBits, 7, static_cast<std::size_t>(scan.m_nStride) * 90);
        const std::string strScan = m_folder.Path("flat" + std::to_string(nBitCount) + ".bmp");
        ASSERT_EQ(scan.SaveDIB(strScan), ESaveResult::Written);
        for (const char* pResample : {"nearest", "bilinear", "cubic"}) {
            const std::string strOut = m_folder.Path(std::string("flat-") + pResample + ".png");
            const test::SCommandResult run = Cli("rectify " + strScan + " " + strOut + " --resample " + pResample +
                                                 " --p1 5,5,1000,2000 --p2 110,12 --p3 104,85,1100,1920 --nodata transparent");
            ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
            CDIBImage out;
            ASSERT_TRUE(out.OpenDIB(strOut));
            ASSERT_EQ(out.m_nBitCount, nBitCount == 8 && std::string(pResample) == "nearest" ? 8 : 32) << pResample;
            int nCovered = 0, nWrong = 0;
            for (int y = 0; y < out.m_nImageHeight; ++y)
                for (int x = 0; x < out.m_nImageWidth; ++x) {
                    const std::uint8_t* p = out.StorageRow(out.m_nImageHeight - 1 - y);
                    if (out.m_nBitCount == 8) {
                        nCovered += p[x] == 7;
                        continue;
                    }
                    if (p[4 * x + 3] == 0)
                        continue;
                    ++nCovered;
                    nWrong += p[4 * x] != 180 || p[4 * x + 1] != 140 || p[4 * x + 2] != 200 || p[4 * x + 3] != 255;
                }
            EXPECT_GT(nCovered, 120 * 90 * 9 / 10) << nBitCount << " " << pResample;
            EXPECT_EQ(nWrong, 0) << nBitCount << " " << pResample;
        }
    }
}

// A scan of one flat colour, saved as BMP (an 8-bit one uses palette index 7 only).
std::string MakeFlatScan(const test::CTempFolder& folder, const std::string& strName, int nBitCount, int nWidth,
                         int nHeight, std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue)
{
    CDIBImage scan;
    SRGBQuad aTable[256] = {};
    for (int i = 0; i < 256; ++i)
        aTable[i] = SRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0};
    aTable[7] = SRGBQuad{nBlue, nGreen, nRed, 0};
    EXPECT_TRUE(scan.CreateImage(nBitCount, nWidth, nHeight, FILL_NONE, 0, 0, 0, aTable));
    if (nBitCount == 24)
        scan.FillImage(FILL_COLOUR, nRed, nGreen, nBlue);
    else
        std::memset(scan.m_pImageBits, 7, static_cast<std::size_t>(scan.m_nStride) * static_cast<std::size_t>(nHeight));
    const std::string strPath = folder.Path(strName);
    EXPECT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
    return strPath;
}

struct SNoDataCase {
    const char* pName;
    const char* pExtension;
    int nSourceBits;
    const char* pOptions;     // the rectify options under test
    int nOutputBits;          // the depth read back
    const char* pGdalExpect;  // a line gdalinfo prints for the output
    bool bClip;
};

class NoDataAndClipTest : public test::CPlatformTest, public ::testing::WithParamInterface<SNoDataCase> {
protected:
    test::CTempFolder m_folder;
};

// Each output read back by this program and by GDAL: the area outside the scan is the
// no-data value (or transparent), the scan's area is not, and with --clip grid the map
// edges are the locators' rectangle.
TEST_P(NoDataAndClipTest, OutputsSayWhereThereIsNoData)
{
    const SNoDataCase& c = GetParam();
    const std::string strScan = MakeFlatScan(m_folder, "scan.bmp", c.nSourceBits, 140, 110, 200, 140, 180);
    const std::string strOut = m_folder.Path(std::string("out.") + c.pExtension);
    const test::SCommandResult run = Cli("rectify " + strScan + " " + strOut +
                                         " --p1 10,8,1000,2000 --p2 130,14 --p3 125,100,1100,1920 " + c.pOptions);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld out;
    ASSERT_TRUE(out.OpenWorld(strOut, true));
    ASSERT_EQ(out.m_nBitCount, c.nOutputBits);
    const SNoDataValue& noData = out.Bitmap()->m_noData;
    EXPECT_TRUE(noData.bSet) << "the no-data value is read back";

    // What a pixel holds: -1 no data, 1 the scan's colour, 0 anything else.
    auto Kind = [&](int x, int y) {
        const std::uint8_t* p = out.StorageRow(out.m_nImageHeight - 1 - y);
        std::uint8_t aColour[3];
        if (out.m_nBitCount == 8) {
            if (p[x] == noData.nIndex)
                return -1;
        } else if (out.m_nBitCount == 32) {
            if (p[4 * x + 3] == 0)
                return -1;
            if (p[4 * x + 3] != 255)
                return 0;
        } else if (p[3 * x] == noData.nBlue && p[3 * x + 1] == noData.nGreen && p[3 * x + 2] == noData.nRed) {
            return -1;
        }
        ColourAt(out, x, y, aColour);
        return aColour[0] == 180 && aColour[1] == 140 && aColour[2] == 200 ? 1 : 0;
    };
    EXPECT_EQ(Kind(out.m_nImageWidth / 2, out.m_nImageHeight / 2), 1);
    if (c.bClip) {
        // The locators' rectangle from locator 1's pixel to the first pixel on or past the
        // far grid lines: west and north exactly, east and south within a pixel beyond.
        const double dResolutionX = (out.GetEast() - out.GetWest()) / (out.m_nImageWidth - 1);
        const double dResolutionY = (out.GetNorth() - out.GetSouth()) / (out.m_nImageHeight - 1);
        EXPECT_NEAR(out.GetWest(), 1000.0, 0.006);
        EXPECT_NEAR(out.GetNorth(), 2000.0, 0.006);
        EXPECT_GE(out.GetEast(), 1100.0 - 0.006);
        EXPECT_LT(out.GetEast(), 1100.0 + dResolutionX);
        EXPECT_LE(out.GetSouth(), 1920.0 + 0.006);
        EXPECT_GT(out.GetSouth(), 1920.0 - dResolutionY);
        // The whole rectangle lies on the scan: no pixel is empty.
        int nEmpty = 0;
        for (int y = 0; y < out.m_nImageHeight; ++y)
            for (int x = 0; x < out.m_nImageWidth; ++x)
                nEmpty += Kind(x, y) != 1;
        EXPECT_EQ(nEmpty, 0);
    } else {
        // The scan is turned: the output's corners lie outside it.
        EXPECT_EQ(Kind(0, 0), -1);
        EXPECT_EQ(Kind(out.m_nImageWidth - 1, out.m_nImageHeight - 1), -1);
    }

    if (!HaveTool("gdalinfo"))
        GTEST_SKIP() << "gdalinfo (Debian's gdal-bin) is not installed: the output was checked by reading it back only";
    const test::SCommandResult info = test::RunCommand("gdalinfo " + strOut + " 2>&1");
    ASSERT_EQ(info.nExitCode, 0) << info.strOutput;
    EXPECT_NE(info.strOutput.find(c.pGdalExpect), std::string::npos) << info.strOutput;
    EXPECT_EQ(info.strOutput.find("Warning"), std::string::npos) << info.strOutput;
    if (c.bClip) {
        const std::size_t nAt = info.strOutput.find("Upper Left");
        ASSERT_NE(nAt, std::string::npos) << info.strOutput;
        const double dResolutionX = (out.GetEast() - out.GetWest()) / (out.m_nImageWidth - 1);
        const char* pEnd = nullptr;
        const double dWest = ScanNumber(info.strOutput.c_str() + info.strOutput.find('(', nAt) + 1, &pEnd);
        EXPECT_NEAR(dWest, 1000.0 - dResolutionX / 2, 0.006);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, NoDataAndClipTest,
    ::testing::Values(
        SNoDataCase{"Png24Transparent", "png", 24, "--nodata transparent", 32, "ColorInterp=Alpha", false},
        SNoDataCase{"Tif24Transparent", "tif", 24, "--nodata transparent", 32, "ColorInterp=Alpha", false},
        SNoDataCase{"Png8Transparent", "png", 8, "--nodata transparent", 8, "NoData Value=255", false},
        SNoDataCase{"Tif8Transparent", "tif", 8, "--nodata transparent", 8, "NoData Value=255", false},
        SNoDataCase{"Tif24Value", "tif", 24, "--nodata 9,9,9", 24, "NoData Value=9", false},
        // A PNG's transparent colour is read back as an alpha channel.
        SNoDataCase{"Png24Value", "png", 24, "--nodata 10,20,30", 32, "Mask Flags: PER_DATASET NODATA", false},
        SNoDataCase{"Tif8Index", "tif", 8, "--nodata 3", 8, "NoData Value=3", false},
        SNoDataCase{"Tif24IndexAsGrey", "tif", 24, "--nodata 4", 24, "NoData Value=4", false},
        SNoDataCase{"Png8BilinearTransparent", "png", 8, "--resample bilinear --nodata transparent", 32,
                    "ColorInterp=Alpha", false},
        SNoDataCase{"Tif24CubicTransparent", "tif", 24, "--resample cubic --nodata transparent", 32,
                    "ColorInterp=Alpha", false},
        SNoDataCase{"Tif24ClipTransparent", "tif", 24, "--clip grid --nodata transparent", 32, "ColorInterp=Alpha",
                    true},
        SNoDataCase{"Png8ClipTransparent", "png", 8, "--clip grid --nodata transparent", 8, "NoData Value=255", true},
        SNoDataCase{"Tif8ClipBilinearValue", "tif", 8, "--clip grid --resample bilinear --nodata 0,0,0", 24,
                    "NoData Value=0", true}),
    [](const ::testing::TestParamInfo<SNoDataCase>& info) { return std::string(info.param.pName); });

// Two neighbouring sheets, each turned on its scan, joined by mosaic with the first on top:
// with transparent no-data the first sheet's empty corners show the second sheet's map,
// where black corners would cut wedges into it. GDAL composites the same two files alike.
TEST_F(JoinCliTest, TwoSheetMosaicShowsNoWedge)
{
    const std::string strRed = MakeFlatScan(m_folder, "west.bmp", 24, 140, 110, 220, 40, 40);
    const std::string strBlue = MakeFlatScan(m_folder, "east.bmp", 24, 140, 110, 40, 40, 220);
    auto Rectify = [&](const std::string& strOptions, const std::string& strSuffix) {
        const test::SCommandResult west = Cli("rectify " + strRed + " " + m_folder.Path("west" + strSuffix + ".png") +
                                              " --p1 10,8,1000,2000 --p2 130,14 --p3 125,100,1100,1920 " + strOptions);
        const test::SCommandResult east = Cli("rectify " + strBlue + " " + m_folder.Path("east" + strSuffix + ".png") +
                                              " --p1 12,12,1100,2000 --p2 131,5 --p3 127,96,1200,1920 " + strOptions);
        EXPECT_EQ(west.nExitCode, 0) << west.strOutput;
        EXPECT_EQ(east.nExitCode, 0) << east.strOutput;
    };
    // Counts the mosaic's pixels by kind: red, blue, white, other; only those whose centres
    // lie inside the two grid rectangles (the region is laid on the first sheet's pixel
    // grid, so its last row may lie beyond them).
    auto Count = [&](const std::string& strMosaic, int* pCounts) {
        CDIBWorld mosaic;
        ASSERT_TRUE(mosaic.OpenWorld(strMosaic, true));
        const double dStepX = (mosaic.GetEast() - mosaic.GetWest()) / (mosaic.m_nImageWidth - 1);
        const double dStepY = (mosaic.GetNorth() - mosaic.GetSouth()) / (mosaic.m_nImageHeight - 1);
        for (int y = 0; y < mosaic.m_nImageHeight; ++y)
            for (int x = 0; x < mosaic.m_nImageWidth; ++x) {
                const double dEasting = mosaic.GetWest() + x * dStepX, dNorthing = mosaic.GetNorth() - y * dStepY;
                if (dEasting < 1000 || dEasting > 1200 || dNorthing < 1920 || dNorthing > 2000)
                    continue;
                std::uint8_t c[3];
                ColourAt(mosaic, x, y, c);
                const int nKind = (c[2] == 220 && c[1] == 40 && c[0] == 40)   ? 0
                                  : (c[2] == 40 && c[1] == 40 && c[0] == 220) ? 1
                                  : (c[2] == 255 && c[1] == 255 && c[0] == 255) ? 2
                                                                                : 3;
                ++pCounts[nKind];
            }
    };
    const std::string strRegion = " --region 1000,1920,1200,2000 ";

    // The defaults: black outside each scan, and the first sheet's black wedges cover the second's map.
    Rectify("", "-black");
    test::SCommandResult run = Cli("mosaic " + m_folder.Path("black.png") + strRegion + m_folder.Path("west-black.png") +
                                   " " + m_folder.Path("east-black.png"));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    int aBlack[4] = {};
    Count(m_folder.Path("black.png"), aBlack);
    EXPECT_GT(aBlack[3], 0) << "black fill is expected in the default mosaic";

    // Transparent outside: only the two maps (and white beyond both) remain.
    Rectify("--nodata transparent", "");
    run = Cli("mosaic " + m_folder.Path("joined.png") + strRegion + m_folder.Path("west.png") + " " +
              m_folder.Path("east.png"));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    int aJoined[4] = {};
    Count(m_folder.Path("joined.png"), aJoined);
    EXPECT_EQ(aJoined[3], 0) << "no pixel is black or mixed";
    EXPECT_GT(aJoined[1], aBlack[1]) << "the second sheet shows where the first's wedges were";
    EXPECT_GT(aJoined[0], 0);

    // Clipped to the grid: the sheets meet along the grid line with no white gap between.
    Rectify("--clip grid --nodata transparent", "-clip");
    run = Cli("mosaic " + m_folder.Path("clip.png") + strRegion + m_folder.Path("west-clip.png") + " " +
              m_folder.Path("east-clip.png"));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    int aClip[4] = {};
    Count(m_folder.Path("clip.png"), aClip);
    EXPECT_EQ(aClip[3], 0);
    EXPECT_EQ(aClip[2], 0) << "the two rectangles cover the region without a gap";

    if (!HaveTool("gdalwarp"))
        GTEST_SKIP() << "gdalwarp (Debian's gdal-bin) is not installed: GDAL's compositing is not compared";
    // GDAL composites the transparent sheets the same way: later files drawn over earlier
    // ones only where they hold data.
    const test::SCommandResult gdal = test::RunCommand(
        "gdalwarp -q -overwrite -te 1000 1920 1200 2000 -tr 1 1 -dstalpha " + m_folder.Path("east.png") + " " +
        m_folder.Path("west.png") + " " + m_folder.Path("gdal.tif") + " 2>&1");
    ASSERT_EQ(gdal.nExitCode, 0) << gdal.strOutput;
    CDIBImage composite;
    ASSERT_TRUE(composite.OpenDIB(m_folder.Path("gdal.tif")));
    int nBlackInGdal = 0;
    for (int y = 0; y < composite.m_nImageHeight; ++y)
        for (int x = 0; x < composite.m_nImageWidth; ++x) {
            const std::uint8_t* p = composite.StorageRow(y) + 4 * x;
            nBlackInGdal += p[3] == 255 && p[0] == 0 && p[1] == 0 && p[2] == 0;
        }
    EXPECT_EQ(nBlackInGdal, 0) << "GDAL reads the transparent area as no data";
}

// Choices that cannot be honoured are refused before any work, in one line that says why.
TEST_F(JoinCliTest, UnusableChoicesAreRefusedBeforeAnyWork)
{
    const std::string strScan = MakeFlatScan(m_folder, "scan.bmp", 24, 60, 50, 10, 20, 30);
    const std::string strLocators = " --p1 2,2,1000,2000 --p2 55,3 --p3 54,45,1050,1960";
    struct SCase {
        const char* pOutput;
        const char* pOptions;
        const char* pMessage;
    };
    const SCase aCases[] = {
        {"out.tif", "--clip frame --non-rectangular --p2-map 1050,2000",
         "--clip frame extends a rectangle of the map grid; it does not go with --non-rectangular"},
        {"out.tif", "--clip collar", "--clip takes grid or frame"},
        {"out.tif", "--resample lanczos", "--resample takes nearest, bilinear or cubic"},
        {"out.jpg", "--nodata transparent", "--nodata is written to PNG and TIFF outputs only"},
        {"out.tif", "--nodata 1,2", "--nodata takes transparent, R,G,B or a palette INDEX"},
        {"out.tif", "--nodata 256", "values are whole numbers from 0 to 255"},
        {"out.tif", "--nodata 1,2,3", "a TIFF names one no-data value for all three colours"},
        {"out.png", "--nodata transparent --depth 8", "--nodata does not go with --depth 8"},
        {"out.png", "--depth 24", "rectify takes --depth 8 only"},
    };
    for (const SCase& c : aCases) {
        const test::SCommandResult run =
            Cli("rectify " + strScan + " " + m_folder.Path(c.pOutput) + strLocators + " " + c.pOptions);
        EXPECT_EQ(run.nExitCode, 2) << c.pOptions << ": " << run.strOutput;
        EXPECT_NE(run.strOutput.find(c.pMessage), std::string::npos) << c.pOptions << ": " << run.strOutput;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path(c.pOutput))) << c.pOptions;
    }
    // A GIF output asks for 256 colours: a blended map is reduced to them.
    const test::SCommandResult run =
        Cli("rectify " + strScan + " " + m_folder.Path("out.gif") + strLocators + " --resample bilinear");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld gif;
    ASSERT_TRUE(gif.OpenWorld(m_folder.Path("out.gif"), true));
    EXPECT_EQ(gif.m_nBitCount, 8);
}

}  // namespace
}  // namespace gridmorph
