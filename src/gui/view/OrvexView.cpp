#include "view/GridInView.h"
#include "view/OrvexView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <new>

#include "document/MapDocument.h"
#include "platform/Platform.h"
#include "transform/Resample.h"
#include "view/OrvexEditEdgeDlg.h"
#include "view/OrvexTransDlg.h"
#include "world/MapEdgeText.h"

namespace gridmorph {

COrvexView::COrvexView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    setObjectName(QStringLiteral("mapView"));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setSingleStep(16);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    ResetLocators();
}

void COrvexView::SetDocument(CMapDocument* pDocument)
{
    m_pDocument = pDocument;
    OnInitialUpdate();
}

CDIBWorld* COrvexView::SourceMap() const
{
    CDIBWorld* pMap = m_pDocument ? m_pDocument->GetImage() : nullptr;
    return pMap && pMap->HasImage() ? pMap : nullptr;
}

CDIBWorld* COrvexView::DisplayedMap() const
{
    if (!m_pDocument)
        return nullptr;
    CDIBWorld* pMap = m_bShowTransformed ? m_pDocument->GetTransformedMap() : m_pDocument->GetImage();
    return pMap && pMap->HasImage() ? pMap : nullptr;
}

void COrvexView::ResetLocators()
{
    m_locators.ResetLocators();
    m_bShowLocators = true;
    m_nLocatorRadius = 10;
    m_bDragging = false;
    m_nSelectedLocator = 0;
    m_ptDrag = QPoint();
    m_bShowTransformed = false;
}

void COrvexView::OnInitialUpdate()
{
    if (!SourceMap()) {
        m_locators.m_bTransformSetUp = false;
        m_locators.m_bTransformApplied = false;
    }
    UpdateScrollBars();
    viewport()->update();
}

void COrvexView::OnUpdate()
{
    // The document changed its maps: the canvas follows the displayed one.
    OnInitialUpdate();
}

void COrvexView::UpdateScrollBars()
{
    const CDIBWorld* pMap = DisplayedMap();
    const QSize sizeMap = pMap ? QSize(pMap->m_nImageWidth, pMap->m_nImageHeight) : QSize(100, 100);
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

QPoint COrvexView::ScrollPosition() const { return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()); }

void COrvexView::ScrollToPosition(const QPoint& position)
{
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

QPoint COrvexView::WindowToPicture(const QPoint& point) const { return point + ScrollPosition(); }

SRectEdges COrvexView::DeviceToPicture(const SRectEdges& rect) const
{
    const QPoint offset = ScrollPosition();
    return {rect.nLeft + offset.x(), rect.nTop + offset.y(), rect.nRight + offset.x(), rect.nBottom + offset.y()};
}

SRectEdges COrvexView::PictureToDevice(const SRectEdges& rect) const
{
    const QPoint offset = ScrollPosition();
    return {rect.nLeft - offset.x(), rect.nTop - offset.y(), rect.nRight - offset.x(), rect.nBottom - offset.y()};
}

bool COrvexView::InClient(const QPoint& point) const { return viewport()->rect().contains(point); }

// ---- painting ----

void COrvexView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    const QRect rectExposed = pEvent->rect();
    const QPoint offset = ScrollPosition();
    const CDIBWorld* pMap = SourceMap() ? DisplayedMap() : nullptr;
    QRect rectShown;
    if (pMap) {
        const QRect rectPicture =
            rectExposed.translated(offset).intersected(QRect(0, 0, pMap->m_nImageWidth, pMap->m_nImageHeight));
        if (!rectPicture.isEmpty()) {
            const QImage& image = m_painter.Convert(*pMap, rectPicture);
            rectShown = rectPicture.translated(-offset);
            painter.drawImage(rectShown.topLeft(), image, QRect(QPoint(0, 0), rectPicture.size()));
        }
    }
    // Whatever the map does not cover is the window's background.
    for (const QRect& rect : QRegion(rectExposed).subtracted(rectShown))
        painter.fillRect(rect, palette().color(QPalette::Base));
    if (!SourceMap())
        return;

    painter.save();
    painter.translate(-offset);
    if (m_bShowLocators)
        DrawLocators(painter);
    if (m_bCropRect && !m_bDragging)
        DrawCropRect(painter);
    painter.restore();

    // The rectangle being dragged: an inverted outline, gone with the next paint.
    if (m_bDragging && m_bCropRect && m_bCropDrawn) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(m_rcCropDevice.nLeft, m_rcCropDevice.nTop),
                               QPoint(m_rcCropDevice.nRight, m_rcCropDevice.nBottom)));
    }
}

