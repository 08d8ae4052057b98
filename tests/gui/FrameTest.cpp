// The main frame: menus, toolbar and status bar as the user meets them, the enable rules,
// the title, closing with unsaved work, and the stored placement.
#include <gtest/gtest.h>

#include <QLabel>
#include <map>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "shared/CommandIds.h"
#include "app/WindowPlacement.h"
#include "gui/GuiTestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;

class FrameTest : public CAppTest {};

// A menu as "text<TAB>shortcut" lines, "-" for a separator.
std::vector<QString> MenuLines(const QMenu* pMenu)
{
    std::vector<QString> aLines;
    for (const QAction* pAction : pMenu->actions()) {
        if (pAction->isSeparator())
            aLines.push_back(QStringLiteral("-"));
        else if (pAction->shortcut().isEmpty())
            aLines.push_back(pAction->text());
        else
            aLines.push_back(pAction->text() + QLatin1Char('\t') + pAction->shortcut().toString());
    }
    return aLines;
}

TEST_F(FrameTest, MenusToolbarAndStatusBar)
{
    ASSERT_TRUE(Start());
    const QList<QAction*> aMenus = Frame().menuBar()->actions();
    ASSERT_EQ(aMenus.size(), 5);
    const std::vector<std::pair<QString, std::vector<QString>>> aExpected = {
        {QStringLiteral("&File"),
         {QStringLiteral("&New...\tCtrl+N"), QStringLiteral("&Open...\tCtrl+O"), QStringLiteral("&Close"),
          QStringLiteral("&Save\tCtrl+S"), QStringLiteral("Save &As..."), QStringLiteral("-"),
          QStringLiteral("Save &Transformed Map As...\tCtrl+Shift+T"), QStringLiteral("-"), QStringLiteral("Create World File..."),
          QStringLiteral("Coordinate S&ystem..."),
          QStringLiteral("Rectify Se&ries..."), QStringLiteral("-"), QStringLiteral("Recent File"), QStringLiteral("-"), QStringLiteral("E&xit")}},
        {QStringLiteral("&Edit"),
         {QStringLiteral("&Undo\tCtrl+Z"), QStringLiteral("&Redo\tCtrl+Shift+Z"), QStringLiteral("-"),
          QStringLiteral("Undo &Memory...")}},
        {QStringLiteral("&View"),
         {QStringLiteral("&Locators"), QStringLiteral("&Show Transformed Map\tF9"), QStringLiteral("&Map Edge Locations..."),
          QStringLiteral("Sna&p to Grid"), QStringLiteral("P&redicted Grid"), QStringLiteral("-"), QStringLiteral("Zoom &In\tCtrl++"),
          QStringLiteral("Zoom &Out\tCtrl+-"), QStringLiteral("&Actual Size (100%)\tCtrl+1"),
          QStringLiteral("&Fit Whole Map\tCtrl+0"), QStringLiteral("Op&en Maps to Fit"), QStringLiteral("Ma&gnifier"),
          QStringLiteral("&Crosshair"), QStringLiteral("-"), QStringLiteral("&Toolbar"), QStringLiteral("&Status Bar")}},
        {QStringLiteral("&Action"),
         {QStringLiteral("&Setup Transform...\tF7"), QStringLiteral("&Apply Transform...\tF8"),
          QStringLiteral("Move Locators to Corners"), QStringLiteral("&Load Locators..."),
          QStringLiteral("Sa&ve Locators..."), QStringLiteral("&Find Grid\tCtrl+G"), QStringLiteral("-"),
          QStringLiteral("&Edit Map Location..."),
          QStringLiteral("Setup from World File..."), QStringLiteral("-"), QStringLiteral("&Crop"),
          QStringLiteral("Crop to &Grid Rectangle"), QStringLiteral("Convert to 24 bit, Full Colour"), QStringLiteral("Convert to 8 bit, 256 Colours"),
          QStringLiteral("Convert to Grey Scale")}},
        {QStringLiteral("&Help"), {QStringLiteral("&Help Topics"), QStringLiteral("-"), QStringLiteral("&About Gridmorph...")}},
    };
    for (std::size_t i = 0; i < aExpected.size(); ++i) {
        EXPECT_EQ(aMenus[static_cast<qsizetype>(i)]->text(), aExpected[i].first);
        EXPECT_EQ(MenuLines(aMenus[static_cast<qsizetype>(i)]->menu()), aExpected[i].second) << i;
    }

    // Prompts: the status-bar text, and after the line break the tooltip.
    const struct {
        int nCommand;
        const char* pStatus;
        const char* pTip;
    } aPrompts[] = {
        {ID_FILE_NEW, "Build a new background map from several georeferenced images", "New"},
        {ID_ACTION_SETUP_TRANSFORM, "Check the locators' pixel positions and type their eastings and northings",
         "Setup transform"},
        {ID_ACTION_MOVE_LOCATORS,
         "Put locators 1, 2 and 3 on the top-left, top-right and bottom-right pixels of the map; then Shift-drag, or "
         "select with 1/2/3 and use the arrow keys",
         "Move locators to corners"},
        {ID_ACTION_LOAD_LOCATORS, "Read the three locators and their eastings and northings from a .points file",
         "Load locators"},
        {ID_FILE_SAVE_TRANSFORMED_AS, "Save the transformed map with a new name", "Save Transformed Map  As"},
        {ID_FILE_COORDINATE_SYSTEM, "Choose the coordinate system of the map's eastings and northings",
         "Coordinate System"},
        {ID_FILE_RECTIFY_SERIES, "Rectify a series of scans from a table or a folder in one go", "Rectify Series"},
        {ID_VIEW_MAP_EDGES, "Show map locations at the edge of the bitmap", "Map edge locations"},
        {ID_ACTION_CONVERT_TO_8, "Convert 24 bit colour to 8 bit colour", "Convert 24 bit to 8"},
        {ID_ACTION_CROP_TO_GRID,
         "Cut the transformed map to the locators' rectangle, as rectify --clip grid does; not on the scan, where it "
         "is not upright",
         "Crop to grid rectangle"},
        {ID_APP_EXIT, "Quit the application; prompts to save documents", "Exit"},
    };
    for (const auto& prompt : aPrompts) {
        EXPECT_EQ(Frame().Action(prompt.nCommand)->statusTip(), QString::fromLatin1(prompt.pStatus));
        EXPECT_EQ(Frame().Action(prompt.nCommand)->toolTip(), QString::fromLatin1(prompt.pTip));
    }
    EXPECT_EQ(Frame().Action(ID_HELP)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(Frame().Action(ID_CONTEXT_HELP)->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F1));

    // Toolbar: New, Open, Save, a separator, the four zoom commands, a separator, Find Grid
    // and the rectification's steps, a separator, Help Topics; every button has an icon and
    // a tooltip.
    const QList<QAction*> aButtons = Frame().ToolBar()->actions();
    ASSERT_EQ(aButtons.size(), 16);
    EXPECT_EQ(aButtons[0], Frame().Action(ID_FILE_NEW));
    EXPECT_EQ(aButtons[1], Frame().Action(ID_FILE_OPEN));
    EXPECT_EQ(aButtons[2], Frame().Action(ID_FILE_SAVE));
    EXPECT_TRUE(aButtons[3]->isSeparator());
    EXPECT_EQ(aButtons[4], Frame().Action(ID_VIEW_ZOOM_IN));
    EXPECT_EQ(aButtons[5], Frame().Action(ID_VIEW_ZOOM_OUT));
    EXPECT_EQ(aButtons[6], Frame().Action(ID_VIEW_ACTUAL_SIZE));
    EXPECT_EQ(aButtons[7], Frame().Action(ID_VIEW_FIT_WHOLE_MAP));
    EXPECT_TRUE(aButtons[8]->isSeparator());
    EXPECT_EQ(aButtons[9], Frame().Action(ID_ACTION_FIND_GRID));
    EXPECT_EQ(aButtons[10], Frame().Action(ID_ACTION_SETUP_TRANSFORM));
    EXPECT_EQ(aButtons[11], Frame().Action(ID_ACTION_APPLY_TRANSFORM));
    EXPECT_EQ(aButtons[12], Frame().Action(ID_VIEW_SHOW_TRANSFORMED));
    EXPECT_EQ(aButtons[13], Frame().Action(ID_FILE_SAVE_TRANSFORMED_AS));
    EXPECT_TRUE(aButtons[14]->isSeparator());
    EXPECT_EQ(aButtons[15], Frame().Action(ID_HELP_FINDER));
    for (int i : {0, 1, 2, 4, 5, 6, 7, 9, 10, 11, 12, 13, 15}) {
        EXPECT_FALSE(aButtons[i]->icon().isNull()) << i;
        EXPECT_FALSE(aButtons[i]->toolTip().isEmpty()) << i;
    }

    // The steps' keys are unique among the window's shortcuts and none is a standard key
    // of Qt's (which a desktop may give another meaning).
    std::map<QKeySequence, int> aKeyUses;
    for (QAction* pAction : Frame().findChildren<QAction*>())
        for (const QKeySequence& key : pAction->shortcuts())
            ++aKeyUses[key];
    for (int nCommand : {ID_ACTION_SETUP_TRANSFORM, ID_ACTION_APPLY_TRANSFORM, ID_VIEW_SHOW_TRANSFORMED,
                         ID_FILE_SAVE_TRANSFORMED_AS}) {
        const QKeySequence key = Frame().Action(nCommand)->shortcut();
        ASSERT_FALSE(key.isEmpty()) << nCommand;
        EXPECT_EQ(aKeyUses[key], 1) << key.toString().toStdString();
        for (int nStandard = QKeySequence::HelpContents; nStandard <= QKeySequence::Cancel; ++nStandard)
            EXPECT_FALSE(QKeySequence::keyBindings(static_cast<QKeySequence::StandardKey>(nStandard)).contains(key))
                << key.toString().toStdString() << " is standard key " << nStandard;
    }

    // Status bar: the idle text, and two panes as wide as their widest texts in their font
    // (a fixed 100 pixels cut a large map's extent).
    EXPECT_EQ(Frame().Pane(0)->text(), QStringLiteral("For Help, press F1"));
    const QString aWidest[3] = {QString(), QStringLiteral("(0,0)->(99999,99999)"), QStringLiteral("-99999, -99999")};
    for (int i : {1, 2})
        EXPECT_GE(Frame().Pane(i)->sizeHint().width(),
                  Frame().Pane(i)->fontMetrics().horizontalAdvance(aWidest[i]) + 2 * Frame().Pane(i)->frameWidth())
            << i;
}

