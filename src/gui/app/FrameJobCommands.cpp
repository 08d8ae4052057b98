// The main frame's side of the rectification as a job: toolbar buttons for its steps, the fourth corner's prediction in the status bar, and
// help that opens at the page of what the user is doing.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "shared/CommandIds.h"
#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"

#include "shared/AppIcons.h"
#include "app/OrvexR4Doc.h"
#include "document/MapDocument.h"
#include "help/HelpController.h"
#include "help/HelpTopics.h"
#include "view/FourthCornerMarker.h"
#include "view/LocatorFiles.h"
#include "view/OrvexView.h"

namespace gridmorph {
namespace {

void DrawSheet(QPainter& painter, const QRectF& rect, qreal dAngle)
{
    painter.save();
    painter.translate(rect.center());
    painter.rotate(dAngle);
    painter.translate(-rect.center());
    painter.setPen(QPen(QColor(80, 80, 80), 1.5));
    painter.setBrush(QColor(250, 246, 230));
    painter.drawRect(rect);
    painter.setPen(QPen(QColor(120, 150, 200), 1));
    for (int i = 1; i < 3; ++i) {
        const qreal x = rect.left() + rect.width() * i / 3, y = rect.top() + rect.height() * i / 3;
        painter.drawLine(QPointF(x, rect.top()), QPointF(x, rect.bottom()));
        painter.drawLine(QPointF(rect.left(), y), QPointF(rect.right(), y));
    }
    painter.restore();
}

void DrawLocatorRing(QPainter& painter, const QPointF& centre)
{
    painter.setPen(QPen(QColor(220, 0, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 3.5, 3.5);
}

// Setup Transform: a tilted sheet with three locators on its grid corners.
void DrawSetup(QPainter& painter)
{
    DrawSheet(painter, QRectF(5, 6, 22, 20), -8);
    DrawLocatorRing(painter, QPointF(10, 10));
    DrawLocatorRing(painter, QPointF(23, 8));
    DrawLocatorRing(painter, QPointF(24, 22));
}

// Apply Transform: the tilted sheet turned upright.
void DrawApply(QPainter& painter)
{
    DrawSheet(painter, QRectF(2, 4, 14, 13), -15);
    DrawSheet(painter, QRectF(15, 15, 14, 13), 0);
    painter.setPen(QPen(QColor(30, 110, 30), 2.5));
    QPainterPath arrow;
    arrow.moveTo(16, 6);
    arrow.cubicTo(24, 6, 27, 9, 26, 13);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arrow);
    painter.setBrush(QColor(30, 110, 30));
    painter.drawPolygon(QPolygonF({QPointF(22.5, 12), QPointF(29.5, 12), QPointF(26, 16)}));
}

// Show Transformed Map: two sheets, the upright one in front.
void DrawShow(QPainter& painter)
{
    DrawSheet(painter, QRectF(4, 4, 18, 16), -10);
    DrawSheet(painter, QRectF(10, 12, 18, 16), 0);
}

// Save Transformed Map As: the upright sheet over a disk.
void DrawSaveTransformed(QPainter& painter)
{
    painter.setPen(QPen(QColor(30, 50, 110), 1.5));
    painter.setBrush(QColor(60, 100, 190));
    painter.drawRoundedRect(QRectF(12, 12, 18, 18), 2, 2);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(16, 12, 10, 6));
    DrawSheet(painter, QRectF(2, 2, 16, 14), 0);
}

}  // namespace

void COrvexFrame::CreateJobCommands()
{
    m_pHelp = new CHelpController(this, [this](unsigned long nContext) { return HtmlHelp(nContext, nContext ? 0x0F : 0); });

    // The steps on the toolbar, between the file buttons and help.
    Action(ID_ACTION_SETUP_TRANSFORM)->setIcon(DrawnIcon(DrawSetup));
    Action(ID_ACTION_APPLY_TRANSFORM)->setIcon(DrawnIcon(DrawApply));
    Action(ID_VIEW_SHOW_TRANSFORMED)->setIcon(DrawnIcon(DrawShow));
    Action(ID_FILE_SAVE_TRANSFORMED_AS)->setIcon(DrawnIcon(DrawSaveTransformed));
    const QList<QAction*> aButtons = m_pToolBar->actions();
    const qsizetype nHelp = aButtons.indexOf(Action(ID_HELP_FINDER));
    QAction* pBefore = nHelp > 0 && aButtons[nHelp - 1]->isSeparator() ? aButtons[nHelp - 1] : Action(ID_HELP_FINDER);
    m_pToolBar->insertSeparator(pBefore);
    Action(ID_ACTION_FIND_GRID)->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    for (int nCommand : {ID_ACTION_FIND_GRID, ID_ACTION_SETUP_TRANSFORM, ID_ACTION_APPLY_TRANSFORM,
                         ID_VIEW_SHOW_TRANSFORMED, ID_FILE_SAVE_TRANSFORMED_AS})
        m_pToolBar->insertAction(pBefore, Action(nCommand));

    // The fourth corner's prediction, left of the pixel panes.
    m_pFourthCornerPane = new QLabel(statusBar());
    m_pFourthCornerPane->setObjectName(QStringLiteral("fourthCornerPane"));
    m_pFourthCornerPane->setFrameShape(QFrame::Panel);
    m_pFourthCornerPane->setFrameShadow(QFrame::Sunken);
    m_pFourthCornerPane->setToolTip(
        QStringLiteral("Where the three locators put the grid's fourth (bottom-left) corner; if the scan shows it "
                       "elsewhere, a locator is on the wrong grid line"));
    statusBar()->insertPermanentWidget(1, m_pFourthCornerPane);
    m_pFourthCornerPane->hide();
}

void COrvexFrame::UpdateJobCommandUI()
{
    if (!m_pFourthCornerPane)
        return;
    const QString strCorner = m_pView->SourceMap() && m_pView->ShowsLocators() && !m_pView->ShowsTransformed()
                                  ? FourthCornerStatusText(m_pView->Locators())
                                  : QString();
    m_pFourthCornerPane->setText(strCorner);
    m_pFourthCornerPane->setVisible(!strCorner.isEmpty());
}

unsigned long COrvexFrame::HelpContextNow() const
{
    // open, locators, setup, apply, check, save: the steps of the workflow page.
    const CLocatorSet& locators = m_pView->Locators();
    int nStep = 0;
    if (!m_pView->SourceMap())
        nStep = 0;
    else if (m_pView->ShowsTransformed())
        nStep = 5;
    else if (locators.TransformApplied())
        nStep = 4;
    else if (locators.TransformSetUp())
        nStep = 3;
    else
        nStep = 1;
    return kStepContextBase + static_cast<unsigned long>(nStep);
}

void COrvexFrame::OnContextHelp()
{
    // The design suite's help file opens at its start, as it always has.
    if (QFileInfo(m_app.m_strHelpFile).isFile())
        HtmlHelp(0, 0);
    else
        m_pHelp->EnterContextHelpMode();
}

}  // namespace gridmorph
