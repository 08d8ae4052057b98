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

}  // namespace
}  // namespace gridmorph
