#include "view/LocatorFiles.h"

#include <QFileInfo>

#include "platform/Platform.h"
#include "transform/LocatorChecks.h"
#include "transform/PointsFile.h"
#include "view/OrvexView.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

constexpr const char* kPointsFilter = "Locator files (*.points)|*.points|All files (*.*)|*.*||";
constexpr const char* kCornerNames[3] = {"top left", "top right", "bottom right"};

// The file name offered first: the map's name with .points, in the map's folder.
std::string SuggestedPointsPath(const std::string& strDocumentPath)
{
    if (strDocumentPath.empty())
        return std::string();
    const QFileInfo info(QString::fromStdString(strDocumentPath));
    return (info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".points")).toStdString();
}

}  // namespace

bool CanLoadLocators(const COrvexView& view) { return view.CanMoveLocatorsToCorners(); }

bool CanSaveLocators(const COrvexView& view) { return view.SourceMap() && view.Locators().TransformSetUp(); }

QString OnActionLoadLocators(COrvexView& view, const std::string& strDocumentPath)
{
    const CDIBWorld* pSource = view.SourceMap();
    if (!pSource || !CanLoadLocators(view))
        return QString();
    SFileDialogRequest request;
    request.strTitle = "Load Locators";
    request.strFilter = kPointsFilter;
    request.strInitialFolder = SuggestedPointsPath(strDocumentPath);
    const SFileDialogResult result = GetPlatform().GetOpenFileName(request);
    if (!result.bAccepted || result.strPath.empty())
        return QString();

    CLocatorSet locators = view.Locators();
    SPointsChoice choice;
    std::string strProblem;
    if (!ReadPointsFileChoosingCorners(result.strPath, locators, choice, strProblem)) {
        ShowWarning("The locators could not be loaded from " + result.strPath + ":\n\n" + strProblem);
        return QString();
    }
    for (int i = 0; i < 3; ++i)
        if (locators.LocatorX(i) < 0 || locators.LocatorX(i) >= pSource->m_nImageWidth ||
            locators.LocatorY(i) < 0 || locators.LocatorY(i) >= pSource->m_nImageHeight) {
            const QString strText = QStringLiteral("The locators could not be loaded from %1:\n\nline %2: pixel %3,%4 lies "
                                                   "outside this %5 x %6 map.")
                                        .arg(QString::fromStdString(result.strPath))
                                        .arg(choice.aLines[i])
                                        .arg(locators.LocatorX(i))
                                        .arg(locators.LocatorY(i))
                                        .arg(pSource->m_nImageWidth)
                                        .arg(pSource->m_nImageHeight);
            ShowWarning(strText.toStdString());
            return QString();
        }
    if (choice.nEnabled > 3) {
        QString strText = QStringLiteral("The file gives %1 points. The locators are the corners of the largest grid "
                                         "rectangle among them:\n")
                              .arg(choice.nEnabled);
        for (int i = 0; i < 3; ++i)
            strText += QStringLiteral("\n%1 (%2): line %3").arg(i + 1).arg(QLatin1String(kCornerNames[i])).arg(choice.aLines[i]);
        ShowInformation(strText.toStdString());
    }
    // The set is checked as the Transform dialog checks it; one that passes can be applied
    // at once, one that does not waits for Setup Transform.
    locators.SetNonRectangular(false);
    locators.SetTransformSetUp(RunLocatorChecks(locators).Passed());
    view.Locators() = locators;
    view.viewport()->update();
    emit view.CommandStateChanged();
    const QString strLines = QStringLiteral("lines %1, %2 and %3").arg(choice.aLines[0]).arg(choice.aLines[1]).arg(choice.aLines[2]);
    return QStringLiteral("Locators loaded from %1 (%2)%3")
        .arg(QFileInfo(QString::fromStdString(result.strPath)).fileName(), strLines,
             locators.TransformSetUp() ? QStringLiteral("; Apply Transform makes the map")
                                        : QStringLiteral("; check them in Setup Transform"));
}

QString OnActionSaveLocators(COrvexView& view, const std::string& strDocumentPath)
{
    if (!CanSaveLocators(view))
        return QString();
    SFileDialogRequest request;
    request.strTitle = "Save Locators";
    request.strFilter = kPointsFilter;
    request.strInitialFolder = SuggestedPointsPath(strDocumentPath);
    const SFileDialogResult result = GetPlatform().GetSaveFileName(request);
    if (!result.bAccepted || result.strPath.empty())
        return QString();
    std::string strPath = result.strPath;
    if (QFileInfo(QString::fromStdString(strPath)).suffix().isEmpty())
        strPath += ".points";
    // The file names the scan's coordinate system (its eastings and northings are in it), as
    // the command line's does.
    const CDIBWorld* pScan = view.SourceMap();
    const std::optional<SCoordinateSystem> system = pScan ? pScan->CoordinateSystem() : std::nullopt;
    if (!WritePointsFile(strPath, view.Locators(), system ? system->strWkt : std::string())) {
        ShowWarning("The locators could not be saved: " + strPath + " cannot be written.");
        return QString();
    }
    QString strSaved = QStringLiteral("Locators saved to %1").arg(QFileInfo(QString::fromStdString(strPath)).fileName());
    if (view.Locators().NonRectangular())
        strSaved += QStringLiteral(" (not the corners of one grid rectangle: GIS georeferencers read it, Load Locators "
                                   "and gridmorph-cli do not)");
    return strSaved;
}

}  // namespace gridmorph
