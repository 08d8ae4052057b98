#include "view/GridInView.h"
#include "view/OrvexView.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>
#include <new>
#include <utility>

#include "dialogs/OvWorldFileDlg.h"
#include "document/MapDocument.h"
#include "io/Numbers.h"
#include "platform/Platform.h"
#include "transform/GridCrop.h"
#include "transform/LocatorChecks.h"
#include "transform/PointsFile.h"
#include "transform/Resample.h"
#include "view/FourthCornerMarker.h"
#include "view/OrvexEditEdgeDlg.h"
#include "view/OrvexTransDlg.h"
#include "world/MapEdgeText.h"
#include "world/MapEdits.h"

namespace gridmorph {
namespace {

constexpr const char* kViewSection = "View";
constexpr const char* kOpenToFitEntry = "OpenMapsToFit";
constexpr const char* kUndoBudgetEntry = "UndoMemoryMB";
// How far the magnifier stands off the pointer, window pixels.
constexpr int kMagnifierOffset = 24;

}  // namespace

COrvexView::COrvexView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    setObjectName(QStringLiteral("mapView"));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setSingleStep(16);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { StorePlace(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { StorePlace(); });
    m_pMapPosition = new QLabel(this);
    m_pMapPosition->setObjectName(QStringLiteral("mapPosition"));
    m_pMapPosition->hide();
    m_bOpenToFit = GetPlatform().GetProfileInt(kViewSection, kOpenToFitEntry, 0) != 0;
    const int nBudgetMB = GetPlatform().GetProfileInt(kViewSection, kUndoBudgetEntry, 1024);
    m_undo.SetBudget(std::size_t(std::max(nBudgetMB, 0)) << 20);
    ResetLocators();
}

COrvexView::~COrvexView()
{
    // The building threads read the document's maps: they stop before anything goes.
    m_aPyramids[0].Cancel();
    m_aPyramids[1].Cancel();
}

void COrvexView::SetDocument(CMapDocument* pDocument)
{
    m_pDocument = pDocument;
    OnInitialUpdate();
}

void COrvexView::SetStatusTextSink(std::function<void(int, const QString&)> fnStatusText)
{
    m_fnStatusText = std::move(fnStatusText);
}

CDIBWorld* COrvexView::SourceMap() const
{
    CDIBWorld* pMap = m_pDocument ? m_pDocument->GetImage() : nullptr;
    return pMap && pMap->HasImage() ? pMap : nullptr;
}

bool COrvexView::ShowsTransformed() const { return m_pDocument && m_pDocument->IsShowingTransformed(); }

CDIBWorld* COrvexView::DisplayedMap() const
{
    if (!m_pDocument)
        return nullptr;
    CDIBWorld* pMap = ShowsTransformed() ? m_pDocument->GetTransformedMap() : m_pDocument->GetImage();
    return pMap && pMap->HasImage() ? pMap : nullptr;
}

void COrvexView::ResetLocators()
{
    m_locators.ResetLocators();
    m_bShowLocators = true;
    m_nLocatorRadius = 10;
    m_bDragging = false;
    m_bLocatorDrag = false;
    m_nSelectedLocator = 0;
    m_nKeyLocator = 0;
    m_ptDrag = QPoint();
    // A new document starts at its first zoom, with nothing to undo, and with the locators
    // remembered for its scan.
    m_undo.Clear();
    m_bRestorePoints = true;
    m_aPlaces[0] = SPlace();
    m_aPlaces[1] = SPlace();
    m_pFoundGrid.reset();
    m_pFoundGridMap = nullptr;
}

void COrvexView::OnMapChanging(const CDIBWorld* pMap)
{
    // What was found on the old pixels does not hold for the new ones.
    if (pMap && pMap == m_pFoundGridMap)
        m_pFoundGrid.reset(), m_pFoundGridMap = nullptr;
    if (pMap && pMap == m_magnifiedFit.pMap)
        m_magnifiedFit = SMagnifiedFit();
    for (CMapPyramid& pyramid : m_aPyramids)
        if (pMap && pyramid.Picture() == pMap)
            pyramid.Cancel();
}

void COrvexView::OnInitialUpdate()
{
    if (!SourceMap()) {
        m_locators.SetTransformSetUp(false);
        m_locators.SetTransformApplied(false);
    }
    if (m_bRestorePoints && SourceMap() && m_pDocument && !m_pDocument->GetFilePath().empty()) {
        m_bRestorePoints = false;
        RestorePoints();
    }
    const CDIBWorld* pMap = DisplayedMap();
    SPlace place = m_aPlaces[ShowsTransformed() ? 1 : 0];
    if (!place.bSet && pMap) {
        // Open at 100%, or with the setting a map larger than the window at Fit.
        const QSize sizeMap(pMap->m_nImageWidth, pMap->m_nImageHeight);
        place.dZoom = m_bOpenToFit ? CViewTransform::FitZoom(sizeMap, viewport()->size()) : 1.0;
        place.ptScroll = QPoint();
        place.bSet = true;
    }
    m_transform.SetZoom(pMap ? place.dZoom : 1.0);
    UpdateScrollBars();
    ScrollToPosition(place.ptScroll);
    if (pMap)
        m_aPlaces[ShowsTransformed() ? 1 : 0] = place;
    StorePlace();
    EnsurePyramid();
    viewport()->update();
    // Another map, or none: the panes must not show the previous one's numbers.
    RefreshStatusPanes();
}

void COrvexView::OnUpdate()
{
    // The document changed its maps: the canvas follows the displayed one.
    OnInitialUpdate();
}

void COrvexView::StorePlace()
{
    SPlace& place = m_aPlaces[ShowsTransformed() ? 1 : 0];
    if (!place.bSet || !DisplayedMap())
        return;
    place.dZoom = m_transform.Zoom();
    place.ptScroll = ScrollPosition();
}

void COrvexView::EnsurePyramid()
{
    // Each map has its reduced copies, made again whenever the map is another picture.
    for (int i = 0; i < 2; ++i) {
        const CDIBWorld* pMap = i == 0 ? SourceMap() : (m_pDocument && m_pDocument->GetTransformedMap() &&
                                                                m_pDocument->GetTransformedMap()->HasImage()
                                                            ? m_pDocument->GetTransformedMap()
                                                            : nullptr);
        CMapPyramid& pyramid = m_aPyramids[i];
        if (!pMap) {
            if (pyramid.Picture())
                pyramid.Cancel();
            continue;
        }
        if (pyramid.Picture() == pMap)
            continue;
        // Only the displayed map is worth the work now; the other is built when shown.
        if (pMap != DisplayedMap())
            continue;
        QPointer<QWidget> pViewport = viewport();
        pyramid.Start(*pMap, [pViewport] {
            QMetaObject::invokeMethod(
                pViewport, [pViewport] { if (pViewport) pViewport->update(); }, Qt::QueuedConnection);
        });
    }
}

void COrvexView::UpdateScrollBars()
{
    const CDIBWorld* pMap = DisplayedMap();
    m_transform.SetPictureSize(pMap ? QSize(pMap->m_nImageWidth, pMap->m_nImageHeight) : QSize(100, 100));
    const QSize sizeMap = pMap ? m_transform.CanvasSize() : QSize(100, 100);
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

void COrvexView::ScrollToShowLocators()
{
    if (!DisplayedMap())
        return;
    // On the zoomed canvas (window point plus scroll position): each locator's circle, and
    // its label to the right of it.
    const CViewTransform transform = Transform();
    const QPoint ptScroll = ScrollPosition();
    const int r = m_nLocatorRadius;
    const QFontMetrics metrics = viewport()->fontMetrics();
    const int nLine = metrics.height();
    QRect rectMarks;
    QPoint ptFirst;
    for (int i = 0; i < 3; ++i) {
        const QPoint ptCanvas = transform.PictureMarkToWindow(QPoint(m_locators.LocatorX(i), m_locators.LocatorY(i))) + ptScroll;
        if (i == 0)
            ptFirst = ptCanvas;
        const QString strLabel = i == 0 && ShowsTransformed() ? QStringLiteral("1 Transformed Map") : QString::number(i + 1);
        const int nLabel = metrics.horizontalAdvance(strLabel) + 2;
        const QRect rectMark(ptCanvas.x() - r, ptCanvas.y() - r, 2 * r + 1 + nLabel, std::max(2 * r + 1, r + nLine));
        rectMarks = rectMarks.isNull() ? rectMark : rectMarks.united(rectMark);
    }
    const QRect rectShown(ptScroll, viewport()->size());
    if (rectShown.contains(rectMarks))
        return;
    const QSize sizeWindow = viewport()->size();
    const QPoint ptCentre = rectMarks.width() <= sizeWindow.width() && rectMarks.height() <= sizeWindow.height()
                                ? rectMarks.center()
                                : ptFirst;
    // The scroll bars keep the position within the canvas.
    ScrollToPosition(ptCentre - QPoint(sizeWindow.width() / 2, sizeWindow.height() / 2));
    StorePlace();
    viewport()->update();
}

CViewTransform COrvexView::Transform() const
{
    CViewTransform transform = m_transform;
    transform.SetScroll(ScrollPosition());
    return transform;
}

QPoint COrvexView::WindowToPicture(const QPoint& point) const { return Transform().WindowToPicture(point); }

SRectEdges COrvexView::DeviceToPicture(const SRectEdges& rect) const
{
    const CViewTransform transform = Transform();
    const QPoint topLeft = transform.WindowToPicture(QPoint(rect.nLeft, rect.nTop));
    const QPoint bottomRight = transform.WindowToPicture(QPoint(rect.nRight, rect.nBottom));
    return {topLeft.x(), topLeft.y(), bottomRight.x(), bottomRight.y()};
}

SRectEdges COrvexView::PictureToDevice(const SRectEdges& rect) const
{
    const CViewTransform transform = Transform();
    const QPoint topLeft = transform.PictureToWindow(QPoint(rect.nLeft, rect.nTop));
    const QPoint bottomRight = transform.PictureToWindow(QPoint(rect.nRight, rect.nBottom));
    return {topLeft.x(), topLeft.y(), bottomRight.x(), bottomRight.y()};
}

bool COrvexView::InClient(const QPoint& point) const { return viewport()->rect().contains(point); }

// ---- zoom ----

void COrvexView::SetZoom(double dZoom, const QPoint& ptAnchor)
{
    if (!DisplayedMap())
        return;
    const QPointF ptPicture = Transform().WindowToPictureF(QPointF(ptAnchor) + QPointF(0.5, 0.5));
    m_transform.SetZoom(dZoom);
    UpdateScrollBars();
    ScrollToPosition(m_transform.ScrollKeeping(ptPicture, ptAnchor));
    if (m_bDragging && m_bCropRect)
        m_rcCropDevice = PictureToDevice(m_rcCrop);
    StorePlace();
    EnsurePyramid();
    viewport()->update();
    emit CommandStateChanged();
}

void COrvexView::SetZoom(double dZoom)
{
    // The zoom keys keep the window's centre, or the pointer while it is over the map.
    SetZoom(dZoom, m_bPointerIn ? m_ptPointer : viewport()->rect().center());
}

void COrvexView::OnViewZoomIn() { SetZoom(CViewTransform::NextZoomIn(Zoom())); }

void COrvexView::OnViewZoomOut()
{
    // Never smaller than the whole map (or 100% for a map that fits).
    const CDIBWorld* pMap = DisplayedMap();
    if (!pMap)
        return;
    const double dFit = CViewTransform::FitZoom(QSize(pMap->m_nImageWidth, pMap->m_nImageHeight), viewport()->size());
    SetZoom(std::max(CViewTransform::NextZoomOut(Zoom()), std::min(dFit, Zoom())));
}

void COrvexView::OnViewActualSize() { SetZoom(1.0); }

void COrvexView::OnViewFitWholeMap()
{
    const CDIBWorld* pMap = DisplayedMap();
    if (!pMap)
        return;
    SetZoom(CViewTransform::FitZoom(QSize(pMap->m_nImageWidth, pMap->m_nImageHeight), viewport()->size()), QPoint());
    ScrollToPosition(QPoint());
}

void COrvexView::OnViewOpenMapsToFit()
{
    m_bOpenToFit = !m_bOpenToFit;
    GetPlatform().WriteProfileInt(kViewSection, kOpenToFitEntry, m_bOpenToFit ? 1 : 0);
}

void COrvexView::OnViewMagnifier()
{
    m_bMagnifier = !m_bMagnifier;
    viewport()->update();
}

void COrvexView::OnViewCrosshair()
{
    m_bCrosshair = !m_bCrosshair;
    viewport()->update();
}

void COrvexView::OnViewPredictedGrid()
{
    m_bPredictedGrid = !m_bPredictedGrid;
    viewport()->update();
}

std::optional<SPredictedGrid> COrvexView::PredictedGridOnScan() const
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource || ShowsTransformed())
        return std::nullopt;
    for (int k = 0; k < 3; ++k)
        if (m_locators.LocatorX(k) < 0 || m_locators.LocatorY(k) < 0 ||
            m_locators.LocatorX(k) >= pSource->m_nImageWidth || m_locators.LocatorY(k) >= pSource->m_nImageHeight)
            return std::nullopt;
    return PredictGrid(m_locators, FoundGrid());
}

