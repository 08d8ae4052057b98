// The view at other zooms than 100%: picking, crops and status texts in picture pixels,
// the zoom commands and Ctrl+wheel, the reduced copies drawn below 100%, the magnifier,
// the live locator drag, and the keyboard path for the locators.
#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <QLineEdit>
#include <QFileInfo>

#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "view/OrvexTransDlg.h"
#include "view/MapPyramid.h"
#include "view/OrvexView.h"
#include "view/ViewTransform.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;

class ZoomViewTest : public CAppTest {
protected:
    void OpenMap(int nBitCount, int nWidth, int nHeight)
    {
        CDIBWorld map;
        test::MakePatternPicture(map, nBitCount, nWidth, nHeight);
        const std::string strPath = m_folder.Path("zoom" + std::to_string(m_nMaps++) + ".bmp");
        m_strLastPath = strPath;
        map.SetEdges({1000.0, 1000.0 + nHeight - 1, 1000.0 + nWidth - 1, 1000.0});
        map.SaveWorld(strPath);
        ASSERT_EQ(map.m_nErrorNumber, 0);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
    }
    void StartWithView(int nWidth = 700, int nHeight = 500)
    {
        ASSERT_TRUE(Start());
        Frame().resize(nWidth, nHeight);
        Frame().show();
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
    void Key(int nKey, Qt::KeyboardModifiers eModifiers = Qt::NoModifier)
    {
        QTest::keyClick(&View(), static_cast<Qt::Key>(nKey), eModifiers);
    }
    void CtrlWheel(QPoint point, int nNotches)
    {
        QWheelEvent event(QPointF(point), Viewport()->mapToGlobal(QPointF(point)), QPoint(), QPoint(0, 120 * nNotches),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Viewport(), &event);
    }
    // The colour of a picture pixel (rows from the top) as the screen shows it.
    static QRgb PictureColour(const CDIBWorld& map, int x, int y)
    {
        const std::uint8_t* pRow = map.StorageRow(map.m_nImageHeight - 1 - y);
        if (map.m_nBitCount == 8) {
            const SRGBQuad& quad = map.m_pRGBQuad[pRow[x]];
            return qRgb(quad.rgbRed, quad.rgbGreen, quad.rgbBlue);
        }
        const std::uint8_t* p = pRow + std::size_t(x) * (map.m_nBitCount / 8);
        return qRgb(p[2], p[1], p[0]);
    }

    int m_nMaps = 0;
    std::string m_strLastPath;
};

TEST_F(ZoomViewTest, PickingCropAndStatusTextsStayInPicturePixelsAtEveryZoom)
{
    StartWithView();
    OpenMap(8, 4000, 3200);
    struct SCase {
        double dZoom;
        QPoint ptScroll;
        QPoint ptMark;  // where locator 1 at (300, 248) is drawn
        QPoint ptPress, ptRelease;
        SRectEdges crop;  // picture pixels: floor((window + scroll) / zoom)
    };
    const SCase aCases[] = {
        {0.25, {0, 0}, {75, 62}, {10, 20}, {109, 69}, {40, 80, 436, 276}},
        {0.25, {20, 8}, {55, 54}, {10, 20}, {109, 69}, {120, 112, 516, 308}},
        {1.0, {100, 50}, {200, 198}, {10, 20}, {109, 69}, {110, 70, 209, 119}},
        {4.0, {1000, 800}, {202, 194}, {10, 20}, {109, 69}, {252, 205, 277, 217}},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(testing::Message() << aCase.dZoom << " at " << aCase.ptScroll.x() << "," << aCase.ptScroll.y());
        View().Locators().SetLocator(0, 300, 248);
        View().Locators().SetLocatorX(2, 1900);
        View().Locators().SetLocatorX(1, View().Locators().LocatorX(2));
        View().SetZoom(aCase.dZoom, QPoint());
        View().ScrollToPosition(aCase.ptScroll);
        ASSERT_EQ(View().ScrollPosition(), aCase.ptScroll);
        ASSERT_DOUBLE_EQ(View().Zoom(), aCase.dZoom);

        // The pick square is 10 screen pixels each way from where the locator is drawn.
        const QPoint m = aCase.ptMark;
        const struct {
            QPoint offset;
            int nExpected;
        } aPicks[] = {{{-10, 0}, 1}, {{10, 0}, 0}, {{9, 9}, 1}, {{0, -10}, 1}, {{0, 10}, 0}, {{-11, 0}, 0}};
        for (const auto& pick : aPicks)
            EXPECT_EQ(View().HitTestLocator(m + pick.offset), pick.nExpected) << pick.offset.x() << "," << pick.offset.y();

        // The pointer on the locator's mark reads the locator's pixel.
        Move(m);
        EXPECT_EQ(PaneText(2), QStringLiteral("300, 248"));
        EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(3999,3199)"));

        // A crop rectangle is kept in picture pixels.
        Press(aCase.ptPress);
        Move(aCase.ptRelease);
        Release(aCase.ptRelease);
        EXPECT_EQ(CropCornersShown(), aCase.crop);
        EXPECT_TRUE(Frame().Action(ID_ACTION_CROP)->isEnabled());
        Press(QPoint(300, 300));  // the next click removes it
        EXPECT_EQ(CropCornersShown(), std::nullopt);
        EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    }
}

TEST_F(ZoomViewTest, ZoomCommandsStepsAndCtrlWheelAboutThePointer)
{
    StartWithView();
    OpenMap(24, 3000, 2000);
    EXPECT_DOUBLE_EQ(View().Zoom(), 1.0);  // Open starts at 100%
    ASSERT_TRUE(Frame().Action(ID_VIEW_ZOOM_IN)->isEnabled());

    // Ctrl+wheel keeps the picture pixel under the pointer where it is.
    View().ScrollToPosition(QPoint(500, 400));
    const QPoint ptPointer(123, 77);
    const QPoint ptPixel = View().WindowToPicture(ptPointer);
    for (int nNotches : {1, 1, 2, -1, -3}) {
        const double dBefore = View().Zoom();
        CtrlWheel(ptPointer, nNotches);
        EXPECT_NE(View().Zoom(), dBefore);
        EXPECT_EQ(View().WindowToPicture(ptPointer), ptPixel) << View().Zoom();
    }
    // Up to 1600% and no further.
    for (int i = 0; i < 30; ++i)
        Frame().Action(ID_VIEW_ZOOM_IN)->trigger();
    EXPECT_DOUBLE_EQ(View().Zoom(), 16.0);
    EXPECT_FALSE(Frame().Action(ID_VIEW_ZOOM_IN)->isEnabled());
    // Down to the whole sheet and no further.
    const double dFit = CViewTransform::FitZoom(QSize(3000, 2000), Viewport()->size());
    for (int i = 0; i < 30; ++i)
        Frame().Action(ID_VIEW_ZOOM_OUT)->trigger();
    EXPECT_DOUBLE_EQ(View().Zoom(), dFit);
    EXPECT_LE(View().horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(View().verticalScrollBar()->maximum(), 0);
    Frame().Action(ID_VIEW_ACTUAL_SIZE)->trigger();
    EXPECT_DOUBLE_EQ(View().Zoom(), 1.0);
    Frame().Action(ID_VIEW_FIT_WHOLE_MAP)->trigger();
    EXPECT_DOUBLE_EQ(View().Zoom(), dFit);
    EXPECT_EQ(View().ScrollPosition(), QPoint(0, 0));
    // The keys.
    EXPECT_EQ(Frame().Action(ID_VIEW_ZOOM_IN)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    EXPECT_EQ(Frame().Action(ID_VIEW_ZOOM_OUT)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Minus));
    EXPECT_EQ(Frame().Action(ID_VIEW_FIT_WHOLE_MAP)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
    EXPECT_EQ(Frame().Action(ID_VIEW_ACTUAL_SIZE)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_1));
}

TEST_F(ZoomViewTest, EachMapKeepsItsZoomAndOpenToFitIsRemembered)
{
    StartWithView();
    OpenMap(24, 3000, 2000);
    View().SetZoom(4.0, QPoint());
    View().ScrollToPosition(QPoint(300, 200));
    // A transformed map to toggle to.
    auto pTransformed = std::make_unique<CDIBWorld>();
    test::MakePatternPicture(*pTransformed, 24, 1200, 900);
    Document().SetTransformedMap(std::move(pTransformed));
    View().Locators().SetTransformApplied(true);
    View().OnViewShowTransformedMap();
    EXPECT_DOUBLE_EQ(View().Zoom(), 1.0);
    View().SetZoom(0.5, QPoint());
    View().OnViewShowTransformedMap();
    EXPECT_DOUBLE_EQ(View().Zoom(), 4.0);
    EXPECT_EQ(View().ScrollPosition(), QPoint(300, 200));
    View().OnViewShowTransformedMap();
    EXPECT_DOUBLE_EQ(View().Zoom(), 0.5);
    View().OnViewShowTransformedMap();

    // Open Maps to Fit: a setting, and big maps then start at Fit.
    Frame().Action(ID_VIEW_OPEN_MAPS_TO_FIT)->trigger();
    EXPECT_EQ(m_platform.GetProfileInt("View", "OpenMapsToFit", 0), 1);
    EXPECT_TRUE(Frame().Action(ID_VIEW_OPEN_MAPS_TO_FIT)->isChecked());
    OpenMap(8, 2500, 1800);
    EXPECT_DOUBLE_EQ(View().Zoom(), CViewTransform::FitZoom(QSize(2500, 1800), Viewport()->size()));
    OpenMap(8, 40, 30);  // a map that fits stays at 100%
    EXPECT_DOUBLE_EQ(View().Zoom(), 1.0);
}

TEST_F(ZoomViewTest, PaintedPixelsAreThePicturesAboveAndBelow100Percent)
{
    StartWithView();
    OpenMap(24, 1200, 1000);
    const CDIBWorld& map = *View().DisplayedMap();
    // 400%: each picture pixel a sharp 4 x 4 square.
    View().SetZoom(4.0, QPoint());
    View().ScrollToPosition(QPoint(402, 801));
    QImage shown = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (const QPoint& window : {QPoint(200, 150), QPoint(201, 150), QPoint(203, 152), QPoint(250, 270)}) {
        const QPoint picture((window.x() + 402) / 4, (window.y() + 801) / 4);
        EXPECT_EQ(shown.pixel(window), PictureColour(map, picture.x(), picture.y())) << window.x() << "," << window.y();
    }
    // 25% from the reduced copies once they are built: each window pixel is the mean of a
    // 4 x 4 block (two halvings, each rounding its mean of four).
    const_cast<CMapPyramid&>(View().Pyramid(0)).Wait();
    ASSERT_TRUE(View().Pyramid(0).IsComplete());
    View().SetZoom(0.25, QPoint());
    shown = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (const QPoint& window : {QPoint(200, 150), QPoint(37, 91)}) {
        const int x0 = window.x() * 4, y0 = window.y() * 4;
        int aLevel1[2][2][3];
        for (int by = 0; by < 2; ++by)
            for (int bx = 0; bx < 2; ++bx)
                for (int c = 0; c < 3; ++c) {
                    int nSum = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx) {
                            const QRgb rgb = PictureColour(map, x0 + 2 * bx + dx, y0 + 2 * by + dy);
                            nSum += c == 0 ? qRed(rgb) : c == 1 ? qGreen(rgb) : qBlue(rgb);
                        }
                    aLevel1[by][bx][c] = (nSum + 2) >> 2;
                }
        int aExpected[3];
        for (int c = 0; c < 3; ++c)
            aExpected[c] = (aLevel1[0][0][c] + aLevel1[0][1][c] + aLevel1[1][0][c] + aLevel1[1][1][c] + 2) >> 2;
        EXPECT_EQ(shown.pixel(window), qRgb(aExpected[0], aExpected[1], aExpected[2])) << window.x() << "," << window.y();
    }
}

TEST_F(ZoomViewTest, ReducedCopiesOfAColourTableMapAndTheirLevels)
{
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 301, 200);
    CMapPyramid pyramid;
    pyramid.BuildNow(map);
    ASSERT_TRUE(pyramid.IsComplete());
    EXPECT_EQ(pyramid.LevelCount(), CMapPyramid::PlannedLevels(301, 200));
    EXPECT_EQ(pyramid.LevelCount(), 3);  // 151 x 100, 76 x 50, 38 x 25
    const struct {
        double dZoom;
        int nLevel;
    } aCases[] = {{1.0, 0}, {0.75, 0}, {0.5, 1}, {1.0 / 3, 1}, {0.25, 2}, {1.0 / 8, 3}, {1.0 / 64, 3}};
    for (const auto& aCase : aCases) {
        const SPyramidLevel* pLevel = pyramid.LevelFor(aCase.dZoom);
        EXPECT_EQ(pLevel ? pLevel->nLevel : 0, aCase.nLevel) << aCase.dZoom;
    }
    // An odd width: the last column of level 1 is the mean of the picture's last column.
    const SPyramidLevel& level1 = *pyramid.LevelFor(0.5);
    ASSERT_EQ(level1.nWidth, 151);
    ASSERT_EQ(level1.nBytesPerPixel, 1);
    for (const QPoint& pixel : {QPoint(0, 0), QPoint(17, 33), QPoint(150, 99)}) {
        int aSum[3] = {0, 0, 0};
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const int x = std::min(2 * pixel.x() + dx, 300), y = 2 * pixel.y() + dy;
                const SRGBQuad& quad = map.m_pRGBQuad[map.StorageRow(199 - y)[x]];
                aSum[0] += quad.rgbRed;
                aSum[1] += quad.rgbGreen;
                aSum[2] += quad.rgbBlue;
            }
        // The entry chosen is one of the table's nearest to the mean (within the 8-step
        // grid of the lookup cube).
        const SRGBQuad& chosen = map.m_pRGBQuad[level1.Row(pixel.y())[pixel.x()]];
        const int dr = chosen.rgbRed - (aSum[0] + 2) / 4, dg = chosen.rgbGreen - (aSum[1] + 2) / 4,
                  db = chosen.rgbBlue - (aSum[2] + 2) / 4;
        int nBest = 1 << 30;
        for (int i = 0; i < 256; ++i) {
            const SRGBQuad& q = map.m_pRGBQuad[i];
            const int r = q.rgbRed - (aSum[0] + 2) / 4, g = q.rgbGreen - (aSum[1] + 2) / 4, b = q.rgbBlue - (aSum[2] + 2) / 4;
            nBest = std::min(nBest, r * r + g * g + b * b);
        }
        EXPECT_LE(std::sqrt(double(dr * dr + dg * dg + db * db)), std::sqrt(double(nBest)) + 14.0)
            << pixel.x() << "," << pixel.y();
    }
    EXPECT_EQ(pyramid.Bytes(), std::size_t(151 * 100 + 76 * 50 + 38 * 25));
    // Cancelled, nothing is left.
    pyramid.Cancel();
    EXPECT_EQ(pyramid.LevelFor(0.25), nullptr);
    EXPECT_EQ(pyramid.Picture(), nullptr);
}

