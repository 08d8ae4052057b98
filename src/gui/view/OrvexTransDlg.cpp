#include "view/OrvexTransDlg.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "transform/LocatorChecks.h"
#include "transform/LocatorSet.h"
#include "dialogs/FieldExchange.h"

namespace gridmorph {

COrvexTransDlg::COrvexTransDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("transformDialog"));
    setWindowTitle(QStringLiteral("Transform"));

    auto* pGroup = new QGroupBox(this);
    auto* pGroupLayout = new QVBoxLayout(pGroup);
    const QString aTexts[] = {
        QStringLiteral("The image locations are taken from the positions of the locators in the view and are 0,0 at "
                       "the top left. \nSpecify the map locations in absolute coordinates."),
        QStringLiteral("The 3 points normally form 3 corners of a rectangle. Select \"Non-Rectangular Grid\" if this "
                       "is not the case."),
        QStringLiteral("Point 1 must be the top left corner.\nPoint 2 must be the top right corner.\nPoint 3 must be "
                       "the bottom right corner."),
    };
    for (const QString& strText : aTexts) {
        auto* pLabel = new QLabel(strText, pGroup);
        pLabel->setWordWrap(true);
        pGroupLayout->addWidget(pLabel);
    }

    auto* pGrid = new QGridLayout;
    pGrid->addWidget(new QLabel(QStringLiteral("Point"), this), 0, 0, 2, 1, Qt::AlignBottom);
    auto* pImageHeading = new QLabel(QStringLiteral("Image locations"), this);
    pGrid->addWidget(pImageHeading, 0, 1, 1, 2, Qt::AlignHCenter);
    pGrid->addWidget(new QLabel(QStringLiteral("X"), this), 1, 1, Qt::AlignHCenter);
    pGrid->addWidget(new QLabel(QStringLiteral("Y"), this), 1, 2, Qt::AlignHCenter);
    pGrid->addWidget(new QLabel(QStringLiteral("Easting"), this), 1, 3, Qt::AlignHCenter);
    pGrid->addWidget(new QLabel(QStringLiteral("Northing"), this), 1, 4, Qt::AlignHCenter);
    const int nPixelWidth = fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12;
    const int nMapWidth = fontMetrics().horizontalAdvance(QStringLiteral("00000000.000")) + 12;
    QWidget* pPrevious = nullptr;
    for (int nPoint = 0; nPoint < 3; ++nPoint) {
        pGrid->addWidget(new QLabel(QString::number(nPoint + 1), this), nPoint + 2, 0);
        for (int nColumn = 0; nColumn < 4; ++nColumn) {
            auto* pField = new QLineEdit(this);
            const int nControl = IDC_X1 + 4 * nPoint + nColumn;
            pField->setObjectName(QStringLiteral("field%1").arg(nControl));
            pField->setFixedWidth(nColumn < 2 ? nPixelWidth : nMapWidth);
            pField->setAlignment(Qt::AlignRight);
            m_apFields[nControl - IDC_X1] = pField;
            pGrid->addWidget(pField, nPoint + 2, nColumn + 1);
            if (pPrevious)
                setTabOrder(pPrevious, pField);
            pPrevious = pField;
        }
    }
    m_pNonRectangular = new QCheckBox(QStringLiteral("Non-Rectangular Grid"), this);
    m_pNonRectangular->setObjectName(QStringLiteral("nonRectangular"));
    setTabOrder(pPrevious, m_pNonRectangular);
    connect(m_pNonRectangular, &QCheckBox::clicked, this, [this] {
        m_bNonRectangular = !m_bNonRectangular;
        ShowPoint2MapFields();
    });

    // How the map is made: the resampling, and whether only the grid rectangle is kept.
    auto* pOptions = new QHBoxLayout;
    auto* pResamplingLabel = new QLabel(QStringLiteral("&Resampling:"), this);
    m_pResampling = new QComboBox(this);
    m_pResampling->setObjectName(QStringLiteral("resampling"));
    m_pResampling->addItems({QStringLiteral("Nearest neighbour"), QStringLiteral("Bilinear"), QStringLiteral("Cubic")});
    pResamplingLabel->setBuddy(m_pResampling);
    m_pClipToGrid = new QCheckBox(QStringLiteral("Clip to the grid rectangle"), this);
    m_pClipToGrid->setObjectName(QStringLiteral("clipToGrid"));
    pOptions->addWidget(pResamplingLabel);
    pOptions->addWidget(m_pResampling);
    pOptions->addSpacing(16);
    pOptions->addWidget(m_pClipToGrid);
    pOptions->addStretch(1);
    setTabOrder(m_pNonRectangular, m_pResampling);
    setTabOrder(m_pResampling, m_pClipToGrid);

    // What the map shows where the scan does not reach: black as always, nothing (an alpha
    // channel or a transparent palette entry), or a chosen colour that PNG and TIFF files
    // name as their no-data value.
    auto* pOutside = new QHBoxLayout;
    auto* pOutsideLabel = new QLabel(QStringLiteral("&Outside the scan:"), this);
    m_pOutside = new QComboBox(this);
    m_pOutside->setObjectName(QStringLiteral("outsideTheScan"));
    m_pOutside->addItems({QStringLiteral("Black"), QStringLiteral("Transparent"), QStringLiteral("Colour\u2026")});
    m_pOutside->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_pOutside->setToolTip(QStringLiteral("What the map shows where the scan does not reach; a chosen colour is named "
                                          "as the no-data value in PNG and TIFF files"));
    pOutsideLabel->setBuddy(m_pOutside);
    pOutside->addWidget(pOutsideLabel);
    pOutside->addWidget(m_pOutside);
    pOutside->addStretch(1);
    setTabOrder(m_pClipToGrid, m_pOutside);
    connect(m_pOutside, &QComboBox::activated, this, [this](int nIndex) {
        if (nIndex == OUTSIDE_COLOUR)
            ChooseNoDataColour();
        else
            m_nOutside = nIndex;
    });

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* pBottom = new QHBoxLayout;
    pBottom->addWidget(m_pNonRectangular);
    pBottom->addStretch(1);
    pBottom->addWidget(pButtons);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pGroup);
    pLayout->addSpacing(6);
    pLayout->addLayout(pGrid);
    pLayout->addSpacing(6);
    pLayout->addLayout(pOptions);
    pLayout->addLayout(pOutside);
    pLayout->addLayout(pBottom);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
    // The explanations wrap to the width of the field grid, not to one long line.
    for (QLabel* pLabel : pGroup->findChildren<QLabel*>())
        pLabel->setMinimumWidth(2 * nPixelWidth + 2 * nMapWidth + fontMetrics().horizontalAdvance(QStringLiteral("Point")) + 40);
}