void COrvexView::SetFoundGrid(const SFoundGrid& grid)
{
    m_pFoundGridMap = grid.bFound ? SourceMap() : nullptr;
    m_pFoundGrid = m_pFoundGridMap ? std::make_shared<const SFoundGrid>(grid) : nullptr;
    viewport()->update();
}

const SFoundGrid* COrvexView::FoundGrid() const
{
    return m_pFoundGrid && m_pFoundGridMap && m_pFoundGridMap == SourceMap() ? m_pFoundGrid.get() : nullptr;
}

void COrvexView::wheelEvent(QWheelEvent* pEvent)
{
    if (!(pEvent->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(pEvent);
        return;
    }
    // Ctrl+wheel: one step per notch, about the pointer.
    const int nNotches = pEvent->angleDelta().y() / 120;
    if (nNotches == 0 || !DisplayedMap()) {
        pEvent->accept();
        return;
    }
    const CDIBWorld* pMap = DisplayedMap();
    const double dFit = CViewTransform::FitZoom(QSize(pMap->m_nImageWidth, pMap->m_nImageHeight), viewport()->size());
    double dZoom = Zoom();
    for (int i = 0; i < std::abs(nNotches); ++i)
        dZoom = nNotches > 0 ? CViewTransform::NextZoomIn(dZoom)
                             : std::max(CViewTransform::NextZoomOut(dZoom), std::min(dFit, dZoom));
    SetZoom(dZoom, pEvent->position().toPoint());
    pEvent->accept();
}

// ---- painting ----

QPoint COrvexView::LocatorPosition(int i) const
{
    if (m_bDragging && m_bLocatorDrag && m_nSelectedLocator == i + 1)
        return m_ptDragLive;
    return QPoint(m_locators.LocatorX(i), m_locators.LocatorY(i));
}

void COrvexView::paintEvent(QPaintEvent* pEvent)
{
    EnsurePyramid();
    QPainter painter(viewport());
    const QRect rectExposed = pEvent->rect();
    CViewTransform transform = Transform();
    const CDIBWorld* pMap = SourceMap() ? DisplayedMap() : nullptr;
    // A command that replaces the map (a crop) may have a status note painted at once,
    // before the view has taken the new map's size: the canvas always follows the map
    // painted, so no row or column beyond the picture is read.
    if (pMap)
        transform.SetPictureSize(QSize(pMap->m_nImageWidth, pMap->m_nImageHeight));
    QRect rectShown;
    if (pMap) {
        const QRect rectCanvas = QRect(QPoint(0, 0), transform.CanvasSize()).translated(-transform.Scroll());
        const QRect rectWindow = rectExposed.intersected(rectCanvas);
        if (!rectWindow.isEmpty()) {
            const CMapPyramid& pyramid = m_aPyramids[ShowsTransformed() ? 1 : 0];
            const SPyramidLevel* pLevel = pyramid.Picture() == pMap ? pyramid.LevelFor(transform.Zoom()) : nullptr;
            const QImage& image = m_painter.Paint(*pMap, pLevel, transform, rectWindow);
            rectShown = rectWindow;
            painter.drawImage(rectShown.topLeft(), image, QRect(QPoint(0, 0), rectWindow.size()));
        }
    }
    // Whatever the map does not cover is the window's background.
    for (const QRect& rect : QRegion(rectExposed).subtracted(rectShown))
        painter.fillRect(rect, palette().color(QPalette::Base));
    if (!SourceMap())
        return;

    if (m_bPredictedGrid && pMap && !rectShown.isEmpty())
        if (const std::optional<SPredictedGrid> grid = PredictedGridOnScan()) {
            // Only the exposed part of the picture, in picture coordinates with pixel
            // centres at whole numbers; lines closer than 4 screen pixels would hide the scan.
            const QPointF topLeft = transform.WindowToPictureF(rectShown.topLeft()) - QPointF(0.5, 0.5);
            const QPointF bottomRight =
                transform.WindowToPictureF(rectShown.bottomRight() + QPoint(1, 1)) - QPointF(0.5, 0.5);
            const QRectF rectPicture(-0.5, -0.5, pMap->m_nImageWidth, pMap->m_nImageHeight);
            const QRectF rectClip = QRectF(topLeft, bottomRight).intersected(rectPicture);
            const SFoundGrid* pFound = FoundGrid();
            DrawPredictedGrid(painter, PredictedGridLines(*grid, rectClip, 4 / transform.Zoom()), transform,
                              pFound ? MismatchedGridPieces(*grid, *pFound, rectClip) : std::vector<QLineF>());
        }
    if (m_bShowLocators)
        DrawLocators(painter);
    if (m_bCropRect && !m_bDragging)
        DrawCropRect(painter);
    if (m_bShowLocators && !ShowsTransformed()) {
        // The marker sits where PictureMarkToWindow puts a locator: a pixel's top-left corner
        // up to 100%, its centre above.
        const double dZoom = transform.Zoom();
        const double dMark = dZoom > 1 ? dZoom / 2 : 0;
        DrawFourthCornerMarker(painter, m_locators,
                               QTransform(dZoom, 0, 0, dZoom, dMark - transform.Scroll().x(), dMark - transform.Scroll().y()),
                               m_nLocatorRadius);
    }

    // The rectangle being dragged: an inverted outline, gone with the next paint.
    if (m_bDragging && m_bCropRect && m_bCropDrawn) {
        painter.save();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(m_rcCropDevice.nLeft, m_rcCropDevice.nTop),
                               QPoint(m_rcCropDevice.nRight, m_rcCropDevice.nBottom)));
        painter.restore();
    }
    if (m_bCrosshair && m_bPointerIn) {
        painter.setPen(QPen(QColor(0, 160, 255), 1));
        painter.drawLine(0, m_ptPointer.y(), viewport()->width(), m_ptPointer.y());
        painter.drawLine(m_ptPointer.x(), 0, m_ptPointer.x(), viewport()->height());
    }
    DrawBadge(painter);
    if (MagnifierShown())
        DrawMagnifier(painter);
}

