// File > Coordinate System...: what the dialog accepts and refuses, its search and recent
// list, the status bar's pane, and a rectification done in the window whose output names
// the chosen system as GDAL reads it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <filesystem>

#include "shared/CommandIds.h"
#include "dialogs/CoordinateSystemDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "view/OrvexTransDlg.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::WhenModal;

struct SDefinitionCase {
    const char* pTyped;
    bool bAccepted;
    int nEpsgCode;          // of the system accepted; 0 for none
    const char* pRefusal;   // a part of the refusal's message
};

const SDefinitionCase kDefinitionCases[] = {
    {"", true, 0, ""},
    {"   ", true, 0, ""},
    {"32633", true, 32633, ""},
    {" EPSG:27700 ", true, 27700, ""},
    {"4326", true, 4326, ""},
    {"+proj=utm +zone=30 +datum=WGS84", true, 32630, ""},
    {"EPSG:99999", false, 0, "'EPSG:99999' is not a coordinate system for a map:\n\nproj_create: crs not found"},
    {"99999", false, 0, "crs not found"},
    {"EPSG:4978", false, 0, "it is not a projected or a two-dimensional geographic coordinate system"},
    {"British grid please", false, 0, "'British grid please' is not a coordinate system for a map:"},
};

TEST(CoordinateSystemCheck, AcceptsWhatPROJResolvesToAMapSystemAndRefusesTheRestWithPROJsReason)
{
    for (const SDefinitionCase& c : kDefinitionCases) {
        SCOPED_TRACE(c.pTyped);
        std::optional<SCoordinateSystem> result = SCoordinateSystem{};  // something to be replaced or kept
        std::string strRefusal;
        ASSERT_EQ(CCoordinateSystemDlg::CheckDefinition(c.pTyped, result, strRefusal), c.bAccepted) << strRefusal;
        if (!c.bAccepted) {
            EXPECT_NE(strRefusal.find(c.pRefusal), std::string::npos) << strRefusal;
            continue;
        }
        EXPECT_EQ(result.has_value(), c.nEpsgCode != 0);
        if (result) {
            EXPECT_EQ(result->geoSystem.nEpsgCode, c.nEpsgCode);
        }
    }
}

class CoordinateSystemDialogTest : public CAppTest {
protected:
    // A 24-bit map of 200 x 200 one-metre pixels with its world file, opened.
    void OpenMap(const std::string& strName, const SEncodeOptions& options = SEncodeOptions())
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 200, 200);
        map.SetEdges({400000.0, 5600199.0, 400199.0, 5600000.0});
        m_strMap = m_folder.Path(strName);
        ASSERT_EQ(map.SaveWorldSilent(m_strMap, options), ESaveResult::Written);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_strMap)));
        m_platform.ClearRecord();
    }
    QString SystemPane() { return Frame().findChild<QLabel*>(QStringLiteral("coordinateSystemPane"))->text(); }
    // The EPSG code gdalsrsinfo finds in a file ("" when none).
    static std::string GdalCode(const std::string& strPath)
    {
        const test::SCommandResult run = test::RunCommand("gdalsrsinfo -o epsg '" + strPath + "' 2>&1");
        const std::size_t nAt = run.strOutput.find("EPSG:");
        return nAt == std::string::npos ? std::string()
                                        : run.strOutput.substr(nAt, run.strOutput.find_first_of("\r\n", nAt) - nAt);
    }
    std::string m_strMap;
};

