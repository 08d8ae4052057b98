#include "app/OrvexFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "app/AppIcons.h"
#include "app/CommandIds.h"
#include "app/OrvexApp.h"
#include "app/OrvexR4Doc.h"
#include "app/RecentFileList.h"
#include "app/StatusPane.h"
#include "app/WindowPlacement.h"
#include "world/CoordinateSystem.h"
#include "help/HelpController.h"
#include "platform/Platform.h"
#include "view/GridInView.h"
#include "view/OrvexView.h"
#include "view/ZoomIcons.h"
#include "view/StatusPaneRefresh.h"

namespace gridmorph {
namespace {

constexpr const char* kIdleText = "For Help, press F1";
constexpr const char* kDockStateSection = "DockState";
constexpr const char* kDockStateEntry = "State";

// The status-bar prompt and, after the line break, the tooltip.
void SetPrompt(QAction* pAction, const QString& strPrompt)
{
    const qsizetype nBreak = strPrompt.indexOf(QLatin1Char('\n'));
    pAction->setStatusTip(nBreak < 0 ? strPrompt : strPrompt.left(nBreak));
    if (nBreak >= 0)
        pAction->setToolTip(strPrompt.mid(nBreak + 1));
}

}  // namespace

COrvexFrame::COrvexFrame(COrvexApp& app, COrvexR4Doc& document) : m_app(app), m_document(document)
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(ProgramIcon());
    m_pView = new COrvexView(this);
    setCentralWidget(m_pView);
    m_pView->setFocus();  // the locator keys (1, 2, 3, arrows) work from the start
    m_pView->SetDocument(&m_document.Document());

    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateJobCommands();
    CreateSeriesCommand();

    // The toolbar's docking as the user left it.
    const std::string strState = GetPlatform().GetProfileString(kDockStateSection, kDockStateEntry, "");
    if (!strState.empty())
        restoreState(QByteArray::fromBase64(QByteArray::fromStdString(strState)));

    connect(&m_document, &COrvexR4Doc::TitleChanged, this, [this] {
        UpdateTitle();
        UpdateCommandUI();
    });
    connect(&m_document, &COrvexR4Doc::ViewsChanged, this, [this] {
        m_pView->OnUpdate();
        UpdateCommandUI();
    });
    connect(&m_document, &COrvexR4Doc::LocatorsReset, m_pView, &COrvexView::ResetLocators);
    connect(&m_document, &COrvexR4Doc::MapAboutToChange, m_pView, &COrvexView::OnMapChanging);
    connect(m_pView, &COrvexView::CommandStateChanged, this, &COrvexFrame::UpdateCommandUI);
    m_pView->m_fnStatusText = [this](int nPane, const QString& strText) {
        if (QLabel* pPane = Pane(nPane)) {
            pPane->setText(strText);
            pPane->repaint();
        }
    };
    RefreshStatusPanesOnActivation(*m_pView, *this);
    connect(&m_app, &COrvexApp::RecentFilesChanged, this, &COrvexFrame::RebuildRecentFiles);
    RebuildRecentFiles();
    UpdateTitle();
    UpdateCommandUI();
}

COrvexFrame::~COrvexFrame() = default;

QAction* COrvexFrame::Action(int nCommand) const
{
    const auto it = m_aActions.find(nCommand);
    return it == m_aActions.end() ? nullptr : it->second;
}

QLabel* COrvexFrame::Pane(int nPane) const { return nPane >= 0 && nPane < 3 ? m_apPanes[nPane] : nullptr; }

QAction* COrvexFrame::AddCommand(QMenu* pMenu, int nCommand, const QString& strText, const QString& strPrompt,
                                 const QKeySequence& shortcut)
{
    auto* pAction = new QAction(strText, this);
    pAction->setObjectName(QStringLiteral("command%1").arg(nCommand));
    SetPrompt(pAction, strPrompt);
    if (!shortcut.isEmpty())
        pAction->setShortcut(shortcut);
    if (pMenu)
        pMenu->addAction(pAction);
    else
        addAction(pAction);
    m_aActions[nCommand] = pAction;
    return pAction;
}

