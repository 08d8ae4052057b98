#pragma once

#include <QPoint>
#include <Qt>
#include <optional>

#include "grid/GridFinder.h"

namespace gridmorph {

class COrvexView;

// The grid finder in the window: Action > Find Grid, the snap of a released locator and
// the check of the locators before the transform is set up or applied.

// View > Snap to Grid: on until the user turns it off (for this run of the program).
bool& SnapToGridEnabled();

// Locator nLocator (1..3) was let go: onto the grid crossing within 12 screen pixels, unless
// snapping is off or Shift+Alt was held. Returns true when it moved.
bool SnapLocatorToGrid(COrvexView& view, int nLocator, Qt::KeyboardModifiers modifiers);

// How far the snap reaches, in picture pixels, at a zoom.
int SnapRadius(double dZoom);

// The two grid lines fitted at the crossing the snap would put a locator on from the
// picture pixel, for the magnifier; none away from a crossing.
std::optional<SCrossingLines> CrossingLinesNear(const CDIBImage& picture, const QPoint& ptPixel, double dZoom);

// Finds the grid on the source map, puts locators 1 to 3 on the corners of its largest
// rectangle and, when the labels were read, their eastings and northings, then opens the
// Transform dialog to confirm them. A sheet without a grid says so.
void FindGridInView(COrvexView& view);

// Before Setup Transform and Apply: when the grid on the scan differs from the one the
// three locators predict, warns ("Locator N is probably on the wrong grid line") and asks
// whether to go on. True to go on.
bool ConfirmLocatorsOnGrid(COrvexView& view);

}  // namespace gridmorph
