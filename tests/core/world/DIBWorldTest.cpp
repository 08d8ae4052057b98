// Georeferenced pictures: edges, conversions, opening and saving with world files, and
// the Release 3 block.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "errors/ErrorText.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"
#include "io/SafeFileWriter.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

class DIBWorldTest : public CPlatformTest {
protected:
    CTempFolder m_folder;
};

TEST(DIBWorldEdges, CentimetresAreRoundedAsMetresTimesHundredPlusHalfTruncated)
{
    CDIBWorld image;
    image.SetEdges({412000.125, 286999.995, 414500.0, 285000.0});
    EXPECT_EQ(image.GetWestCm(), 41200013);
    EXPECT_EQ(image.GetNorthCm(), 28700000);
    EXPECT_EQ(image.GetEastCm(), 41450000);
    EXPECT_EQ(image.GetSouthCm(), 28500000);
    image.SetEdges({1234.565, -1.234, 0, 0});
    EXPECT_EQ(image.GetWestCm(), 123457);
    EXPECT_EQ(image.GetNorthCm(), -122);
    EXPECT_TRUE(image.HasWorld());
    image.SetEdges({1e300, -1e300, 0, 0});  // a wild value stops at the limits
    EXPECT_EQ(image.GetWestCm(), INT32_MAX);
    EXPECT_EQ(image.GetNorthCm(), INT32_MIN);
}

TEST(DIBWorldConversions, CornersInBothRowOrdersAndRoundTrips)
{
    CDIBWorld image;
    ASSERT_TRUE(image.CreateImage(8, 11, 6, FILL_WHITE, 0, 0, 0, nullptr));
    image.SetEdges({1000.0, 2050.0, 1100.0, 2000.0});  // 10 m columns, 10 m rows
    struct SCase {
        int nX, nY;
        bool bTopDown;
        int nPixelX, nPixelY;
    };
    const SCase aCases[] = {{100000, 200000, false, 0, 0},  {100000, 200000, true, 0, 5},
                            {110000, 205000, false, 10, 5}, {110000, 205000, true, 10, 0},
                            {100499, 200000, false, 0, 0},  {100500, 200000, false, 1, 0},
                            {98800, 198800, false, 0, 0}};  // -1.2 columns rounds toward zero
    for (const SCase& aCase : aCases) {
        int x = aCase.nX, y = aCase.nY;
        image.MapToPixel(x, y, aCase.bTopDown);
        EXPECT_EQ(x, aCase.nPixelX) << aCase.nX;
        EXPECT_EQ(y, aCase.nPixelY) << aCase.nY;
    }
    for (bool bTopDown : {false, true}) {
        double dX = 3, dY = 2;
        image.PixelToMap(dX, dY, bTopDown);
        image.MapToPixel(dX, dY, bTopDown);
        EXPECT_DOUBLE_EQ(dX, 3);
        EXPECT_DOUBLE_EQ(dY, 2);
        int nX = 7, nY = 4;
        image.PixelToMap(nX, nY, bTopDown);
        EXPECT_EQ(nX, 107000);
        EXPECT_EQ(nY, bTopDown ? 201000 : 204000);
    }
    CDIBWorld narrow;  // one pixel wide: PixelToMap leaves the values alone
    ASSERT_TRUE(narrow.CreateImage(8, 1, 6, FILL_WHITE, 0, 0, 0, nullptr));
    narrow.SetEdges({1, 2, 3, 4});
    double dX = 5, dY = 6;
    narrow.PixelToMap(dX, dY, false);
    EXPECT_EQ(dX, 5);
    EXPECT_EQ(dY, 6);
}

