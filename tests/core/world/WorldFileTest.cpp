// World files: naming, search, reading and writing, and what another GIS reads from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "errors/ErrorText.h"
#include "support/ScopedLocale.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

class WorldFileTest : public CPlatformTest {
protected:
    void WriteText(const std::string& strName, const std::string& strText)
    {
        std::ofstream(m_folder.Path(strName), std::ios::binary) << strText;
    }
    CTempFolder m_folder;
};

TEST(WorldFileNames, FlavoursAndNames)
{
    const std::pair<const char*, const char*> aCases[] = {
        {"/m/SITE.BMP", "/m/SITE.BPW"}, {"/m/site.jpeg", "/m/site.JGW"}, {"/m/a.b/site.gif", "/m/a.b/site.GFW"},
        {"/m/site.tiff", "/m/site.TFW"}, {"/m/site.png", "/m/site.PGW"},
        {"/m/site", "/m/site.PGW"},          // saved as site.PNG
        {"/m/site.xyz", "/m/site.xyz.PGW"},  // saved as site.xyz.PNG
    };
    for (const auto& [pImage, pWorld] : aCases)
        EXPECT_EQ(WorldFileNameFor(pImage), pWorld) << pImage;
    EXPECT_EQ(WorldFileExtension(0), "");
    EXPECT_EQ(WorldFileExtension(6), "");
    EXPECT_EQ(WorldFileExtension(FILE_TYPE_TIFF), "TFW");
}

// The dialog that picks a world file offers those named like the image first.
TEST(WorldFileNames, DialogFilterNamesTheImage)
{
    const std::string strFlavours = "Bitmap World files (*.BPW;*.BMPW)|*.BPW;*.BMPW|"
                                    "GIF  World files (*.GFW;*.GIFW)|*.GFW;*.GIFW|"
                                    "JPEG World files (*.JGW;*.JPGW)|*.JGW;*.JPGW|"
                                    "Tiff World files (*.TFW;*.TIFW)|*.TFW;*.TIFW|"
                                    "PNG  World files (*.PGW;*.PNGW)|*.PGW;*.PNGW|"
                                    "All (*.*)|*.*||";
    const std::pair<const char*, const char*> aCases[] = {
        {"/maps/a.b/Site.jpg", "Site"}, {"/maps/site.old.tif", "site.old"}, {"/maps/plain", "plain"}, {"SITE.BMP", "SITE"}};
    for (const auto& [pImage, pName] : aCases) {
        const std::string n = pName;
        EXPECT_EQ(WorldFileDialogFilter(pImage), "Related World files|" + n + ".BPW;" + n + ".BMPW;" + n + ".GFW;" + n +
                                                     ".GIFW;" + n + ".JGW;" + n + ".JPGW;" + n + ".TFW;" + n + ".TIFW;" +
                                                     n + ".PGW;" + n + ".PNGW;|" + strFlavours)
            << pImage;
    }
}

TEST_F(WorldFileTest, SearchOrderAndLetterCase)
{
    const std::string strImage = m_folder.Path("SITE.BMP");
    WriteText("SITE.BMPW", "1\n0\n0\n-1\n0\n0\n");
    EXPECT_EQ(FindWorldFile(strImage), m_folder.Path("SITE.BMPW"));
    WriteText("site.wld", "");
    EXPECT_EQ(FindWorldFile(strImage), m_folder.Path("site.wld"));  // .WLD before name + W, any case
    WriteText("Site.Bpw", "");
    EXPECT_EQ(FindWorldFile(strImage), m_folder.Path("Site.Bpw"));
    WriteText("SITE.BPW", "");
    EXPECT_EQ(FindWorldFile(strImage), m_folder.Path("SITE.BPW"));  // the exact spelling wins
    EXPECT_EQ(FindWorldFile(m_folder.Path("OTHER.BMP")), "");
}

TEST(WorldFileFlavours, FoundByNameInAnyLetterCase)
{
    const struct {
        const char* pAsked;
        const char* pFound;  // null: no such flavour
    } aCases[] = {{"BPW", "BPW"}, {"tfw", "TFW"}, {"Pgw", "PGW"}, {"jgw", "JGW"}, {"gFw", "GFW"},
                  {"TIF", nullptr}, {"WLD", nullptr}, {"", nullptr}, {"TFWX", nullptr}};
    for (const auto& aCase : aCases) {
        const SWorldFileFlavour* pFlavour = FindWorldFileFlavour(aCase.pAsked);
        EXPECT_STREQ(pFlavour ? pFlavour->pName : nullptr, aCase.pFound) << aCase.pAsked;
    }
}

