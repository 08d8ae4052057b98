#include "view/OrvexEditEdgeDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "dialogs/FieldExchange.h"

namespace gridmorph {

COrvexEditEdgeDlg::COrvexEditEdgeDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("editEdgeDialog"));
    setWindowTitle(QStringLiteral("Edit Map Location"));
    auto* pGroup = new QGroupBox(this);
    m_pCentre = new QRadioButton(QStringLiteral("Locations are at the centre of the edge pixels (as stored)"), pGroup);
    m_pOutside = new QRadioButton(QStringLiteral("Locations are at the outside edge of the edge pixels"), pGroup);
    auto makeField = [this, pGroup](int nControl) {
        auto* pField = new QLineEdit(pGroup);
        pField->setObjectName(QStringLiteral("field%1").arg(nControl));
        pField->setAlignment(Qt::AlignRight);
        pField->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("-0000000.00000000")) + 12);
        return pField;
    };
    m_pNorth = makeField(IDC_NORTH);
    m_pWest = makeField(IDC_WEST);
    m_pSouth = makeField(IDC_SOUTH);
    m_pEast = makeField(IDC_EAST);

    // The compass: north on top, west and east beside each other, south below.
    auto* pCompass = new QGridLayout;
    auto label = [pGroup](const char* pText) {
        auto* pLabel = new QLabel(QString::fromLatin1(pText), pGroup);
        return pLabel;
    };
    pCompass->addWidget(label("North"), 0, 2, Qt::AlignRight);
    pCompass->addWidget(m_pNorth, 0, 3);
    pCompass->addWidget(label("West"), 1, 0, Qt::AlignRight);
    pCompass->addWidget(m_pWest, 1, 1);
    pCompass->addWidget(label("East"), 1, 4, Qt::AlignRight);
    pCompass->addWidget(m_pEast, 1, 5);
    pCompass->addWidget(label("South"), 2, 2, Qt::AlignRight);
    pCompass->addWidget(m_pSouth, 2, 3);
    pCompass->setColumnStretch(2, 1);

    auto* pGroupLayout = new QVBoxLayout(pGroup);
    pGroupLayout->addWidget(m_pCentre);
    pGroupLayout->addWidget(m_pOutside);
    pGroupLayout->addSpacing(8);
    pGroupLayout->addLayout(pCompass);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pGroup);
    pLayout->addWidget(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);

    // Tab order: the two choices, then west, south, east, north as the fields were laid out.
    setTabOrder(m_pCentre, m_pOutside);
    setTabOrder(m_pOutside, m_pWest);
    setTabOrder(m_pWest, m_pSouth);
    setTabOrder(m_pSouth, m_pEast);
    setTabOrder(m_pEast, m_pNorth);
}

QLineEdit* COrvexEditEdgeDlg::Field(int nControl) const
{
    switch (nControl) {
    case IDC_NORTH: return m_pNorth;
    case IDC_WEST: return m_pWest;
    case IDC_SOUTH: return m_pSouth;
    case IDC_EAST: return m_pEast;
    default: return nullptr;
    }
}

void COrvexEditEdgeDlg::InitDialog()
{
    (m_nEdgeMode == 1 ? m_pOutside : m_pCentre)->setChecked(true);
    m_pNorth->setText(FieldText(m_dNorth));
    m_pWest->setText(FieldText(m_dWest));
    m_pSouth->setText(FieldText(m_dSouth));
    m_pEast->setText(FieldText(m_dEast));
    m_pCentre->setFocus();
}

int COrvexEditEdgeDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

bool COrvexEditEdgeDlg::DoDataExchange()
{
    double dEast = 0, dNorth = 0, dSouth = 0, dWest = 0;
    if (!ExchangeDouble(m_pEast, 0.0, 1e8, dEast) || !ExchangeDouble(m_pNorth, 0.0, 1e8, dNorth) ||
        !ExchangeDouble(m_pSouth, 0.0, 1e8, dSouth) || !ExchangeDouble(m_pWest, 0.0, 1e8, dWest))
        return false;
    if (!CheckEdgeOrder(dWest, dSouth, dEast, dNorth, m_pWest, m_pSouth))
        return false;
    m_nEdgeMode = m_pOutside->isChecked() ? 1 : 0;
    m_dEast = dEast;
    m_dNorth = dNorth;
    m_dSouth = dSouth;
    m_dWest = dWest;
    return true;
}

void COrvexEditEdgeDlg::accept()
{
    if (DoDataExchange())
        QDialog::accept();
}

}  // namespace gridmorph