void COrvexView::DrawLocators(QPainter& painter)
{
    const CLocatorSet& l = m_locators;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.drawLine(l.m_nLocatorX[0], l.m_nLocatorY[0], l.m_nLocatorX[1], l.m_nLocatorY[1]);
    painter.drawLine(l.m_nLocatorX[1], l.m_nLocatorY[1], l.m_nLocatorX[2], l.m_nLocatorY[2]);
    painter.drawLine(l.m_nLocatorX[2], l.m_nLocatorY[2], l.m_nLocatorX[0], l.m_nLocatorY[0]);

    painter.setPen(QPen(QColor(255, 0, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const int r = m_nLocatorRadius;
    for (int i = 0; i < 3; ++i) {
        const int x = l.m_nLocatorX[i], y = l.m_nLocatorY[i];
        painter.setPen(QPen(QColor(255, 0, 0), 2));
        painter.drawEllipse(QRect(x - r, y - r, 2 * r, 2 * r));
        const QString strLabel = i == 0 && m_bShowTransformed ? QStringLiteral("1 Transformed Map") : QString::number(i + 1);
        painter.setPen(Qt::black);
        const QRect rectText = painter.fontMetrics().boundingRect(strLabel);
        painter.drawText(QRect(x + r, y, rectText.width() + 2, painter.fontMetrics().height()),
                         Qt::AlignLeft | Qt::AlignTop, strLabel);
    }
    painter.setBackgroundMode(Qt::TransparentMode);
}

void COrvexView::DrawCropRect(QPainter& painter)
{
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    const QPoint aCorners[] = {{m_rcCrop.nLeft, m_rcCrop.nTop}, {m_rcCrop.nRight, m_rcCrop.nTop},
                               {m_rcCrop.nRight, m_rcCrop.nBottom}, {m_rcCrop.nLeft, m_rcCrop.nBottom},
                               {m_rcCrop.nLeft, m_rcCrop.nTop}};
    painter.drawPolyline(aCorners, 5);
}

void COrvexView::UpdateDragOutline(const SRectEdges& previous)
{
    auto rectOf = [](const SRectEdges& e) {
        return QRect(QPoint(std::min(e.nLeft, e.nRight), std::min(e.nTop, e.nBottom)),
                     QPoint(std::max(e.nLeft, e.nRight), std::max(e.nTop, e.nBottom)))
            .adjusted(-1, -1, 1, 1);
    };
    // Only the outlines' edges change; repaint the four sides of each, not their insides.
    for (const SRectEdges& edges : {previous, m_rcCropDevice}) {
        const QRect rect = rectOf(edges);
        viewport()->update(QRect(rect.left(), rect.top(), rect.width(), 3));
        viewport()->update(QRect(rect.left(), rect.bottom() - 2, rect.width(), 3));
        viewport()->update(QRect(rect.left(), rect.top(), 3, rect.height()));
        viewport()->update(QRect(rect.right() - 2, rect.top(), 3, rect.height()));
    }
}

// ---- the mouse ----

int COrvexView::HitTestLocator(const QPoint& point)
{
    if (!SourceMap())
        return 0;
    const QPoint picture = WindowToPicture(point);
    const int r = m_nLocatorRadius;
    for (int i = 0; i < 3; ++i) {
        const int x = m_locators.m_nLocatorX[i], y = m_locators.m_nLocatorY[i];
        if (x - r <= picture.x() && picture.x() < x + r && y - r <= picture.y() && picture.y() < y + r) {
            m_ptDrag = QPoint(x, y);
            return i + 1;
        }
    }
    m_ptDrag = QPoint();
    return 0;
}

void COrvexView::SelectLocator(int nLocator)
{
    if (nLocator == 0)
        m_ptDrag = QPoint();
    m_nSelectedLocator = nLocator;
}

void COrvexView::ShowStatusText(int nPane, int x, int y)
{
    if (!m_fnStatusText)
        return;
    if (nPane > 100) {
        if (const CDIBWorld* pSource = SourceMap())
            m_fnStatusText(nPane - 100, QStringLiteral("(0,0)->(%1,%2)").arg(pSource->m_nImageWidth - 1).arg(pSource->m_nImageHeight - 1));
    } else if (nPane > 0) {
        m_fnStatusText(nPane, QStringLiteral("%1, %2").arg(x).arg(y));
    } else if (nPane < 0) {
        m_fnStatusText(-nPane, QString());
    } else {
        m_fnStatusText(1, QString());
        m_fnStatusText(2, QString());
    }
}

void COrvexView::AutoScroll(const QPoint& point)
{
    const QRect rectClient = viewport()->rect();
    QPoint delta;
    if (point.x() > rectClient.width())
        delta.rx() = point.x() - rectClient.width();
    else if (point.x() < 0)
        delta.rx() = point.x();
    if (point.y() > rectClient.height())
        delta.ry() = point.y() - rectClient.height();
    else if (point.y() < 0)
        delta.ry() = point.y();
    // The scroll bars keep the position within the canvas.
    ScrollToPosition(ScrollPosition() + delta);
}

void COrvexView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton || !SourceMap())
        return;
    const QPoint point = pEvent->position().toPoint();
    if (m_bShowLocators && !m_bCropRect) {
        SelectLocator(HitTestLocator(point));
        if (m_nSelectedLocator != 0 && (pEvent->modifiers() & Qt::ShiftModifier)) {
            m_bDragging = true;
            viewport()->setCursor(Qt::CrossCursor);
            const QPoint picture = WindowToPicture(point);
            ShowStatusText(1, picture.x(), picture.y());
            return;
        }
    }
    if (!m_bCropRect) {
        m_bDragging = true;
        m_bCropRect = true;
        m_bCropDrawn = true;
        m_rcCropDevice = {point.x(), point.y(), point.x(), point.y()};
        m_rcCrop = DeviceToPicture(m_rcCropDevice);
        UpdateDragOutline(m_rcCropDevice);
        ShowStatusText(1, m_rcCrop.nLeft, m_rcCrop.nTop);
        ShowStatusText(2, m_rcCrop.nRight, m_rcCrop.nBottom);
    } else {
        m_bCropRect = false;
        ShowStatusText(-1, 0, 0);
        viewport()->update();
    }
    emit CommandStateChanged();
}

void COrvexView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!SourceMap()) {
        ShowStatusText(0, 0, 0);
        return;
    }
    const QPoint point = pEvent->position().toPoint();
    if (!m_bCropRect) {
        if (InClient(point)) {
            const QPoint picture = WindowToPicture(point);
            if (!m_bDragging)
                ShowStatusText(101, 0, 0);
            ShowStatusText(2, picture.x(), picture.y());
        } else if (m_bDragging) {
            AutoScroll(point);
        }
        return;
    }
    if (!m_bDragging)
        return;
    if (InClient(point)) {
        if (!m_bCropDrawn) {
            UpdateDragOutline(m_rcCropDevice);
        } else if (point.x() > m_rcCropDevice.nLeft && point.y() > m_rcCropDevice.nTop &&
                   point.x() != m_rcCropDevice.nRight && point.y() != m_rcCropDevice.nBottom) {
            // Only ever to the right of and below the anchor.
            const SRectEdges previous = m_rcCropDevice;
            m_rcCropDevice.nRight = point.x();
            m_rcCropDevice.nBottom = point.y();
            UpdateDragOutline(previous);
            const QPoint picture = WindowToPicture(point);
            ShowStatusText(2, picture.x(), picture.y());
            m_rcCrop.nRight = picture.x();
            m_rcCrop.nBottom = picture.y();
        }
        m_bCropDrawn = true;
    } else {
        AutoScroll(point);
        const SRectEdges previous = m_rcCropDevice;
        m_rcCropDevice = PictureToDevice(m_rcCrop);
        if (previous != m_rcCropDevice)
            viewport()->update();
        if ((point.x() < 0 || point.y() < 0) && (m_rcCropDevice.nLeft < 0 || m_rcCropDevice.nTop < 0)) {
            if (m_bCropDrawn)
                UpdateDragOutline(m_rcCropDevice);
            m_bCropDrawn = false;
        }
    }
}

