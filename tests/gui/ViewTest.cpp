// The map view: picking and dragging locators, the crop rectangle, the status texts, the
// View and Action commands with their enable rules, the Transform and Edit Map Location
// dialogs, and the whole journey from a scan to a saved north-up map.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "view/OrvexEditEdgeDlg.h"
#include "view/OrvexTransDlg.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::WhenModal;

// The Transform dialog's pixel positions, and the eastings and northings of points 1 and 3.
void FillLocatorFields(COrvexTransDlg& dialog, const int (&aX)[3], const int (&aY)[3], const double (&aEasting)[3],
                       const double (&aNorthing)[3])
{
    for (int i = 0; i < 3; ++i) {
        dialog.Field(COrvexTransDlg::IDC_X1 + 4 * i)->setText(QString::number(aX[i]));
        dialog.Field(COrvexTransDlg::IDC_Y1 + 4 * i)->setText(QString::number(aY[i]));
        if (i == 1)
            continue;
        dialog.Field(COrvexTransDlg::IDC_EASTING1 + 4 * i)->setText(QString::number(aEasting[i], 'g', 15));
        dialog.Field(COrvexTransDlg::IDC_NORTHING1 + 4 * i)->setText(QString::number(aNorthing[i], 'g', 15));
    }
}

class ViewTest : public CAppTest {
protected:
    // A georeferenced map of the given depth, opened; its messages forgotten.
    void OpenMap(int nBitCount, int nWidth, int nHeight, bool bWorld = true)
    {
        CDIBWorld map;
        test::MakePatternPicture(map, nBitCount, nWidth, nHeight);
        const std::string strPath = m_folder.Path("map" + std::to_string(m_nMaps++) + ".bmp");
        if (bWorld) {
            map.SetEdges({1000.0, 1000.0 + nHeight - 1, 1000.0 + nWidth - 1, 1000.0});
            map.SaveWorld(strPath);
        } else {
            map.SaveDIB(strPath);  // no world file beside it
        }
        ASSERT_EQ(map.m_nErrorNumber, 0);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
    }
    void StartWithView(int nWidth = 700, int nHeight = 500)
    {
        ASSERT_TRUE(Start());
        Frame().resize(nWidth, nHeight);
        QApplication::processEvents();
    }
    COrvexView& View() { return *Frame().View(); }
    QWidget* Viewport() { return View().viewport(); }
    QString PaneText(int nPane) { return Frame().Pane(nPane)->text(); }
    void Press(QPoint point, Qt::KeyboardModifiers eModifiers = Qt::NoModifier)
    {
        QTest::mousePress(Viewport(), Qt::LeftButton, eModifiers, point);
    }
    void Move(QPoint point, Qt::KeyboardModifiers eModifiers = Qt::NoModifier)
    {
        QTest::mouseEvent(QTest::MouseMove, Viewport(), Qt::NoButton, eModifiers, point);
    }
    void Release(QPoint point) { QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, point); }

    // Three locators of a grid turned a little on a 240 x 180 map.
    static constexpr int kaX[3] = {12, 225, 220}, kaY[3] = {10, 18, 168};
    static constexpr double kaEasting[3] = {1000, 1200, 1200}, kaNorthing[3] = {2000, 2000, 1850};

    // A new document with a 240 x 180 map of the given depth; the scan's path.
    std::string ReopenMap(int nBitCount)
    {
        Document().SetTransformedModified(false);
        Document().OnFileClose();
        OpenMap(nBitCount, 240, 180);
        return m_folder.Path("map" + std::to_string(m_nMaps - 1) + ".bmp");
    }
    // The Transform dialog filled with the locators above; fnChoose makes the remaining
    // choices before OK.
    void SetUpTransform(std::function<void(COrvexTransDlg&)> fnChoose)
    {
        WhenModal<COrvexTransDlg>([fnChoose](COrvexTransDlg& dialog) {
            FillLocatorFields(dialog, kaX, kaY, kaEasting, kaNorthing);
            fnChoose(dialog);
            dialog.accept();
        });
        Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    }
    // Saves the shown transformed map as NAME.EXT with Save Transformed Map As, runs
    // gridmorph-cli rectify with the same locators and the options, and checks that both
    // wrote the same bytes, picture and world file.
    void ExpectTheFileOfTheCli(const std::string& strScan, const std::string& strName, const char* pExtension,
                               const char* pWorldExtension, const std::string& strOptions)
    {
        const std::string strWindow = m_folder.Path("window-" + strName), strCli = m_folder.Path("cli-" + strName);
        m_platform.AnswerNextFileDialog({true, strWindow + pExtension, 0});
        Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS)->trigger();
        EXPECT_FALSE(Document().IsTransformedModified());
        EXPECT_TRUE(m_platform.Messages().empty()) << m_platform.Messages().front().strText;
        m_platform.ClearRecord();

        std::ostringstream command;
        command.imbue(std::locale::classic());
        command << GRIDMORPH_CLI_PATH << " rectify '" << strScan << "' '" << strCli << pExtension << "' " << strOptions;
        for (const int i : {0, 1, 2}) {
            command << " --p" << i + 1 << ' ' << kaX[i] << ',' << kaY[i];
            if (i != 1)
                command << ',' << kaEasting[i] << ',' << kaNorthing[i];
        }
        ASSERT_EQ(std::system((command.str() + " > /dev/null 2>&1").c_str()), 0) << command.str();
        const std::vector<std::uint8_t> aWindowBytes = test::ReadBytes(strWindow + pExtension);
        ASSERT_FALSE(aWindowBytes.empty());
        EXPECT_TRUE(aWindowBytes == test::ReadBytes(strCli + pExtension));
        EXPECT_EQ(test::ReadBytes(strWindow + pWorldExtension), test::ReadBytes(strCli + pWorldExtension));
    }

    // Runs Crop on a map of one metre a pixel and checks the map it makes: the rectangle,
    // right and bottom inclusive, its west and north edges moved in by the rectangle's left
    // and top. The new map, null when Crop made none.
    const CDIBWorld* ExpectCropOf(const SRectEdges& rect)
    {
        const CDIBWorld* pBefore = Document().GetImage();
        const double dWest = pBefore->GetWest(), dNorth = pBefore->GetNorth();
        Frame().UpdateCommandUI();
        Frame().Action(ID_ACTION_CROP)->trigger();
        const CDIBWorld* pCropped = Document().GetImage();
        if (pCropped == pBefore || !pCropped) {
            ADD_FAILURE() << "Crop made no map";
            return nullptr;
        }
        EXPECT_EQ(pCropped->m_nImageWidth, rect.nRight - rect.nLeft + 1);
        EXPECT_EQ(pCropped->m_nImageHeight, rect.nBottom - rect.nTop + 1);
        EXPECT_DOUBLE_EQ(pCropped->GetWest(), dWest + rect.nLeft);
        EXPECT_DOUBLE_EQ(pCropped->GetNorth(), dNorth - rect.nTop);
        return pCropped;
    }

    int m_nMaps = 0;
};

