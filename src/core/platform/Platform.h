#pragma once

#include <functional>
#include <string>

namespace gridmorph {

// The kinds of message box the program raises.
enum class EMessageKind {
    Warning,              // OK button; shown with the exclamation icon
    Information,          // OK button, information icon
    QuestionYesNo,        // Yes / No, question icon
    QuestionYesNoCancel,  // Yes / No / Cancel, question icon
};

enum class EAnswer { Ok, Yes, No, Cancel };

// A line of text and a button that a file dialog shows below its file list, where the
// platform can (Save Transformed Map As: the coordinate system the map will name). The
// button runs fnClicked, which returns the line's new text. None without fnClicked.
struct SFileDialogAccessory {
    std::string strText;
    std::string strButton;
    std::function<std::string()> fnClicked;
};

// What a file dialog is asked to show. Filters use the "Name|*.EXT;*.EX2|...|" form,
// a list of name and pattern pairs separated by "|".
struct SFileDialogRequest {
    std::string strTitle;
    std::string strFilter;
    int nFilterEntry = 0;          // 0-based entry shown first
    std::string strInitialFolder;  // empty: the working directory
    std::string strInitialName;    // a file name suggested in the name box; empty: none
    SFileDialogAccessory accessory;
};

struct SFileDialogResult {
    bool bAccepted = false;
    std::string strPath;
    int nFilterEntry = 0;  // 0-based entry the user left selected
};

// The seam between the core and the world around it: message boxes, file dialogs,
// profile settings, the wait cursor and the progress panel. The application installs
// the Qt implementation, the command-line tool the headless one, each test a scripted
// fake; the core only ever talks to the installed one.
class CPlatform {
public:
    virtual ~CPlatform() = default;

    virtual EAnswer MessageBox(const std::string& strText, EMessageKind eKind) = 0;

    virtual SFileDialogResult GetOpenFileName(const SFileDialogRequest& request) = 0;
    virtual SFileDialogResult GetSaveFileName(const SFileDialogRequest& request) = 0;

    virtual int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) = 0;
    virtual void WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue) = 0;
    virtual std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                         const std::string& strDefault) = 0;
    virtual void WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                    const std::string& strValue) = 0;

    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // The progress panel: one line of text and a bar over [nLower, nUpper].
    virtual void StartProgress(int nLower, int nUpper, const std::string& strText) = 0;
    virtual void SetProgress(int nPosition, const std::string& strText) = 0;
    virtual void EndProgress() = 0;
};

// The platform installed for the calling thread, else the installed one; a headless one
// when nothing was installed.
CPlatform& GetPlatform();

// Installs pPlatform (not owned) and returns the one it replaces.
CPlatform* InstallPlatform(CPlatform* pPlatform);

// Installs a platform for the lifetime of the guard and restores the previous one.
class CScopedPlatform {
public:
    explicit CScopedPlatform(CPlatform& platform) : m_pPrevious(InstallPlatform(&platform)) {}
    ~CScopedPlatform() { InstallPlatform(m_pPrevious); }
    CScopedPlatform(const CScopedPlatform&) = delete;
    CScopedPlatform& operator=(const CScopedPlatform&) = delete;

private:
    CPlatform* m_pPrevious;
};

// Installs a platform for the calling thread alone, for the lifetime of the guard: that
// thread's GetPlatform() answers with it while every other thread keeps the installed one.
// The rows of a series run this way, so that their messages stay with the rows while the
// window that started them goes on asking its user.
class CScopedThreadPlatform {
public:
    explicit CScopedThreadPlatform(CPlatform& platform);
    ~CScopedThreadPlatform();
    CScopedThreadPlatform(const CScopedThreadPlatform&) = delete;
    CScopedThreadPlatform& operator=(const CScopedThreadPlatform&) = delete;

private:
    CPlatform* m_pPrevious;
};

// Shows the wait cursor for the lifetime of the guard.
class CWaitCursor {
public:
    CWaitCursor() { GetPlatform().BeginWaitCursor(); }
    ~CWaitCursor() { GetPlatform().EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Shorthands for the three recurring boxes.
inline void ShowWarning(const std::string& strText) { GetPlatform().MessageBox(strText, EMessageKind::Warning); }
inline void ShowInformation(const std::string& strText)
{
    GetPlatform().MessageBox(strText, EMessageKind::Information);
}

}  // namespace gridmorph
