#pragma once

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace gridmorph {

// "Edit Map Location": the four map edges of the displayed map in a compass (north on
// top, west left, east right, south below), and whether the values are the centres or the
// outside edges of the edge pixels.
class COrvexEditEdgeDlg : public QDialog {
    Q_OBJECT
public:
    enum EControl { IDC_NORTH = 3531, IDC_WEST = 3532, IDC_SOUTH = 3533, IDC_EAST = 3534, IDC_CENTRE = 3564, IDC_OUTSIDE = 3565 };

    explicit COrvexEditEdgeDlg(QWidget* pParent = nullptr);

    QLineEdit* Field(int nControl) const;
    QRadioButton* OutsideEdgeChoice() const { return m_pOutside; }

    void InitDialog();
    int exec() override;
    void accept() override;

    double m_dEast = 0.0;
    double m_dNorth = 0.0;
    double m_dSouth = 0.0;
    double m_dWest = 0.0;
    int m_nEdgeMode = 0;  // 0: centres of the edge pixels (as stored); 1: their outside edges

private:
    bool DoDataExchange();

    QRadioButton* m_pCentre = nullptr;
    QRadioButton* m_pOutside = nullptr;
    QLineEdit* m_pNorth = nullptr;
    QLineEdit* m_pWest = nullptr;
    QLineEdit* m_pSouth = nullptr;
    QLineEdit* m_pEast = nullptr;
};

}  // namespace gridmorph