TEST_F(WorldFileTest, AFlavourIsWrittenBesideThePictureOverTheSpellingAlreadyThere)
{
    WriteText("site.tfw", "9\n0\n0\n-9\n9\n9\n");
    SWorldFileValues values;
    values.dResolutionWestEast = 2.5;
    values.dResolutionSouthNorth = -2.5;
    values.dEastingTopLeft = 500000;
    values.dNorthingTopLeft = 6000000;
    for (const SWorldFileFlavour& flavour : kWorldFileFlavours) {
        const SWorldFileWritten written = WriteWorldFileOfFlavour(m_folder.Path("site.tif"), flavour, values);
        ASSERT_TRUE(written.bWritten) << flavour.pName;
        EXPECT_EQ(written.strPath, std::string(flavour.pName) == "TFW" ? m_folder.Path("site.tfw")
                                                                       : m_folder.Path(std::string("site.") + flavour.pName));
        const std::string strText = FormatWorldFile(values);
        EXPECT_EQ(test::ReadBytes(written.strPath), std::vector<std::uint8_t>(strText.begin(), strText.end()))
            << flavour.pName;
    }
    const SWorldFileWritten refused =
        WriteWorldFileOfFlavour(m_folder.Path("no such folder/site.tif"), kWorldFileFlavours[0], values);
    EXPECT_FALSE(refused.bWritten);
    EXPECT_EQ(refused.strPath, m_folder.Path("no such folder/site.BPW"));
}

TEST_F(WorldFileTest, SavingWritesTheSpellingAlreadyThere)
{
    // Another program wrote out.pgw; saving out.png replaces it instead of adding out.PGW,
    // so no reader can pick up the old georeference.
    WriteText("out.pgw", "9\n0\n0\n-9\n9\n9\n");
    WriteText("Out.Tfw", "9\n0\n0\n-9\n9\n9\n");
    CDIBWorld image;
    test::MakePatternPicture(image, 8, 11, 6);
    image.SetEdges({1000, 1050, 1100, 1000});
    ASSERT_EQ(image.SaveWorld(m_folder.Path("out.png")), ESaveResult::Written);
    ASSERT_EQ(image.SaveWorld(m_folder.Path("Out.tif")), ESaveResult::Written);
    std::vector<std::string> aNames;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Root()))
        aNames.push_back(entry.path().filename().string());
    std::sort(aNames.begin(), aNames.end());
    EXPECT_EQ(aNames, (std::vector<std::string>{"Out.Tfw", "Out.tif", "out.pgw", "out.png"}));
    SWorldFileValues values;
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("out.pgw"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dResolutionWestEast, 10.0);
    EXPECT_EQ(test::ReadBytes(m_folder.Path("Out.Tfw")), test::ReadBytes(m_folder.Path("out.pgw")));
    EXPECT_EQ(WorldFileToWrite(m_folder.Path("out.PGW")), m_folder.Path("out.pgw"));
    EXPECT_EQ(WorldFileToWrite(m_folder.Path("new.PGW")), m_folder.Path("new.PGW"));
}

TEST_F(WorldFileTest, ReadingFollowsNumberScanning)
{
    struct SCase {
        const char* pText;
        EWorldFileRead eExpected;
        SWorldFileValues expected;
    };
    const SCase aCases[] = {
        {"2.5\r\n0.0\r\n0.0\r\n-2.5\r\n412000\r\n286997.5\r\n", EWorldFileRead::Read, {2.5, 0, 0, -2.5, 412000, 286997.5}},
        {"  2.5 metres\n0.5\n0.5\n-2.5e0\n1\n2\nseventh\n", EWorldFileRead::Read, {2.5, 0.5, 0.5, -2.5, 1, 2}},
        {"1\n2\n3\n4\n5\n", EWorldFileRead::UnexpectedEnd, {}},
        {"", EWorldFileRead::UnexpectedEnd, {}},
        {"x\n1\n1\n1\n1\n1\n", EWorldFileRead::Read, {0, 1, 1, 1, 1, 1}},  // no number reads as 0
    };
    for (const SCase& aCase : aCases) {
        WriteText("case.wld", aCase.pText);
        SWorldFileValues values;
        ASSERT_EQ(ReadWorldFileValues(m_folder.Path("case.wld"), values), aCase.eExpected) << aCase.pText;
        if (aCase.eExpected != EWorldFileRead::Read)
            continue;
        EXPECT_EQ(values.dResolutionWestEast, aCase.expected.dResolutionWestEast);
        EXPECT_EQ(values.dResolutionSouthNorth, aCase.expected.dResolutionSouthNorth);
        EXPECT_EQ(values.dEastingTopLeft, aCase.expected.dEastingTopLeft);
        EXPECT_EQ(values.dNorthingTopLeft, aCase.expected.dNorthingTopLeft);
    }
    // A line longer than 258 characters counts as two lines.
    WriteText("long.wld", std::string(300, ' ') + "7\n1\n2\n3\n4\n");
    SWorldFileValues values;
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("long.wld"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dRotationFirst, 7.0);
    EXPECT_EQ(values.dNorthingTopLeft, 4.0);
    EXPECT_EQ(ReadWorldFileValues(m_folder.Path("missing.wld"), values), EWorldFileRead::CannotOpen);
}

