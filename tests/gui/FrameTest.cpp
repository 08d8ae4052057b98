// The main frame: menus, toolbar and status bar as the user meets them, the enable rules,
// the title, closing with unsaved work, and the stored placement.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "app/CommandIds.h"
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
    ASSERT_EQ(aMenus.size(), 4);
    const std::vector<std::pair<QString, std::vector<QString>>> aExpected = {
        {QStringLiteral("&File"),
         {QStringLiteral("&New...\tCtrl+N"), QStringLiteral("&Open...\tCtrl+O"), QStringLiteral("&Close"),
          QStringLiteral("&Save\tCtrl+S"), QStringLiteral("Save &As..."), QStringLiteral("-"),
          QStringLiteral("Save &Transformed Map As..."), QStringLiteral("-"), QStringLiteral("Create World File..."),
          QStringLiteral("-"), QStringLiteral("Recent File"), QStringLiteral("-"), QStringLiteral("E&xit")}},
        {QStringLiteral("&View"),
         {QStringLiteral("&Locators"), QStringLiteral("&Show Transformed Map"), QStringLiteral("&Map Edge Locations..."),
          QStringLiteral("Snap to &Grid"), QStringLiteral("-"), QStringLiteral("&Toolbar"), QStringLiteral("&Status Bar")}},
        {QStringLiteral("&Action"),
         {QStringLiteral("&Setup Transform..."), QStringLiteral("&Apply Transform..."),
          QStringLiteral("Move Locators to Corners"), QStringLiteral("&Find Grid\tCtrl+G"), QStringLiteral("-"),
          QStringLiteral("&Edit Map Location..."),
          QStringLiteral("Setup from World File..."), QStringLiteral("-"), QStringLiteral("&Crop"),
          QStringLiteral("Convert to 24 bit, Full Colour"), QStringLiteral("Convert to 8 bit, 256 Colours"),
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
        {ID_FILE_NEW, "Create a new document", "New"},
        {ID_FILE_SAVE_TRANSFORMED_AS, "Save the transformed map with a new name", "Save Transformed Map  As"},
        {ID_VIEW_MAP_EDGES, "Show map locations at the edge of the bitmap", "Map edge locations"},
        {ID_ACTION_CONVERT_TO_8, "Convert 24 bit colour to 8 bit colour", "Convert 24 bit to 8"},
        {ID_APP_EXIT, "Quit the application; prompts to save documents", "Exit"},
    };
    for (const auto& prompt : aPrompts) {
        EXPECT_EQ(Frame().Action(prompt.nCommand)->statusTip(), QString::fromLatin1(prompt.pStatus));
        EXPECT_EQ(Frame().Action(prompt.nCommand)->toolTip(), QString::fromLatin1(prompt.pTip));
    }
    EXPECT_EQ(Frame().Action(ID_HELP)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(Frame().Action(ID_CONTEXT_HELP)->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F1));

    // Toolbar: New, Open, Save, a separator, Find Grid, a separator, Help Topics; every
    // button has an icon.
    const QList<QAction*> aButtons = Frame().ToolBar()->actions();
    ASSERT_EQ(aButtons.size(), 7);
    EXPECT_EQ(aButtons[0], Frame().Action(ID_FILE_NEW));
    EXPECT_EQ(aButtons[1], Frame().Action(ID_FILE_OPEN));
    EXPECT_EQ(aButtons[2], Frame().Action(ID_FILE_SAVE));
    EXPECT_TRUE(aButtons[3]->isSeparator());
    EXPECT_EQ(aButtons[4], Frame().Action(ID_ACTION_FIND_GRID));
    EXPECT_TRUE(aButtons[5]->isSeparator());
    EXPECT_EQ(aButtons[6], Frame().Action(ID_HELP_FINDER));
    for (int i : {0, 1, 2, 4, 6})
        EXPECT_FALSE(aButtons[i]->icon().isNull()) << i;

    // Status bar: the idle text, and two panes no wider than 100 pixels.
    EXPECT_EQ(Frame().Pane(0)->text(), QStringLiteral("For Help, press F1"));
    for (int i : {1, 2}) {
        EXPECT_LE(Frame().Pane(i)->width(), 100);
        EXPECT_GT(Frame().Pane(i)->width(), 0);
    }
}

TEST_F(FrameTest, EnableRulesFollowTheDocument)
{
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 6, 4);
    map.SetEdges(0, 30, 50, 0);
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
