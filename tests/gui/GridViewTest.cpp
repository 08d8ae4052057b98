// The grid finder in the window: a released locator snaps onto the grid crossing near it
// (not with Snap to Grid off, nor with Shift+Alt), Find Grid puts the locators on the
// grid's corners, and Apply warns before going on with a locator on the wrong grid line.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <cmath>

#include "SyntheticScan.h"
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
        const QPoint from(View().Locators().m_nLocatorX[1], View().Locators().m_nLocatorY[1]);
        ASSERT_EQ(View().WindowToPicture(from), from);  // not scrolled: window = picture pixels
        QTest::mousePress(View().viewport(), Qt::LeftButton, eModifiers, from);
        ASSERT_TRUE(View().m_bDragging);
        QTest::mouseEvent(QTest::MouseMove, View().viewport(), Qt::NoButton, eModifiers, to);
        QTest::mouseRelease(View().viewport(), Qt::LeftButton, eModifiers, to);
    }
    synthetic::SScanTruth m_truth;
};

TEST_F(GridViewTest, ALocatorLetGoNearACrossingSnapsOntoIt)
{
    View().Locators().m_nLocatorX[1] = 450, View().Locators().m_nLocatorY[1] = 40;
    const QPoint target = Crossing(2, 1);
    DragLocator2(target + QPoint(6, -5));
    EXPECT_EQ(View().Locators().m_nLocatorX[1], target.x());
    EXPECT_EQ(View().Locators().m_nLocatorY[1], target.y());

    // Off in the middle of a cell: where it was let go.
    const QPoint cell = (Crossing(1, 1) + Crossing(2, 2)) / 2;
    DragLocator2(cell);
    EXPECT_EQ(View().Locators().m_nLocatorX[1], cell.x());
    EXPECT_EQ(View().Locators().m_nLocatorY[1], cell.y());
}

TEST_F(GridViewTest, SnapToGridOffOrShiftAltPlacesWithoutSnapping)
{
    View().Locators().m_nLocatorX[1] = 450, View().Locators().m_nLocatorY[1] = 40;
    const QPoint near = Crossing(2, 1) + QPoint(5, 4);
    DragLocator2(near, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(View().Locators().m_nLocatorX[1], near.x());
    EXPECT_EQ(View().Locators().m_nLocatorY[1], near.y());

    SnapToGridEnabled() = false;
    const QPoint other = Crossing(3, 2) + QPoint(-4, 6);
    DragLocator2(other);
    EXPECT_EQ(View().Locators().m_nLocatorX[1], other.x());
    EXPECT_EQ(View().Locators().m_nLocatorY[1], other.y());
}

TEST_F(GridViewTest, ApplyWarnsWhenALocatorIsOnTheWrongGridLine)
{
    const int nLast = m_truth.nColumns - 1, nBottom = m_truth.nRows - 1;
    CLocatorSet& locators = View().Locators();
    const QPoint aCorners[3] = {Crossing(0, 0), Crossing(nLast, 1), Crossing(nLast, nBottom)};  // 2 one row down
    for (int k = 0; k < 3; ++k)
        locators.m_nLocatorX[k] = aCorners[k].x(), locators.m_nLocatorY[k] = aCorners[k].y();
    locators.m_dEasting[0] = 1000, locators.m_dNorthing[0] = 9000;
    locators.m_dEasting[1] = locators.m_dEasting[2] = 1000 + 100.0 * nLast;
    locators.m_dNorthing[1] = 9000, locators.m_dNorthing[2] = 9000 - 100.0 * nBottom;
    locators.m_bTransformSetUp = true;
    m_platform.AnswerNextQuestion(EAnswer::No);
    View().OnActionApplyTransform();
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::QuestionYesNo);
    EXPECT_EQ(m_platform.Messages()[0].strText.rfind("Locator 2 is probably on the wrong grid line", 0), 0u)
        << m_platform.Messages()[0].strText;
    EXPECT_FALSE(locators.m_bTransformApplied);  // answered No: nothing was made

    // On the right line: no question, and the map is made.
    m_platform.ClearRecord();
    locators.m_nLocatorY[1] = Crossing(nLast, 0).y(), locators.m_nLocatorX[1] = Crossing(nLast, 0).x();
    View().OnActionApplyTransform();
    for (const auto& message : m_platform.Messages())
        EXPECT_NE(message.eKind, EMessageKind::QuestionYesNo) << message.strText;
    EXPECT_TRUE(locators.m_bTransformApplied);
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
        EXPECT_LE(std::abs(locators.m_nLocatorX[k] - aExpected[k].x()), 1) << k;
        EXPECT_LE(std::abs(locators.m_nLocatorY[k] - aExpected[k].y()), 1) << k;
    }
    // Without labels the user is told to type the coordinates.
    ASSERT_FALSE(m_platform.Messages().empty());
    EXPECT_NE(m_platform.Messages()[0].strText.find("could not be read"), std::string::npos);
}

}  // namespace
}  // namespace gridmorph
