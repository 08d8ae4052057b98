#include "dialogs/MFileDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "dialogs/FileDialogLayout.h"
#include "dialogs/HorzListBox.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kSizeSection = "DIALOGSIZE";
constexpr const char* kWidthEntry = "MFileDlgWidth";
constexpr const char* kHeightEntry = "MFileDlgHeight";
// The size the dialog opens at before the user has given it one: room for the browser's
// columns and a few lines of the list.
constexpr int kDefaultWidth = 720;
constexpr int kDefaultHeight = 600;

// Qt's file dialog as a widget inside another dialog: its OK (Add) and Cancel end nothing
// by themselves but tell the surrounding dialog, which stays open on Add.
class CEmbeddedFileBrowser : public QFileDialog {
public:
    explicit CEmbeddedFileBrowser(QWidget* pParent) : QFileDialog(pParent)
    {
        setOption(QFileDialog::DontUseNativeDialog, true);
        // The filters match their extensions in any letter case; the patterns that do it
        // are no reading matter.
        setOption(QFileDialog::HideNameFilterDetails, true);
        setWindowFlags(Qt::Widget);
        setSizeGripEnabled(false);
    }

    std::function<void(const QStringList&)> m_fnAdd;
    std::function<void()> m_fnCancel;

    void done(int nResult) override
    {
        // The file dialog has already stepped into a folder that was chosen and refused
        // names that do not exist; what reaches here is a list of existing files.
        if (nResult == QDialog::Accepted) {
            if (m_fnAdd)
                m_fnAdd(selectedFiles());
            // The next name is typed into an empty field, not after the one just added:
            // neither the name nor the files it picked in the list stay.
            for (auto* pView : findChildren<QAbstractItemView*>())
                if (pView->objectName() == QLatin1String("listView") || pView->objectName() == QLatin1String("treeView"))
                    pView->clearSelection();
            // Quietly: an empty name would otherwise be completed to the folder itself,
            // which the next Add would step into instead of adding the name typed.
            if (auto* pName = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                const QSignalBlocker blocker(pName);
                pName->clear();
                // Nor the completions offered for the name just added.
                if (QCompleter* pCompleter = pName->completer(); pCompleter && pCompleter->popup())
                    pCompleter->popup()->hide();
            }
        } else if (m_fnCancel) {
            m_fnCancel();
        }
    }
};

}  // namespace

CMFileDialog::CMFileDialog(const std::string& strFilter, const std::string& strInitialDir, QWidget* pParent)
    : QDialog(pParent)
{
    setObjectName(QStringLiteral("multipleFileDialog"));
    setWindowTitle(QStringLiteral("Select Files"));
    setSizeGripEnabled(true);

    auto* pBrowser = new CEmbeddedFileBrowser(this);
    m_pBrowser = pBrowser;
    m_pBrowser->setObjectName(QStringLiteral("fileBrowser"));
    m_pBrowser->setFileMode(QFileDialog::ExistingFiles);
    m_pBrowser->setAcceptMode(QFileDialog::AcceptOpen);
    m_pBrowser->setNameFilters(QtFileFilters(strFilter));
    m_pBrowser->setLabelText(QFileDialog::Accept, QStringLiteral("&Add"));
    m_pBrowser->setDirectory(strInitialDir.empty() ? QDir::currentPath() : QString::fromStdString(strInitialDir));
    FitFileDialogColumns(*m_pBrowser);
    pBrowser->m_fnAdd = [this](const QStringList& aPaths) { OnFileNameOK(aPaths); };
    pBrowser->m_fnCancel = [this] { reject(); };

    auto* pSelectedText = new QLabel(QStringLiteral("Selected files:"), this);
    pSelectedText->setObjectName(QStringLiteral("control%1").arg(IDC_SELECTED_TEXT));
    m_pList = new CHorzListBox(this);
    m_pList->setObjectName(QStringLiteral("control%1").arg(IDC_FILE_LIST));
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setMinimumHeight(6 * fontMetrics().height());
    pSelectedText->setBuddy(m_pList);
    m_pCloseButton = new QPushButton(QStringLiteral("&Close"), this);
    m_pCloseButton->setObjectName(QStringLiteral("control%1").arg(IDC_CLOSE));
    m_pDeleteButton = new QPushButton(QStringLiteral("&Delete"), this);
    m_pDeleteButton->setObjectName(QStringLiteral("control%1").arg(IDC_DELETE));
    connect(m_pCloseButton, &QPushButton::clicked, this, &CMFileDialog::OnCloseButton);
    connect(m_pDeleteButton, &QPushButton::clicked, this, &CMFileDialog::OnDeleteFile);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, [this] { OnDeleteFile(); });

    // The list part below the browser: the list with Close and Delete beside its top.
    auto* pListPart = new QGridLayout;
    pListPart->addWidget(pSelectedText, 0, 0);
    pListPart->addWidget(m_pList, 1, 0, 3, 1);
    pListPart->addWidget(m_pCloseButton, 1, 1);
    pListPart->addWidget(m_pDeleteButton, 2, 1);
    pListPart->setRowStretch(3, 1);
    pListPart->setColumnStretch(0, 1);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pBrowser, 3);
    pLayout->addLayout(pListPart, 1);
}

