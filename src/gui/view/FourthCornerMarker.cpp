#include "view/FourthCornerMarker.h"

#include <QPainter>
#include <QPointF>
#include <cmath>

#include "io/Numbers.h"
#include "transform/FourthCorner.h"

namespace gridmorph {

std::optional<QPointF> PredictedFourthCorner(const CLocatorSet& locators)
{
    if (locators.NonRectangular())
        return std::nullopt;
    SFourthCornerCheck check;
    if (!CheckFourthCorner(locators, nullptr, check))
        return std::nullopt;
    // Far beyond any picture: the map positions are not those of one grid rectangle yet.
    if (std::fabs(check.dPredictedX) > 1e7 || std::fabs(check.dPredictedY) > 1e7)
        return std::nullopt;
    return QPointF(check.dPredictedX, check.dPredictedY);
}

void DrawFourthCornerMarker(QPainter& painter, const CLocatorSet& locators, const QTransform& pictureToScreen,
                            int nRadius)
{
    const std::optional<QPointF> corner = PredictedFourthCorner(locators);
    if (!corner)
        return;
    const QPointF centre = pictureToScreen.map(*corner);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Dashed and without the triangle's lines: a prediction, not a locator.
    QPen pen(QColor(255, 0, 0), 2, Qt::DashLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, nRadius, nRadius);
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.drawLine(centre - QPointF(nRadius / 2.0, 0), centre + QPointF(nRadius / 2.0, 0));
    painter.drawLine(centre - QPointF(0, nRadius / 2.0), centre + QPointF(0, nRadius / 2.0));
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QString strLabel = QStringLiteral("4?");
    const QRectF rectText(centre + QPointF(nRadius, 0), painter.fontMetrics().size(0, strLabel) + QSizeF(2, 0));
    painter.drawText(rectText, Qt::AlignLeft | Qt::AlignTop, strLabel);
    painter.restore();
}

QString FourthCornerStatusText(const CLocatorSet& locators)
{
    const std::optional<QPointF> corner = PredictedFourthCorner(locators);
    if (!corner)
        return QString();
    return QStringLiteral("Corner 4 expected at %1, %2")
        .arg(QString::fromStdString(FormatFixed(corner->x(), 0)), QString::fromStdString(FormatFixed(corner->y(), 0)));
}

}  // namespace gridmorph
