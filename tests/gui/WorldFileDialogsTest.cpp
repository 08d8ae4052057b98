// The world file dialogs: Setup from World File reads a world file the user picks and
// gives the edges for the current image's size; Create World File writes the current
// map's world file in the flavours ticked. Both as the window's commands run them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "shared/CommandIds.h"
#include "dialogs/OvNewWorldFileDlg.h"
#include "dialogs/OvWorldFileDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::CPlatformTest;
using test::CTempFolder;
using W = COvWorldFileDlg;

void WriteText(const std::string& strPath, const std::string& strText) { std::ofstream(strPath, std::ios::binary) << strText; }

std::string ReadText(const std::string& strPath)
{
    const std::vector<std::uint8_t> aBytes = test::ReadBytes(strPath);
    return std::string(aBytes.begin(), aBytes.end());
}

class WorldFileDialogTest : public CPlatformTest {
protected:
    // A shown dialog for an image of the given size in the test's folder, after Browse
    // picked strWorldFile.
    void Browse(W& dialog, const std::string& strWorldFile, int nWidth, int nHeight)
    {
        dialog.m_strImagePath = m_folder.Path("site.jpg");
        dialog.m_nImageWidth = nWidth;
        dialog.m_nImageHeight = nHeight;
        dialog.InitDialog();
        dialog.show();
        m_platform.AnswerNextFileDialog({true, strWorldFile, 0});
        dialog.OnBrowse();
    }
    QString Text(const W& dialog, int nControl) const { return dialog.Field(nControl)->text(); }

    CTempFolder m_folder;
};

TEST_F(WorldFileDialogTest, BrowseShowsTheSixNumbersAndTheEdgesForTheImageSize)
{
    struct SCase {
        const char* pName;
        const char* pRotation;  // lines 2 and 3
        const char* pShown;     // how the first rotation term shows
    };
    // The rotation terms are shown but take no part in the edges.
    for (const SCase& aCase : {SCase{"no rotation", "0\r\n0\r\n", "0"}, SCase{"rotation", "0.1\r\n0.1\r\n", "0.1"}}) {
        SCOPED_TRACE(aCase.pName);
        m_platform.ClearRecord();
        const std::string strWorldFile = m_folder.Path("other.jgw");
        WriteText(strWorldFile, std::string("2.5\r\n") + aCase.pRotation + "-2.5\r\n412000\r\n287000\r\n");
        W dialog;
        Browse(dialog, strWorldFile, 1000, 800);

        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Related World files have the same name as the bitmap."});
        ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
        EXPECT_EQ(m_platform.FileDialogRequests()[0].strFilter, WorldFileDialogFilter(m_folder.Path("site.jpg")));
        EXPECT_EQ(m_platform.FileDialogRequests()[0].strInitialFolder, m_folder.Root().string());
        EXPECT_EQ(Text(dialog, W::IDC_FILE_NAME).toStdString(), strWorldFile);
        EXPECT_EQ(Text(dialog, W::IDC_X_RESOLUTION), QStringLiteral("2.5"));
        EXPECT_EQ(Text(dialog, W::IDC_Y_RESOLUTION), QStringLiteral("-2.5"));
        EXPECT_EQ(Text(dialog, W::IDC_ROTATION1), QString::fromLatin1(aCase.pShown));
        EXPECT_EQ(Text(dialog, W::IDC_ROTATION2), QString::fromLatin1(aCase.pShown));
        EXPECT_EQ(Text(dialog, W::IDC_TOP_LEFT_EASTING), QStringLiteral("412000"));
        EXPECT_EQ(Text(dialog, W::IDC_TOP_LEFT_NORTHING), QStringLiteral("287000"));
        EXPECT_EQ(Text(dialog, W::IDC_WEST), QStringLiteral("412000"));
        EXPECT_EQ(Text(dialog, W::IDC_EAST), QStringLiteral("414497.5"));
        EXPECT_EQ(Text(dialog, W::IDC_NORTH), QStringLiteral("287000"));
        EXPECT_EQ(Text(dialog, W::IDC_SOUTH), QStringLiteral("285002.5"));
        EXPECT_TRUE(dialog.Field(W::IDC_X_RESOLUTION)->isReadOnly());
        EXPECT_FALSE(dialog.Field(W::IDC_WEST)->isReadOnly());

        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.m_dWest, 412000.0);
        EXPECT_EQ(dialog.m_dEast, 414497.5);
        EXPECT_EQ(dialog.m_dNorth, 287000.0);
        EXPECT_EQ(dialog.m_dSouth, 285002.5);
    }
}

