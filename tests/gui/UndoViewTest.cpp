// Undo and redo of the view's commands: each command undone and redone, with the maps
// and the unsaved flags they had; the memory budget that drops the oldest steps.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>

#include "app/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "view/OrvexEditEdgeDlg.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::WhenModal;

// What the user would see of the document: its maps (size, depth, pixels, edges), the
// unsaved flags and the locators.
struct SState {
    int nWidth = 0, nHeight = 0, nBits = 0;
    std::uint64_t nPixels = 0;
    int bWorld = 0;
    double dWest = 0;
    bool bTransformed = false;
    int nTransformedWidth = 0;
    std::uint64_t nTransformedPixels = 0;
    bool bModified = false, bTransformedModified = false, bApplied = false;
    int anX[3] = {}, anY[3] = {};
    bool operator==(const SState&) const = default;
};

std::uint64_t PixelHash(const CDIBWorld& map)
{
    std::uint64_t nHash = 1469598103934665603ull;
    const std::size_t nRowBytes = (std::size_t(map.m_nImageWidth) * map.m_nBitCount + 7) / 8;
    for (int y = 0; y < map.m_nImageHeight; ++y) {
        const std::uint8_t* p = map.StorageRow(y);
        for (std::size_t i = 0; i < nRowBytes; ++i)
            nHash = (nHash ^ p[i]) * 1099511628211ull;
    }
    if (map.m_nBitCount == 8 && map.m_pRGBQuad)
        for (int i = 0; i < 256; ++i)
            nHash = (nHash ^ map.m_pRGBQuad[i].rgbRed ^ (map.m_pRGBQuad[i].rgbBlue << 8)) * 1099511628211ull;
    return nHash;
}

class UndoViewTest : public CAppTest {
protected:
    void SetUpMap()
    {
        ASSERT_TRUE(Start());
        Frame().resize(700, 500);
        QApplication::processEvents();
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 300, 200);
        const std::string strPath = m_folder.Path("undo.bmp");
        map.SetEdges(1000.0, 1199.0, 1299.0, 1000.0);
        map.SaveWorld(strPath);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
        CLocatorSet& l = View().Locators();
        l.m_dEasting[0] = 1000, l.m_dNorthing[0] = 2000;
        l.m_dEasting[2] = 1100, l.m_dNorthing[2] = 1900;
        l.m_dEasting[1] = 1100, l.m_dNorthing[1] = 2000;
        l.m_bTransformSetUp = true;
    }
    COrvexView& View() { return *Frame().View(); }
    SState State()
    {
        SState state;
        const CDIBWorld& map = *Document().GetImage();
        state.nWidth = map.m_nImageWidth, state.nHeight = map.m_nImageHeight, state.nBits = map.m_nBitCount;
        state.nPixels = PixelHash(map);
        state.bWorld = map.m_bWorld, state.dWest = map.GetWest();
        if (const CDIBWorld* pTransformed = Document().GetTransformedMap()) {
            state.bTransformed = true;
            state.nTransformedWidth = pTransformed->m_nImageWidth;
            state.nTransformedPixels = PixelHash(*pTransformed);
        }
        state.bModified = Document().IsModified();
        state.bTransformedModified = Document().IsTransformedModified();
        state.bApplied = View().Locators().m_bTransformApplied;
        for (int i = 0; i < 3; ++i)
            state.anX[i] = View().Locators().m_nLocatorX[i], state.anY[i] = View().Locators().m_nLocatorY[i];
        return state;
    }
};

