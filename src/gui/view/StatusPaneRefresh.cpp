#include "view/StatusPaneRefresh.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPointer>

#include "view/OrvexView.h"

namespace gridmorph {
namespace {

class CActivationWatch : public QObject {
public:
    CActivationWatch(COrvexView& view, QWidget& window) : QObject(&window), m_pView(&view) {}

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        // Unblocked: the modal box or dialog in front of the window has gone (whether
        // or not a window manager gives the window the focus back).
        if ((pEvent->type() == QEvent::WindowActivate || pEvent->type() == QEvent::WindowUnblocked) && m_pView)
            m_pView->RefreshStatusPanes();
        return QObject::eventFilter(pObject, pEvent);
    }

private:
    QPointer<COrvexView> m_pView;
};

}  // namespace

void RefreshStatusPanesOnActivation(COrvexView& view, QWidget& window)
{
    window.installEventFilter(new CActivationWatch(view, window));
}

void COrvexView::RefreshStatusPanes()
{
    // A drag writes the panes itself.
    if (m_bDragging)
        return;
    if (!SourceMap()) {
        ShowStatusText(0, 0, 0);
        return;
    }
    // A crop rectangle keeps its corners there until it is dragged again or removed.
    if (m_bCropRect) {
        ShowStatusText(1, m_rcCrop.nLeft, m_rcCrop.nTop);
        ShowStatusText(2, m_rcCrop.nRight, m_rcCrop.nBottom);
        return;
    }
    ShowStatusText(101, 0, 0);
    const QPoint global = QCursor::pos();
    const QPoint point = viewport()->mapFromGlobal(global);
    // Over the picture in the view and not under another window: the position there, else none.
    const QPoint picture = WindowToPicture(point);
    if (viewport()->isVisible() && InClient(point) && QApplication::widgetAt(global) == viewport() &&
        OverPicture(picture)) {
        ShowStatusText(2, picture.x(), picture.y());
    } else {
        ShowStatusText(-2, 0, 0);
    }
}

}  // namespace gridmorph
