#include "view/PredictedGrid.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "grid/GridFinder.h"
#include "transform/LocatorSet.h"
#include "view/ViewTransform.h"

namespace gridmorph {
namespace {

// No view needs more lines of a family than this; a runaway step (a tiny map distance
// typed by mistake) is left out instead of looping.
constexpr double kMostLinesPerFamily = 20000;

// The part of the line through p in direction d that lies in rect (Liang and Barsky),
// and of it the points p + t d with t0 <= t <= t1.
std::optional<QLineF> ClipLine(const QPointF& p, const QPointF& d, const QRectF& rect, double t0 = -1e300,
                               double t1 = 1e300)
{
    const auto Edge = [&](double dDirection, double dLow, double dHigh, double dAt) {
        if (std::fabs(dDirection) < 1e-12)
            return dLow <= dAt && dAt <= dHigh;
        double ta = (dLow - dAt) / dDirection, tb = (dHigh - dAt) / dDirection;
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        return t0 <= t1;
    };
    if (!Edge(d.x(), rect.left(), rect.right(), p.x()) || !Edge(d.y(), rect.top(), rect.bottom(), p.y()))
        return std::nullopt;
    return QLineF(p + t0 * d, p + t1 * d);
}

}  // namespace

QPointF SPredictedGrid::ToPixel(double dEasting, double dNorthing) const
{
    const double e = dEasting - dEasting1, n = dNorthing - dNorthing1;
    return QPointF(aToPixel[0] * e + aToPixel[1] * n + dX1, aToPixel[2] * e + aToPixel[3] * n + dY1);
}

double RoundGridStep(double dEastingRange, double dNorthingRange)
{
    const double dE = std::fabs(dEastingRange), dN = std::fabs(dNorthingRange);
    const double dLargest = std::max(dE, dN);
    if (!(dLargest > 0) || !std::isfinite(dLargest))
        return 0;
    const auto Whole = [](double dRange, double dStep) {
        const double dCells = dRange / dStep;
        return std::fabs(dCells - std::round(dCells)) < 1e-6 * std::max(1.0, dCells);
    };
    // From the step of the whole distance down to the one that makes 50 cells of it.
    for (int k = int(std::floor(std::log10(dLargest))); k >= int(std::floor(std::log10(dLargest / 50))) - 1; --k)
        for (const double m : {5.0, 2.5, 2.0, 1.0}) {
            const double dStep = m * std::pow(10.0, k);
            if (dStep > dLargest || dLargest / dStep > 50)
                continue;
            if (Whole(dE, dStep) && Whole(dN, dStep))
                return dStep;
        }
    return 0;
}

std::optional<SPredictedGrid> PredictGrid(const CLocatorSet& locators, const SFoundGrid* pFound)
{
    double aE[3], aN[3];
    for (int k = 0; k < 3; ++k)
        aE[k] = locators.Easting(k), aN[k] = locators.Northing(k);
    if (!locators.NonRectangular())
        aE[1] = aE[2], aN[1] = aN[0];
    SPredictedGrid grid;
    grid.dX1 = locators.LocatorX(0), grid.dY1 = locators.LocatorY(0);
    grid.dEasting1 = aE[0], grid.dNorthing1 = aN[0];
    // Solve the 2 x 2 system of locators 2 and 3 about locator 1.
    const double e2 = aE[1] - aE[0], n2 = aN[1] - aN[0], e3 = aE[2] - aE[0], n3 = aN[2] - aN[0];
    const double det = e2 * n3 - n2 * e3;
    if (!std::isfinite(det) || std::fabs(det) <= 1e-9 * (std::fabs(e2) + std::fabs(n2)) * (std::fabs(e3) + std::fabs(n3)))
        return std::nullopt;
    const double x2 = locators.LocatorX(1) - grid.dX1, y2 = locators.LocatorY(1) - grid.dY1;
    const double x3 = locators.LocatorX(2) - grid.dX1, y3 = locators.LocatorY(2) - grid.dY1;
    double* m = grid.aToPixel;
    m[0] = (x2 * n3 - n2 * x3) / det, m[1] = (e2 * x3 - x2 * e3) / det;
    m[2] = (y2 * n3 - n2 * y3) / det, m[3] = (e2 * y3 - y2 * e3) / det;
    // The three pixels must make a triangle too, or no map position has one pixel.
    if (std::fabs(x2 * y3 - y2 * x3) < 1.0)
        return std::nullopt;
    const double dRangeE = *std::max_element(aE, aE + 3) - *std::min_element(aE, aE + 3);
    const double dRangeN = *std::max_element(aN, aN + 3) - *std::min_element(aN, aN + 3);
    if (pFound && pFound->bFound && pFound->dSpacingX > 0 && pFound->dSpacingY > 0) {
        // The found spacing in map units: pixels between lines over pixels per map unit
        // across the lines (the gradient of easting, or northing, on the picture).
        const double dPixelDet = m[0] * m[3] - m[1] * m[2];
        const double dGradE = std::hypot(m[3], m[1]) / std::fabs(dPixelDet);
        const double dGradN = std::hypot(m[2], m[0]) / std::fabs(dPixelDet);
        const double nCellsE = std::max(1.0, std::round(dRangeE / (pFound->dSpacingX * dGradE)));
        const double nCellsN = std::max(1.0, std::round(dRangeN / (pFound->dSpacingY * dGradN)));
        grid.dStepEasting = dRangeE / nCellsE;
        grid.dStepNorthing = dRangeN / nCellsN;
    } else {
        // Without the scan's grid, the largest round step that divides both map distances:
        // every line drawn then is one of the sheet's lines when the locators are right,
        // though a sheet with a finer grid shows only every few of its lines. Map
        // distances no round step divides give the lines through the locators alone.
        const double dStep = RoundGridStep(dRangeE, dRangeN);
        grid.dStepEasting = dStep > 0 ? dStep : dRangeE;
        grid.dStepNorthing = dStep > 0 ? dStep : dRangeN;
    }
    if (!(grid.dStepEasting > 0) || !(grid.dStepNorthing > 0))
        return std::nullopt;
    return grid;
}

std::vector<QLineF> PredictedGridLines(const SPredictedGrid& grid, const QRectF& rectClip, double dMinSpacing)
{
    std::vector<QLineF> aLines;
    const double* m = grid.aToPixel;
    const double dPixelDet = m[0] * m[3] - m[1] * m[2];
    if (rectClip.isEmpty() || std::fabs(dPixelDet) < 1e-300)
        return aLines;
    // Map positions of the clip rectangle's corners: the range of lines that can cross it.
    const QPointF aCorners[4] = {rectClip.topLeft(), rectClip.topRight(), rectClip.bottomLeft(), rectClip.bottomRight()};
    double dMinE = 1e300, dMaxE = -1e300, dMinN = 1e300, dMaxN = -1e300;
    for (const QPointF& corner : aCorners) {
        const double dx = corner.x() - grid.dX1, dy = corner.y() - grid.dY1;
        const double e = (m[3] * dx - m[1] * dy) / dPixelDet, n = (-m[2] * dx + m[0] * dy) / dPixelDet;
        dMinE = std::min(dMinE, e), dMaxE = std::max(dMaxE, e);
        dMinN = std::min(dMinN, n), dMaxN = std::max(dMaxN, n);
    }
    // Each family: the lines' direction on the picture and their distance apart in pixels.
    const auto Family = [&](double dStep, double dMin, double dMax, double dGradient, bool bEasting) {
        if (dStep < dMinSpacing * dGradient)
            return;
        const double k0 = std::ceil(dMin / dStep), k1 = std::floor(dMax / dStep);
        if (k1 - k0 > kMostLinesPerFamily)
            return;
        const QPointF direction = bEasting ? QPointF(m[1], m[3]) : QPointF(m[0], m[2]);
        for (double k = k0; k <= k1; ++k) {
            const QPointF point = bEasting ? grid.ToPixel(grid.dEasting1 + k * dStep, grid.dNorthing1)
                                           : grid.ToPixel(grid.dEasting1, grid.dNorthing1 + k * dStep);
            if (const std::optional<QLineF> line = ClipLine(point, direction, rectClip))
                aLines.push_back(*line);
        }
    };
    // Map units per pixel across each family's lines.
    Family(grid.dStepEasting, dMinE, dMaxE, std::hypot(m[3], m[1]) / std::fabs(dPixelDet), true);
    Family(grid.dStepNorthing, dMinN, dMaxN, std::hypot(m[2], m[0]) / std::fabs(dPixelDet), false);
    return aLines;
}

std::vector<QLineF> MismatchedGridPieces(const SPredictedGrid& grid, const SFoundGrid& found, const QRectF& rectClip,
                                         double dTolerance)
{
    std::vector<QLineF> aPieces;
    const double* m = grid.aToPixel;
    const double dPixelDet = m[0] * m[3] - m[1] * m[2];
    if (!found.bFound || rectClip.isEmpty() || std::fabs(dPixelDet) < 1e-300)
        return aPieces;
    const QPointF stepE(m[0] * grid.dStepEasting, m[2] * grid.dStepEasting);
    const QPointF stepN(m[1] * grid.dStepNorthing, m[3] * grid.dStepNorthing);
    const double dHalfCell = 0.5 * std::min(std::hypot(stepE.x(), stepE.y()), std::hypot(stepN.x(), stepN.y()));
    const QRectF rectNear = rectClip.adjusted(-2 * dHalfCell, -2 * dHalfCell, 2 * dHalfCell, 2 * dHalfCell);
    for (int j = 0; j < found.nRows; ++j)
        for (int i = 0; i < found.nColumns; ++i) {
            if (!found.Found(i, j) || !rectNear.contains(found.X(i, j), found.Y(i, j)))
                continue;
            // The predicted crossing nearest the found one, by map position.
            const double dx = found.X(i, j) - grid.dX1, dy = found.Y(i, j) - grid.dY1;
            const double e = (m[3] * dx - m[1] * dy) / dPixelDet, n = (-m[2] * dx + m[0] * dy) / dPixelDet;
            const double dEasting = grid.dEasting1 + std::round(e / grid.dStepEasting) * grid.dStepEasting;
            const double dNorthing = grid.dNorthing1 + std::round(n / grid.dStepNorthing) * grid.dStepNorthing;
            const QPointF predicted = grid.ToPixel(dEasting, dNorthing);
            const double d = std::hypot(predicted.x() - found.X(i, j), predicted.y() - found.Y(i, j));
            if (d <= dTolerance || d >= dHalfCell)
                continue;
            // Both predicted lines through it, half a cell either way.
            for (const QPointF& step : {stepN, stepE})
                if (const std::optional<QLineF> piece = ClipLine(predicted, step, rectClip, -0.5, 0.5))
                    aPieces.push_back(*piece);
        }
    return aPieces;
}

void DrawPredictedGrid(QPainter& painter, const std::vector<QLineF>& aLines, const CViewTransform& transform,
                       const std::vector<QLineF>& aMismatched)
{
    if (aLines.empty())
        return;
    // A pixel's centre is half a pixel in from its top-left corner on the screen.
    const double z = transform.Zoom();
    const QTransform toScreen(z, 0, 0, z, z / 2 - transform.Scroll().x(), z / 2 - transform.Scroll().y());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Opaque: Qt's raster engine draws a half-transparent thin line some 25 times slower
    // (measured with bench_overlays), and a one-pixel line hides little of the scan.
    QPen pen(QColor(0, 200, 255), 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    std::vector<QLineF> aScreen;
    aScreen.reserve(aLines.size());
    for (const QLineF& line : aLines)
        aScreen.push_back(toScreen.map(line));
    painter.drawLines(aScreen.data(), int(aScreen.size()));
    if (!aMismatched.empty()) {
        aScreen.clear();
        for (const QLineF& line : aMismatched)
            aScreen.push_back(toScreen.map(line));
        pen.setColor(QColor(255, 60, 0));
        painter.setPen(pen);
        painter.drawLines(aScreen.data(), int(aScreen.size()));
    }
    painter.restore();
}

}  // namespace gridmorph
