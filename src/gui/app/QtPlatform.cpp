#include "app/QtPlatform.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>



namespace gridmorph {
namespace {

// "*.JPG" becomes "*.[Jj][Pp][Gg]": file names on this system keep their letter case,
// and a map saved as site.jpg must show under the JPEG filter.
QString AnyCasePattern(const QString& strPattern)
{
    QString strResult;
    for (const QChar c : strPattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            strResult += QStringLiteral("[%1%2]").arg(c.toUpper(), c.toLower());
        else
            strResult += c;
    }
    return strResult;
}

}  // namespace

QStringList QtFileFilters(const std::string& strFilter)
{
    const QStringList aPieces = QString::fromStdString(strFilter).split(QLatin1Char('|'));
    QStringList aFilters;
    for (qsizetype i = 0; i + 1 < aPieces.size(); i += 2) {
        const QString strName = aPieces[i].trimmed();
        if (strName.isEmpty())
            break;
        QStringList aPatterns;
        for (const QString& strPattern : aPieces[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            // Qt splits a filter's patterns at white space: a blank inside a name (the
            // related world files of "my map.jpg") matches as any one character.
            aPatterns << AnyCasePattern(strPattern.trimmed()).replace(QLatin1Char(' '), QLatin1Char('?'));
        aFilters << QStringLiteral("%1 (%2)").arg(strName, aPatterns.join(QLatin1Char(' ')));
    }
    return aFilters;
}

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
    const QStringList aFilters = QtFileFilters(request.strFilter);
    QString strSelectedFilter;
    if (request.nFilterEntry >= 0 && request.nFilterEntry < aFilters.size())
        strSelectedFilter = aFilters[request.nFilterEntry];
    const QString strFolder = QString::fromStdString(request.strInitialFolder);
    const QString strCaption = request.strTitle.empty() ? (bSave ? QStringLiteral("Save As") : QStringLiteral("Open"))
                                                        : QString::fromStdString(request.strTitle);
    QWidget* pParent = m_pMainWindow ? m_pMainWindow.data() : QApplication::activeWindow();
    const QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
    QString strPath;
    if (bSave && request.accessory.fnClicked) {
        // Qt's own dialog, which has room for the accessory's line and button below its list.
        QFileDialog dialog(pParent, strCaption, strFolder, aFilters.join(QStringLiteral(";;")));
        dialog.setOptions(options | QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!strSelectedFilter.isEmpty())
            dialog.selectNameFilter(strSelectedFilter);
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
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            strPath = dialog.selectedFiles().front();
            strSelectedFilter = dialog.selectedNameFilter();
        }
    } else {
        strPath = bSave ? QFileDialog::getSaveFileName(pParent, strCaption, strFolder,
                                                       aFilters.join(QStringLiteral(";;")), &strSelectedFilter, options)
                        : QFileDialog::getOpenFileName(pParent, strCaption, strFolder,
                                                       aFilters.join(QStringLiteral(";;")), &strSelectedFilter, options);
    }
    SFileDialogResult result;
    if (strPath.isEmpty())
        return result;
    result.bAccepted = true;
    result.strPath = strPath.toStdString();
    result.nFilterEntry = std::max<int>(0, static_cast<int>(aFilters.indexOf(strSelectedFilter)));
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
