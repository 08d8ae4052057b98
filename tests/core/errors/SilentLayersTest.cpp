// The silent layers under opening, transforming and building a new map: each failure
// comes back with its error number, its text and the boxes the window would raise, and
// nothing is shown; the functions of the old names then raise exactly those boxes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "errors/ErrorText.h"
#include "errors/SilentResult.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"
#include "transform/Resample.h"
#include "world/DIBWorld.h"
#include "world/NewBackgroundMap.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

const char* const kRelease3Notice =
    "This is a Release 3 image without a World file.\n\n"
    "A World file is being created.\n\n"
    "Please use World files to avoid this message.";

class SilentLayersTest : public CPlatformTest {
protected:
    std::string Path(const std::string& strName) const { return m_folder.Path(strName); }

    void WriteText(const std::string& strName, const std::string& strText) const
    {
        std::ofstream(Path(strName), std::ios::binary) << strText;
    }

    // A 24-bit 12 x 9 BMP, with a world file when given its lines.
    void WriteMap(const std::string& strName, const std::string& strWorldFile = std::string()) const
    {
        CDIBImage image;
        test::MakePatternPicture(image, 24, 12, 9);
        ASSERT_EQ(image.SaveDIBSilent(Path(strName + ".bmp")), ESaveResult::Written);
        if (!strWorldFile.empty())
            WriteText(strName + ".bpw", strWorldFile);
    }

    void SetUp() override
    {
        WriteMap("plain");
        WriteMap("placed", "1\n0\n0\n-1\n1000\n2000\n");           // 1 m pixels, west 1000, north 2000
        WriteMap("damaged", "1e300\n0\n0\n-1\n1000\n2000\n");       // edges beyond any map
        WriteMap("short", "1\n0\n");                                // ends after two lines
        WriteText("garbage.png", "this is not a PNG file");
        WriteText("noextension", "whatever");
        test::WriteBytes(Path("release3.bmp"), test::Release3Bitmap("*KELMAR*", "*KELMAR*", 412, 287, 414, 285));
    }

    // Checks an outcome against what is expected, and that nothing was shown.
    void ExpectOutcome(const SSilentResult& outcome, int nErrorNumber, const std::string& strFullText,
                       const std::vector<std::string>& aNotices, const std::string& strCase)
    {
        SCOPED_TRACE(strCase);
        EXPECT_EQ(outcome.nErrorNumber, nErrorNumber);
        if (nErrorNumber != 0) {
            EXPECT_EQ(outcome.FullText(), strFullText);
        }
        std::vector<std::string> aTexts;
        for (const SNotice& notice : outcome.aNotices)
            aTexts.push_back(notice.strText);
        EXPECT_EQ(aTexts, aNotices);
        EXPECT_TRUE(MessageTexts().empty()) << "a silent layer showed a box";
    }

    // Runs the function of the old name and checks it raised the boxes, in order.
    void ExpectWrapperShows(const std::function<void()>& fnWrapper, const std::vector<std::string>& aNotices,
                            const std::string& strCase)
    {
        SCOPED_TRACE(strCase);
        m_platform.ClearRecord();
        fnWrapper();
        EXPECT_EQ(MessageTexts(), aNotices);
        m_platform.ClearRecord();
    }

    CTempFolder m_folder;
};

