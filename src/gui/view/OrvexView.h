#pragma once

#include <QAbstractScrollArea>
#include <QPoint>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>

#include "grid/GridFinder.h"

#include "transform/LocatorSet.h"
#include "transform/TransformOptions.h"
#include "view/MapPainter.h"
#include "view/MapPyramid.h"
#include "view/PredictedGrid.h"
#include "view/ViewTransform.h"
#include "view/ViewUndo.h"

class QLabel;

namespace gridmorph {

class CDIBWorld;
class CMapDocument;

// A rectangle as the mouse gives it: left, top, right, bottom.
struct SRectEdges {
    int nLeft = 0, nTop = 0, nRight = 0, nBottom = 0;
    bool operator==(const SRectEdges&) const = default;
};

// The map view: the displayed map (the current map, or the transformed map when switched
// to it) from the top-left corner at a zoom (100% at first: one screen pixel per picture
// pixel), with the three locators over it. Shift-drag moves a locator; a plain drag draws
// the crop rectangle. Picking, crops and status texts are in picture pixels at every zoom;
// circles, labels and the pick distance keep their screen size.
// It keeps no map of its own: the document's maps are read afresh before every paint and
// command. It owns the locator set and runs the View and Action commands.
class COrvexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvexView(QWidget* pParent = nullptr);
    ~COrvexView() override;

    void SetDocument(CMapDocument* pDocument);
    // Where status texts go: the function is given pane 1 or 2 of the frame's status bar
    // and the text for it.
    void SetStatusTextSink(std::function<void(int, const QString&)> fnStatusText);

    // Sizes the canvas to the displayed map (100 x 100 without one) and repaints.
    void OnInitialUpdate();
    // The document's maps changed: repaint.
    void OnUpdate();
    void ResetLocators();

    CDIBWorld* SourceMap() const;
    // Whether the transformed map is shown: the document keeps which map is shown.
    bool ShowsTransformed() const;
    CDIBWorld* DisplayedMap() const;
    CLocatorSet& Locators() { return m_locators; }
    const CLocatorSet& Locators() const { return m_locators; }
    STransformOptions& TransformOptions() { return m_transformOptions; }