TEST_F(FrameTest, EnableRulesFollowTheDocument)
{
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 6, 4);
    map.SetEdges({0, 30, 50, 0});
    map.SaveWorld(m_folder.Path("area.bmp"));
    ASSERT_TRUE(Start());
    auto enabled = [this](int nCommand) { return Frame().Action(nCommand)->isEnabled(); };
    EXPECT_FALSE(enabled(ID_FILE_CLOSE));
    EXPECT_FALSE(enabled(ID_FILE_SAVE));
    EXPECT_FALSE(enabled(ID_FILE_SAVE_AS));
    EXPECT_FALSE(enabled(ID_FILE_CREATE_WORLD_FILE));
    EXPECT_TRUE(enabled(ID_FILE_NEW));
    EXPECT_TRUE(enabled(ID_FILE_OPEN));

    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_folder.Path("area.bmp"))));
    EXPECT_TRUE(enabled(ID_FILE_CLOSE));
    EXPECT_FALSE(enabled(ID_FILE_SAVE));
    EXPECT_TRUE(enabled(ID_FILE_SAVE_AS));
    EXPECT_FALSE(enabled(ID_FILE_SAVE_TRANSFORMED_AS));
    EXPECT_TRUE(enabled(ID_FILE_CREATE_WORLD_FILE));
    Document().SetModifiedFlag(true);
    Frame().UpdateCommandUI();
    EXPECT_TRUE(enabled(ID_FILE_SAVE));

    // Close asks about the change; Cancel keeps the map.
    m_platform.AnswerNextQuestion(EAnswer::Cancel);
    Frame().Action(ID_FILE_CLOSE)->trigger();
    EXPECT_NE(Document().GetImage(), nullptr);
    m_platform.AnswerNextQuestion(EAnswer::No);
    Frame().Action(ID_FILE_CLOSE)->trigger();
    EXPECT_EQ(Document().GetImage(), nullptr);
    EXPECT_FALSE(enabled(ID_FILE_CLOSE));
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - Untitled"));
}