TEST_F(ViewTest, PickSquaresAreClosedLeftAndTopOpenRightAndBottom)
{
    StartWithView();
    OpenMap(8, 1400, 300);
    const struct {
        QPoint point;
        int nExpected;
    } aCases[] = {
        {{10, 20}, 1},  // exactly 10 to the left
        {{30, 20}, 0},  // exactly 10 to the right
        {{20, 10}, 1},  {{20, 30}, 0}, {{29, 29}, 1}, {{9, 20}, 0},
        {{110, 20}, 2}, {{120, 120}, 3},
    };
    for (const auto& aCase : aCases)
        EXPECT_EQ(View().HitTestLocator(aCase.point), aCase.nExpected) << aCase.point.x() << "," << aCase.point.y();
    // Overlapping squares: the lower number wins.
    View().Locators().SetLocatorX(1, 25);
    EXPECT_EQ(View().HitTestLocator(QPoint(27, 20)), 1);
    View().Locators().SetLocatorX(0, 200);
    EXPECT_EQ(View().HitTestLocator(QPoint(27, 20)), 2);
    // Picking reads picture pixels: a scrolled view adds the scroll position.
    View().ScrollToPosition(QPoint(100, 0));
    EXPECT_EQ(View().HitTestLocator(QPoint(100, 20)), 1);
}

TEST_F(ViewTest, ShiftDragMovesALocatorWhereItIsLetGo)
{
    StartWithView();
    OpenMap(8, 400, 300);
    // While a locator is dragged the pointer is a cross.
    Press(QPoint(121, 22), Qt::ShiftModifier);
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(View().SelectedLocator(), 2);
    EXPECT_EQ(PaneText(1), QStringLiteral("121, 22"));
    Move(QPoint(200, 150), Qt::ShiftModifier);
    EXPECT_EQ(View().Locators().LocatorX(1), 120);  // not before the release
    Release(QPoint(200, 150));
    EXPECT_FALSE(Viewport()->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(View().Locators().LocatorX(1), 200);
    EXPECT_EQ(View().Locators().LocatorY(1), 150);
    EXPECT_EQ(PaneText(1), QString());
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());

    // Let go outside the window: the locator stays.
    Press(QPoint(200, 150), Qt::ShiftModifier);
    Release(QPoint(Viewport()->width() + 40, 150));
    EXPECT_EQ(View().Locators().LocatorX(1), 200);
    EXPECT_EQ(View().SelectedLocator(), 2);  // the selection outlives the drag
    EXPECT_FALSE(Viewport()->testAttribute(Qt::WA_SetCursor));

    // A Shift-click beside every locator starts a crop rectangle instead.
    Press(QPoint(300, 250), Qt::ShiftModifier);
    EXPECT_TRUE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    EXPECT_EQ(PaneText(1), QStringLiteral("300, 250"));
    EXPECT_NE(Viewport()->cursor().shape(), Qt::CrossCursor);
    Release(QPoint(310, 260));
    EXPECT_EQ(CropCornersShown(), (SRectEdges{300, 250, 310, 260}));
}

TEST_F(ViewTest, CropRectangleDrags)
{
    StartWithView();
    OpenMap(8, 400, 300);
    struct SCase {
        const char* pName;
        QPoint press;
        std::vector<QPoint> aMoves;
        QPoint release;
        SRectEdges expected;
    };
    const SCase aCases[] = {
        {"down and right", {10, 20}, {{60, 40}, {109, 69}}, {109, 69}, {10, 20, 109, 69}},
        {"up and left changes nothing; a release left of the anchor gives one pixel", {50, 50}, {{40, 40}, {30, 60}},
         {40, 40}, {50, 50, 51, 51}},
        {"a release outside keeps the last dragged corner", {20, 20}, {{80, 90}}, {-30, 400}, {20, 20, 80, 90}},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        Press(aCase.press);  // a plain click, even on locator 1, starts a rectangle
        EXPECT_TRUE(Frame().Action(ID_ACTION_CROP)->isEnabled());
        EXPECT_EQ(CropCornersShown(), (SRectEdges{aCase.press.x(), aCase.press.y(), aCase.press.x(), aCase.press.y()}));
        for (const QPoint& point : aCase.aMoves)
            Move(point);
        Release(aCase.release);
        EXPECT_EQ(CropCornersShown(), aCase.expected);
        EXPECT_TRUE(Frame().Action(ID_ACTION_CROP)->isEnabled());
        // The drag is over: the pointer moving on no longer takes the corner with it.
        Move(QPoint(300, 280));
        EXPECT_EQ(CropCornersShown(), aCase.expected);
        // Any click takes the rectangle away again.
        Press(QPoint(5, 5));
        Release(QPoint(5, 5));
        EXPECT_EQ(CropCornersShown(), std::nullopt);
        EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    }
}