TEST_F(UndoViewTest, EveryCommandIsUndoneAndRedoneWithItsMapAndFlags)
{
    struct SCase {
        const char* pName;
        std::function<void(COrvexFrame&)> fnPrepare;  // before the state is taken
        std::function<void(COrvexFrame&)> fnCommand;
        // What the command must change (checked against the state before).
        std::function<void(const SState& before, const SState& after)> fnCheck;
    };
    auto trigger = [](int nCommand) {
        return [nCommand](COrvexFrame& frame) {
            frame.UpdateCommandUI();
            frame.Action(nCommand)->trigger();
        };
    };
    const SCase aCases[] = {
        {"nudge", nullptr,
         [](COrvexFrame& frame) {
             QTest::keyClick(&(*frame.View()), Qt::Key_2);
             QTest::keyClick(&(*frame.View()), Qt::Key_Right, Qt::ShiftModifier);
         },
         [](const SState& b, const SState& a) { EXPECT_EQ(a.anX[1], b.anX[1] + 10); }},
        {"drag", nullptr,
         [](COrvexFrame& frame) {
             QWidget* pViewport = (*frame.View()).viewport();
             QTest::mousePress(pViewport, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
             QTest::mouseRelease(pViewport, Qt::LeftButton, Qt::NoModifier, QPoint(70, 90));
         },
         [](const SState&, const SState& a) { EXPECT_EQ(a.anX[0], 70); }},
        {"Move Locators to Corners", nullptr, trigger(ID_ACTION_MOVE_LOCATORS),
         [](const SState&, const SState& a) { EXPECT_EQ(a.anX[2], 299); }},
        {"Crop",
         [](COrvexFrame& frame) {
             (*frame.View()).m_bCropRect = true;
             (*frame.View()).m_rcCrop = {10, 20, 109, 69};
         },
         trigger(ID_ACTION_CROP),
         [](const SState&, const SState& a) {
             EXPECT_EQ(a.nWidth, 100);
             EXPECT_TRUE(a.bModified);
         }},
        {"Convert to 8 bit", nullptr, trigger(ID_ACTION_CONVERT_TO_8),
         [](const SState&, const SState& a) { EXPECT_EQ(a.nBits, 8); }},
        {"Convert to Grey Scale", nullptr, trigger(ID_ACTION_GREY_SCALE),
         [](const SState& b, const SState& a) { EXPECT_NE(a.nPixels, b.nPixels); }},
        {"Edit Map Location", nullptr,
         [](COrvexFrame& frame) {
             WhenModal<COrvexEditEdgeDlg>([](COrvexEditEdgeDlg& dialog) {
                 dialog.Field(COrvexEditEdgeDlg::IDC_WEST)->setText(QStringLiteral("500"));
                 dialog.accept();
             });
             frame.Action(ID_ACTION_EDIT_MAP_LOCATION)->trigger();
         },
         [](const SState&, const SState& a) { EXPECT_EQ(a.dWest, 500.0); }},
        {"Apply Transform", nullptr, trigger(ID_ACTION_APPLY_TRANSFORM),
         [](const SState&, const SState& a) {
             EXPECT_TRUE(a.bTransformed);
             EXPECT_TRUE(a.bTransformedModified);
             EXPECT_TRUE(a.bApplied);
         }},
        {"Apply Transform again",
         [](COrvexFrame& frame) {
             frame.UpdateCommandUI();
             frame.Action(ID_ACTION_APPLY_TRANSFORM)->trigger();
             frame.View()->Locators().m_nLocatorX[2] += 30;
         },
         trigger(ID_ACTION_APPLY_TRANSFORM),
         [](const SState& b, const SState& a) { EXPECT_NE(a.nTransformedPixels, b.nTransformedPixels); }},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        m_pApp.reset();
        SetUpMap();
        if (HasFatalFailure())
            return;
        if (aCase.fnPrepare)
            aCase.fnPrepare(Frame());
        Document().SetModifiedFlag(false);
        Document().SetTransformedModified(false);
        View().UndoList().Clear();
        const SState before = State();
        aCase.fnCommand(Frame());
        const SState after = State();
        aCase.fnCheck(before, after);
        EXPECT_FALSE(after == before);
        Frame().UpdateCommandUI();
        ASSERT_TRUE(Frame().Action(ID_EDIT_UNDO)->isEnabled());
        EXPECT_FALSE(Frame().Action(ID_EDIT_REDO)->isEnabled());
        // The keys reach the window once it is active again (after a dialog).
        Frame().activateWindow();
        QApplication::processEvents();
        QTest::keyClick(&Frame(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_TRUE(State() == before);
        Frame().UpdateCommandUI();
        ASSERT_TRUE(Frame().Action(ID_EDIT_REDO)->isEnabled());
        QTest::keyClick(&Frame(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(State() == after);
        // Undone again after a save: the map no longer matches its file, so it stays unsaved.
        Document().SetModifiedFlag(false);
        Document().SetTransformedModified(false);
        Frame().Action(ID_EDIT_UNDO)->trigger();
        if (after.bModified) {
            EXPECT_TRUE(Document().IsModified());
        }
        if (after.bTransformedModified) {
            EXPECT_TRUE(Document().IsTransformedModified());
        }
    }
}

TEST_F(UndoViewTest, TheMemoryBudgetDropsTheOldestSteps)
{
    SetUpMap();
    // Room for one copy of the 300 x 200 24-bit map and a little more.
    View().UndoList().SetBudget(200 * 900 + 1000);
    for (const SRectEdges& rect : {SRectEdges{0, 0, 279, 189}, SRectEdges{0, 0, 259, 179}}) {
        View().m_bCropRect = true;
        View().m_rcCrop = rect;
        Frame().UpdateCommandUI();
        Frame().Action(ID_ACTION_CROP)->trigger();
    }
    EXPECT_EQ(View().UndoList().UndoCount(), 1u);
    EXPECT_TRUE(Frame().Pane(0)->text().contains(QStringLiteral("oldest undo steps were dropped")));
    EXPECT_LE(View().UndoList().Bytes(), View().UndoList().Budget());
    Frame().Action(ID_EDIT_UNDO)->trigger();
    EXPECT_EQ(Document().GetImage()->m_nImageWidth, 280);  // back one step, no further
    EXPECT_FALSE(View().CanUndo());
}

}  // namespace
}  // namespace gridmorph