template <typename FHandler>
void COrvexFrame::OnCommand(int nCommand, FHandler fnHandler)
{
    connect(Action(nCommand), &QAction::triggered, this, [this, fnHandler] {
        fnHandler();
        UpdateCommandUI();
    });
}

void COrvexFrame::CreateMenus()
{
    QMenu* pFile = menuBar()->addMenu(QStringLiteral("&File"));
    m_pFileMenu = pFile;
    AddCommand(pFile, ID_FILE_NEW, QStringLiteral("&New..."), QStringLiteral("Build a new background map from several georeferenced images\nNew"),
               QKeySequence(Qt::CTRL | Qt::Key_N));
    AddCommand(pFile, ID_FILE_OPEN, QStringLiteral("&Open..."), QStringLiteral("Open an existing document\nOpen"),
               QKeySequence(Qt::CTRL | Qt::Key_O));
    AddCommand(pFile, ID_FILE_CLOSE, QStringLiteral("&Close"), QStringLiteral("Close the active document\nClose"));
    AddCommand(pFile, ID_FILE_SAVE, QStringLiteral("&Save"), QStringLiteral("Save the active document\nSave"),
               QKeySequence(Qt::CTRL | Qt::Key_S));
    AddCommand(pFile, ID_FILE_SAVE_AS, QStringLiteral("Save &As..."),
               QStringLiteral("Save the active document with a new name\nSave As"));
    pFile->addSeparator();
    AddCommand(pFile, ID_FILE_SAVE_TRANSFORMED_AS, QStringLiteral("Save &Transformed Map As..."),
               QStringLiteral("Save the transformed map with a new name\nSave Transformed Map  As"));
    pFile->addSeparator();
    AddCommand(pFile, ID_FILE_CREATE_WORLD_FILE, QStringLiteral("Create World File..."),
               QStringLiteral("Create World File\nCreate World File"));
    AddCommand(pFile, ID_FILE_COORDINATE_SYSTEM, QStringLiteral("Coordinate S&ystem..."),
               QStringLiteral("Choose the coordinate system of the map's eastings and northings\nCoordinate System"));
    pFile->addSeparator();
    m_pRecentSeparator = pFile->addSeparator();
    AddCommand(pFile, ID_APP_EXIT, QStringLiteral("E&xit"),
               QStringLiteral("Quit the application; prompts to save documents\nExit"));

    QMenu* pEditMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    AddCommand(pEditMenu, ID_EDIT_UNDO, QStringLiteral("&Undo"), QStringLiteral("Undo the last action\nUndo"),
               QKeySequence(Qt::CTRL | Qt::Key_Z));
    AddCommand(pEditMenu, ID_EDIT_REDO, QStringLiteral("&Redo"), QStringLiteral("Redo the previously undone action\nRedo"),
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    QMenu* pViewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    AddCommand(pViewMenu, ID_VIEW_LOCATORS, QStringLiteral("&Locators"),
               QStringLiteral("Show or hide the three locators; move one onto a grid corner with Shift-drag, or select it "
                              "with 1/2/3 and use "
                              "the arrow keys\nToggle the locators"));
    AddCommand(pViewMenu, ID_VIEW_SHOW_TRANSFORMED, QStringLiteral("&Show Transformed Map"),
               QStringLiteral("Show or hide the transformed map\nToggle maps"));
    AddCommand(pViewMenu, ID_VIEW_MAP_EDGES, QStringLiteral("&Map Edge Locations..."),
               QStringLiteral("Show map locations at the edge of the bitmap\nMap edge locations"));
    AddCommand(pViewMenu, ID_VIEW_SNAP_TO_GRID, QStringLiteral("Sna&p to Grid"),
               QStringLiteral("Put a released locator on the grid crossing near it\nSnap to grid"));
    pViewMenu->addSeparator();
    AddCommand(pViewMenu, ID_VIEW_ZOOM_IN, QStringLiteral("Zoom &In"), QStringLiteral("Show the map larger\nZoom In"),
               QKeySequence(Qt::CTRL | Qt::Key_Plus))
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    AddCommand(pViewMenu, ID_VIEW_ZOOM_OUT, QStringLiteral("Zoom &Out"), QStringLiteral("Show the map smaller\nZoom Out"),
               QKeySequence(Qt::CTRL | Qt::Key_Minus));
    AddCommand(pViewMenu, ID_VIEW_ACTUAL_SIZE, QStringLiteral("&Actual Size (100%)"),
               QStringLiteral("One screen pixel for each map pixel\nActual Size"), QKeySequence(Qt::CTRL | Qt::Key_1));
    AddCommand(pViewMenu, ID_VIEW_FIT_WHOLE_MAP, QStringLiteral("&Fit Whole Map"),
               QStringLiteral("Show the whole map in the window\nFit Whole Map"), QKeySequence(Qt::CTRL | Qt::Key_0));
    AddCommand(pViewMenu, ID_VIEW_OPEN_MAPS_TO_FIT, QStringLiteral("Op&en Maps to Fit"),
               QStringLiteral("Start maps larger than the window at Fit Whole Map\nOpen Maps to Fit"));
    AddCommand(pViewMenu, ID_VIEW_MAGNIFIER, QStringLiteral("Ma&gnifier"),
               QStringLiteral("Show the pixels under the pointer eight times larger (or hold M)\nMagnifier"));
    AddCommand(pViewMenu, ID_VIEW_CROSSHAIR, QStringLiteral("&Crosshair"),
               QStringLiteral("Draw lines across the view through the pointer\nCrosshair"));
    pViewMenu->addSeparator();
    AddCommand(pViewMenu, ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"), QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    AddCommand(pViewMenu, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
               QStringLiteral("Show or hide the status bar\nToggle StatusBar"));

    QMenu* pActionMenu = menuBar()->addMenu(QStringLiteral("&Action"));
    AddCommand(pActionMenu, ID_ACTION_SETUP_TRANSFORM, QStringLiteral("&Setup Transform..."),
               QStringLiteral("Check the locators' pixel positions and type their eastings and northings\nSetup transform"));
    AddCommand(pActionMenu, ID_ACTION_APPLY_TRANSFORM, QStringLiteral("&Apply Transform..."),
               QStringLiteral("Make the north-up transformed map from the three locators\nTransform"));
    AddCommand(pActionMenu, ID_ACTION_MOVE_LOCATORS, QStringLiteral("Move Locators to Corners"),
               QStringLiteral("Put locators 1, 2 and 3 on the top-left, top-right and bottom-right pixels of the map; "
                              "then Shift-drag, or select with 1/2/3 and use the arrow "
                              "keys\nMove locators to corners"));
    AddCommand(pActionMenu, ID_ACTION_FIND_GRID, QStringLiteral("&Find Grid"),
               QStringLiteral("Find the map grid and put the locators on its corners\nFind Grid"),
               QKeySequence(Qt::CTRL | Qt::Key_G));
    pActionMenu->addSeparator();
    AddCommand(pActionMenu, ID_ACTION_EDIT_MAP_LOCATION, QStringLiteral("&Edit Map Location..."),
               QStringLiteral("Edit Map Location\nEdit Location"));
    AddCommand(pActionMenu, ID_ACTION_SETUP_FROM_WORLD_FILE, QStringLiteral("Setup from World File..."),
               QStringLiteral("Setup from World File\nSetup from World File"));
    pActionMenu->addSeparator();
    AddCommand(pActionMenu, ID_ACTION_CROP, QStringLiteral("&Crop"), QStringLiteral("Crop selected region\nCrop"));
    AddCommand(pActionMenu, ID_ACTION_CONVERT_TO_24, QStringLiteral("Convert to 24 bit, Full Colour"),
               QStringLiteral("Convert 8 bit colour to 24 bit colour\nConvert 8 bit to 24"));
    AddCommand(pActionMenu, ID_ACTION_CONVERT_TO_8, QStringLiteral("Convert to 8 bit, 256 Colours"),
               QStringLiteral("Convert 24 bit colour to 8 bit colour\nConvert 24 bit to 8"));
    AddCommand(pActionMenu, ID_ACTION_GREY_SCALE, QStringLiteral("Convert to Grey Scale"),
               QStringLiteral("Convert to Grey Scale\nGrey Scale"));

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    AddCommand(pHelp, ID_HELP_FINDER, QStringLiteral("&Help Topics"), QStringLiteral("List Help topics\nHelp Topics"));
    pHelp->addSeparator();
    AddCommand(pHelp, ID_APP_ABOUT, QStringLiteral("&About Gridmorph..."),
               QStringLiteral("Display program information, version number and copyright\nAbout"));

    // Keys without a menu item: help on the current context and context help.
    AddCommand(nullptr, ID_HELP, QStringLiteral("Help"), QStringLiteral("Display help for current task or command\nHelp"),
               QKeySequence(Qt::Key_F1));
    AddCommand(nullptr, ID_CONTEXT_HELP, QStringLiteral("Context Help"),
               QStringLiteral("Display help for clicked buttons, menus and windows\nHelp"),
               QKeySequence(Qt::SHIFT | Qt::Key_F1));

    CMapDocument& document = m_document.Document();
    OnCommand(ID_FILE_NEW, [&document] { document.OnNewDocument(); });
    OnCommand(ID_FILE_OPEN, [this] { m_app.OnFileOpen(); });
    OnCommand(ID_FILE_CLOSE, [&document] { document.OnFileClose(); });
    OnCommand(ID_FILE_SAVE, [&document] { document.OnFileSave(); });
    OnCommand(ID_FILE_SAVE_AS, [&document] { document.OnFileSaveAs(); });
    OnCommand(ID_FILE_SAVE_TRANSFORMED_AS, [&document] { document.OnFileSaveTransformedAs(); });
    OnCommand(ID_FILE_CREATE_WORLD_FILE, [&document] { document.OnFileCreateWorldFile(); });
    OnCommand(ID_FILE_COORDINATE_SYSTEM, [&document] { document.OnFileCoordinateSystem(); });
    OnCommand(ID_APP_EXIT, [this] { close(); });
    OnCommand(ID_HELP_FINDER, [this] { HtmlHelp(0, 0); });
    OnCommand(ID_HELP, [this] { HtmlHelp(HelpContextNow(), 0x0F); });
    OnCommand(ID_CONTEXT_HELP, [this] { OnContextHelp(); });
    OnCommand(ID_APP_ABOUT, [this] { m_app.OnAppAbout(); });

    COrvexView* pView = m_pView;
    Action(ID_VIEW_LOCATORS)->setCheckable(true);
    Action(ID_VIEW_SHOW_TRANSFORMED)->setCheckable(true);
    OnCommand(ID_VIEW_LOCATORS, [pView] { pView->OnViewLocators(); });
    OnCommand(ID_VIEW_SHOW_TRANSFORMED, [pView] { pView->OnViewShowTransformedMap(); });
    OnCommand(ID_VIEW_MAP_EDGES, [pView] { pView->OnViewMapEdgeLocations(); });
    OnCommand(ID_ACTION_SETUP_TRANSFORM, [pView] { pView->OnActionSetupTransform(); });
    OnCommand(ID_ACTION_APPLY_TRANSFORM, [pView] { pView->OnActionApplyTransform(); });
    OnCommand(ID_ACTION_MOVE_LOCATORS, [pView] { pView->OnActionMoveLocatorsToCorners(); });
    OnCommand(ID_ACTION_FIND_GRID, [pView] { FindGridInView(*pView); });
    Action(ID_VIEW_SNAP_TO_GRID)->setCheckable(true);
    OnCommand(ID_VIEW_SNAP_TO_GRID, [] { SnapToGridEnabled() = !SnapToGridEnabled(); });
    OnCommand(ID_ACTION_EDIT_MAP_LOCATION, [pView] { pView->OnActionEditMapLocation(); });
    OnCommand(ID_ACTION_SETUP_FROM_WORLD_FILE, [pView] { pView->OnActionSetupFromWorldFile(); });
    OnCommand(ID_ACTION_CROP, [pView] { pView->OnActionCrop(); });
    OnCommand(ID_ACTION_CONVERT_TO_24, [pView] { pView->OnActionConvertTo24Bit(); });
    OnCommand(ID_ACTION_CONVERT_TO_8, [pView] { pView->OnActionConvertTo8Bit(); });
    OnCommand(ID_ACTION_GREY_SCALE, [pView] { pView->OnActionConvertToGreyScale(); });
    for (int nCommand : {ID_VIEW_OPEN_MAPS_TO_FIT, ID_VIEW_MAGNIFIER, ID_VIEW_CROSSHAIR})
        Action(nCommand)->setCheckable(true);
    OnCommand(ID_EDIT_UNDO, [pView] { pView->OnEditUndo(); });
    OnCommand(ID_EDIT_REDO, [pView] { pView->OnEditRedo(); });
    OnCommand(ID_VIEW_ZOOM_IN, [pView] { pView->OnViewZoomIn(); });
    OnCommand(ID_VIEW_ZOOM_OUT, [pView] { pView->OnViewZoomOut(); });
    OnCommand(ID_VIEW_ACTUAL_SIZE, [pView] { pView->OnViewActualSize(); });
    OnCommand(ID_VIEW_FIT_WHOLE_MAP, [pView] { pView->OnViewFitWholeMap(); });
    OnCommand(ID_VIEW_OPEN_MAPS_TO_FIT, [pView] { pView->OnViewOpenMapsToFit(); });
    OnCommand(ID_VIEW_MAGNIFIER, [pView] { pView->OnViewMagnifier(); });
    OnCommand(ID_VIEW_CROSSHAIR, [pView] { pView->OnViewCrosshair(); });

    for (QMenu* pMenu : {pFile, pEditMenu, pViewMenu, pActionMenu, pHelp})
        connect(pMenu, &QMenu::aboutToShow, this, &COrvexFrame::UpdateCommandUI);
}

void COrvexFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Standard"));
    m_pToolBar->setObjectName(QStringLiteral("toolBar"));
    m_pToolBar->setIconSize(QSize(16, 16));
    Action(ID_FILE_NEW)->setIcon(ToolbarIcon(EToolbarIcon::New));
    Action(ID_FILE_OPEN)->setIcon(ToolbarIcon(EToolbarIcon::Open));
    Action(ID_FILE_SAVE)->setIcon(ToolbarIcon(EToolbarIcon::Save));
    Action(ID_HELP_FINDER)->setIcon(ToolbarIcon(EToolbarIcon::Help));
    m_pToolBar->addAction(Action(ID_FILE_NEW));
    m_pToolBar->addAction(Action(ID_FILE_OPEN));
    m_pToolBar->addAction(Action(ID_FILE_SAVE));
    m_pToolBar->addSeparator();
    Action(ID_VIEW_ZOOM_IN)->setIcon(ZoomIcon(EZoomIcon::ZoomIn));
    Action(ID_VIEW_ZOOM_OUT)->setIcon(ZoomIcon(EZoomIcon::ZoomOut));
    Action(ID_VIEW_ACTUAL_SIZE)->setIcon(ZoomIcon(EZoomIcon::ActualSize));
    Action(ID_VIEW_FIT_WHOLE_MAP)->setIcon(ZoomIcon(EZoomIcon::FitWholeMap));
    for (int nCommand : {ID_VIEW_ZOOM_IN, ID_VIEW_ZOOM_OUT, ID_VIEW_ACTUAL_SIZE, ID_VIEW_FIT_WHOLE_MAP})
        m_pToolBar->addAction(Action(nCommand));
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(Action(ID_HELP_FINDER));

    QAction* pToggle = Action(ID_VIEW_TOOLBAR);
    pToggle->setCheckable(true);
    connect(pToggle, &QAction::triggered, m_pToolBar, &QToolBar::setVisible);
    connect(m_pToolBar, &QToolBar::visibilityChanged, pToggle, &QAction::setChecked);
}

