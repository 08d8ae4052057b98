#include "transform/LocatorChecks.h"

#include <cmath>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace gridmorph {
namespace {

bool InLine(double x1, double y1, double x2, double y2, double x3, double y3)
{
    const double dx = x3 - x1;
    const double dy = y3 - y1;
    if (std::fabs(dx) <= 1.0 && std::fabs(dy) <= 1.0)
        return true;  // points 1 and 3 coincide within one unit
    if (std::fabs(dy) > std::fabs(dx)) {
        const double t = (y2 - y1) * dx / dy + x1;  // x of the line at point 2's row
        return std::fabs(x2 - t) <= 1.0;
    }
    const double t = (x2 - x1) * dy / dx + y1;
    return std::fabs(y2 - t) <= 1.0;
}

}  // namespace

bool ArePixelsInLine(int nX1, int nY1, int nX2, int nY2, int nX3, int nY3)
{
    // Integer positions and their differences are exact in double, so converting first
    // gives the same result as taking the integer differences first.
    return InLine(nX1, nY1, nX2, nY2, nX3, nY3);
}

bool AreMapPointsInLine(double dEast1, double dNorth1, double dEast2, double dNorth2, double dEast3, double dNorth3)
{
    return InLine(dEast1, dNorth1, dEast2, dNorth2, dEast3, dNorth3);
}

SLocatorCheck FindFailingCheck(const CLocatorSet& locators, int nFirstCheck)
{
    const double E1 = locators.Easting(0), E2 = locators.Easting(1), E3 = locators.Easting(2);
    const double N1 = locators.Northing(0), N2 = locators.Northing(1), N3 = locators.Northing(2);
    const int* X = locators.LocatorXs();
    const int* Y = locators.LocatorYs();
    const bool bNonRectangular = locators.NonRectangular();
    struct SRule {
        bool bFails;
        const char* pMessage;
        bool bQuestion;
        ELocatorField eFocus;
    };
    const SRule aRules[8] = {
        {std::fabs(E3 - E1) <= 1.0, "Point 1 and 3 eastings must be different", false, ELocatorField::EastingOfPoint3},
        {std::fabs(N3 - N1) <= 1.0, "Point 1 and 3 northings must be different", false, ELocatorField::NorthingOfPoint3},
        {E3 < E1, "Point 3 easting is usually greater than point 1\n\nContinue?", true, ELocatorField::EastingOfPoint3},
        {N3 > N1, "Point 3 northing is usually less than point 1\n\nContinue?", true, ELocatorField::NorthingOfPoint3},
        {ArePixelsInLine(X[0], Y[0], X[1], Y[1], X[2], Y[2]),
         "The X and Y pixel positions of the locators are in a straight line.\n\nA transform cannot be made.", false,
         ELocatorField::XOfPoint1},
        {bNonRectangular && std::fabs(E2 - E1) <= 1.0, "Point 1 and 2 eastings must be different", false,
         ELocatorField::EastingOfPoint2},
        {bNonRectangular && std::fabs(N3 - N2) <= 1.0, "Point 2 and 3 northings must be different", false,
         ELocatorField::NorthingOfPoint2},
        {bNonRectangular && AreMapPointsInLine(E1, N1, E2, N2, E3, N3),
         "The east and north positions of the locators are in a straight line.\n\nA transform cannot be made.", false,
         ELocatorField::EastingOfPoint1},
    };
    for (int n = nFirstCheck < 1 ? 1 : nFirstCheck; n <= 8; ++n) {
        const SRule& rule = aRules[n - 1];
        if (rule.bFails)
            return SLocatorCheck{n, rule.pMessage, rule.bQuestion, rule.eFocus};
    }
    return SLocatorCheck{};
}

SLocatorCheck RunLocatorChecks(const CLocatorSet& locators)
{
    SLocatorCheck check = FindFailingCheck(locators, 1);
    while (!check.Passed()) {
        if (!check.bQuestion) {
            ShowWarning(check.strMessage);
            return check;
        }
        if (GetPlatform().MessageBox(check.strMessage, EMessageKind::QuestionYesNo) != EAnswer::Yes)
            return check;
        check = FindFailingCheck(locators, check.nCheck + 1);
    }
    return check;
}

SPositionCheck CheckLocatorPositions(const CLocatorSet& locators, const SGeoSystem& system)
{
    std::vector<SMapPosition> aPositions;
    for (int i = 0; i < 3; ++i)
        if (i != 1 || locators.NonRectangular())
            aPositions.push_back({"point " + std::to_string(i + 1), locators.Easting(i), locators.Northing(i)});
    return CheckMapPositions(system, aPositions);
}

}  // namespace gridmorph
