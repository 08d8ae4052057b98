#include "dialogs/OvWorldFileDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <string>

#include "platform/Platform.h"
#include "dialogs/FieldExchange.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

constexpr double kLowest = std::numeric_limits<double>::lowest();
constexpr double kHighest = std::numeric_limits<double>::max();

}  // namespace

COvWorldFileDlg::COvWorldFileDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("worldFileDialog"));
    setWindowTitle(QStringLiteral("Setup from World File"));

    m_pFileName = new QLineEdit(this);
    m_pFileName->setObjectName(QStringLiteral("control%1").arg(IDC_FILE_NAME));
    m_pFileName->setReadOnly(true);
    m_pFileName->setMaxLength(260);
    m_pBrowse = new QPushButton(QStringLiteral("Browse"), this);
    m_pBrowse->setObjectName(QStringLiteral("control%1").arg(IDC_BROWSE));
    m_pBrowse->setAutoDefault(false);
    connect(m_pBrowse, &QPushButton::clicked, this, &COvWorldFileDlg::OnBrowse);

    const int nFieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("-00000000.000000")) + 16;
    for (int nControl = IDC_NORTH; nControl <= IDC_TOP_LEFT_NORTHING; ++nControl) {
        auto* pField = new QLineEdit(this);
        pField->setObjectName(QStringLiteral("control%1").arg(nControl));
        pField->setFixedWidth(nFieldWidth);
        pField->setAlignment(Qt::AlignRight);
        m_apFields[nControl - IDC_NORTH] = pField;
    }

    // The six numbers only show what Browse read, in the file's order.
    auto* pContents = new QGroupBox(QStringLiteral("World File Contents"), this);
    auto* pContentsLayout = new QFormLayout(pContents);
    const std::pair<const char*, int> aContents[] = {
        {"West East resolution (m/pixel) :", IDC_X_RESOLUTION}, {"First rotation term :", IDC_ROTATION1},
        {"Second rotation term :", IDC_ROTATION2},              {"South North resolution (m/pixel) :", IDC_Y_RESOLUTION},
        {"Easting of top left (m) :", IDC_TOP_LEFT_EASTING},     {"Northing of top left (m) :", IDC_TOP_LEFT_NORTHING},
    };
    for (const auto& [pLabel, nControl] : aContents) {
        Field(nControl)->setReadOnly(true);
        Field(nControl)->setFocusPolicy(Qt::ClickFocus);
        pContentsLayout->addRow(QString::fromLatin1(pLabel), Field(nControl));
    }

    // The edges as a compass rose.
    auto* pLocations = new QGroupBox(QStringLiteral("Generated Map Locations"), this);
    auto* pRose = new QGridLayout(pLocations);
    const auto AddPoint = [this, pRose](const QString& strLabel, int nControl, int nRow, int nColumn) {
        auto* pLabel = new QLabel(strLabel, this);
        pLabel->setBuddy(Field(nControl));
        pRose->addWidget(pLabel, nRow, nColumn, Qt::AlignRight);
        pRose->addWidget(Field(nControl), nRow, nColumn + 1);
    };
    AddPoint(QStringLiteral("North"), IDC_NORTH, 0, 2);
    AddPoint(QStringLiteral("West"), IDC_WEST, 1, 0);
    AddPoint(QStringLiteral("East"), IDC_EAST, 1, 4);
    AddPoint(QStringLiteral("South"), IDC_SOUTH, 2, 2);
    pRose->setColumnStretch(6, 1);

    auto* pFileRow = new QHBoxLayout;
    pFileRow->addWidget(new QLabel(QStringLiteral("File name :"), this));
    pFileRow->addWidget(m_pFileName, 1);
    pFileRow->addWidget(m_pBrowse);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pFileRow);
    pLayout->addWidget(pContents);
    pLayout->addWidget(pLocations);
    pLayout->addWidget(pButtons);

    setTabOrder(m_pBrowse, Field(IDC_NORTH));
    setTabOrder(Field(IDC_NORTH), Field(IDC_WEST));
    setTabOrder(Field(IDC_WEST), Field(IDC_EAST));
    setTabOrder(Field(IDC_EAST), Field(IDC_SOUTH));
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 64);
}

QLineEdit* COvWorldFileDlg::Field(int nControl) const
{
    if (nControl == IDC_FILE_NAME)
        return m_pFileName;
    return nControl >= IDC_NORTH && nControl <= IDC_TOP_LEFT_NORTHING ? m_apFields[nControl - IDC_NORTH] : nullptr;
}

void COvWorldFileDlg::InitDialog()
{
    m_pFileName->setText(QString::fromStdString(m_strFileName));
    const std::pair<int, double> aValues[] = {
        {IDC_X_RESOLUTION, m_dXResolution},         {IDC_Y_RESOLUTION, m_dYResolution},
        {IDC_ROTATION1, m_dRotation1},              {IDC_ROTATION2, m_dRotation2},
        {IDC_TOP_LEFT_EASTING, m_dTopLeftEasting},  {IDC_TOP_LEFT_NORTHING, m_dTopLeftNorthing},
        {IDC_EAST, m_dEast}, {IDC_NORTH, m_dNorth}, {IDC_SOUTH, m_dSouth}, {IDC_WEST, m_dWest},
    };
    for (const auto& [nControl, dValue] : aValues)
        Field(nControl)->setText(FieldText(dValue));
}