TEST_F(ViewTest, ADragOutsideTheWindowScrollsAsFarAsThePointerIsOut)
{
    StartWithView(500, 400);
    OpenMap(8, 1500, 1200);
    const int nRight = Viewport()->width(), nBottom = Viewport()->height();
    Press(QPoint(100, 100));
    Move(QPoint(nRight + 30, 100));
    EXPECT_EQ(View().ScrollPosition(), QPoint(30, 0));
    Move(QPoint(200, nBottom + 45));
    EXPECT_EQ(View().ScrollPosition(), QPoint(30, 45));
    Move(QPoint(-10, 150));
    EXPECT_EQ(View().ScrollPosition(), QPoint(20, 45));
    // The anchor stays where it was on the picture.
    EXPECT_EQ(PaneText(1), QStringLiteral("100, 100"));
    Release(QPoint(300, 300));
    EXPECT_EQ(CropCornersShown(), (SRectEdges{100, 100, 320, 345}));
    // Crop cuts what the panes show.
    ExpectCropOf({100, 100, 320, 345});
}

TEST_F(ViewTest, CropCutsTheRectangleInclusiveAndScrollsBackToTheOrigin)
{
    StartWithView(500, 400);
    OpenMap(24, 900, 700);
    // (10, 20) to (109, 69) in picture pixels, drawn in a view scrolled by (5, 10).
    View().ScrollToPosition(QPoint(5, 10));
    DragCropRectangle(QPoint(5, 10), QPoint(104, 59));
    ASSERT_EQ(CropCornersShown(), (SRectEdges{10, 20, 109, 69}));
    const CDIBWorld* pCropped = ExpectCropOf({10, 20, 109, 69});
    ASSERT_NE(pCropped, nullptr);
    EXPECT_EQ(View().ScrollPosition(), QPoint(0, 0));
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    EXPECT_TRUE(Document().IsModified());

    // A rectangle of no width does nothing, and stays. At 400% the least drag the mouse
    // makes, one window pixel, can stay within one picture column.
    View().SetZoom(4.0, QPoint());
    DragCropRectangle(QPoint(20, 20), QPoint(21, 121));
    ASSERT_EQ(CropCornersShown(), (SRectEdges{5, 5, 5, 30}));
    Frame().UpdateCommandUI();
    Frame().Action(ID_ACTION_CROP)->trigger();
    EXPECT_EQ(Document().GetImage(), pCropped);
    EXPECT_EQ(CropCornersShown(), (SRectEdges{5, 5, 5, 30}));
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Frame().Action(ID_ACTION_CROP)->isEnabled());
}

TEST_F(ViewTest, StatusTextsInPicturePixels)
{
    StartWithView(500, 400);
    // Without a map: moving empties both panes, clicks do nothing.
    Frame().Pane(1)->setText(QStringLiteral("old"));
    Move(QPoint(10, 10));
    EXPECT_EQ(PaneText(1), QString());
    EXPECT_EQ(PaneText(2), QString());
    Press(QPoint(10, 10));
    EXPECT_EQ(PaneText(1), QString());

    // The click started no crop rectangle that the map would now show.
    OpenMap(8, 640, 480);
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    View().ScrollToPosition(QPoint(50, 30));
    Move(QPoint(10, 10));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(639,479)"));
    EXPECT_EQ(PaneText(2), QStringLiteral("60, 40"));
}

