#include "view/GridInView.h"

#include <algorithm>
#include <cmath>

#include <QApplication>

#include "grid/GridFinder.h"
#include "io/Numbers.h"
#include "platform/Platform.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

// The snap reaches this far on the screen, whatever the zoom; in picture pixels at most
// kLargestSnapRadius, so a zoomed-out view does not search half a sheet.
constexpr int kSnapRadius = 12;
constexpr int kLargestSnapRadius = 512;

}  // namespace

bool& SnapToGridEnabled()
{
    static bool bEnabled = true;
    return bEnabled;
}

bool SnapLocatorToGrid(COrvexView& view, int nLocator, Qt::KeyboardModifiers modifiers)
{
    const CDIBWorld* pSource = view.SourceMap();
    if (!pSource || nLocator < 1 || nLocator > 3 || !SnapToGridEnabled() ||
        ((modifiers & Qt::ShiftModifier) && (modifiers & Qt::AltModifier)))
        return false;
    CLocatorSet& locators = view.Locators();
    const int x = locators.LocatorX(nLocator - 1), y = locators.LocatorY(nLocator - 1);
    const std::optional<SGridCrossing> crossing = SnapToGridCrossing(*pSource, x, y, SnapRadius(view.Transform().Zoom()));
    if (!crossing || (crossing->nX == x && crossing->nY == y))
        return false;
    locators.SetLocator(nLocator - 1, crossing->nX, crossing->nY);
    return true;
}

int SnapRadius(double dZoom)
{
    return std::clamp(static_cast<int>(std::lround(kSnapRadius / dZoom)), 1, kLargestSnapRadius);
}

std::optional<SCrossingLines> CrossingLinesNear(const CDIBImage& picture, const QPoint& ptPixel, double dZoom)
{
    return FitCrossingLines(picture, ptPixel.x(), ptPixel.y(), SnapRadius(dZoom));
}

void FindGridInView(COrvexView& view)
{
    const CDIBWorld* pSource = view.SourceMap();
    if (!pSource)
        return;
    SFoundGrid grid;
    {
        CWaitCursor waitCursor;
        grid = FindGrid(*pSource);
    }
    view.SetFoundGrid(grid);
    if (!grid.bFound) {
        ShowWarning("No map grid was found on this map: " + grid.strWhy + ".");
        return;
    }
    CLocatorSet& locators = view.Locators();
    for (int k = 0; k < 3; ++k) {
        locators.SetLocator(k, grid.aLocators[k].nX, grid.aLocators[k].nY);
    }
    if (grid.bLabelsRead) {
        locators.SetMapPosition(0, grid.dEasting[0], grid.dNorthing[0]);
        locators.SetMapPosition(2, grid.dEasting[1], grid.dNorthing[1]);
        locators.SetMapPosition(1, grid.dEasting[1], grid.dNorthing[0]);
    }
    locators.SetNonRectangular(false);
    view.ShowLocators();
    // The boxes that follow talk about the locators: they are in the window behind them.
    view.ScrollToShowLocators();
    emit view.CommandStateChanged();
    if (!grid.bLabelsRead)
        ShowInformation("The locators are on the corners of the largest grid rectangle found.\n\nThe coordinate labels "
                        "could not be read with confidence (" +
                        (grid.strLabelNote.empty() ? std::string("none found") : grid.strLabelNote) +
                        "): type the eastings and northings of locators 1 and 3 in the Transform dialog.");
    view.OnActionSetupTransform();
}

bool ConfirmLocatorsOnGrid(COrvexView& view)
{
    const CDIBWorld* pSource = view.SourceMap();
    const CLocatorSet& locators = view.Locators();
    if (!pSource || locators.NonRectangular())
        return true;
    SGridCheck check;
    {
        CWaitCursor waitCursor;
        SFindGridOptions options;
        options.bReadLabels = false;
        const SFoundGrid grid = FindGrid(*pSource, options);
        view.SetFoundGrid(grid);
        check = CheckLocatorsAgainstGrid(grid, locators);
    }
    if (!check.Suspicious())
        return true;
    const std::string strText = check.strMessage + ".\n\nThe grid on the map lies up to " +
                                FormatFixed(check.dMismatchPixels, 1) + " pixels (" +
                                FormatFixed(check.dMismatchMetres, 1) +
                                " m) from the grid the three locators predict.\n\nGo on all the same?";
    return GetPlatform().MessageBox(strText, EMessageKind::QuestionYesNo) == EAnswer::Yes;
}

}  // namespace gridmorph
