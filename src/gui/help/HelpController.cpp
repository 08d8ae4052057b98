#include "help/HelpController.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "shared/CommandIds.h"
#include "help/HelpTopics.h"
#include "help/HelpWindow.h"

namespace gridmorph {
namespace {

bool IsHelpKey(const QKeyEvent* pKey)
{
    return pKey->key() == Qt::Key_F1 && (pKey->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == 0;
}

// The help window (or a widget inside one) is not a context of its own.
bool InsideHelpWindow(const QObject* pObject)
{
    for (; pObject; pObject = pObject->parent())
        if (qobject_cast<const CHelpWindow*>(pObject))
            return true;
    return false;
}

}  // namespace

CHelpController::CHelpController(QWidget* pMainWindow, std::function<bool(unsigned long)> fnShowHelp)
    : QObject(pMainWindow), m_pMainWindow(pMainWindow), m_fnShowHelp(std::move(fnShowHelp))
{
    qApp->installEventFilter(this);
}

CHelpController::~CHelpController()
{
    if (m_bContextMode)
        QApplication::restoreOverrideCursor();
}

unsigned long CHelpController::ContextOfAction(const QAction* pAction)
{
    if (!pAction)
        return 0;
    const QString strName = pAction->objectName();
    if (!strName.startsWith(QLatin1String("command")))
        return 0;
    bool bNumber = false;
    const int nCommand = strName.mid(7).toInt(&bNumber);
    return bNumber && !HelpPageForCommand(nCommand).isEmpty() ? kCommandContextBase + nCommand : 0;
}

unsigned long CHelpController::ContextOfDialog(QWidget* pDialog)
{
    // A message box over a dialog is explained by the dialog's page.
    for (QObject* pObject = pDialog; pObject; pObject = pObject->parent())
        for (const QMetaObject* pMeta = pObject->metaObject(); pMeta; pMeta = pMeta->superClass())
            // Class names come with their namespace ("gridmorph::COrvexTransDlg").
            if (const unsigned long nContext =
                    HelpContextForDialog(QString::fromLatin1(pMeta->className()).section(QStringLiteral("::"), -1)))
                return nContext;
    return 0;
}

bool CHelpController::ShowManual(unsigned long nContext)
{
    const QString strPage = HelpPageForContext(nContext);
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal && !InsideHelpWindow(pModal)) {
        // A window of the dialog's own: any other window waits while the dialog runs.
        CHelpWindow* pWindow = pModal->findChild<CHelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
        if (!pWindow) {
            pWindow = new CHelpWindow(pModal);
            pWindow->setAttribute(Qt::WA_DeleteOnClose);
        }
        pWindow->ShowPage(strPage);
        m_pLastWindow = pWindow;
        return true;
    }
    if (!m_pMainHelpWindow)
        m_pMainHelpWindow = new CHelpWindow(m_pMainWindow);
    m_pMainHelpWindow->ShowPage(strPage);
    m_pLastWindow = m_pMainHelpWindow;
    return true;
}

void CHelpController::EnterContextHelpMode()
{
    if (m_bContextMode)
        return;
    m_bContextMode = true;
    QApplication::setOverrideCursor(Qt::WhatsThisCursor);
}

void CHelpController::LeaveContextHelpMode()
{
    if (!m_bContextMode)
        return;
    m_bContextMode = false;
    QApplication::restoreOverrideCursor();
}

unsigned long CHelpController::ContextAt(QWidget* pWidget, int x, int y) const
{
    if (auto* pMenu = qobject_cast<QMenu*>(pWidget))
        return ContextOfAction(pMenu->actionAt(QPoint(x, y)));
    if (auto* pButton = qobject_cast<QToolButton*>(pWidget))
        if (const unsigned long nContext = ContextOfAction(pButton->defaultAction()))
            return nContext;
    for (QWidget* pPart = pWidget; pPart; pPart = pPart->parentWidget()) {
        if (qobject_cast<QStatusBar*>(pPart))
            return kCommandContextBase + ID_VIEW_STATUS_BAR;
        if (qobject_cast<QToolBar*>(pPart))
            return kCommandContextBase + ID_VIEW_TOOLBAR;
        if (pPart->objectName() == QLatin1String("mapView"))
            return kStepContextBase + 1;  // placing the locators on the map
        if (qobject_cast<QDialog*>(pPart))
            return ContextOfDialog(pPart);
    }
    return 0;
}

bool CHelpController::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    const QEvent::Type eType = pEvent->type();
    if ((eType == QEvent::ShortcutOverride || eType == QEvent::KeyPress) && !InsideHelpWindow(pWatched)) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (m_bContextMode && pKey->key() == Qt::Key_Escape) {
            if (eType == QEvent::KeyPress)
                LeaveContextHelpMode();
            pEvent->accept();
            return true;
        }
        if (IsHelpKey(pKey)) {
            // F1 or Shift+F1 on a highlighted menu item: that command's page.
            if (auto* pMenu = qobject_cast<QMenu*>(pWatched)) {
                if (const unsigned long nContext = ContextOfAction(pMenu->activeAction())) {
                    if (eType == QEvent::KeyPress) {
                        while (QWidget* pPopup = QApplication::activePopupWidget())
                            pPopup->close();
                        LeaveContextHelpMode();
                        m_fnShowHelp(nContext);
                    }
                    pEvent->accept();
                    return true;
                }
            }
            // F1 in a dialog: the dialog's page.
            QWidget* pModal = QApplication::activeModalWidget();
            if (pModal && !InsideHelpWindow(pModal) && pWatched->isWidgetType() &&
                static_cast<QWidget*>(pWatched)->window() == pModal) {
                if (eType == QEvent::KeyPress)
                    m_fnShowHelp(ContextOfDialog(pModal));
                pEvent->accept();
                return true;
            }
        }
        return false;
    }
    if (eType == QEvent::MouseButtonRelease && m_bSwallowRelease && pWatched->isWidgetType()) {
        // The release of the click that named the page triggers nothing.
        m_bSwallowRelease = false;
        return true;
    }
    if (!m_bContextMode || !pWatched->isWidgetType())
        return false;
    auto* pWidget = static_cast<QWidget*>(pWatched);
    if (eType == QEvent::MouseButtonPress || eType == QEvent::MouseButtonDblClick) {
        if (InsideHelpWindow(pWidget))
            return false;
        // The menu bar opens its menus as usual, so their items can be pointed at.
        if (qobject_cast<QMenuBar*>(pWidget))
            return false;
        const QPoint point = static_cast<QMouseEvent*>(pEvent)->position().toPoint();
        const unsigned long nContext = ContextAt(pWidget, point.x(), point.y());
        LeaveContextHelpMode();
        m_bSwallowRelease = true;
        while (QWidget* pPopup = QApplication::activePopupWidget())
            pPopup->close();
        m_fnShowHelp(nContext);
        return true;
    }
    return false;
}

}  // namespace gridmorph