void COrvexFrame::CreateStatusBar()
{
    QStatusBar* pStatus = statusBar();
    pStatus->setObjectName(QStringLiteral("statusBar"));
    // Pane 0 stretches and shows the prompts; Qt shows a command's prompt over it while
    // the pointer rests on the command, and the idle text again afterwards.
    m_apPanes[0] = new QLabel(QString::fromLatin1(kIdleText), pStatus);
    pStatus->addWidget(m_apPanes[0], 1);
    // Panes 1 and 2 as wide as their widest texts in the desktop's font: a large picture's
    // extent, a position beside the picture.
    const QString aWidest[3] = {QString(), QStringLiteral("(0,0)->(99999,99999)"), QStringLiteral("-99999, -99999")};
    for (int i = 1; i < 3; ++i) {
        m_apPanes[i] = new CStatusPane(aWidest[i], pStatus);
        pStatus->addPermanentWidget(m_apPanes[i]);
    }
    m_pSystemPane = new QLabel(pStatus);
    m_pSystemPane->setObjectName(QStringLiteral("coordinateSystemPane"));
    m_pSystemPane->setFrameShape(QFrame::Panel);
    m_pSystemPane->setFrameShadow(QFrame::Sunken);
    m_pSystemPane->hide();
    pStatus->addPermanentWidget(m_pSystemPane);
    // The easting and northing under the pointer, beside the pixel position.
    pStatus->addPermanentWidget(m_pView->MapPositionLabel());
    m_pView->MapPositionLabel()->show();
    QAction* pToggle = Action(ID_VIEW_STATUS_BAR);
    pToggle->setCheckable(true);
    pToggle->setChecked(true);
    connect(pToggle, &QAction::triggered, pStatus, &QStatusBar::setVisible);
}

