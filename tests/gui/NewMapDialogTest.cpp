// The New Background Map dialog: Browse for the name with the shared filter index, the
// based-on list through the multiple file dialog, Initialise, the checks of OK; and File
// New from three georeferenced images to the saved map, which must be the command-line
// tool's mosaic of the same images pixel for pixel.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>

#include "shared/CommandIds.h"
#include "dialogs/HorzListBox.h"
#include "dialogs/MFileDialog.h"
#include "dialogs/OrvexNewDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::CPlatformTest;
using test::CTempFolder;
using N = COrvexNewDlg;

// A georeferenced picture saved with its world file.
std::string WriteMap(const CTempFolder& folder, const std::string& strName, int nBitCount, int nWidth, int nHeight,
                     double dWest, double dNorth, double dEast, double dSouth)
{
    CDIBWorld map;
    test::MakePatternPicture(map, nBitCount, nWidth, nHeight);
    map.SetEdges({dWest, dNorth, dEast, dSouth});
    EXPECT_EQ(map.SaveWorld(folder.Path(strName)), ESaveResult::Written) << strName;
    return folder.Path(strName);
}

class NewMapDialogTest : public CPlatformTest {
protected:
    std::vector<std::string> RegionTexts(const N& dialog) const
    {
        std::vector<std::string> aTexts;
        for (int nControl : {N::IDC_WEST, N::IDC_EAST, N::IDC_SOUTH, N::IDC_NORTH})
            aTexts.push_back(dialog.Field(nControl)->text().toStdString());
        return aTexts;
    }

    CTempFolder m_folder;
    int m_nFilterIndex = 1;
};

TEST_F(NewMapDialogTest, InitialiseFillsTheUnionOfTheExtents)
{
    const std::string strFirst = WriteMap(m_folder, "first.bmp", 8, 9, 9, 412000, 287000, 414000, 285000);
    const std::string strSecond = WriteMap(m_folder, "second.bmp", 8, 13, 9, 413000, 286000, 416000, 284000);
    N dialog(m_nFilterIndex);
    dialog.m_strBasedOnList = {strFirst, strSecond};
    dialog.InitDialog();
    dialog.OnInitialise();
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_EQ(RegionTexts(dialog), (std::vector<std::string>{"412000.00", "416000.00", "284000.00", "287000.00"}));
    EXPECT_EQ(dialog.m_dWest, 0.0);  // the members follow only at OK
    EXPECT_GT(m_platform.WaitCursorCount(), 0);
    EXPECT_EQ(m_platform.WaitCursorDepth(), 0);
}

TEST_F(NewMapDialogTest, InitialiseRefusesA32BitImageAnywhereAndChangesNoField)
{
    const std::string strFirst = WriteMap(m_folder, "first.bmp", 8, 9, 9, 412000, 287000, 414000, 285000);
    const std::string strDeep = WriteMap(m_folder, "deep.bmp", 32, 9, 9, 413000, 286000, 416000, 284000);
    for (const auto& aList : {std::vector<std::string>{strFirst, strDeep}, std::vector<std::string>{strDeep, strFirst}}) {
        m_platform.ClearRecord();
        N dialog(m_nFilterIndex);
        dialog.m_strBasedOnList = aList;
        dialog.InitDialog();
        dialog.OnInitialise();
        EXPECT_EQ(MessageTexts(),
                  std::vector<std::string>{"Only 8-bit and 24-bit colour images can be used in Gridmorph.\n"
                                           "Please convert the image to 8-bit, or 24-bit colour before use.\n\n"
                                           "This image is 32-bit.\n\n" + strDeep});
        EXPECT_EQ(RegionTexts(dialog), (std::vector<std::string>{"0", "0", "0", "0"}));
    }
    // A file without a georeference stops it with the image's message and the name.
    const std::string strPlain = m_folder.Path("plain.bmp");
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 8, 4, 4);
        ASSERT_EQ(map.SaveDIB(strPlain), ESaveResult::Written);
    }
    m_platform.ClearRecord();
    N dialog(m_nFilterIndex);
    dialog.m_strBasedOnList = {strFirst, strPlain};
    dialog.InitDialog();
    dialog.OnInitialise();
    CDIBWorld probe;
    probe.OpenWorld(strPlain, true);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{probe.GetErrorMessage() + "\n\n" + strPlain});
    EXPECT_EQ(RegionTexts(dialog), (std::vector<std::string>{"0", "0", "0", "0"}));
}