TEST_F(WorldFileTest, WrittenTextIsSixDecimalsWithCarriageReturns)
{
    CDIBWorld image;
    ASSERT_TRUE(image.CreateImage(8, 1000, 800, FILL_WHITE, 0, 0, 0, nullptr));
    image.SetEdges({412000.0, 286997.5, 414497.5, 285000.0});
    image.WriteWorldFile(m_folder.Path("site.png"));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("site.PGW")),
              test::ReadBytes((WriteText("expected", "2.500000\r\n0.0\r\n0.0\r\n-2.500000\r\n412000.000000\r\n286997.500000\r\n"),
                               m_folder.Path("expected"))));
    image.SetEdges({412000.1234567, 286997.5, 414497.5, 285000.0});
    image.WriteWorldFile(m_folder.Path("site.png"));
    SWorldFileValues values;
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("site.PGW"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dEastingTopLeft, 412000.123457);

    CDIBWorld tiny;
    ASSERT_TRUE(tiny.CreateImage(24, 1, 1, FILL_WHITE, 0, 0, 0, nullptr));
    tiny.SetEdges({5, 6, 5, 6});
    tiny.WriteWorldFile(m_folder.Path("tiny.bmp"));
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("tiny.BPW"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dResolutionWestEast, 1.0);
    EXPECT_EQ(values.dResolutionSouthNorth, 1.0);
}

TEST_F(WorldFileTest, ACommaDecimalLocaleWritesAndReadsTheSameFiles)
{
    // A desktop program runs in the user's locale; a German one must still write
    // 2.500000 and read 412000.25 whole.
    const auto locale = test::FindCommaDecimalLocale();
    if (!locale)
        GTEST_SKIP() << "no comma-decimal locale is installed and localedef could not make de_DE.UTF-8";
    CDIBWorld image;
    ASSERT_TRUE(image.CreateImage(8, 1000, 800, FILL_WHITE, 0, 0, 0, nullptr));
    image.SetEdges({412000.25, 286997.5, 414497.75, 285000.0});
    image.WriteWorldFile(m_folder.Path("c.png"));
    const std::vector<std::uint8_t> aInC = test::ReadBytes(m_folder.Path("c.PGW"));

    test::CScopedLocale scoped(*locale);
    ASSERT_TRUE(scoped.Active());
    image.WriteWorldFile(m_folder.Path("comma.png"));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("comma.PGW")), aInC);
    const std::string strExpected = "2.500000\r\n0.0\r\n0.0\r\n-2.500000\r\n412000.250000\r\n286997.500000\r\n";
    EXPECT_EQ(test::ReadBytes(m_folder.Path("comma.PGW")), std::vector<std::uint8_t>(strExpected.begin(), strExpected.end()));

    WriteText("odd.wld", " 412000.25 m\n0,5\n0.0\n-2.5e0\n-1.5x\n.25\n");
    SWorldFileValues values;
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("odd.wld"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dResolutionWestEast, 412000.25);
    EXPECT_EQ(values.dRotationFirst, 0.0);  // "0,5" is 0 followed by other text, as in the "C" locale
    EXPECT_EQ(values.dResolutionSouthNorth, -2.5);
    EXPECT_EQ(values.dEastingTopLeft, -1.5);
    EXPECT_EQ(values.dNorthingTopLeft, 0.25);

    image.SaveWorld(m_folder.Path("map.png"));
    CDIBWorld reopened;
    ASSERT_TRUE(reopened.OpenWorld(m_folder.Path("map.png"), true));
    EXPECT_EQ(reopened.GetWest(), 412000.25);
    EXPECT_EQ(reopened.GetEast(), 414497.75);
    EXPECT_EQ(reopened.GetSouth(), 285000.0);
}

TEST_F(WorldFileTest, AnotherGisPlacesTheSavedMapWhereWeDo)
{
    // GDAL reads a world file as the centre of the top-left pixel and reports the outer
    // corner: origin = line 5 - line 1 / 2, line 6 - line 4 / 2.
    CDIBWorld image;
    ASSERT_TRUE(image.CreateImage(24, 40, 30, FILL_WHITE, 0, 0, 0, nullptr));
    image.SetEdges({500000.0, 6100087.0, 500078.0, 6100000.0});  // 2 m by 3 m pixels
    const std::string strPath = m_folder.Path("placed.tif");
    image.SaveWorld(strPath);
    ASSERT_EQ(image.m_nErrorNumber, 0);
    const test::SCommandResult gdalinfo = test::RunCommand("gdalinfo " + strPath + " 2>&1");
    const std::string& strOutput = gdalinfo.strOutput;
    ASSERT_EQ(gdalinfo.nExitCode, 0) << "gdalinfo (Debian's gdal-bin) is needed for this check:\n" << strOutput;
    EXPECT_NE(strOutput.find("Origin = (499999.000000000000000,6100088.500000000000000)"), std::string::npos)
        << strOutput;
    EXPECT_NE(strOutput.find("Pixel Size = (2.000000000000000,-3.000000000000000)"), std::string::npos) << strOutput;
}

}  // namespace
}  // namespace gridmorph