TEST_F(ViewTest, TransformDialogLimitsAndChecksInOrder)
{
    struct SCase {
        const char* pName;
        std::vector<std::pair<int, const char*>> aFields;  // control, text
        std::vector<EAnswer> aAnswers;
        std::vector<std::string> aMessages;
        int nFocus;  // 0: the dialog closes with OK
    };
    const SCase aCases[] = {
        {"X at the width is refused before any check", {{COrvexTransDlg::IDC_X2, "640"}}, {},
         {"Please enter an integer between 0 and 639."}, COrvexTransDlg::IDC_X2},
        {"Y not a number", {{COrvexTransDlg::IDC_Y3, "12a"}}, {}, {"Please enter an integer."}, COrvexTransDlg::IDC_Y3},
        {"easting below 0", {{COrvexTransDlg::IDC_EASTING1, "-1"}}, {}, {"Please enter a number between 0 and 100000000."},
         COrvexTransDlg::IDC_EASTING1},
        {"hidden point 2 northing is still limited", {{COrvexTransDlg::IDC_NORTHING2, "100000001"}}, {},
         {"Please enter a number between 0 and 100000000."}, -1},
        {"eastings one metre apart", {{COrvexTransDlg::IDC_EASTING3, "1001"}}, {},
         {"Point 1 and 3 eastings must be different"}, COrvexTransDlg::IDC_EASTING3},
        {"easting 3 west of 1: No keeps the dialog open", {{COrvexTransDlg::IDC_EASTING3, "500"}}, {EAnswer::No},
         {"Point 3 easting is usually greater than point 1\n\nContinue?"}, COrvexTransDlg::IDC_EASTING3},
        {"easting 3 west of 1: Yes goes on", {{COrvexTransDlg::IDC_EASTING3, "500"}}, {EAnswer::Yes},
         {"Point 3 easting is usually greater than point 1\n\nContinue?"}, 0},
        {"pixels in a line", {{COrvexTransDlg::IDC_Y2, "120"}, {COrvexTransDlg::IDC_X2, "70"}, {COrvexTransDlg::IDC_Y2, "70"}},
         {}, {"The X and Y pixel positions of the locators are in a straight line.\n\nA transform cannot be made."},
         COrvexTransDlg::IDC_X1},
        {"a good set", {}, {}, {}, 0},
    };
    ASSERT_TRUE(Start());
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        m_platform.ClearRecord();
        CLocatorSet locators;
        locators.SetMapPosition(0, 1000, 5000);
        locators.SetMapPosition(2, 3000, 3500);
        COrvexTransDlg dialog;
        dialog.SetFrom(locators, 640, 480);
        dialog.show();
        dialog.InitDialog();
        for (const auto& [nControl, pText] : aCase.aFields)
            dialog.Field(nControl)->setText(QString::fromLatin1(pText));
        for (EAnswer eAnswer : aCase.aAnswers)
            m_platform.AnswerNextQuestion(eAnswer);
        dialog.accept();
        EXPECT_EQ(MessageTexts(), aCase.aMessages);
        if (aCase.nFocus == 0) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        } else {
            // Refused: the dialog stays open, the cursor in the field concerned (a hidden
            // field cannot take it).
            EXPECT_TRUE(dialog.isVisible());
            if (aCase.nFocus > 0) {
                EXPECT_EQ(dialog.focusWidget(), dialog.Field(aCase.nFocus));
            }
        }
    }
}

TEST_F(ViewTest, TransformDialogPoint2AndWhatTheViewTakes)
{
    ASSERT_TRUE(Start());
    CLocatorSet locators;
    locators.SetEasting(1, 777);  // never typed in the rectangular case
    COrvexTransDlg dialog;
    dialog.SetFrom(locators, 640, 480);
    dialog.show();
    dialog.InitDialog();
    EXPECT_TRUE(dialog.Field(COrvexTransDlg::IDC_EASTING2)->isHidden());
    dialog.NonRectangularBox()->click();
    EXPECT_FALSE(dialog.Field(COrvexTransDlg::IDC_EASTING2)->isHidden());
    EXPECT_FALSE(dialog.Field(COrvexTransDlg::IDC_NORTHING2)->isHidden());
    dialog.NonRectangularBox()->click();
    EXPECT_TRUE(dialog.Field(COrvexTransDlg::IDC_NORTHING2)->isHidden());

    const std::pair<int, const char*> aFields[] = {
        {COrvexTransDlg::IDC_X1, "0"},          {COrvexTransDlg::IDC_Y1, "0"},
        {COrvexTransDlg::IDC_X2, "399"},        {COrvexTransDlg::IDC_Y2, "0"},
        {COrvexTransDlg::IDC_X3, "399"},        {COrvexTransDlg::IDC_Y3, "299"},
        {COrvexTransDlg::IDC_EASTING1, "1000.5"}, {COrvexTransDlg::IDC_NORTHING1, "5000"},
        {COrvexTransDlg::IDC_EASTING3, "3000"}, {COrvexTransDlg::IDC_NORTHING3, "3500.25"},
    };
    for (const auto& [nControl, pText] : aFields)
        dialog.Field(nControl)->setText(QString::fromLatin1(pText));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    CLocatorSet taken;
    dialog.CopyTo(taken);
    EXPECT_EQ(taken.LocatorX(1), 399);
    EXPECT_EQ(taken.LocatorY(2), 299);
    EXPECT_EQ(taken.Easting(0), 1000.5);
    EXPECT_EQ(taken.Northing(2), 3500.25);
    // Rectangular: point 2 is the east edge of point 3 and the north edge of point 1.
    EXPECT_EQ(taken.Easting(1), 3000);
    EXPECT_EQ(taken.Northing(1), 5000);
    EXPECT_TRUE(taken.TransformSetUp());
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(ViewTest, EditMapLocationChecksAndTheOutsideEdgeExample)
{
    StartWithView();
    const struct {
        const char *pEast, *pWest, *pNorth, *pSouth;
        const char* pMessage;
        int nFocus;
    } aCases[] = {
        {"100", "100", "50", "0", "East must be greater than West", COrvexEditEdgeDlg::IDC_WEST},
        {"200", "100", "50", "50", "North must be greater than South", COrvexEditEdgeDlg::IDC_SOUTH},
        {"200", "x", "50", "0", "Please enter a number.", COrvexEditEdgeDlg::IDC_WEST},
        {"100000001", "100", "50", "0", "Please enter a number between 0 and 100000000.", COrvexEditEdgeDlg::IDC_EAST},
    };
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pMessage);
        m_platform.ClearRecord();
        COrvexEditEdgeDlg dialog;
        dialog.show();
        dialog.InitDialog();
        dialog.Field(COrvexEditEdgeDlg::IDC_EAST)->setText(QString::fromLatin1(aCase.pEast));
        dialog.Field(COrvexEditEdgeDlg::IDC_WEST)->setText(QString::fromLatin1(aCase.pWest));
        dialog.Field(COrvexEditEdgeDlg::IDC_NORTH)->setText(QString::fromLatin1(aCase.pNorth));
        dialog.Field(COrvexEditEdgeDlg::IDC_SOUTH)->setText(QString::fromLatin1(aCase.pSouth));
        dialog.accept();
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{aCase.pMessage});
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), dialog.Field(aCase.nFocus));
    }

    // A 101 x 51 map given its outside edges through the command.
    m_platform.ClearRecord();
    OpenMap(8, 101, 51, false);
    WhenModal<COrvexEditEdgeDlg>([](COrvexEditEdgeDlg& dialog) {
        EXPECT_EQ(dialog.Field(COrvexEditEdgeDlg::IDC_EAST)->text(), QStringLiteral("0"));
        dialog.OutsideEdgeChoice()->setChecked(true);
        dialog.Field(COrvexEditEdgeDlg::IDC_WEST)->setText(QStringLiteral("0"));
        dialog.Field(COrvexEditEdgeDlg::IDC_EAST)->setText(QStringLiteral("1010"));
        dialog.Field(COrvexEditEdgeDlg::IDC_SOUTH)->setText(QStringLiteral("0"));
        dialog.Field(COrvexEditEdgeDlg::IDC_NORTH)->setText(QStringLiteral("510"));
        dialog.accept();
    });
    Frame().UpdateCommandUI();
    Frame().Action(ID_ACTION_EDIT_MAP_LOCATION)->trigger();
    const CDIBWorld* pMap = Document().GetImage();
    EXPECT_DOUBLE_EQ(pMap->GetWest(), 5);
    EXPECT_DOUBLE_EQ(pMap->GetEast(), 1005);
    EXPECT_DOUBLE_EQ(pMap->GetSouth(), 5);
    EXPECT_DOUBLE_EQ(pMap->GetNorth(), 505);
    EXPECT_TRUE(Document().IsModified());
    EXPECT_TRUE(Frame().Action(ID_VIEW_MAP_EDGES)->isEnabled());
    Frame().Action(ID_VIEW_MAP_EDGES)->trigger();
    EXPECT_EQ(m_platform.Messages(),
              (std::vector<CScriptedPlatform::SMessage>{
                  {"Map edge locations of the image\n\n"
                   "\t\tNorth\t510.00\n\nWest\t0.00\t\tEast\t1010.00\n\n\t\tSouth\t0.00"
                   "\n\n\nMap World file locations (centre pixel)\n\n"
                   "\t\tNorth\t505.00\n\nWest\t5.00\t\tEast\t1005.00\n\n\t\tSouth\t5.00",
                   EMessageKind::Information}}));
}