void COrvexView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton || !m_bDragging)
        return;
    const QPoint point = pEvent->position().toPoint();
    if (m_bCropRect) {
        if (InClient(point)) {
            m_rcCropDevice.nRight = point.x() > m_rcCropDevice.nLeft ? point.x() : m_rcCropDevice.nLeft + 1;
            m_rcCropDevice.nBottom = point.y() > m_rcCropDevice.nTop ? point.y() : m_rcCropDevice.nTop + 1;
            m_rcCrop = DeviceToPicture(m_rcCropDevice);
            ShowStatusText(1, m_rcCrop.nLeft, m_rcCrop.nTop);
            ShowStatusText(2, m_rcCrop.nRight, m_rcCrop.nBottom);
        }
    } else {
        ShowStatusText(-1, 0, 0);
        if (InClient(point)) {
            m_ptDrag = WindowToPicture(point);
            // The locator goes where it was let go, on the picture or beside it.
            m_locators.m_nLocatorX[m_nSelectedLocator - 1] = m_ptDrag.x();
            m_locators.m_nLocatorY[m_nSelectedLocator - 1] = m_ptDrag.y();
            SnapLocatorToGrid(*this, m_nSelectedLocator, pEvent->modifiers());  // onto a grid crossing near
        }
    }
    m_bDragging = false;
    viewport()->unsetCursor();
    viewport()->update();
    emit CommandStateChanged();
}

