#include "help/HelpTopics.h"

#include <QtGlobal>
#include <iterator>

#include "shared/CommandIds.h"

// The manual's resources live in a static library: naming them here keeps them linked.
static void InitManualResources() { Q_INIT_RESOURCE(gridmorph_manual); }

namespace gridmorph {
namespace {

struct SCommandTopic {
    int nCommand;
    const char* pPage;
};

// Each command's place in the manual: the menu page that describes it.
const SCommandTopic kCommandTopics[] = {
    {ID_FILE_NEW, "file-menu.html#new"},
    {ID_FILE_OPEN, "file-menu.html#open"},
    {ID_FILE_CLOSE, "file-menu.html#close"},
    {ID_FILE_SAVE, "file-menu.html#save"},
    {ID_FILE_SAVE_AS, "file-menu.html#save-as"},
    {ID_FILE_SAVE_TRANSFORMED_AS, "file-menu.html#save-transformed"},
    {ID_FILE_CREATE_WORLD_FILE, "file-menu.html#create-world-file"},
    {ID_FILE_COORDINATE_SYSTEM, "file-menu.html#coordinate-system"},
    {ID_FILE_RECTIFY_SERIES, "file-menu.html#rectify-series"},
    {ID_FILE_MRU_FILE1, "file-menu.html#recent"},
    {ID_APP_EXIT, "file-menu.html#exit"},
    {ID_EDIT_UNDO, "action-menu.html#undo"},
    {ID_EDIT_REDO, "action-menu.html#redo"},
    {ID_VIEW_LOCATORS, "view-menu.html#locators"},
    {ID_VIEW_SHOW_TRANSFORMED, "view-menu.html#show-transformed"},
    {ID_VIEW_MAP_EDGES, "view-menu.html#map-edges"},
    {ID_VIEW_SNAP_TO_GRID, "view-menu.html#snap-to-grid"},
    {ID_VIEW_PREDICTED_GRID, "view-menu.html#predicted-grid"},
    {ID_VIEW_ZOOM_IN, "view-menu.html#zoom-in"},
    {ID_VIEW_ZOOM_OUT, "view-menu.html#zoom-out"},
    {ID_VIEW_ACTUAL_SIZE, "view-menu.html#actual-size"},
    {ID_VIEW_FIT_WHOLE_MAP, "view-menu.html#fit-whole-map"},
    {ID_VIEW_OPEN_MAPS_TO_FIT, "view-menu.html#open-maps-to-fit"},
    {ID_VIEW_MAGNIFIER, "view-menu.html#magnifier"},
    {ID_VIEW_CROSSHAIR, "view-menu.html#crosshair"},
    {ID_VIEW_TOOLBAR, "view-menu.html#toolbar"},
    {ID_VIEW_STATUS_BAR, "view-menu.html#status-bar"},
    {ID_ACTION_SETUP_TRANSFORM, "action-menu.html#setup-transform"},
    {ID_ACTION_APPLY_TRANSFORM, "action-menu.html#apply-transform"},
    {ID_ACTION_MOVE_LOCATORS, "action-menu.html#move-locators"},
    {ID_ACTION_FIND_GRID, "action-menu.html#find-grid"},
    {ID_ACTION_LOAD_LOCATORS, "action-menu.html#load-locators"},
    {ID_ACTION_SAVE_LOCATORS, "action-menu.html#save-locators"},
    {ID_ACTION_EDIT_MAP_LOCATION, "action-menu.html#edit-map-location"},
    {ID_ACTION_SETUP_FROM_WORLD_FILE, "action-menu.html#setup-from-world-file"},
    {ID_ACTION_CROP, "action-menu.html#crop"},
    {ID_ACTION_CROP_TO_GRID, "action-menu.html#crop-to-grid"},
    {ID_ACTION_CONVERT_TO_24, "action-menu.html#convert-24"},
    {ID_ACTION_CONVERT_TO_8, "action-menu.html#convert-8"},
    {ID_ACTION_GREY_SCALE, "action-menu.html#grey-scale"},
    {ID_HELP_FINDER, "help-menu.html#help-topics"},
    {ID_HELP, "help-menu.html#help-keys"},
    {ID_CONTEXT_HELP, "help-menu.html#context-help"},
    {ID_APP_ABOUT, "help-menu.html#about"},
};

struct SDialogTopic {
    const char* pClassName;
    unsigned long nTemplate;  // the dialog's template number
    const char* pPage;
};

const SDialogTopic kDialogTopics[] = {
    {"COrvexTransDlg", 351, "dialogs.html#transform"},
    {"COrvexEditEdgeDlg", 353, "dialogs.html#edit-map-location"},
    {"COvWorldFileDlg", 354, "dialogs.html#setup-from-world-file"},
    {"COvNewWorldFileDlg", 356, "dialogs.html#create-world-file"},
    {"COrvexNewDlg", 130, "dialogs.html#new-background-map"},
    {"CMFileDialog", 3130, "dialogs.html#select-files"},
    {"CAboutDlg", 100, "help-menu.html#about"},
    {"QFileDialog", 3131, "dialogs.html#file-dialogs"},
    {"CHelpWindow", 3132, "help-menu.html#help-window"},
    {"CCoordinateSystemDlg", 3133, "dialogs.html#coordinate-system"},
    {"CRectifySeriesDlg", 3134, "file-menu.html#rectify-series"},
    {"CSeriesReportDlg", 3135, "file-menu.html#series-report"},
};

}  // namespace

void EnsureManualResources()
{
    static const bool bDone = (InitManualResources(), true);
    (void)bDone;
}

const std::vector<SManualPage>& ManualPages()
{
    static const std::vector<SManualPage> aPages = {
        {"index.html", "Contents"},
        {"workflow.html", "Rectifying a scan, step by step"},
        {"file-menu.html", "The File menu"},
        {"view-menu.html", "The View menu"},
        {"action-menu.html", "The Action menu"},
        {"help-menu.html", "The Help menu and the keys"},
        {"dialogs.html", "The dialogs"},
        {"world-files.html", "World files and their flavours"},
        {"coordinate-systems.html", "Coordinate systems"},
        {"locator-files.html", "Locator files (.points)"},
        {"command-line.html", "The command-line tool"},
        {"troubleshooting.html", "Troubleshooting"},
    };
    return aPages;
}

QString HelpPageForCommand(int nCommand)
{
    // The recent files share one place.
    if (nCommand > ID_FILE_MRU_FILE1 && nCommand < ID_FILE_MRU_FILE1 + 16)
        nCommand = ID_FILE_MRU_FILE1;
    for (const SCommandTopic& topic : kCommandTopics)
        if (topic.nCommand == nCommand)
            return QString::fromLatin1(topic.pPage);
    return QString();
}

QString HelpPageForDialog(const QString& strClassName)
{
    for (const SDialogTopic& topic : kDialogTopics)
        if (strClassName == QLatin1String(topic.pClassName))
            return QString::fromLatin1(topic.pPage);
    return QString();
}

unsigned long HelpContextForDialog(const QString& strClassName)
{
    for (const SDialogTopic& topic : kDialogTopics)
        if (strClassName == QLatin1String(topic.pClassName))
            return kDialogContextBase + topic.nTemplate;
    return 0;
}

QString HelpPageForContext(unsigned long nContext)
{
    if (nContext >= kStepContextBase) {
        const unsigned long nStep = nContext - kStepContextBase;
        if (nStep < std::size(kWorkflowSteps))
            return QStringLiteral("workflow.html#") + QLatin1String(kWorkflowSteps[nStep]);
    } else if (nContext >= kDialogContextBase) {
        for (const SDialogTopic& topic : kDialogTopics)
            if (kDialogContextBase + topic.nTemplate == nContext)
                return QString::fromLatin1(topic.pPage);
    } else if (nContext >= kCommandContextBase) {
        const QString strPage = HelpPageForCommand(static_cast<int>(nContext - kCommandContextBase));
        if (!strPage.isEmpty())
            return strPage;
    }
    return QString::fromLatin1(ManualPages().front().pFile);
}

std::vector<QString> AllHelpPagesNamed()
{
    std::vector<QString> aPages;
    for (const SManualPage& page : ManualPages())
        aPages.push_back(QString::fromLatin1(page.pFile));
    for (const SCommandTopic& topic : kCommandTopics)
        aPages.push_back(QString::fromLatin1(topic.pPage));
    for (const SDialogTopic& topic : kDialogTopics)
        aPages.push_back(QString::fromLatin1(topic.pPage));
    for (const char* pStep : kWorkflowSteps)
        aPages.push_back(QStringLiteral("workflow.html#") + QLatin1String(pStep));
    return aPages;
}

}  // namespace gridmorph