TEST_F(CoordinateSystemDialogTest, RefusesWithAWarningRemembersAcceptedChoicesAndFindsSystemsByName)
{
    ASSERT_TRUE(Start());
    {
        CCoordinateSystemDlg dialog(std::nullopt);
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("currentSystem"))->text(), QStringLiteral("Current: none"));
        EXPECT_EQ(dialog.Recent()->count(), 0);
        dialog.DefinitionField()->setText(QStringLiteral("EPSG:99999"));
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(m_platform.Messages().size(), 1u);
        EXPECT_EQ(m_platform.Messages().front().eKind, EMessageKind::Warning);
        EXPECT_NE(m_platform.Messages().front().strText.find("crs not found"), std::string::npos);

        // Words of the name find the system; choosing it fills in its code.
        dialog.SearchField()->setText(QStringLiteral("utm 33n wgs 84"));
        QListWidgetItem* pFound = nullptr;
        for (int i = 0; i < dialog.Results()->count(); ++i)
            if (dialog.Results()->item(i)->text() == QStringLiteral("EPSG:32633  WGS 84 / UTM zone 33N"))
                pFound = dialog.Results()->item(i);
        ASSERT_NE(pFound, nullptr);
        dialog.Results()->setCurrentItem(pFound);
        EXPECT_EQ(dialog.DefinitionField()->text(), QStringLiteral("EPSG:32633"));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_TRUE(dialog.Result().has_value());
        EXPECT_EQ(dialog.Result()->geoSystem.nEpsgCode, 32633);
    }
    {
        CCoordinateSystemDlg dialog(std::nullopt);
        dialog.DefinitionField()->setText(QStringLiteral("27700"));
        dialog.accept();
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
    }
    // The newest first, each once, in the profile and in the next dialog's list.
    const auto aRecent = CCoordinateSystemDlg::RecentSystems();
    ASSERT_EQ(aRecent.size(), 2u);
    EXPECT_EQ(aRecent[0].strDefinition, "EPSG:27700");
    EXPECT_EQ(aRecent[1].strDefinition, "EPSG:32633");
    EXPECT_EQ(aRecent[1].strDescription, "EPSG:32633 (WGS 84 / UTM zone 33N)");
    CCoordinateSystemDlg dialog(std::nullopt);
    ASSERT_EQ(dialog.Recent()->count(), 2);
    EXPECT_EQ(dialog.Recent()->item(0)->text(), QStringLiteral("EPSG:27700 (OSGB36 / British National Grid)"));
    dialog.Recent()->setCurrentRow(1);
    EXPECT_EQ(dialog.DefinitionField()->text(), QStringLiteral("EPSG:32633"));
}

TEST_F(CoordinateSystemDialogTest, TheOpenedMapsSystemIsShownAndKeptByItsSaves)
{
    ASSERT_TRUE(Start());
    SCoordinateSystem utm;
    std::string strReason;
    ASSERT_TRUE(ResolveCoordinateSystem("EPSG:32633", utm, strReason)) << strReason;
    SEncodeOptions options;
    options.system = utm.geoSystem;
    OpenMap("utm.tif", options);
    std::filesystem::remove(m_folder.Path("utm.prj"));  // the GeoTIFF keys alone name it
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_strMap)));
    EXPECT_EQ(SystemPane(), QStringLiteral("EPSG:32633"));
    ASSERT_TRUE(Frame().Action(ID_FILE_COORDINATE_SYSTEM)->isEnabled());

    // The dialog shows it; Cancel keeps it.
    WhenModal<CCoordinateSystemDlg>([](CCoordinateSystemDlg& dialog) {
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("currentSystem"))->text(),
                  QStringLiteral("Current: EPSG:32633 (WGS 84 / UTM zone 33N)"));
        EXPECT_EQ(dialog.DefinitionField()->text(), QStringLiteral("EPSG:32633"));
        dialog.reject();
    });
    Frame().Action(ID_FILE_COORDINATE_SYSTEM)->trigger();
    EXPECT_EQ(SystemPane(), QStringLiteral("EPSG:32633"));

    m_platform.AnswerNextFileDialog({true, m_folder.Path("copy.png"), 0});
    ASSERT_TRUE(Document().OnFileSaveAs());
    EXPECT_EQ(GdalCode(m_folder.Path("copy.prj")), "EPSG:32633");

    // Without a map there is nothing to set, and the pane is hidden.
    Document().OnFileClose();
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_FILE_COORDINATE_SYSTEM)->isEnabled());
    EXPECT_TRUE(Frame().findChild<QLabel*>(QStringLiteral("coordinateSystemPane"))->isHidden());
}

// How the user names the system of a rectification done in the window.
enum class EChoice { FileMenu, SaveDialogButton };

class WindowRectificationTest : public CoordinateSystemDialogTest, public ::testing::WithParamInterface<EChoice> {};

