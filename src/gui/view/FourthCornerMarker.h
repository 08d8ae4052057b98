#pragma once

#include <QString>
#include <QTransform>
#include <optional>

class QPainter;
class QPointF;

namespace gridmorph {

class CLocatorSet;

// The grid rectangle's fourth (bottom-left) corner as three rectangular locators with
// their eastings and northings predict it, in source pixels; none while the set gives no
// transform (map positions not yet typed, or a non-rectangular grid).
std::optional<QPointF> PredictedFourthCorner(const CLocatorSet& locators);

// Draws the prediction as a hollow, dashed marker labelled "4": a scan whose grid corner
// lies elsewhere has a locator on the wrong grid line. pictureToScreen maps source pixels
// (0, 0 at the top-left pixel) to the painter's coordinates.
void DrawFourthCornerMarker(QPainter& painter, const CLocatorSet& locators, const QTransform& pictureToScreen,
                            int nRadius);

// "Corner 4 expected at 306, 1227", or "" without a prediction.
QString FourthCornerStatusText(const CLocatorSet& locators);

}  // namespace gridmorph
