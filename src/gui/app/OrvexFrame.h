#pragma once

#include <QMainWindow>
#include <map>

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
    QAction* AddCommand(QMenu* pMenu, int nCommand, const QString& strText, const QString& strPrompt,
                        const QKeySequence& shortcut = QKeySequence());
    void RebuildRecentFiles();
    void UpdateTitle();
    template <typename FHandler>
    void OnCommand(int nCommand, FHandler fnHandler);
    // The rectification's commands beside the menus' own (FrameJobCommands.cpp): locator
    // files, keys and toolbar buttons for the steps, the fourth corner's pane and help.
    void CreateJobCommands();
    void UpdateJobCommandUI();
    // File > Rectify Series (FrameSeriesCommand.cpp): a table or a folder of scans
    // rectified by the core's batch on a thread of its own, then its report.
    void CreateSeriesCommand();
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
    std::map<int, QAction*> m_aActions;
    bool m_bFirstActivation = true;
    CHelpController* m_pHelp = nullptr;
    QLabel* m_pFourthCornerPane = nullptr;
};

}  // namespace gridmorph