TEST_F(DIBWorldTest, SaveWritesTheWorldFileAndOpenReadsItBack)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 21, 11);
    image.SetEdges({512000.0, 6231000.0, 512100.0, 6230950.0});
    image.SaveWorld(m_folder.Path("map.tif"));
    ASSERT_EQ(image.m_nErrorNumber, 0);
    CDIBWorld reopened;
    ASSERT_TRUE(reopened.OpenWorld(m_folder.Path("map.tif"), true));
    EXPECT_EQ(reopened.GetWestCm(), 51200000);
    EXPECT_EQ(reopened.GetNorthCm(), 623100000);
    EXPECT_EQ(reopened.GetEastCm(), 51210000);
    EXPECT_EQ(reopened.GetSouthCm(), 623095000);

    // Without a georeference a world file of zeros is written all the same.
    CDIBWorld plain;
    test::MakePatternPicture(plain, 8, 5, 5);
    plain.SaveWorld(m_folder.Path("plain.gif"));
    SWorldFileValues values;
    ASSERT_EQ(ReadWorldFileValues(m_folder.Path("plain.GFW"), values), EWorldFileRead::Read);
    EXPECT_EQ(values.dResolutionWestEast, 0.0);
    EXPECT_EQ(values.dEastingTopLeft, 0.0);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(DIBWorldTest, MissingShortAndUnwritableWorldFiles)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 4, 4);
    image.SaveDIB(m_folder.Path("bare.png"));
    CDIBWorld opened;
    EXPECT_TRUE(opened.OpenWorld(m_folder.Path("bare.png"), false));
    EXPECT_FALSE(opened.HasWorld());
    EXPECT_FALSE(opened.OpenWorld(m_folder.Path("bare.png"), true));
    EXPECT_EQ(opened.m_nErrorNumber, ERR_NO_WORLD_INFORMATION);
    EXPECT_EQ(opened.GetErrorMessage(), "No World file or transform information in file.");
    EXPECT_FALSE(opened.HasImage());
    EXPECT_TRUE(m_platform.Messages().empty());

    std::ofstream(m_folder.Path("bare.PGW")) << "1\n0\n0\n-1\n5\n";
    EXPECT_FALSE(opened.OpenWorld(m_folder.Path("bare.png"), false));
    EXPECT_EQ(opened.m_nErrorNumber, ERR_WORLD_FILE_END);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Unexpected end of world file."});
    EXPECT_TRUE(opened.HasImage());
    EXPECT_FALSE(opened.HasWorld());

    // A world file that cannot be written: a folder stands in its place.
    m_platform.ClearRecord();
    std::filesystem::create_directory(m_folder.Path("blocked.PGW"));
    image.SaveWorld(m_folder.Path("blocked.png"));
    EXPECT_EQ(image.m_nErrorNumber, ERR_WORLD_FILE_WRITE);
    EXPECT_EQ(image.m_strErrorText, m_folder.Path("blocked.PGW"));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{m_folder.Path("blocked.PGW")});
}

TEST_F(DIBWorldTest, AFailedImageSaveWritesNoWorldFile)
{
    // A world file beside an image that was not written would give the old picture new
    // edges; nothing is written for a refused depth or a failed save.
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 4, 4);
    image.SetEdges({1, 2, 3, 4});
    EXPECT_EQ(image.SaveWorld(m_folder.Path("refused.gif")), ESaveResult::Refused);
    EXPECT_EQ(image.m_nErrorNumber, ERR_SAVE_REFUSED);
    EXPECT_EQ(image.SaveWorld(m_folder.Path("missing/map.png")), ESaveResult::Failed);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("refused.GFW")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("missing")));
    EXPECT_EQ(image.m_nErrorNumber, ERR_SAVE_FAILED);
    EXPECT_EQ(MessageTexts().size(), 2u);
}

