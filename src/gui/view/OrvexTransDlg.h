#pragma once

#include <QColor>
#include <QDialog>

#include "transform/TransformOptions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace gridmorph {

class CLocatorSet;

// "Transform": the pixel positions of the three locators and the map positions typed for
// them. OK reads every field within its limits, then runs the locator checks; whatever
// fails keeps the dialog open with the focus on the field concerned. The map position of
// point 2 is typed only for a "Non-Rectangular Grid".
class COrvexTransDlg : public QDialog {
    Q_OBJECT
public:
    // Control numbers, for the field each check or limit names.
    enum EControl {
        IDC_X1 = 3511, IDC_Y1, IDC_EASTING1, IDC_NORTHING1,
        IDC_X2, IDC_Y2, IDC_EASTING2, IDC_NORTHING2,
        IDC_X3, IDC_Y3, IDC_EASTING3, IDC_NORTHING3,
        IDC_NON_RECTANGULAR,
    };

    explicit COrvexTransDlg(QWidget* pParent = nullptr);

    // Fills the members from a locator set and the source image's size, and back.
    void SetFrom(const CLocatorSet& locators, int nImageWidth, int nImageHeight);
    // The view's side of OK: every pixel position, the map positions of points 1 and 3,
    // and in the non-rectangular case those of point 2; in the rectangular case point 2
    // takes E3 and N1. The set is then set up for Apply.
    void CopyTo(CLocatorSet& locators) const;

    // The resampling choice, "Clip to the grid rectangle" and what lies outside the scan,
    // from and back to the options the view applies the transform with.
    void SetOptions(const STransformOptions& options);
    void CopyOptionsTo(STransformOptions& options) const;
    QComboBox* ResamplingBox() const { return m_pResampling; }
    QCheckBox* ClipToGridBox() const { return m_pClipToGrid; }
    // "Outside the scan:": Black, Transparent, or a colour named as the no-data value.
    enum EOutside { OUTSIDE_BLACK, OUTSIDE_TRANSPARENT, OUTSIDE_COLOUR };
    QComboBox* OutsideBox() const { return m_pOutside; }
    QColor NoDataColour() const { return m_noDataColour; }
    // Puts a colour in the "Colour…" entry and selects it, as the colour dialog does.
    void SetNoDataColour(const QColor& colour);

    QLineEdit* Field(int nControl) const;
    QCheckBox* NonRectangularBox() const { return m_pNonRectangular; }

    // Shows the members in the fields and point 2's map fields as the box says.
    void InitDialog();
    int exec() override;
    void accept() override;

    int m_nLocatorX[3] = {0, 0, 0};
    int m_nLocatorY[3] = {0, 0, 0};
    bool m_bNonRectangular = false;
    double m_dEasting[3] = {0, 0, 0};
    double m_dNorthing[3] = {0, 0, 0};
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;

private:
    bool DoDataExchange();
    void ShowPoint2MapFields();

    QLineEdit* m_apFields[12] = {};
    QCheckBox* m_pNonRectangular = nullptr;
    QComboBox* m_pResampling = nullptr;
    QCheckBox* m_pClipToGrid = nullptr;
    QComboBox* m_pOutside = nullptr;
    QColor m_noDataColour;  // invalid until a colour is chosen
    int m_nOutside = OUTSIDE_BLACK;  // the entry before "Colour…" was picked
    void ChooseNoDataColour();
};

}  // namespace gridmorph
