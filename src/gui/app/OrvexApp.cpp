#include "app/OrvexApp.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "app/AboutDlg.h"
#include "app/OrvexFrame.h"
#include "app/OrvexR4Doc.h"
#include "app/QtPlatform.h"
#include "app/RecentFileList.h"
#include "view/OrvexView.h"
#include "errors/ErrorText.h"
#include "platform/Platform.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

// The suite's installation keeps its program folder in its own settings.
constexpr const char* kSuiteOrganisation = "Kelmar";
constexpr const char* kSuiteApplication = "KorvaneR4";
constexpr const char* kSuiteGroup = "CurrentVersion";
// The value was always read into a buffer of this many bytes, its terminator included.
constexpr qsizetype kRegistryBufferBytes = 259;

}  // namespace

COrvexApp::COrvexApp(CPlatform* pPlatform)
{
    if (!pPlatform) {
        m_pOwnedPlatform = std::make_unique<CQtPlatform>();
        pPlatform = m_pOwnedPlatform.get();
    }
    m_pPlatform = pPlatform;
    m_pQtPlatform = dynamic_cast<CQtPlatform*>(pPlatform);
    m_pPreviousPlatform = InstallPlatform(m_pPlatform);
}

COrvexApp::~COrvexApp()
{
    m_pFrame.reset();
    m_pDocument.reset();
    InstallPlatform(m_pPreviousPlatform);
}

bool COrvexApp::IsAutomationArgument(const QString& strArgument)
{
    if (strArgument.size() < 2 || (strArgument[0] != QLatin1Char('-') && strArgument[0] != QLatin1Char('/')))
        return false;
    const QString strFlag = strArgument.mid(1);
    return strFlag.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0 ||
           strFlag.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0;
}

QString COrvexApp::GetRegistryString(QSettings::Scope eScope, const QString& strValueName)
{
    QSettings settings(eScope, QLatin1String(kSuiteOrganisation), QLatin1String(kSuiteApplication));
    // The user's scope alone: a missing user value is looked up in the system scope by
    // the caller, in that order.
    settings.setFallbacksEnabled(false);
    const QVariant value = settings.value(QLatin1String(kSuiteGroup) + QLatin1Char('/') + strValueName);
    if (!value.isValid())
        return QString();
    const QString strValue = value.toString();
    if (strValue.toUtf8().size() >= kRegistryBufferBytes)
        return QString();
    return strValue;
}

QString COrvexApp::ReadInstallPath(const QString& strValueName)
{
    QString strPath = GetRegistryString(QSettings::UserScope, strValueName);
    if (strPath.isEmpty())
        strPath = GetRegistryString(QSettings::SystemScope, strValueName);
    return strPath;
}

bool COrvexApp::InitInstance(const QStringList& aArguments)
{
    // The error texts are compiled in; the check stays for a build that lost them.
    if (!FindErrorText(10001))
        ShowWarning("Errnoex.rc resource has not been included");

    m_pRecentFiles = std::make_unique<CRecentFileList>(*m_pPlatform);
    m_pDocument = std::make_unique<COrvexR4Doc>(*this);
    m_pFrame = std::make_unique<COrvexFrame>(*this, *m_pDocument);
    if (m_pQtPlatform)
        m_pQtPlatform->SetMainWindow(m_pFrame.get(), m_pFrame->View());

    QString strOpenAfterStart;
    for (qsizetype i = 1; i < aArguments.size(); ++i) {
        const QString& strArgument = aArguments[i];
        if (IsAutomationArgument(strArgument)) {
            ShowWarning("Orvex must already be running\n");
            return false;
        }
        if (strArgument == QLatin1String("--open") && i + 1 < aArguments.size())
            strOpenAfterStart = aArguments[++i];
        // A file named alone on the command line is not opened: the program starts
        // with the empty document.
    }

    if (!m_pDocument->Document().OnNewDocument())
        return false;
    m_pFrame->ActivateFrame();
    m_pFrame->setAcceptDrops(true);

    m_strPathApp = ReadInstallPath(QStringLiteral("PathApp"));
    m_strHelpFile = m_strPathApp + QStringLiteral("/orvex.chm");

    // Opened once the event loop runs, so that its messages stand over a window that is
    // already on the screen.
    if (!strOpenAfterStart.isEmpty())
        QTimer::singleShot(0, this, [this, strOpenAfterStart] { OpenDocumentFile(strOpenAfterStart); });
    return true;
}

void COrvexApp::OnFileOpen()
{
    const QString strFolder = QDir::currentPath();
    const std::optional<std::string> strFilter = CDIBImage::ImportFilterOrWarn();
    if (!strFilter)
        return;
    SFileDialogRequest request;
    request.strFilter = *strFilter;
    request.strInitialFolder = strFolder.toStdString();
    request.nFilterEntry = std::max(0, m_nOpenFilterIndex - 1);
    const SFileDialogResult result = m_pPlatform->GetOpenFileName(request);
    if (result.bAccepted && OpenDocumentFile(QString::fromStdString(result.strPath)))
        m_nOpenFilterIndex = result.nFilterEntry + 1;
    QDir::setCurrent(strFolder);
}

bool COrvexApp::OpenDocumentFile(const QString& strPath)
{
    const bool bOpened = m_pDocument->Document().OnOpenDocument(strPath.toStdString());
    m_pFrame->UpdateCommandUI();
    return bOpened;
}

void COrvexApp::OpenRecentFile(int nIndex)
{
    const auto& aPaths = m_pRecentFiles->Paths();
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= aPaths.size())
        return;
    const QString strPath = QString::fromStdString(aPaths[static_cast<std::size_t>(nIndex)]);
    // An entry whose file has gone leaves the list once its open has said so.
    if (!OpenDocumentFile(strPath) && !QFileInfo::exists(strPath)) {
        m_pRecentFiles->Remove(static_cast<std::size_t>(nIndex));
        emit RecentFilesChanged();
    }
}

void COrvexApp::AddToRecentFileList(const std::string& strPath)
{
    // The list names files as the system finds them again: an absolute path.
    m_pRecentFiles->Add(QFileInfo(QString::fromStdString(strPath)).absoluteFilePath().toStdString());
    emit RecentFilesChanged();
}

void COrvexApp::OnAppAbout()
{
    CAboutDlg dialog(m_pFrame.get());
    dialog.exec();
}

}  // namespace gridmorph