void COrvexTransDlg::SetOptions(const STransformOptions& options)
{
    m_pResampling->setCurrentIndex(static_cast<int>(options.eResampling));
    m_pClipToGrid->setChecked(options.eClip == EClip::Grid);
    switch (options.eNoData) {
    case ENoData::Black:
        m_pOutside->setCurrentIndex(OUTSIDE_BLACK);
        break;
    case ENoData::Transparent:
        m_pOutside->setCurrentIndex(OUTSIDE_TRANSPARENT);
        break;
    case ENoData::Value:
        SetNoDataColour(QColor(options.nNoDataRed, options.nNoDataGreen, options.nNoDataBlue));
        break;
    }
    m_nOutside = m_pOutside->currentIndex();
}

void COrvexTransDlg::CopyOptionsTo(STransformOptions& options) const
{
    options.eResampling = static_cast<EResampling>(m_pResampling->currentIndex());
    options.eClip = m_pClipToGrid->isChecked() ? EClip::Grid : EClip::None;
    // As rectify's --nodata transparent and --nodata R,G,B.
    const int nOutside = m_pOutside->currentIndex();
    options.eNoData = nOutside == OUTSIDE_TRANSPARENT                         ? ENoData::Transparent
                      : nOutside == OUTSIDE_COLOUR && m_noDataColour.isValid() ? ENoData::Value
                                                                                : ENoData::Black;
    options.nNoDataIndex = -1;
    options.nNoDataRed = options.nNoDataGreen = options.nNoDataBlue = 0;
    if (options.eNoData == ENoData::Value) {
        options.nNoDataRed = static_cast<std::uint8_t>(m_noDataColour.red());
        options.nNoDataGreen = static_cast<std::uint8_t>(m_noDataColour.green());
        options.nNoDataBlue = static_cast<std::uint8_t>(m_noDataColour.blue());
    }
}

void COrvexTransDlg::SetNoDataColour(const QColor& colour)
{
    m_noDataColour = colour.toRgb();
    QPixmap swatch(fontMetrics().height(), fontMetrics().height());
    swatch.fill(m_noDataColour);
    m_pOutside->setItemIcon(OUTSIDE_COLOUR, QIcon(swatch));
    m_pOutside->setItemText(OUTSIDE_COLOUR, QStringLiteral("Colour\u2026 %1,%2,%3")
                                                .arg(m_noDataColour.red())
                                                .arg(m_noDataColour.green())
                                                .arg(m_noDataColour.blue()));
    m_pOutside->setCurrentIndex(OUTSIDE_COLOUR);
    m_nOutside = OUTSIDE_COLOUR;
}

void COrvexTransDlg::ChooseNoDataColour()
{
    QColorDialog dialog(m_noDataColour.isValid() ? m_noDataColour : QColor(Qt::white), this);
    dialog.setObjectName(QStringLiteral("noDataColourDialog"));
    dialog.setWindowTitle(QStringLiteral("Outside the Scan"));
    // Qt's own dialog, the same on every desktop (and one a test can drive).
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (dialog.exec() == QDialog::Accepted && dialog.selectedColor().isValid())
        SetNoDataColour(dialog.selectedColor());
    else
        m_pOutside->setCurrentIndex(m_nOutside);  // cancelled: the choice before stays
}