// The View and Action commands' enable rules and check marks, as one table of states.
TEST_F(ViewTest, ViewAndActionEnableRules)
{
    enum EState { NoMap, Eight, TwentyFour, ThirtyTwo, PlainEight, WithCrop, SetUp, Applied, TransformedShown };
    const int aCommands[] = {ID_VIEW_LOCATORS,        ID_VIEW_SHOW_TRANSFORMED,      ID_VIEW_MAP_EDGES,
                             ID_ACTION_SETUP_TRANSFORM, ID_ACTION_APPLY_TRANSFORM,   ID_ACTION_MOVE_LOCATORS,
                             ID_ACTION_EDIT_MAP_LOCATION, ID_ACTION_CROP,             ID_ACTION_CONVERT_TO_24,
                             ID_ACTION_CONVERT_TO_8,    ID_ACTION_GREY_SCALE,        ID_ACTION_CROP_TO_GRID};
    const struct {
        EState eState;
        const char* pEnabled;  // one letter a command, in the order above: 1 enabled, 0 not
    } aCases[] = {
        {NoMap, "000000000000"},       {Eight, "101101101010"},      {TwentyFour, "101101100110"},
        {ThirtyTwo, "101001001100"},   {PlainEight, "100101101010"}, {WithCrop, "101101111010"},
        {SetUp, "101111101010"},       {Applied, "111111101010"},    {TransformedShown, "111110101011"},
    };
    StartWithView();
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(static_cast<int>(aCase.eState));
        // A crop rectangle outlives the map it was drawn on: a click takes it away first.
        if (Frame().Action(ID_ACTION_CROP)->isEnabled()) {
            Press(QPoint(5, 5));
            Release(QPoint(5, 5));
        }
        Document().SetModifiedFlag(false);
        Document().SetTransformedModified(false);
        Document().OnFileClose();
        switch (aCase.eState) {
        case NoMap: break;
        case TwentyFour: OpenMap(24, 200, 150); break;
        case ThirtyTwo: OpenMap(32, 200, 150); break;
        case PlainEight: OpenMap(8, 200, 150, false); break;
        default: OpenMap(8, 200, 150); break;
        }
        if (aCase.eState == WithCrop)
            DragCropRectangle(QPoint(1, 1), QPoint(50, 50));
        if (aCase.eState >= SetUp) {
            View().Locators().SetMapPosition(0, 1000, 2000);
            View().Locators().SetMapPosition(2, 1100, 1900);
            View().Locators().SetMapPosition(1, 1100, 2000);
            View().Locators().SetTransformSetUp(true);
        }
        Frame().UpdateCommandUI();
        if (aCase.eState >= Applied)
            Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
        Frame().UpdateCommandUI();
        if (aCase.eState == TransformedShown)
            Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
        Frame().UpdateCommandUI();
        std::string strEnabled;
        for (int nCommand : aCommands)
            strEnabled += Frame().Action(nCommand)->isEnabled() ? '1' : '0';
        EXPECT_EQ(strEnabled, aCase.pEnabled);
        EXPECT_EQ(Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->isChecked(), aCase.eState == TransformedShown);
        EXPECT_TRUE(Frame().Action(ID_VIEW_LOCATORS)->isChecked());
    }
    Frame().Action(ID_VIEW_LOCATORS)->trigger();
    EXPECT_FALSE(Frame().Action(ID_VIEW_LOCATORS)->isChecked());
    EXPECT_FALSE(View().ShowsLocators());
}

