// The command line's coordinate systems, GeoTIFF placement, locator files and the
// fourth-corner check, read back by GDAL (Debian's gdal-bin) as another GIS reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "batch/RectifyOptions.h"
#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "support/TestSupport.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

test::SCommandResult Cli(const std::string& strArguments)
{
    return test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1");
}

// The two numbers after strLabel in gdalinfo's text, "Upper Left  (  500000.000, 6100088.000)".
bool CornerOf(const std::string& strInfo, const std::string& strLabel, double& dX, double& dY)
{
    const std::size_t nAt = strInfo.find(strLabel);
    if (nAt == std::string::npos)
        return false;
    const char* pText = strInfo.c_str() + strInfo.find('(', nAt) + 1;
    const char* pEnd = nullptr;
    dX = ScanNumber(pText, &pEnd);
    dY = ScanNumber(pEnd + 1);
    return true;
}

struct SGdalCase {
    const char* pName;
    const char* pExtension;
    const char* pSrs;             // "" for none
    const char* pGdalSystem;      // what gdalsrsinfo -o epsg prints, or a part of -o proj4
};

class GdalReadsOutputsTest : public test::CPlatformTest, public ::testing::WithParamInterface<SGdalCase> {
protected:
    test::CTempFolder m_folder;
};

TEST_P(GdalReadsOutputsTest, PlacementAndSystemAsTheWorldFileAndSrsGiveThem)
{
    const SGdalCase& c = GetParam();
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 40, 30);
    image.SetEdges({500001.0, 6100086.5, 500079.25, 6099999.5});  // 2.006... m by 3 m pixels
    ASSERT_EQ(image.SaveWorldSilent(m_folder.Path("in.png")), ESaveResult::Written);
    const std::string strOut = m_folder.Path(std::string("out.") + c.pExtension);
    const std::string strSrs = *c.pSrs ? std::string(" --srs '") + c.pSrs + "'" : std::string();
    const test::SCommandResult run = Cli("convert " + m_folder.Path("in.png") + " " + strOut + strSrs);
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;

    // The corners the world file gives: its lines 5 and 6 are the first pixel's centre.
    SWorldFileValues world;
    ASSERT_EQ(ReadWorldFileValues(FindWorldFile(strOut), world), EWorldFileRead::Read);
    const double dWest = world.dEastingTopLeft - world.dResolutionWestEast / 2;
    const double dNorth = world.dNorthingTopLeft - world.dResolutionSouthNorth / 2;
    const double dEast = dWest + 40 * world.dResolutionWestEast;
    const double dSouth = dNorth + 30 * world.dResolutionSouthNorth;

    const bool bTiff = std::string(c.pExtension) == "tif";
    // A TIFF is placed by its own tags as well: GDAL gives the same corners without the world file.
    for (const bool bWithWorldFile : bTiff ? std::vector<bool>{true, false} : std::vector<bool>{true}) {
        if (!bWithWorldFile)
            std::filesystem::remove(FindWorldFile(strOut));
        const test::SCommandResult info = test::RunCommand("gdalinfo " + strOut + " 2>&1");
        ASSERT_EQ(info.nExitCode, 0) << "gdalinfo (Debian's gdal-bin) is needed for this check:\n" << info.strOutput;
        double dX = 0, dY = 0;
        ASSERT_TRUE(CornerOf(info.strOutput, "Upper Left", dX, dY)) << info.strOutput;
        EXPECT_NEAR(dX, dWest, 0.0005) << "world file " << bWithWorldFile;
        EXPECT_NEAR(dY, dNorth, 0.0005) << "world file " << bWithWorldFile;
        ASSERT_TRUE(CornerOf(info.strOutput, "Lower Right", dX, dY)) << info.strOutput;
        EXPECT_NEAR(dX, dEast, 0.0005) << "world file " << bWithWorldFile;
        EXPECT_NEAR(dY, dSouth, 0.0005) << "world file " << bWithWorldFile;
        EXPECT_EQ(info.strOutput.find("Warning"), std::string::npos) << info.strOutput;
        EXPECT_EQ(info.strOutput.find("ERROR"), std::string::npos) << info.strOutput;
    }

    // The system: in the TIFF's keys, and in the .prj beside any output.
    const std::string strPrj = m_folder.Path("out.prj");
    EXPECT_EQ(std::filesystem::exists(strPrj), *c.pSrs != '\0');
    if (!*c.pSrs) {
        const test::SCommandResult info = test::RunCommand("gdalinfo " + strOut + " 2>&1");
        EXPECT_EQ(info.strOutput.find("Coordinate System is:"), std::string::npos) << info.strOutput;
        return;
    }
    const bool bEpsg = std::string(c.pGdalSystem).rfind("EPSG:", 0) == 0;
    for (const std::string& strSource : bTiff ? std::vector<std::string>{strOut, strPrj} : std::vector<std::string>{strPrj}) {
        const test::SCommandResult srs =
            test::RunCommand(std::string("gdalsrsinfo -o ") + (bEpsg ? "epsg " : "proj4 ") + strSource + " 2>&1");
        EXPECT_NE(srs.strOutput.find(c.pGdalSystem), std::string::npos) << strSource << ":\n" << srs.strOutput;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, GdalReadsOutputsTest,
    ::testing::Values(
        SGdalCase{"Tiff", "tif", "", ""}, SGdalCase{"Png", "png", "", ""}, SGdalCase{"Jpeg", "jpg", "", ""},
        SGdalCase{"TiffBritishGrid", "tif", "EPSG:27700", "EPSG:27700"},
        SGdalCase{"PngBritishGrid", "png", "EPSG:27700", "EPSG:27700"},
        SGdalCase{"JpegBritishGrid", "jpg", "EPSG:27700", "EPSG:27700"},
        SGdalCase{"TiffUtmFromProjString", "tif", "+proj=utm +zone=30 +datum=WGS84", "EPSG:32630"},
        SGdalCase{"TiffWithoutEpsgCode", "tif", "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996 +x_0=400000 +ellps=airy",
                  "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996 +x_0=400000"},
        SGdalCase{"PngWithoutEpsgCode", "png", "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996 +x_0=400000 +ellps=airy",
                  "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996 +x_0=400000"}),
    [](const ::testing::TestParamInfo<SGdalCase>& info) { return std::string(info.param.pName); });

