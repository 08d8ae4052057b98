#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

namespace gridmorph {

// How the view puts the picture on the screen: a zoom (screen pixels per picture pixel)
// and the scroll position of the window's top-left corner on the zoomed canvas. Painting,
// picking, dragging and the status texts all go through it, so that they agree at every
// zoom; at 100% a window point is the picture point plus the scroll position.
class CViewTransform {
public:
    // The zoom steps, from 1/64 up to 16 (1600%); 1 is among them.
    static constexpr double kMinZoom = 1.0 / 64.0;
    static constexpr double kMaxZoom = 16.0;

    double Zoom() const { return m_dZoom; }
    void SetZoom(double dZoom);
    QPoint Scroll() const { return m_ptScroll; }
    void SetScroll(const QPoint& ptScroll) { m_ptScroll = ptScroll; }
    QSize PictureSize() const { return m_sizePicture; }
    void SetPictureSize(const QSize& size) { m_sizePicture = size; }

    // The zoomed picture's size in screen pixels.
    QSize CanvasSize() const;
    // The picture pixel under a window point (whole pixels, floored; it may lie outside
    // the picture).
    QPoint WindowToPicture(const QPoint& point) const;
    // The same with the fraction of the pixel kept.
    QPointF WindowToPictureF(const QPointF& point) const;
    // The window point of a picture pixel's top-left corner.
    QPoint PictureToWindow(const QPoint& point) const;
    // Where a picture pixel is marked on the screen (a locator's centre, a crop line): its
    // top-left corner up to 100%, its centre when each pixel is a square of several.
    QPoint PictureMarkToWindow(const QPoint& point) const;
    // The picture column (or row) shown in canvas column (or row) n: floor(n / zoom).
    int CanvasToPicture(int n) const;

    // The next step up or down the zoom ladder from dZoom; Fit-like zooms between steps go
    // to the neighbouring step.
    static double NextZoomIn(double dZoom);
    static double NextZoomOut(double dZoom);
    // The largest zoom at which a picture of this size fits in the window, at most 1.
    static double FitZoom(const QSize& sizePicture, const QSize& sizeWindow);
    // The scroll position that keeps the picture point (where the window pixel's centre
    // was) under the window pixel after a change of zoom (before clamping to the canvas).
    QPoint ScrollKeeping(const QPointF& ptPicture, const QPoint& ptWindow) const;

private:
    double m_dZoom = 1.0;
    QPoint m_ptScroll;
    QSize m_sizePicture;
};

}  // namespace gridmorph