TEST_F(NewMapDialogTest, ARelease3ImageGainsAWorldFileAtInitialise)
{
    const std::string strOld = m_folder.Path("old.bmp");
    test::WriteBytes(strOld, test::Release3Bitmap("*KELMAR*", "*KELMAR*", 412000, 287000, 414000, 285000));
    N dialog(m_nFilterIndex);
    dialog.m_strBasedOnList = {strOld};
    dialog.InitDialog();
    dialog.OnInitialise();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"This is a Release 3 image without a World file.\n\n"
                                                       "A World file is being created.\n\n"
                                                       "Please use World files to avoid this message."});
    EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path("old.BPW")));
    EXPECT_EQ(RegionTexts(dialog), (std::vector<std::string>{"412000.00", "414000.00", "285000.00", "287000.00"}));
}

TEST_F(NewMapDialogTest, OkChecksTheNameTheListAndTheRegion)
{
    struct SCase {
        const char* pName;
        const char* pFileName;
        bool bList;
        const char *pWest, *pSouth, *pEast, *pNorth;
        const char* pMessage;
        int nFocus;
    };
    const SCase aCases[] = {
        {"no name", "", true, "1", "1", "2", "2", "File name must be specified", N::IDC_FILE_NAME},
        {"no list", "/m/new.bmp", false, "1", "1", "2", "2", "Based on file name must be specified", N::IDC_BROWSE_BASED_ON},
        {"all zero", "/m/new.bmp", true, "0", "0", "0", "0", "East must be greater than West", N::IDC_EAST},
        {"east on west", "/m/new.bmp", true, "500", "1", "500", "2", "East must be greater than West", N::IDC_EAST},
        {"north on south", "/m/new.bmp", true, "1", "700", "2", "700", "North must be greater than South", N::IDC_NORTH},
        // The limits come before the other checks, the fields in the order East, North, South, West.
        {"negative", "", true, "-1", "0", "0", "0", "Please enter a number between 0 and 100000000.", N::IDC_WEST},
        {"too far", "", true, "0", "0", "100000000.5", "0", "Please enter a number between 0 and 100000000.", N::IDC_EAST},
        {"not a number", "", true, "0", "1,5", "0", "0", "Please enter a number.", N::IDC_SOUTH},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        m_platform.ClearRecord();
        N dialog(m_nFilterIndex);
        dialog.m_strFileName = aCase.pFileName;
        if (aCase.bList)
            dialog.m_strBasedOnList = {"/m/a.bmp"};
        dialog.InitDialog();
        dialog.show();
        dialog.Field(N::IDC_WEST)->setText(QString::fromLatin1(aCase.pWest));
        dialog.Field(N::IDC_SOUTH)->setText(QString::fromLatin1(aCase.pSouth));
        dialog.Field(N::IDC_EAST)->setText(QString::fromLatin1(aCase.pEast));
        dialog.Field(N::IDC_NORTH)->setText(QString::fromLatin1(aCase.pNorth));
        dialog.accept();
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{aCase.pMessage});
        EXPECT_TRUE(dialog.isVisible());
        QWidget* pExpected = dialog.Field(aCase.nFocus) ? static_cast<QWidget*>(dialog.Field(aCase.nFocus))
                                                        : static_cast<QWidget*>(dialog.Button(aCase.nFocus));
        EXPECT_EQ(dialog.focusWidget(), pExpected);
    }

    // A region in order is taken.
    N dialog(m_nFilterIndex);
    dialog.m_strFileName = "/m/new.bmp";
    dialog.m_strBasedOnList = {"/m/a.bmp"};
    dialog.InitDialog();
    dialog.Field(N::IDC_WEST)->setText(QStringLiteral("412000.25"));
    dialog.Field(N::IDC_SOUTH)->setText(QStringLiteral("285000"));
    dialog.Field(N::IDC_EAST)->setText(QStringLiteral("416000"));
    dialog.Field(N::IDC_NORTH)->setText(QStringLiteral("287000.75"));
    m_platform.ClearRecord();
    dialog.accept();
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_dWest, 412000.25);
    EXPECT_EQ(dialog.m_dNorth, 287000.75);
}

