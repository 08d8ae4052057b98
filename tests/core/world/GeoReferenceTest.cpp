// Coordinate systems through PROJ, the GeoTIFF tags of saved maps, and maps placed by their
// GeoTIFF tags when they have no world file.
#include <geotiff.h>
#include <geovalues.h>
#include <gtest/gtest.h>

#include <cmath>
#include <tiffio.h>
#include <xtiffio.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "errors/ErrorText.h"
#include "image/codecs/GeoTiffTags.h"
#include "support/TestSupport.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

struct SSystemCase {
    const char* pDefinition;
    bool bResolved;
    int nEpsgCode;
    bool bGeographic;
    const char* pNameOrReason;  // the system's name, or a part of the reason it is refused
};

class CoordinateSystemTest : public ::testing::TestWithParam<SSystemCase> {};

TEST_P(CoordinateSystemTest, ProjResolvesTheDefinitionOrSaysWhyNot)
{
    const SSystemCase& c = GetParam();
    SCoordinateSystem system;
    std::string strReason;
    ASSERT_EQ(ResolveCoordinateSystem(c.pDefinition, system, strReason), c.bResolved) << strReason;
    if (!c.bResolved) {
        EXPECT_NE(strReason.find(c.pNameOrReason), std::string::npos) << strReason;
        return;
    }
    EXPECT_EQ(system.strDefinition, c.pDefinition);
    EXPECT_EQ(system.geoSystem.nEpsgCode, c.nEpsgCode);
    EXPECT_EQ(system.geoSystem.bGeographic, c.bGeographic);
    EXPECT_EQ(system.geoSystem.strName, c.pNameOrReason);
    // The .prj text is ESRI's WKT; .points files get WKT2, on one line.
    EXPECT_EQ(system.geoSystem.strEsriWkt.rfind(c.bGeographic ? "GEOGCS[" : "PROJCS[", 0), 0u)
        << system.geoSystem.strEsriWkt;
    EXPECT_EQ(system.strWkt.find('\n'), std::string::npos);
    EXPECT_EQ(system.geoSystem.nLinearUnitCode, c.bGeographic ? 0 : 9001);  // metre
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, CoordinateSystemTest,
    ::testing::Values(
        SSystemCase{"EPSG:27700", true, 27700, false, "OSGB36 / British National Grid"},
        SSystemCase{"EPSG:4326", true, 4326, true, "WGS 84"},
        // A PROJ string is a system once it says so; PROJ finds the EPSG system it equals.
        SSystemCase{"+proj=utm +zone=30 +datum=WGS84", true, 32630, false, "WGS 84 / UTM zone 30N"},
        SSystemCase{"+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996 +x_0=400000 +y_0=-100000 +ellps=airy +units=m", true,
                    0, false, "unknown"},
        SSystemCase{"EPSG:99999", false, 0, false, "crs not found"},
        SSystemCase{"EPSG:4978", false, 0, false, "not a projected or a two-dimensional geographic"},
        SSystemCase{"no such system", false, 0, false, "unrecognized format"}));

TEST(CoordinateSystemDescriptionTest, NamesTheSystemFromItsCodeOrItsWkt)
{
    SGeoSystem coded;
    coded.nEpsgCode = 27700;
    EXPECT_EQ(DescribeGeoSystem(coded), "EPSG:27700 (OSGB36 / British National Grid)");
    SCoordinateSystem custom;
    std::string strReason;
    ASSERT_TRUE(ResolveCoordinateSystem("+proj=tmerc +lon_0=3 +ellps=GRS80 +units=m", custom, strReason)) << strReason;
    SGeoSystem fromKeys;
    fromKeys.strEsriWkt = custom.geoSystem.strEsriWkt;
    EXPECT_EQ(DescribeGeoSystem(fromKeys), "user-defined (unknown)");
}

class GeoTiffTest : public test::CPlatformTest {
protected:
    // A 24-bit map of 40 x 30 pixels of 2 m by 3 m, saved with its world file.
    void SavePlacedMap(const std::string& strPath, const SEncodeOptions& options = SEncodeOptions())
    {
        CDIBWorld image;
        test::MakePatternPicture(image, 24, 40, 30);
        image.SetEdges({500001.0, 6100086.5, 500079.0, 6099999.5});
        ASSERT_EQ(image.SaveWorldSilent(strPath, options), ESaveResult::Written) << image.GetErrorMessage();
    }