TEST_F(ZoomViewTest, ReducedCopiesAreMadeAgainWhenTheMapChanges)
{
    StartWithView();
    OpenMap(24, 800, 600);
    const CDIBWorld* pBefore = View().DisplayedMap();
    const_cast<CMapPyramid&>(View().Pyramid(0)).Wait();
    EXPECT_EQ(View().Pyramid(0).Picture(), pBefore);
    View().OnActionConvertToGreyScale();
    const_cast<CMapPyramid&>(View().Pyramid(0)).Wait();
    ASSERT_TRUE(View().Pyramid(0).IsComplete());
    // Grey now: the reduced copy's pixels are grey too.
    const SPyramidLevel* pLevel = View().Pyramid(0).LevelFor(0.5);
    ASSERT_NE(pLevel, nullptr);
    const std::uint8_t* p = pLevel->Row(10) + 3 * 10;
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
    // Converted: another picture, other reduced copies.
    View().OnActionConvertTo8Bit();
    Viewport()->repaint();
    EXPECT_NE(View().Pyramid(0).Picture(), nullptr);
    EXPECT_EQ(View().Pyramid(0).Picture(), View().DisplayedMap());
}

TEST_F(ZoomViewTest, MagnifierShowsThePixelsUnderThePointerEightTimesLarger)
{
    StartWithView();
    OpenMap(24, 800, 600);
    View().ScrollToPosition(QPoint(37, 11));
    Frame().Action(ID_VIEW_MAGNIFIER)->trigger();
    EXPECT_TRUE(Frame().Action(ID_VIEW_MAGNIFIER)->isChecked());
    for (const QPoint& pointer : {QPoint(100, 120), QPoint(5, 6)}) {
        Move(pointer);
        const QImage shown = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect rect = View().MagnifierRect();
        ASSERT_EQ(rect.size(), QSize(160, 160));
        const QPoint centre = View().WindowToPicture(pointer);
        EXPECT_EQ(View().MagnifierPixel(), centre);
        const CDIBWorld& map = *View().DisplayedMap();
        int nCompared = 0;
        // Each 8 x 8 square's middle shows a picture pixel; the pointer's pixel is the
        // square at 76..83; squares off the picture are background.
        for (int i = -9; i <= 9; ++i)
            for (int j = -9; j <= 7; ++j) {
                const QPoint picture = centre + QPoint(i, j);
                if (picture.x() < 0 || picture.y() < 0)
                    continue;
                const QPoint window = rect.topLeft() + QPoint(80 + 8 * i, 80 + 8 * j);
                EXPECT_EQ(shown.pixel(window), PictureColour(map, picture.x(), picture.y()))
                    << i << "," << j << " at " << pointer.x() << "," << pointer.y();
                ++nCompared;
            }
        EXPECT_GT(nCompared, 200);
    }
    // Off, the magnifier goes; a Shift-drag of a locator brings it back while it lasts.
    Frame().Action(ID_VIEW_MAGNIFIER)->trigger();
    Move(QPoint(100, 120));
    EXPECT_TRUE(View().MagnifierRect().isEmpty());
    View().ScrollToPosition(QPoint(0, 0));
    Press(QPoint(20, 20), Qt::ShiftModifier);
    Move(QPoint(60, 70), Qt::ShiftModifier);
    EXPECT_FALSE(View().MagnifierRect().isEmpty());
    Release(QPoint(60, 70));
    EXPECT_TRUE(View().MagnifierRect().isEmpty());
    EXPECT_EQ(View().Locators().LocatorX(0), 60);
}