// What OK refuses, and where the focus goes.
TEST_F(WorldFileDialogTest, OkNeedsEastOfWestAndNorthOfSouth)
{
    // A positive south-north resolution puts South above North.
    const std::string strWorldFile = m_folder.Path("upside.tfw");
    WriteText(strWorldFile, "2.5\n0\n0\n2.5\n412000\n287000\n");
    W dialog;
    Browse(dialog, strWorldFile, 1000, 800);
    EXPECT_EQ(Text(dialog, W::IDC_SOUTH), QStringLiteral("288997.5"));
    m_platform.ClearRecord();
    dialog.accept();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"North must be greater than South"});
    EXPECT_EQ(dialog.focusWidget(), dialog.Field(W::IDC_SOUTH));
    EXPECT_TRUE(dialog.isVisible());
    // The user puts them right.
    dialog.Field(W::IDC_SOUTH)->setText(QStringLiteral("285002.5"));
    m_platform.ClearRecord();
    dialog.accept();
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_dSouth, 285002.5);

    // Straight after opening, every value is 0.
    W empty;
    empty.InitDialog();
    empty.show();
    m_platform.ClearRecord();
    empty.accept();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"East must be greater than West"});
    EXPECT_EQ(empty.focusWidget(), empty.Field(W::IDC_WEST));
    EXPECT_TRUE(empty.isVisible());
}

TEST_F(WorldFileDialogTest, AFileThatCannotBeReadLeavesTheFields)
{
    WriteText(m_folder.Path("short.jgw"), "2.5\n0\n0\n-2.5\n412000\n");
    struct SCase {
        std::string strFile;
        std::string strMessage;
    };
    for (const SCase& aCase : {SCase{m_folder.Path("short.jgw"), "Unexpected end of world file"},
                               SCase{m_folder.Path("missing.jgw"), "Could not open " + m_folder.Path("missing.jgw")}}) {
        SCOPED_TRACE(aCase.strFile);
        W dialog;
        Browse(dialog, aCase.strFile, 1000, 800);
        EXPECT_EQ(MessageTexts().back(), aCase.strMessage);
        for (int nControl : {W::IDC_X_RESOLUTION, W::IDC_TOP_LEFT_EASTING, W::IDC_WEST, W::IDC_EAST})
            EXPECT_EQ(Text(dialog, nControl), QStringLiteral("0")) << nControl;
        m_platform.ClearRecord();
    }
}

class CreateWorldFileDialogTest : public CPlatformTest {
protected:
    // The dialog as the document opens it, for a map of the given size and edges saved
    // under strName in the test's folder.
    void Prepare(COvNewWorldFileDlg& dialog, const std::string& strName, int nWidth, int nHeight, double dWest,
                 double dNorth, double dEast, double dSouth)
    {
        test::MakePatternPicture(m_map, 8, nWidth, nHeight);
        m_map.SetEdges({dWest, dNorth, dEast, dSouth});
        dialog.m_strImageFile = m_folder.Path(strName);
        dialog.m_pImage = &m_map;
        dialog.InitDialog();
    }

    CTempFolder m_folder;
    CDIBWorld m_map;
};

TEST_F(CreateWorldFileDialogTest, WritesEachTickedFlavourWithTheSameContent)
{
    COvNewWorldFileDlg dialog;
    Prepare(dialog, "SITE.JPG", 1000, 800, 412000.0, 286997.5, 414497.5, 285000.0);
    EXPECT_EQ(dialog.ImageFileText()->text().remove(QChar(0x200b)).toStdString(), m_folder.Path("SITE.JPG"));
    dialog.CheckBox(COvNewWorldFileDlg::IDC_BPW)->setChecked(true);
    dialog.CheckBox(COvNewWorldFileDlg::IDC_TFW)->setChecked(true);
    dialog.accept();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(m_platform.Messages().empty());
    const std::string strExpected = "2.500000\r\n0.0\r\n0.0\r\n-2.500000\r\n412000.000000\r\n286997.500000\r\n";
    EXPECT_EQ(ReadText(m_folder.Path("SITE.BPW")), strExpected);
    EXPECT_EQ(ReadText(m_folder.Path("SITE.TFW")), strExpected);
    for (const char* pOther : {"SITE.JGW", "SITE.GFW", "SITE.PGW"})
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path(pOther))) << pOther;
}

