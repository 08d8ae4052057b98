#include "dialogs/OrvexNewDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/HorzListBox.h"
#include "dialogs/MFileDialog.h"
#include "io/Numbers.h"
#include "platform/Platform.h"
#include "dialogs/FieldExchange.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

constexpr double kRegionMax = 100000000.0;

}  // namespace

COrvexNewDlg::COrvexNewDlg(int& nOpenFilterIndex, QWidget* pParent)
    : QDialog(pParent), m_nOpenFilterIndex(nOpenFilterIndex)
{
    setObjectName(QStringLiteral("newMapDialog"));
    setWindowTitle(QStringLiteral("New Background Map"));

    const auto MakeButton = [this](const QString& strText, int nControl) {
        auto* pButton = new QPushButton(strText, this);
        pButton->setObjectName(QStringLiteral("control%1").arg(nControl));
        pButton->setAutoDefault(false);
        return pButton;
    };
    const auto MakeField = [this](int nControl) {
        auto* pField = new QLineEdit(this);
        pField->setObjectName(QStringLiteral("control%1").arg(nControl));
        return pField;
    };

    // The file name is only ever chosen with Browse; the field scrolls to show it.
    m_pFileName = MakeField(IDC_FILE_NAME);
    m_pFileName->setReadOnly(true);
    m_pBrowseFile = MakeButton(QStringLiteral("Browse"), IDC_BROWSE_FILE);

    m_lbBasedOn = new CHorzListBox(this);
    m_lbBasedOn->setObjectName(QStringLiteral("control%1").arg(IDC_BASED_ON));
    m_lbBasedOn->setSelectionMode(QAbstractItemView::NoSelection);
    m_lbBasedOn->setFocusPolicy(Qt::NoFocus);
    m_lbBasedOn->setMinimumHeight(5 * fontMetrics().height());
    m_pBrowseBasedOn = MakeButton(QStringLiteral("Browse"), IDC_BROWSE_BASED_ON);
    m_pInitialise = MakeButton(QStringLiteral("Initialise"), IDC_INITIALISE);

    m_pWest = MakeField(IDC_WEST);
    m_pSouth = MakeField(IDC_SOUTH);
    m_pEast = MakeField(IDC_EAST);
    m_pNorth = MakeField(IDC_NORTH);
    const int nFieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("100000000.00")) + 16;
    for (QLineEdit* pField : {m_pWest, m_pSouth, m_pEast, m_pNorth}) {
        pField->setFixedWidth(nFieldWidth);
        pField->setAlignment(Qt::AlignRight);
    }

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pOk = pButtons->button(QDialogButtonBox::Ok);
    m_pCancel = pButtons->button(QDialogButtonBox::Cancel);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(m_pBrowseFile, &QPushButton::clicked, this, &COrvexNewDlg::OnBrowseFile);
    connect(m_pBrowseBasedOn, &QPushButton::clicked, this, &COrvexNewDlg::OnBrowseBasedOn);
    connect(m_pInitialise, &QPushButton::clicked, this, &COrvexNewDlg::OnInitialise);

    auto* pFiles = new QGridLayout;
    pFiles->addWidget(new QLabel(QStringLiteral("File name :"), this), 0, 0, 1, 2);
    pFiles->addWidget(m_pFileName, 1, 0);
    pFiles->addWidget(m_pBrowseFile, 1, 1);
    pFiles->addWidget(new QLabel(QStringLiteral("Based on image files :"), this), 2, 0, 1, 2);
    pFiles->addWidget(m_lbBasedOn, 3, 0, 3, 1);
    pFiles->addWidget(m_pBrowseBasedOn, 3, 1);
    pFiles->addWidget(m_pInitialise, 4, 1);
    pFiles->setRowStretch(5, 1);
    pFiles->setColumnStretch(0, 1);
    pFiles->setRowMinimumHeight(2, fontMetrics().height() + 8);

    // The region as a compass rose: North above, West left, East right, South below.
    auto* pRegion = new QGroupBox(QStringLiteral("Map Region"), this);
    auto* pRose = new QGridLayout(pRegion);
    const auto AddPoint = [this, pRose](const QString& strLabel, QLineEdit* pField, int nRow, int nColumn) {
        auto* pLabel = new QLabel(strLabel, this);
        pLabel->setBuddy(pField);
        pRose->addWidget(pLabel, nRow, nColumn, Qt::AlignRight);
        pRose->addWidget(pField, nRow, nColumn + 1);
    };
    AddPoint(QStringLiteral("North"), m_pNorth, 0, 2);
    AddPoint(QStringLiteral("West"), m_pWest, 1, 0);
    AddPoint(QStringLiteral("East"), m_pEast, 1, 4);
    AddPoint(QStringLiteral("South"), m_pSouth, 2, 2);
    pRose->setColumnStretch(6, 1);
    pRose->setColumnStretch(0, 0);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pFiles, 1);
    pLayout->addWidget(pRegion);
    pLayout->addWidget(pButtons);

    setTabOrder(m_pBrowseFile, m_pBrowseBasedOn);
    setTabOrder(m_pBrowseBasedOn, m_pInitialise);
    setTabOrder(m_pInitialise, m_pNorth);
    setTabOrder(m_pNorth, m_pWest);
    setTabOrder(m_pWest, m_pEast);
    setTabOrder(m_pEast, m_pSouth);

    // Wide enough for a long path without scrolling at once.
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 72);
}

COrvexNewDlg::~COrvexNewDlg() { m_strBasedOnList.clear(); }

