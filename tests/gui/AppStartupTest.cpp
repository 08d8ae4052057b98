// Start-up: the order's refusals, the command line, the suite's program folder, File Open
// with the shared filter index, dropped files and the recent-file list.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include "shared/CommandIds.h"
#include "app/RecentFileList.h"
#include "help/HelpController.h"
#include "gui/GuiTestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;

// An 8-bit georeferenced map (no depth message when opened).
std::string WriteMap(const test::CTempFolder& folder, const std::string& strName)
{
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 16, 10);
    map.SetEdges({100.0, 290.0, 250.0, 200.0});
    map.SaveWorld(folder.Path(strName));
    EXPECT_EQ(map.m_nErrorNumber, 0);
    return folder.Path(strName);
}

class AppStartupTest : public CAppTest {};

TEST_F(AppStartupTest, StartsWithTheEmptyDocumentAndOpensNoFileNamedAlone)
{
    const std::string strMap = WriteMap(m_folder, "area.bmp");
    ASSERT_TRUE(Start({QStringLiteral("gridmorph"), QString::fromStdString(strMap)}));
    EXPECT_EQ(Document().GetImage(), nullptr);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - Untitled"));
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_TRUE(Frame().acceptDrops());
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(AppStartupTest, EmbeddingAndAutomationStartsAreRefused)
{
    for (const char* pArgument : {"-Embedding", "/Embedding", "-automation", "/AUTOMATION"}) {
        SCOPED_TRACE(pArgument);
        m_platform.ClearRecord();
        EXPECT_FALSE(Start({QStringLiteral("gridmorph"), QString::fromLatin1(pArgument)}));
        EXPECT_EQ(m_platform.Messages(),
                  (std::vector<CScriptedPlatform::SMessage>{{"Orvex must already be running\n", EMessageKind::Warning}}));
        m_pApp.reset();
    }
    for (const char* pArgument : {"Embedding", "-Embed", "--open"})
        EXPECT_FALSE(COrvexApp::IsAutomationArgument(QString::fromLatin1(pArgument))) << pArgument;
}

TEST_F(AppStartupTest, OpenOptionOpensTheFileOnceTheWindowIsUp)
{
    const std::string strMap = WriteMap(m_folder, "Area.bmp");
    ASSERT_TRUE(Start({QStringLiteral("gridmorph"), QStringLiteral("--open"), QString::fromStdString(strMap)}));
    EXPECT_EQ(Document().GetImage(), nullptr);
    QTRY_VERIFY(Document().GetImage() != nullptr);
    EXPECT_EQ(Document().GetFilePath(), strMap);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - AREA.BMP"));
}

// The suite's program folder: the user's value first, an empty or over-long one counting
// as missing.
TEST_F(AppStartupTest, ProgramFolderFromTheSuitesSettings)
{
    struct SCase {
        const char* pName;
        QVariant user;  // invalid: no value
        QVariant system;
        QString strExpected;
    };
    const QString str258(258, QLatin1Char('u')), str259(259, QLatin1Char('u'));
    const SCase aCases[] = {
        {"user wins", QStringLiteral("/opt/korvane-user"), QStringLiteral("/opt/korvane"), QStringLiteral("/opt/korvane-user")},
        {"empty user value counts as missing", QString(), QStringLiteral("/opt/korvane"), QStringLiteral("/opt/korvane")},
        {"no user value", QVariant(), QStringLiteral("/opt/korvane"), QStringLiteral("/opt/korvane")},
        {"258 bytes fit the buffer", str258, QStringLiteral("/opt/korvane"), str258},
        {"259 bytes do not", str259, QStringLiteral("/opt/korvane"), QStringLiteral("/opt/korvane")},
        {"neither", QVariant(), QVariant(), QString()},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        for (auto [eScope, value] : {std::pair{QSettings::UserScope, aCase.user}, std::pair{QSettings::SystemScope, aCase.system}}) {
            QSettings settings(eScope, QStringLiteral("Kelmar"), QStringLiteral("KorvaneR4"));
            if (value.isValid())
                settings.setValue(QStringLiteral("CurrentVersion/PathApp"), value);
            else
                settings.remove(QStringLiteral("CurrentVersion/PathApp"));
        }
        EXPECT_EQ(COrvexApp::ReadInstallPath(QStringLiteral("PathApp")), aCase.strExpected);
        ASSERT_TRUE(Start());
        EXPECT_EQ(m_pApp->m_strHelpFile, aCase.strExpected + QStringLiteral("/orvex.chm"));
        m_pApp.reset();
    }
    for (auto eScope : {QSettings::UserScope, QSettings::SystemScope})
        QSettings(eScope, QStringLiteral("Kelmar"), QStringLiteral("KorvaneR4")).clear();
}

// Without the design suite's help file, help is the manual bundled in the program; the
// dead-end box is gone.
TEST_F(AppStartupTest, HelpWithoutTheSuitesFileOpensTheBundledManual)
{
    ASSERT_TRUE(Start());
    ASSERT_FALSE(QFileInfo(m_pApp->m_strHelpFile).isFile());
    const struct {
        int nCommand;
        const char* pPage;
    } aCases[] = {
        {ID_HELP_FINDER, "index.html"},
        {ID_HELP, "workflow.html#open"},  // F1 with no map open: the first step
    };
    for (const auto& aCase : aCases) {
        m_platform.ClearRecord();
        Frame().Action(aCase.nCommand)->trigger();
        EXPECT_TRUE(m_platform.Messages().empty()) << aCase.nCommand;
        ASSERT_NE(Frame().Help()->LastHelpWindow(), nullptr);
        EXPECT_TRUE(Frame().Help()->LastHelpWindow()->isVisible());
        EXPECT_EQ(Frame().Help()->LastHelpWindow()->CurrentPage(), QString::fromLatin1(aCase.pPage));
    }
    // Shift+F1 waits for the thing to explain; Escape leaves that mode.
    Frame().Action(ID_CONTEXT_HELP)->trigger();
    EXPECT_TRUE(Frame().Help()->InContextHelpMode());
    EXPECT_TRUE(m_platform.Messages().empty());
    QTest::keyClick(&Frame(), Qt::Key_Escape);
    EXPECT_FALSE(Frame().Help()->InContextHelpMode());
}

TEST_F(AppStartupTest, FileOpenRemembersTheFilterForEveryImageDialog)
{
    const std::string strMap = WriteMap(m_folder, "area.bmp");
    ASSERT_TRUE(Start());
    // Cancelled: nothing changes.
    m_platform.AnswerNextFileDialog({false, "", 2});
    Frame().Action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(m_pApp->m_nOpenFilterIndex, 0);
    EXPECT_EQ(Document().GetImage(), nullptr);
    ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
    EXPECT_EQ(m_platform.FileDialogRequests()[0].nFilterEntry, 0);
    EXPECT_EQ(m_platform.FileDialogRequests()[0].strFilter.rfind("All Image Files |", 0), 0u);

    // The third entry chosen: the next open and the next save dialog start on it.
    m_platform.AnswerNextFileDialog({true, strMap, 2});
    Frame().Action(ID_FILE_OPEN)->trigger();
    ASSERT_NE(Document().GetImage(), nullptr);
    EXPECT_EQ(m_pApp->m_nOpenFilterIndex, 3);
    m_platform.AnswerNextFileDialog({false, "", 0});
    Frame().Action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(m_platform.FileDialogRequests().back().nFilterEntry, 2);
    m_platform.AnswerNextFileDialog({false, "", 0});
    Frame().Action(ID_FILE_SAVE_AS)->trigger();
    // Save entries count one less than open entries (the open list starts with "All").
    EXPECT_EQ(m_platform.FileDialogRequests().back().nFilterEntry, 1);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(AppStartupTest, ADroppedFileIsOpened)
{
    const std::string strMap = WriteMap(m_folder, "dropped.bmp");
    ASSERT_TRUE(Start());
    QMimeData mimeData;
    mimeData.setUrls({QUrl::fromLocalFile(QString::fromStdString(strMap))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Frame(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Frame(), &drop);
    ASSERT_NE(Document().GetImage(), nullptr);
    EXPECT_EQ(Document().GetFilePath(), strMap);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Gridmorph - DROPPED.BMP"));
}

TEST_F(AppStartupTest, RecentFilesKeepTheEightNewestAndOpenThem)
{
    ASSERT_TRUE(Start());
    std::vector<std::string> aMaps;
    for (int i = 0; i < 9; ++i)
        aMaps.push_back(WriteMap(m_folder, "map" + std::to_string(i) + ".bmp"));
    for (const std::string& strMap : aMaps)
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strMap)));
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(aMaps[3])));  // again: to the front
    const std::vector<std::string> aExpected = {aMaps[3], aMaps[8], aMaps[7], aMaps[6],
                                                aMaps[5], aMaps[4], aMaps[2], aMaps[1]};
    EXPECT_EQ(m_pApp->RecentFiles().Paths(), aExpected);
    EXPECT_EQ(m_platform.Profile().GetString("Recent File List", "File1", ""), aMaps[3]);
    EXPECT_EQ(m_platform.Profile().GetString("Recent File List", "File8", ""), aMaps[1]);

    // The menu shows them in order, each with its prompt, and opens the one chosen.
    QAction* pSecond = Frame().Action(ID_FILE_MRU_FILE1 + 1);
    ASSERT_NE(pSecond, nullptr);
    EXPECT_TRUE(pSecond->text().startsWith(QStringLiteral("&2 ")));
    EXPECT_TRUE(pSecond->text().endsWith(QStringLiteral("map8.bmp")));
    EXPECT_EQ(pSecond->statusTip(), QStringLiteral("Open this document"));
    pSecond->trigger();
    EXPECT_EQ(Document().GetFilePath(), aMaps[8]);

    // The list outlives the program.
    m_pApp.reset();
    CRecentFileList reread(m_platform);
    EXPECT_EQ(reread.Paths().front(), aMaps[8]);
    EXPECT_EQ(reread.Paths().size(), 8u);
}

}  // namespace
}  // namespace gridmorph