TEST_P(WindowRectificationTest, CarriesTheChosenSystemIntoTheSavedMap)
{
    ASSERT_TRUE(Start());
    Frame().resize(800, 600);
    OpenMap("scan.bmp");
    EXPECT_EQ(SystemPane(), QStringLiteral("No system"));
    const auto ChooseUtm33 = [] {
        WhenModal<CCoordinateSystemDlg>([](CCoordinateSystemDlg& dialog) {
            dialog.DefinitionField()->setText(QStringLiteral("32633"));
            dialog.accept();
        });
    };
    if (GetParam() == EChoice::FileMenu) {
        ChooseUtm33();
        Frame().Action(ID_FILE_COORDINATE_SYSTEM)->trigger();
        EXPECT_TRUE(m_platform.Messages().empty());
        EXPECT_EQ(SystemPane(), QStringLiteral("EPSG:32633"));
        EXPECT_FALSE(Document().IsModified());  // no pixel changed
    }

    // The grid rectangle's corners: top-left, top-right, bottom-right.
    WhenModal<COrvexTransDlg>([](COrvexTransDlg& dialog) {
        const int aX[] = {20, 180, 180}, aY[] = {20, 20, 180};
        const char* aE[] = {"400020", "", "400180"};
        const char* aN[] = {"5600179", "", "5600019"};
        for (int i = 0; i < 3; ++i) {
            dialog.Field(COrvexTransDlg::IDC_X1 + 4 * i)->setText(QString::number(aX[i]));
            dialog.Field(COrvexTransDlg::IDC_Y1 + 4 * i)->setText(QString::number(aY[i]));
            if (i == 1)
                continue;
            dialog.Field(COrvexTransDlg::IDC_EASTING1 + 4 * i)->setText(QString::fromLatin1(aE[i]));
            dialog.Field(COrvexTransDlg::IDC_NORTHING1 + 4 * i)->setText(QString::fromLatin1(aN[i]));
        }
        dialog.accept();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    ASSERT_TRUE(Frame().Action(ID_ACTION_APPLY_TRANSFORM)->isEnabled());
    Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    ASSERT_TRUE(Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS)->isEnabled());
    if (GetParam() == EChoice::SaveDialogButton) {
        ChooseUtm33();
        m_platform.ClickNextAccessory();
    }
    m_platform.AnswerNextFileDialog({true, m_folder.Path("window.tif"), 0});
    Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS)->trigger();
    EXPECT_FALSE(Document().IsTransformedModified());
    EXPECT_TRUE(m_platform.Messages().empty()) << m_platform.Messages().front().strText;
    // The save dialog said which system the map would name, and after the button which it will.
    ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
    const SFileDialogAccessory& accessory = m_platform.FileDialogRequests().front().accessory;
    EXPECT_EQ(accessory.strButton, "Coordinate System...");
    if (GetParam() == EChoice::SaveDialogButton) {
        EXPECT_EQ(accessory.strText, "Coordinate system: none");
        EXPECT_EQ(m_platform.AccessoryText(), "Coordinate system: EPSG:32633 (WGS 84 / UTM zone 33N)");
        Frame().UpdateCommandUI();
        EXPECT_EQ(SystemPane(), QStringLiteral("EPSG:32633"));  // the scan's, as the transformed map's
    } else {
        EXPECT_EQ(accessory.strText, "Coordinate system: EPSG:32633 (WGS 84 / UTM zone 33N)");
    }

    // GDAL finds the system in the TIFF's own keys and in the .prj beside it.
    EXPECT_EQ(GdalCode(m_folder.Path("window.prj")), "EPSG:32633");
    std::filesystem::remove(m_folder.Path("window.prj"));
    EXPECT_EQ(GdalCode(m_folder.Path("window.tif")), "EPSG:32633");
    const test::SCommandResult info = test::RunCommand("gdalinfo '" + m_folder.Path("window.tif") + "' 2>&1");
    EXPECT_NE(info.strOutput.find("WGS 84 / UTM zone 33N"), std::string::npos) << info.strOutput;
}

INSTANTIATE_TEST_SUITE_P(Choices, WindowRectificationTest,
                         ::testing::Values(EChoice::FileMenu, EChoice::SaveDialogButton),
                         [](const ::testing::TestParamInfo<EChoice>& info) {
                             return std::string(info.param == EChoice::FileMenu ? "FileMenu" : "SaveDialogButton");
                         });

}  // namespace
}  // namespace gridmorph