void COrvexView::DrawBadge(QPainter& painter)
{
    // Which map is on the screen, in the top right-hand corner.
    const QString strBadge = ShowsTransformed() ? QStringLiteral("Transformed map") : QStringLiteral("Scan");
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect rectText = metrics.boundingRect(strBadge).adjusted(-6, -3, 6, 3);
    const QRect rectBadge(viewport()->width() - rectText.width() - 6, 6, rectText.width(), rectText.height());
    painter.save();
    painter.setPen(QColor(80, 80, 80));
    painter.setBrush(QColor(255, 255, 225));
    painter.drawRect(rectBadge.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::black);
    painter.drawText(rectBadge, Qt::AlignCenter, strBadge);
    painter.restore();
}

bool COrvexView::MagnifierShown() const
{
    return SourceMap() && DisplayedMap() && m_bPointerIn &&
           (m_bMagnifier || m_bMagnifierKey || (m_bDragging && m_bLocatorDrag));
}

QRect COrvexView::MagnifierRect() const
{
    if (!MagnifierShown())
        return QRect();
    // Above and to the right of the pointer, or on the other side where there is no room.
    const int n = kMagnifierSize + 2;  // with its frame
    int x = m_ptPointer.x() + kMagnifierOffset, y = m_ptPointer.y() - kMagnifierOffset - n;
    if (x + n > viewport()->width())
        x = m_ptPointer.x() - kMagnifierOffset - n;
    if (y < 0)
        y = m_ptPointer.y() + kMagnifierOffset;
    return QRect(x + 1, y + 1, kMagnifierSize, kMagnifierSize);
}