TEST_F(ViewTest, ConvertSetsTheFlagOfTheMapItChanged)
{
    StartWithView();
    OpenMap(24, 120, 90);
    Frame().Action(ID_ACTION_CONVERT_TO_8)->trigger();
    ASSERT_EQ(Document().GetImage()->m_nBitCount, 8);
    EXPECT_TRUE(Document().GetImage()->HasWorld());
    EXPECT_TRUE(Document().IsModified());
    EXPECT_FALSE(Document().IsTransformedModified());

    // On the transformed map only its own flag is set.
    Document().SetModifiedFlag(false);
    CLocatorSet& locators = View().Locators();
    locators.SetMapPosition(0, 1000, 2000);
    locators.SetMapPosition(2, 1100, 1900);
    locators.SetMapPosition(1, 1100, 2000);
    locators.SetTransformSetUp(true);
    Frame().UpdateCommandUI();
    Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
    Document().SetTransformedModified(false);
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    Frame().Action(ID_ACTION_CONVERT_TO_24)->trigger();
    EXPECT_EQ(Document().GetTransformedMap()->m_nBitCount, 24);
    EXPECT_TRUE(Document().IsTransformedModified());
    EXPECT_FALSE(Document().IsModified());
    EXPECT_EQ(Document().GetImage()->m_nBitCount, 8);
    Frame().Action(ID_ACTION_GREY_SCALE)->trigger();
    EXPECT_FALSE(Document().IsModified());
    // The status pane shows the source's extent while the transformed map is shown.
    Move(QPoint(5, 5));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(119,89)"));
}

TEST_F(ViewTest, MoveLocatorsToCornersAndShowTransformedResizesTheCanvas)
{
    StartWithView(400, 300);
    OpenMap(8, 640, 480);
    Frame().Action(ID_ACTION_MOVE_LOCATORS)->trigger();
    const CLocatorSet& l = View().Locators();
    EXPECT_EQ(QPoint(l.LocatorX(0), l.LocatorY(0)), QPoint(0, 0));
    EXPECT_EQ(QPoint(l.LocatorX(1), l.LocatorY(1)), QPoint(639, 0));
    EXPECT_EQ(QPoint(l.LocatorX(2), l.LocatorY(2)), QPoint(639, 479));
    const int nSourceRange = View().horizontalScrollBar()->maximum();
    EXPECT_EQ(nSourceRange, 640 - Viewport()->width());

    // A map a quarter turned gives a transformed map of another size.
    View().Locators().SetLocator(1, 639, 100);
    View().Locators().SetMapPosition(0, 1000, 2000);
    View().Locators().SetMapPosition(2, 1639, 1521);
    View().Locators().SetTransformSetUp(true);
    Frame().UpdateCommandUI();
    Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
    ASSERT_NE(Document().GetTransformedMap(), nullptr);
    EXPECT_TRUE(Document().IsTransformedModified());
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    EXPECT_EQ(View().horizontalScrollBar()->maximum(),
              std::max(0, Document().GetTransformedMap()->m_nImageWidth - Viewport()->width()));
    EXPECT_NE(Document().GetTransformedMap()->m_nImageWidth, 640);
    EXPECT_TRUE(Document().IsShowingTransformed());
}

// The journey a person makes: open a scan, set up the transform in its dialog with the
// known locators, apply, look at the north-up map, save it. The file and its world file
// are the command-line tool's, byte for byte in the world file and pixel for pixel.
TEST_F(ViewTest, FromAScanToASavedNorthUpMapAsTheCommandLineMakesIt)
{
    // A copy of the sample: setting up the transform keeps the locators beside the scan.
    const std::string strSample = m_folder.Path("sample-map.jpg");
    std::filesystem::copy_file(std::string(GRIDMORPH_SOURCE_DIR) + "/data/sample/sample-map.jpg", strSample);
    int aX[3], aY[3];
    double aEasting[3], aNorthing[3];
    {
        std::ifstream locators(std::string(GRIDMORPH_SOURCE_DIR) + "/data/sample/sample-map.locators");
        std::string strLine;
        while (std::getline(locators, strLine)) {
            if (strLine.empty() || strLine[0] == '#')
                continue;
            std::istringstream line(strLine);
            line.imbue(std::locale::classic());
            int n = 0;
            line >> n;
            ASSERT_TRUE(n >= 1 && n <= 3);
            line >> aX[n - 1] >> aY[n - 1] >> aEasting[n - 1] >> aNorthing[n - 1];
        }
    }
    StartWithView(900, 700);
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strSample)));
    ASSERT_EQ(m_platform.Messages().size(), 1u);  // the 24-bit advice
    m_platform.ClearRecord();

    WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
        FillLocatorFields(dialog, aX, aY, aEasting, aNorthing);
        dialog.accept();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    ASSERT_TRUE(View().Locators().TransformSetUp());
    ASSERT_TRUE(Frame().Action(ID_ACTION_APPLY_TRANSFORM)->isEnabled());
    Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
    ASSERT_TRUE(Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->isEnabled());
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    ASSERT_TRUE(Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS)->isEnabled());
    m_platform.AnswerNextFileDialog({true, m_folder.Path("window.png"), 0});
    Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS)->trigger();
    EXPECT_FALSE(Document().IsTransformedModified());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - SAMPLE-MAP.JPG"));
    EXPECT_TRUE(m_platform.Messages().empty()) << m_platform.Messages().front().strText;

    const std::string strCommand = std::string(GRIDMORPH_CLI_PATH) + " rectify '" + strSample + "' '" +
                                   m_folder.Path("cli.png") + "' --p1 " + std::to_string(aX[0]) + "," +
                                   std::to_string(aY[0]) + "," + QString::number(aEasting[0], 'g', 15).toStdString() +
                                   "," + QString::number(aNorthing[0], 'g', 15).toStdString() + " --p2 " +
                                   std::to_string(aX[1]) + "," + std::to_string(aY[1]) + " --p3 " +
                                   std::to_string(aX[2]) + "," + std::to_string(aY[2]) + "," +
                                   QString::number(aEasting[2], 'g', 15).toStdString() + "," +
                                   QString::number(aNorthing[2], 'g', 15).toStdString() + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("window.PGW")), test::ReadBytes(m_folder.Path("cli.PGW")));
    CDIBWorld fromWindow, fromCli;
    ASSERT_TRUE(fromWindow.OpenWorld(m_folder.Path("window.png"), true));
    ASSERT_TRUE(fromCli.OpenWorld(m_folder.Path("cli.png"), true));
    EXPECT_TRUE(test::SamePicture(fromCli, fromWindow));
    m_platform.ClearRecord();
}

