// Undo and redo of the view's commands: each command undone and redone, with the maps
// and the unsaved flags they had; the memory budget that spills the oldest pictures to
// temporary files and drops the oldest steps when they cannot go there.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>

#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "image/DIBSection.h"
#include "support/TestSupport.h"
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
        map.SetEdges({1000.0, 1199.0, 1299.0, 1000.0});
        map.SaveWorld(strPath);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
        CLocatorSet& l = View().Locators();
        l.SetMapPosition(0, 1000, 2000);
        l.SetMapPosition(2, 1100, 1900);
        l.SetMapPosition(1, 1100, 2000);
        l.SetTransformSetUp(true);
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
        state.bApplied = View().Locators().TransformApplied();
        for (int i = 0; i < 3; ++i)
            state.anX[i] = View().Locators().LocatorX(i), state.anY[i] = View().Locators().LocatorY(i);
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
             QWidget* pViewport = (*frame.View()).viewport();
             QTest::mousePress(pViewport, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
             QTest::mouseRelease(pViewport, Qt::LeftButton, Qt::NoModifier, QPoint(109, 69));
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
             frame.View()->Locators().SetLocatorX(2, frame.View()->Locators().LocatorX(2) + 30);
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
    View().UndoList().SetSpillBudget(0);  // no room in temporary files either
    for (const SRectEdges& rect : {SRectEdges{0, 0, 279, 189}, SRectEdges{0, 0, 259, 179}}) {
        DragCropRectangle(QPoint(rect.nLeft, rect.nTop), QPoint(rect.nRight, rect.nBottom));
        ASSERT_EQ(CropCornersShown(), rect);
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

// Everything of a picture undo must give back: pixels with their padding, both colour
// tables, placement, coordinate system and no-data.
struct SPictureBytes {
    std::vector<std::uint8_t> aPixels;
    std::vector<std::uint8_t> aColours, aSectionColours;
    int nWidth = 0, nHeight = 0, nBits = 0, bWorld = 0, nWestCm = 0, nSouthCm = 0;
    double dWest = 0, dNorth = 0, dEast = 0, dSouth = 0;
    std::string strSystem;
    bool bNoData = false;
    int nNoDataIndex = -1;
    std::uint8_t nNoDataRed = 0;
    bool operator==(const SPictureBytes&) const = default;
};

SPictureBytes BytesOf(const CDIBWorld& map)
{
    SPictureBytes bytes;
    bytes.nWidth = map.m_nImageWidth, bytes.nHeight = map.m_nImageHeight, bytes.nBits = map.m_nBitCount;
    const std::uint8_t* pBits = map.StorageRow(0);
    bytes.aPixels.assign(pBits, pBits + std::size_t(map.m_nStride) * map.m_nImageHeight);
    if (map.m_pRGBQuad) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(map.m_pRGBQuad.get());
        bytes.aColours.assign(p, p + kColourTableSize * sizeof(SRGBQuad));
    }
    const auto* pTable = reinterpret_cast<const std::uint8_t*>(map.Bitmap()->ColourTable());
    bytes.aSectionColours.assign(pTable, pTable + kColourTableSize * sizeof(SRGBQuad));
    bytes.bWorld = map.m_bWorld, bytes.nWestCm = map.m_nWestCm, bytes.nSouthCm = map.m_nSouthCm;
    bytes.dWest = map.GetWest(), bytes.dNorth = map.GetNorth(), bytes.dEast = map.GetEast(), bytes.dSouth = map.GetSouth();
    if (map.CoordinateSystem())
        bytes.strSystem = map.CoordinateSystem()->strDefinition + "|" + map.CoordinateSystem()->strWkt;
    const SNoDataValue& noData = map.Bitmap()->m_noData;
    bytes.bNoData = noData.bSet, bytes.nNoDataIndex = noData.nIndex, bytes.nNoDataRed = noData.nRed;
    return bytes;
}

// The undo files in a folder: those with a name, and those Linux keeps without one
// (O_TMPFILE, which Qt uses when it can) that only the process's open files show.
int SpillFiles(const QString& strFolder)
{
    int nFiles = int(QDir(strFolder).entryList({QStringLiteral("gridmorph-undo-*")}, QDir::Files).size());
    const QString strCanonical = QDir(strFolder).canonicalPath() + QLatin1Char('/');
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files)) {
        const QString strTarget = fd.symLinkTarget();
        if (strTarget.startsWith(strCanonical) && !strTarget.contains(QStringLiteral("gridmorph-undo-")))
            ++nFiles;
    }
    return nFiles;
}

