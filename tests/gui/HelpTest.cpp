// The bundled manual: every page and place the program names exists, every link of the
// manual leads somewhere, and help opens at the page of the command or dialog at hand.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <fstream>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "help/HelpController.h"
#include "help/HelpTopics.h"
#include "help/HelpWindow.h"
#include "view/OrvexTransDlg.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;
using test::CTempFolder;
using test::WhenModal;

const QString kManualFolder = QStringLiteral(GRIDMORPH_SOURCE_DIR "/docs/manual/");

QString ReadText(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The page exists, in the program's resources and in the source folder alike, and holds
// the place named after '#'.
void ExpectPlaceExists(const QString& strPlace, const QString& strFrom)
{
    const QString strFile = strPlace.section(QLatin1Char('#'), 0, 0);
    const QString strAnchor = strPlace.section(QLatin1Char('#'), 1);
    const QString strBuilt = ReadText(QStringLiteral(":/manual/") + strFile);
    EXPECT_FALSE(strBuilt.isEmpty()) << strPlace.toStdString() << " (named in " << strFrom.toStdString()
                                     << ") is not in the program";
    EXPECT_EQ(strBuilt, ReadText(kManualFolder + strFile)) << strFile.toStdString() << " differs from its source";
    if (!strAnchor.isEmpty()) {
        EXPECT_TRUE(strBuilt.contains(QStringLiteral("name=\"%1\"").arg(strAnchor)))
            << strPlace.toStdString() << " (named in " << strFrom.toStdString() << ") has no such place";
    }
}

TEST(ManualTest, EveryPlaceTheProgramNamesExists)
{
    EnsureManualResources();
    for (const QString& strPlace : AllHelpPagesNamed())
        ExpectPlaceExists(strPlace, QStringLiteral("the program"));
    // Every command of the menus has its place.
    for (int nCommand : std::initializer_list<int>{ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_CLOSE, ID_FILE_SAVE, ID_FILE_SAVE_AS,
                         ID_FILE_SAVE_TRANSFORMED_AS, ID_FILE_CREATE_WORLD_FILE, ID_FILE_MRU_FILE1 + 3, ID_APP_EXIT,
                         ID_VIEW_LOCATORS, ID_VIEW_SHOW_TRANSFORMED, ID_VIEW_MAP_EDGES, ID_VIEW_TOOLBAR,
                         ID_VIEW_STATUS_BAR, ID_ACTION_SETUP_TRANSFORM, ID_ACTION_APPLY_TRANSFORM,
                         ID_ACTION_MOVE_LOCATORS, ID_ACTION_LOAD_LOCATORS, ID_ACTION_SAVE_LOCATORS,
                         ID_ACTION_EDIT_MAP_LOCATION, ID_ACTION_SETUP_FROM_WORLD_FILE, ID_ACTION_CROP,
                         ID_ACTION_CONVERT_TO_24, ID_ACTION_CONVERT_TO_8, ID_ACTION_GREY_SCALE, ID_HELP_FINDER,
                         ID_HELP, ID_CONTEXT_HELP, ID_APP_ABOUT})
        EXPECT_FALSE(HelpPageForCommand(nCommand).isEmpty()) << nCommand;
    for (const char* pDialog : {"COrvexTransDlg", "COrvexEditEdgeDlg", "COvWorldFileDlg", "COvNewWorldFileDlg",
                                "COrvexNewDlg", "CMFileDialog", "CAboutDlg"})
        EXPECT_FALSE(HelpPageForDialog(QString::fromLatin1(pDialog)).isEmpty()) << pDialog;
    EXPECT_TRUE(HelpPageForCommand(12345).isEmpty());
    EXPECT_EQ(HelpPageForContext(0), QStringLiteral("index.html"));
    EXPECT_EQ(HelpPageForContext(kCommandContextBase + ID_ACTION_CROP), QStringLiteral("action-menu.html#crop"));
    EXPECT_EQ(HelpPageForContext(HelpContextForDialog(QStringLiteral("COrvexTransDlg"))),
              QStringLiteral("dialogs.html#transform"));
}

// Walks the manual from its contents page: every link and picture resolves, every page of
// the folder is in the contents list, the program and the install list, and is reachable.
TEST(ManualTest, EveryLinkOfTheManualLeadsSomewhere)
{
    EnsureManualResources();
    const QRegularExpression reference(QStringLiteral("(?:href|src)=\"([^\"]+)\""));
    QSet<QString> aReached = {QStringLiteral("index.html")};
    QStringList aToWalk = {QStringLiteral("index.html")};
    int nLinks = 0;
    while (!aToWalk.isEmpty()) {
        const QString strPage = aToWalk.takeFirst();
        const QString strText = ReadText(kManualFolder + strPage);
        ASSERT_FALSE(strText.isEmpty()) << strPage.toStdString();
        for (const QRegularExpressionMatch& match : reference.globalMatch(strText)) {
            const QString strTarget = match.captured(1);
            ASSERT_FALSE(strTarget.contains(QLatin1String("://"))) << "the manual stays offline: " << strTarget.toStdString();
            ++nLinks;
            if (strTarget.startsWith(QLatin1String("../screenshots/"))) {
                const QString strPicture = strTarget.mid(3);
                EXPECT_TRUE(QFile::exists(QStringLiteral(":/") + strPicture)) << strTarget.toStdString() << " in " << strPage.toStdString();
                EXPECT_TRUE(QFile::exists(QStringLiteral(GRIDMORPH_SOURCE_DIR "/docs/") + strPicture)) << strTarget.toStdString();
                continue;
            }
            const QString strPlace = strTarget.startsWith(QLatin1Char('#')) ? strPage + strTarget : strTarget;
            ExpectPlaceExists(strPlace, strPage);
            const QString strFile = strPlace.section(QLatin1Char('#'), 0, 0);
            if (strFile.endsWith(QLatin1String(".html")) && !aReached.contains(strFile)) {
                aReached.insert(strFile);
                aToWalk << strFile;
            }
        }
    }
    EXPECT_GT(nLinks, 100);
    QSet<QString> aInFolder;
    for (const QString& strFile : QDir(kManualFolder).entryList({QStringLiteral("*.html")}, QDir::Files))
        aInFolder.insert(strFile);
    QSet<QString> aListed;
    for (const SManualPage& page : ManualPages())
        aListed.insert(QString::fromLatin1(page.pFile));
    EXPECT_EQ(aReached, aInFolder);
    EXPECT_EQ(aListed, aInFolder);
    const QString strInstall = ReadText(QStringLiteral(GRIDMORPH_SOURCE_DIR "/src/gui/Manual.cmake"));
    for (const QString& strFile : aInFolder)
        EXPECT_TRUE(strInstall.contains(QStringLiteral("  ") + strFile + QLatin1Char('\n'))) << strFile.toStdString();
}

class HelpTest : public CAppTest {
protected:
    void OpenMap()
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 8, 200, 150);
        const std::string strPath = m_folder.Path("map.bmp");
        map.SaveDIB(strPath);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        m_platform.ClearRecord();
    }
    QString ShownPage()
    {
        CHelpWindow* pWindow = Frame().Help()->LastHelpWindow();
        return pWindow && pWindow->isVisible() ? pWindow->CurrentPage() : QString();
    }
};

