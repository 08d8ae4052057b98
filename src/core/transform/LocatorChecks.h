#pragma once

#include <string>

#include "transform/LocatorSet.h"
#include "world/CoordinateSystem.h"

namespace gridmorph {

// The field a failing check puts the focus into.
enum class ELocatorField { None, XOfPoint1, EastingOfPoint1, EastingOfPoint2, NorthingOfPoint2, EastingOfPoint3, NorthingOfPoint3 };

struct SLocatorCheck {
    int nCheck = 0;  // 1..8; 0 when every check passed
    std::string strMessage;
    bool bQuestion = false;  // a Yes/No question whose Yes goes on to the next check
    ELocatorField eFocus = ELocatorField::None;

    bool Passed() const { return nCheck == 0; }
};

// Three points in line within one unit: the deviation of point 2 from the line through
// points 1 and 3, measured across the line's dominant direction.
bool ArePixelsInLine(int nX1, int nY1, int nX2, int nY2, int nX3, int nY3);
bool AreMapPointsInLine(double dEast1, double dNorth1, double dEast2, double dNorth2, double dEast3, double dNorth3);

// The first failing check numbered nFirstCheck or higher, in the fixed order; checks 6 to
// 8 apply to a non-rectangular set only.
SLocatorCheck FindFailingCheck(const CLocatorSet& locators, int nFirstCheck = 1);

// Runs the checks with message boxes through the platform: errors are shown, questions
// asked, a Yes going on to the next check. Returns the check that stopped the set (its
// focus field says where the dialog puts the cursor), or a passed result.
SLocatorCheck RunLocatorChecks(const CLocatorSet& locators);

// The locators' map positions checked against the coordinate system the map is made in
// (see CheckMapPositions): points 1 and 3, and point 2 of a non-rectangular set. The
// window's Apply Transform and every rectify of the command line and of a batch ask it.
SPositionCheck CheckLocatorPositions(const CLocatorSet& locators, const SGeoSystem& system);

}  // namespace gridmorph