void COrvexView::DrawMagnifier(QPainter& painter)
{
    const CDIBWorld* pMap = DisplayedMap();
    const QRect rect = MagnifierRect();
    if (!pMap || rect.isEmpty())
        return;
    // Eight screen pixels per picture pixel, the pixel under the pointer in the middle.
    const QPoint ptPixel = Transform().WindowToPicture(m_ptPointer);
    CViewTransform magnified;
    magnified.SetPictureSize(QSize(pMap->m_nImageWidth, pMap->m_nImageHeight));
    magnified.SetZoom(kMagnifierZoom);
    const int nHalf = kMagnifierSize / 2 - kMagnifierZoom / 2;
    magnified.SetScroll(QPoint(ptPixel.x() * kMagnifierZoom - nHalf, ptPixel.y() * kMagnifierZoom - nHalf));
    const QRect rectCanvas = QRect(QPoint(0, 0), magnified.CanvasSize()).translated(-magnified.Scroll());
    const QRect rectInside = QRect(0, 0, kMagnifierSize, kMagnifierSize).intersected(rectCanvas);
    painter.save();
    painter.translate(rect.topLeft());
    painter.fillRect(QRect(0, 0, kMagnifierSize, kMagnifierSize), palette().color(QPalette::Base));
    if (!rectInside.isEmpty()) {
        const QImage& image = m_magnifierPainter.Paint(*pMap, nullptr, magnified, rectInside);
        painter.drawImage(rectInside.topLeft(), image, QRect(QPoint(0, 0), rectInside.size()));
    }
    // A thin crosshair round the pixel under the pointer.
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    const int c0 = nHalf - 1, c1 = nHalf + kMagnifierZoom;
    painter.drawLine(0, c0, c0, c0);
    painter.drawLine(c1, c0, kMagnifierSize - 1, c0);
    painter.drawLine(0, c1, c0, c1);
    painter.drawLine(c1, c1, kMagnifierSize - 1, c1);
    painter.drawLine(c0, 0, c0, c0);
    painter.drawLine(c1, 0, c1, c0);
    painter.drawLine(c0, c1, c0, kMagnifierSize - 1);
    painter.drawLine(c1, c1, c1, kMagnifierSize - 1);
    DrawMagnifiedCrossing(painter, ptPixel);
    // Its picture coordinates along the bottom.
    const QString strPosition = QStringLiteral("%1, %2").arg(ptPixel.x()).arg(ptPixel.y());
    const QRect rectText = painter.fontMetrics().boundingRect(strPosition).adjusted(-3, -1, 3, 1);
    const QRect rectLabel(0, kMagnifierSize - rectText.height(), rectText.width(), rectText.height());
    painter.fillRect(rectLabel, QColor(255, 255, 255));
    painter.setPen(Qt::black);
    painter.drawText(rectLabel, Qt::AlignCenter, strPosition);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(-1, -1, kMagnifierSize + 1, kMagnifierSize + 1));
    painter.restore();
    m_ptMagnified = ptPixel;
}

const std::optional<SCrossingLines>& COrvexView::MagnifiedCrossing()
{
    static const std::optional<SCrossingLines> kNone;
    const CDIBWorld* pMap = DisplayedMap();
    if (!pMap)
        return kNone;
    const QPoint ptPixel = Transform().WindowToPicture(m_ptPointer);
    const int nRadius = SnapRadius(Zoom());
    SMagnifiedFit& fit = m_magnifiedFit;
    if (!fit.bValid || fit.pMap != pMap || fit.ptPixel != ptPixel || fit.nRadius != nRadius) {
        fit.bValid = true, fit.pMap = pMap, fit.ptPixel = ptPixel, fit.nRadius = nRadius;
        fit.lines = CrossingLinesNear(*pMap, ptPixel, Zoom());
    }
    return fit.lines;
}