// Steps of one picture each (100 x 10, 24 bits: 3000 bytes) pushed onto the list alone.
TEST(ViewUndoBudget, OldestPicturesAreSpilledThenDropped)
{
    constexpr std::size_t kPicture = 3000;
    test::CTempFolder folder;
    const QString strSpill = QString::fromStdString(folder.Path("spill"));
    QDir().mkpath(strSpill);
    struct SCase {
        const char* pName;
        std::size_t nBudget;
        std::optional<std::size_t> nSpillBudget;  // none: four times the budget
        bool bWritableFolder;
        int nSteps;
        std::size_t nInMemory, nSpilled, nDropped;  // pictures, pictures, steps
    } const aCases[] = {
        {"all fit", 3 * kPicture, std::nullopt, true, 3, 3, 0, 0},
        {"two over", 3 * kPicture, std::nullopt, true, 5, 3, 2, 0},
        {"newest alone in memory", kPicture, std::nullopt, true, 5, 1, 4, 0},
        {"budget below one picture", 10, 100 * kPicture, true, 4, 1, 3, 0},
        {"spill budget full", kPicture, 2 * kPicture, true, 5, 1, 2, 2},
        {"four times the budget", 2 * kPicture, std::nullopt, true, 12, 2, 8, 2},
        {"no spilling", kPicture, 0, true, 5, 1, 0, 4},
        {"unwritable folder", kPicture, std::nullopt, false, 5, 1, 0, 4},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        {
            CViewUndo undo;
            undo.SetBudget(aCase.nBudget);
            undo.SetSpillBudget(aCase.nSpillBudget);
            undo.SetSpillFolder(aCase.bWritableFolder ? strSpill : strSpill + QStringLiteral("/missing"));
            std::size_t nDropped = 0;
            for (int i = 0; i < aCase.nSteps; ++i) {
                auto pStep = std::make_unique<SViewUndoStep>();
                pStep->bSourcePicture = true;
                pStep->pSource = std::make_unique<CDIBWorld>();
                test::MakePatternPicture(*pStep->pSource, 24, 100, 10);
                nDropped += std::size_t(undo.Push(std::move(pStep)));
            }
            EXPECT_EQ(undo.Bytes(), aCase.nInMemory * kPicture);
            EXPECT_EQ(std::size_t(undo.SpilledPictures()), aCase.nSpilled);
            EXPECT_EQ(undo.SpilledBytes(), aCase.nSpilled * kPicture);
            EXPECT_EQ(nDropped, aCase.nDropped);
            EXPECT_EQ(undo.UndoCount(), std::size_t(aCase.nSteps) - aCase.nDropped);
            EXPECT_EQ(SpillFiles(strSpill), int(aCase.nSpilled));
            if (!aCase.bWritableFolder) {
                EXPECT_FALSE(undo.Problem().isEmpty());
            }
            // Every step left comes back whole, the newest first.
            while (undo.CanUndo()) {
                std::unique_ptr<SViewUndoStep> pStep = undo.TakeUndo();
                ASSERT_TRUE(pStep);
                CDIBWorld expected;
                test::MakePatternPicture(expected, 24, 100, 10);
                EXPECT_TRUE(test::SamePicture(expected, *pStep->pSource));
            }
            EXPECT_EQ(SpillFiles(strSpill), 0);
            // Spilled again and taken by the list's end.
            for (int i = 0; i < 3; ++i) {
                auto pStep = std::make_unique<SViewUndoStep>();
                pStep->bSourcePicture = true;
                pStep->pSource = std::make_unique<CDIBWorld>();
                test::MakePatternPicture(*pStep->pSource, 24, 100, 10);
                undo.Push(std::move(pStep));
            }
        }
        EXPECT_EQ(SpillFiles(strSpill), 0);
    }
}