TEST_F(SilentLayersTest, OpeningAPictureOrAMapReturnsTheFailureAndShowsNothing)
{
    const std::string strMissing = Path("missing.png");
    const std::string strMissingText = "The file " + strMissing + " does not exist.";
    const std::string strNotRecognised = "\nIn OpenDIB(), file name:\n" + Path("noextension");
    const std::string strDamagedWorld = "The world file " + Path("damaged.bpw") +
                                        " is damaged: its map edges lie beyond 21474836 m, farther than any map "
                                        "reaches.";
    struct SCase {
        std::string strFile;
        bool bWorld;         // OpenWorld rather than OpenDIB
        bool bRequireWorld;
        int nErrorNumber;
        std::string strFullText;
        std::vector<std::string> aNotices;
        std::string strFailureLine;  // what the command line prints after the boxes
    };
    const std::string strNoWorld = GetErrorText(ERR_NO_WORLD_INFORMATION);
    const SCase aCases[] = {
        {"missing.png", false, false, ERR_MESSAGE_IS_DETAIL, strMissingText, {strMissingText}, strMissingText},
        {"missing.png", true, false, ERR_MESSAGE_IS_DETAIL, strMissingText, {strMissingText}, strMissingText},
        {"noextension", false, false, ERR_TYPE_NOT_RECOGNISED,
         GetErrorText(ERR_TYPE_NOT_RECOGNISED) + strNotRecognised, {strNotRecognised},
         GetErrorText(ERR_TYPE_NOT_RECOGNISED) + " " + Path("noextension") +
             " is not a picture file: pictures are BMP, JPEG, GIF, TIFF and PNG files, known by their names' "
             "extensions (.bmp, .jpg, .jpeg, .jpe, .jfif, .gif, .tif, .tiff, .png), and this name has none."},
        {"plain.bmp", false, false, 0, "", {}, ""},
        {"plain.bmp", true, false, 0, "", {}, ""},
        {"plain.bmp", true, true, ERR_NO_WORLD_INFORMATION, strNoWorld, {}, strNoWorld},
        {"placed.bmp", true, true, 0, "", {}, ""},
        {"damaged.bmp", true, false, ERR_MESSAGE_IS_DETAIL, strDamagedWorld, {strDamagedWorld}, strDamagedWorld},
        {"short.bmp", true, false, ERR_WORLD_FILE_END,
         GetErrorText(ERR_WORLD_FILE_END) + "\nUnexpected end of world file.",
         {"Unexpected end of world file."}, GetErrorText(ERR_WORLD_FILE_END)},
        {"release3.bmp", true, true, 0, "", {kRelease3Notice}, ""},
    };
    for (const SCase& c : aCases) {
        const std::string strCase = c.strFile + (c.bWorld ? " as a map" : " as a picture") +
                                    (c.bRequireWorld ? ", placed" : "");
        std::filesystem::remove(Path("release3.BPW"));
        CDIBWorld image;
        const SSilentResult outcome =
            c.bWorld ? image.OpenWorldSilent(Path(c.strFile), c.bRequireWorld) : image.OpenDIBSilent(Path(c.strFile));
        ExpectOutcome(outcome, c.nErrorNumber, c.strFullText, c.aNotices, strCase);
        EXPECT_EQ(outcome.Succeeded(), c.nErrorNumber == 0) << strCase;
        EXPECT_EQ(image.m_nErrorNumber, c.nErrorNumber) << strCase;
        if (c.nErrorNumber != 0) {
            EXPECT_EQ(outcome.FailureLine(), c.strFailureLine) << strCase;
        }

        std::filesystem::remove(Path("release3.BPW"));
        bool bOpened = false;
        CDIBWorld again;
        ExpectWrapperShows(
            [&] {
                bOpened = c.bWorld ? again.OpenWorld(Path(c.strFile), c.bRequireWorld) : again.OpenDIB(Path(c.strFile));
            },
            c.aNotices, strCase);
        EXPECT_EQ(bOpened, c.nErrorNumber == 0) << strCase;
    }
}

