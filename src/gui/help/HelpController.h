#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "help/HelpWindow.h"

class QAction;
class QWidget;

namespace gridmorph {

// Brings the manual to what the user is doing: the page of a command or a dialog, F1 in a
// dialog or on a highlighted menu item, and the context-help mode of Shift+F1 (the next
// click on a menu item, a toolbar button or a part of the window names the page, and
// Escape leaves the mode). Requests go to fnShowHelp as context numbers (HelpTopics.h),
// so the design suite's help file, where it is installed, answers them as before.
class CHelpController : public QObject {
    Q_OBJECT
public:
    CHelpController(QWidget* pMainWindow, std::function<bool(unsigned long)> fnShowHelp);
    ~CHelpController() override;

    // Shows the bundled manual at the page of a context number; a dialog running modally
    // gets a window of its own, so that it can be read while the dialog waits.
    bool ShowManual(unsigned long nContext);
    // Starts the context-help mode (Shift+F1).
    void EnterContextHelpMode();
    bool InContextHelpMode() const { return m_bContextMode; }
    // The window that showed the last page; null before the first.
    CHelpWindow* LastHelpWindow() const { return m_pLastWindow; }

    // The context number of an action (its command number), 0 for none.
    static unsigned long ContextOfAction(const QAction* pAction);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void LeaveContextHelpMode();
    // The context of a click on pWidget at its point (x, y) in context-help mode.
    unsigned long ContextAt(QWidget* pWidget, int x, int y) const;
    // The context of the modal dialog that has the keyboard, 0 for none.
    static unsigned long ContextOfDialog(QWidget* pDialog);

    QWidget* m_pMainWindow;
    std::function<bool(unsigned long)> m_fnShowHelp;
    QPointer<CHelpWindow> m_pMainHelpWindow;
    QPointer<CHelpWindow> m_pLastWindow;
    bool m_bContextMode = false;
    bool m_bSwallowRelease = false;
};

}  // namespace gridmorph
