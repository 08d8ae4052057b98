#pragma once

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <memory>
#include <optional>
#include <ostream>

#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/OrvexR4Doc.h"
#include "support/TestSupport.h"
#include "view/OrvexView.h"

namespace gridmorph {

inline void PrintTo(const SRectEdges& rect, std::ostream* pStream)
{
    *pStream << "{" << rect.nLeft << ", " << rect.nTop << ", " << rect.nRight << ", " << rect.nBottom << "}";
}

}  // namespace gridmorph

namespace gridmorph::test {

// A started program for one test, its boxes, dialogs and settings going through the
// scripted platform.
class CAppTest : public CPlatformTest {
protected:
    ~CAppTest() override
    {
        // Nothing unsaved may ask a question while the test's program is taken down.
        if (m_pApp && m_pApp->Document()) {
            m_pApp->Document()->Document().SetModifiedFlag(false);
            m_pApp->Document()->Document().SetTransformedModified(false);
        }
    }
    bool Start(const QStringList& aArguments = {QStringLiteral("gridmorph")})
    {
        m_pApp = std::make_unique<COrvexApp>(&m_platform);
        return m_pApp->InitInstance(aArguments);
    }
    // Started with its window shown at a size and exposed on the screen.
    void StartShown(int nWidth = 700, int nHeight = 500)
    {
        ASSERT_TRUE(Start());
        Frame().resize(nWidth, nHeight);
        Frame().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frame()));
    }
    COrvexFrame& Frame() { return *m_pApp->Frame(); }
    CMapDocument& Document() { return m_pApp->Document()->Document(); }
    // A crop rectangle drawn with the mouse on the view: pressed at one window point,
    // dragged to the other and let go there. The events go straight to the view's window,
    // since QTest takes the point (0, 0) for the widget's centre.
    void DragCropRectangle(QPoint from, QPoint to)
    {
        QWidget* pViewport = Frame().View()->viewport();
        auto Send = [pViewport](QEvent::Type eType, QPoint point, Qt::MouseButton eButton, Qt::MouseButtons eButtons) {
            QMouseEvent event(eType, QPointF(point), QPointF(pViewport->mapToGlobal(point)), eButton, eButtons,
                              Qt::NoModifier);
            QApplication::sendEvent(pViewport, &event);
        };
        Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        Send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }
    // The corners of the crop rectangle as the status bar shows them, "left, top" in pane 1
    // and "right, bottom" in pane 2; none when the panes show something else (the map's
    // extent, nothing).
    std::optional<SRectEdges> CropCornersShown()
    {
        static const QRegularExpression corner(QStringLiteral("^(-?\\d+), (-?\\d+)$"));
        const QRegularExpressionMatch topLeft = corner.match(Frame().Pane(1)->text());
        const QRegularExpressionMatch bottomRight = corner.match(Frame().Pane(2)->text());
        if (!topLeft.hasMatch() || !bottomRight.hasMatch())
            return std::nullopt;
        return SRectEdges{topLeft.captured(1).toInt(), topLeft.captured(2).toInt(), bottomRight.captured(1).toInt(),
                          bottomRight.captured(2).toInt()};
    }

    CTempFolder m_folder;
    std::unique_ptr<COrvexApp> m_pApp;
};

}  // namespace gridmorph::test
