#include "app/OrvexR4Doc.h"

#include <QApplication>

#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "dialogs/CoordinateSystemDlg.h"

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
    return m_fnNewMapDialog ? m_fnNewMapDialog(request) : false;
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
    if (m_fnCreateWorldFileDialog)
        m_fnCreateWorldFileDialog(strImageFile, pImage);
}

}  // namespace gridmorph
