#pragma once

#include <QString>
#include <vector>

namespace gridmorph {

// The bundled manual: its pages (file names under the manual's folder) and which page,
// and which place on it, explains each command and each dialog. Every page named here
// exists in the manual; a test walks them.

struct SManualPage {
    const char* pFile;   // "workflow.html"
    const char* pTitle;  // as the contents list shows it
};

// Makes the bundled manual's resources (:/manual, :/screenshots) available.
void EnsureManualResources();

// The pages in the order of the contents list; the first is the contents page.
const std::vector<SManualPage>& ManualPages();

// "file-menu.html#open" for a command number (CommandIds.h); "" for none.
QString HelpPageForCommand(int nCommand);
// The page of a dialog by its class name ("COrvexTransDlg"); "" for none.
QString HelpPageForDialog(const QString& strClassName);
// Every page and place the program can open: the contents, the commands' and the
// dialogs' pages, and the steps of the workflow.
std::vector<QString> AllHelpPagesNamed();

// Context numbers, as help requests carry them: 0 is the contents, a command's is
// kCommandContextBase + its number, a dialog's kDialogContextBase + its template number.
inline constexpr unsigned long kCommandContextBase = 0x10000;
inline constexpr unsigned long kDialogContextBase = 0x20000;
// The steps of a rectification as the workflow page names them; F1 in the main window
// asks for kStepContextBase + the step the user has reached.
inline constexpr unsigned long kStepContextBase = 0x30000;
inline constexpr const char* kWorkflowSteps[] = {"open", "locators", "setup", "apply", "check", "save"};
unsigned long HelpContextForDialog(const QString& strClassName);
// The page of a context number; the contents page for 0 or one not known.
QString HelpPageForContext(unsigned long nContext);

// The resource folder of the bundled manual inside the program.
inline constexpr const char* kManualRoot = "qrc:/manual/";

}  // namespace gridmorph