// The Transform dialog's resampling and clip choices make the map the command line makes
// with --resample and --clip grid, and the dialog shows them again when it reopens.
TEST_F(ViewTest, TransformDialogResamplingAndClipMatchTheCommandLine)
{
    StartWithView(900, 700);
    OpenMap(8, 240, 180);
    const std::string strScan = m_folder.Path("map0.bmp");
    SetUpTransform([](COrvexTransDlg& dialog) {
        EXPECT_EQ(dialog.ResamplingBox()->currentText(), QStringLiteral("Nearest neighbour"));
        EXPECT_FALSE(dialog.ClipToGridBox()->isChecked());
        dialog.ResamplingBox()->setCurrentIndex(1);
        dialog.ClipToGridBox()->setChecked(true);
    });
    EXPECT_EQ(View().TransformOptions().eResampling, EResampling::Bilinear);
    EXPECT_EQ(View().TransformOptions().eClip, EClip::Grid);
    WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
        EXPECT_EQ(dialog.ResamplingBox()->currentText(), QStringLiteral("Bilinear"));
        EXPECT_TRUE(dialog.ClipToGridBox()->isChecked());
        dialog.reject();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    ExpectTheFileOfTheCli(strScan, "bilinear", ".png", ".PGW", "--resample bilinear --clip grid");
    CDIBWorld fromWindow, fromCli;
    ASSERT_TRUE(fromWindow.OpenWorld(m_folder.Path("window-bilinear.png"), true));
    ASSERT_TRUE(fromCli.OpenWorld(m_folder.Path("cli-bilinear.png"), true));
    EXPECT_EQ(fromWindow.m_nBitCount, 24) << "a blended 8-bit map is full colour";
    EXPECT_DOUBLE_EQ(fromWindow.GetWest(), 1000.0);
    EXPECT_DOUBLE_EQ(fromWindow.GetNorth(), 2000.0);
    EXPECT_TRUE(test::SamePicture(fromCli, fromWindow));
}

// "Outside the scan:" makes, through Apply Transform and Save Transformed Map As, the very
// file (and world file) that rectify makes with the same --nodata.
TEST_F(ViewTest, OutsideTheScanMatchesTheCommandLineNoData)
{
    const struct {
        int nBitCount;
        int nOutside;
        QColor colour;  // for "Colour…"
        const char* pExtension;
        const char* pWorldExtension;
        const char* pOptions;
    } aCases[] = {
        {8, COrvexTransDlg::OUTSIDE_BLACK, QColor(), ".png", ".PGW", ""},
        {8, COrvexTransDlg::OUTSIDE_TRANSPARENT, QColor(), ".png", ".PGW", "--nodata transparent"},
        {8, COrvexTransDlg::OUTSIDE_TRANSPARENT, QColor(), ".tif", ".TFW", "--nodata transparent"},
        {24, COrvexTransDlg::OUTSIDE_TRANSPARENT, QColor(), ".png", ".PGW", "--nodata transparent"},
        {24, COrvexTransDlg::OUTSIDE_TRANSPARENT, QColor(), ".tif", ".TFW", "--nodata transparent"},
        {24, COrvexTransDlg::OUTSIDE_COLOUR, QColor(200, 230, 255), ".png", ".PGW", "--nodata 200,230,255"},
        {24, COrvexTransDlg::OUTSIDE_COLOUR, QColor(128, 128, 128), ".tif", ".TFW", "--nodata 128,128,128"},
        {8, COrvexTransDlg::OUTSIDE_COLOUR, QColor(200, 230, 255), ".png", ".PGW", "--nodata 200,230,255"},
    };
    StartWithView(900, 700);
    int nCase = 0;
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pOptions + std::string(" ") + aCase.pExtension + " " + std::to_string(aCase.nBitCount));
        const std::string strScan = ReopenMap(aCase.nBitCount);
        SetUpTransform([&](COrvexTransDlg& dialog) {
            EXPECT_EQ(dialog.OutsideBox()->itemText(COrvexTransDlg::OUTSIDE_BLACK), QStringLiteral("Black"));
            if (aCase.nOutside == COrvexTransDlg::OUTSIDE_COLOUR) {
                // Through the colour dialog, as a click on "Colour…" opens it.
                WhenModal<QColorDialog>([&](QColorDialog& colours) {
                    colours.setCurrentColor(aCase.colour);
                    colours.accept();
                });
                dialog.OutsideBox()->setCurrentIndex(COrvexTransDlg::OUTSIDE_COLOUR);
                emit dialog.OutsideBox()->activated(COrvexTransDlg::OUTSIDE_COLOUR);
                EXPECT_EQ(dialog.NoDataColour(), aCase.colour);
                EXPECT_EQ(dialog.OutsideBox()->currentText(),
                          QStringLiteral("Colour\u2026 %1,%2,%3")
                              .arg(aCase.colour.red())
                              .arg(aCase.colour.green())
                              .arg(aCase.colour.blue()));
            } else {
                dialog.OutsideBox()->setCurrentIndex(aCase.nOutside);
                emit dialog.OutsideBox()->activated(aCase.nOutside);
            }
        });
        Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
        Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
        ExpectTheFileOfTheCli(strScan, std::to_string(nCase++), aCase.pExtension, aCase.pWorldExtension,
                              aCase.pOptions);
        Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    }
    // A cancelled colour dialog leaves the choice as it was.
    WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
        dialog.OutsideBox()->setCurrentIndex(COrvexTransDlg::OUTSIDE_TRANSPARENT);
        emit dialog.OutsideBox()->activated(COrvexTransDlg::OUTSIDE_TRANSPARENT);
        WhenModal<QColorDialog>([](QColorDialog& colours) { colours.reject(); });
        dialog.OutsideBox()->setCurrentIndex(COrvexTransDlg::OUTSIDE_COLOUR);
        emit dialog.OutsideBox()->activated(COrvexTransDlg::OUTSIDE_COLOUR);
        EXPECT_EQ(dialog.OutsideBox()->currentIndex(), int(COrvexTransDlg::OUTSIDE_TRANSPARENT));
        dialog.accept();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    EXPECT_EQ(View().TransformOptions().eNoData, ENoData::Transparent);
}

