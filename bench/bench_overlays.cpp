// The grid overlays of the view on a 12000 x 9000 sheet (the sample tiled): the magnifier's
// line fit at a crossing (the work done once each time the magnified pixel changes) at the
// snap radius of 100% and of 25%, and the predicted grid of a 1920 x 1080 window (the lines
// cut to the window and drawn) beside the paint of the map itself in the same window at
// 100%, the view's paint without the overlay. Processor time, best of five, in ms.
//
//   bench_overlays SAMPLE.jpg
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <functional>

#include "BenchSupport.h"
#include "grid/GridFinder.h"
#include "image/DIBImage.h"
#include "transform/LocatorSet.h"
#include "view/GridInView.h"
#include "view/MapPainter.h"
#include "view/PredictedGrid.h"
#include "view/ViewTransform.h"

using namespace gridmorph;

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_overlays SAMPLE.jpg\n");
        return 2;
    }
    CDIBImage tile;
    if (!tile.OpenDIB(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    CDIBImage scan;
    bench::MakeTiledScan(tile, 12000, 9000, scan);
    // The sample's grid rectangle (data/sample/sample-map.locators), in the middle tile.
    const int x0 = 2 * tile.m_nImageWidth, y0 = 3 * tile.m_nImageHeight;
    CLocatorSet locators;
    const int aX[3] = {313, 1663, 1656}, aY[3] = {305, 331, 1253};
    for (int k = 0; k < 3; ++k)
        locators.SetLocator(k, x0 + aX[k], y0 + aY[k]);
    locators.SetMapPosition(0, 512250, 6231250);
    locators.SetEasting(2, 513750);
    locators.SetMapPosition(1, locators.Easting(2), 6231250);
    locators.SetNorthing(2, 6230250);

    const auto Ms = [](const std::function<void()>& fnWork) { return 1000 * bench::CpuSeconds(fnWork, 5); };
    bool bFound = true;
    for (const double dZoom : {1.0, 0.25}) {
        const QPoint pixel(x0 + 313 + 5, y0 + 305 - 4);
        const double d = Ms([&] { bFound &= CrossingLinesNear(scan, pixel, dZoom).has_value(); });
        std::printf("magnifier fit at a crossing, zoom %4.0f%% (radius %3d): %6.2f ms%s\n", 100 * dZoom,
                    SnapRadius(dZoom), d, bFound ? "" : "  NOT FOUND");
    }

    const QSize sizeWindow(1920, 1080);
    const std::optional<SPredictedGrid> grid = PredictGrid(locators, nullptr);
    if (!grid) {
        std::fprintf(stderr, "no predicted grid\n");
        return 1;
    }
    QImage window(sizeWindow, QImage::Format_RGB32);
    CMapPainter painter;
    for (const double dZoom : {1.0, 0.25, 1.0 / 16}) {
        CViewTransform transform;
        transform.SetPictureSize(QSize(scan.m_nImageWidth, scan.m_nImageHeight));
        transform.SetZoom(dZoom);
        transform.SetScroll(QPoint(int(x0 * dZoom), int(y0 * dZoom)));
        const QRect rectWindow(QPoint(0, 0), sizeWindow);
        std::size_t nLines = 0;
        const double dOverlay = Ms([&] {
            const QPointF topLeft = transform.WindowToPictureF(QPointF(0, 0)) - QPointF(0.5, 0.5);
            const QPointF bottomRight = transform.WindowToPictureF(QPointF(sizeWindow.width(), sizeWindow.height())) -
                                        QPointF(0.5, 0.5);
            const QRectF rectClip =
                QRectF(topLeft, bottomRight).intersected(QRectF(-0.5, -0.5, scan.m_nImageWidth, scan.m_nImageHeight));
            const std::vector<QLineF> aLines = PredictedGridLines(*grid, rectClip, 4 / dZoom);
            nLines = aLines.size();
            QPainter paint(&window);
            DrawPredictedGrid(paint, aLines, transform);
        });
        std::printf("predicted grid in 1920 x 1080 at %6.2f%%: %3zu lines, %6.3f ms", 100 * dZoom, nLines, dOverlay);
        if (dZoom == 1.0)
            std::printf("; the map's own paint there %6.2f ms",
                        Ms([&] { painter.Paint(scan, nullptr, transform, rectWindow); }));
        std::printf("\n");
    }
    return bFound ? 0 : 1;
}
