#pragma once

#include <QIcon>

namespace gridmorph {

enum class EToolbarIcon { New, Open, Save, Help };

// The toolbar's icons: the desktop theme's where it has them, else our own drawings.
QIcon ToolbarIcon(EToolbarIcon eIcon);
// The program's icon: a map sheet with its grid and the first locator.
QIcon ProgramIcon();

}  // namespace gridmorph