TEST_F(HelpTest, ContextHelpOpensTheCommandsPageInsteadOfRunningIt)
{
    ASSERT_TRUE(Start());
    OpenMap();
    Frame().UpdateCommandUI();
    QAction* pSetup = Frame().Action(ID_ACTION_SETUP_TRANSFORM);
    ASSERT_TRUE(pSetup->isEnabled());
    auto* pButton = qobject_cast<QToolButton*>(Frame().ToolBar()->widgetForAction(pSetup));
    ASSERT_NE(pButton, nullptr);
    bool bDialogRan = false;
    QObject::connect(pSetup, &QAction::triggered, [&bDialogRan] { bDialogRan = true; });

    Frame().Action(ID_CONTEXT_HELP)->trigger();
    ASSERT_TRUE(Frame().Help()->InContextHelpMode());
    QTest::mouseClick(pButton, Qt::LeftButton);
    EXPECT_FALSE(Frame().Help()->InContextHelpMode());
    EXPECT_FALSE(bDialogRan);
    EXPECT_EQ(ShownPage(), QStringLiteral("action-menu.html#setup-transform"));
    EXPECT_TRUE(m_platform.Messages().empty());

    // The map itself: placing the locators.
    Frame().Action(ID_CONTEXT_HELP)->trigger();
    QTest::mouseClick(Frame().View()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(ShownPage(), QStringLiteral("workflow.html#locators"));
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_CROP)->isEnabled()) << "the click that named the page starts no crop rectangle";

    // F1 on a highlighted menu item: that command's page, and the menu closes.
    QMenu* pActionMenu = nullptr;
    for (QAction* pMenuAction : Frame().menuBar()->actions())
        if (pMenuAction->menu() && pMenuAction->menu()->actions().contains(pSetup))
            pActionMenu = pMenuAction->menu();
    ASSERT_NE(pActionMenu, nullptr);
    pActionMenu->popup(Frame().mapToGlobal(QPoint(20, 20)));
    QTRY_VERIFY(pActionMenu->isVisible());
    pActionMenu->setActiveAction(Frame().Action(ID_ACTION_LOAD_LOCATORS));
    QTest::keyClick(pActionMenu, Qt::Key_F1);
    EXPECT_EQ(ShownPage(), QStringLiteral("action-menu.html#load-locators"));
    QTRY_VERIFY(!pActionMenu->isVisible());
}

