#include "view/OrvexView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include "document/MapDocument.h"

namespace gridmorph {

COrvexView::COrvexView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    setObjectName(QStringLiteral("mapView"));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setSingleStep(16);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
}

void COrvexView::SetDocument(CMapDocument* pDocument)
{
    m_pDocument = pDocument;
    OnUpdate();
}

CDIBWorld* COrvexView::DisplayedMap() const
{
    if (!m_pDocument)
        return nullptr;
    CDIBWorld* pMap = m_pDocument->IsShowingTransformed() ? m_pDocument->GetTransformedMap() : m_pDocument->GetImage();
    return pMap && pMap->HasImage() ? pMap : nullptr;
}

void COrvexView::ResetLocators() { m_locators.ResetLocators(); }

void COrvexView::OnUpdate()
{
    UpdateScrollBars();
    viewport()->update();
}

void COrvexView::UpdateScrollBars()
{
    const CDIBWorld* pMap = DisplayedMap();
    const QSize sizeMap = pMap ? QSize(pMap->m_nImageWidth, pMap->m_nImageHeight) : QSize(0, 0);
    const QSize sizeViewport = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, sizeMap.width() - sizeViewport.width()));
    horizontalScrollBar()->setPageStep(sizeViewport.width());
    verticalScrollBar()->setRange(0, std::max(0, sizeMap.height() - sizeViewport.height()));
    verticalScrollBar()->setPageStep(sizeViewport.height());
}

void COrvexView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    UpdateScrollBars();
}

QPoint COrvexView::ViewportToPicture(const QPoint& point) const
{
    return point + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void COrvexView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    const QRect rectExposed = pEvent->rect();
    const CDIBWorld* pMap = DisplayedMap();
    QRect rectShown;
    if (pMap) {
        const QPoint offset = ViewportToPicture(QPoint(0, 0));
        const QRect rectPicture =
            rectExposed.translated(offset).intersected(QRect(0, 0, pMap->m_nImageWidth, pMap->m_nImageHeight));
        if (!rectPicture.isEmpty()) {
            const QImage& image = m_painter.Convert(*pMap, rectPicture);
            rectShown = rectPicture.translated(-offset);
            painter.drawImage(rectShown.topLeft(), image, QRect(QPoint(0, 0), rectPicture.size()));
        }
    }
    // Whatever the map does not cover is the window's background.
    const QRegion regionBackground = QRegion(rectExposed).subtracted(rectShown);
    for (const QRect& rect : regionBackground)
        painter.fillRect(rect, palette().color(QPalette::Base));
}

}  // namespace gridmorph
