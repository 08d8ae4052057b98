#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QFileDialog;
class QPushButton;

namespace gridmorph {

class CHorzListBox;

// "Select Files": gathers a list of files, possibly from several folders, in one run. A
// file browser whose OK button reads "&Add" puts the selected files on the "Selected
// files:" list below it instead of closing; "&Delete" takes one off again; "&Close" hands
// the list back. The dialog always ends as cancelled: the caller takes the list only when
// m_bClosed says the user finished with Close, so Cancel and the close box keep the
// caller's list as it was. The dialog's size is remembered between uses. After Add the
// name field is empty again, so the next name is not typed after the last.
//
// The browser is Qt's own file dialog widget, not the desktop's, so the dialog looks and
// behaves the same on every desktop.
class CMFileDialog : public QDialog {
    Q_OBJECT
public:
    // Control numbers of the list part.
    enum EControl { IDC_SELECTED_TEXT = 4011, IDC_FILE_LIST = 4012, IDC_CLOSE = 4013, IDC_DELETE = 4014 };

    // strFilter in the "Name|*.A;*.B|...|" form; an empty folder starts in the working folder.
    CMFileDialog(const std::string& strFilter, const std::string& strInitialDir, QWidget* pParent = nullptr);
    // Stores the dialog's size, whichever way it ended.
    ~CMFileDialog() override;

    // Runs the dialog modally: applies the stored size and shows the caller's list first.
    int exec() override;

    // Add: appends each path to the list unless the list already holds that file (the
    // same file, however its path is spelt; names that differ only in letter case are
    // other files here). The dialog stays open.
    void OnFileNameOK(const QStringList& aPaths);
    // Close: hands the list back to the caller's list and closes the dialog.
    void OnCloseButton();
    // Delete: removes the selected item and selects the one now in its place (the last
    // one when it was last); nothing without a selection.
    void OnDeleteFile();

    CHorzListBox* List() const { return m_pList; }
    QFileDialog* Browser() const { return m_pBrowser; }
    QPushButton* Button(int nControl) const;

    // The caller's list: the files chosen so far (in) and the final list (out). Not owned;
    // set before the dialog runs.
    std::vector<std::string>* m_pFileList = nullptr;
    // The number of files in the list when Close was pressed.
    int m_nFileCount = 0;
    // The user finished with Close.
    bool m_bClosed = false;
    // The size of the dialog, pixels: the stored one, then as the user leaves it.
    int m_nWidth = 0;
    int m_nHeight = 0;

protected:
    void resizeEvent(QResizeEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    // Both names the same file: their canonical paths (links and ./.. resolved) are equal.
    static bool SameFile(const QString& strFirst, const QString& strSecond);
    void OnInitDone();

    QFileDialog* m_pBrowser = nullptr;
    CHorzListBox* m_pList = nullptr;
    QPushButton* m_pCloseButton = nullptr;
    QPushButton* m_pDeleteButton = nullptr;
};

}  // namespace gridmorph
