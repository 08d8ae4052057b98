#pragma once

class QWidget;

namespace gridmorph {

class COrvexView;

// The position panes are written when the pointer moves over the view. After a box or a
// dialog has been in front of the window, the pointer may be somewhere else: each time the
// window is no longer blocked by a modal box or dialog, and each time it becomes the
// active one again, the view rewrites the panes for where the pointer is now.
void RefreshStatusPanesOnActivation(COrvexView& view, QWidget& window);

}  // namespace gridmorph