CMFileDialog::~CMFileDialog()
{
    CPlatform& platform = GetPlatform();
    platform.WriteProfileInt(kSizeSection, kWidthEntry, m_nWidth);
    platform.WriteProfileInt(kSizeSection, kHeightEntry, m_nHeight);
}

QPushButton* CMFileDialog::Button(int nControl) const
{
    switch (nControl) {
    case IDC_CLOSE:
        return m_pCloseButton;
    case IDC_DELETE:
        return m_pDeleteButton;
    default:
        return nullptr;
    }
}

void CMFileDialog::OnInitDone()
{
    CPlatform& platform = GetPlatform();
    m_nWidth = platform.GetProfileInt(kSizeSection, kWidthEntry, 0);
    m_nHeight = platform.GetProfileInt(kSizeSection, kHeightEntry, 0);
    if (m_nWidth <= 0 || m_nHeight <= 0) {
        // Nothing stored: the size the dialog takes by itself, at least the usual one.
        const QSize hint = sizeHint();
        // Wide enough for the browser's columns (it widens the dialog once shown if not).
        const int nBrowser = SensibleFileDialogSize(*m_pBrowser).width() + (hint.width() - m_pBrowser->sizeHint().width());
        m_nWidth = std::max({hint.width(), kDefaultWidth, nBrowser});
        m_nHeight = std::max(hint.height(), kDefaultHeight);
    }
    resize(m_nWidth, m_nHeight);

    // Enter in the list deletes, as the default button of the list part.
    m_pDeleteButton->setDefault(true);

    m_pList->ResetContent();
    if (m_pFileList)
        for (const std::string& strPath : *m_pFileList)
            m_pList->AddString(QString::fromStdString(strPath));
}

int CMFileDialog::exec()
{
    OnInitDone();
    return QDialog::exec();
}

void CMFileDialog::resizeEvent(QResizeEvent* pEvent)
{
    QDialog::resizeEvent(pEvent);
    // The size the user gives the dialog is the one it opens at next time.
    if (isVisible()) {
        m_nWidth = width();
        m_nHeight = height();
    }
}

void CMFileDialog::keyPressEvent(QKeyEvent* pEvent)
{
    // Enter that no control of the browser took (the list has the focus) is Delete's.
    if ((pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) &&
        (!pEvent->modifiers() || pEvent->modifiers() == Qt::KeypadModifier)) {
        OnDeleteFile();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

bool CMFileDialog::SameFile(const QString& strFirst, const QString& strSecond)
{
    const auto Canonical = [](const QString& strPath) {
        const QFileInfo info(strPath);
        const QString strCanonical = info.canonicalFilePath();
        return strCanonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : strCanonical;
    };
    return Canonical(strFirst) == Canonical(strSecond);
}

void CMFileDialog::OnFileNameOK(const QStringList& aPaths)
{
    for (const QString& strPath : aPaths) {
        bool bListed = false;
        for (int i = 0; i < m_pList->GetCount() && !bListed; ++i)
            bListed = SameFile(m_pList->GetText(i), strPath);
        if (!bListed)
            m_pList->AddString(strPath);
    }
}

void CMFileDialog::OnCloseButton()
{
    m_bClosed = true;
    m_nFileCount = m_pList->GetCount();
    if (m_pFileList) {
        m_pFileList->clear();
        for (int i = 0; i < m_nFileCount; ++i)
            m_pFileList->push_back(m_pList->GetText(i).toStdString());
    }
    reject();
}

void CMFileDialog::OnDeleteFile()
{
    const int nIndex = m_pList->currentRow();
    if (nIndex < 0 || !m_pList->currentItem() || !m_pList->currentItem()->isSelected())
        return;
    const int nLeft = m_pList->DeleteString(nIndex);
    if (nLeft > 0)
        m_pList->setCurrentRow(std::min(nIndex, nLeft - 1));
}

}  // namespace gridmorph
