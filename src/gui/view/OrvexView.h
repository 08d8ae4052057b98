#pragma once

#include <QAbstractScrollArea>
#include <QPoint>
#include <QRect>
#include <functional>

#include "transform/LocatorSet.h"
#include "view/MapPainter.h"

namespace gridmorph {

class CDIBWorld;
class CMapDocument;

// A rectangle as the mouse gives it: left, top, right, bottom.
struct SRectEdges {
    int nLeft = 0, nTop = 0, nRight = 0, nBottom = 0;
    bool operator==(const SRectEdges&) const = default;
};

// The map view: the displayed map (the current map, or the transformed map when switched
// to it) at one screen pixel per picture pixel from the top-left corner, with the three
// locators over it. Shift-drag moves a locator; a plain drag draws the crop rectangle.
// It keeps no map of its own: the document's maps are read afresh before every paint and
// command. It owns the locator set and runs the View and Action commands.
class COrvexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvexView(QWidget* pParent = nullptr);

    void SetDocument(CMapDocument* pDocument);
    // Where status texts go: pane 1 or 2 of the frame's status bar.
    std::function<void(int, const QString&)> m_fnStatusText;
    // The Setup from World File dialog: given the document's path and the source's size,
    // fills the four edges and returns true on OK. Until one is set, the command does nothing.
    std::function<bool(const std::string&, int, int, double&, double&, double&, double&)> m_fnWorldFileDialog;

    // Sizes the canvas to the displayed map (100 x 100 without one) and repaints.
    void OnInitialUpdate();
    // The document's maps changed: repaint.
    void OnUpdate();
    void ResetLocators();

    CDIBWorld* SourceMap() const;
    CDIBWorld* DisplayedMap() const;
    CLocatorSet& Locators() { return m_locators; }
    const CLocatorSet& Locators() const { return m_locators; }

    // Locator picking: 1, 2 or 3 for the first locator whose pick square (closed on the
    // left and top, open on the right and bottom) holds the window point, else 0.
    int HitTestLocator(const QPoint& point);
    void SelectLocator(int nLocator);
    void ShowStatusText(int nPane, int x, int y);
    // Panes 1 and 2 for the present: without a map empty; with a crop rectangle its
    // corners; else the source's extent and the picture position under the pointer (none
    // when the pointer is not over the view). Not during a drag.
    void RefreshStatusPanes();
    QPoint WindowToPicture(const QPoint& point) const;
    QPoint ScrollPosition() const;
    void ScrollToPosition(const QPoint& position);

    // The commands of the View and Action menus, and when they are available.
    void OnViewLocators();
    void OnViewShowTransformedMap();
    void OnViewMapEdgeLocations();
    void OnActionSetupTransform();
    void OnActionApplyTransform();
    void OnActionMoveLocatorsToCorners();
    void OnActionEditMapLocation();
    void OnActionSetupFromWorldFile();
    void OnActionCrop();
    void OnActionConvertTo24Bit();
    void OnActionConvertTo8Bit();
    void OnActionConvertToGreyScale();
    bool CanViewLocators() const;
    bool CanViewShowTransformedMap() const;
    bool CanViewMapEdgeLocations() const;
    bool CanSetupTransform() const;
    bool CanApplyTransform() const;
    bool CanMoveLocatorsToCorners() const;
    bool CanEditMapLocation() const;
    bool CanSetupFromWorldFile() const;
    bool CanCrop() const;
    bool CanConvertTo24Bit() const;
    bool CanConvertTo8Bit() const;
    bool CanConvertToGreyScale() const;

    bool m_bShowLocators = true;
    bool m_bShowTransformed = false;
    int m_nLocatorRadius = 10;
    bool m_bDragging = false;
    int m_nSelectedLocator = 0;
    QPoint m_ptDrag;
    SRectEdges m_rcCropDevice;  // window pixels while dragging
    SRectEdges m_rcCrop;        // picture pixels; right and bottom inclusive for Crop
    bool m_bCropRect = false;
    bool m_bCropDrawn = false;

signals:
    // A command changed a map or a flag: the frame re-evaluates its commands.
    void CommandStateChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    void UpdateScrollBars();
    void AutoScroll(const QPoint& point);
    bool InClient(const QPoint& point) const;
    void Convert(int nBitCount);
    void Crop();
    // A new picture takes the displayed map's place, with its unsaved flag.
    void ReplaceDisplayedMap(std::unique_ptr<CDIBWorld> pMap);
    void MarkDisplayedChanged();
    void DrawLocators(class QPainter& painter);
    void DrawCropRect(class QPainter& painter);
    void UpdateDragOutline(const SRectEdges& previous);
    SRectEdges DeviceToPicture(const SRectEdges& rect) const;
    SRectEdges PictureToDevice(const SRectEdges& rect) const;

    CMapDocument* m_pDocument = nullptr;
    CLocatorSet m_locators;
    CMapPainter m_painter;
};

}  // namespace gridmorph