void COrvexFrame::RebuildRecentFiles()
{
    for (QAction* pAction : m_aRecentActions) {
        m_pFileMenu->removeAction(pAction);
        m_aActions.erase(pAction->objectName().mid(7).toInt());
        delete pAction;
    }
    m_aRecentActions.clear();
    const auto& aPaths = m_app.RecentFiles().Paths();
    const QFontMetrics metrics(font());
    for (std::size_t i = 0; i < aPaths.size(); ++i) {
        const QString strPath = QString::fromStdString(aPaths[i]);
        const QString strShown = metrics.elidedText(strPath, Qt::ElideMiddle, 60 * metrics.averageCharWidth());
        // "&&" keeps an ampersand in a file name from becoming a mnemonic.
        auto* pAction = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QString(strShown).replace(QLatin1Char('&'), QStringLiteral("&&"))), this);
        const int nCommand = ID_FILE_MRU_FILE1 + static_cast<int>(i);
        pAction->setObjectName(QStringLiteral("command%1").arg(nCommand));
        pAction->setStatusTip(QStringLiteral("Open this document"));
        pAction->setToolTip(strPath);
        connect(pAction, &QAction::triggered, this, [this, i] {
            m_app.OpenRecentFile(static_cast<int>(i));
            UpdateCommandUI();
        });
        m_pFileMenu->insertAction(m_pRecentSeparator, pAction);
        m_aActions[nCommand] = pAction;
        m_aRecentActions << pAction;
    }
    if (aPaths.empty()) {
        auto* pEmpty = new QAction(QStringLiteral("Recent File"), this);
        pEmpty->setObjectName(QStringLiteral("command%1").arg(int(ID_FILE_MRU_FILE1)));
        pEmpty->setEnabled(false);
        m_pFileMenu->insertAction(m_pRecentSeparator, pEmpty);
        m_aRecentActions << pEmpty;
    }
}

