#pragma once

#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

#include "app/ProgressPanel.h"
#include "platform/Platform.h"

class QWidget;

namespace gridmorph {


// The platform seam over Qt: message boxes, file dialogs, the settings in QSettings
// (organisation "Kelmar Release 4", application "Gridmorph", in the user's XDG config
// folder), the wait cursor and the progress panel in the main window. The file dialogs
// are Qt's own (the same on every desktop), sized for their columns, and open at the size
// the user last left them.
class CQtPlatform : public CPlatform {
public:
    CQtPlatform();
    ~CQtPlatform() override;

    // The window boxes and dialogs belong to, and in whose client area progress shows.
    void SetMainWindow(QWidget* pMainWindow, QWidget* pClientArea);
    CProgressPanel* ProgressPanel() const { return m_pProgressPanel.data(); }
    QSettings& Settings() { return *m_pSettings; }

    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override;
    SFileDialogResult GetOpenFileName(const SFileDialogRequest& request) override;
    SFileDialogResult GetSaveFileName(const SFileDialogRequest& request) override;
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) override;
    void WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue) override;
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) override;
    void WriteProfileString(const std::string& strSection, const std::string& strEntry,
                            const std::string& strValue) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void StartProgress(int nLower, int nUpper, const std::string& strText) override;
    void SetProgress(int nPosition, const std::string& strText) override;
    void EndProgress() override;

private:
    SFileDialogResult RunFileDialog(const SFileDialogRequest& request, bool bSave);
    static QString Key(const std::string& strSection, const std::string& strEntry);

    std::unique_ptr<QSettings> m_pSettings;
    QPointer<QWidget> m_pMainWindow;
    QPointer<QWidget> m_pClientArea;
    QPointer<CProgressPanel> m_pProgressPanel;
};

}  // namespace gridmorph
