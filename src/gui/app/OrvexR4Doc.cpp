#include "app/OrvexR4Doc.h"

#include <QApplication>

#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "dialogs/CoordinateSystemDlg.h"
#include "dialogs/OrvexNewDlg.h"
#include "dialogs/OvNewWorldFileDlg.h"

namespace gridmorph {

COrvexR4Doc::COrvexR4Doc(COrvexApp& app) : m_app(app), m_document(*this) {}

COrvexR4Doc::~COrvexR4Doc() = default;

int COrvexR4Doc::GetOpenFilterIndex() const { return m_app.m_nOpenFilterIndex; }

void COrvexR4Doc::SetOpenFilterIndex(int nIndex) { m_app.m_nOpenFilterIndex = nIndex; }

void COrvexR4Doc::SetTitle(const std::string& strTitle)
{
    m_strTitle = QString::fromStdString(strTitle);
    emit TitleChanged(m_strTitle);
}

void COrvexR4Doc::SetPathName(const std::string& strPath, bool bAddToRecent)
{
    if (bAddToRecent && !strPath.empty())
        m_app.AddToRecentFileList(strPath);
}

void COrvexR4Doc::UpdateAllViews() { emit ViewsChanged(); }

void COrvexR4Doc::ResetLocators() { emit LocatorsReset(); }

void COrvexR4Doc::MapChanging(const CDIBWorld* pMap) { emit MapAboutToChange(pMap); }

bool COrvexR4Doc::RunNewMapDialog(SNewMapRequest& request)
{
    COrvexNewDlg dialog(m_app.m_nOpenFilterIndex, m_app.Frame());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request.strFileName = dialog.m_strFileName;
    request.aBasedOn = dialog.m_strBasedOnList;
    request.region.dWest = dialog.m_dWest;
    request.region.dSouth = dialog.m_dSouth;
    request.region.dEast = dialog.m_dEast;
    request.region.dNorth = dialog.m_dNorth;
    return true;
}

bool COrvexR4Doc::RunCoordinateSystemDialog(std::optional<SCoordinateSystem>& system)
{
    // Over the file dialog when one is open (Save Transformed Map As), else the frame.
    QWidget* pParent = QApplication::activeModalWidget();
    if (!pParent)
        pParent = m_app.Frame();
    CCoordinateSystemDlg dialog(system, pParent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    system = dialog.Result();
    return true;
}

void COrvexR4Doc::RunCreateWorldFileDialog(const std::string& strImageFile, CDIBWorld* pImage)
{
    COvNewWorldFileDlg dialog(m_app.Frame());
    dialog.m_strImageFile = strImageFile;
    dialog.m_pImage = pImage;
    dialog.exec();
}

}  // namespace gridmorph