    // Writes a 4 x 3 grey TIFF and lets fnTags add its GeoTIFF tags.
    static void WriteTiff(const std::string& strPath, const std::function<void(TIFF*)>& fnTags)
    {
        RegisterGeoTiffTags();
        TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
        ASSERT_NE(pTiff, nullptr);
        TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, 4u);
        TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, 3u);
        TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, 3u);
        fnTags(pTiff);
        std::uint8_t aRow[4] = {0, 85, 170, 255};
        for (std::uint32_t y = 0; y < 3; ++y)
            TIFFWriteScanline(pTiff, aRow, y, 0);
        TIFFClose(pTiff);
    }

    test::CTempFolder m_folder;
};

TEST_F(GeoTiffTest, AMapOfOneRowOrColumnIsSavedNorthUp)
{
    // A one-row map has no pixel height of its own (found by fuzz_geotiff: a 24 x 1 GeoTIFF
    // read north-up was written back south-up).
    const struct {
        int nWidth, nHeight;
    } aSizes[] = {{24, 1}, {1, 24}, {1, 1}};
    for (const auto& size : aSizes) {
        CDIBWorld map;
        ASSERT_TRUE(map.CreateImage(24, size.nWidth, size.nHeight, FILL_WHITE, 0, 0, 0, nullptr));
        map.SetEdges({14.005, 50.095, 14.005 + 0.01 * (size.nWidth - 1), 50.095 - 0.01 * (size.nHeight - 1)});
        ASSERT_EQ(map.SaveWorldSilent(m_folder.Path("line.tif")), ESaveResult::Written);
        const SGeoTiffInfo info = ReadGeoTiffInfo(m_folder.Path("line.tif"));
        EXPECT_EQ(info.ePlacement, EGeoTiffPlacement::NorthUp) << size.nWidth << " x " << size.nHeight;
        EXPECT_GT(info.geoReference.dPixelHeight, 0) << size.nWidth << " x " << size.nHeight;
    }
}

TEST_F(GeoTiffTest, ASavedTiffCarriesTheWorldFilesPlacementAndTheOutputSystem)
{
    SCoordinateSystem system;
    std::string strReason;
    ASSERT_TRUE(ResolveCoordinateSystem("EPSG:27700", system, strReason)) << strReason;
    SEncodeOptions options;
    options.system = system.geoSystem;
    SavePlacedMap(m_folder.Path("map.tif"), options);
    const SGeoTiffInfo info = ReadGeoTiffInfo(m_folder.Path("map.tif"));
    ASSERT_EQ(info.ePlacement, EGeoTiffPlacement::NorthUp);
    EXPECT_EQ(info.geoReference.dPixelWidth, 2.0);
    EXPECT_EQ(info.geoReference.dPixelHeight, 3.0);
    EXPECT_EQ(info.geoReference.dOuterWest, 500000.0);  // half a pixel west of the first centre
    EXPECT_EQ(info.geoReference.dOuterNorth, 6100088.0);
    ASSERT_TRUE(info.geoReference.system.has_value());
    EXPECT_EQ(info.geoReference.system->nEpsgCode, 27700);
    EXPECT_FALSE(info.geoReference.system->bGeographic);
    EXPECT_EQ(info.geoReference.system->nLinearUnitCode, 9001);
    EXPECT_EQ(info.geoReference.system->strName, "OSGB36 / British National Grid");
    EXPECT_EQ(test::ReadBytes(m_folder.Path("map.prj")),
              std::vector<std::uint8_t>(system.geoSystem.strEsriWkt.begin(), system.geoSystem.strEsriWkt.end()));
    // The georeference was the save's only: the next save of a plain picture has none.
    CDIBImage plain;
    test::MakePatternPicture(plain, 8, 5, 5);
    ASSERT_EQ(plain.SaveDIB(m_folder.Path("plain.tif")), ESaveResult::Written);
    EXPECT_EQ(ReadGeoTiffInfo(m_folder.Path("plain.tif")).ePlacement, EGeoTiffPlacement::None);
}

TEST_F(GeoTiffTest, WithoutAnOutputSystemTheTiffIsPlacedButNamesNoSystemAndGetsNoPrj)
{
    SavePlacedMap(m_folder.Path("map.tif"));
    const SGeoTiffInfo info = ReadGeoTiffInfo(m_folder.Path("map.tif"));
    EXPECT_EQ(info.ePlacement, EGeoTiffPlacement::NorthUp);
    EXPECT_FALSE(info.geoReference.system.has_value());
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("map.prj")));
}

