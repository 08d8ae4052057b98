#pragma once

#include <QIcon>

class QPainter;

namespace gridmorph {

enum class EToolbarIcon { New, Open, Save, Help };

// The toolbar's icons: the desktop theme's where it has them, else our own drawings.
QIcon ToolbarIcon(EToolbarIcon eIcon);
// An icon drawn by fnDraw on a 32 x 32 design grid, at the sizes toolbars and menus ask for.
QIcon DrawnIcon(void (*fnDraw)(QPainter&));
// The program's icon: a map sheet with its grid and the first locator.
QIcon ProgramIcon();

}  // namespace gridmorph