TEST_F(UndoViewTest, SpilledPicturesComeBackByteForByteOnUndoAndRedo)
{
    SetUpMap();
    const QString strSpill = QString::fromStdString(m_folder.Path("spill"));
    QDir().mkpath(strSpill);
    CViewUndo& undo = View().UndoList();
    undo.SetSpillFolder(strSpill);
    undo.SetBudget(1);  // every picture but the newest step's goes to a file
    undo.SetSpillBudget(std::size_t(1) << 30);
    // The map carries everything a picture can: a system, no-data, a placement.
    CDIBWorld& scan = *Document().GetImage();
    scan.SetCoordinateSystem(SCoordinateSystem{"EPSG:27700", "PROJCRS[\"test\"]", {}});
    scan.MutableBitmap()->m_noData = SNoDataValue{true, true, -1, 10, 20, 30};
    std::vector<SPictureBytes> aStates{BytesOf(scan)};
    Frame().UpdateCommandUI();
    Frame().Action(ID_ACTION_CONVERT_TO_8)->trigger();
    Document().GetImage()->MutableBitmap()->m_noData = SNoDataValue{true, true, 7, 0, 0, 0};
    aStates.push_back(BytesOf(*Document().GetImage()));
    for (const SRectEdges& rect : {SRectEdges{10, 20, 209, 119}, SRectEdges{5, 5, 104, 54}}) {
        DragCropRectangle(QPoint(rect.nLeft, rect.nTop), QPoint(rect.nRight, rect.nBottom));
        ASSERT_EQ(CropCornersShown(), rect);
        Frame().UpdateCommandUI();
        Frame().Action(ID_ACTION_CROP)->trigger();
        aStates.push_back(BytesOf(*Document().GetImage()));
    }
    ASSERT_EQ(undo.UndoCount(), 3u);
    EXPECT_EQ(undo.SpilledPictures(), 2);
    EXPECT_EQ(SpillFiles(strSpill), 2);
    EXPECT_NE(aStates[0], aStates[1]);
    for (int i = 2; i >= 0; --i) {
        View().OnEditUndo();
        EXPECT_TRUE(BytesOf(*Document().GetImage()) == aStates[std::size_t(i)]) << "undo to state " << i;
    }
    EXPECT_GE(undo.SpilledPictures(), 1);  // the redo list's own pictures went to files
    for (std::size_t i = 1; i < aStates.size(); ++i) {
        View().OnEditRedo();
        EXPECT_TRUE(BytesOf(*Document().GetImage()) == aStates[i]) << "redo to state " << i;
    }
    EXPECT_EQ(undo.UndoCount(), 3u);
    // The files go with the document.
    Document().SetModifiedFlag(false);
    Document().SetTransformedModified(false);
    Frame().Action(ID_FILE_CLOSE)->trigger();
    EXPECT_EQ(SpillFiles(strSpill), 0);
}

TEST_F(UndoViewTest, AnUnwritableTemporaryFolderDropsTheOldestStepInstead)
{
    SetUpMap();
    // The system's temporary folder is one that is not there.
    const std::optional<QByteArray> strTmpDir =
        qEnvironmentVariableIsSet("TMPDIR") ? std::optional(qgetenv("TMPDIR")) : std::nullopt;
    qputenv("TMPDIR", QByteArray::fromStdString(m_folder.Path("not-there")));
    View().UndoList().SetBudget(200 * 900 + 1000);  // one 300 x 200 picture
    for (const SRectEdges& rect : {SRectEdges{0, 0, 279, 189}, SRectEdges{0, 0, 259, 179}, SRectEdges{0, 0, 99, 99}}) {
        DragCropRectangle(QPoint(rect.nLeft, rect.nTop), QPoint(rect.nRight, rect.nBottom));
        ASSERT_EQ(CropCornersShown(), rect);
        Frame().UpdateCommandUI();
        Frame().Action(ID_ACTION_CROP)->trigger();
    }
    if (strTmpDir)
        qputenv("TMPDIR", *strTmpDir);
    else
        qunsetenv("TMPDIR");
    EXPECT_EQ(View().UndoList().SpilledPictures(), 0);
    EXPECT_EQ(View().UndoList().UndoCount(), 1u);
    EXPECT_TRUE(Frame().Pane(0)->text().contains(QStringLiteral("oldest undo steps were dropped")));
    View().OnEditUndo();
    EXPECT_EQ(Document().GetImage()->m_nImageWidth, 260);
    EXPECT_FALSE(View().CanUndo());
}

TEST_F(UndoViewTest, TheUndoMemoryIsASettingInMegabytes)
{
    ASSERT_TRUE(Start());
    EXPECT_EQ(View().UndoList().Budget(), std::size_t(1024) << 20);
    WhenModal<QInputDialog>([](QInputDialog& dialog) {
        EXPECT_EQ(dialog.intValue(), 1024);
        dialog.setIntValue(96);
        dialog.accept();
    });
    Frame().UpdateCommandUI();
    Frame().Action(ID_EDIT_UNDO_MEMORY)->trigger();
    EXPECT_EQ(View().UndoList().Budget(), std::size_t(96) << 20);
    EXPECT_EQ(View().UndoList().SpillBudget(), std::size_t(4 * 96) << 20);
    // Remembered for the next start.
    m_pApp.reset();
    ASSERT_TRUE(Start());
    EXPECT_EQ(View().UndoList().Budget(), std::size_t(96) << 20);
}

}  // namespace
}  // namespace gridmorph