QLineEdit* COrvexTransDlg::Field(int nControl) const
{
    return nControl >= IDC_X1 && nControl <= IDC_NORTHING3 ? m_apFields[nControl - IDC_X1] : nullptr;
}

void COrvexTransDlg::SetFrom(const CLocatorSet& locators, int nImageWidth, int nImageHeight)
{
    for (int i = 0; i < 3; ++i) {
        m_nLocatorX[i] = locators.LocatorX(i);
        m_nLocatorY[i] = locators.LocatorY(i);
        m_dEasting[i] = locators.Easting(i);
        m_dNorthing[i] = locators.Northing(i);
    }
    m_bNonRectangular = locators.NonRectangular();
    m_nImageWidth = nImageWidth;
    m_nImageHeight = nImageHeight;
}

void COrvexTransDlg::CopyTo(CLocatorSet& locators) const
{
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, m_nLocatorX[i], m_nLocatorY[i]);
    }
    locators.SetEasting(0, m_dEasting[0]);
    locators.SetEasting(2, m_dEasting[2]);
    locators.SetNorthing(0, m_dNorthing[0]);
    locators.SetNorthing(2, m_dNorthing[2]);
    locators.SetNonRectangular(m_bNonRectangular);
    if (m_bNonRectangular) {
        locators.SetMapPosition(1, m_dEasting[1], m_dNorthing[1]);
    } else {
        // Point 2 is the top-right corner: the east edge of point 3, the north edge of point 1.
        locators.SetMapPosition(1, m_dEasting[2], m_dNorthing[0]);
    }
    locators.SetTransformSetUp(true);
}

void COrvexTransDlg::InitDialog()
{
    for (int i = 0; i < 3; ++i) {
        m_apFields[4 * i]->setText(FieldText(m_nLocatorX[i]));
        m_apFields[4 * i + 1]->setText(FieldText(m_nLocatorY[i]));
        m_apFields[4 * i + 2]->setText(FieldText(m_dEasting[i]));
        m_apFields[4 * i + 3]->setText(FieldText(m_dNorthing[i]));
    }
    m_pNonRectangular->setChecked(m_bNonRectangular);
    ShowPoint2MapFields();
    m_apFields[0]->setFocus();
    m_apFields[0]->selectAll();
}

int COrvexTransDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

void COrvexTransDlg::ShowPoint2MapFields()
{
    Field(IDC_EASTING2)->setVisible(m_bNonRectangular);
    Field(IDC_NORTHING2)->setVisible(m_bNonRectangular);
}

bool COrvexTransDlg::DoDataExchange()
{
    int aX[3], aY[3];
    double aEasting[3], aNorthing[3];
    for (int i = 0; i < 3; ++i)
        if (!ExchangeInt(m_apFields[4 * i], 0, m_nImageWidth - 1, aX[i]))
            return false;
    for (int i = 0; i < 3; ++i)
        if (!ExchangeInt(m_apFields[4 * i + 1], 0, m_nImageHeight - 1, aY[i]))
            return false;
    const bool bNonRectangular = m_pNonRectangular->isChecked();
    // Point 2's map fields take part even while hidden.
    for (int i = 0; i < 3; ++i)
        if (!ExchangeDouble(m_apFields[4 * i + 2], 0.0, 1e8, aEasting[i]))
            return false;
    for (int i = 0; i < 3; ++i)
        if (!ExchangeDouble(m_apFields[4 * i + 3], 0.0, 1e8, aNorthing[i]))
            return false;

    CLocatorSet candidate;
    for (int i = 0; i < 3; ++i) {
        candidate.SetLocator(i, aX[i], aY[i]);
        candidate.SetMapPosition(i, aEasting[i], aNorthing[i]);
    }
    candidate.SetNonRectangular(bNonRectangular);
    const SLocatorCheck check = RunLocatorChecks(candidate);
    if (!check.Passed()) {
        const int nControl = [&] {
            switch (check.eFocus) {
            case ELocatorField::XOfPoint1: return int(IDC_X1);
            case ELocatorField::EastingOfPoint1: return int(IDC_EASTING1);
            case ELocatorField::EastingOfPoint2: return int(IDC_EASTING2);
            case ELocatorField::NorthingOfPoint2: return int(IDC_NORTHING2);
            case ELocatorField::EastingOfPoint3: return int(IDC_EASTING3);
            case ELocatorField::NorthingOfPoint3: return int(IDC_NORTHING3);
            case ELocatorField::None: break;
            }
            return int(IDC_X1);
        }();
        FocusField(Field(nControl));
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        m_nLocatorX[i] = aX[i];
        m_nLocatorY[i] = aY[i];
        m_dEasting[i] = aEasting[i];
        m_dNorthing[i] = aNorthing[i];
    }
    m_bNonRectangular = bNonRectangular;
    return true;
}

void COrvexTransDlg::accept()
{
    if (DoDataExchange())
        QDialog::accept();
}

}  // namespace gridmorph