TEST_F(HelpTest, F1FollowsTheStepsOfTheRectification)
{
    ASSERT_TRUE(Start());
    Frame().Action(ID_HELP)->trigger();
    EXPECT_EQ(ShownPage(), QStringLiteral("workflow.html#open"));
    OpenMap();
    Frame().Action(ID_HELP)->trigger();
    EXPECT_EQ(ShownPage(), QStringLiteral("workflow.html#locators"));
    Frame().View()->Locators().SetTransformSetUp(true);
    Frame().Action(ID_HELP)->trigger();
    EXPECT_EQ(ShownPage(), QStringLiteral("workflow.html#apply"));
    // The same window all along, so Back walks the pages read.
    CHelpWindow* pWindow = Frame().Help()->LastHelpWindow();
    pWindow->Browser()->backward();
    EXPECT_EQ(pWindow->CurrentPage(), QStringLiteral("workflow.html#locators"));
    pWindow->Browser()->forward();
    EXPECT_EQ(pWindow->CurrentPage(), QStringLiteral("workflow.html#apply"));
    // The contents list follows the page shown.
    pWindow->ShowPage(QStringLiteral("troubleshooting.html#stretched"));
    ASSERT_NE(pWindow->Contents()->currentItem(), nullptr);
    EXPECT_EQ(pWindow->Contents()->currentItem()->data(Qt::UserRole).toString(), QStringLiteral("troubleshooting.html"));
    pWindow->Browser()->backward();
    EXPECT_EQ(pWindow->Contents()->currentItem()->data(Qt::UserRole).toString(), QStringLiteral("workflow.html"));
}

TEST_F(HelpTest, F1InADialogOpensTheDialogsPageBesideIt)
{
    ASSERT_TRUE(Start());
    OpenMap();
    QString strPage;
    bool bHelpVisible = false;
    WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
        QTest::keyClick(&dialog, Qt::Key_F1);
        // A window of the dialog's own, so it can be read while the dialog waits.
        auto* pWindow = dialog.findChild<CHelpWindow*>();
        if (pWindow) {
            strPage = pWindow->CurrentPage();
            bHelpVisible = pWindow->isVisible() && !pWindow->isModal();
        }
        dialog.reject();
    });
    Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
    EXPECT_EQ(strPage, QStringLiteral("dialogs.html#transform"));
    EXPECT_TRUE(bHelpVisible);
    EXPECT_TRUE(m_platform.Messages().empty());
}

