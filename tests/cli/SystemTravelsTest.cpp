// A map's coordinate system goes with it: read from its GeoTIFF keys or the .prj beside
// it, kept through crop, convert, the transform and a new background map, and written
// with every output unless --srs names another. GDAL (Debian's gdal-bin) reads the
// outputs back as another GIS would.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "document/MapDocument.h"
#include "image/codecs/GeoTiffTags.h"
#include "support/TestSupport.h"
#include "transform/LocatorSet.h"
#include "transform/Resample.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"
#include "world/NewBackgroundMap.h"

namespace gridmorph {
namespace {

test::SCommandResult Cli(const std::string& strArguments)
{
    return test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1");
}

SCoordinateSystem Resolved(const std::string& strDefinition)
{
    SCoordinateSystem system;
    std::string strReason;
    EXPECT_TRUE(ResolveCoordinateSystem(strDefinition, system, strReason)) << strReason;
    return system;
}

// The EPSG code of a file's system as the core reads it when it opens the map (0: none).
int CodeOpened(const std::string& strPath)
{
    CDIBWorld map;
    if (!map.OpenWorld(strPath, false))
        return -1;
    return map.CoordinateSystem() ? map.CoordinateSystem()->geoSystem.nEpsgCode : 0;
}

// How the input map carries its system.
enum class ECarrier { GeoTiffKeysOnly, PrjBesidePng, Wkt2PrjInUpperCase };

struct SInputCase {
    const char* pName;
    ECarrier eCarrier;
};

class SystemTravelsTest : public test::CPlatformTest, public ::testing::WithParamInterface<SInputCase> {
protected:
    // A 24-bit map of 200 x 200 pixels of 1 m in UTM zone 33N, its system carried as the
    // case says. Returns the input's path.
    std::string MakeInput()
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 200, 200);
        map.SetEdges({400000.0, 5600199.0, 400199.0, 5600000.0});
        const SCoordinateSystem utm = Resolved("EPSG:32633");
        SEncodeOptions options;
        options.system = utm.geoSystem;
        std::string strPath;
        switch (GetParam().eCarrier) {
        case ECarrier::GeoTiffKeysOnly:
            strPath = m_folder.Path("in.tif");
            EXPECT_EQ(map.SaveWorldSilent(strPath, options), ESaveResult::Written);
            // Only the TIFF's own tags place it and name its system.
            std::filesystem::remove(m_folder.Path("in.prj"));
            std::filesystem::remove(m_folder.Path("in.TFW"));
            break;
        case ECarrier::PrjBesidePng:
            strPath = m_folder.Path("in.png");
            EXPECT_EQ(map.SaveWorldSilent(strPath, options), ESaveResult::Written);
            break;
        case ECarrier::Wkt2PrjInUpperCase:
            strPath = m_folder.Path("in.png");
            EXPECT_EQ(map.SaveWorldSilent(strPath), ESaveResult::Written);
            test::WriteBytes(m_folder.Path("in.PRJ"), std::vector<std::uint8_t>(utm.strWkt.begin(), utm.strWkt.end()));
            break;
        }
        return strPath;
    }

    // The EPSG code GDAL finds in a file ("" when none).
    static std::string GdalCode(const std::string& strPath)
    {
        const test::SCommandResult run = test::RunCommand("gdalsrsinfo -o epsg '" + strPath + "' 2>&1");
        const std::size_t nAt = run.strOutput.find("EPSG:");
        return nAt == std::string::npos ? std::string() : run.strOutput.substr(nAt, run.strOutput.find_first_of("\r\n", nAt) - nAt);
    }

    test::CTempFolder m_folder;
};

TEST_P(SystemTravelsTest, TheOpenedMapKnowsItsSystem)
{
    const std::string strInput = MakeInput();
    CDIBWorld map;
    ASSERT_TRUE(map.OpenWorld(strInput, false)) << map.GetErrorMessage();
    EXPECT_TRUE(map.HasWorld());
    ASSERT_TRUE(map.CoordinateSystem().has_value());
    EXPECT_EQ(map.CoordinateSystem()->geoSystem.nEpsgCode, 32633);
    EXPECT_EQ(ShortNameOf(*map.CoordinateSystem()), "EPSG:32633");
    EXPECT_EQ(map.CoordinateSystem()->geoSystem.strName, "WGS 84 / UTM zone 33N");
    EXPECT_FALSE(map.CoordinateSystem()->geoSystem.strEsriWkt.empty());
}