// Crop to Grid Rectangle on the whole transformed map gives the pixels and world file of
// rectify --clip grid; it is undone like Crop, and is not offered on the scan.
TEST_F(ViewTest, CropToGridRectangleMatchesTheCommandLineClip)
{
    const struct {
        int nBitCount;
        int nOutside;
        const char* pExtension;
        const char* pWorldExtension;
        const char* pOptions;
    } aCases[] = {
        {8, COrvexTransDlg::OUTSIDE_BLACK, ".png", ".PGW", "--clip grid"},
        {24, COrvexTransDlg::OUTSIDE_BLACK, ".tif", ".TFW", "--clip grid"},
        {24, COrvexTransDlg::OUTSIDE_TRANSPARENT, ".png", ".PGW", "--clip grid --nodata transparent"},
    };
    StartWithView(900, 700);
    int nCase = 0;
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pOptions + std::string(" ") + aCase.pExtension + " " + std::to_string(aCase.nBitCount));
        const std::string strScan = ReopenMap(aCase.nBitCount);
        SetUpTransform([&](COrvexTransDlg& dialog) {
            dialog.OutsideBox()->setCurrentIndex(aCase.nOutside);
            emit dialog.OutsideBox()->activated(aCase.nOutside);
        });
        Frame().Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
        Frame().UpdateCommandUI();
        EXPECT_FALSE(Frame().Action(ID_ACTION_CROP_TO_GRID)->isEnabled()) << "on the scan";
        Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
        Frame().UpdateCommandUI();
        ASSERT_TRUE(Frame().Action(ID_ACTION_CROP_TO_GRID)->isEnabled());
        const CDIBWorld* pWhole = Document().GetTransformedMap();
        const int nWholeWidth = pWhole->m_nImageWidth, nWholeHeight = pWhole->m_nImageHeight;
        Document().SetTransformedModified(false);
        Frame().Action(ID_ACTION_CROP_TO_GRID)->trigger();
        EXPECT_TRUE(Document().IsTransformedModified());
        EXPECT_LT(Document().GetTransformedMap()->m_nImageWidth, nWholeWidth);
        Frame().UpdateCommandUI();
        EXPECT_FALSE(Frame().Action(ID_ACTION_CROP_TO_GRID)->isEnabled()) << "already cropped";
        EXPECT_EQ(View().UndoList().UndoName(), QStringLiteral("Crop to Grid Rectangle"));

        // Undo gives the whole map back, unsaved flag and all; redo crops again.
        Frame().Action(ID_EDIT_UNDO)->trigger();
        EXPECT_EQ(Document().GetTransformedMap()->m_nImageWidth, nWholeWidth);
        EXPECT_EQ(Document().GetTransformedMap()->m_nImageHeight, nWholeHeight);
        EXPECT_FALSE(Document().IsTransformedModified());
        Frame().Action(ID_EDIT_REDO)->trigger();
        EXPECT_TRUE(Document().IsTransformedModified());

        ExpectTheFileOfTheCli(strScan, "crop" + std::to_string(nCase++), aCase.pExtension, aCase.pWorldExtension,
                              aCase.pOptions);
        Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    }
    // Locators moved since the transform: the map is no longer the one they make.
    Frame().Action(ID_VIEW_SHOW_TRANSFORMED)->trigger();
    Frame().Action(ID_EDIT_UNDO)->trigger();  // back to the whole map
    Frame().UpdateCommandUI();
    ASSERT_TRUE(Frame().Action(ID_ACTION_CROP_TO_GRID)->isEnabled());
    View().Locators().SetLocatorX(0, View().Locators().LocatorX(0) + 1);
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP_TO_GRID)->isEnabled());
}

}  // namespace
}  // namespace gridmorph