TEST_F(ZoomViewTest, ShiftDragDrawsTheLocatorAtThePointerBeforeTheRelease)
{
    StartWithView();
    OpenMap(24, 800, 600);
    View().SetZoom(2.0, QPoint());
    const QPoint mark = View().Transform().PictureMarkToWindow(QPoint(120, 20));  // locator 2
    Press(mark, Qt::ShiftModifier);
    ASSERT_EQ(Viewport()->cursor().shape(), Qt::CrossCursor);  // a locator is being dragged
    const QPoint target(400, 300);
    Move(target, Qt::ShiftModifier);
    EXPECT_EQ(View().Locators().LocatorX(1), 120);  // the locator set changes at the release
    const QImage shown = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The circle of radius 10 round the pixel under the pointer is drawn there.
    const QPoint newMark = View().Transform().PictureMarkToWindow(View().WindowToPicture(target));
    int nRed = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -12; dx <= -8; ++dx)
            nRed += shown.pixel(newMark + QPoint(dx, dy)) == qRgb(255, 0, 0);
    EXPECT_GT(nRed, 0);
    Release(target);
    EXPECT_EQ(View().Locators().LocatorX(1), View().WindowToPicture(target).x());
    EXPECT_EQ(View().Locators().LocatorY(1), View().WindowToPicture(target).y());
}