TEST_F(DIBWorldTest, SilentWorldSavesSayWrittenRefusedOrFailedWithoutMessages)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 8, 4, 4);
    image.SetEdges({1, 2, 3, 4});
    std::filesystem::create_directory(m_folder.Path("blocked.PGW"));
    struct SCase {
        const char* pName;
        ESaveResult eExpected;
        int nErrorNumber;
        const char* pWorldFile;  // written beside the image, or null
    };
    const SCase aCases[] = {
        {"map.gif", ESaveResult::Written, 0, "map.GFW"},
        {"map.jpg", ESaveResult::Refused, ERR_SAVE_REFUSED, nullptr},
        {"blocked.png", ESaveResult::Failed, ERR_WORLD_FILE_WRITE, nullptr},
        {"missing/map.bmp", ESaveResult::Failed, ERR_SAVE_FAILED, nullptr},
    };
    for (const SCase& aCase : aCases) {
        image.m_nErrorNumber = 0;
        EXPECT_EQ(image.SaveWorldSilent(m_folder.Path(aCase.pName)), aCase.eExpected) << aCase.pName;
        EXPECT_EQ(image.m_nErrorNumber, aCase.nErrorNumber) << aCase.pName;
        if (aCase.pWorldFile) {
            EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path(aCase.pWorldFile))) << aCase.pName;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("map.JGW")));
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(DIBWorldTest, Release3BlockIsReadOnlyWhenRequiredAndClearedOnSave)
{
    const std::string strPath = m_folder.Path("old.bmp");
    test::WriteBytes(strPath, test::Release3Bitmap("*KELMAR*", "*KELMAR*", 412, 287, 414, 285));
    CDIBWorld image;
    ASSERT_TRUE(image.OpenWorld(strPath, false));
    EXPECT_FALSE(image.HasWorld());
    EXPECT_TRUE(m_platform.Messages().empty());

    ASSERT_TRUE(image.OpenWorld(strPath, true));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"This is a Release 3 image without a World file.\n\n"
                                                       "A World file is being created.\n\n"
                                                       "Please use World files to avoid this message."});
    EXPECT_EQ(image.GetWest(), 412.0);
    EXPECT_EQ(image.GetNorthCm(), 28700);
    EXPECT_EQ(image.GetSouth(), 285.0);
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("old.BPW")));

    image.SaveWorld(strPath);
    CDIBWorld reopened;
    m_platform.ClearRecord();
    ASSERT_TRUE(reopened.OpenWorld(strPath, true));
    EXPECT_TRUE(m_platform.Messages().empty());  // read from the world file
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(reopened.m_pImageBits[i], 0) << i;
    EXPECT_EQ(reopened.m_pImageBits[32], 7);
    EXPECT_EQ(reopened.GetEastCm(), 41400);

    // Centimetres; and a block whose two markers differ is not one, yet is cleared.
    CDIBWorld centimetres;
    test::WriteBytes(m_folder.Path("cm.bmp"), test::Release3Bitmap("*WORLDCM", "*WORLDCM", 41200050, 1, 2, 3));
    ASSERT_TRUE(centimetres.OpenDIB(m_folder.Path("cm.bmp")));
    ASSERT_TRUE(centimetres.ReadRelease3Block(centimetres.m_pImageBits));
    EXPECT_EQ(centimetres.GetWest(), 412000.5);
    CDIBWorld mixed;
    test::WriteBytes(m_folder.Path("mixed.bmp"), test::Release3Bitmap("*WORLDCM", "*KELMAR*", 1, 2, 3, 4));
    ASSERT_TRUE(mixed.OpenDIB(m_folder.Path("mixed.bmp")));
    EXPECT_FALSE(mixed.ReadRelease3Block(mixed.m_pImageBits));
    mixed.ClearRelease3Block(mixed.m_pImageBits);
    EXPECT_EQ(mixed.m_pImageBits[0], 0);
    EXPECT_EQ(mixed.m_pImageBits[31], 0);
}

TEST_F(DIBWorldTest, Release3BlocksBesideUnreadableWorldFilesAndInReadOnlyFolders)
{
    // Permissions bind only a user without privileges, so the opens run as one.
    const std::string strRelease3Message =
        "This is a Release 3 image without a World file.\n\n"
        "A World file is being created.\n\n"
        "Please use World files to avoid this message.";
    struct SCase {
        const char* pFolder;
        bool bUnreadableWorldFile;  // old.BPW there, mode 0000
        unsigned nFolderMode;
        bool bOpened;
        int nErrorNumber;
    };
    const SCase aCases[] = {
        // The world file cannot be read: said so, then the block gives the edges and a
        // new world file replaces the unreadable one.
        {"unreadable", true, 0777, true, 0},
        // No world file can be created: said so with its name; the open fails with 15407
        // while the picture and the edges from the block stay loaded.
        {"readonly", false, 0555, false, ERR_WORLD_FILE_WRITE},
    };
    for (const SCase& aCase : aCases) {
        const std::string strFolder = m_folder.Path(aCase.pFolder);
        std::filesystem::create_directory(strFolder);
        const std::string strImage = strFolder + "/old.bmp", strWorldFile = strFolder + "/old.BPW";
        test::WriteBytes(strImage, test::Release3Bitmap("*KELMAR*", "*KELMAR*", 412, 287, 414, 285));
        if (aCase.bUnreadableWorldFile) {
            test::WriteBytes(strWorldFile, {'1', '\n'});
            chmod(strWorldFile.c_str(), 0);
        }
        const test::CScopedMode folderMode(strFolder, aCase.nFolderMode);
        m_platform.ClearRecord();
        const std::optional<std::string> strOutcome = test::RunWithoutPrivileges([&] {
            CDIBWorld image;
            const bool bOpened = image.OpenWorld(strImage, true);
            std::string strText = std::string(bOpened ? "opened" : "failed") + " " +
                                  std::to_string(image.m_nErrorNumber) + " " + std::to_string(image.GetWestCm()) +
                                  " " + (image.HasImage() ? "picture" : "no picture");
            for (const std::string& strMessage : MessageTexts())
                strText += "|" + strMessage;
            return strText;
        });
        if (!strOutcome)
            GTEST_SKIP() << "running as root, and switching to the user nobody is not allowed here";
        std::string strExpected = std::string(aCase.bOpened ? "opened" : "failed") + " " +
                                  std::to_string(aCase.nErrorNumber) + " 41200 picture";
        if (aCase.bUnreadableWorldFile)
            strExpected += "|Could not open World file " + strWorldFile;
        strExpected += "|" + strRelease3Message;
        if (!aCase.bOpened)
            strExpected += "|" + strWorldFile;
        EXPECT_EQ(*strOutcome, strExpected) << aCase.pFolder;
        EXPECT_EQ(std::filesystem::exists(strWorldFile), aCase.bOpened) << aCase.pFolder;
    }
}