void COrvexView::DrawMagnifiedCrossing(QPainter& painter, const QPoint& ptPixel)
{
    const std::optional<SCrossingLines>& lines = MagnifiedCrossing();
    if (!lines)
        return;
    // Magnifier pixels of a picture point (pixel centres at whole numbers): the magnified
    // pixel's square starts at nHalf.
    const int nHalf = kMagnifierSize / 2 - kMagnifierZoom / 2;
    const auto ToMagnifier = [&](double x, double y) {
        return QPointF((x - ptPixel.x() + 0.5) * kMagnifierZoom + nHalf, (y - ptPixel.y() + 0.5) * kMagnifierZoom + nHalf);
    };
    const double cx = lines->crossing.dX, cy = lines->crossing.dY;
    // Past the magnifier's edges either way; the clip cuts them.
    const double dReach = double(kMagnifierSize) / kMagnifierZoom + std::hypot(cx - ptPixel.x(), cy - ptPixel.y());
    painter.save();
    painter.setClipRect(QRect(0, 0, kMagnifierSize, kMagnifierSize));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(0, 230, 0), 1));
    painter.drawLine(ToMagnifier(cx - lines->dSlopeVertical * dReach, cy - dReach),
                     ToMagnifier(cx + lines->dSlopeVertical * dReach, cy + dReach));
    painter.drawLine(ToMagnifier(cx - dReach, cy - lines->dSlopeHorizontal * dReach),
                     ToMagnifier(cx + dReach, cy + lines->dSlopeHorizontal * dReach));
    // The crossing: a small ring round the fitted point.
    painter.setPen(QPen(QColor(255, 230, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ToMagnifier(cx, cy), 4.0, 4.0);
    painter.restore();
}

void COrvexView::DrawLocators(QPainter& painter)
{
    const CViewTransform transform = Transform();
    QPoint aMarks[3];
    for (int i = 0; i < 3; ++i)
        aMarks[i] = transform.PictureMarkToWindow(LocatorPosition(i));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.drawLine(aMarks[0], aMarks[1]);
    painter.drawLine(aMarks[1], aMarks[2]);
    painter.drawLine(aMarks[2], aMarks[0]);

    painter.setPen(QPen(QColor(255, 0, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const int r = m_nLocatorRadius;
    for (int i = 0; i < 3; ++i) {
        const int x = aMarks[i].x(), y = aMarks[i].y();
        if (m_nKeyLocator == i + 1) {
            // The locator the arrow keys move: a second ring.
            painter.setPen(QPen(QColor(255, 200, 0), 3));
            painter.drawEllipse(QRect(x - r - 3, y - r - 3, 2 * r + 6, 2 * r + 6));
        }
        painter.setPen(QPen(QColor(255, 0, 0), 2));
        painter.drawEllipse(QRect(x - r, y - r, 2 * r, 2 * r));
        const QString strLabel = i == 0 && ShowsTransformed() ? QStringLiteral("1 Transformed Map") : QString::number(i + 1);
        painter.setPen(Qt::black);
        const QRect rectText = painter.fontMetrics().boundingRect(strLabel);
        painter.drawText(QRect(x + r, y, rectText.width() + 2, painter.fontMetrics().height()),
                         Qt::AlignLeft | Qt::AlignTop, strLabel);
    }
    painter.setBackgroundMode(Qt::TransparentMode);
}

void COrvexView::DrawCropRect(QPainter& painter)
{
    const CViewTransform transform = Transform();
    const QPoint topLeft = transform.PictureMarkToWindow(QPoint(m_rcCrop.nLeft, m_rcCrop.nTop));
    const QPoint bottomRight = transform.PictureMarkToWindow(QPoint(m_rcCrop.nRight, m_rcCrop.nBottom));
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    const QPoint aCorners[] = {topLeft, {bottomRight.x(), topLeft.y()}, bottomRight, {topLeft.x(), bottomRight.y()},
                               topLeft};
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

void COrvexView::MovePointerMarks(const QPoint& point)
{
    const QRect rectOld = MagnifierRect().adjusted(-2, -2, 2, 2);
    const QPoint ptOld = m_ptPointer;
    const bool bWasIn = m_bPointerIn;
    m_ptPointer = point;
    m_bPointerIn = InClient(point);
    if (!rectOld.isEmpty())
        viewport()->update(rectOld);
    const QRect rectNew = MagnifierRect().adjusted(-2, -2, 2, 2);
    if (!rectNew.isEmpty())
        viewport()->update(rectNew);
    if (m_bCrosshair) {
        const int w = viewport()->width(), h = viewport()->height();
        if (bWasIn) {
            viewport()->update(QRect(0, ptOld.y(), w, 1));
            viewport()->update(QRect(ptOld.x(), 0, 1, h));
        }
        viewport()->update(QRect(0, point.y(), w, 1));
        viewport()->update(QRect(point.x(), 0, 1, h));
    }
}

void COrvexView::leaveEvent(QEvent* pEvent)
{
    PointerLeft();
    QAbstractScrollArea::leaveEvent(pEvent);
}

bool COrvexView::viewportEvent(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::Leave)
        PointerLeft();
    return QAbstractScrollArea::viewportEvent(pEvent);
}

void COrvexView::PointerLeft()
{
    // A drag keeps the pointer's place, the panes and the marks until it ends.
    if (m_bDragging)
        return;
    if (m_bPointerIn) {
        // The marks that follow the pointer go with it.
        m_bPointerIn = false;
        viewport()->update();
    }
    ForgetPointerPosition();
}

void COrvexView::ForgetPointerPosition()
{
    m_pMapPosition->clear();
    // With a crop rectangle, pane 2 shows its corner, not the pointer.
    if (SourceMap() && !m_bCropRect)
        ShowStatusText(-2, 0, 0);
}

bool COrvexView::OverPicture(const QPoint& ptPicture) const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && ptPicture.x() >= 0 && ptPicture.y() >= 0 && ptPicture.x() < pMap->m_nImageWidth &&
           ptPicture.y() < pMap->m_nImageHeight;
}

// ---- the mouse ----

int COrvexView::HitTestLocator(const QPoint& point)
{
    if (!SourceMap())
        return 0;
    // The pick square keeps its screen size at every zoom: it is tested in window pixels
    // round the place each locator is drawn.
    const CViewTransform transform = Transform();
    const int r = m_nLocatorRadius;
    for (int i = 0; i < 3; ++i) {
        const int x = m_locators.LocatorX(i), y = m_locators.LocatorY(i);
        const QPoint mark = transform.PictureMarkToWindow(QPoint(x, y));
        if (mark.x() - r <= point.x() && point.x() < mark.x() + r && mark.y() - r <= point.y() &&
            point.y() < mark.y() + r) {
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

void COrvexView::ShowMapPosition(const QPoint& ptPicture)
{
    // Easting and northing of the pixel's centre; the edges are the centres of the edge pixels.
    const CDIBWorld* pMap = DisplayedMap();
    if (!pMap || !pMap->HasWorld() || !OverPicture(ptPicture)) {
        m_pMapPosition->clear();
        return;
    }
    const int w = pMap->m_nImageWidth, h = pMap->m_nImageHeight;
    const double dEasting = pMap->GetWest() + (w > 1 ? ptPicture.x() * (pMap->GetEast() - pMap->GetWest()) / (w - 1) : 0.0);
    const double dNorthing =
        pMap->GetNorth() - (h > 1 ? ptPicture.y() * (pMap->GetNorth() - pMap->GetSouth()) / (h - 1) : 0.0);
    m_pMapPosition->setText(QStringLiteral("E %1  N %2")
                                .arg(QString::fromStdString(FormatFixed(dEasting, 2)))
                                .arg(QString::fromStdString(FormatFixed(dNorthing, 2))));
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
            m_bLocatorDrag = true;
            m_ptDragLive = m_ptDrag;
            m_ptPointer = point;
            m_bPointerIn = true;
            viewport()->setCursor(Qt::CrossCursor);
            const QPoint picture = WindowToPicture(point);
            ShowStatusText(1, picture.x(), picture.y());
            viewport()->update();
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
    MovePointerMarks(point);
    if (!m_bCropRect) {
        if (InClient(point)) {
            const QPoint picture = WindowToPicture(point);
            if (!m_bDragging)
                ShowStatusText(101, 0, 0);
            // Over the margin beside a picture smaller than the window there is no position.
            if (OverPicture(picture) || m_bDragging) {
                ShowStatusText(2, picture.x(), picture.y());
                ShowMapPosition(picture);
            } else {
                ForgetPointerPosition();
            }
            if (m_bDragging && m_bLocatorDrag && picture != m_ptDragLive) {
                // The locator, its label and the triangle follow the pointer.
                m_ptDragLive = picture;
                viewport()->update();
            }
        } else if (m_bDragging) {
            AutoScroll(point);
        }
        return;
    }
    if (!m_bDragging) {
        if (InClient(point))
            ShowMapPosition(WindowToPicture(point));
        return;
    }
    if (InClient(point)) {
        ShowMapPosition(WindowToPicture(point));
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
            PutLocator(m_nSelectedLocator, m_ptDrag);
            SnapLocatorToGrid(*this, m_nSelectedLocator, pEvent->modifiers());  // onto a grid crossing near
        }
    }
    m_bDragging = false;
    m_bLocatorDrag = false;
    viewport()->unsetCursor();
    viewport()->update();
    emit CommandStateChanged();
}

void COrvexView::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    const QPoint point = pEvent->position().toPoint();
    if (pEvent->button() != Qt::LeftButton || !SourceMap() || m_nKeyLocator == 0 || !m_bShowLocators ||
        !InClient(point)) {
        QAbstractScrollArea::mouseDoubleClickEvent(pEvent);
        return;
    }
    // A double-click puts the chosen locator there; the first click's rectangle goes.
    m_bDragging = false;
    m_bCropRect = false;
    ShowStatusText(-1, 0, 0);
    PutLocator(m_nKeyLocator, WindowToPicture(point));
    viewport()->update();
    emit CommandStateChanged();
}

void COrvexView::PutLocator(int nLocator, const QPoint& ptPicture)
{
    if (nLocator < 1 || nLocator > 3)
        return;
    if (m_locators.LocatorX(nLocator - 1) == ptPicture.x() && m_locators.LocatorY(nLocator - 1) == ptPicture.y())
        return;
    RecordStep(BeginStep(QStringLiteral("Move Locator")));
    m_locators.SetLocator(nLocator - 1, ptPicture.x(), ptPicture.y());
}

// ---- the keyboard ----

void COrvexView::NudgeLocator(int dx, int dy)
{
    const int i = m_nKeyLocator - 1;
    PutLocator(m_nKeyLocator, QPoint(m_locators.LocatorX(i) + dx, m_locators.LocatorY(i) + dy));
    ShowStatusText(1, m_locators.LocatorX(i), m_locators.LocatorY(i));
    viewport()->update();
    emit CommandStateChanged();
}

void COrvexView::keyPressEvent(QKeyEvent* pEvent)
{
    const bool bPlain = !(pEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool bLocators = SourceMap() && m_bShowLocators && !m_bDragging;
    switch (pEvent->key()) {
    case Qt::Key_1:
    case Qt::Key_2:
    case Qt::Key_3:
        if (bPlain && bLocators) {
            m_nKeyLocator = pEvent->key() - Qt::Key_0;
            const int i = m_nKeyLocator - 1;
            ShowStatusText(1, m_locators.LocatorX(i), m_locators.LocatorY(i));
            viewport()->update();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (m_nKeyLocator != 0) {
            m_nKeyLocator = 0;
            ShowStatusText(-1, 0, 0);
            viewport()->update();
            return;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (bPlain && bLocators && m_nKeyLocator != 0) {
            const int nStep = (pEvent->modifiers() & Qt::ShiftModifier) ? 10 : 1;
            const int dx = pEvent->key() == Qt::Key_Left ? -nStep : pEvent->key() == Qt::Key_Right ? nStep : 0;
            const int dy = pEvent->key() == Qt::Key_Up ? -nStep : pEvent->key() == Qt::Key_Down ? nStep : 0;
            NudgeLocator(dx, dy);
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter confirms a locator moved with the arrow keys: onto the grid crossing near
        // it, as when one is let go after a drag. Without a chosen locator it does what it
        // did before.
        if (bPlain && bLocators && m_nKeyLocator != 0) {
            std::unique_ptr<SViewUndoStep> pStep = BeginStep(QStringLiteral("Move Locator"));
            if (SnapLocatorToGrid(*this, m_nKeyLocator, pEvent->modifiers())) {
                RecordStep(std::move(pStep));
                const int i = m_nKeyLocator - 1;
                ShowStatusText(1, m_locators.LocatorX(i), m_locators.LocatorY(i));
                viewport()->update();
                emit CommandStateChanged();
            }
            return;
        }
        break;
    case Qt::Key_M:
        if (bPlain && !pEvent->isAutoRepeat()) {
            m_bMagnifierKey = true;
            viewport()->update();
            return;
        }
        if (pEvent->isAutoRepeat())
            return;
        break;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(pEvent);
}

void COrvexView::keyReleaseEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_M && !pEvent->isAutoRepeat()) {
        m_bMagnifierKey = false;
        viewport()->update();
        return;
    }
    QAbstractScrollArea::keyReleaseEvent(pEvent);
}

// ---- commands ----

bool COrvexView::CanViewLocators() const { return SourceMap() != nullptr; }

bool COrvexView::CanViewShowTransformedMap() const { return m_locators.TransformApplied() && SourceMap(); }

bool COrvexView::CanViewMapEdgeLocations() const
{
    const CDIBWorld* pMap = DisplayedMap();
    return pMap && pMap->HasWorld();
}

bool COrvexView::CanSetupTransform() const { return SourceMap() && SourceMap()->m_nBitCount != 32; }

bool COrvexView::CanApplyTransform() const { return SourceMap() && m_locators.TransformSetUp(); }

bool COrvexView::CanMoveLocatorsToCorners() const { return !ShowsTransformed() && SourceMap(); }

bool COrvexView::CanEditMapLocation() const { return DisplayedMap() && DisplayedMap()->m_nBitCount != 32; }

bool COrvexView::CanSetupFromWorldFile() const { return !ShowsTransformed() && SourceMap(); }

bool COrvexView::CanCrop() const { return SourceMap() && m_bCropRect && SourceMap()->m_nBitCount != 32; }

bool COrvexView::CanCropToGridRectangle() const
{
    const CDIBWorld* pSource = SourceMap();
    const CDIBWorld* pMap = DisplayedMap();
    SGridCrop crop;
    return ShowsTransformed() && pSource && pMap && pMap != pSource && m_locators.TransformApplied() &&
           FindGridCrop(m_locators, pSource->m_nImageWidth, pSource->m_nImageHeight, crop) &&
           IsWholeRectifiedMap(*pMap, crop);
}

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

void COrvexView::ShowLocators()
{
    m_bShowLocators = true;
    viewport()->update();
}

void COrvexView::OnViewShowTransformedMap()
{
    if (m_pDocument)
        m_pDocument->SetShowTransformed(!m_pDocument->IsShowingTransformed());
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
    dialog.SetOptions(m_transformOptions);
    if (dialog.exec() != QDialog::Accepted)
        return;
    RecordStep(BeginStep(QStringLiteral("Setup Transform")));
    dialog.CopyTo(m_locators);
    dialog.CopyOptionsTo(m_transformOptions);
    SavePoints();
    viewport()->update();
}

void COrvexView::OnActionApplyTransform()
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource || !m_pDocument || !ConfirmLocatorsOnGrid(*this))
        return;
    // The transformed map takes the scan's coordinate system: positions it cannot have
    // make no map, positions far outside its area are warned of.
    if (const std::optional<SCoordinateSystem>& system = pSource->CoordinateSystem()) {
        const SPositionCheck check = CheckLocatorPositions(m_locators, system->geoSystem);
        if (!check.strRefusal.empty()) {
            ShowWarning(check.strRefusal);
            return;
        }
        if (!check.strWarning.empty())
            ShowWarning(check.strWarning);
    }
    const int nBitCount = pSource->m_nBitCount;
    std::unique_ptr<CDIBWorld> pTransformedMap;
    ETransformResult eResult;
    {
        CWaitCursor waitCursor;
        eResult = m_locators.NonRectangular()
                      ? TransformNonRectangular(*pSource, m_locators, nBitCount, pTransformedMap, m_transformOptions)
                      : TransformBitmap(*pSource, m_locators, nBitCount, pTransformedMap, m_transformOptions);
    }
    viewport()->update();
    // Only a map that was made counts as applied: a failure has said why, and whatever
    // transformed map there was stays with its own unsaved flag.
    if (eResult != ETransformResult::Done || !pTransformedMap)
        return;
    std::unique_ptr<SViewUndoStep> pStep = BeginStep(QStringLiteral("Apply Transform"));
    pStep->bTransformedPicture = true;
    pStep->pTransformed = m_pDocument->ExchangeTransformedMap(std::move(pTransformedMap));
    m_locators.SetTransformApplied(true);
    m_pDocument->SetTransformedModified(true);
    RecordStep(std::move(pStep));
    if (ShowsTransformed())
        OnInitialUpdate();
}

void COrvexView::OnActionMoveLocatorsToCorners()
{
    const CDIBWorld* pSource = SourceMap();
    if (!pSource)
        return;
    RecordStep(BeginStep(QStringLiteral("Move Locators to Corners")));
    m_locators.MoveLocatorsToCorners(pSource->m_nImageWidth, pSource->m_nImageHeight);
    viewport()->update();
}

void COrvexView::MarkDisplayedChanged()
{
    if (m_pDocument)
        m_pDocument->MarkShownChanged();
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
    SMapEdges edges{dialog.m_dWest, dialog.m_dNorth, dialog.m_dEast, dialog.m_dSouth};
    if (dialog.m_nEdgeMode == 1)
        edges = OutsideEdgesToCentres(pMap->m_nImageWidth, pMap->m_nImageHeight, edges);
    std::unique_ptr<SViewUndoStep> pStep = BeginStep(QStringLiteral("Edit Map Location"));
    pStep->bEdges = true;
    pStep->bEdgesOfTransformed = ShowsTransformed();
    pStep->bWorld = pMap->m_bWorld;
    pStep->dWest = pMap->GetWest(), pStep->dNorth = pMap->GetNorth(), pStep->dEast = pMap->GetEast(),
    pStep->dSouth = pMap->GetSouth();
    pMap->SetEdges(edges);
    MarkDisplayedChanged();
    RecordStep(std::move(pStep));
}

void COrvexView::OnActionSetupFromWorldFile()
{
    CDIBWorld* pSource = SourceMap();
    if (!pSource || !m_pDocument)
        return;
    COvWorldFileDlg dialog(window());
    dialog.m_strImagePath = m_pDocument->GetFilePath();
    dialog.m_nImageWidth = pSource->m_nImageWidth;
    dialog.m_nImageHeight = pSource->m_nImageHeight;
    if (dialog.exec() != QDialog::Accepted)
        return;
    pSource->SetEdges({dialog.m_dWest, dialog.m_dNorth, dialog.m_dEast, dialog.m_dSouth});
    m_pDocument->SetModifiedFlag(true);
}

void COrvexView::ReplaceDisplayedMap(std::unique_ptr<CDIBWorld> pMap, SViewUndoStep& step)
{
    // The picture that goes is kept for undo.
    const bool bTransformed = ShowsTransformed();
    (bTransformed ? step.bTransformedPicture : step.bSourcePicture) = true;
    (bTransformed ? step.pTransformed : step.pSource) = m_pDocument->ReplaceShownMap(std::move(pMap));
}

void COrvexView::Convert(int nBitCount)
{
    CDIBWorld* pMap = DisplayedMap();
    if (!pMap || !m_pDocument)
        return;
    SMadeMap made;
    {
        CWaitCursor waitCursor;
        made = ConvertMapSilent(*pMap, nBitCount);
    }
    if (!TellMadeMap(made))
        return;
    std::unique_ptr<SViewUndoStep> pStep = BeginStep(nBitCount == 8 ? QStringLiteral("Convert to 8 bit")
                                                                     : QStringLiteral("Convert to 24 bit"));
    ReplaceDisplayedMap(std::move(made.pMap), *pStep);
    RecordStep(std::move(pStep));
}

bool COrvexView::TellMadeMap(const SMadeMap& made)
{
    made.Tell();
    if (made.pMap && made.Succeeded())
        return true;
    ShowWarning(made.FullText());
    return false;
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
    const SPixelWindow window{m_rcCrop.nLeft, m_rcCrop.nTop, nWidth + 1, nHeight + 1};
    m_bCropRect = false;
    CDIBWorld* pMap = DisplayedMap();
    if (!pMap || !m_pDocument)
        return;
    // A map without a georeference is not cropped here: the cut would lose its place.
    SMadeMap made = CropMapSilent(*pMap, window);
    if (TellMadeMap(made))
        PutCutMap(std::move(made.pMap), QStringLiteral("Crop"));
}

void COrvexView::PutCutMap(std::unique_ptr<CDIBWorld> pMap, const QString& strName)
{
    std::unique_ptr<SViewUndoStep> pStep = BeginStep(strName);
    ReplaceDisplayedMap(std::move(pMap), *pStep);
    RecordStep(std::move(pStep));
    m_bCropRect = false;
    OnInitialUpdate();
    ScrollToPosition(QPoint(0, 0));
}

void COrvexView::OnActionCrop()
{
    Crop();
    viewport()->update();
}

void COrvexView::OnActionCropToGridRectangle()
{
    if (!CanCropToGridRectangle() || !m_pDocument)
        return;
    const CDIBWorld* pSource = SourceMap();
    SGridCrop crop;
    FindGridCrop(m_locators, pSource->m_nImageWidth, pSource->m_nImageHeight, crop);
    std::string strError;
    std::unique_ptr<CDIBWorld> pKept;
    {
        CWaitCursor waitCursor;
        pKept = CropToGrid(*DisplayedMap(), crop, strError);
    }
    if (!pKept) {
        ShowWarning(strError);
        return;
    }
    PutCutMap(std::move(pKept), QStringLiteral("Crop to Grid Rectangle"));
    viewport()->update();
}

void COrvexView::OnActionConvertToGreyScale()
{
    if (CDIBWorld* pMap = DisplayedMap()) {
        // The picture as it was is kept for undo (a copy: the change is in place).
        std::unique_ptr<SViewUndoStep> pStep = BeginStep(QStringLiteral("Convert to Grey Scale"));
        auto pCopy = std::make_unique<CDIBWorld>();
        if (pCopy->CreateImage(pMap->m_nBitCount, pMap, true, true, true, false, false)) {
            (ShowsTransformed() ? pStep->bTransformedPicture : pStep->bSourcePicture) = true;
            (ShowsTransformed() ? pStep->pTransformed : pStep->pSource) = std::move(pCopy);
        } else {
            pStep.reset();
        }
        // The reduced copies are made again from the new pixels.
        OnMapChanging(pMap);
        pMap->ConvertToGreyScale();
        EnsurePyramid();
        MarkDisplayedChanged();
        if (pStep)
            RecordStep(std::move(pStep));
    }
    viewport()->update();
}

// ---- the locators remembered beside the scan ----

std::string COrvexView::PointsPath() const
{
    return m_pDocument && !m_pDocument->GetFilePath().empty() ? m_pDocument->GetFilePath() + ".points" : std::string();
}

void COrvexView::SavePoints()
{
    // Only a rectangular grid is described by the file's three corner points.
    const std::string strPath = PointsPath();
    if (strPath.empty() || m_locators.NonRectangular())
        return;
    if (!WritePointsFile(strPath, m_locators, std::string()) && m_fnStatusText)
        m_fnStatusText(0, QStringLiteral("The locators could not be kept in %1").arg(QString::fromStdString(strPath)));
}

void COrvexView::RestorePoints()
{
    const std::string strPath = PointsPath();
    if (strPath.empty() || !QFileInfo::exists(QString::fromStdString(strPath)))
        return;
    CLocatorSet locators = m_locators;
    std::string strProblem;
    if (!ReadPointsFile(strPath, locators, strProblem)) {
        if (m_fnStatusText)
            m_fnStatusText(0, QStringLiteral("The locators beside the map were not restored: %1")
                                  .arg(QString::fromStdString(strProblem)));
        return;
    }
    locators.SetTransformSetUp(true);
    m_locators = locators;
    if (m_fnStatusText)
        m_fnStatusText(0, QStringLiteral("Locators restored from %1").arg(QFileInfo(QString::fromStdString(strPath)).fileName()));
}

// ---- undo ----

std::unique_ptr<SViewUndoStep> COrvexView::BeginStep(const QString& strName) const
{
    auto pStep = std::make_unique<SViewUndoStep>();
    pStep->strName = strName;
    pStep->locators = m_locators;
    if (m_pDocument) {
        pStep->bModified = m_pDocument->IsModified();
        pStep->bTransformedModified = m_pDocument->IsTransformedModified();
    }
    return pStep;
}

void COrvexView::RecordStep(std::unique_ptr<SViewUndoStep> pStep)
{
    if (!pStep || !m_pDocument)
        return;
    // The flags are read once the command has set them.
    pStep->bModifiedAfter = m_pDocument->IsModified();
    pStep->bTransformedModifiedAfter = m_pDocument->IsTransformedModified();
    NoteDroppedSteps(m_undo.Push(std::move(pStep)));
}

void COrvexView::NoteDroppedSteps(int nDropped)
{
    if (nDropped > 0 && m_fnStatusText)
        m_fnStatusText(0, QStringLiteral("The oldest undo steps were dropped to stay within %1 MB")
                              .arg(qulonglong(m_undo.Budget() >> 20)));
}

std::unique_ptr<SViewUndoStep> COrvexView::TakeStep(bool bUndo)
{
    const bool bHadStep = bUndo ? m_undo.CanUndo() : m_undo.CanRedo();
    std::unique_ptr<SViewUndoStep> pStep = bUndo ? m_undo.TakeUndo() : m_undo.TakeRedo();
    if (!pStep && bHadStep) {
        if (m_fnStatusText)
            m_fnStatusText(0, QStringLiteral("The undo step could not be read back from its temporary file (%1)")
                                  .arg(m_undo.Problem()));
        emit CommandStateChanged();
    }
    return pStep;
}

void COrvexView::OnEditUndoMemory()
{
    bool bOk = false;
    const int nMB = QInputDialog::getInt(this, QStringLiteral("Undo Memory"),
                                         QStringLiteral("Memory for the pictures undo keeps, in MB\n"
                                                        "(older pictures go to a temporary file):"),
                                         int(m_undo.Budget() >> 20), 16, 1 << 20, 64, &bOk);
    if (!bOk)
        return;
    GetPlatform().WriteProfileInt(kViewSection, kUndoBudgetEntry, nMB);
    m_undo.SetBudget(std::size_t(nMB) << 20);
}

std::unique_ptr<SViewUndoStep> COrvexView::ApplyStep(SViewUndoStep& step)
{
    std::unique_ptr<SViewUndoStep> pInverse = BeginStep(step.strName);
    m_locators = step.locators;
    if (step.bSourcePicture && step.pSource) {
        pInverse->bSourcePicture = true;
        pInverse->pSource = m_pDocument->ExchangeImage(std::move(step.pSource));
    }
    if (step.bTransformedPicture) {
        pInverse->bTransformedPicture = true;
        // The document stops showing a transformed map that goes.
        pInverse->pTransformed = m_pDocument->ExchangeTransformedMap(std::move(step.pTransformed));
    }
    if (step.bEdges) {
        CDIBWorld* pMap = step.bEdgesOfTransformed ? m_pDocument->GetTransformedMap() : m_pDocument->GetImage();
        if (pMap) {
            pInverse->bEdges = true;
            pInverse->bEdgesOfTransformed = step.bEdgesOfTransformed;
            pInverse->bWorld = pMap->m_bWorld;
            pInverse->dWest = pMap->GetWest(), pInverse->dNorth = pMap->GetNorth(), pInverse->dEast = pMap->GetEast(),
            pInverse->dSouth = pMap->GetSouth();
            if (step.bWorld)
                pMap->SetEdges({step.dWest, step.dNorth, step.dEast, step.dSouth});
            else
                pMap->m_bWorld = 0;
        }
    }
    // The flags from before the step, unless the map was saved since: then it differs
    // from its file again.
    const bool bModified = m_pDocument->IsModified(), bTransformedModified = m_pDocument->IsTransformedModified();
    m_pDocument->SetModifiedFlag(bModified == step.bModifiedAfter ? step.bModified : true);
    m_pDocument->SetTransformedModified(bTransformedModified == step.bTransformedModifiedAfter
                                            ? step.bTransformedModified
                                            : true);
    pInverse->bModifiedAfter = m_pDocument->IsModified();
    pInverse->bTransformedModifiedAfter = m_pDocument->IsTransformedModified();
    // A crop rectangle or a dragged locator belongs to the state that went.
    m_bCropRect = false;
    m_bDragging = false;
    m_bLocatorDrag = false;
    return pInverse;
}

void COrvexView::OnEditUndo()
{
    std::unique_ptr<SViewUndoStep> pStep = TakeStep(true);
    if (!pStep || !m_pDocument)
        return;
    NoteDroppedSteps(m_undo.PushRedo(ApplyStep(*pStep)));
    OnInitialUpdate();
    emit CommandStateChanged();
}

void COrvexView::OnEditRedo()
{
    std::unique_ptr<SViewUndoStep> pStep = TakeStep(false);
    if (!pStep || !m_pDocument)
        return;
    NoteDroppedSteps(m_undo.PushUndoKeepRedo(ApplyStep(*pStep)));
    OnInitialUpdate();
    emit CommandStateChanged();
}

}  // namespace gridmorph