// ---- commands ----

bool COrvexView::CanViewLocators() const { return SourceMap() != nullptr; }

bool COrvexView::CanViewShowTransformedMap() const { return m_locators.m_bTransformApplied && SourceMap(); }

bool COrvexView::CanViewMapEdgeLocations() const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && pMap->HasWorld();
}

bool COrvexView::CanSetupTransform() const { return SourceMap() && SourceMap()->m_nBitCount != 32; }

bool COrvexView::CanApplyTransform() const { return SourceMap() && m_locators.m_bTransformSetUp; }

bool COrvexView::CanMoveLocatorsToCorners() const { return !m_bShowTransformed && SourceMap(); }

bool COrvexView::CanEditMapLocation() const { return DisplayedMap() && DisplayedMap()->m_nBitCount != 32; }

bool COrvexView::CanSetupFromWorldFile() const { return !m_bShowTransformed && SourceMap(); }

bool COrvexView::CanCrop() const { return SourceMap() && m_bCropRect && SourceMap()->m_nBitCount != 32; }

bool COrvexView::CanConvertTo24Bit() const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && (pMap->m_nBitCount == 8 || pMap->m_nBitCount == 32);
}

bool COrvexView::CanConvertTo8Bit() const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && (pMap->m_nBitCount == 24 || pMap->m_nBitCount == 32);
}

bool COrvexView::CanConvertToGreyScale() const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && (pMap->m_nBitCount == 8 || pMap->m_nBitCount == 24);
}

void COrvexView::OnViewLocators()
{
    m_bShowLocators = !m_bShowLocators;
    viewport()->update();
}

void COrvexView::OnViewShowTransformedMap()
{
    m_bShowTransformed = !m_bShowTransformed;
    if (m_pDocument)
        m_pDocument->SetShowTransformed(m_bShowTransformed);
    OnInitialUpdate();
}

void COrvexView::OnViewMapEdgeLocations()
{
    if (const CDIBWorld* pMap = DisplayedMap())
        ShowInformation(FormatMapEdgeLocations(*pMap));
}

void COrvexView::OnActionSetupTransform()
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource || !ConfirmLocatorsOnGrid(*this))
        return;
    COrvexTransDlg dialog(this);
    dialog.SetFrom(m_locators, pSource->m_nImageWidth, pSource->m_nImageHeight);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.CopyTo(m_locators);
    viewport()->update();
}

void COrvexView::OnActionApplyTransform()
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource || !m_pDocument || !ConfirmLocatorsOnGrid(*this))
        return;
    const int nBitCount = pSource->m_nBitCount;
    std::unique_ptr<CDIBWorld> pTransformedMap;
    ETransformResult eResult;
    {
        CWaitCursor waitCursor;
        eResult = m_locators.m_bNonRectangular
                      ? TransformNonRectangular(*pSource, m_locators, nBitCount, pTransformedMap)
                      : TransformBitmap(*pSource, m_locators, nBitCount, pTransformedMap);
    }
    viewport()->update();
    // Only a map that was made counts as applied: a failure has said why, and whatever
    // transformed map there was stays with its own unsaved flag.
    if (eResult != ETransformResult::Done || !pTransformedMap)
        return;
    m_pDocument->SetTransformedMap(std::move(pTransformedMap));
    m_locators.m_bTransformApplied = true;
    m_pDocument->SetTransformedModified(true);
    if (m_bShowTransformed)
        OnInitialUpdate();
}

void COrvexView::OnActionMoveLocatorsToCorners()
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource)
        return;
    m_locators.MoveLocatorsToCorners(pSource->m_nImageWidth, pSource->m_nImageHeight);
    viewport()->update();
}

void COrvexView::MarkDisplayedChanged()
{
    if (!m_pDocument)
        return;
    if (m_bShowTransformed)
        m_pDocument->SetTransformedModified(true);
    else
        m_pDocument->SetModifiedFlag(true);
}