void COrvexFrame::UpdateTitle()
{
    const QString strTitle = m_document.Title();
    setWindowTitle(QStringLiteral("Gridmorph - ") + (strTitle.isEmpty() ? QStringLiteral("Untitled") : strTitle));
}

void COrvexFrame::UpdateCommandUI()
{
    const CMapDocument& document = m_document.Document();
    const std::pair<int, bool> aRules[] = {
        {ID_FILE_CLOSE, document.CanClose()},
        {ID_FILE_SAVE, document.CanSave()},
        {ID_FILE_SAVE_AS, document.CanSaveAs()},
        {ID_FILE_SAVE_TRANSFORMED_AS, document.CanSaveTransformedAs()},
        {ID_FILE_CREATE_WORLD_FILE, document.CanCreateWorldFile()},
        {ID_FILE_COORDINATE_SYSTEM, document.CanSetCoordinateSystem()},
        {ID_VIEW_LOCATORS, m_pView->CanViewLocators()},
        {ID_VIEW_SHOW_TRANSFORMED, m_pView->CanViewShowTransformedMap()},
        {ID_VIEW_MAP_EDGES, m_pView->CanViewMapEdgeLocations()},
        {ID_ACTION_SETUP_TRANSFORM, m_pView->CanSetupTransform()},
        {ID_ACTION_APPLY_TRANSFORM, m_pView->CanApplyTransform()},
        {ID_ACTION_MOVE_LOCATORS, m_pView->CanMoveLocatorsToCorners()},
        {ID_ACTION_FIND_GRID, m_pView->CanMoveLocatorsToCorners()},
        {ID_VIEW_SNAP_TO_GRID, m_pView->CanViewLocators()},
        {ID_ACTION_EDIT_MAP_LOCATION, m_pView->CanEditMapLocation()},
        {ID_ACTION_SETUP_FROM_WORLD_FILE, m_pView->CanSetupFromWorldFile() && m_pView->m_fnWorldFileDialog != nullptr},
        {ID_ACTION_CROP, m_pView->CanCrop()},
        {ID_ACTION_CONVERT_TO_24, m_pView->CanConvertTo24Bit()},
        {ID_ACTION_CONVERT_TO_8, m_pView->CanConvertTo8Bit()},
        {ID_ACTION_GREY_SCALE, m_pView->CanConvertToGreyScale()},
        {ID_VIEW_ZOOM_IN, m_pView->CanZoom() && m_pView->Zoom() < CViewTransform::kMaxZoom},
        {ID_VIEW_ZOOM_OUT, m_pView->CanZoom()},
        {ID_EDIT_UNDO, m_pView->CanUndo()},
        {ID_EDIT_REDO, m_pView->CanRedo()},
        {ID_VIEW_ACTUAL_SIZE, m_pView->CanZoom()},
        {ID_VIEW_FIT_WHOLE_MAP, m_pView->CanZoom()},
    };
    for (const auto& [nCommand, bEnabled] : aRules)
        Action(nCommand)->setEnabled(bEnabled);
    Action(ID_VIEW_LOCATORS)->setChecked(m_pView->m_bShowLocators);
    Action(ID_VIEW_SHOW_TRANSFORMED)->setChecked(m_pView->m_bShowTransformed);
    // Undo and Redo name what they take back.
    const QString strUndo = m_pView->UndoList().UndoName(), strRedo = m_pView->UndoList().RedoName();
    Action(ID_EDIT_UNDO)->setText(strUndo.isEmpty() ? QStringLiteral("&Undo") : QStringLiteral("&Undo ") + strUndo);
    Action(ID_EDIT_REDO)->setText(strRedo.isEmpty() ? QStringLiteral("&Redo") : QStringLiteral("&Redo ") + strRedo);
    Action(ID_VIEW_OPEN_MAPS_TO_FIT)->setChecked(m_pView->OpensMapsToFit());
    Action(ID_VIEW_MAGNIFIER)->setChecked(m_pView->m_bMagnifier);
    Action(ID_VIEW_CROSSHAIR)->setChecked(m_pView->m_bCrosshair);
    Action(ID_VIEW_SNAP_TO_GRID)->setChecked(SnapToGridEnabled());
    Action(ID_VIEW_TOOLBAR)->setChecked(!m_pToolBar->isHidden());
    Action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    // The system pane: hidden without a map, else the system's short name (or "No system").
    const std::optional<SCoordinateSystem> system = document.GetCoordinateSystem();
    m_pSystemPane->setVisible(document.GetImage() != nullptr);
    m_pSystemPane->setText(system ? QString::fromStdString(ShortNameOf(*system)) : QStringLiteral("No system"));
    m_pSystemPane->setToolTip(system && !system->geoSystem.strName.empty()
                                  ? QString::fromStdString(DescribeGeoSystem(system->geoSystem))
                                  : QString());
    UpdateJobCommandUI();
}

