#include "dialogs/DialogHooks.h"

#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/OrvexR4Doc.h"
#include "dialogs/OrvexNewDlg.h"
#include "dialogs/OvNewWorldFileDlg.h"
#include "dialogs/OvWorldFileDlg.h"
#include "view/OrvexView.h"

namespace gridmorph {

void InstallDialogs(COrvexApp& app)
{
    COrvexR4Doc* pDocument = app.Document();
    COrvexFrame* pFrame = app.Frame();

    pDocument->m_fnNewMapDialog = [&app, pFrame](SNewMapRequest& request) {
        COrvexNewDlg dialog(app.m_nOpenFilterIndex, pFrame);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        request.strFileName = dialog.m_strFileName;
        request.aBasedOn = dialog.m_strBasedOnList;
        request.dWest = dialog.m_dWest;
        request.dSouth = dialog.m_dSouth;
        request.dEast = dialog.m_dEast;
        request.dNorth = dialog.m_dNorth;
        return true;
    };

    pDocument->m_fnCreateWorldFileDialog = [pFrame](const std::string& strImageFile, CDIBWorld* pImage) {
        COvNewWorldFileDlg dialog(pFrame);
        dialog.m_strImageFile = strImageFile;
        dialog.m_pImage = pImage;
        dialog.exec();
    };

    pFrame->View()->m_fnWorldFileDialog = [pFrame](const std::string& strImagePath, int nWidth, int nHeight,
                                                   double& dWest, double& dNorth, double& dEast, double& dSouth) {
        COvWorldFileDlg dialog(pFrame);
        dialog.m_strImagePath = strImagePath;
        dialog.m_nImageWidth = nWidth;
        dialog.m_nImageHeight = nHeight;
        if (dialog.exec() != QDialog::Accepted)
            return false;
        dWest = dialog.m_dWest;
        dNorth = dialog.m_dNorth;
        dEast = dialog.m_dEast;
        dSouth = dialog.m_dSouth;
        return true;
    };
    pFrame->UpdateCommandUI();
}

}  // namespace gridmorph
