// The grid finder in the window: a released locator snaps onto the grid crossing near it
// (not with Snap to Grid off, nor with Shift+Alt), and so does one moved with the arrow
// keys when Enter confirms it; Find Grid puts the locators on the grid's corners; Apply
// warns before going on with a locator on the wrong grid line; View > Predicted Grid
// draws the lines the locators predict; the magnifier shows the lines fitted at a crossing.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "SyntheticScan.h"
#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "view/GridInView.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

class GridViewTest : public test::CAppTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Start());
        Frame().resize(1000, 800);
        QApplication::processEvents();
        synthetic::SScanRecipe recipe;
        recipe.nWidth = 900, recipe.nHeight = 700;
        recipe.dSpacing = 150;
        recipe.dRotationDegrees = 4;
        recipe.bLabels = false;
        CDIBImage scan;
        std::string strWhy;
        ASSERT_TRUE(synthetic::MakeScan(recipe, scan, m_truth, strWhy)) << strWhy;
        const std::string strPath = m_folder.Path("scan.png");
        ASSERT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
    }
    void TearDown() override { SnapToGridEnabled() = true; }
    COrvexView& View() { return *Frame().View(); }
    QPoint Crossing(int i, int j) const
    {
        return QPoint(int(std::floor(m_truth.CrossX(i, j) + 0.5)), int(std::floor(m_truth.CrossY(i, j) + 0.5)));
    }
    // Drags locator 2 from where it is to the window point, with the modifiers.
    void DragLocator2(QPoint to, Qt::KeyboardModifiers eModifiers = Qt::ShiftModifier)
    {
        const QPoint from(View().Locators().LocatorX(1), View().Locators().LocatorY(1));
        ASSERT_EQ(View().WindowToPicture(from), from);  // not scrolled: window = picture pixels
        QTest::mousePress(View().viewport(), Qt::LeftButton, eModifiers, from);
        ASSERT_EQ(View().viewport()->cursor().shape(), Qt::CrossCursor);  // the locator is being dragged
        QTest::mouseEvent(QTest::MouseMove, View().viewport(), Qt::NoButton, eModifiers, to);
        QTest::mouseRelease(View().viewport(), Qt::LeftButton, eModifiers, to);
    }
    // Locators 1 to 3 on the corners of the whole grid, 100 m cells; locator 2 on the
    // crossing of the given row of the last column.
    void PutLocatorsOnTheGrid(int nRowOfLocator2 = 0)
    {
        const int nLast = m_truth.nColumns - 1, nBottom = m_truth.nRows - 1;
        CLocatorSet& locators = View().Locators();
        const QPoint aCorners[3] = {Crossing(0, 0), Crossing(nLast, nRowOfLocator2), Crossing(nLast, nBottom)};
        for (int k = 0; k < 3; ++k)
            locators.SetLocator(k, aCorners[k].x(), aCorners[k].y());
        locators.SetMapPosition(0, 1000, 9000);
        locators.SetEasting(2, 1000 + 100.0 * nLast);
        locators.SetMapPosition(1, locators.Easting(2), 9000);
        locators.SetNorthing(2, 9000 - 100.0 * nBottom);
    }
    QPoint Locator2() { return QPoint(View().Locators().LocatorX(1), View().Locators().LocatorY(1)); }
    synthetic::SScanTruth m_truth;
};

// Pixels of a picture rectangle that are cyan (the predicted grid), or yellow (the ring of
// the magnifier's crossing), whatever the map under them.
int CountColour(const QImage& image, const QRect& rect, bool bCyan)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += bCyan ? (c.blue() > 150 && c.blue() - c.red() > 100) : (c.red() > 200 && c.green() > 170 && c.blue() < 80);
        }
    return n;
}

TEST_F(GridViewTest, ALocatorLetGoNearACrossingSnapsOntoIt)
{
    View().Locators().SetLocator(1, 450, 40);
    const QPoint target = Crossing(2, 1);
    DragLocator2(target + QPoint(6, -5));
    EXPECT_EQ(View().Locators().LocatorX(1), target.x());
    EXPECT_EQ(View().Locators().LocatorY(1), target.y());

    // Off in the middle of a cell: where it was let go.
    const QPoint cell = (Crossing(1, 1) + Crossing(2, 2)) / 2;
    DragLocator2(cell);
    EXPECT_EQ(View().Locators().LocatorX(1), cell.x());
    EXPECT_EQ(View().Locators().LocatorY(1), cell.y());
}

