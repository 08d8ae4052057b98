#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "batch/SeriesBatch.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace gridmorph {

// File > Rectify Series: where the series comes from, a table (CSV) or a folder of scans,
// and for a folder the folder the rectified maps go to.
class CRectifySeriesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRectifySeriesDlg(QWidget* pParent);

    bool FromTable() const;
    QString TablePath() const;
    QString ScanFolder() const;
    QString OutputFolder() const;

    // The fields, for tests and for the settings of the last series.
    QRadioButton* m_pTableChoice = nullptr;
    QRadioButton* m_pFolderChoice = nullptr;
    QLineEdit* m_pTable = nullptr;
    QLineEdit* m_pFolder = nullptr;
    QLineEdit* m_pOutput = nullptr;
    QPushButton* m_pOk = nullptr;

private:
    void UpdateFields();
    QPushButton* m_pBrowseTable = nullptr;
    QPushButton* m_pBrowseFolder = nullptr;
    QPushButton* m_pBrowseOutput = nullptr;
};

// The report of a series: one line per row (file, status, message, fourth-corner mismatch,
// time) and Save Report, which writes the same CSV as gridmorph-cli batch --report.
class CSeriesReportDlg : public QDialog {
    Q_OBJECT
public:
    CSeriesReportDlg(QWidget* pParent, const std::vector<SBatchRow*>& aRows, const QString& strSummary);

    QTableWidget* Table() const { return m_pTable; }
    QString Summary() const;
    // Asks for a file name through the platform and writes the report there; false when
    // nothing was written.
    bool SaveReport();

    QPushButton* m_pSave = nullptr;

private:
    std::vector<SBatchRow*> m_aRows;
    QLabel* m_pSummary = nullptr;
    QTableWidget* m_pTable = nullptr;
};

}  // namespace gridmorph
