// The position panes of the status bar: wide enough for what they show in the window's
// font, and never showing numbers of a moment that has passed (after a box, a closed
// document, a cropped map) until the pointer next moves over the view.
#include <gtest/gtest.h>

#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>

#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::WhenModal;

class StatusPanesTest : public CAppTest {
protected:
    void OpenMap(int nWidth, int nHeight)
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 8, nWidth, nHeight);
        const std::string strPath = m_folder.Path("map" + std::to_string(m_nMaps++) + ".bmp");
        map.SetEdges({1000.0, 1000.0 + nHeight - 1, 1000.0 + nWidth - 1, 1000.0});
        ASSERT_EQ(map.SaveWorld(strPath), ESaveResult::Written);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
    }
    QWidget* Viewport() { return Frame().View()->viewport(); }
    QString PaneText(int nPane) { return Frame().Pane(nPane)->text(); }
    void Move(QPoint point) { QTest::mouseMove(Viewport(), point); }
    // A box over the window, during which the pointer goes to a point of the screen.
    void BoxWhilePointerMovesTo(QPoint global)
    {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Gridmorph"), QStringLiteral("Map Edge Locations"),
                        QMessageBox::Ok, &Frame());
        WhenModal<QMessageBox>([global](QMessageBox& shown) {
            QCursor::setPos(global);
            shown.accept();
        });
        box.exec();
        QTest::qWait(50);
    }

    int m_nMaps = 0;
};

TEST_F(StatusPanesTest, APaneShowsALargeMapsExtentWhole)
{
    StartShown();
    OpenMap(3432, 28);
    Move(QPoint(60, 20));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(3431,27)"));
    EXPECT_EQ(PaneText(2), QStringLiteral("60, 20"));
    QTest::qWait(20);
    for (int i : {1, 2}) {
        const QLabel& pane = *Frame().Pane(i);
        EXPECT_GE(pane.contentsRect().width(), pane.fontMetrics().horizontalAdvance(pane.text())) << i;
    }
    // In a larger font the panes grow with it.
    QLabel& pane = *Frame().Pane(1);
    const int nBefore = pane.sizeHint().width();
    QFont font = pane.font();
    font.setPointSizeF(font.pointSizeF() * 2);
    pane.setFont(font);
    EXPECT_GT(pane.sizeHint().width(), nBefore);
    EXPECT_GE(pane.sizeHint().width(), QFontMetrics(font).horizontalAdvance(QStringLiteral("(0,0)->(99999,99999)")));
    // A text wider than the one the pane was made for widens it.
    pane.setText(QStringLiteral("(0,0)->(1234567,1234567)"));
    EXPECT_GE(pane.sizeHint().width(), QFontMetrics(font).horizontalAdvance(pane.text()));
}

TEST_F(StatusPanesTest, AfterABoxThePanesShowWhereThePointerIsNow)
{
    StartShown();
    OpenMap(640, 480);
    Move(QPoint(50, 40));
    ASSERT_EQ(PaneText(2), QStringLiteral("50, 40"));

    // The pointer left the box over another place of the view.
    BoxWhilePointerMovesTo(Viewport()->mapToGlobal(QPoint(200, 100)));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(639,479)"));
    EXPECT_EQ(PaneText(2), QStringLiteral("200, 100"));

    // Or beside the view: no position.
    BoxWhilePointerMovesTo(Frame().mapToGlobal(QPoint(Frame().width() + 100, 10)));
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(639,479)"));
    EXPECT_EQ(PaneText(2), QString());

    // A crop rectangle keeps its corners there.
    QCursor::setPos(Viewport()->mapToGlobal(QPoint(10, 10)));
    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 25));
    ASSERT_EQ(CropCornersShown(), (SRectEdges{10, 10, 30, 25}));
    BoxWhilePointerMovesTo(Viewport()->mapToGlobal(QPoint(300, 300)));
    EXPECT_EQ(PaneText(1), QStringLiteral("10, 10"));
    EXPECT_EQ(PaneText(2), QStringLiteral("30, 25"));
}

// The position under the pointer (the pixel, and the easting and northing) is shown only
// while the pointer is over the picture: not once it has left the view, nor over the
// margin beside a picture smaller than the window.
TEST_F(StatusPanesTest, ThePointersPositionGoesWhenThePointerLeavesThePicture)
{
    StartShown();
    OpenMap(200, 150);
    QLabel* pMapPosition = Frame().View()->MapPositionLabel();
    const struct {
        QWidget* pLeft;
        QPoint point;
        const char* pPixel;
        const char* pMapPosition;
    } aLeaves[] = {
        {Viewport(), QPoint(50, 40), "50, 40", "E 1050.00  N 1109.00"},
        {Frame().View(), QPoint(60, 40), "60, 40", "E 1060.00  N 1109.00"},
    };
    for (const auto& leaving : aLeaves) {
        QWidget* pLeft = leaving.pLeft;
        SCOPED_TRACE(pLeft == Viewport() ? "the map's window" : "the view");
        Move(leaving.point);
        ASSERT_EQ(PaneText(2), QString::fromLatin1(leaving.pPixel));
        ASSERT_EQ(pMapPosition->text(), QString::fromLatin1(leaving.pMapPosition));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(pLeft, &leave);
        EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(199,149)"));
        EXPECT_EQ(PaneText(2), QString());
        EXPECT_EQ(pMapPosition->text(), QString());
    }

    // Over the margin right of and below the picture: no position; back over it, its own.
    const struct {
        QPoint point;
        const char* pPixel;
        const char* pMapPosition;
    } aMoves[] = {
        {QPoint(120, 100), "120, 100", "E 1120.00  N 1049.00"},
        {QPoint(260, 100), "", ""},
        {QPoint(199, 149), "199, 149", "E 1199.00  N 1000.00"},
        {QPoint(100, 150), "", ""},
        {QPoint(300, 200), "", ""},
        {QPoint(1, 1), "1, 1", "E 1001.00  N 1148.00"},
    };
    for (const auto& move : aMoves) {
        SCOPED_TRACE(move.pPixel);
        Move(move.point);
        EXPECT_EQ(PaneText(2), QString::fromLatin1(move.pPixel));
        EXPECT_EQ(pMapPosition->text(), QString::fromLatin1(move.pMapPosition));
        EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(199,149)"));
    }
}

TEST_F(StatusPanesTest, ClosingTheDocumentOrReplacingTheMapRewritesThePanes)
{
    StartShown();
    OpenMap(640, 480);
    QCursor::setPos(Viewport()->mapToGlobal(QPoint(70, 60)));
    Move(QPoint(70, 60));
    ASSERT_EQ(PaneText(1), QStringLiteral("(0,0)->(639,479)"));

    // A crop: the new map's extent at once.
    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(109, 59));
    Frame().View()->OnActionCrop();
    ASSERT_TRUE(m_platform.Messages().empty());
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(99,49)"));
    Document().SetModifiedFlag(false);

    // Another file: its extent.
    OpenMap(300, 200);
    EXPECT_EQ(PaneText(1), QStringLiteral("(0,0)->(299,199)"));

    // Closed: nothing.
    Document().OnFileClose();
    EXPECT_EQ(PaneText(1), QString());
    EXPECT_EQ(PaneText(2), QString());
}

}  // namespace
}  // namespace gridmorph
