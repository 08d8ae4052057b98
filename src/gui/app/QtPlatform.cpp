#include "app/QtPlatform.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <algorithm>

#include "dialogs/FileDialogLayout.h"



namespace gridmorph {
namespace {

// The size the user last left the open and save dialogs at.
constexpr const char* kDialogSizeSection = "DIALOGSIZE";
constexpr const char* kFileDialogWidth = "FileDlgWidth";
constexpr const char* kFileDialogHeight = "FileDlgHeight";

}  // namespace

CQtPlatform::CQtPlatform() : m_pSettings(std::make_unique<QSettings>(QStringLiteral("Kelmar Release 4"), QStringLiteral("Gridmorph"))) {}

CQtPlatform::~CQtPlatform() = default;

void CQtPlatform::SetMainWindow(QWidget* pMainWindow, QWidget* pClientArea)
{
    m_pMainWindow = pMainWindow;
    m_pClientArea = pClientArea;
    delete m_pProgressPanel.data();
    m_pProgressPanel = pClientArea ? new CProgressPanel(pClientArea) : nullptr;
}

EAnswer CQtPlatform::MessageBox(const std::string& strText, EMessageKind eKind)
{
    QMessageBox box(m_pMainWindow ? m_pMainWindow.data() : QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("Gridmorph"));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(strText));
    switch (eKind) {
    case EMessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case EMessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case EMessageKind::QuestionYesNo:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case EMessageKind::QuestionYesNoCancel:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    // A box shown during a long command must not wear that command's wait cursor.
    const bool bWaiting = QApplication::overrideCursor() != nullptr;
    if (bWaiting)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int nButton = box.exec();
    if (bWaiting)
        QApplication::restoreOverrideCursor();
    switch (nButton) {
    case QMessageBox::Yes:
        return EAnswer::Yes;
    case QMessageBox::No:
        return EAnswer::No;
    case QMessageBox::Cancel:
        return EAnswer::Cancel;
    default:
        // The close box of a Yes/No/Cancel question is Cancel; of an OK box, OK.
        return eKind == EMessageKind::QuestionYesNoCancel ? EAnswer::Cancel
               : eKind == EMessageKind::QuestionYesNo    ? EAnswer::No
                                                          : EAnswer::Ok;
    }
}

SFileDialogResult CQtPlatform::RunFileDialog(const SFileDialogRequest& request, bool bSave)
{
    const QStringList aFilters = QtFileFilters(request.strFilter, bSave);
    // The extension of each entry's first pattern as written: what a name without one
    // gets on saving ("PNG" of "*.PNG").
    QStringList aExtensions;
    for (const QString& strFilter : aFilters) {
        const QString strFirst = strFilter.section(QStringLiteral(" ("), -1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(')'));
        aExtensions << (strFirst.startsWith(QStringLiteral("*.")) && !strFirst.contains(QLatin1Char('[')) ? strFirst.mid(2)
                                                                                                         : QString());
    }
    const QString strFolder = QString::fromStdString(request.strInitialFolder);
    const QString strCaption = request.strTitle.empty() ? (bSave ? QStringLiteral("Save As") : QStringLiteral("Open"))
                                                        : QString::fromStdString(request.strTitle);
    QWidget* pParent = m_pMainWindow ? m_pMainWindow.data() : QApplication::activeWindow();

    QFileDialog dialog(pParent, strCaption, strFolder, aFilters.join(QStringLiteral(";;")));
    dialog.setObjectName(bSave ? QStringLiteral("saveFileDialog") : QStringLiteral("openFileDialog"));
    // Qt's own dialog: the filters' any-case patterns, the hidden patterns and the sizes
    // below are made for it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const auto SelectEntry = [&dialog, &aExtensions, bSave](int nEntry) {
        // A name typed without an extension gets the chosen type's before the dialog
        // checks it, so the question about replacing a file asks about the file written.
        if (bSave)
            dialog.setDefaultSuffix(nEntry >= 0 && nEntry < aExtensions.size() ? aExtensions[nEntry] : QString());
    };
    const int nFirstEntry = request.nFilterEntry >= 0 && request.nFilterEntry < aFilters.size() ? request.nFilterEntry : 0;
    if (!aFilters.isEmpty())
        dialog.selectNameFilter(aFilters[nFirstEntry]);
    SelectEntry(nFirstEntry);
    if (!request.strInitialName.empty())
        dialog.selectFile(QString::fromStdString(request.strInitialName));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&aFilters, SelectEntry](const QString& strChosen) { SelectEntry(QtFilterEntry(aFilters, strChosen)); });

    if (bSave && request.accessory.fnClicked) {
        // A line and a button below the list (Save Transformed Map As: its coordinate system).
        if (auto* pGrid = qobject_cast<QGridLayout*>(dialog.layout())) {
            auto* pLine = new QLabel(QString::fromStdString(request.accessory.strText), &dialog);
            pLine->setObjectName(QStringLiteral("accessoryText"));
            auto* pButton = new QPushButton(QString::fromStdString(request.accessory.strButton), &dialog);
            pButton->setObjectName(QStringLiteral("accessoryButton"));
            pButton->setAutoDefault(false);
            QObject::connect(pButton, &QPushButton::clicked, &dialog, [&request, pLine] {
                pLine->setText(QString::fromStdString(request.accessory.fnClicked()));
            });
            const int nRow = pGrid->rowCount();
            const int nColumns = std::max(2, pGrid->columnCount());
            pGrid->addWidget(pLine, nRow, 0, 1, nColumns - 1);
            pGrid->addWidget(pButton, nRow, nColumns - 1);
        }
    }

    FitFileDialogColumns(dialog);
    const QSize remembered = RememberedDialogSize(dialog, GetProfileInt(kDialogSizeSection, kFileDialogWidth, 0),
                                                  GetProfileInt(kDialogSizeSection, kFileDialogHeight, 0));
    dialog.resize(remembered.isEmpty() ? SensibleFileDialogSize(dialog) : remembered);

    const int nResult = dialog.exec();
    WriteProfileInt(kDialogSizeSection, kFileDialogWidth, dialog.width());
    WriteProfileInt(kDialogSizeSection, kFileDialogHeight, dialog.height());
    SFileDialogResult result;
    const QStringList aChosen = dialog.selectedFiles();
    if (nResult != QDialog::Accepted || aChosen.isEmpty() || aChosen.constFirst().isEmpty())
        return result;
    result.bAccepted = true;
    result.strPath = aChosen.constFirst().toStdString();
    // With the patterns hidden, the dialog names the chosen type by its name alone.
    const int nEntry = QtFilterEntry(aFilters, dialog.selectedNameFilter());
    result.nFilterEntry = nEntry >= 0 ? nEntry : nFirstEntry;
    return result;
}

