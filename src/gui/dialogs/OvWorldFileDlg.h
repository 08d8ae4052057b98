#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace gridmorph {

// "Setup from World File": Browse picks a world file and shows its six numbers and the map
// edges they give for the current image's size; the edges may be adjusted, and OK hands
// them to the caller. The rotation terms are shown but take no part in the edges.
class COvWorldFileDlg : public QDialog {
    Q_OBJECT
public:
    enum EControl {
        IDC_FILE_NAME = 3540, IDC_BROWSE = 3541,
        IDC_NORTH = 3542, IDC_WEST = 3543, IDC_SOUTH = 3544, IDC_EAST = 3545,
        IDC_X_RESOLUTION = 3546, IDC_ROTATION1 = 3547, IDC_ROTATION2 = 3548, IDC_Y_RESOLUTION = 3549,
        IDC_TOP_LEFT_EASTING = 3550, IDC_TOP_LEFT_NORTHING = 3551,
    };

    explicit COvWorldFileDlg(QWidget* pParent = nullptr);

    QLineEdit* Field(int nControl) const;
    QPushButton* BrowseButton() const { return m_pBrowse; }

    // Shows the members in the fields.
    void InitDialog();
    int exec() override;
    // Reads the fields; East must lie east of West and North north of South.
    void accept() override;

    void OnBrowse();
    // Reads m_strFileName and shows its numbers with the edges they give; a file that
    // cannot be read, ends early, holds a number that is not finite ("inf", "nan") or gives
    // edges that are not, is refused with a message and leaves the fields as they were.
    void ReadDialogWorldFile();

    std::string m_strFileName;
    double m_dXResolution = 0.0;
    double m_dYResolution = 0.0;
    double m_dRotation1 = 0.0;
    double m_dRotation2 = 0.0;
    double m_dTopLeftEasting = 0.0;
    double m_dTopLeftNorthing = 0.0;
    double m_dEast = 0.0;
    double m_dNorth = 0.0;
    double m_dSouth = 0.0;
    double m_dWest = 0.0;
    // The current image: its file and size, set by the caller.
    std::string m_strImagePath;
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;

private:
    bool DoDataExchange();

    QLineEdit* m_pFileName = nullptr;
    QPushButton* m_pBrowse = nullptr;
    // The ten number fields, by control number - IDC_NORTH.
    QLineEdit* m_apFields[10] = {};
};

}  // namespace gridmorph