// F1 in a dialog: the help window comes beside the dialog, on the screen, and hides none
// of it, wherever the dialog stands.
TEST_F(HelpTest, HelpOfADialogIsPlacedBesideItOnTheScreen)
{
    ASSERT_TRUE(Start());
    OpenMap();
    const QRect rectScreen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const bool bDialogOnTheLeft : {true, false}) {
        SCOPED_TRACE(bDialogOnTheLeft ? "dialog on the left" : "dialog on the right");
        QRect rectDialog, rectHelp;
        WhenModal<COrvexTransDlg>([&](COrvexTransDlg& dialog) {
            const QRect rectFrame = dialog.frameGeometry();
            dialog.move(bDialogOnTheLeft ? rectScreen.left() + 10 : rectScreen.right() - rectFrame.width() - 10,
                        rectScreen.top() + 20);
            QTest::keyClick(&dialog, Qt::Key_F1);
            rectDialog = dialog.frameGeometry();
            if (auto* pWindow = dialog.findChild<CHelpWindow*>(); pWindow && pWindow->isVisible())
                rectHelp = pWindow->frameGeometry();
            dialog.reject();
        });
        Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
        ASSERT_FALSE(rectHelp.isEmpty()) << "no help window";
        SCOPED_TRACE(QStringLiteral("dialog %1,%2 %3x%4, help %5,%6 %7x%8, screen %9x%10")
                         .arg(rectDialog.x()).arg(rectDialog.y()).arg(rectDialog.width()).arg(rectDialog.height())
                         .arg(rectHelp.x()).arg(rectHelp.y()).arg(rectHelp.width()).arg(rectHelp.height())
                         .arg(rectScreen.width()).arg(rectScreen.height())
                         .toStdString());
        EXPECT_FALSE(rectHelp.intersects(rectDialog));
        EXPECT_TRUE(rectScreen.contains(rectHelp));
        EXPECT_GE(rectHelp.width(), 300);
        EXPECT_GE(rectHelp.height(), 300);
    }
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST(HelpPlacementTest, BesideTheOwnerWithinTheScreen)
{
    const QRect rectScreen(0, 0, 1280, 800);
    const QSize sizeWanted(960, 720), sizeSmallest(360, 300);
    const struct {
        QRect rectOwner;
        QRect rectExpected;
    } aCases[] = {
        // Room on the right for a narrower window, level with the dialog's top.
        {QRect(100, 50, 400, 300), QRect(508, 50, 772, 720)},
        // Room on the left only.
        {QRect(800, 100, 400, 300), QRect(0, 80, 792, 720)},
        // A wide dialog: below it, as wide as wanted.
        {QRect(50, 20, 1180, 300), QRect(50, 328, 960, 472)},
        // A dialog over most of the screen: the side with the most room, at the smallest.
        {QRect(200, 100, 900, 650), QRect(0, 80, 360, 720)},
    };
    for (const auto& aCase : aCases) {
        const QRect rect = help_placement::BesideOwner(aCase.rectOwner, sizeWanted, sizeSmallest, rectScreen);
        EXPECT_EQ(rect, aCase.rectExpected) << aCase.rectOwner.x() << "," << aCase.rectOwner.y();
        EXPECT_TRUE(rectScreen.contains(rect));
    }
}

// Where the manual gives an example of the locator file Setup Transform keeps beside the
// scan ("for area.jpg, area.jpg.points"), a scan of that name gets the file of that name.
TEST_F(HelpTest, TheManualNamesTheLocatorFileSetupTransformWrites)
{
    ASSERT_TRUE(Start());
    const QRegularExpression example(QStringLiteral("for <code>([^<]+)</code>,\\s*<code>([^<]+\\.points)</code>"));
    int nExamples = 0;
    for (const char* pPage : {"action-menu.html", "workflow.html"}) {
        const QString strPage = QString::fromLatin1(pPage);
        for (const QRegularExpressionMatch& match : example.globalMatch(ReadText(kManualFolder + strPage))) {
            ++nExamples;
            const QString strScan = match.captured(1), strPoints = match.captured(2);
            SCOPED_TRACE(strPage.toStdString() + ": " + strScan.toStdString());
            CTempFolder folder;
            CDIBWorld scan;
            test::MakePatternPicture(scan, 24, 200, 150);
            const std::string strPath = folder.Path(strScan.toStdString());
            ASSERT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
            ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
            WhenModal<COrvexTransDlg>([](COrvexTransDlg& dialog) {
                const int anX[3] = {10, 190, 190}, anY[3] = {10, 10, 140};
                for (int i = 0; i < 3; ++i) {
                    dialog.Field(COrvexTransDlg::IDC_X1 + 4 * i)->setText(QString::number(anX[i]));
                    dialog.Field(COrvexTransDlg::IDC_Y1 + 4 * i)->setText(QString::number(anY[i]));
                }
                dialog.Field(COrvexTransDlg::IDC_EASTING1)->setText(QStringLiteral("500000"));
                dialog.Field(COrvexTransDlg::IDC_NORTHING1)->setText(QStringLiteral("6010000"));
                dialog.Field(COrvexTransDlg::IDC_EASTING1 + 8)->setText(QStringLiteral("501800"));
                dialog.Field(COrvexTransDlg::IDC_NORTHING1 + 8)->setText(QStringLiteral("6008700"));
                dialog.accept();
            });
            Frame().Action(ID_ACTION_SETUP_TRANSFORM)->trigger();
            ASSERT_TRUE(Frame().View()->Locators().TransformSetUp());
            const QStringList aWritten = QDir(QString::fromStdString(folder.Root().string())).entryList({QStringLiteral("*.points")});
            EXPECT_EQ(aWritten, QStringList{strPoints});
            Document().OnFileClose();
        }
    }
    EXPECT_GE(nExamples, 2);
}

