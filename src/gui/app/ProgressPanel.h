#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QString>
#include <functional>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace gridmorph {

// The progress panel: a small child window in the top-left corner of the main window's
// client area with one line of text and a bar. Long commands run their row loops on the
// user-interface thread without returning to the event loop, so the panel paints itself
// at once (a synchronous repaint), and only when what it shows has changed, at most every
// 150 ms while the bar moves (and always for its last step): a loop over 9000 rows costs a
// few dozen repaints, not 9000.
class CProgressPanel : public QFrame {
    Q_OBJECT
public:
    explicit CProgressPanel(QWidget* pParent);

    void StartProgress(int nLower, int nUpper, const QString& strText);
    void SetProgress(int nPosition, const QString& strText);
    void EndProgress();
    // A Cancel button under the bar that calls fnCancel (work that can stop, like a series
    // of scans); none with an empty function. EndProgress takes it away.
    void SetCancel(std::function<void()> fnCancel);
    QPushButton* CancelButton() const { return m_pCancel; }

    QString Text() const;
    // The bar's shown value in steps of its width (0 .. Steps()), and how often the panel
    // has painted itself during progress; for tests and the benchmark.
    int ShownStep() const { return m_nShownStep; }
    int Steps() const;
    int RepaintCount() const { return m_nRepaintCount; }

private:
    void ShowMessage(const QString& strText);
    void SetText(const QString& strText);
    int StepFor(int nPosition) const;

    QGroupBox* m_pGroup = nullptr;
    QLabel* m_pText = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pCancel = nullptr;
    std::function<void()> m_fnCancel;
    void FitSize();
    int m_nLower = 0;
    int m_nUpper = 0;
    int m_nShownStep = -1;
    QElapsedTimer m_sinceRepaint;
    int m_nRepaintCount = 0;
};

}  // namespace gridmorph
