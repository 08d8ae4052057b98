// Crop and convert in the window, as a user meets them one after the other: a crop the map
// refuses must not spoil the conversion that follows.
#include <gtest/gtest.h>

#include <QAction>
#include <QTest>
#include <cstring>

#include "errors/ErrorText.h"
#include "gui/GuiTestSupport.h"
#include "shared/CommandIds.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;

class MapEditsWindowTest : public CAppTest {
protected:
    QWidget* Viewport() { return Frame().View()->viewport(); }
    void Trigger(int nId)
    {
        Frame().UpdateCommandUI();
        QAction* pAction = Frame().Action(nId);
        ASSERT_TRUE(pAction->isEnabled()) << nId;
        pAction->trigger();
    }
};

TEST_F(MapEditsWindowTest, ARefusedCropLeavesTheMapAndTheNextConversionAsTheCommandLineMakesIt)
{
    StartShown();
    // A full-colour scan without a georeference, in many colours.
    CDIBWorld scan;
    test::MakePatternPicture(scan, 24, 160, 120);
    const std::string strPath = m_folder.Path("scan.bmp");
    ASSERT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
    m_platform.ClearRecord();

    // The user draws a rectangle and crops: the map has no place, so the crop is refused.
    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(Viewport(), QPoint(60, 40));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    const CDIBWorld* pBefore = Document().GetImage();
    Trigger(ID_ACTION_CROP);
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].strText, "No World file or transform information in file.\nIn source for CropMap().");
    EXPECT_EQ(Document().GetImage(), pBefore);
    EXPECT_EQ(Document().GetImage()->m_nImageWidth, 160);
    m_platform.ClearRecord();

    // Converting to 8 bits then gives the map of the scan's most frequent colours, as a
    // conversion of the freshly opened scan does (the command line's).
    Trigger(ID_ACTION_CONVERT_TO_8);
    EXPECT_TRUE(m_platform.Messages().empty());
    CDIBWorld fresh, expected;
    ASSERT_TRUE(fresh.OpenDIB(strPath));
    ASSERT_TRUE(expected.CreateImage(8, &fresh, true, true, false, true, false));
    const CDIBWorld& converted = *Document().GetImage();
    ASSERT_EQ(converted.m_nBitCount, 8);
    EXPECT_EQ(std::memcmp(converted.m_pRGBQuad.get(), expected.m_pRGBQuad.get(), 256 * sizeof(SRGBQuad)), 0)
        << "the colour table";
    EXPECT_EQ(std::memcmp(converted.StorageRow(0), expected.StorageRow(0), 120 * expected.m_nStride), 0);
    EXPECT_TRUE(Document().IsModified());
}

// A rectangle the user draws beyond the picture's right and bottom keeps the pixels where
// they are; one drawn wholly beside the picture is refused with a box and changes nothing.
TEST_F(MapEditsWindowTest, ACropBesideThePictureIsRefusedAndOneReachingBeyondItKeepsItsPixels)
{
    StartShown();
    CDIBWorld map;
    test::MakePatternPicture(map, 24, 160, 120);
    map.SetEdges({1000, 2190, 1159, 2071});  // 1 m pixels
    const std::string strPath = m_folder.Path("map.bmp");
    ASSERT_EQ(map.SaveWorldSilent(strPath), ESaveResult::Written);
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
    ASSERT_GT(Viewport()->width(), 240);
    ASSERT_GT(Viewport()->height(), 180);
    m_platform.ClearRecord();

    const CDIBWorld* pBefore = Document().GetImage();
    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mouseMove(Viewport(), QPoint(230, 170));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(230, 170));
    Trigger(ID_ACTION_CROP);
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_NE(m_platform.Messages()[0].strText.find("lies wholly outside the 160 x 120 picture"), std::string::npos)
        << m_platform.Messages()[0].strText;
    EXPECT_EQ(Document().GetImage(), pBefore);
    m_platform.ClearRecord();

    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
    QTest::mouseMove(Viewport(), QPoint(180, 130));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(180, 130));
    Trigger(ID_ACTION_CROP);
    EXPECT_TRUE(m_platform.Messages().empty());
    const CDIBWorld& cropped = *Document().GetImage();
    ASSERT_EQ(cropped.m_nImageWidth, 31);
    ASSERT_EQ(cropped.m_nImageHeight, 31);
    EXPECT_EQ(cropped.GetWest(), 1150.0);
    EXPECT_EQ(cropped.GetNorth(), 2090.0);
    EXPECT_EQ(cropped.GetEast(), 1180.0);
    EXPECT_EQ(cropped.GetSouth(), 2060.0);
    // The top-left pixel is the map's column 150, row 100 from the top.
    EXPECT_EQ(std::memcmp(cropped.StorageRow(30), map.StorageRow(119 - 100) + 3 * 150, 3), 0);
}

}  // namespace
}  // namespace gridmorph