TEST_F(NewMapDialogTest, BrowseForTheNameSharesTheFilterIndex)
{
    m_nFilterIndex = 4;  // the TIFF entry of the open list, the third of the save list
    N dialog(m_nFilterIndex);
    dialog.InitDialog();
    // Cancelled: nothing changes.
    m_platform.AnswerNextFileDialog({false, "", 0});
    dialog.OnBrowseFile();
    EXPECT_EQ(dialog.m_strFileName, "");
    EXPECT_EQ(m_nFilterIndex, 4);
    ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
    EXPECT_EQ(m_platform.FileDialogRequests()[0].nFilterEntry, 2);

    // The name keeps its letter case; the index follows the entry the user left.
    m_platform.AnswerNextFileDialog({true, m_folder.Path("New Map.png"), 4});
    dialog.OnBrowseFile();
    EXPECT_EQ(dialog.m_strFileName, m_folder.Path("New Map.png"));
    EXPECT_EQ(dialog.Field(N::IDC_FILE_NAME)->text().toStdString(), m_folder.Path("New Map.png"));
    EXPECT_TRUE(dialog.Field(N::IDC_FILE_NAME)->isReadOnly());
    EXPECT_EQ(m_nFilterIndex, 6);
}

TEST_F(NewMapDialogTest, InitialiseIsAvailableWhileTheListHoldsAFile)
{
    const std::string strFirst = WriteMap(m_folder, "first.bmp", 8, 9, 9, 412000, 287000, 414000, 285000);
    const std::string strSecond = WriteMap(m_folder, "second.bmp", 8, 13, 9, 413000, 286000, 416000, 284000);
    N dialog(m_nFilterIndex);
    dialog.InitDialog();
    EXPECT_FALSE(dialog.Button(N::IDC_INITIALISE)->isEnabled());

    test::WhenModal<CMFileDialog>([&](CMFileDialog& files) {
        files.OnFileNameOK({QString::fromStdString(strSecond), QString::fromStdString(strFirst)});
        files.Button(CMFileDialog::IDC_CLOSE)->click();
    });
    dialog.OnBrowseBasedOn();
    EXPECT_EQ(dialog.m_strBasedOnList, (std::vector<std::string>{strSecond, strFirst}));
    EXPECT_EQ(dialog.m_lbBasedOn->GetCount(), 2);
    EXPECT_EQ(dialog.m_lbBasedOn->GetText(0).toStdString(), strSecond);
    EXPECT_TRUE(dialog.Button(N::IDC_INITIALISE)->isEnabled());

    // Cancel in the file dialog keeps the list.
    test::WhenModal<CMFileDialog>([](CMFileDialog& files) {
        files.List()->setCurrentRow(0);
        files.OnDeleteFile();
        files.reject();
    });
    dialog.OnBrowseBasedOn();
    EXPECT_EQ(dialog.m_strBasedOnList.size(), 2u);

    // Deleting every file disables Initialise again.
    test::WhenModal<CMFileDialog>([](CMFileDialog& files) {
        while (files.List()->GetCount() > 0) {
            files.List()->setCurrentRow(0);
            files.OnDeleteFile();
        }
        files.Button(CMFileDialog::IDC_CLOSE)->click();
    });
    dialog.OnBrowseBasedOn();
    EXPECT_TRUE(dialog.m_strBasedOnList.empty());
    EXPECT_EQ(dialog.m_lbBasedOn->GetCount(), 0);
    EXPECT_FALSE(dialog.Button(N::IDC_INITIALISE)->isEnabled());
}

