// File > Rectify Series: the core's batch (batch/SeriesBatch) run from the window. The rows
// run on a thread of their own while the window's event loop goes on, so the progress
// panel moves and its Cancel button can be pressed; the report follows.
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <atomic>
#include <filesystem>
#include <thread>

#include "shared/CommandIds.h"
#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/ProgressPanel.h"
#include "app/QtPlatform.h"
#include "batch/SeriesBatch.h"
#include "dialogs/RectifySeriesDlg.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

// Tells the window of each row finished, on the window's thread.
class CWindowBatchFeedback : public CBatchFeedback {
public:
    CWindowBatchFeedback(QObject* pReceiver, CPlatform& front) : m_pReceiver(pReceiver), m_front(front) {}
    void RowFinished(const SBatchRow&, const SBatchProgress& progress) override
    {
        const std::string strText = FormatBatchProgress(progress);
        const int nDone = progress.nDone;
        CPlatform* pFront = &m_front;
        QMetaObject::invokeMethod(
            m_pReceiver, [pFront, nDone, strText] { pFront->SetProgress(nDone, strText); }, Qt::QueuedConnection);
    }
    bool Cancelled() override { return m_bCancelled.load(); }
    std::atomic<bool> m_bCancelled{false};

private:
    QObject* m_pReceiver;
    CPlatform& m_front;
};

QString Summary(const SBatchCounts& counts)
{
    QString strText = QStringLiteral("%1 written, %2 skipped, %3 failed, %4 warned")
                          .arg(counts.nWritten)
                          .arg(counts.nSkipped)
                          .arg(counts.nFailed)
                          .arg(counts.nWarned);
    if (counts.nCancelled > 0)
        strText += QStringLiteral("; cancelled before %1 more").arg(counts.nCancelled);
    return strText + QStringLiteral(".");
}

}  // namespace

void COrvexFrame::OnFileRectifySeries()
{
    CRectifySeriesDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    SBatchTable table;
    try {
        if (dialog.FromTable()) {
            table = ReadBatchTable(dialog.TablePath().toStdString());
        } else {
            const std::string strOutput = dialog.OutputFolder().toStdString();
            std::error_code error;
            if (!std::filesystem::is_directory(strOutput, error)) {
                ShowWarning("The folder " + strOutput + " does not exist.");
                return;
            }
            table = ReadScanFolder(dialog.ScanFolder().toStdString(), strOutput);
        }
    } catch (const CBatchTableError& error) {
        ShowWarning("The table cannot be used: " + error.Problem() + ".");
        return;
    }
    if (table.aRows.empty()) {
        ShowWarning(dialog.FromTable() ? "The table has no rows." : "The folder holds no scans.");
        return;
    }
    const std::vector<SBatchRow*> aRows = SelectShard(table, 1, 1);
    int nRefused = 0;
    for (SBatchRow* pRow : aRows)
        nRefused += !pRow->strRefusal.empty();
    if (nRefused > 0) {
        for (SBatchRow* pRow : aRows) {
            pRow->eStatus = EBatchStatus::Refused;
            pRow->strMessage =
                pRow->strRefusal.empty() ? "not run: other rows of the table were refused" : pRow->strRefusal;
        }
        CSeriesReportDlg report(
            this, aRows,
            QStringLiteral("Nothing was done: %1 of %2 rows were refused. Mend them and start again.")
                .arg(nRefused)
                .arg(aRows.size()));
        report.exec();
        return;
    }

    // The rows run on a thread of their own; the window shows their progress.
    CPlatform& front = GetPlatform();
    CWindowBatchFeedback feedback(this, front);
    front.StartProgress(0, int(aRows.size()), "Rectifying " + std::to_string(aRows.size()) + " scans");
    CProgressPanel* pPanel = m_app.QtPlatform() ? m_app.QtPlatform()->ProgressPanel() : nullptr;
    if (pPanel)
        pPanel->SetCancel([&feedback] { feedback.m_bCancelled = true; });
    menuBar()->setEnabled(false);
    m_pToolBar->setEnabled(false);
    // The rows keep their messages and answer their questions on their own threads; this
    // thread goes on talking to the user (a map dropped meanwhile asks about unsaved work).
    const SBatchSettings settings;
    SBatchCounts counts;
    {
        m_bSeriesRunning = true;
        QEventLoop loop;
        std::thread worker([&] {
            counts = RunBatchRows(aRows, table.strTable, settings, feedback);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        m_bSeriesRunning = false;
    }
    menuBar()->setEnabled(true);
    m_pToolBar->setEnabled(true);
    front.EndProgress();
    CSeriesReportDlg report(this, aRows, Summary(counts));
    report.exec();
}

}  // namespace gridmorph
