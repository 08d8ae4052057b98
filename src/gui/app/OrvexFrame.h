#pragma once

#include <QMainWindow>
#include <QKeySequence>
#include <QList>
#include <functional>
#include <map>
#include <vector>

class QLabel;
class QMenu;
class QToolBar;

namespace gridmorph {

class CHelpController;
class COrvexApp;
class COrvexR4Doc;
class COrvexView;

// The main window: menu, toolbar, status bar with three panes, and the map view. It
// restores its placement at the first activation and stores it when it closes, keeps the
// toolbar's state, shows "Gridmorph - <document title>" and hands help requests to the
// desktop's viewer.
class COrvexFrame : public QMainWindow {
    Q_OBJECT
public:
    COrvexFrame(COrvexApp& app, COrvexR4Doc& document);
    ~COrvexFrame() override;

    COrvexView* View() const { return m_pView; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    // The action of a command number (see CommandIds.h); null for none.
    QAction* Action(int nCommand) const;
    QLabel* Pane(int nPane) const;
    QMenu* FileMenu() const { return m_pFileMenu; }

    // Shows the window: the first time in its stored placement; later in the state it is in.
    void ActivateFrame();
    // Enables, disables and checks every command from the document's state.
    void UpdateCommandUI();
    // Opens the design suite's help file with the desktop's viewer, and shows "HtmlHelp
    // failed to load." and returns false when it cannot be shown. Without that file, shows
    // the manual bundled in the program at the page of the context number nData
    // (help/HelpTopics.h).
    bool HtmlHelp(unsigned long nData, unsigned int nCommand);
    // Context help and the bundled manual (help/HelpController.h).
    CHelpController* Help() const { return m_pHelp; }

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void RebuildRecentFiles();
    void UpdateTitle();
    // One row for each command of the menus and keys: where it goes, its text, its
    // status-bar prompt (then, after a line break, its tooltip), its keys, what it does,
    // and when it is enabled, checked (a checkable command) and how its text reads.
    // Rows without a command number are a menu's separators.
    struct SFrameCommand {
        const char* pMenu = nullptr;  // null: a key without a menu item
        int nCommand = 0;
        const char* pText = nullptr;
        const char* pPrompt = nullptr;
        QList<QKeySequence> aKeys = {};
        std::function<void()> fnRun = {};
        std::function<bool()> fnEnabled = {};  // empty: always enabled
        std::function<bool()> fnChecked = {};  // empty: not checkable
        std::function<QString()> fnText = {};  // empty: the text stays
    };
    static constexpr int kSeparator = 0;
    static constexpr int kRecentFilesPlace = -1;  // the separator the recent files go above
    std::vector<SFrameCommand> CommandTable();
    // The toolbar buttons for the steps, the fourth corner's pane and help (FrameJobCommands.cpp).
    void CreateJobCommands();
    void UpdateJobCommandUI();
    // File > Rectify Series (FrameSeriesCommand.cpp): a table or a folder of scans
    // rectified by the core's batch on a thread of its own, then its report.
    void OnFileRectifySeries();
    // F1 in the main window: the step of the rectification the user has reached.
    unsigned long HelpContextNow() const;
    void OnContextHelp();

    COrvexApp& m_app;
    COrvexR4Doc& m_document;
    COrvexView* m_pView = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentSeparator = nullptr;
    QList<QAction*> m_aRecentActions;
    QLabel* m_apPanes[3] = {nullptr, nullptr, nullptr};
    // The short name of the current map's coordinate system.
    QLabel* m_pSystemPane = nullptr;
    std::vector<SFrameCommand> m_aCommands;
    std::map<int, QAction*> m_aActions;
    bool m_bFirstActivation = true;
    // File > Rectify Series is running in a loop of this window's: the window does not close.
    bool m_bSeriesRunning = false;
    CHelpController* m_pHelp = nullptr;
    QLabel* m_pFourthCornerPane = nullptr;
};

}  // namespace gridmorph
