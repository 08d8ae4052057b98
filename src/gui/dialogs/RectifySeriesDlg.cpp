#include "dialogs/RectifySeriesDlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "io/Numbers.h"
#include "io/SafeFileWriter.h"
#include "platform/Platform.h"

namespace gridmorph {

CRectifySeriesDlg::CRectifySeriesDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("CRectifySeriesDlg"));
    setWindowTitle(QStringLiteral("Rectify Series"));
    m_pTableChoice = new QRadioButton(QStringLiteral("A &table of scans (CSV, as gridmorph-cli batch reads it):"), this);
    m_pTable = new QLineEdit(this);
    m_pBrowseTable = new QPushButton(QStringLiteral("&Browse..."), this);
    m_pFolderChoice = new QRadioButton(QStringLiteral("A &folder of scans (each with its SCAN.points, else the grid "
                                                      "found on it):"),
                                       this);
    m_pFolder = new QLineEdit(this);
    m_pBrowseFolder = new QPushButton(QStringLiteral("B&rowse..."), this);
    auto* pOutputLabel = new QLabel(QStringLiteral("Rectified &maps (NAME-rectified.tif) go to:"), this);
    m_pOutput = new QLineEdit(this);
    pOutputLabel->setBuddy(m_pOutput);
    m_pBrowseOutput = new QPushButton(QStringLiteral("Br&owse..."), this);
    m_pTable->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    m_pTableChoice->setChecked(true);

    auto* pGrid = new QGridLayout;
    pGrid->addWidget(m_pTableChoice, 0, 0, 1, 2);
    pGrid->addWidget(m_pTable, 1, 0);
    pGrid->addWidget(m_pBrowseTable, 1, 1);
    pGrid->addWidget(m_pFolderChoice, 2, 0, 1, 2);
    pGrid->addWidget(m_pFolder, 3, 0);
    pGrid->addWidget(m_pBrowseFolder, 3, 1);
    pGrid->addWidget(pOutputLabel, 4, 0, 1, 2);
    pGrid->addWidget(m_pOutput, 5, 0);
    pGrid->addWidget(m_pBrowseOutput, 5, 1);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pOk = pButtons->button(QDialogButtonBox::Ok);
    m_pOk->setText(QStringLiteral("Rectify"));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pGrid);
    pLayout->addWidget(pButtons);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QRadioButton* pChoice : {m_pTableChoice, m_pFolderChoice})
        connect(pChoice, &QRadioButton::toggled, this, &CRectifySeriesDlg::UpdateFields);
    for (QLineEdit* pEdit : {m_pTable, m_pFolder, m_pOutput})
        connect(pEdit, &QLineEdit::textChanged, this, &CRectifySeriesDlg::UpdateFields);
    connect(m_pBrowseTable, &QPushButton::clicked, this, [this] {
        const QString strPath = QFileDialog::getOpenFileName(this, QStringLiteral("Table of Scans"), m_pTable->text(),
                                                             QStringLiteral("Tables (*.csv);;All files (*)"));
        if (!strPath.isEmpty())
            m_pTable->setText(strPath);
    });
    const auto BrowseFolder = [this](QLineEdit* pEdit, const QString& strTitle) {
        const QString strPath = QFileDialog::getExistingDirectory(this, strTitle, pEdit->text());
        if (!strPath.isEmpty())
            pEdit->setText(strPath);
    };
    connect(m_pBrowseFolder, &QPushButton::clicked, this,
            [this, BrowseFolder] { BrowseFolder(m_pFolder, QStringLiteral("Folder of Scans")); });
    connect(m_pBrowseOutput, &QPushButton::clicked, this,
            [this, BrowseFolder] { BrowseFolder(m_pOutput, QStringLiteral("Folder of the Rectified Maps")); });
    UpdateFields();
}

bool CRectifySeriesDlg::FromTable() const { return m_pTableChoice->isChecked(); }
QString CRectifySeriesDlg::TablePath() const { return m_pTable->text().trimmed(); }
QString CRectifySeriesDlg::ScanFolder() const { return m_pFolder->text().trimmed(); }
QString CRectifySeriesDlg::OutputFolder() const { return m_pOutput->text().trimmed(); }

