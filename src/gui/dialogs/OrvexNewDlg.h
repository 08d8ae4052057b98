#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;

namespace gridmorph {

class CHorzListBox;

// "New Background Map": the name of the new image file, the georeferenced images it is
// based on, and the map region in metres. Initialise fills the region with the union of
// the based-on images' extents. The document builds the map from what OK leaves in the
// members.
class COrvexNewDlg : public QDialog {
    Q_OBJECT
public:
    enum EControl {
        IDOK = 1, IDCANCEL = 2,
        IDC_INITIALISE = 1002,
        IDC_FILE_NAME = 2020, IDC_BROWSE_FILE = 2021,
        IDC_WEST = 2022, IDC_SOUTH = 2023, IDC_EAST = 2024, IDC_NORTH = 2025,
        IDC_BROWSE_BASED_ON = 2027,
        IDC_BASED_ON = 3134,
    };

    // nOpenFilterIndex: the 1-based filter index that every image file dialog shares.
    explicit COrvexNewDlg(int& nOpenFilterIndex, QWidget* pParent = nullptr);
    ~COrvexNewDlg() override;

    QLineEdit* Field(int nControl) const;
    QPushButton* Button(int nControl) const;

    // Shows the members in the fields; Initialise follows the list.
    void InitDialog();
    int exec() override;
    // Reads and checks the fields; the dialog stays open on the first failure.
    void accept() override;

    void OnBrowseFile();
    void OnBrowseBasedOn();
    void OnInitialise();
    // Initialise is available while the based-on list holds a file.
    void UpdateDialogControls();
    void FillBasedOnList();

    CHorzListBox* m_lbBasedOn = nullptr;
    std::string m_strFileName;
    double m_dEast = 0.0;
    double m_dNorth = 0.0;
    double m_dSouth = 0.0;
    double m_dWest = 0.0;
    // Full paths of the based-on files, in the order chosen.
    std::vector<std::string> m_strBasedOnList;

private:
    bool DoDataExchange();

    int& m_nOpenFilterIndex;
    QLineEdit* m_pFileName = nullptr;
    QLineEdit* m_pWest = nullptr;
    QLineEdit* m_pSouth = nullptr;
    QLineEdit* m_pEast = nullptr;
    QLineEdit* m_pNorth = nullptr;
    QPushButton* m_pBrowseFile = nullptr;
    QPushButton* m_pBrowseBasedOn = nullptr;
    QPushButton* m_pInitialise = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};

}  // namespace gridmorph