class GeoCliTest : public test::CPlatformTest {
protected:
    // A 24-bit scan of 200 x 200 pixels.
    std::string MakeScan()
    {
        CDIBImage scan;
        test::MakePatternPicture(scan, 24, 200, 200);
        const std::string strPath = m_folder.Path("scan.png");
        EXPECT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
        return strPath;
    }
    test::CTempFolder m_folder;
};

TEST_F(GeoCliTest, InfoAndWorldShowTheGeoTiffPlacementAndSystem)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 11, 6);
    image.SetEdges({1000, 1050, 1100, 1000});  // 10 m pixels
    ASSERT_EQ(image.SaveWorldSilent(m_folder.Path("map.png")), ESaveResult::Written);
    test::SCommandResult run =
        Cli("convert " + m_folder.Path("map.png") + " " + m_folder.Path("map.tif") + " --srs EPSG:27700");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    std::filesystem::remove(m_folder.Path("map.TFW"));

    run = Cli("info " + m_folder.Path("map.tif"));
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput,
              "type: TIFF\nwidth: 11\nheight: 6\ndepth: 24\ncolours: 0\ngeotiff: north-up\n"
              "geotiff_pixel_width: 10.000000\ngeotiff_pixel_height: 10.000000\n"
              "geotiff_outside_west: 995.000000\ngeotiff_outside_north: 1055.000000\n"
              "geotiff_outside_east: 1105.000000\ngeotiff_outside_south: 995.000000\n"
              "geotiff_system: EPSG:27700 (OSGB36 / British National Grid)\n");
    run = Cli("world " + m_folder.Path("map.tif"));
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput,
              "west: 1000.000000\nnorth: 1050.000000\neast: 1100.000000\nsouth: 1000.000000\n"
              "outside_west: 995.000000\noutside_north: 1055.000000\noutside_east: 1105.000000\n"
              "outside_south: 995.000000\nplacement: GeoTIFF\nsystem: EPSG:27700 (OSGB36 / British National Grid)\n");
    // A plain picture's info is as it always was.
    run = Cli("info " + m_folder.Path("map.png"));
    EXPECT_EQ(run.strOutput, "type: PNG\nwidth: 11\nheight: 6\ndepth: 24\ncolours: 0\n");
}

