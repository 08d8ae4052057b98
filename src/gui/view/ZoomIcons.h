#pragma once

#include <QIcon>

namespace gridmorph {

enum class EZoomIcon { ZoomIn, ZoomOut, ActualSize, FitWholeMap };

// The zoom commands' toolbar pictures, drawn at 16 x 16 and twice that.
QIcon ZoomIcon(EZoomIcon eIcon);

}  // namespace gridmorph