TEST_F(CreateWorldFileDialogTest, NothingTickedOrAFileThatCannotBeWrittenKeepsTheDialogOpen)
{
    COvNewWorldFileDlg dialog;
    Prepare(dialog, "site.png", 10, 10, 100.0, 190.0, 190.0, 100.0);
    dialog.show();
    dialog.accept();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"At least one output format must be selected."});
    EXPECT_EQ(dialog.focusWidget(), dialog.CheckBox(COvNewWorldFileDlg::IDC_BPW));
    EXPECT_TRUE(dialog.isVisible());

    // A folder where the GIF flavour would go: the flavours before it are written.
    std::filesystem::create_directory(m_folder.Path("site.GFW"));
    for (int nControl : {COvNewWorldFileDlg::IDC_BPW, COvNewWorldFileDlg::IDC_GFW, COvNewWorldFileDlg::IDC_PGW})
        dialog.CheckBox(nControl)->setChecked(true);
    m_platform.ClearRecord();
    dialog.accept();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Could not open " + m_folder.Path("site.GFW")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path("site.BPW")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("site.PGW")));
}

// The commands that open them.
class WorldFileCommandsTest : public CAppTest {
protected:
    std::string WriteMap(const std::string& strName, bool bWorld)
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 8, 11, 6);
        if (bWorld)
            map.SetEdges({1000.0, 2050.0, 1100.0, 2000.0});
        EXPECT_EQ(map.SaveWorld(m_folder.Path(strName)), ESaveResult::Written);
        if (!bWorld)
            std::filesystem::remove(m_folder.Path(WorldFileNameFor(strName)));
        return m_folder.Path(strName);
    }
};

TEST_F(WorldFileCommandsTest, CreateWorldFileNeedsAGeoreferencedMapAndWritesThroughTheDialog)
{
    ASSERT_TRUE(Start());
    QAction* pCreate = Frame().Action(ID_FILE_CREATE_WORLD_FILE);
    EXPECT_FALSE(pCreate->isEnabled());
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(WriteMap("plain.bmp", false))));
    EXPECT_FALSE(pCreate->isEnabled());
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(WriteMap("placed.bmp", true))));
    ASSERT_TRUE(pCreate->isEnabled());

    test::WhenModal<COvNewWorldFileDlg>([](COvNewWorldFileDlg& dialog) {
        dialog.CheckBox(COvNewWorldFileDlg::IDC_JGW)->setChecked(true);
        dialog.accept();
    });
    pCreate->trigger();
    EXPECT_EQ(ReadText(m_folder.Path("placed.JGW")), ReadText(m_folder.Path("placed.BPW")));
    EXPECT_FALSE(Document().IsModified());
}

TEST_F(WorldFileCommandsTest, SetupFromWorldFileGivesTheMapTheDialogsEdges)
{
    ASSERT_TRUE(Start());
    QAction* pSetup = Frame().Action(ID_ACTION_SETUP_FROM_WORLD_FILE);
    EXPECT_FALSE(pSetup->isEnabled());
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(WriteMap("plain.bmp", false))));
    ASSERT_TRUE(pSetup->isEnabled());
    const std::string strWorldFile = m_folder.Path("elsewhere.wld");
    WriteText(strWorldFile, "10\n0\n0\n-10\n5000\n9000\n");

    // Cancel changes nothing.
    test::WhenModal<COvWorldFileDlg>([](COvWorldFileDlg& dialog) { dialog.reject(); });
    pSetup->trigger();
    EXPECT_FALSE(Document().GetImage()->HasWorld());
    EXPECT_FALSE(Document().IsModified());

    m_platform.AnswerNextFileDialog({true, strWorldFile, 0});
    test::WhenModal<COvWorldFileDlg>([](COvWorldFileDlg& dialog) {
        dialog.OnBrowse();
        dialog.accept();
    });
    pSetup->trigger();
    const CDIBWorld* pMap = Document().GetImage();
    EXPECT_TRUE(pMap->HasWorld());
    EXPECT_EQ(pMap->GetWest(), 5000.0);
    EXPECT_EQ(pMap->GetEast(), 5100.0);
    EXPECT_EQ(pMap->GetNorth(), 9000.0);
    EXPECT_EQ(pMap->GetSouth(), 8950.0);
    EXPECT_TRUE(Document().IsModified());
}

}  // namespace
}  // namespace gridmorph