TEST_F(GeoTiffTest, ATiffWithoutWorldFileTakesItsEdgesFromItsTags)
{
    SavePlacedMap(m_folder.Path("map.tif"));
    CDIBWorld withWorldFile;
    ASSERT_TRUE(withWorldFile.OpenWorld(m_folder.Path("map.tif"), true));
    std::filesystem::remove(m_folder.Path("map.TFW"));
    CDIBWorld withTags;
    ASSERT_TRUE(withTags.OpenWorld(m_folder.Path("map.tif"), true));
    EXPECT_EQ(withTags.GetWest(), withWorldFile.GetWest());
    EXPECT_EQ(withTags.GetNorth(), withWorldFile.GetNorth());
    EXPECT_EQ(withTags.GetEast(), withWorldFile.GetEast());
    EXPECT_EQ(withTags.GetSouth(), withWorldFile.GetSouth());
    EXPECT_TRUE(MessageTexts().empty());
}

struct SPlacementCase {
    const char* pName;
    std::function<void(TIFF*)> fnTags;
    bool bPlaced;
    double dWest, dNorth, dEast, dSouth;  // edges at pixel centres when placed
};

class GeoTiffPlacementTest : public GeoTiffTest, public ::testing::WithParamInterface<SPlacementCase> {};

TEST_P(GeoTiffPlacementTest, OnlyANorthUpPlacementGivesEdges)
{
    const SPlacementCase& c = GetParam();
    const std::string strPath = m_folder.Path("tagged.tif");
    WriteTiff(strPath, c.fnTags);
    CDIBWorld image;
    ASSERT_TRUE(image.OpenWorld(strPath, false));
    ASSERT_EQ(image.HasWorld(), c.bPlaced);
    if (c.bPlaced) {
        EXPECT_DOUBLE_EQ(image.GetWest(), c.dWest);
        EXPECT_DOUBLE_EQ(image.GetNorth(), c.dNorth);
        EXPECT_DOUBLE_EQ(image.GetEast(), c.dEast);
        EXPECT_DOUBLE_EQ(image.GetSouth(), c.dSouth);
        EXPECT_TRUE(MessageTexts().empty());
        return;
    }
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("Only north-up maps can be placed; it has no map edges."), std::string::npos)
        << MessageTexts()[0];
    // A map that must be placed is refused.
    CDIBWorld required;
    EXPECT_FALSE(required.OpenWorld(strPath, true));
    EXPECT_EQ(required.m_nErrorNumber, ERR_NO_WORLD_INFORMATION);
}

void ScaleAndTie(TIFF* pTiff, double dI, double dJ, double dX, double dY)
{
    double aScale[3] = {10, 20, 0};
    double aTie[6] = {dI, dJ, 0, dX, dY, 0};
    TIFFSetField(pTiff, TIFFTAG_GEOPIXELSCALE, 3, aScale);
    TIFFSetField(pTiff, TIFFTAG_GEOTIEPOINTS, 6, aTie);
}