TEST_F(FrameTest, ClosingTheWindowAsksAboutUnsavedWork)
{
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 6, 4);
    map.SaveDIB(m_folder.Path("area.bmp"));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_folder.Path("area.bmp"))));
    Document().SetModifiedFlag(true);
    m_platform.AnswerNextQuestion(EAnswer::Cancel);
    EXPECT_FALSE(Frame().close());
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_FALSE(m_platform.Profile().Has("WINDOW SIZE", "Rect"));
    m_platform.AnswerNextQuestion(EAnswer::No);
    EXPECT_TRUE(Frame().close());
    EXPECT_TRUE(m_platform.Profile().Has("WINDOW SIZE", "Rect"));
    EXPECT_TRUE(m_platform.Profile().Has("DockState", "State"));
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Do you wish to save the modified map?",
                                                        "Do you wish to save the modified map?"}));
}

TEST(WindowPlacementText, FixedFieldsAndTheirReading)
{
    EXPECT_EQ(FormatPlacementRect(-8, 20, 632, 500), "-008 0020 0632 0500");
    EXPECT_EQ(FormatPlacementRect(0, 0, 1600, 1000), "0000 0000 1600 1000");
    int l = 0, t = 0, r = 0, b = 0;
    ASSERT_TRUE(ParsePlacementRect("-008 0020 0632 0500", l, t, r, b));
    EXPECT_EQ(l, -8);
    EXPECT_EQ(t, 20);
    EXPECT_EQ(r, 632);
    EXPECT_EQ(b, 500);
    EXPECT_FALSE(ParsePlacementRect("0010 0020 0030", l, t, r, b));
    EXPECT_FALSE(ParsePlacementRect("abcd efgh ijkl mnop", l, t, r, b));

    const struct {
        Qt::WindowStates eStates;
        bool bIcon, bMax;
    } aCases[] = {
        {Qt::WindowNoState, false, false},
        {Qt::WindowMaximized, false, true},
        {Qt::WindowMinimized, true, false},
        {Qt::WindowMinimized | Qt::WindowMaximized, true, true},  // minimized from maximized
    };
    for (const auto& aCase : aCases) {
        bool bIcon = false, bMax = false;
        PlacementFlags(aCase.eStates, bIcon, bMax);
        EXPECT_EQ(bIcon, aCase.bIcon);
        EXPECT_EQ(bMax, aCase.bMax);
        EXPECT_EQ(StatesFromPlacement(bIcon, bMax), aCase.eStates);
    }
}

