#pragma once

#include <Qt>
#include <string>

class QWidget;

namespace gridmorph {

class CPlatform;

// The main window's placement as the settings keep it, in section "WINDOW SIZE": "Rect"
// holds the restored rectangle (left, top, right, bottom; right and bottom one past the
// last pixel) as four zero-padded fields of at least four characters, "Icon" says the
// window was minimized, "Max" that it was maximized or minimized from maximized.
struct SWindowPlacement {
    int nLeft = 0;
    int nTop = 0;
    int nRight = 0;
    int nBottom = 0;
    bool bIcon = false;
    bool bMax = false;
};

std::string FormatPlacementRect(int nLeft, int nTop, int nRight, int nBottom);
// The numbers that start at characters 0, 5, 10 and 15; false for a text that does not
// hold four numbers there.
bool ParsePlacementRect(const std::string& strRect, int& nLeft, int& nTop, int& nRight, int& nBottom);

// Icon and Max from a window's state, and the state to show from them.
void PlacementFlags(Qt::WindowStates eStates, bool& bIcon, bool& bMax);
Qt::WindowStates StatesFromPlacement(bool bIcon, bool bMax);

// Stores the window's placement; reads it back (false when none is stored).
void SaveWindowPlacement(CPlatform& platform, const QWidget& window);
bool ReadWindowPlacement(CPlatform& platform, SWindowPlacement& placement);
// Gives the window its stored restored rectangle and returns the state to show it in;
// without a stored placement the window keeps the platform's default and shows normal.
Qt::WindowStates ApplyWindowPlacement(CPlatform& platform, QWidget& window);

}  // namespace gridmorph
