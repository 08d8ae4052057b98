#include "view/ViewTransform.h"

#include <algorithm>
#include <cmath>

namespace gridmorph {
namespace {

// From a sixty-fourth of the picture to sixteen screen pixels per picture pixel.
constexpr double kaZoomSteps[] = {1.0 / 64, 1.0 / 48, 1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6,
                                  1.0 / 4,  1.0 / 3,  1.0 / 2,  2.0 / 3,  1.0,      1.5,      2.0,      3.0,
                                  4.0,      6.0,      8.0,      12.0,     16.0};
// Zooms this close to a step count as that step.
constexpr double kSameZoom = 1e-6;

}  // namespace

void CViewTransform::SetZoom(double dZoom) { m_dZoom = std::clamp(dZoom, kMinZoom, kMaxZoom); }

QSize CViewTransform::CanvasSize() const
{
    return QSize(static_cast<int>(std::ceil(m_sizePicture.width() * m_dZoom - kSameZoom)),
                 static_cast<int>(std::ceil(m_sizePicture.height() * m_dZoom - kSameZoom)));
}

int CViewTransform::CanvasToPicture(int n) const
{
    if (m_dZoom == 1.0)
        return n;
    // The small allowance keeps n / (1/3) from landing just below a whole number.
    return static_cast<int>(std::floor(n / m_dZoom + 1e-9));
}

QPoint CViewTransform::WindowToPicture(const QPoint& point) const
{
    return QPoint(CanvasToPicture(point.x() + m_ptScroll.x()), CanvasToPicture(point.y() + m_ptScroll.y()));
}

QPointF CViewTransform::WindowToPictureF(const QPointF& point) const
{
    return QPointF((point.x() + m_ptScroll.x()) / m_dZoom, (point.y() + m_ptScroll.y()) / m_dZoom);
}

QPoint CViewTransform::PictureToWindow(const QPoint& point) const
{
    if (m_dZoom == 1.0)
        return point - m_ptScroll;
    return QPoint(static_cast<int>(std::ceil(point.x() * m_dZoom - 1e-9)) - m_ptScroll.x(),
                  static_cast<int>(std::ceil(point.y() * m_dZoom - 1e-9)) - m_ptScroll.y());
}

QPoint CViewTransform::PictureMarkToWindow(const QPoint& point) const
{
    if (m_dZoom <= 1.0)
        return PictureToWindow(point);
    return QPoint(static_cast<int>(std::floor((point.x() + 0.5) * m_dZoom)) - m_ptScroll.x(),
                  static_cast<int>(std::floor((point.y() + 0.5) * m_dZoom)) - m_ptScroll.y());
}

double CViewTransform::NextZoomIn(double dZoom)
{
    for (double dStep : kaZoomSteps)
        if (dStep > dZoom * (1 + kSameZoom))
            return dStep;
    return kMaxZoom;
}

double CViewTransform::NextZoomOut(double dZoom)
{
    for (auto it = std::rbegin(kaZoomSteps); it != std::rend(kaZoomSteps); ++it)
        if (*it < dZoom * (1 - kSameZoom))
            return *it;
    return kMinZoom;
}

double CViewTransform::FitZoom(const QSize& sizePicture, const QSize& sizeWindow)
{
    if (sizePicture.isEmpty() || sizeWindow.isEmpty())
        return 1.0;
    const double dZoom = std::min({1.0, double(sizeWindow.width()) / sizePicture.width(),
                                   double(sizeWindow.height()) / sizePicture.height()});
    return std::clamp(dZoom, kMinZoom, kMaxZoom);
}

QPoint CViewTransform::ScrollKeeping(const QPointF& ptPicture, const QPoint& ptWindow) const
{
    // The window pixel's centre goes back onto the same place of the picture, as near as
    // whole scroll steps allow; from 100% up it stays inside the same picture pixel.
    auto axis = [this](double dPicture, int nWindow) {
        int nScroll = static_cast<int>(std::ceil(dPicture * m_dZoom - (nWindow + 0.5) - 0.5));
        if (m_dZoom >= 1.0) {
            const double dPixel = std::floor(dPicture);
            const int nLow = static_cast<int>(std::ceil(dPixel * m_dZoom - 1e-9)) - nWindow;
            const int nHigh = static_cast<int>(std::ceil((dPixel + 1) * m_dZoom - 1e-9)) - 1 - nWindow;
            nScroll = std::clamp(nScroll, nLow, std::max(nLow, nHigh));
        }
        return nScroll;
    };
    return QPoint(axis(ptPicture.x(), ptWindow.x()), axis(ptPicture.y(), ptWindow.y()));
}

}  // namespace gridmorph