// Close the window in a state, start again: the same state, and the same rectangle to
// restore to.
TEST_F(FrameTest, PlacementRoundTrips)
{
    const struct {
        const char* pName;
        Qt::WindowStates eStates;
        const char* pIcon;
        const char* pMax;
    } aCases[] = {
        {"normal", Qt::WindowNoState, "0", "0"},
        {"maximized", Qt::WindowMaximized, "0", "1"},
        {"minimized from maximized", Qt::WindowMinimized | Qt::WindowMaximized, "1", "1"},
    };
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        ASSERT_TRUE(Start());
        Frame().setWindowState(Qt::WindowNoState);
        Frame().setGeometry(-8, 40, 700, 500);
        Frame().setWindowState(aCase.eStates);
        ASSERT_TRUE(Frame().close());
        EXPECT_EQ(m_platform.Profile().GetString("WINDOW SIZE", "Rect", ""), "-008 0040 0692 0540");
        EXPECT_EQ(m_platform.Profile().GetString("WINDOW SIZE", "Icon", ""), aCase.pIcon);
        EXPECT_EQ(m_platform.Profile().GetString("WINDOW SIZE", "Max", ""), aCase.pMax);
        m_pApp.reset();

        ASSERT_TRUE(Start());
        EXPECT_EQ(Frame().windowState(), aCase.eStates);
        EXPECT_EQ(Frame().normalGeometry(), QRect(-8, 40, 700, 500));
        // Opening a map later keeps the state the window is in.
        Frame().ActivateFrame();
        EXPECT_EQ(Frame().windowState().testFlag(Qt::WindowMaximized), aCase.eStates.testFlag(Qt::WindowMaximized));
        Frame().setWindowState(Qt::WindowNoState);
        m_pApp.reset();
    }
}

}  // namespace
}  // namespace gridmorph