    // Locator picking: 1, 2 or 3 for the first locator whose pick square (closed on the
    // left and top, open on the right and bottom) holds the window point, else 0.
    int HitTestLocator(const QPoint& point);
    // The picture <-> window transform at the present zoom and scroll position.
    CViewTransform Transform() const;
    double Zoom() const { return m_transform.Zoom(); }
    // Sets the zoom keeping the picture point under the window point where it is.
    void SetZoom(double dZoom, const QPoint& ptAnchor);
    void SetZoom(double dZoom);
    // Undo and redo of the locator moves and the commands that change a map or its flags.
    void OnEditUndo();
    void OnEditRedo();
    bool CanUndo() const { return m_undo.CanUndo(); }
    bool CanRedo() const { return m_undo.CanRedo(); }
    CViewUndo& UndoList() { return m_undo; }
    // Edit > Undo Memory: the budget of the pictures undo keeps in memory, in MB, remembered.
    void OnEditUndoMemory();
    void OnViewZoomIn();
    void OnViewZoomOut();
    void OnViewActualSize();
    void OnViewFitWholeMap();
    void OnViewOpenMapsToFit();
    void OnViewMagnifier();
    void OnViewCrosshair();
    void OnViewPredictedGrid();
    bool CanZoom() const { return DisplayedMap() != nullptr; }
    bool OpensMapsToFit() const { return m_bOpenToFit; }
    // The check marks of View > Magnifier, Crosshair and Predicted Grid.
    bool MagnifierOn() const { return m_bMagnifier; }
    bool CrosshairOn() const { return m_bCrosshair; }
    bool PredictedGridOn() const { return m_bPredictedGrid; }
    // The grid the three locators predict on the scan, while the scan is shown, the
    // locators lie on it and their map positions make a grid.
    std::optional<SPredictedGrid> PredictedGridOnScan() const;
    bool CanViewPredictedGrid() const { return PredictedGridOnScan().has_value(); }
    // The grid Find Grid or the locator check last found on the source map, kept for the
    // predicted grid's spacing until the map changes; null without one.
    void SetFoundGrid(const SFoundGrid& grid);
    const SFoundGrid* FoundGrid() const;
    // The window rectangle the magnifier is drawn in now (empty when it is not shown), and
    // the picture pixel at its centre.
    QRect MagnifierRect() const;
    QPoint MagnifierPixel() const { return m_ptMagnified; }
    // The grid lines fitted at the crossing near the magnified pixel (the crossing a locator
    // let go there would snap to), drawn in the magnifier; none away from a crossing. The
    // fit runs once for each magnified pixel.
    const std::optional<SCrossingLines>& MagnifiedCrossing();
    static constexpr int kMagnifierSize = 160;
    static constexpr int kMagnifierZoom = 8;
    // The label beside the pixel position that shows the easting and northing under the
    // pointer on a georeferenced map; the frame puts it in its status bar.
    QLabel* MapPositionLabel() const { return m_pMapPosition; }
    // The map is about to be replaced, discarded or changed in place: stop reading it.
    void OnMapChanging(const CDIBWorld* pMap);
    // The reduced copies of the source (0) and the transformed map (1).
    const CMapPyramid& Pyramid(int nMap) const { return m_aPyramids[nMap]; }
    // The locator the last press picked (0 for none); it stays picked after the drag.
    int SelectedLocator() const { return m_nSelectedLocator; }
    // Panes 1 and 2 for the present: without a map empty; with a crop rectangle its
    // corners; else the source's extent and the picture position under the pointer (none
    // when the pointer is not over the view). Not during a drag.
    void RefreshStatusPanes();
    QPoint WindowToPicture(const QPoint& point) const;
    QPoint ScrollPosition() const;
    void ScrollToPosition(const QPoint& position);
    // Scrolls so that the three locators, their circles and labels are in the window at the
    // present zoom; when they cannot all be, locator 1 is put in the middle. Nothing moves
    // when they are all shown already.
    void ScrollToShowLocators();

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
    void OnActionCropToGridRectangle();
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
    // Crop to Grid Rectangle: the transformed map is shown and is the whole map the present
    // locators make (on the scan the rectangle is not upright).
    bool CanCropToGridRectangle() const;
    bool CanConvertTo24Bit() const;
    bool CanConvertTo8Bit() const;
    bool CanConvertToGreyScale() const;

    // View > Locators: its check mark, and the locators shown again (after a command put
    // them on the map).
    bool ShowsLocators() const { return m_bShowLocators; }
    void ShowLocators();

signals:
    // A command changed a map or a flag: the frame re-evaluates its commands.
    void CommandStateChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    bool viewportEvent(QEvent* pEvent) override;

private:
    void SelectLocator(int nLocator);
    void ShowStatusText(int nPane, int x, int y);
    void UpdateScrollBars();
    void AutoScroll(const QPoint& point);
    bool InClient(const QPoint& point) const;
    void Convert(int nBitCount);
    void Crop();
    // Tells the boxes of a crop or conversion and, when it made no usable map, the warning
    // with its error; true when the map can take the displayed map's place.
    bool TellMadeMap(const struct SMadeMap& made);
    // A new picture takes the displayed map's place, with its unsaved flag.
    void ReplaceDisplayedMap(std::unique_ptr<CDIBWorld> pMap, SViewUndoStep& step);
    // The same for a cut-down map, as an undo step of that name, shown from its top-left.
    void PutCutMap(std::unique_ptr<CDIBWorld> pMap, const QString& strName);
    // A step with the locators and flags as they are now, and its recording once the
    // command has done its work.
    std::unique_ptr<SViewUndoStep> BeginStep(const QString& strName) const;
    void RecordStep(std::unique_ptr<SViewUndoStep> pStep);
    // The status-bar note for steps the undo budget dropped.
    void NoteDroppedSteps(int nDropped);
    // The next undo (or redo) step, its pictures in memory; a note when it was lost.
    std::unique_ptr<SViewUndoStep> TakeStep(bool bUndo);
    // Puts the step's state in place and returns the state it replaced.
    std::unique_ptr<SViewUndoStep> ApplyStep(SViewUndoStep& step);
    // The locators of a rectangular grid are kept beside the scan (NAME.points) when the
    // transform is set up, and put back when the scan is opened again.
    std::string PointsPath() const;
    void SavePoints();
    void RestorePoints();
    void MarkDisplayedChanged();
    void DrawLocators(class QPainter& painter);
    void DrawCropRect(class QPainter& painter);
    void UpdateDragOutline(const SRectEdges& previous);
    SRectEdges DeviceToPicture(const SRectEdges& rect) const;
    SRectEdges PictureToDevice(const SRectEdges& rect) const;