TEST_F(GridViewTest, SnapToGridOffOrShiftAltPlacesWithoutSnapping)
{
    View().Locators().SetLocator(1, 450, 40);
    const QPoint near = Crossing(2, 1) + QPoint(5, 4);
    DragLocator2(near, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(View().Locators().LocatorX(1), near.x());
    EXPECT_EQ(View().Locators().LocatorY(1), near.y());

    SnapToGridEnabled() = false;
    const QPoint other = Crossing(3, 2) + QPoint(-4, 6);
    DragLocator2(other);
    EXPECT_EQ(View().Locators().LocatorX(1), other.x());
    EXPECT_EQ(View().Locators().LocatorY(1), other.y());
}

TEST_F(GridViewTest, ApplyWarnsWhenALocatorIsOnTheWrongGridLine)
{
    PutLocatorsOnTheGrid(1);  // 2 one row down
    CLocatorSet& locators = View().Locators();
    locators.SetTransformSetUp(true);
    m_platform.AnswerNextQuestion(EAnswer::No);
    View().OnActionApplyTransform();
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::QuestionYesNo);
    EXPECT_EQ(m_platform.Messages()[0].strText.rfind("Locator 2 is probably on the wrong grid line", 0), 0u)
        << m_platform.Messages()[0].strText;
    EXPECT_FALSE(locators.TransformApplied());  // answered No: nothing was made

    // On the right line: no question, and the map is made.
    m_platform.ClearRecord();
    const int nLast = m_truth.nColumns - 1;
    locators.SetLocator(1, Crossing(nLast, 0).x(), Crossing(nLast, 0).y());
    View().OnActionApplyTransform();
    for (const auto& message : m_platform.Messages())
        EXPECT_NE(message.eKind, EMessageKind::QuestionYesNo) << message.strText;
    EXPECT_TRUE(locators.TransformApplied());
}

TEST_F(GridViewTest, FindGridPutsTheLocatorsOnTheLargestRectangle)
{
    // Find Grid opens the Transform dialog to confirm; it is closed unchanged.
    const int nLast = m_truth.nColumns - 1, nBottom = m_truth.nRows - 1;
    QTimer::singleShot(0, [] {
        if (QWidget* pModal = QApplication::activeModalWidget())
            pModal->close();
    });
    FindGridInView(View());
    const CLocatorSet& locators = View().Locators();
    const QPoint aExpected[3] = {Crossing(0, 0), Crossing(nLast, 0), Crossing(nLast, nBottom)};
    for (int k = 0; k < 3; ++k) {
        EXPECT_LE(std::abs(locators.LocatorX(k) - aExpected[k].x()), 1) << k;
        EXPECT_LE(std::abs(locators.LocatorY(k) - aExpected[k].y()), 1) << k;
    }
    // Without labels the user is told to type the coordinates.
    ASSERT_FALSE(m_platform.Messages().empty());
    EXPECT_NE(m_platform.Messages()[0].strText.find("could not be read"), std::string::npos);
}