SFileDialogResult CQtPlatform::GetOpenFileName(const SFileDialogRequest& request) { return RunFileDialog(request, false); }

SFileDialogResult CQtPlatform::GetSaveFileName(const SFileDialogRequest& request) { return RunFileDialog(request, true); }

QString CQtPlatform::Key(const std::string& strSection, const std::string& strEntry)
{
    return QString::fromStdString(strSection) + QLatin1Char('/') + QString::fromStdString(strEntry);
}

int CQtPlatform::GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault)
{
    bool bOk = false;
    const int nValue = m_pSettings->value(Key(strSection, strEntry)).toString().toInt(&bOk);
    return bOk ? nValue : nDefault;
}

void CQtPlatform::WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue)
{
    m_pSettings->setValue(Key(strSection, strEntry), QString::number(nValue));
}

std::string CQtPlatform::GetProfileString(const std::string& strSection, const std::string& strEntry,
                                          const std::string& strDefault)
{
    const QVariant value = m_pSettings->value(Key(strSection, strEntry));
    return value.isValid() ? value.toString().toStdString() : strDefault;
}

void CQtPlatform::WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                     const std::string& strValue)
{
    m_pSettings->setValue(Key(strSection, strEntry), QString::fromStdString(strValue));
}

void CQtPlatform::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void CQtPlatform::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

void CQtPlatform::StartProgress(int nLower, int nUpper, const std::string& strText)
{
    // A long command runs without the event loop. Before it starts, the window system's
    // pending work is done once (the menu or dialog that started it taken off the screen,
    // what it covered painted again); user input still waits until the command ends.
    if (m_pProgressPanel && !m_pProgressPanel->isVisible() && m_pMainWindow && m_pMainWindow->isVisible())
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (m_pProgressPanel)
        m_pProgressPanel->StartProgress(nLower, nUpper, QString::fromStdString(strText));
}

void CQtPlatform::SetProgress(int nPosition, const std::string& strText)
{
    if (m_pProgressPanel)
        m_pProgressPanel->SetProgress(nPosition, QString::fromStdString(strText));
}

void CQtPlatform::EndProgress()
{
    if (m_pProgressPanel)
        m_pProgressPanel->EndProgress();
}

}  // namespace gridmorph