void COrvexFrame::ActivateFrame()
{
    if (!m_bFirstActivation) {
        // Later activations show the window as it is: a maximized window stays so.
        if (isMinimized())
            setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        return;
    }
    m_bFirstActivation = false;
    // Without a stored placement the window takes three quarters of the screen, centred:
    // a map wants room.
    if (const QScreen* pScreen = screen()) {
        const QRect rectAvailable = pScreen->availableGeometry();
        const QSize size = rectAvailable.size() * 3 / 4;
        setGeometry(QRect(rectAvailable.center() - QPoint(size.width() / 2, size.height() / 2), size));
    }
    const Qt::WindowStates eStates = ApplyWindowPlacement(GetPlatform(), *this);
    setWindowState(eStates);
    show();
}

bool COrvexFrame::HtmlHelp(unsigned long nData, unsigned int /*nCommand*/)
{
    // Without the design suite's help file, the manual that comes with the program.
    if (!QFileInfo(m_app.m_strHelpFile).isFile())
        return m_pHelp->ShowManual(nData);
    bool bShown = false;
    {
        CWaitCursor waitCursor;
        const QString strHelpFile = m_app.m_strHelpFile;
        bShown = QFileInfo(strHelpFile).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(strHelpFile));
    }
    if (!bShown)
        ShowWarning("HtmlHelp failed to load.");
    return bShown;
}

void COrvexFrame::closeEvent(QCloseEvent* pEvent)
{
    GetPlatform().WriteProfileString(kDockStateSection, kDockStateEntry, saveState().toBase64().toStdString());
    if (!m_document.Document().SaveModified()) {
        pEvent->ignore();
        UpdateCommandUI();
        return;
    }
    SaveWindowPlacement(GetPlatform(), *this);
    pEvent->accept();
}

void COrvexFrame::dragEnterEvent(QDragEnterEvent* pEvent)
{
    if (pEvent->mimeData()->hasUrls())
        for (const QUrl& url : pEvent->mimeData()->urls())
            if (url.isLocalFile()) {
                pEvent->acceptProposedAction();
                return;
            }
}

void COrvexFrame::dropEvent(QDropEvent* pEvent)
{
    // One map at a time: the first local file dropped is opened.
    for (const QUrl& url : pEvent->mimeData()->urls()) {
        if (url.isLocalFile()) {
            pEvent->acceptProposedAction();
            activateWindow();
            m_app.OpenDocumentFile(url.toLocalFile());
            return;
        }
    }
}

}  // namespace gridmorph