// File New, the whole way: the dialog's name, files and Initialise, then the document's
// build and save, against the command-line tool's mosaic of the same images.
class NewMapJourneyTest : public CAppTest {};

TEST_F(NewMapJourneyTest, ThreeImagesGiveTheSameMapAsTheCommandLineMosaic)
{
    // Three overlapping maps on 10 m pixels, the third offset by half a pixel.
    const std::string strA = WriteMap(m_folder, "a.bmp", 8, 40, 30, 500000, 600290, 500390, 600000);
    const std::string strB = WriteMap(m_folder, "b.bmp", 8, 35, 25, 500200, 600150, 500540, 599910);
    const std::string strC = WriteMap(m_folder, "c.bmp", 8, 20, 40, 499905, 600395, 500095, 600005);
    const std::string strNew = m_folder.Path("Region.bmp");
    ASSERT_TRUE(Start());

    std::string strWest, strSouth, strEast, strNorth;
    m_platform.AnswerNextFileDialog({true, strNew, 0});
    test::WhenModal<COrvexNewDlg>([&](COrvexNewDlg& dialog) {
        dialog.OnBrowseFile();
        test::WhenModal<CMFileDialog>([&](CMFileDialog& files) {
            files.OnFileNameOK({QString::fromStdString(strA), QString::fromStdString(strB)});
            files.OnFileNameOK({QString::fromStdString(strC)});
            files.Button(CMFileDialog::IDC_CLOSE)->click();
        });
        dialog.OnBrowseBasedOn();
        dialog.Button(COrvexNewDlg::IDC_INITIALISE)->click();
        strWest = dialog.Field(COrvexNewDlg::IDC_WEST)->text().toStdString();
        strSouth = dialog.Field(COrvexNewDlg::IDC_SOUTH)->text().toStdString();
        strEast = dialog.Field(COrvexNewDlg::IDC_EAST)->text().toStdString();
        strNorth = dialog.Field(COrvexNewDlg::IDC_NORTH)->text().toStdString();
        dialog.Button(COrvexNewDlg::IDOK)->click();
    });
    Frame().Action(ID_FILE_NEW)->trigger();
    EXPECT_EQ(strWest, "499905.00");
    EXPECT_EQ(strEast, "500540.00");
    EXPECT_EQ(strSouth, "599910.00");
    EXPECT_EQ(strNorth, "600395.00");
    ASSERT_NE(Document().GetImage(), nullptr);
    EXPECT_EQ(Document().GetFilePath(), strNew);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - REGION.BMP"));
    EXPECT_FALSE(Document().IsModified());

    const std::string strCliMap = m_folder.Path("cli.bmp");
    const std::string strCommand = std::string(GRIDMORPH_CLI_PATH) + " mosaic '" + strCliMap + "' --region " + strWest +
                                   "," + strSouth + "," + strEast + "," + strNorth + " '" + strA + "' '" + strB + "' '" +
                                   strC + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(strCommand.c_str()), 0) << strCommand;

    CDIBWorld saved, expected;
    ASSERT_TRUE(saved.OpenWorld(strNew, true));
    ASSERT_TRUE(expected.OpenWorld(strCliMap, true));
    EXPECT_TRUE(test::SamePicture(expected, saved));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("Region.BPW")), test::ReadBytes(m_folder.Path("cli.BPW")));
    // Not a blank page: pixels of all three images are in it.
    EXPECT_GT(saved.m_nImageWidth, 40);
    EXPECT_GT(saved.m_nImageHeight, 40);
}

}  // namespace
}  // namespace gridmorph