void COrvexView::OnActionEditMapLocation()
{
    CDIBWorld* pMap = DisplayedMap();
    if (!pMap)
        return;
    COrvexEditEdgeDlg dialog(this);
    dialog.m_nEdgeMode = 0;
    if (pMap->HasWorld()) {
        dialog.m_dWest = pMap->GetWest();
        dialog.m_dEast = pMap->GetEast();
        dialog.m_dSouth = pMap->GetSouth();
        dialog.m_dNorth = pMap->GetNorth();
    }
    if (dialog.exec() != QDialog::Accepted)
        return;
    double dWest = dialog.m_dWest, dNorth = dialog.m_dNorth, dEast = dialog.m_dEast, dSouth = dialog.m_dSouth;
    if (dialog.m_nEdgeMode == 1)
        OutsideEdgesToCentres(pMap->m_nImageWidth, pMap->m_nImageHeight, dWest, dNorth, dEast, dSouth);
    pMap->SetEdges(dWest, dNorth, dEast, dSouth);
    MarkDisplayedChanged();
}

void COrvexView::OnActionSetupFromWorldFile()
{
    CDIBWorld* pSource = SourceMap();
    if (!pSource || !m_fnWorldFileDialog || !m_pDocument)
        return;
    double dWest = 0, dNorth = 0, dEast = 0, dSouth = 0;
    if (!m_fnWorldFileDialog(m_pDocument->GetFilePath(), pSource->m_nImageWidth, pSource->m_nImageHeight, dWest,
                             dNorth, dEast, dSouth))
        return;
    pSource->SetEdges(dWest, dNorth, dEast, dSouth);
    m_pDocument->SetModifiedFlag(true);
}

void COrvexView::ReplaceDisplayedMap(std::unique_ptr<CDIBWorld> pMap)
{
    if (m_bShowTransformed) {
        m_pDocument->SetTransformedMap(std::move(pMap));
        m_pDocument->SetTransformedModified(true);
    } else {
        m_pDocument->SetImage(std::move(pMap));
        m_pDocument->SetModifiedFlag(true);
    }
}

void COrvexView::Convert(int nBitCount)
{
    CDIBWorld* pMap = DisplayedMap();
    if (!pMap || !m_pDocument)
        return;
    std::unique_ptr<CDIBWorld> pNew(new (std::nothrow) CDIBWorld);
    if (!pNew) {
        ShowWarning("Insufficient memory for image in Convert()");
        return;
    }
    bool bCreated = false;
    {
        CWaitCursor waitCursor;
        bCreated = pNew->CreateImage(nBitCount, pMap, true, true, false, true, true);
    }
    if (!bCreated) {
        ShowWarning(pNew->GetErrorMessage());
        pNew->DestroyImage(false);
        return;
    }
    ReplaceDisplayedMap(std::move(pNew));
}

void COrvexView::OnActionConvertTo24Bit()
{
    Convert(24);
    viewport()->update();
}

void COrvexView::OnActionConvertTo8Bit()
{
    Convert(8);
    viewport()->update();
}

void COrvexView::Crop()
{
    const int nWidth = m_rcCrop.nRight - m_rcCrop.nLeft, nHeight = m_rcCrop.nBottom - m_rcCrop.nTop;
    if (nWidth <= 0 || nHeight <= 0)
        return;
    // Right and bottom are the last column and row of the cut.
    const int nLeft = m_rcCrop.nLeft, nTop = m_rcCrop.nTop;
    m_bCropRect = false;
    CDIBWorld* pMap = DisplayedMap();
    if (!pMap || !m_pDocument)
        return;
    std::unique_ptr<CDIBWorld> pNew(new (std::nothrow) CDIBWorld);
    if (!pNew) {
        ShowWarning("Insufficient memory for image in Crop()");
        return;
    }
    if (!pNew->CreateImage(pMap, nWidth + 1, nHeight + 1, 0)) {
        ShowWarning(pNew->GetErrorMessage());
        pNew->DestroyImage(false);
        return;
    }
    pMap->m_nErrorNumber = 0;
    pMap->CropMap(pNew.get(), nLeft, nTop, nWidth + 1, nHeight + 1, kSrcCopy);
    if (pMap->m_nErrorNumber != 0) {
        ShowWarning(pMap->GetErrorMessage());
        pNew->DestroyImage(false);
        return;
    }
    ReplaceDisplayedMap(std::move(pNew));
    m_bCropRect = false;
    OnInitialUpdate();
    ScrollToPosition(QPoint(0, 0));
}

void COrvexView::OnActionCrop()
{
    Crop();
    viewport()->update();
}

void COrvexView::OnActionConvertToGreyScale()
{
    if (CDIBWorld* pMap = DisplayedMap()) {
        pMap->ConvertToGreyScale();
        MarkDisplayedChanged();
    }
    viewport()->update();
}

}  // namespace gridmorph