TEST_P(SystemTravelsTest, EveryCommandsOutputInheritsTheInputsSystemUnlessSrsSaysOtherwise)
{
    const std::string strInput = MakeInput();
    const std::string strLocators = " --p1 20,20,400020,5600179 --p2 180,20 --p3 180,180,400180,5600019";
    struct SRun {
        const char* pName;
        std::string strArguments;  // after the output's name
        const char* pOutput;
        const char* pExpected;
        bool bEveryInput;  // else only from the GeoTIFF: the other inputs differ only in how they are read
    };
    const SRun aRuns[] = {
        {"crop", " --rect 10,10,50,40", "crop.tif", "EPSG:32633", true},
        {"crop", " --rect 10,10,50,40", "crop.png", "EPSG:32633", false},
        {"convert", "", "convert.tif", "EPSG:32633", false},
        {"convert", " --depth 8", "convert8.bmp", "EPSG:32633", false},
        {"convert", " --depth grey", "grey.png", "EPSG:32633", false},
        {"rectify", strLocators, "rectified.tif", "EPSG:32633", false},
        {"rectify", strLocators, "rectified.png", "EPSG:32633", true},
        {"convert", " --srs EPSG:32634", "other.tif", "EPSG:32634", false},
        {"crop", " --rect 0,0,20,20 --srs EPSG:32634", "other.png", "EPSG:32634", true},
    };
    const bool bGeoTiff = GetParam().eCarrier == ECarrier::GeoTiffKeysOnly;
    for (const SRun& r : aRuns) {
        if (!r.bEveryInput && !bGeoTiff)
            continue;
        SCOPED_TRACE(std::string(r.pName) + " " + r.pOutput);
        const std::string strOutput = m_folder.Path(r.pOutput);
        const test::SCommandResult run =
            Cli(std::string(r.pName) + " " + strInput + " " + strOutput + r.strArguments);
        ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
        const std::string strPrj = m_folder.Path(std::filesystem::path(r.pOutput).stem().string() + ".prj");
        EXPECT_EQ(GdalCode(strPrj), r.pExpected);
        if (std::filesystem::path(r.pOutput).extension() == ".tif") {
            std::filesystem::remove(strPrj);  // the TIFF names it on its own
            EXPECT_EQ(GdalCode(strOutput), r.pExpected);
        }
        EXPECT_EQ(CodeOpened(strOutput), std::stoi(std::string(r.pExpected).substr(5)));
    }
    if (!bGeoTiff)
        return;
    // A new background map lies in the system of the first map it is made from.
    const test::SCommandResult run =
        Cli("mosaic " + m_folder.Path("mosaic.tif") + " " + strInput + " --region 400010,5600010,400100,5600100");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(GdalCode(m_folder.Path("mosaic.tif")), "EPSG:32633");
}

INSTANTIATE_TEST_SUITE_P(Inputs, SystemTravelsTest,
                         ::testing::Values(SInputCase{"GeoTiffKeysOnly", ECarrier::GeoTiffKeysOnly},
                                           SInputCase{"PrjBesidePng", ECarrier::PrjBesidePng},
                                           SInputCase{"Wkt2PrjInUpperCase", ECarrier::Wkt2PrjInUpperCase}),
                         [](const ::testing::TestParamInfo<SInputCase>& info) { return std::string(info.param.pName); });

class MapSystemTest : public test::CPlatformTest {
protected:
    test::CTempFolder m_folder;
};

TEST_F(MapSystemTest, CropConvertCopyAndTransformKeepTheSystemAndASaveWritesIt)
{
    CDIBWorld scan;
    test::MakePatternPicture(scan, 24, 200, 200);
    scan.SetEdges({0, 199, 199, 0});
    scan.SetCoordinateSystem(Resolved("EPSG:27700"));

    CDIBWorld cropped;
    ASSERT_TRUE(cropped.CreateImage(&scan, 50, 40, 0));
    ASSERT_TRUE(scan.CropMap(&cropped, 10, 10, 50, 40, kSrcCopy));
    ASSERT_TRUE(cropped.CoordinateSystem().has_value());
    EXPECT_EQ(cropped.CoordinateSystem()->geoSystem.nEpsgCode, 27700);

    CDIBWorld converted;
    ASSERT_TRUE(converted.CreateImage(8, &scan, true, true, true, true, false));
    ASSERT_TRUE(converted.CoordinateSystem().has_value());
    EXPECT_EQ(converted.CoordinateSystem()->geoSystem.nEpsgCode, 27700);

    CLocatorSet locators;
    const int aX[] = {20, 180, 180}, aY[] = {20, 20, 180};
    const double aE[] = {20, 180, 180}, aN[] = {179, 179, 19};
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, aX[i], aY[i]);
        locators.SetMapPosition(i, aE[i], aN[i]);
    }
    std::unique_ptr<CDIBWorld> pTransformed;
    ASSERT_EQ(TransformBitmap(scan, locators, 24, pTransformed), ETransformResult::Done);
    ASSERT_TRUE(pTransformed->CoordinateSystem().has_value());
    EXPECT_EQ(pTransformed->CoordinateSystem()->geoSystem.nEpsgCode, 27700);

    // The save names the map's own system; the options' system wins over it.
    ASSERT_EQ(pTransformed->SaveWorldSilent(m_folder.Path("own.tif")), ESaveResult::Written);
    std::filesystem::remove(m_folder.Path("own.prj"));
    EXPECT_EQ(CodeOpened(m_folder.Path("own.tif")), 27700);
    SEncodeOptions options;
    options.system = Resolved("EPSG:4326").geoSystem;
    ASSERT_EQ(pTransformed->SaveWorldSilent(m_folder.Path("told.png"), options), ESaveResult::Written);
    EXPECT_EQ(CodeOpened(m_folder.Path("told.png")), 4326);
    // A picture without a system gets no .prj, and one that does not resolve is not taken.
    CDIBWorld plain;
    test::MakePatternPicture(plain, 24, 10, 10);
    plain.SetEdges({0, 9, 9, 0});
    ASSERT_EQ(plain.SaveWorldSilent(m_folder.Path("plain.png")), ESaveResult::Written);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("plain.prj")));
    EXPECT_EQ(CodeOpened(m_folder.Path("plain.png")), 0);
    const std::string strJunk = "PROJCS[\"broken\", nothing more";
    test::WriteBytes(m_folder.Path("plain.prj"), std::vector<std::uint8_t>(strJunk.begin(), strJunk.end()));
    EXPECT_EQ(CodeOpened(m_folder.Path("plain.png")), 0);
}