TEST_F(DIBWorldTest, TinyPicturesCannotCarryABlock)
{
    // 2 x 2 at 8 bits is 8 bytes of storage; the block's 32 bytes would run past it.
    CDIBWorld tiny;
    ASSERT_TRUE(tiny.CreateImage(8, 2, 2, FILL_WHITE, 0, 0, 0, nullptr));
    std::memcpy(tiny.m_pImageBits, "*KELMAR*", 8);
    EXPECT_FALSE(tiny.ReadRelease3Block(tiny.m_pImageBits));
    tiny.ClearRelease3Block(tiny.m_pImageBits);
    EXPECT_EQ(tiny.m_pImageBits[0], '*');
}

TEST_F(DIBWorldTest, DepthConversionKeepsThePlaceOnTheMap)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 6, 6);
    image.SetEdges({10, 20, 30, 5});
    CDIBWorld converted;
    ASSERT_TRUE(converted.CreateImage(8, &image, true, true, true, true, false));
    EXPECT_EQ(converted.GetEastCm(), 3000);
    CDIBWorld unplaced;
    ASSERT_TRUE(unplaced.CreateImage(8, &image, true, false, true, true, false));
    EXPECT_FALSE(unplaced.HasWorld());
}

TEST_F(DIBWorldTest, AFullDiscSaysSoAndAPrjIsNotCalledAWorldFile)
{
    // The disc fills up while the n-th file of the set is flushed.
    class CFullDisc : public CFileSystemCalls {
    public:
        explicit CFullDisc(int nFull) : m_nFull(nFull) {}
        int Fsync(int nFd) override
        {
            if (++m_nCalls == m_nFull) {
                errno = ENOSPC;
                return -1;
            }
            return CFileSystemCalls::Fsync(nFd);
        }

    private:
        int m_nFull;
        int m_nCalls = 0;
    };
    SCoordinateSystem system;
    std::string strReason;
    ASSERT_TRUE(ResolveCoordinateSystem("EPSG:27700", system, strReason)) << strReason;
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 12, 8);
    image.SetEdges({1000.0, 1070.0, 1110.0, 1000.0});
    image.SetCoordinateSystem(system);
    const std::string strMap = m_folder.Path("full.png");
    struct SCase {
        int nFull;
        std::string strExpected;
    };
    const SCase aCases[] = {
        {2, "Could not write the World file " + m_folder.Path("full.PGW") + ": writing the file failed: " +
                std::strerror(ENOSPC) + ".\n\nThe disc is full."},
        {3, "Could not write the coordinate system file " + m_folder.Path("full.prj") +
                ": writing the file failed: " + std::strerror(ENOSPC) + ".\n\nThe disc is full."},
    };
    for (const SCase& aCase : aCases) {
        CFullDisc full(aCase.nFull);
        const CScopedFileSystemCalls installed(full);
        EXPECT_EQ(image.SaveWorldSilent(strMap), ESaveResult::Failed);
        EXPECT_EQ(image.GetErrorMessage(), aCase.strExpected);
        EXPECT_FALSE(std::filesystem::exists(strMap));
    }
}

}  // namespace
}  // namespace gridmorph