TEST_F(GeoCliTest, AnUnusableSrsIsRefusedBeforeAnyWork)
{
    const std::string strScan = MakeScan();
    struct SCase {
        std::string strArguments;
        const char* pMessage;
    };
    const SCase aCases[] = {
        {"convert " + strScan + " " + m_folder.Path("a.tif") + " --srs EPSG:99999",
         "gridmorph-cli: --srs: 'EPSG:99999' is not a coordinate system for a map: proj_create: crs not found; see "
         "gridmorph-cli --help\n"},
        {"convert " + strScan + " " + m_folder.Path("a.tif") + " --srs EPSG:4978",
         "gridmorph-cli: --srs: 'EPSG:4978' is not a coordinate system for a map: it is not a projected or a "
         "two-dimensional geographic coordinate system; see gridmorph-cli --help\n"},
        {"info " + strScan + " --srs EPSG:27700",
         "gridmorph-cli: --srs is for the commands that write a map (convert, crop, mosaic, rectify); see "
         "gridmorph-cli --help\n"},
    };
    for (const SCase& c : aCases) {
        const test::SCommandResult run = Cli(c.strArguments);
        EXPECT_EQ(run.nExitCode, 2) << c.strArguments;
        EXPECT_EQ(run.strOutput, c.pMessage);
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("a.tif")));
}

// The scan's grid corners 160 m apart: (30,10), (190,22), (178,182); the fourth at (18,170).
constexpr char kLocators[] = " --p1 30,10,1000,2160 --p2 190,22 --p3 178,182,1160,2000";

TEST_F(GeoCliTest, APointsFileSavedByOneRunDrivesTheNext)
{
    const std::string strScan = MakeScan();
    test::SCommandResult first = Cli("rectify " + strScan + " " + m_folder.Path("a.png") + kLocators +
                                     " --srs EPSG:27700 --save-points " + m_folder.Path("corners.points"));
    ASSERT_EQ(first.nExitCode, 0) << first.strOutput;
    const std::vector<std::uint8_t> aPoints = test::ReadBytes(m_folder.Path("corners.points"));
    const std::string strPoints(aPoints.begin(), aPoints.end());
    EXPECT_EQ(strPoints.rfind("#CRS: PROJCRS[\"OSGB36 / British National Grid\"", 0), 0u) << strPoints;
    EXPECT_NE(strPoints.find("\nmapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n"
                             "1000.000000,2160.000000,30.5,-10.5,1,0,0,0\n"
                             "1160.000000,2160.000000,190.5,-22.5,1,0,0,0\n"
                             "1160.000000,2000.000000,178.5,-182.5,1,0,0,0\n"),
              std::string::npos)
        << strPoints;

    const test::SCommandResult second =
        Cli("rectify " + strScan + " " + m_folder.Path("b.png") + " --points " + m_folder.Path("corners.points"));
    ASSERT_EQ(second.nExitCode, 0) << second.strOutput;
    EXPECT_EQ(second.strOutput, first.strOutput);
    EXPECT_EQ(test::ReadBytes(m_folder.Path("b.png")), test::ReadBytes(m_folder.Path("a.png")));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("b.PGW")), test::ReadBytes(m_folder.Path("a.PGW")));

    // A wrong row stops the work with its line; --points does not mix with the other locators.
    test::WriteBytes(m_folder.Path("bad.points"), std::vector<std::uint8_t>(aPoints.begin(), aPoints.end() - 9));
    test::SCommandResult run =
        Cli("rectify " + strScan + " " + m_folder.Path("c.png") + " --points " + m_folder.Path("bad.points"));
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_EQ(run.strOutput, "gridmorph-cli: rectify failed: " + m_folder.Path("bad.points") +
                                 ": line 5: 4 fields; a row gives mapX,mapY,sourceX,sourceY,enable\n");
    run = Cli("rectify " + strScan + " " + m_folder.Path("c.png") + " --points " + m_folder.Path("corners.points") +
              " --p1 30,10,1000,2160");
    EXPECT_EQ(run.nExitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("c.png")));
}

