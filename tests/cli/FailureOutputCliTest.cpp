// What the command-line tool prints when its work fails, whole: the warnings the core
// raised, then one line naming the failure, and the exit code.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "image/DIBImage.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

class FailureOutputCliTest : public test::CPlatformTest {
protected:
    void SetUp() override
    {
        CDIBImage image;
        test::MakePatternPicture(image, 24, 40, 30);
        ASSERT_EQ(image.SaveDIBSilent(m_folder.Path("scan.bmp")), ESaveResult::Written);
        ASSERT_EQ(image.SaveDIBSilent(m_folder.Path("placed.bmp")), ESaveResult::Written);
        ASSERT_EQ(image.SaveDIBSilent(m_folder.Path("damaged.bmp")), ESaveResult::Written);
        ASSERT_EQ(image.SaveDIBSilent(m_folder.Path("short.bmp")), ESaveResult::Written);
        Write("placed.bpw", "1\n0\n0\n-1\n0\n1000\n");
        Write("damaged.bpw", "1e300\n0\n0\n-1\n1000\n2000\n");
        Write("short.bpw", "1\n0\n");
        Write("garbage.png", "this is not a PNG file");
        Write("scan.points", "mapX,mapY,sourceX,sourceY,enable\n");
        test::SBmpSpec bilevel;  // 8 x 4 pixels of one bit
        bilevel.nWidth = 8;
        bilevel.nHeight = 4;
        bilevel.nBitCount = 1;
        bilevel.aTable = {0, 0, 0, 0, 255, 255, 255, 0};
        bilevel.aPixels.assign(16, 0x5A);
        test::WriteBytes(m_folder.Path("bilevel.bmp"), test::BuildBmp(bilevel));
    }

    void Write(const std::string& strName, const std::string& strText) const
    {
        std::ofstream(m_folder.Path(strName), std::ios::binary) << strText;
    }

    test::CTempFolder m_folder;
};