TEST_F(ZoomViewTest, KeysSelectAndNudgeALocatorAndOtherwiseScroll)
{
    StartWithView();
    OpenMap(8, 2000, 1500);
    View().setFocus();
    const CLocatorSet& l = View().Locators();
    const struct {
        int nKey;
        Qt::KeyboardModifiers eModifiers;
        const char* pChosenAt;  // pane 1: where the chosen locator is, empty for none
        int nX2, nY2;
    } aSteps[] = {
        {Qt::Key_2, Qt::NoModifier, "120, 20", 120, 20},       {Qt::Key_Right, Qt::NoModifier, "121, 20", 121, 20},
        {Qt::Key_Down, Qt::ShiftModifier, "121, 30", 121, 30}, {Qt::Key_Left, Qt::ShiftModifier, "111, 30", 111, 30},
        {Qt::Key_Up, Qt::NoModifier, "111, 29", 111, 29},      {Qt::Key_3, Qt::NoModifier, "120, 120", 111, 29},
        {Qt::Key_Escape, Qt::NoModifier, "", 111, 29},
    };
    for (const auto& step : aSteps) {
        Key(step.nKey, step.eModifiers);
        EXPECT_EQ(PaneText(1), QString::fromLatin1(step.pChosenAt)) << step.nKey;
        EXPECT_EQ(l.LocatorX(1), step.nX2) << step.nKey;
        EXPECT_EQ(l.LocatorY(1), step.nY2) << step.nKey;
    }
    EXPECT_EQ(l.LocatorX(2), 120);  // locator 3 was chosen, never moved
    // Nothing chosen: the arrows scroll as ever.
    Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_GT(View().ScrollPosition().x(), 0);
    EXPECT_GT(View().ScrollPosition().y(), 0);
    EXPECT_EQ(l.LocatorX(1), 111);

    // A double-click with a locator chosen puts it there, at any zoom.
    View().SetZoom(4.0, QPoint());
    View().ScrollToPosition(QPoint(0, 0));
    Key(Qt::Key_1);
    QTest::mouseDClick(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 61));
    EXPECT_EQ(l.LocatorX(0), 12);
    EXPECT_EQ(l.LocatorY(0), 15);
    // No crop rectangle and no drag came of the clicks: the pointer shows the map's extent
    // and its position.
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled());
    Move(QPoint(80, 90));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(1999,1499)"));
    EXPECT_EQ(PaneText(2), QStringLiteral("20, 22"));
}

