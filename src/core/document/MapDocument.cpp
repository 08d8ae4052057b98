#include "document/MapDocument.h"

#include <algorithm>
#include <cctype>

#include "io/OutputClashes.h"
#include "io/SafeFileWriter.h"
#include "platform/Platform.h"
#include "world/CoordinateSystem.h"
#include "world/SidecarFiles.h"

namespace gridmorph {
namespace {

constexpr const char* kSaveTransformedQuestion = "Do you wish to save the transformed map?";
constexpr const char* kSaveModifiedQuestion = "Do you wish to save the modified map?";

void DestroyMap(std::unique_ptr<CDIBWorld>& pMap)
{
    if (pMap) {
        pMap->DestroyImage(false);
        pMap.reset();
    }
}

}  // namespace

CMapDocument::CMapDocument(CDocumentHost& host) : m_host(host) {}

CMapDocument::~CMapDocument()
{
    DestroyMap(m_pImage);
    DestroyMap(m_pTransformedMap);
}

std::string CMapDocument::TitleFromPath(const std::string& strPath)
{
    const std::size_t nSlash = strPath.find_last_of('/');
    std::string strTitle = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    std::transform(strTitle.begin(), strTitle.end(), strTitle.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return strTitle;
}

void CMapDocument::SetPathAndTitle(const std::string& strPath)
{
    m_strPathName = strPath;
    m_strFileTitle = TitleFromPath(strPath);
    m_host.SetTitle(m_strFileTitle);
    m_host.SetPathName(strPath, true);
}

void CMapDocument::SetImage(std::unique_ptr<CDIBWorld> pImage)
{
    m_host.MapChanging(m_pImage.get());
    if (!pImage)
        m_host.MapChanging(m_pTransformedMap.get());
    DestroyMap(m_pImage);
    m_pImage = std::move(pImage);
    if (!m_pImage) {
        DestroyMap(m_pTransformedMap);
        m_bShowTransformed = false;
    }
}

std::optional<SCoordinateSystem> CMapDocument::GetCoordinateSystem() const
{
    return m_pImage ? m_pImage->CoordinateSystem() : std::nullopt;
}

void CMapDocument::SetCoordinateSystem(const std::optional<SCoordinateSystem>& system)
{
    if (!m_pImage)
        return;
    m_pImage->SetCoordinateSystem(system);
    if (m_pTransformedMap)
        m_pTransformedMap->SetCoordinateSystem(system);
}

void CMapDocument::SetTransformedMap(std::unique_ptr<CDIBWorld> pTransformedMap)
{
    m_host.MapChanging(m_pTransformedMap.get());
    DestroyMap(m_pTransformedMap);
    // A transformed map is always made from the current one.
    if (m_pImage)
        m_pTransformedMap = std::move(pTransformedMap);
    if (!m_pTransformedMap)
        m_bShowTransformed = false;
}

std::unique_ptr<CDIBWorld> CMapDocument::ExchangeImage(std::unique_ptr<CDIBWorld> pImage)
{
    m_host.MapChanging(m_pImage.get());
    std::swap(m_pImage, pImage);
    return pImage;
}

void CMapDocument::MarkShownChanged()
{
    if (m_bShowTransformed)
        m_bTransformedModified = true;
    else
        m_bModified = true;
}

std::unique_ptr<CDIBWorld> CMapDocument::ReplaceShownMap(std::unique_ptr<CDIBWorld> pMap)
{
    const bool bTransformed = m_bShowTransformed;
    std::unique_ptr<CDIBWorld> pReplaced =
        bTransformed ? ExchangeTransformedMap(std::move(pMap)) : ExchangeImage(std::move(pMap));
    if (bTransformed)
        m_bTransformedModified = true;
    else
        m_bModified = true;
    return pReplaced;
}

std::unique_ptr<CDIBWorld> CMapDocument::ExchangeTransformedMap(std::unique_ptr<CDIBWorld> pTransformedMap)
{
    m_host.MapChanging(m_pTransformedMap.get());
    std::swap(m_pTransformedMap, pTransformedMap);
    if (!m_pTransformedMap)
        m_bShowTransformed = false;
    return pTransformedMap;
}

void CMapDocument::DeleteContents()
{
    m_bTransformedModified = false;
    m_bShowTransformed = false;
    m_bFilterIndexOfScan = false;
    m_strFilePath.clear();
    m_host.MapChanging(m_pImage.get());
    m_host.MapChanging(m_pTransformedMap.get());
    DestroyMap(m_pImage);
    DestroyMap(m_pTransformedMap);
    m_host.ResetLocators();
    m_host.UpdateAllViews();
}

bool CMapDocument::CloseStep()
{
    if (!SaveModified())
        return false;
    DeleteContents();
    SetModifiedFlag(false);
    SetTransformedModified(false);
    m_strPathName.clear();
    m_strFileTitle.clear();
    m_host.SetPathName("", false);
    m_host.SetTitle("");
    return true;
}

void CMapDocument::OnFileClose() { CloseStep(); }

bool CMapDocument::SaveModified()
{
    CPlatform& platform = GetPlatform();
    if (m_bTransformedModified && m_pTransformedMap) {
        switch (platform.MessageBox(kSaveTransformedQuestion, EMessageKind::QuestionYesNoCancel)) {
        case EAnswer::Cancel:
            return false;
        case EAnswer::Yes:
            // A Yes whose save did not happen (the file dialog cancelled, the write
            // failed) keeps the map: the user asked for it to be kept.
            if (!OnFileSaveTransformedAs())
                return false;
            break;
        default:
            SetTransformedModified(false);
            break;
        }
    }
    if (IsModified() && m_pImage) {
        switch (platform.MessageBox(kSaveModifiedQuestion, EMessageKind::QuestionYesNoCancel)) {
        case EAnswer::Cancel:
            return false;
        case EAnswer::Yes:
            if (!OnFileSaveAs())
                return false;
            break;
        default:
            // No leaves the flag set, so a later prompt for the same map asks again.
            break;
        }
    }
    return true;
}

bool CMapDocument::OnNewDocument()
{
    if (m_bFirstNew) {
        // The empty document made at start-up: no dialog.
        m_bFirstNew = false;
        DeleteContents();
        m_strPathName.clear();
        SetModifiedFlag(false);
        return true;
    }
    if (!CloseStep())
        return false;

    SNewMapRequest request;
    if (!m_host.RunNewMapDialog(request) || request.aBasedOn.empty())
        return false;
    std::unique_ptr<CDIBWorld> pNewMap = BuildNewBackgroundMap(request);
    if (!pNewMap) {
        DeleteContents();
        return false;
    }
    m_pImage = std::move(pNewMap);
    m_strFilePath = request.strFileName;
    SetPathAndTitle(m_strFilePath);
    m_host.UpdateAllViews();
    SetModifiedFlag(false);
    SetTransformedModified(false);
    return true;
}

bool CMapDocument::OnOpenDocument(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    if (!CloseStep())
        return false;

    m_pImage = std::make_unique<CDIBWorld>();
    const SSilentResult opened = m_pImage->OpenWorldSilent(strPath, false);
    opened.Tell();
    if (!opened.Succeeded()) {
        ShowWarning(opened.FullText());
        DeleteContents();
        return false;
    }
    m_host.SetOpenFilterIndex(m_pImage->m_nFilterIndex);
    m_bFilterIndexOfScan = true;

    switch (m_pImage->m_nBitCount) {
    case 32:
        ShowInformation(
            "This image is 32-bit colour, probably containing an alpha channel.\n\n"
            "Please reduce it to 8-bit or 24-bit colour (Options menu).\n\n"
            "8-bit, 256 colours are recommended for use as a background map.");
        break;
    case 24:
        ShowInformation(
            "This image is 24-bit full colour and conversion to 8-bit, 256 colours\n"
            "is recommended for use as a background map (Options menu).");
        break;
    case 8:
        break;
    default:
        ShowInformation(
            "Only 8-bit, 24-bit or 32-bit colour images can be opened in Gridmorph.\n"
            "Please convert the image to 8-bit, or 24-bit colour before use.\n\n"
            "This image is " +
            std::to_string(m_pImage->m_nBitCount) + "-bit.");
        DeleteContents();
        return false;
    }

    m_strFilePath = strPath;
    SetPathAndTitle(strPath);
    m_host.UpdateAllViews();
    SetModifiedFlag(false);
    SetTransformedModified(false);
    return true;
}

bool CMapDocument::OnSaveDocument(const std::string& strPath)
{
    CWaitCursor waitCursor;
    if (!m_pImage) {
        SetModifiedFlag(false);
        return true;
    }
    ESaveResult eResult = ESaveResult::Failed;
    const SSilentResult saved = m_pImage->RunSilently([&] { eResult = m_pImage->SaveWorld(strPath); });
    saved.Tell();
    if (eResult != ESaveResult::Written) {
        ShowWarning(saved.FullText());
        // Nothing was written: the flag stays set and the document keeps its old name.
        return false;
    }
    // The path keeps the letter case it was given: it names the file just written.
    m_strFilePath = strPath;
    SetPathAndTitle(strPath);
    SetModifiedFlag(false);
    return true;
}

void CMapDocument::OnFileSave()
{
    if (!CanSave())
        return;
    // A map that came from nowhere (no path yet) is saved under a name the user gives, and
    // so is one whose file may not be written: the user picks another name (or, knowing
    // what they do, the same one and reads why it is refused) instead of only a refusal.
    std::string strProblem;
    if (m_strPathName.empty() ||
        CheckReplaceable(m_strPathName, EReadOnlyFiles::Refuse, strProblem) == EReplaceProblem::ReadOnly)
        OnFileSaveAs();
    else
        OnSaveDocument(m_strPathName);
}

std::string CMapDocument::AskSaveFileName(const SFileDialogAccessory* pAccessory, const std::string& strSuggestedName,
                                          int nOfferedIndex)
{
    if (!m_pImage)
        return std::string();
    int nIndex = nOfferedIndex > 0 ? nOfferedIndex : m_host.GetOpenFilterIndex();
    // Beside the scan the user is working on, wherever the working directory is.
    const std::size_t nSlash = m_strFilePath.find_last_of('/');
    const std::string strFolder = nSlash == std::string::npos ? std::string() : m_strFilePath.substr(0, nSlash + 1);
    std::string strName =
        m_pImage->SaveFileDialog(nIndex, strFolder.empty() ? nullptr : strFolder.c_str(), pAccessory, strSuggestedName);
    if (m_pImage->m_nErrorNumber != 0) {
        ShowWarning(m_pImage->GetErrorMessage());
        return std::string();
    }
    if (!strName.empty()) {
        m_host.SetOpenFilterIndex(nIndex);
        m_bFilterIndexOfScan = false;
    }
    return strName;
}

bool CMapDocument::OnFileSaveAs()
{
    const std::string strName = AskSaveFileName();
    if (strName.empty())
        return false;
    return OnSaveDocument(strName);
}

bool CMapDocument::OnFileSaveTransformedAs()
{
    if (!m_pTransformedMap)
        return false;
    // The dialog says which system the map will name, with a button to choose another.
    SFileDialogAccessory accessory;
    accessory.strText = CoordinateSystemLine();
    accessory.strButton = "Coordinate System...";
    accessory.fnClicked = [this] {
        OnFileCoordinateSystem();
        return CoordinateSystemLine();
    };
    // NAME-rectified for the scan NAME.EXT.
    std::string strSuggested;
    if (!m_strFilePath.empty()) {
        const std::size_t nSlash = m_strFilePath.find_last_of('/');
        std::string strBase = m_strFilePath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
        if (const std::size_t nDot = strBase.find_last_of('.'); nDot != std::string::npos && nDot > 0)
            strBase.erase(nDot);
        strSuggested = strBase + "-rectified";
    }
    const std::string strName = AskSaveFileName(&accessory, strSuggested, LosslessIndexForJpegScan());
    if (strName.empty())
        return false;
    // The open map stays open: its picture, world file and .prj must not be replaced by the
    // transformed map's.
    COutputSet files;
    if (!m_strFilePath.empty())
        AddMapFilesRead(files, m_strFilePath, "the open map");
    AddMapFilesWritten(files, strName, m_pTransformedMap->CoordinateSystem().has_value(), "the transformed map");
    if (const std::string strClash = files.FindClash(); !strClash.empty()) {
        std::string strText = "The transformed map cannot be saved as " + strName + ":\n\n" + strClash + ".";
        strText[strText.find(":\n\n") + 3] = static_cast<char>(std::toupper(static_cast<unsigned char>(strClash[0])));
        ShowWarning(strText + "\n\nPlease choose another name.");
        return false;
    }
    ESaveResult eResult = ESaveResult::Failed;
    SSilentResult saved;
    {
        CWaitCursor waitCursor;
        saved = m_pTransformedMap->RunSilently([&] { eResult = m_pTransformedMap->SaveWorld(strName); });
        saved.Tell();
    }
    if (eResult != ESaveResult::Written) {
        ShowWarning(saved.FullText());
        return false;
    }
    // The saved transformed map is a file of its own: the document's name and title stay.
    SetTransformedModified(false);
    return true;
}

int CMapDocument::LosslessIndexForJpegScan()
{
    // Only while the remembered type is the scan's own JPEG, not a type the user chose.
    if (!m_pImage || !m_bFilterIndexOfScan || CDIBImage::GetFileType(m_strFilePath) != FILE_TYPE_JPEG)
        return 0;
    m_pImage->GetExportFilter();
    const auto indexOf = [this](int nFileType) {
        for (int k = 1; k <= m_pImage->m_nFilterTypes; ++k)
            if (m_pImage->m_aFilterType[static_cast<std::size_t>(k)] == nFileType)
                return k + 1;
        return 0;
    };
    if (m_host.GetOpenFilterIndex() != indexOf(FILE_TYPE_JPEG))
        return 0;
    const int nTiff = indexOf(FILE_TYPE_TIFF);
    return nTiff > 0 ? nTiff : indexOf(FILE_TYPE_PNG);
}

void CMapDocument::OnFileCoordinateSystem()
{
    if (!CanSetCoordinateSystem())
        return;
    std::optional<SCoordinateSystem> system = GetCoordinateSystem();
    if (m_host.RunCoordinateSystemDialog(system))
        SetCoordinateSystem(system);
}

std::string CMapDocument::CoordinateSystemLine() const
{
    const std::optional<SCoordinateSystem> system = GetCoordinateSystem();
    return "Coordinate system: " + (system ? DescribeGeoSystem(system->geoSystem) : std::string("none"));
}

void CMapDocument::OnFileCreateWorldFile()
{
    if (!CanCreateWorldFile())
        return;
    m_host.RunCreateWorldFileDialog(m_strFilePath, m_pImage.get());
}

}  // namespace gridmorph