QLineEdit* COrvexNewDlg::Field(int nControl) const
{
    switch (nControl) {
    case IDC_FILE_NAME: return m_pFileName;
    case IDC_WEST: return m_pWest;
    case IDC_SOUTH: return m_pSouth;
    case IDC_EAST: return m_pEast;
    case IDC_NORTH: return m_pNorth;
    default: return nullptr;
    }
}

QPushButton* COrvexNewDlg::Button(int nControl) const
{
    switch (nControl) {
    case IDOK: return m_pOk;
    case IDCANCEL: return m_pCancel;
    case IDC_INITIALISE: return m_pInitialise;
    case IDC_BROWSE_FILE: return m_pBrowseFile;
    case IDC_BROWSE_BASED_ON: return m_pBrowseBasedOn;
    default: return nullptr;
    }
}

void COrvexNewDlg::InitDialog()
{
    m_pFileName->setText(QString::fromStdString(m_strFileName));
    m_pEast->setText(FieldText(m_dEast));
    m_pNorth->setText(FieldText(m_dNorth));
    m_pSouth->setText(FieldText(m_dSouth));
    m_pWest->setText(FieldText(m_dWest));
    FillBasedOnList();
    UpdateDialogControls();
    m_pBrowseFile->setFocus();
}

int COrvexNewDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

void COrvexNewDlg::UpdateDialogControls() { m_pInitialise->setEnabled(!m_strBasedOnList.empty()); }

void COrvexNewDlg::FillBasedOnList()
{
    m_lbBasedOn->ResetContent();
    for (const std::string& strPath : m_strBasedOnList)
        m_lbBasedOn->AddString(QString::fromStdString(strPath));
}

void COrvexNewDlg::OnBrowseFile()
{
    CDIBImage image;
    int nFilterIndex = m_nOpenFilterIndex;
    const std::string strPath = image.SaveFileDialog(nFilterIndex, nullptr);
    if (image.m_nErrorNumber != 0) {
        ShowWarning(image.GetErrorMessage());
    } else if (!strPath.empty()) {
        // The name keeps the user's letter case: on this system another case is another file.
        m_strFileName = strPath;
        m_pFileName->setText(QString::fromStdString(m_strFileName));
        m_nOpenFilterIndex = nFilterIndex;
    }
}

void COrvexNewDlg::OnBrowseBasedOn()
{
    const std::optional<std::string> strFilter = CDIBImage::ImportFilterOrWarn();
    if (!strFilter)
        return;
    CMFileDialog dialog(*strFilter, QDir::currentPath().toStdString(), this);
    dialog.m_pFileList = &m_strBasedOnList;
    dialog.exec();
    if (dialog.m_bClosed)
        FillBasedOnList();
    UpdateDialogControls();
}

void COrvexNewDlg::OnInitialise()
{
    CWaitCursor waitCursor;
    // West above east marks that no image has been taken yet.
    double dWest = 1000.0, dEast = 0.0, dSouth = 0.0, dNorth = 0.0;
    for (const std::string& strName : m_strBasedOnList) {
        CDIBWorld image;
        if (!image.OpenWorld(strName, true)) {
            ShowWarning(image.GetErrorMessage() + "\n\n" + strName);
            return;
        }
        if (image.m_nBitCount != 8 && image.m_nBitCount != 24) {
            ShowWarning("Only 8-bit and 24-bit colour images can be used in Gridmorph.\n"
                        "Please convert the image to 8-bit, or 24-bit colour before use.\n\n"
                        "This image is " + std::to_string(image.m_nBitCount) + "-bit.\n\n" + strName);
            image.CloseImage();
            return;
        }
        if (dWest > dEast) {
            dWest = image.GetWest();
            dEast = image.GetEast();
            dSouth = image.GetSouth();
            dNorth = image.GetNorth();
        } else {
            dWest = std::min(dWest, image.GetWest());
            dEast = std::max(dEast, image.GetEast());
            dSouth = std::min(dSouth, image.GetSouth());
            dNorth = std::max(dNorth, image.GetNorth());
        }
        image.CloseImage();
    }
    if (dWest > dEast) {
        dWest = 0.0;
        dEast = 1000.0;
        dSouth = 0.0;
        dNorth = 1000.0;
    }
    // Only the fields change; the members follow when OK reads them.
    m_pWest->setText(QString::fromStdString(FormatFixed(dWest, 2)));
    m_pEast->setText(QString::fromStdString(FormatFixed(dEast, 2)));
    m_pSouth->setText(QString::fromStdString(FormatFixed(dSouth, 2)));
    m_pNorth->setText(QString::fromStdString(FormatFixed(dNorth, 2)));
}

bool COrvexNewDlg::DoDataExchange()
{
    double dEast = 0, dNorth = 0, dSouth = 0, dWest = 0;
    if (!ExchangeDouble(m_pEast, 0.0, kRegionMax, dEast) || !ExchangeDouble(m_pNorth, 0.0, kRegionMax, dNorth) ||
        !ExchangeDouble(m_pSouth, 0.0, kRegionMax, dSouth) || !ExchangeDouble(m_pWest, 0.0, kRegionMax, dWest))
        return false;
    const std::string strFileName = m_pFileName->text().toStdString();
    if (strFileName.empty()) {
        ShowWarning("File name must be specified");
        m_pFileName->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (m_strBasedOnList.empty()) {
        ShowWarning("Based on file name must be specified");
        m_pBrowseBasedOn->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (!CheckEdgeOrder(dWest, dSouth, dEast, dNorth, m_pEast, m_pNorth))
        return false;
    m_strFileName = strFileName;
    m_dEast = dEast;
    m_dNorth = dNorth;
    m_dSouth = dSouth;
    m_dWest = dWest;
    return true;
}

void COrvexNewDlg::accept()
{
    if (DoDataExchange())
        QDialog::accept();
}

}  // namespace gridmorph