TEST_F(SilentLayersTest, ADamagedPictureFailsToLoadWithTheDecodersReason)
{
    CDIBImage image;
    const SSilentResult outcome = image.OpenDIBSilent(Path("garbage.png"));
    EXPECT_EQ(outcome.nErrorNumber, ERR_LOAD_FAILED);
    ASSERT_EQ(outcome.aNotices.size(), 1u);
    EXPECT_EQ(outcome.aNotices[0].eKind, EMessageKind::Warning);
    EXPECT_NE(outcome.aNotices[0].strText.find("no PNG signature"), std::string::npos) << outcome.aNotices[0].strText;
    EXPECT_EQ(outcome.FullText(), GetErrorText(ERR_LOAD_FAILED) + outcome.aNotices[0].strText);
    // The one line after the box says what the box said was wrong, not only the number's text.
    EXPECT_EQ(outcome.FailureLine(),
              GetErrorText(ERR_LOAD_FAILED) + " The file is not a PNG picture (no PNG signature).");
    EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(SilentLayersTest, TransformingReturnsWhyItCannotAndShowsNothing)
{
    CDIBWorld source;
    ASSERT_TRUE(source.OpenWorldSilent(Path("placed.bmp"), true).Succeeded());
    const auto Locators = [](int x2, int y2, double e2, double n2) {
        CLocatorSet locators;
        const int aX[] = {1, x2, 10}, aY[] = {1, y2, 7};
        const double aE[] = {0.0, e2, 90.0}, aN[] = {60.0, n2, 0.0};
        for (int i = 0; i < 3; ++i) {
            locators.SetLocator(i, aX[i], aY[i]);
            locators.SetMapPosition(i, aE[i], aN[i]);
        }
        return locators;
    };
    const std::string strInLine =
        "The X and Y pixel positions of the locators are in a straight line.\n\nA transform cannot be made.";
    struct SCase {
        const char* pName;
        CLocatorSet locators;
        bool bNonRectangular;
        int nBitCount;
        ETransformResult eResult;
        std::string strNotice;  // also the whole message; none for Done
    };
    const SCase aCases[] = {
        {"a rectangle", Locators(10, 1, 90.0, 60.0), false, 24, ETransformResult::Done, ""},
        {"the depth asked for is not the map's", Locators(10, 1, 90.0, 60.0), false, 8,
         ETransformResult::UnsupportedDepth,
         "Only 8-bit and 24-bit maps can be transformed.\n\nThis map is 24-bit; convert it first."},
        {"pixels in a line", Locators(4, 3, 90.0, 60.0), false, 24, ETransformResult::PixelsInLine, strInLine},
        {"three points, not a rectangle", Locators(9, 2, 80.0, 55.0), true, 24, ETransformResult::Done, ""},
        {"the fourth point on the first", Locators(1, 1, 50.0, 60.0), true, 24, ETransformResult::PointsInLine,
         "Error : Points are in a straight line"},
        {"eastings in a line", Locators(9, 2, 0.0, 60.0), true, 24, ETransformResult::MapPointsInLine,
         "Error : Eastings and Northings form a straight line."},
    };
    for (const SCase& c : aCases) {
        std::unique_ptr<CDIBWorld> pOutput;
        const STransformOutcome outcome =
            c.bNonRectangular ? TransformNonRectangularSilent(source, c.locators, c.nBitCount, pOutput)
                              : TransformBitmapSilent(source, c.locators, c.nBitCount, pOutput);
        EXPECT_EQ(outcome.eResult, c.eResult) << c.pName;
        const bool bDone = c.eResult == ETransformResult::Done;
        ExpectOutcome(outcome, bDone ? 0 : ERR_MESSAGE_IS_DETAIL, c.strNotice,
                      bDone ? std::vector<std::string>{} : std::vector<std::string>{c.strNotice}, c.pName);
        EXPECT_EQ(pOutput != nullptr, bDone) << c.pName;
        if (bDone) {
            EXPECT_TRUE(pOutput->HasWorld()) << c.pName;
        }

        std::unique_ptr<CDIBWorld> pAgain;
        ETransformResult eResult = ETransformResult::Done;
        ExpectWrapperShows(
            [&] {
                eResult = c.bNonRectangular ? TransformNonRectangular(source, c.locators, c.nBitCount, pAgain)
                                            : TransformBitmap(source, c.locators, c.nBitCount, pAgain);
            },
            bDone ? std::vector<std::string>{} : std::vector<std::string>{c.strNotice}, c.pName);
        EXPECT_EQ(eResult, c.eResult) << c.pName;
        if (bDone) {
            ASSERT_TRUE(pAgain && pOutput) << c.pName;
            EXPECT_TRUE(test::SamePicture(*pOutput, *pAgain)) << c.pName;
        }
    }
}

TEST_F(SilentLayersTest, BuildingANewMapReturnsTheFailingStepAndShowsNothing)
{
    const std::string strMissingText = "The file " + Path("missing.bmp") + " does not exist.";
    const std::string strNoWorld = GetErrorText(ERR_NO_WORLD_INFORMATION);
    const std::string strRegion = "The map region cannot be laid on the pixel grid of\n" + Path("placed.bmp") +
                                  "\n\nIts map edges give no pixel size, or the region is too large.";
    struct SCase {
        const char* pName;
        std::string strOutput;
        std::vector<std::string> aBasedOn;
        double dEast;
        int nErrorNumber;
        std::vector<std::string> aNotices;  // the last one is the failure's whole message
    };
    const SCase aCases[] = {
        {"built", "new.bmp", {"placed.bmp"}, 1005.0, 0, {}},
        {"the first map is missing", "new.bmp", {"missing.bmp"}, 1005.0, ERR_MESSAGE_IS_DETAIL,
         {strMissingText, strMissingText}},
        {"the first map has no world file", "new.bmp", {"plain.bmp"}, 1005.0, ERR_NO_WORLD_INFORMATION, {strNoWorld}},
        {"the region is too large", "new.bmp", {"placed.bmp"}, 1e12, ERR_MESSAGE_IS_DETAIL, {strRegion}},
        {"a later map is damaged", "new.bmp", {"placed.bmp", "short.bmp"}, 1005.0, ERR_WORLD_FILE_END,
         {"Unexpected end of world file.", GetErrorText(ERR_WORLD_FILE_END) + "\nUnexpected end of world file."}},
    };
    for (const SCase& c : aCases) {
        SNewMapRequest request;
        request.strFileName = Path(c.strOutput);
        for (const std::string& strName : c.aBasedOn)
            request.aBasedOn.push_back(Path(strName));
        request.region.dWest = 1000.0;
        request.region.dSouth = 1995.0;
        request.region.dEast = c.dEast;
        request.region.dNorth = 2000.0;
        std::filesystem::remove(request.strFileName);
        const SNewMapOutcome outcome = BuildNewBackgroundMapSilent(request);
        ExpectOutcome(outcome, c.nErrorNumber, c.aNotices.empty() ? "" : c.aNotices.back(), c.aNotices, c.pName);
        EXPECT_EQ(outcome.pMap != nullptr, c.nErrorNumber == 0) << c.pName;
        EXPECT_EQ(std::filesystem::exists(request.strFileName), c.nErrorNumber == 0) << c.pName;
        if (outcome.pMap) {
            EXPECT_EQ(outcome.pMap->m_nImageWidth, 6) << c.pName;
            EXPECT_EQ(outcome.pMap->m_nImageHeight, 6) << c.pName;
        }

        std::filesystem::remove(request.strFileName);
        std::unique_ptr<CDIBWorld> pMap;
        ExpectWrapperShows([&] { pMap = BuildNewBackgroundMap(request); }, c.aNotices, c.pName);
        EXPECT_EQ(pMap != nullptr, c.nErrorNumber == 0) << c.pName;
    }
}

TEST_F(SilentLayersTest, AFailedSaveOfTheNewMapIsToldAfterTheSaveItself)
{
    SNewMapRequest request;
    request.strFileName = Path("no-such-folder/new.bmp");
    request.aBasedOn = {Path("placed.bmp")};
    request.region.dWest = 1000.0;
    request.region.dSouth = 1995.0;
    request.region.dEast = 1005.0;
    request.region.dNorth = 2000.0;
    const SNewMapOutcome outcome = BuildNewBackgroundMapSilent(request);
    EXPECT_EQ(outcome.nErrorNumber, ERR_SAVE_FAILED);
    EXPECT_FALSE(outcome.pMap);
    EXPECT_TRUE(MessageTexts().empty());
    // The save's own warning (its detail), then the whole message.
    ASSERT_EQ(outcome.aNotices.size(), 2u);
    EXPECT_NE(outcome.aNotices[0].strText.find("Cannot write " + request.strFileName), std::string::npos);
    EXPECT_EQ(outcome.aNotices[1].strText, GetErrorText(ERR_SAVE_FAILED) + outcome.aNotices[0].strText);
    EXPECT_EQ(outcome.FullText(), outcome.aNotices[1].strText);
}

}  // namespace
}  // namespace gridmorph
