#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

namespace gridmorph {

class CPlatform;
class CQtPlatform;
class CRecentFileList;
class COrvexR4Doc;
class COrvexFrame;

// The application: starts the program in its fixed order, owns the document and the
// main frame, runs File Open and the About box, and keeps the one filter index that
// every image file dialog shares.
class COrvexApp : public QObject {
    Q_OBJECT
public:
    // With a platform given (tests), boxes, dialogs and settings go through it;
    // otherwise the application installs the Qt platform.
    explicit COrvexApp(CPlatform* pPlatform = nullptr);
    ~COrvexApp() override;

    // Start-up; false when the program must end at once.
    bool InitInstance(const QStringList& aArguments);

    // A start for embedding or automation: -Embedding, /Embedding, -Automation or
    // /Automation in any letter case.
    static bool IsAutomationArgument(const QString& strArgument);
    // The suite's value under "Software\Kelmar\KorvaneR4\CurrentVersion" in one scope of
    // its settings; "" when it is missing or does not fit the 259-byte buffer it was
    // always read into.
    static QString GetRegistryString(QSettings::Scope eScope, const QString& strValueName);
    // The user's value, or the system's when the user's is missing or empty.
    static QString ReadInstallPath(const QString& strValueName);

    void OnFileOpen();
    // Opens a file into the document (the close step asks about unsaved work first).
    bool OpenDocumentFile(const QString& strPath);
    void OpenRecentFile(int nIndex);
    void OnAppAbout();
    void AddToRecentFileList(const std::string& strPath);
    const CRecentFileList& RecentFiles() const { return *m_pRecentFiles; }

    CPlatform& Platform() { return *m_pPlatform; }
    // The Qt platform when it is the one in use (its progress panel), else null.
    CQtPlatform* QtPlatform() const { return m_pQtPlatform; }
    COrvexR4Doc* Document() const { return m_pDocument.get(); }
    COrvexFrame* Frame() const { return m_pFrame.get(); }

    QString m_strPathApp;
    QString m_strHelpFile;
    int m_nOpenFilterIndex = 0;

signals:
    void RecentFilesChanged();

private:
    std::unique_ptr<CQtPlatform> m_pOwnedPlatform;
    CPlatform* m_pPlatform = nullptr;
    // The platform when it is Qt's: it shows progress in the frame's client area.
    CQtPlatform* m_pQtPlatform = nullptr;
    CPlatform* m_pPreviousPlatform = nullptr;
    std::unique_ptr<CRecentFileList> m_pRecentFiles;
    std::unique_ptr<COrvexR4Doc> m_pDocument;
    std::unique_ptr<COrvexFrame> m_pFrame;
};

}  // namespace gridmorph