// Map positions the output's system cannot have (metres in a system of degrees) are
// refused as a wrong command line, whether --srs names the system or the scan's .prj
// does; positions far outside a projected system's area are warned of.
TEST_F(GeoCliTest, MapPositionsTheOutputSystemCannotHaveAreRefused)
{
    const std::string strScan = MakeScan();
    constexpr char kMetres[] = " --p1 30,10,500000,6231776 --p2 190,22 --p3 178,182,500160,6231616";
    test::SCommandResult run = Cli("rectify " + strScan + " " + m_folder.Path("a.png") + kMetres + " --srs EPSG:4326");
    EXPECT_EQ(run.nExitCode, 2);
    EXPECT_EQ(run.strOutput,
              "gridmorph-cli: point 1's map position 500000, 6231776 cannot lie in EPSG:4326 (WGS 84), a geographic "
              "system in degrees: its easting (longitude) 500000 lies beyond 180 degrees east or west; see "
              "gridmorph-cli --help\n");
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("a.png")));

    // The scan names the system in its .prj: refused once the scan is open.
    SCoordinateSystem degrees;
    std::string strReason;
    ASSERT_TRUE(ResolveCoordinateSystem("EPSG:4326", degrees, strReason)) << strReason;
    const std::string& strWkt = degrees.geoSystem.strEsriWkt;
    test::WriteBytes(m_folder.Path("scan.prj"), std::vector<std::uint8_t>(strWkt.begin(), strWkt.end()));
    run = Cli("rectify " + strScan + " " + m_folder.Path("b.png") + " --p1 30,10,10,95 --p2 190,22 --p3 178,182,26,79");
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find("point 1's map position 10, 95 cannot lie in EPSG:4326 (WGS 84), a geographic "
                                 "system in degrees: its northing (latitude) 95 lies beyond 90 degrees north or south"),
              std::string::npos)
        << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("b.png")));
    run = Cli("rectify " + strScan + " " + m_folder.Path("b.png") + " --p1 30,10,10,60 --p2 190,22 --p3 178,182,26,44");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    std::filesystem::remove(m_folder.Path("scan.prj"));

    // A projected system: far from its area is a warning, the map is made all the same.
    run = Cli("rectify " + strScan + " " + m_folder.Path("c.png") + kMetres + " --srs EPSG:27700");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_NE(run.strOutput.find("warning: point 1's map position 500000, 6231776 lies far outside the area where "
                                 "EPSG:27700 (OSGB36 / British National Grid) is used"),
              std::string::npos)
        << run.strOutput;
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("c.png")));
    run = Cli("rectify " + strScan + " " + m_folder.Path("d.png") + kMetres + " --srs EPSG:32633");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("warning"), std::string::npos) << run.strOutput;
}

// A batch row is read as rectify's command line: the same positions are refused there.
TEST_F(GeoCliTest, ABatchRowWithPositionsItsSystemCannotHaveIsRefused)
{
    const std::map<std::string, std::string> aOptions = {{"--p1", "30,10,500000,6231776"},
                                                         {"--p2", "190,22"},
                                                         {"--p3", "178,182,500160,6231616"},
                                                         {"--srs", "EPSG:4326"}};
    SRectifyJob job;
    std::optional<SCoordinateSystem> system;
    const std::string strProblem =
        ReadRectifyRow(aOptions, m_folder.Path("scan.png"), m_folder.Path("out.png"), job, system);
    EXPECT_NE(strProblem.find("point 1's map position 500000, 6231776 cannot lie in EPSG:4326 (WGS 84)"),
              std::string::npos)
        << strProblem;
    std::map<std::string, std::string> aProjected = aOptions;
    aProjected["--srs"] = "EPSG:32633";
    EXPECT_EQ(ReadRectifyRow(aProjected, m_folder.Path("scan.png"), m_folder.Path("out.png"), job, system), "");
}