TEST_F(FailureOutputCliTest, TheWarningsThenOneLineNamingTheFailure)
{
    const std::string strCorners = " --p1 1,1,0,100 --p3 30,20,100,0 --p2 30,1";
    const std::string strInLine = " --p1 1,1,0,100 --p3 20,20,100,0 --p2 10,10";
    const std::string strLocatorsInLine =
        "gridmorph warning: The X and Y pixel positions of the locators are in a straight line.\n\n"
        "A transform cannot be made.\n";
    const std::string strNotPng =
        "gridmorph warning: \nResult:8004a003 - The file is not a PNG picture (no PNG signature).\n";
    // The failure line repeats the decoder's reason after the load failure's own text.
    const std::string strNotPngReason = "Load image failed - probably too large. The file is not a PNG picture (no PNG "
                                        "signature).\n";
    const std::string strDamaged =
        "The world file damaged.bpw is damaged: its map edges lie beyond 21474836 m, farther than any map reaches.";
    const std::string strCannotWrite =
        "\nResult:8004a001 - Cannot write nowhere/out.png: cannot create a file in nowhere: No such file or directory.";
    const std::string strTooLarge =
        "Failure creating bitmap, lack of memory\n\nwidth=40, height=420500000001, nBPP=24 in CreateImage().\n\n"
        "The locators make a map larger than any picture can be; a locator's pixel or map position is probably "
        "wrong.";
    struct SCase {
        std::string strArguments;
        std::string strOutput;
    };
    const SCase aCases[] = {
        {"info missing.png",
         "gridmorph warning: The file missing.png does not exist.\n"
         "gridmorph-cli: info failed: The file missing.png does not exist.\n"},
        {"info garbage.png", strNotPng + "gridmorph-cli: info failed: " + strNotPngReason},
        {"world damaged.bmp",
         "gridmorph warning: " + strDamaged + "\ngridmorph-cli: world failed: " + strDamaged + "\n"},
        {"world short.bmp",
         "gridmorph warning: Unexpected end of world file.\n"
         "gridmorph-cli: world failed: Unexpected end of world file.\n"},
        {"world scan.bmp", "gridmorph-cli: world failed: scan.bmp has no world file\n"},
        {"convert scan.bmp out.gif",
         "gridmorph warning: GIF file format must be 8-bit, 256 colour\n\n"
         "Please choose another format or convert to 8-bit.\n"
         "gridmorph-cli: convert failed: Image not saved: the file type does not take this colour depth.\n"},
        {"crop garbage.png out.png --rect 0,0,5,5",
         strNotPng + "gridmorph-cli: crop failed: " + strNotPngReason},
        {"rectify bilevel.bmp out.png" + strCorners,
         "gridmorph-cli: rectify failed: only 8-bit and 24-bit maps are transformed; this one is 1-bit (convert it "
         "with --depth 24 or 8 first)\n"},
        {"rectify scan.bmp out.png" + strInLine,
         strLocatorsInLine +
             "gridmorph-cli: rectify failed: the locators did not pass their checks (a question is answered Yes only "
             "with --yes)\n"},
        {"rectify scan.bmp out.png --yes" + strInLine,
         strLocatorsInLine + "gridmorph-cli: rectify failed: the locators did not pass their checks\n"},
        {"rectify scan.bmp nowhere/out.png" + strCorners,
         "gridmorph warning: " + strCannotWrite + "\ngridmorph-cli: rectify failed: Save image failed.\n"},
        {"rectify garbage.png out.png" + strCorners,
         strNotPng + "gridmorph-cli: rectify failed: " + strNotPngReason},
        {"mosaic out.bmp --region 0,0,10,10 scan.bmp",
         "gridmorph warning: No World file or transform information in file.\ngridmorph-cli: mosaic failed\n"},
        {"mosaic out.bmp --region 0,0,10,10 placed.bmp short.bmp",
         "gridmorph warning: Unexpected end of world file.\n"
         "gridmorph warning: Unexpected end of world file.\nUnexpected end of world file.\n"
         "gridmorph-cli: mosaic failed\n"},
        {"mosaic nowhere/out.png --region 0,980,10,1000 placed.bmp",
         "gridmorph warning: " + strCannotWrite + "\ngridmorph warning: Save image failed." +
             strCannotWrite + "\ngridmorph-cli: mosaic failed\n"},
        // A locator file is not a picture: the last line says what it is and why it is not opened.
        {"info scan.points",
         "gridmorph warning: \nIn OpenDIB(), file name:\nscan.points\n"
         "gridmorph-cli: info failed: Image file type not recognised. scan.points is not a picture file: pictures "
         "are BMP, JPEG, GIF, TIFF and PNG files, known by their names' extensions (.bmp, .jpg, .jpeg, .jpe, .jfif, "
         ".gif, .tif, .tiff, .png); a .points file holds locators, which rectify reads with --points.\n"},
        // Locators that make a map beyond any picture: the number's text and the detail are
        // two lines, and the detail says the size comes from the locators.
        {"rectify scan.bmp out.png --yes --p1 1,1,0,1000000000000 --p3 30,3,1000,0 --p2 30,1",
         "gridmorph warning: " + strTooLarge + "\ngridmorph warning: Out of memory\n" + strTooLarge +
             "\ngridmorph-cli: rectify failed\n"},
        {"findgrid missing.png",
         "gridmorph warning: The file missing.png does not exist.\n"
         "gridmorph-cli: findgrid failed: missing.png cannot be opened\n"},
    };
    for (const SCase& c : aCases) {
        const test::SCommandResult result = test::RunCommand("cd '" + m_folder.Root().string() + "' && LC_ALL=C " +
                                                             std::string(GRIDMORPH_CLI_PATH) + " " + c.strArguments +
                                                             " 2>&1");
        EXPECT_EQ(result.nExitCode, 1) << c.strArguments;
        EXPECT_EQ(result.strOutput, c.strOutput) << c.strArguments;
    }
}

}  // namespace
}  // namespace gridmorph
