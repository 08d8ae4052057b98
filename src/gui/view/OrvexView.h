#pragma once

#include <QAbstractScrollArea>

#include "transform/LocatorSet.h"
#include "view/MapPainter.h"

namespace gridmorph {

class CDIBWorld;
class CMapDocument;

// The map view: the displayed map (the current map, or the transformed map when the
// document says so) at one screen pixel per picture pixel from the top-left corner,
// with scroll bars sized to it. It keeps no map of its own: the document's maps are
// read afresh before every paint. It owns the locator set.
class COrvexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvexView(QWidget* pParent = nullptr);

    void SetDocument(CMapDocument* pDocument);
    // The document's maps changed: size the canvas to the displayed map and repaint.
    void OnUpdate();
    void ResetLocators();

    CDIBWorld* DisplayedMap() const;
    const CLocatorSet& Locators() const { return m_locators; }
    // The picture pixel under a viewport position.
    QPoint ViewportToPicture(const QPoint& point) const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void UpdateScrollBars();

    CMapDocument* m_pDocument = nullptr;
    CLocatorSet m_locators;
    CMapPainter m_painter;
};

}  // namespace gridmorph