// The system a points file's #CRS: line names is the rectified map's, unless --srs names
// one; then --srs wins, and a different system in the file is said.
TEST_F(GeoCliTest, APointsFilesSystemIsTheOutputsUnlessSrsIsGiven)
{
    const std::string strScan = MakeScan();
    ASSERT_EQ(Cli("rectify " + strScan + " " + m_folder.Path("a.tif") + kLocators +
                  " --srs EPSG:27700 --save-points " + m_folder.Path("corners.points"))
                  .nExitCode,
              0);
    const std::string strPoints = m_folder.Path("corners.points");

    test::SCommandResult run = Cli("rectify " + strScan + " " + m_folder.Path("b.tif") + " --points " + strPoints +
                                   " --save-points " + m_folder.Path("again.points"));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("note:"), std::string::npos) << run.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("b.prj")), test::ReadBytes(m_folder.Path("a.prj")));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("again.points")), test::ReadBytes(strPoints));
    run = Cli("world " + m_folder.Path("b.tif"));
    EXPECT_NE(run.strOutput.find("system: EPSG:27700"), std::string::npos) << run.strOutput;

    // The same system given again is no news; another is said, and used.
    run = Cli("rectify " + strScan + " " + m_folder.Path("c.tif") + " --points " + strPoints + " --srs EPSG:27700");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("note:"), std::string::npos) << run.strOutput;
    run = Cli("rectify " + strScan + " " + m_folder.Path("d.tif") + " --points " + strPoints + " --srs EPSG:32630");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_NE(run.strOutput.find("gridmorph-cli: note: --srs EPSG:32630 (EPSG:32630) is used, not the system " +
                                 strPoints + " names (EPSG:27700)\n"),
              std::string::npos)
        << run.strOutput;
    run = Cli("world " + m_folder.Path("d.tif"));
    EXPECT_NE(run.strOutput.find("system: EPSG:32630"), std::string::npos) << run.strOutput;

    // A #CRS: line PROJ does not know stops the work, naming the file.
    {
        const std::vector<std::uint8_t> aPoints = test::ReadBytes(strPoints);
        std::string strText(aPoints.begin(), aPoints.end());
        strText.replace(0, strText.find('\n'), "#CRS: NOT A SYSTEM");
        test::WriteBytes(m_folder.Path("unknown.points"), std::vector<std::uint8_t>(strText.begin(), strText.end()));
    }
    run = Cli("rectify " + strScan + " " + m_folder.Path("e.tif") + " --points " + m_folder.Path("unknown.points"));
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find(m_folder.Path("unknown.points") + ": the #CRS: line names no coordinate system"),
              std::string::npos)
        << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("e.tif")));
}

struct SFourthCornerRun {
    const char* pP4;  // "" for none
    const char* pLines;
    bool bWarning;
};

class FourthCornerCliTest : public GeoCliTest, public ::testing::WithParamInterface<SFourthCornerRun> {};

TEST_P(FourthCornerCliTest, RectifyReportsTheFourthCorner)
{
    const SFourthCornerRun& c = GetParam();
    const std::string strScan = MakeScan();
    const test::SCommandResult run = Cli("rectify " + strScan + " " + m_folder.Path("out.png") + kLocators +
                                         (*c.pP4 ? std::string(" --p4 ") + c.pP4 : std::string()));
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_NE(run.strOutput.find(std::string("resolution: 0.997199\n") + c.pLines), std::string::npos) << run.strOutput;
    const std::size_t nWarning = run.strOutput.find("gridmorph-cli: warning: the fourth corner ");
    EXPECT_EQ(nWarning != std::string::npos, c.bWarning) << run.strOutput;
}

INSTANTIATE_TEST_SUITE_P(
    Corners, FourthCornerCliTest,
    ::testing::Values(SFourthCornerRun{"", "fourth_corner_x: 18.000000\nfourth_corner_y: 170.000000\n", false},
                      SFourthCornerRun{"18,170",
                                       "fourth_corner_x: 18.000000\nfourth_corner_y: 170.000000\n"
                                       "fourth_corner_mismatch_pixels: 0.000000\nfourth_corner_mismatch_metres: 0.000000\n",
                                       false},
                      // The scan's corner drawn 5 pixels off: a locator on the wrong grid line.
                      SFourthCornerRun{"23,170",
                                       "fourth_corner_x: 18.000000\nfourth_corner_y: 170.000000\n"
                                       "fourth_corner_mismatch_pixels: 5.000000\nfourth_corner_mismatch_metres: 4.985997\n",
                                       true},
                      SFourthCornerRun{"21,174",
                                       "fourth_corner_x: 18.000000\nfourth_corner_y: 170.000000\n"
                                       "fourth_corner_mismatch_pixels: 5.000000\nfourth_corner_mismatch_metres: 4.985997\n",
                                       true},
                      SFourthCornerRun{"20,170",
                                       "fourth_corner_x: 18.000000\nfourth_corner_y: 170.000000\n"
                                       "fourth_corner_mismatch_pixels: 2.000000\nfourth_corner_mismatch_metres: 1.994399\n",
                                       false}));

}  // namespace
}  // namespace gridmorph