// Find Grid scrolls the view to the locators it placed before its boxes talk about them:
// all three when they fit in the window at the zoom, else locator 1 in the middle.
TEST_F(GridViewTest, FindGridShowsTheLocatorsItPlaced)
{
    Frame().resize(700, 560);
    QApplication::processEvents();
    const struct {
        double dZoom;
        bool bAllFit;
    } aCases[] = {{0.75, true}, {2.0, false}};
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.dZoom);
        View().SetZoom(aCase.dZoom, QPoint());
        // Looking at the far corner, away from where the grid's corners are.
        View().ScrollToPosition(QPoint(100000, 100000));
        ASSERT_NE(View().ScrollPosition(), QPoint(0, 0));
        QRect rectShown;  // window pixels, as the user saw it behind the box
        QPoint aMarks[3];
        QPoint ptScroll, ptLargestScroll;
        QTimer::singleShot(0, [&] {
            rectShown = View().viewport()->rect();
            ptScroll = View().ScrollPosition();
            ptLargestScroll = QPoint(View().horizontalScrollBar()->maximum(), View().verticalScrollBar()->maximum());
            const CViewTransform transform = View().Transform();
            for (int k = 0; k < 3; ++k)
                aMarks[k] = transform.PictureMarkToWindow(QPoint(View().Locators().LocatorX(k), View().Locators().LocatorY(k)));
            if (QWidget* pModal = QApplication::activeModalWidget())
                pModal->close();
        });
        FindGridInView(View());
        ASSERT_FALSE(rectShown.isEmpty());
        if (aCase.bAllFit) {
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(rectShown.adjusted(10, 10, -10, -10).contains(aMarks[k])) << "locator " << k + 1;
        } else {
            // They do not fit at 200%; locator 1 is in the middle, as far as the map
            // reaches (the view scrolls no further than its edge), give or take the bars
            // the window's layout changes.
            EXPECT_FALSE(rectShown.contains(aMarks[0]) && rectShown.contains(aMarks[1]) && rectShown.contains(aMarks[2]));
            EXPECT_TRUE(rectShown.adjusted(10, 10, -10, -10).contains(aMarks[0]));
            EXPECT_TRUE(std::abs(aMarks[0].x() - rectShown.center().x()) <= rectShown.width() / 8 || ptScroll.x() == 0 ||
                        ptScroll.x() == ptLargestScroll.x())
                << aMarks[0].x() << " scrolled " << ptScroll.x();
            EXPECT_TRUE(std::abs(aMarks[0].y() - rectShown.center().y()) <= rectShown.height() / 8 || ptScroll.y() == 0 ||
                        ptScroll.y() == ptLargestScroll.y())
                << aMarks[0].y() << " scrolled " << ptScroll.y();
        }
        m_platform.ClearRecord();
    }
}

TEST_F(GridViewTest, PredictedGridDrawsTheLocatorsGridOverTheScan)
{
    QAction* pCommand = Frame().Action(ID_VIEW_PREDICTED_GRID);
    ASSERT_NE(pCommand, nullptr);
    Frame().UpdateCommandUI();
    EXPECT_FALSE(pCommand->isEnabled());  // the locators have no map positions yet
    PutLocatorsOnTheGrid();
    Frame().UpdateCommandUI();
    ASSERT_TRUE(pCommand->isEnabled());
    EXPECT_FALSE(pCommand->isChecked());  // off until asked for
    const QImage off = View().viewport()->grab().toImage();
    pCommand->trigger();
    EXPECT_TRUE(pCommand->isChecked());
    const QImage on = View().viewport()->grab().toImage();
    ASSERT_EQ(View().WindowToPicture(QPoint(0, 0)), QPoint(0, 0));  // window = picture pixels
    // Halfway along vertical line 1 and horizontal line 2 between crossings: the lines are
    // drawn over the scan's own, within a pixel or two; the middle of a cell is untouched.
    const QPoint aOnLines[] = {(Crossing(1, 1) + Crossing(1, 2)) / 2, (Crossing(2, 2) + Crossing(3, 2)) / 2};
    for (const QPoint& point : aOnLines) {
        const QRect rect = QRect(point - QPoint(2, 2), QSize(5, 5));
        EXPECT_EQ(CountColour(off, rect, true), 0) << point.x() << "," << point.y();
        EXPECT_GE(CountColour(on, rect, true), 3) << point.x() << "," << point.y();
    }
    const QPoint cell = (Crossing(1, 1) + Crossing(2, 2)) / 2;
    EXPECT_EQ(on.pixelColor(cell), off.pixelColor(cell));
    // Only over the picture: beyond its right-hand edge the window is bare.
    const QRect rectBeyond(900 + 5, 10, 40, 600);
    ASSERT_LT(rectBeyond.right(), on.width());
    EXPECT_EQ(CountColour(on, rectBeyond, true), 0);
}