void CRectifySeriesDlg::UpdateFields()
{
    const bool bTable = FromTable();
    m_pTable->setEnabled(bTable);
    m_pBrowseTable->setEnabled(bTable);
    for (QWidget* pWidget : std::initializer_list<QWidget*>{m_pFolder, m_pBrowseFolder, m_pOutput, m_pBrowseOutput})
        pWidget->setEnabled(!bTable);
    m_pOk->setEnabled(bTable ? !TablePath().isEmpty() : !ScanFolder().isEmpty() && !OutputFolder().isEmpty());
}

namespace {

enum EReportColumn { kFile, kStatus, kMessage, kMismatch, kTime, kColumns };

}  // namespace

CSeriesReportDlg::CSeriesReportDlg(QWidget* pParent, const std::vector<SBatchRow*>& aRows, const QString& strSummary)
    : QDialog(pParent), m_aRows(aRows)
{
    setObjectName(QStringLiteral("CSeriesReportDlg"));
    setWindowTitle(QStringLiteral("Rectify Series Report"));
    m_pSummary = new QLabel(strSummary, this);
    m_pSummary->setWordWrap(true);
    m_pTable = new QTableWidget(int(aRows.size()), kColumns, this);
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Status"), QStringLiteral("Message"),
                                         QStringLiteral("Fourth corner (pixels, m)"), QStringLiteral("Time (s)")});
    m_pTable->verticalHeader()->hide();
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setWordWrap(false);
    for (int r = 0; r < int(aRows.size()); ++r) {
        const SBatchRow& row = *aRows[std::size_t(r)];
        const bool bWritten = row.eStatus == EBatchStatus::Written;
        const bool bMeasured = bWritten && row.result.bFourthCorner && row.result.check.bMeasured;
        const auto Set = [&](int nColumn, const std::string& strText, const std::string& strTip = std::string()) {
            auto* pItem = new QTableWidgetItem(QString::fromStdString(strText));
            pItem->setToolTip(QString::fromStdString(strTip.empty() ? strText : strTip));
            m_pTable->setItem(r, nColumn, pItem);
        };
        Set(kFile, std::filesystem::path(row.strScan).filename().string(), row.strScan + " -> " + row.strOutput);
        Set(kStatus, BatchStatusName(row.eStatus));
        Set(kMessage, row.strMessage);
        Set(kMismatch, bMeasured ? FormatFixed(row.result.check.dMismatchPixels, 2) + ", " +
                                       FormatFixed(row.result.check.dMismatchMetres, 2)
                                 : std::string());
        Set(kTime, bWritten || row.eStatus == EBatchStatus::Failed ? FormatFixed(row.dSeconds, 2) : std::string());
    }
    const int nRowHeight = fontMetrics().height() + 8;
    m_pTable->verticalHeader()->setDefaultSectionSize(nRowHeight);
    m_pTable->resizeColumnsToContents();
    // A long message is cut at a readable width; its tip holds all of it.
    m_pTable->setColumnWidth(kMessage, std::clamp(m_pTable->columnWidth(kMessage), 240, 560));
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    int nWidth = m_pTable->frameWidth() * 2 + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    for (int c = 0; c < kColumns; ++c)
        nWidth += m_pTable->columnWidth(c);
    m_pTable->setMinimumWidth(std::min(nWidth, 1100));
    m_pTable->setMinimumHeight(m_pTable->horizontalHeader()->sizeHint().height() + m_pTable->frameWidth() * 2 +
                               nRowHeight * std::clamp(int(aRows.size()), 3, 14));

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_pSave = pButtons->addButton(QStringLiteral("&Save Report..."), QDialogButtonBox::ActionRole);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pSummary);
    pLayout->addWidget(m_pTable, 1);
    pLayout->addWidget(pButtons);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pSave, &QPushButton::clicked, this, [this] { SaveReport(); });
}

QString CSeriesReportDlg::Summary() const { return m_pSummary->text(); }

bool CSeriesReportDlg::SaveReport()
{
    SFileDialogRequest request;
    request.strTitle = "Save Report";
    request.strFilter = "Reports (*.csv)|*.csv|";
    const SFileDialogResult result = GetPlatform().GetSaveFileName(request);
    if (!result.bAccepted || result.strPath.empty())
        return false;
    if (!WriteTextFile(result.strPath, FormatBatchReport(m_aRows, true))) {
        GetPlatform().MessageBox("The report " + result.strPath + " cannot be written.", EMessageKind::Warning);
        return false;
    }
    return true;
}

}  // namespace gridmorph