// Records the files the desktop's viewer is asked to open.
class CUrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> m_aUrls;
public slots:
    void Open(const QUrl& url) { m_aUrls << url; }
};

// Where the design suite's help file is installed, every help command opens it as before
// and the bundled manual stays closed.
TEST_F(HelpTest, TheSuitesHelpFileStillAnswersWhereItIsInstalled)
{
    ASSERT_TRUE(Start());
    const std::string strHelpFile = m_folder.Path("orvex.chm");
    std::ofstream(strHelpFile, std::ios::binary) << "help";
    m_pApp->m_strHelpFile = QString::fromStdString(strHelpFile);
    CUrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "Open");
    for (int nCommand : {ID_HELP_FINDER, ID_HELP, ID_CONTEXT_HELP})
        Frame().Action(nCommand)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.m_aUrls.size(), 3);
    for (const QUrl& url : recorder.m_aUrls)
        EXPECT_EQ(url, QUrl::fromLocalFile(QString::fromStdString(strHelpFile)));
    EXPECT_EQ(Frame().Help()->LastHelpWindow(), nullptr);
    EXPECT_FALSE(Frame().Help()->InContextHelpMode());
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST(HelpWindowTest, ContentsAndSearch)
{
    CHelpWindow window;
    window.ShowPage(QStringLiteral("index.html"));
    EXPECT_FALSE(window.Browser()->toPlainText().isEmpty());
    // Pictures come from the program's resources too.
    EXPECT_FALSE(window.Browser()->loadResource(QTextDocument::ImageResource,
                                                QUrl(QStringLiteral("qrc:/screenshots/main-window.png")))
                     .isNull());
    const QStringList aFound = window.Search(QStringLiteral("fourth CORNER"));
    EXPECT_TRUE(aFound.contains(QStringLiteral("workflow.html")));
    EXPECT_TRUE(aFound.contains(QStringLiteral("troubleshooting.html")));
    EXPECT_FALSE(aFound.contains(QStringLiteral("world-files.html")));
    EXPECT_TRUE(window.Search(QStringLiteral("fourth zzqqxx")).isEmpty());
    window.SearchField()->setText(QStringLiteral("stretched"));
    QTest::keyClick(window.SearchField(), Qt::Key_Return);
    const QStringList aStretched = window.Search(QStringLiteral("stretched"));
    EXPECT_TRUE(aStretched.contains(QStringLiteral("troubleshooting.html")));
    ASSERT_EQ(window.SearchResults()->count(), aStretched.size());
    for (int i = 0; i < aStretched.size(); ++i)
        EXPECT_EQ(window.SearchResults()->item(i)->data(Qt::UserRole).toString(), aStretched[i]);
    // Opening a result shows its page with the word marked.
    QTest::mouseClick(window.SearchResults()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      window.SearchResults()->visualItemRect(window.SearchResults()->item(aStretched.size() - 1)).center());
    EXPECT_EQ(window.CurrentPage(), aStretched.back());
    EXPECT_EQ(window.Browser()->textCursor().selectedText().toLower(), QStringLiteral("stretched"));
}

}  // namespace
}  // namespace gridmorph

#include "HelpTest.moc"