TEST_F(MapSystemTest, FindsSystemsInProjsDatabaseByCodeAndWords)
{
    const std::vector<SCoordinateSystemEntry> aUtm = FindCoordinateSystems("wgs 84 utm 33N", 50);
    ASSERT_FALSE(aUtm.empty());
    bool bFound = false;
    for (const SCoordinateSystemEntry& entry : aUtm)
        bFound = bFound || (entry.strCode == "EPSG:32633" && entry.strName == "WGS 84 / UTM zone 33N");
    EXPECT_TRUE(bFound);
    const std::vector<SCoordinateSystemEntry> aCode = FindCoordinateSystems("27700", 5);
    ASSERT_FALSE(aCode.empty());
    EXPECT_EQ(aCode.front().strName, "OSGB36 / British National Grid");
    EXPECT_EQ(FindCoordinateSystems("", 3).size(), 3u);
    EXPECT_TRUE(FindCoordinateSystems("no such system anywhere", 10).empty());
    // Geocentric and 3D systems are not offered: a picture cannot be laid on them.
    for (const SCoordinateSystemEntry& entry : FindCoordinateSystems("4978", 10))
        EXPECT_NE(entry.strCode, "EPSG:4978");
}

// A host whose Coordinate System dialog ends with OK on the definition it is given.
class CChoosingHost : public CDocumentHost {
public:
    bool RunCoordinateSystemDialog(std::optional<SCoordinateSystem>& system) override
    {
        m_aShown.push_back(system ? system->geoSystem.nEpsgCode : 0);
        if (m_strChoice.empty())
            return false;
        system = Resolved(m_strChoice);
        return true;
    }
    std::string m_strChoice;
    std::vector<int> m_aShown;  // the EPSG code each dialog started from
};

TEST_F(MapSystemTest, TheDocumentsSystemIsTheScansAndTheSaveDialogCanChangeIt)
{
    CChoosingHost host;
    CMapDocument document(host);
    auto pScan = std::make_unique<CDIBWorld>();
    test::MakePatternPicture(*pScan, 24, 200, 200);
    pScan->SetEdges({0, 199, 199, 0});
    CLocatorSet locators;
    const int aX[] = {20, 180, 180}, aY[] = {20, 20, 180};
    const double aE[] = {20, 180, 180}, aN[] = {179, 179, 19};
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, aX[i], aY[i]);
        locators.SetMapPosition(i, aE[i], aN[i]);
    }
    std::unique_ptr<CDIBWorld> pTransformed;
    ASSERT_EQ(TransformBitmap(*pScan, locators, 24, pTransformed), ETransformResult::Done);
    document.SetImage(std::move(pScan));
    document.SetTransformedMap(std::move(pTransformed));
    document.SetShowTransformed(true);
    EXPECT_FALSE(document.GetCoordinateSystem().has_value());

    // File > Coordinate System: Cancel changes nothing; OK sets both maps' system.
    document.OnFileCoordinateSystem();
    EXPECT_FALSE(document.GetCoordinateSystem().has_value());
    host.m_strChoice = "EPSG:27700";
    document.OnFileCoordinateSystem();
    ASSERT_TRUE(document.GetCoordinateSystem().has_value());
    EXPECT_EQ(document.GetTransformedMap()->CoordinateSystem()->geoSystem.nEpsgCode, 27700);

    // The save dialog names the system; its button opens the dialog from it.
    host.m_strChoice = "EPSG:32633";
    m_platform.ClickNextAccessory();
    m_platform.AnswerNextFileDialog({true, m_folder.Path("out.tif"), 0});
    ASSERT_TRUE(document.OnFileSaveTransformedAs());
    ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
    EXPECT_EQ(m_platform.FileDialogRequests().front().accessory.strText,
              "Coordinate system: EPSG:27700 (OSGB36 / British National Grid)");
    EXPECT_EQ(m_platform.AccessoryText(), "Coordinate system: EPSG:32633 (WGS 84 / UTM zone 33N)");
    EXPECT_EQ(host.m_aShown, (std::vector<int>{0, 0, 27700}));
    std::filesystem::remove(m_folder.Path("out.prj"));
    EXPECT_EQ(CodeOpened(m_folder.Path("out.tif")), 32633);
}

}  // namespace
}  // namespace gridmorph
