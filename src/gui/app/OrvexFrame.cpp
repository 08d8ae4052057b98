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

#include "shared/AppIcons.h"
#include "shared/CommandIds.h"
#include "app/OrvexApp.h"
#include "app/OrvexR4Doc.h"
#include "app/RecentFileList.h"
#include "app/StatusPane.h"
#include "app/WindowPlacement.h"
#include "world/CoordinateSystem.h"
#include "help/HelpController.h"
#include "platform/Platform.h"
#include "view/GridInView.h"
#include "view/LocatorFiles.h"
#include "view/OrvexView.h"
#include "view/ZoomIcons.h"
#include "view/StatusPaneRefresh.h"

namespace gridmorph {
namespace {

constexpr const char* kIdleText = "For Help, press F1";
constexpr const char* kDockStateSection = "DockState";
constexpr const char* kDockStateEntry = "State";
constexpr int kStatusMessageMilliseconds = 15000;

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
    m_pView->SetStatusTextSink([this](int nPane, const QString& strText) {
        if (QLabel* pPane = Pane(nPane)) {
            pPane->setText(strText);
            pPane->repaint();
        }
    });
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

std::vector<COrvexFrame::SFrameCommand> COrvexFrame::CommandTable()
{
    CMapDocument& document = m_document.Document();
    COrvexView* pView = m_pView;
    const auto Key = [](QKeyCombination key) { return QList<QKeySequence>{QKeySequence(key)}; };
    const auto Separator = [](const char* pMenu) { return SFrameCommand{pMenu, kSeparator}; };
    const char* const pFile = "&File";
    const char* const pEdit = "&Edit";
    const char* const pView_ = "&View";
    const char* const pAction = "&Action";
    const char* const pHelp = "&Help";
    // A locator file command's result, for a while in the status bar.
    const auto ShowDone = [this](const QString& strDone) {
        if (!strDone.isEmpty())
            statusBar()->showMessage(strDone, kStatusMessageMilliseconds);
    };
    return {
        {pFile, ID_FILE_NEW, "&New...", "Build a new background map from several georeferenced images\nNew",
         Key(Qt::CTRL | Qt::Key_N), [&document] { document.OnNewDocument(); }},
        {pFile, ID_FILE_OPEN, "&Open...", "Open an existing document\nOpen", Key(Qt::CTRL | Qt::Key_O),
         [this] { m_app.OnFileOpen(); }},
        {pFile, ID_FILE_CLOSE, "&Close", "Close the active document\nClose", {}, [&document] { document.OnFileClose(); },
         [&document] { return document.CanClose(); }},
        {pFile, ID_FILE_SAVE, "&Save", "Save the active document\nSave", Key(Qt::CTRL | Qt::Key_S),
         [&document] { document.OnFileSave(); }, [&document] { return document.CanSave(); }},
        {pFile, ID_FILE_SAVE_AS, "Save &As...", "Save the active document with a new name\nSave As", {},
         [&document] { document.OnFileSaveAs(); }, [&document] { return document.CanSaveAs(); }},
        Separator(pFile),
        // Ctrl+Shift+T: no standard key takes it (Ctrl+Shift+S is Save As on the desktops).
        {pFile, ID_FILE_SAVE_TRANSFORMED_AS, "Save &Transformed Map As...",
         "Save the transformed map with a new name\nSave Transformed Map  As", Key(Qt::CTRL | Qt::SHIFT | Qt::Key_T),
         [&document] { document.OnFileSaveTransformedAs(); }, [&document] { return document.CanSaveTransformedAs(); }},
        Separator(pFile),
        {pFile, ID_FILE_CREATE_WORLD_FILE, "Create World File...", "Create World File\nCreate World File", {},
         [&document] { document.OnFileCreateWorldFile(); }, [&document] { return document.CanCreateWorldFile(); }},
        {pFile, ID_FILE_COORDINATE_SYSTEM, "Coordinate S&ystem...",
         "Choose the coordinate system of the map's eastings and northings\nCoordinate System", {},
         [&document] { document.OnFileCoordinateSystem(); }, [&document] { return document.CanSetCoordinateSystem(); }},
        {pFile, ID_FILE_RECTIFY_SERIES, "Rectify Se&ries...",
         "Rectify a series of scans from a table or a folder in one go\nRectify Series", {},
         [this] { OnFileRectifySeries(); }},
        Separator(pFile),
        SFrameCommand{pFile, kRecentFilesPlace},
        {pFile, ID_APP_EXIT, "E&xit", "Quit the application; prompts to save documents\nExit", {}, [this] { close(); }},

        // Undo and Redo name what they take back.
        {pEdit, ID_EDIT_UNDO, "&Undo", "Undo the last action\nUndo", Key(Qt::CTRL | Qt::Key_Z),
         [pView] { pView->OnEditUndo(); }, [pView] { return pView->CanUndo(); }, {},
         [pView] {
             const QString strName = pView->UndoList().UndoName();
             return strName.isEmpty() ? QStringLiteral("&Undo") : QStringLiteral("&Undo ") + strName;
         }},
        {pEdit, ID_EDIT_REDO, "&Redo", "Redo the previously undone action\nRedo", Key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
         [pView] { pView->OnEditRedo(); }, [pView] { return pView->CanRedo(); }, {},
         [pView] {
             const QString strName = pView->UndoList().RedoName();
             return strName.isEmpty() ? QStringLiteral("&Redo") : QStringLiteral("&Redo ") + strName;
         }},
        Separator(pEdit),
        {pEdit, ID_EDIT_UNDO_MEMORY, "Undo &Memory...",
         "Set the memory undo keeps pictures in; older pictures go to a temporary file\nUndo Memory", {},
         [pView] { pView->OnEditUndoMemory(); }},

        {pView_, ID_VIEW_LOCATORS, "&Locators",
         "Show or hide the three locators; move one onto a grid corner with Shift-drag, or select it with 1/2/3 and "
         "use the arrow keys\nToggle the locators",
         {}, [pView] { pView->OnViewLocators(); }, [pView] { return pView->CanViewLocators(); },
         [pView] { return pView->ShowsLocators(); }},
        // F7, F8 and F9 for the steps: function keys Qt and the desktops leave free (F1 help,
        // F3 find, F5 refresh, F6 panes, F11 full screen).
        {pView_, ID_VIEW_SHOW_TRANSFORMED, "&Show Transformed Map", "Show or hide the transformed map\nToggle maps",
         Key(Qt::Key_F9), [pView] { pView->OnViewShowTransformedMap(); },
         [pView] { return pView->CanViewShowTransformedMap(); }, [pView] { return pView->ShowsTransformed(); }},
        {pView_, ID_VIEW_MAP_EDGES, "&Map Edge Locations...",
         "Show map locations at the edge of the bitmap\nMap edge locations", {},
         [pView] { pView->OnViewMapEdgeLocations(); }, [pView] { return pView->CanViewMapEdgeLocations(); }},
        {pView_, ID_VIEW_SNAP_TO_GRID, "Sna&p to Grid", "Put a released locator on the grid crossing near it\nSnap to grid",
         {}, [] { SnapToGridEnabled() = !SnapToGridEnabled(); }, [pView] { return pView->CanViewLocators(); },
         [] { return SnapToGridEnabled(); }},
        {pView_, ID_VIEW_PREDICTED_GRID, "P&redicted Grid",
         "Draw the grid lines the three locators and their eastings and northings predict\nPredicted grid", {},
         [pView] { pView->OnViewPredictedGrid(); }, [pView] { return pView->CanViewPredictedGrid(); },
         [pView] { return pView->PredictedGridOn(); }},
        Separator(pView_),
        {pView_, ID_VIEW_ZOOM_IN, "Zoom &In", "Show the map larger\nZoom In",
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
         [pView] { pView->OnViewZoomIn(); },
         [pView] { return pView->CanZoom() && pView->Zoom() < CViewTransform::kMaxZoom; }},
        {pView_, ID_VIEW_ZOOM_OUT, "Zoom &Out", "Show the map smaller\nZoom Out", Key(Qt::CTRL | Qt::Key_Minus),
         [pView] { pView->OnViewZoomOut(); }, [pView] { return pView->CanZoom(); }},
        {pView_, ID_VIEW_ACTUAL_SIZE, "&Actual Size (100%)", "One screen pixel for each map pixel\nActual Size",
         Key(Qt::CTRL | Qt::Key_1), [pView] { pView->OnViewActualSize(); }, [pView] { return pView->CanZoom(); }},
        {pView_, ID_VIEW_FIT_WHOLE_MAP, "&Fit Whole Map", "Show the whole map in the window\nFit Whole Map",
         Key(Qt::CTRL | Qt::Key_0), [pView] { pView->OnViewFitWholeMap(); }, [pView] { return pView->CanZoom(); }},
        {pView_, ID_VIEW_OPEN_MAPS_TO_FIT, "Op&en Maps to Fit",
         "Start maps larger than the window at Fit Whole Map\nOpen Maps to Fit", {},
         [pView] { pView->OnViewOpenMapsToFit(); }, {}, [pView] { return pView->OpensMapsToFit(); }},
        {pView_, ID_VIEW_MAGNIFIER, "Ma&gnifier",
         "Show the pixels under the pointer eight times larger (or hold M)\nMagnifier", {},
         [pView] { pView->OnViewMagnifier(); }, {}, [pView] { return pView->MagnifierOn(); }},
        {pView_, ID_VIEW_CROSSHAIR, "&Crosshair", "Draw lines across the view through the pointer\nCrosshair", {},
         [pView] { pView->OnViewCrosshair(); }, {}, [pView] { return pView->CrosshairOn(); }},
        Separator(pView_),
        {pView_, ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", {},
         [this] { m_pToolBar->setVisible(Action(ID_VIEW_TOOLBAR)->isChecked()); }, {},
         [this] { return !m_pToolBar->isHidden(); }},
        {pView_, ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", {},
         [this] { statusBar()->setVisible(Action(ID_VIEW_STATUS_BAR)->isChecked()); }, {},
         [this] { return !statusBar()->isHidden(); }},

        {pAction, ID_ACTION_SETUP_TRANSFORM, "&Setup Transform...",
         "Check the locators' pixel positions and type their eastings and northings\nSetup transform",
         Key(Qt::Key_F7), [pView] { pView->OnActionSetupTransform(); }, [pView] { return pView->CanSetupTransform(); }},
        {pAction, ID_ACTION_APPLY_TRANSFORM, "&Apply Transform...",
         "Make the north-up transformed map from the three locators\nTransform", Key(Qt::Key_F8),
         [pView] { pView->OnActionApplyTransform(); }, [pView] { return pView->CanApplyTransform(); }},
        {pAction, ID_ACTION_MOVE_LOCATORS, "Move Locators to Corners",
         "Put locators 1, 2 and 3 on the top-left, top-right and bottom-right pixels of the map; then Shift-drag, or "
         "select with 1/2/3 and use the arrow keys\nMove locators to corners",
         {}, [pView] { pView->OnActionMoveLocatorsToCorners(); }, [pView] { return pView->CanMoveLocatorsToCorners(); }},
        {pAction, ID_ACTION_LOAD_LOCATORS, "&Load Locators...",
         "Read the three locators and their eastings and northings from a .points file\nLoad locators", {},
         [pView, &document, ShowDone] { ShowDone(OnActionLoadLocators(*pView, document.GetFilePath())); },
         [pView] { return CanLoadLocators(*pView); }},
        {pAction, ID_ACTION_SAVE_LOCATORS, "Sa&ve Locators...",
         "Write the three locators and their eastings and northings to a .points file for gridmorph-cli or a "
         "GIS\nSave locators",
         {}, [pView, &document, ShowDone] { ShowDone(OnActionSaveLocators(*pView, document.GetFilePath())); },
         [pView] { return CanSaveLocators(*pView); }},
        {pAction, ID_ACTION_FIND_GRID, "&Find Grid", "Find the map grid and put the locators on its corners\nFind Grid",
         Key(Qt::CTRL | Qt::Key_G), [pView] { FindGridInView(*pView); },
         [pView] { return pView->CanMoveLocatorsToCorners(); }},
        Separator(pAction),
        {pAction, ID_ACTION_EDIT_MAP_LOCATION, "&Edit Map Location...", "Edit Map Location\nEdit Location", {},
         [pView] { pView->OnActionEditMapLocation(); }, [pView] { return pView->CanEditMapLocation(); }},
        {pAction, ID_ACTION_SETUP_FROM_WORLD_FILE, "Setup from World File...",
         "Setup from World File\nSetup from World File", {}, [pView] { pView->OnActionSetupFromWorldFile(); },
         [pView] { return pView->CanSetupFromWorldFile(); }},
        Separator(pAction),
        {pAction, ID_ACTION_CROP, "&Crop", "Crop selected region\nCrop", {}, [pView] { pView->OnActionCrop(); },
         [pView] { return pView->CanCrop(); }},
        {pAction, ID_ACTION_CROP_TO_GRID, "Crop to &Grid Rectangle",
         "Cut the transformed map to the locators' rectangle, as rectify --clip grid does; not on the scan, where it "
         "is not upright\nCrop to grid rectangle",
         {}, [pView] { pView->OnActionCropToGridRectangle(); }, [pView] { return pView->CanCropToGridRectangle(); }},
        {pAction, ID_ACTION_CONVERT_TO_24, "Convert to 24 bit, Full Colour",
         "Convert 8 bit colour to 24 bit colour\nConvert 8 bit to 24", {}, [pView] { pView->OnActionConvertTo24Bit(); },
         [pView] { return pView->CanConvertTo24Bit(); }},
        {pAction, ID_ACTION_CONVERT_TO_8, "Convert to 8 bit, 256 Colours",
         "Convert 24 bit colour to 8 bit colour\nConvert 24 bit to 8", {}, [pView] { pView->OnActionConvertTo8Bit(); },
         [pView] { return pView->CanConvertTo8Bit(); }},
        {pAction, ID_ACTION_GREY_SCALE, "Convert to Grey Scale", "Convert to Grey Scale\nGrey Scale", {},
         [pView] { pView->OnActionConvertToGreyScale(); }, [pView] { return pView->CanConvertToGreyScale(); }},

        {pHelp, ID_HELP_FINDER, "&Help Topics", "List Help topics\nHelp Topics", {}, [this] { HtmlHelp(0, 0); }},
        Separator(pHelp),
        {pHelp, ID_APP_ABOUT, "&About Gridmorph...", "Display program information, version number and copyright\nAbout",
         {}, [this] { m_app.OnAppAbout(); }},

        // Keys without a menu item: help on the current context and context help.
        {nullptr, ID_HELP, "Help", "Display help for current task or command\nHelp", Key(Qt::Key_F1),
         [this] { HtmlHelp(HelpContextNow(), 0x0F); }},
        {nullptr, ID_CONTEXT_HELP, "Context Help", "Display help for clicked buttons, menus and windows\nHelp",
         Key(Qt::SHIFT | Qt::Key_F1), [this] { OnContextHelp(); }},
    };
}

void COrvexFrame::CreateMenus()
{
    m_aCommands = CommandTable();
    std::map<std::string, QMenu*> aMenus;
    for (const SFrameCommand& command : m_aCommands) {
        QMenu* pMenu = nullptr;
        if (command.pMenu) {
            QMenu*& pNamed = aMenus[command.pMenu];
            if (!pNamed) {
                pNamed = menuBar()->addMenu(QString::fromLatin1(command.pMenu));
                connect(pNamed, &QMenu::aboutToShow, this, &COrvexFrame::UpdateCommandUI);
            }
            pMenu = pNamed;
        }
        if (command.nCommand == kSeparator || command.nCommand == kRecentFilesPlace) {
            QAction* pSeparator = pMenu->addSeparator();
            if (command.nCommand == kRecentFilesPlace) {
                m_pFileMenu = pMenu;
                m_pRecentSeparator = pSeparator;
            }
            continue;
        }
        auto* pAction = new QAction(QString::fromLatin1(command.pText), this);
        pAction->setObjectName(QStringLiteral("command%1").arg(command.nCommand));
        SetPrompt(pAction, QString::fromLatin1(command.pPrompt));
        pAction->setShortcuts(command.aKeys);
        pAction->setCheckable(static_cast<bool>(command.fnChecked));
        if (pMenu)
            pMenu->addAction(pAction);
        else
            addAction(pAction);
        m_aActions[command.nCommand] = pAction;
        connect(pAction, &QAction::triggered, this, [this, fnRun = command.fnRun] {
            fnRun();
            UpdateCommandUI();
        });
    }
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
    // The toolbar closed from its own context menu unchecks its command.
    connect(m_pToolBar, &QToolBar::visibilityChanged, Action(ID_VIEW_TOOLBAR), &QAction::setChecked);
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
    Action(ID_VIEW_STATUS_BAR)->setChecked(true);
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
    for (const SFrameCommand& command : m_aCommands) {
        QAction* pAction = command.nCommand > 0 ? Action(command.nCommand) : nullptr;
        if (!pAction)
            continue;
        if (command.fnEnabled)
            pAction->setEnabled(command.fnEnabled());
        if (command.fnChecked)
            pAction->setChecked(command.fnChecked());
        if (command.fnText)
            pAction->setText(command.fnText());
    }
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
    // Closed now, the window would go while the series went on unseen, its report lost.
    if (m_bSeriesRunning) {
        ShowWarning("A series is being rectified; cancel it or wait until it ends before closing.");
        pEvent->ignore();
        return;
    }
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
