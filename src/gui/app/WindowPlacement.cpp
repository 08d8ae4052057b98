#include "app/WindowPlacement.h"

#include <QWidget>
#include <charconv>
#include <cstdio>

#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kSection = "WINDOW SIZE";

}  // namespace

std::string FormatPlacementRect(int nLeft, int nTop, int nRight, int nBottom)
{
    char szText[64];
    std::snprintf(szText, sizeof szText, "%04d %04d %04d %04d", nLeft, nTop, nRight, nBottom);
    return szText;
}

bool ParsePlacementRect(const std::string& strRect, int& nLeft, int& nTop, int& nRight, int& nBottom)
{
    int* apValues[] = {&nLeft, &nTop, &nRight, &nBottom};
    for (int i = 0; i < 4; ++i) {
        const std::size_t nStart = static_cast<std::size_t>(5 * i);
        if (nStart >= strRect.size())
            return false;
        const char* pFirst = strRect.data() + nStart;
        const char* pLast = strRect.data() + strRect.size();
        if (*pFirst == '+')
            ++pFirst;
        if (std::from_chars(pFirst, pLast, *apValues[i]).ec != std::errc())
            return false;
    }
    return true;
}

void PlacementFlags(Qt::WindowStates eStates, bool& bIcon, bool& bMax)
{
    bIcon = eStates.testFlag(Qt::WindowMinimized);
    // Minimized from maximized: the window comes back maximized.
    bMax = eStates.testFlag(Qt::WindowMaximized);
}

Qt::WindowStates StatesFromPlacement(bool bIcon, bool bMax)
{
    Qt::WindowStates eStates = Qt::WindowNoState;
    if (bIcon)
        eStates |= Qt::WindowMinimized;
    if (bMax)
        eStates |= Qt::WindowMaximized;
    return eStates;
}

void SaveWindowPlacement(CPlatform& platform, const QWidget& window)
{
    const QRect rect = window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    bool bIcon = false, bMax = false;
    PlacementFlags(window.windowState(), bIcon, bMax);
    platform.WriteProfileString(kSection, "Rect",
                                FormatPlacementRect(rect.left(), rect.top(), rect.left() + rect.width(),
                                                    rect.top() + rect.height()));
    platform.WriteProfileInt(kSection, "Icon", bIcon ? 1 : 0);
    platform.WriteProfileInt(kSection, "Max", bMax ? 1 : 0);
}

bool ReadWindowPlacement(CPlatform& platform, SWindowPlacement& placement)
{
    const std::string strRect = platform.GetProfileString(kSection, "Rect", "");
    if (strRect.empty() ||
        !ParsePlacementRect(strRect, placement.nLeft, placement.nTop, placement.nRight, placement.nBottom))
        return false;
    placement.bIcon = platform.GetProfileInt(kSection, "Icon", 0) != 0;
    placement.bMax = platform.GetProfileInt(kSection, "Max", 0) != 0;
    return true;
}

Qt::WindowStates ApplyWindowPlacement(CPlatform& platform, QWidget& window)
{
    SWindowPlacement placement;
    if (!ReadWindowPlacement(platform, placement))
        return Qt::WindowNoState;
    // A stored rectangle of no size (hand-edited settings) keeps the default size.
    if (placement.nRight > placement.nLeft && placement.nBottom > placement.nTop)
        window.setGeometry(placement.nLeft, placement.nTop, placement.nRight - placement.nLeft,
                           placement.nBottom - placement.nTop);
    return StatesFromPlacement(placement.bIcon, placement.bMax);
}

}  // namespace gridmorph