int COvWorldFileDlg::exec()
{
    InitDialog();
    m_pBrowse->setFocus();
    return QDialog::exec();
}

void COvWorldFileDlg::OnBrowse()
{
    const std::size_t nSlash = m_strImagePath.find_last_of('/');
    const std::string strFolder = nSlash == std::string::npos ? std::string() : m_strImagePath.substr(0, nSlash);

    GetPlatform().MessageBox("Related World files have the same name as the bitmap.", EMessageKind::Warning);
    SFileDialogRequest request;
    request.strFilter = WorldFileDialogFilter(m_strImagePath);
    request.strInitialFolder = strFolder;
    const SFileDialogResult result = GetPlatform().GetOpenFileName(request);
    if (!result.bAccepted)
        return;
    // The path keeps the user's letter case: on this system another case is another file.
    m_strFileName = result.strPath;
    m_pFileName->setText(QString::fromStdString(m_strFileName));
    ReadDialogWorldFile();
}

void COvWorldFileDlg::ReadDialogWorldFile()
{
    SWorldFileValues values;
    switch (ReadWorldFileValues(m_strFileName, values)) {
    case EWorldFileRead::CannotOpen:
        ShowWarning("Could not open " + m_strFileName);
        return;
    case EWorldFileRead::UnexpectedEnd:
        ShowWarning("Unexpected end of world file");
        return;
    case EWorldFileRead::Read:
        break;
    }
    // "inf" and "nan" read as numbers, and a huge resolution times the picture's size can
    // overflow: neither places a map, and the six read-only fields could not be put right.
    const double aLines[] = {values.dResolutionWestEast, values.dRotationFirst,  values.dRotationSecond,
                             values.dResolutionSouthNorth, values.dEastingTopLeft, values.dNorthingTopLeft};
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(aLines[i])) {
            ShowWarning("The world file " + m_strFileName + " cannot be used: line " + std::to_string(i + 1) +
                        " is not a finite number.");
            return;
        }
    }
    const double dEast = (m_nImageWidth - 1) * values.dResolutionWestEast + values.dEastingTopLeft;
    const double dSouth = (m_nImageHeight - 1) * values.dResolutionSouthNorth + values.dNorthingTopLeft;
    if (!std::isfinite(dEast) || !std::isfinite(dSouth)) {
        ShowWarning("The world file " + m_strFileName +
                    " cannot be used: the map edges it gives this picture are not finite numbers.");
        return;
    }
    m_dXResolution = values.dResolutionWestEast;
    m_dRotation1 = values.dRotationFirst;
    m_dRotation2 = values.dRotationSecond;
    m_dYResolution = values.dResolutionSouthNorth;
    m_dTopLeftEasting = values.dEastingTopLeft;
    m_dTopLeftNorthing = values.dNorthingTopLeft;
    // The edges of the current image at the file's resolution: pixel centres.
    m_dWest = m_dTopLeftEasting;
    m_dEast = (m_nImageWidth - 1) * m_dXResolution + m_dTopLeftEasting;
    m_dNorth = m_dTopLeftNorthing;
    m_dSouth = (m_nImageHeight - 1) * m_dYResolution + m_dTopLeftNorthing;
    InitDialog();
}

bool COvWorldFileDlg::DoDataExchange()
{
    double aValues[10];
    const int aOrder[] = {IDC_X_RESOLUTION,     IDC_Y_RESOLUTION,      IDC_ROTATION1, IDC_ROTATION2,
                          IDC_TOP_LEFT_EASTING, IDC_TOP_LEFT_NORTHING, IDC_EAST,      IDC_NORTH,
                          IDC_SOUTH,            IDC_WEST};
    for (int i = 0; i < 10; ++i)
        if (!ExchangeDouble(Field(aOrder[i]), kLowest, kHighest, aValues[i]))
            return false;
    const double dEast = aValues[6], dNorth = aValues[7], dSouth = aValues[8], dWest = aValues[9];
    if (!CheckEdgeOrder(dWest, dSouth, dEast, dNorth, Field(IDC_WEST), Field(IDC_SOUTH)))
        return false;
    m_strFileName = m_pFileName->text().toStdString();
    m_dXResolution = aValues[0];
    m_dYResolution = aValues[1];
    m_dRotation1 = aValues[2];
    m_dRotation2 = aValues[3];
    m_dTopLeftEasting = aValues[4];
    m_dTopLeftNorthing = aValues[5];
    m_dEast = dEast;
    m_dNorth = dNorth;
    m_dSouth = dSouth;
    m_dWest = dWest;
    return true;
}

void COvWorldFileDlg::accept()
{
    if (DoDataExchange())
        QDialog::accept();
}

}  // namespace gridmorph