TEST_F(ZoomViewTest, StatusBarShowsEastingAndNorthingUnderThePointer)
{
    StartWithView();
    OpenMap(8, 400, 300);  // west 1000, north 1299, one metre a pixel
    View().SetZoom(2.0, QPoint());
    View().ScrollToPosition(QPoint(0, 0));
    Move(QPoint(21, 41));  // pixel (10, 20)
    EXPECT_EQ(PaneText(2), QStringLiteral("10, 20"));
    EXPECT_EQ(View().MapPositionLabel()->text(), QStringLiteral("E 1010.00  N 1279.00"));
    // Without a georeference there is nothing to show.
    Document().GetImage()->m_bWorld = 0;
    Move(QPoint(23, 41));
    EXPECT_EQ(View().MapPositionLabel()->text(), QString());
}

TEST_F(ZoomViewTest, TheLocatorsAreRememberedBesideTheScanAndRestoredOnReopening)
{
    StartWithView();
    OpenMap(8, 400, 300);
    const std::string strScan = m_strLastPath;
    const int anX[3] = {12, 380, 377}, anY[3] = {15, 11, 290};
    test::WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
        for (int i = 0; i < 3; ++i) {
            dialog.Field(COrvexTransDlg::IDC_X1 + 4 * i)->setText(QString::number(anX[i]));
            dialog.Field(COrvexTransDlg::IDC_Y1 + 4 * i)->setText(QString::number(anY[i]));
        }
        dialog.Field(COrvexTransDlg::IDC_EASTING1)->setText(QStringLiteral("500000"));
        dialog.Field(COrvexTransDlg::IDC_NORTHING1)->setText(QStringLiteral("6010000"));
        dialog.Field(COrvexTransDlg::IDC_EASTING1 + 8)->setText(QStringLiteral("504000"));
        dialog.Field(COrvexTransDlg::IDC_NORTHING1 + 8)->setText(QStringLiteral("6007000"));
        dialog.accept();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(strScan + ".points")));

    OpenMap(8, 50, 40);  // another map: its own (default) locators
    EXPECT_EQ(View().Locators().LocatorX(2), 120);
    EXPECT_FALSE(View().Locators().TransformSetUp());
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strScan)));
    const CLocatorSet& l = View().Locators();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(l.LocatorX(i), anX[i]) << i;
        EXPECT_EQ(l.LocatorY(i), anY[i]) << i;
    }
    EXPECT_EQ(l.Easting(0), 500000.0);
    EXPECT_EQ(l.Northing(2), 6007000.0);
    EXPECT_EQ(l.Easting(1), 504000.0);
    EXPECT_TRUE(l.TransformSetUp());
    EXPECT_TRUE(Frame().Pane(0)->text().contains(QStringLiteral("restored")));
}

}  // namespace
}  // namespace gridmorph