TEST_F(GridViewTest, MagnifierShowsTheLinesFittedAtTheCrossing)
{
    Frame().Action(ID_VIEW_MAGNIFIER)->trigger();
    ASSERT_TRUE(Frame().Action(ID_VIEW_MAGNIFIER)->isChecked());
    const double x = m_truth.CrossX(2, 1), y = m_truth.CrossY(2, 1);
    const QPoint pointer(int(std::lround(x)) + 4, int(std::lround(y)) - 3);
    QTest::mouseEvent(QTest::MouseMove, View().viewport(), Qt::NoButton, Qt::NoModifier, pointer);
    const QRect rectMagnifier = View().MagnifierRect();
    ASSERT_FALSE(rectMagnifier.isEmpty());
    const QImage shown = View().viewport()->grab().toImage();
    const std::optional<SCrossingLines>& lines = View().MagnifiedCrossing();
    ASSERT_TRUE(lines.has_value());
    EXPECT_LE(std::hypot(lines->crossing.dX - x, lines->crossing.dY - y), 0.5);
    // Along the magnifier's extent (ten pixels either side) both lines stay within half a
    // pixel of the true ones, which run through the neighbouring true crossings.
    const double dTrueV = (m_truth.CrossX(2, 2) - x) / (m_truth.CrossY(2, 2) - y);
    const double dTrueH = (m_truth.CrossY(3, 1) - y) / (m_truth.CrossX(3, 1) - x);
    for (const double t : {-10.0, 10.0}) {
        EXPECT_NEAR(lines->crossing.dX + lines->dSlopeVertical * t, x + dTrueV * t, 0.5);
        EXPECT_NEAR(lines->crossing.dY + lines->dSlopeHorizontal * t, y + dTrueH * t, 0.5);
    }
    EXPECT_GT(CountColour(shown, rectMagnifier, false), 10);  // the crossing's ring

    // Over the middle of a cell: nothing fitted, nothing drawn.
    const QPoint cell = (Crossing(1, 1) + Crossing(2, 2)) / 2;
    QTest::mouseEvent(QTest::MouseMove, View().viewport(), Qt::NoButton, Qt::NoModifier, cell);
    const QImage away = View().viewport()->grab().toImage();
    EXPECT_FALSE(View().MagnifiedCrossing().has_value());
    EXPECT_EQ(CountColour(away, View().MagnifierRect(), false), 0);
}

TEST_F(GridViewTest, EnterAfterTheArrowKeysSnapsTheChosenLocatorLikeALetGo)
{
    const QPoint target = Crossing(2, 1), cell = (Crossing(1, 1) + Crossing(2, 2)) / 2;
    const struct {
        const char* pName;
        QPoint start;
        bool bChosen, bSnap, bSnaps;
    } aCases[] = {
        {"near a crossing", target + QPoint(7, -5), true, true, true},
        {"Snap to Grid off", target + QPoint(7, -5), true, false, false},
        {"in a cell", cell + QPoint(1, 0), true, true, false},
        {"no locator chosen", target + QPoint(7, -5), false, true, false},
    };
    for (const auto& c : aCases) {
        SnapToGridEnabled() = c.bSnap;
        View().Locators().SetLocator(1, c.start.x(), c.start.y());
        QTest::keyClick(&View(), c.bChosen ? Qt::Key_2 : Qt::Key_Escape);
        QTest::keyClick(&View(), Qt::Key_Left);
        const QPoint nudged = c.start - QPoint(c.bChosen ? 1 : 0, 0);
        EXPECT_EQ(Locator2(), nudged) << c.pName;  // the arrow keys alone never snap
        QTest::keyClick(&View(), Qt::Key_Return);
        EXPECT_EQ(Locator2(), c.bSnaps ? target : nudged) << c.pName;
        if (c.bSnaps) {
            // The snap is a step of its own: Undo puts the locator back where Enter found it.
            View().OnEditUndo();
            EXPECT_EQ(Locator2(), nudged) << c.pName;
            QTest::keyClick(&View(), Qt::Key_Enter);  // the keypad's Enter too
            EXPECT_EQ(Locator2(), target) << c.pName;
        }
    }
}

}  // namespace
}  // namespace gridmorph