    void DrawMagnifier(class QPainter& painter);
    void DrawMagnifiedCrossing(class QPainter& painter, const QPoint& ptPixel);
    void DrawBadge(class QPainter& painter);
    // The easting and northing of a picture pixel; none off the picture.
    void ShowMapPosition(const QPoint& ptPicture);
    // The pointer left the view, or is over no picture pixel: its position is shown no more.
    void PointerLeft();
    void ForgetPointerPosition();
    bool OverPicture(const QPoint& ptPicture) const;
    // The marks that follow the pointer (magnifier, crosshair) move to a new pointer.
    void MovePointerMarks(const QPoint& point);
    bool MagnifierShown() const;
    void EnsurePyramid();
    void StorePlace();
    void NudgeLocator(int dx, int dy);
    void PutLocator(int nLocator, const QPoint& ptPicture);
    // Where each locator is drawn: the dragged one at the pointer.
    QPoint LocatorPosition(int i) const;

    CMapDocument* m_pDocument = nullptr;
    CLocatorSet m_locators;
    STransformOptions m_transformOptions;  // the Transform dialog's resampling and clip
    CMapPainter m_painter;
    CMapPainter m_magnifierPainter;
    CViewTransform m_transform;
    CViewUndo m_undo;
    bool m_bRestorePoints = false;
    // The zoom and scroll position of the source (0) and the transformed map (1), kept
    // while the other is shown; unset until the map is first shown.
    struct SPlace {
        bool bSet = false;
        double dZoom = 1.0;
        QPoint ptScroll;
    };
    SPlace m_aPlaces[2];
    CMapPyramid m_aPyramids[2];
    bool m_bOpenToFit = false;
    bool m_bMagnifierKey = false;  // M held
    bool m_bPointerIn = false;
    QPoint m_ptPointer;           // the pointer, window pixels
    QPoint m_ptMagnified;
    // MagnifiedCrossing's last answer and what it was asked for.
    struct SMagnifiedFit {
        bool bValid = false;
        const CDIBWorld* pMap = nullptr;
        QPoint ptPixel;
        int nRadius = 0;
        std::optional<SCrossingLines> lines;
    };
    SMagnifiedFit m_magnifiedFit;
    std::shared_ptr<const SFoundGrid> m_pFoundGrid;
    const CDIBWorld* m_pFoundGridMap = nullptr;
    bool m_bLocatorDrag = false;  // a locator (not a crop rectangle) is being dragged
    QPoint m_ptDragLive;          // where the dragged locator is, picture pixels
    QLabel* m_pMapPosition = nullptr;
    // Where status texts go: pane 1 or 2 of the frame's status bar.
    std::function<void(int, const QString&)> m_fnStatusText;
    bool m_bMagnifier = false;      // View > Magnifier
    bool m_bCrosshair = false;      // View > Crosshair
    bool m_bPredictedGrid = false;  // View > Predicted Grid
    // The locator chosen with the keys 1, 2, 3 (0 for none): the arrow keys move it and a
    // double-click puts it under the pointer.
    int m_nKeyLocator = 0;
    bool m_bShowLocators = true;  // View > Locators
    int m_nLocatorRadius = 10;
    bool m_bDragging = false;  // a locator or a crop rectangle follows the pointer
    int m_nSelectedLocator = 0;
    QPoint m_ptDrag;
    SRectEdges m_rcCropDevice;  // window pixels while dragging
    SRectEdges m_rcCrop;        // picture pixels; right and bottom inclusive for Crop
    bool m_bCropRect = false;
    bool m_bCropDrawn = false;
};

}  // namespace gridmorph