void Matrix(TIFF* pTiff, double dB, double dD)
{
    double aMatrix[16] = {10, dB, 0, 1000, dD, -20, 0, 2000, 0, 0, 0, 0, 0, 0, 0, 1};
    TIFFSetField(pTiff, TIFFTAG_GEOTRANSMATRIX, 16, aMatrix);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, GeoTiffPlacementTest,
    ::testing::Values(
        // 10 m by 20 m pixels, outer corner 1000, 2000: centres 1005..1035, 1990..1950.
        SPlacementCase{"ScaleAndTiePoint", [](TIFF* p) { ScaleAndTie(p, 0, 0, 1000, 2000); }, true, 1005, 1990, 1035,
                       1950},
        SPlacementCase{"TiePointInsideThePicture", [](TIFF* p) { ScaleAndTie(p, 2, 1, 1020, 1980); }, true, 1005, 1990,
                       1035, 1950},
        SPlacementCase{"PixelIsPoint",
                       [](TIFF* p) {
                           ScaleAndTie(p, 0, 0, 1005, 1990);  // the tie point is the first pixel's centre
                           GTIF* pKeys = GTIFNew(p);
                           GTIFKeySet(pKeys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsPoint);
                           GTIFWriteKeys(pKeys);
                           GTIFFree(pKeys);
                       },
                       true, 1005, 1990, 1035, 1950},
        SPlacementCase{"NorthUpMatrix", [](TIFF* p) { Matrix(p, 0, 0); }, true, 1005, 1990, 1035, 1950},
        SPlacementCase{"RotatedMatrix", [](TIFF* p) { Matrix(p, 2, 1); }, false, 0, 0, 0, 0},
        SPlacementCase{"ControlPoints",
                       [](TIFF* p) {
                           double aTies[12] = {0, 0, 0, 1000, 2000, 0, 3, 2, 0, 1030, 1960, 0};
                           TIFFSetField(p, TIFFTAG_GEOTIEPOINTS, 12, aTies);
                       },
                       false, 0, 0, 0, 0},
        SPlacementCase{"SouthUpScale",
                       [](TIFF* p) {
                           double aScale[3] = {10, -20, 0};
                           double aTie[6] = {0, 0, 0, 1000, 2000, 0};
                           TIFFSetField(p, TIFFTAG_GEOPIXELSCALE, 3, aScale);
                           TIFFSetField(p, TIFFTAG_GEOTIEPOINTS, 6, aTie);
                       },
                       false, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<SPlacementCase>& info) { return std::string(info.param.pName); });

TEST_F(GeoTiffTest, APlacementWithAbsurdNumbersIsDamagedNotRotated)
{
    struct SCase {
        const char* pName;
        double dScaleX, dScaleY, dTieX, dTieY;
    };
    const SCase aCases[] = {
        {"huge scale", 1e308, 20, 1000, 2000},
        {"tiny scale", 1e-300, 20, 1000, 2000},
        {"denormal scale", 10, 4.9e-324, 1000, 2000},
        {"zero scale", 0, 20, 1000, 2000},
        {"not a number", std::nan(""), 20, 1000, 2000},
        {"infinite tie point", 10, 20, HUGE_VAL, 2000},
        {"edges beyond any map", 10, 20, 1e300, 2000},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        const std::string strPath = m_folder.Path("damaged.tif");
        WriteTiff(strPath, [&](TIFF* pTiff) {
            double aScale[3] = {aCase.dScaleX, aCase.dScaleY, 0};
            double aTie[6] = {0, 0, 0, aCase.dTieX, aCase.dTieY, 0};
            TIFFSetField(pTiff, TIFFTAG_GEOPIXELSCALE, 3, aScale);
            TIFFSetField(pTiff, TIFFTAG_GEOTIEPOINTS, 6, aTie);
        });
        EXPECT_EQ(ReadGeoTiffInfo(strPath).ePlacement, EGeoTiffPlacement::Damaged);
        m_platform.ClearRecord();
        CDIBWorld image;
        ASSERT_TRUE(image.OpenWorld(strPath, false));
        EXPECT_FALSE(image.HasWorld());
        ASSERT_EQ(MessageTexts().size(), 1u);
        EXPECT_NE(MessageTexts()[0].find(" is damaged"), std::string::npos) << MessageTexts()[0];
        EXPECT_EQ(MessageTexts()[0].find("rotated"), std::string::npos) << MessageTexts()[0];
    }
}

TEST_F(GeoTiffTest, AWorldFileWithAbsurdMapPositionsIsRefusedBeforeAnyWork)
{
    SavePlacedMap(m_folder.Path("map.tif"));
    for (const char* pText : {"1e300\n0\n0\n-1\n1000\n2000\n", "1\n0\n0\n-1\n1e300\n2000\n", "1\n0\n0\n-1\n1000\nnan\n",
                              "1\n0\n0\n-1\n-inf\n2000\n"}) {
        SCOPED_TRACE(pText);
        const std::string strText = pText;
        test::WriteBytes(m_folder.Path("map.TFW"), std::vector<std::uint8_t>(strText.begin(), strText.end()));
        m_platform.ClearRecord();
        CDIBWorld image;
        EXPECT_FALSE(image.OpenWorld(m_folder.Path("map.tif"), false));
        EXPECT_NE(image.GetErrorMessage().find("The world file " + m_folder.Path("map.TFW") + " is damaged"),
                  std::string::npos)
            << image.GetErrorMessage();
    }
}

// A world file whose rotation terms are not zero places no north-up map: its edges
// alone would put every pixel but the top-left one in the wrong place.
TEST_F(GeoTiffTest, AWorldFileWithRotationTermsIsRefused)
{
    SavePlacedMap(m_folder.Path("map.tif"));
    struct SCase {
        const char* pText;
        const char* pTerms;  // "" when the file places the map
    };
    const SCase aCases[] = {{"2\r\n0.5\r\n0.5\r\n-3\r\n500001\r\n6100086.5\r\n", "(0.5, 0.5)"},
                            {"2\n0\n-0.25\n-3\n500001\n6100086.5\n", "(0, -0.25)"},
                            {"2\n0.000001\n0\n-3\n500001\n6100086.5\n", "(0.000001, 0)"},
                            {"2\n0.0\n-0.000000\n-3\n500001\n6100086.5\n", ""},
                            // Rounding noise of another program: no pixel moves by a thousandth.
                            {"2\n1e-12\n-2.5e-11\n-3\n500001\n6100086.5\n", ""}};
    for (const SCase& c : aCases) {
        SCOPED_TRACE(c.pText);
        const std::string strText = c.pText;
        test::WriteBytes(m_folder.Path("map.TFW"), std::vector<std::uint8_t>(strText.begin(), strText.end()));
        m_platform.ClearRecord();
        for (const bool bRequireWorld : {false, true}) {
            CDIBWorld image;
            const SSilentResult opened = image.OpenWorldSilent(m_folder.Path("map.tif"), bRequireWorld);
            if (!*c.pTerms) {
                EXPECT_TRUE(opened.Succeeded()) << opened.FullText();
                EXPECT_TRUE(image.HasWorld());
                EXPECT_EQ(image.GetWest(), 500001.0);
                continue;
            }
            EXPECT_FALSE(opened.Succeeded());
            EXPECT_FALSE(image.HasWorld());
            EXPECT_EQ(opened.FullText(), "The world file " + m_folder.Path("map.TFW") + " has rotation terms " +
                                             c.pTerms +
                                             " on its lines 2 and 3; rotated world files are not supported, only "
                                             "north-up maps can be placed. Move the world file away to open the picture "
                                             "without a place.");
        }
    }
}

// Positions a geographic system cannot have are refused; positions far outside a
// projected system's area are warned of; plausible ones pass.
TEST(MapPositionCheckTest, GeographicRangesAreRefusedAndFarProjectedPositionsWarned)
{
    struct SCase {
        const char* pDefinition;
        double dEasting, dNorthing;
        const char* pRefusal;  // a part of the refusal, "" for none
        bool bWarning;
    };
    const SCase aCases[] = {
        {"EPSG:4326", 10.5, 50.25, "", false},
        {"EPSG:4326", -180, -90, "", false},
        {"EPSG:4326", 500000, 6231616,
         "point 3's map position 500000, 6231616 cannot lie in EPSG:4326 (WGS 84), a geographic system in degrees: "
         "its easting (longitude) 500000 lies beyond 180 degrees east or west",
         false},
        {"EPSG:4326", 10, 6231616, "its northing (latitude) 6231616 lies beyond 90 degrees north or south", false},
        {"EPSG:4326", 180.5, 0, "its easting (longitude) 180.5 lies beyond", false},
        {"EPSG:27700", 400000, 300000, "", false},
        {"EPSG:27700", 1000, 2160, "", false},  // small numbers near the grid's origin
        {"EPSG:27700", 400000, 6231616, "", true},
        {"EPSG:27700", -3000000, 300000, "", true},
        {"EPSG:32633", 500000, 6231616, "", false},
        {"EPSG:32633", 500000, 62316160, "", true},
    };
    for (const SCase& c : aCases) {
        SCOPED_TRACE(std::string(c.pDefinition) + " " + std::to_string(c.dEasting) + "," + std::to_string(c.dNorthing));
        SCoordinateSystem system;
        std::string strReason;
        ASSERT_TRUE(ResolveCoordinateSystem(c.pDefinition, system, strReason)) << strReason;
        const SPositionCheck check =
            CheckMapPositions(system.geoSystem, {{"point 1", 10, 50}, {"point 3", c.dEasting, c.dNorthing}});
        if (*c.pRefusal) {
            EXPECT_NE(check.strRefusal.find(c.pRefusal), std::string::npos) << check.strRefusal;
        } else {
            EXPECT_EQ(check.strRefusal, "");
        }
        EXPECT_EQ(!check.strWarning.empty(), c.bWarning) << check.strWarning;
        if (c.bWarning) {
            EXPECT_NE(check.strWarning.find("point 3's map position "), std::string::npos) << check.strWarning;
        }
    }
}

}  // namespace
}  // namespace gridmorph
