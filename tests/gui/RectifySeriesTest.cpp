// File > Rectify Series on a small generated series: a folder of scans with and without
// their locator files, run by the core's batch from the window, and the report.
#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "shared/CommandIds.h"
#include "dialogs/RectifySeriesDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/ModalDriver.h"
#include "transform/PointsFile.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CAppTest;

std::string ReadBytes(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class RectifySeriesTest : public CAppTest {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_folder.Path("scans"));
        std::filesystem::create_directories(m_folder.Path("out"));
        ASSERT_TRUE(Start());
        Frame().resize(700, 500);
    }
    // A 200 x 150 scan with its locators beside it in strPointsName ("" for none).
    void MakeScan(const std::string& strName, const std::string& strPointsName)
    {
        CDIBWorld scan;
        test::MakePatternPicture(scan, 24, 200, 150);
        const std::string strPath = m_folder.Path("scans/" + strName);
        ASSERT_EQ(scan.SaveDIB(strPath), ESaveResult::Written);
        if (strPointsName.empty())
            return;
        CLocatorSet locators;
        const int aX[3] = {10, 180, 178}, aY[3] = {12, 14, 130};
        for (int k = 0; k < 3; ++k) {
            locators.SetLocator(k, aX[k], aY[k]);
        }
        locators.SetMapPosition(0, 1000, 2000);
        locators.SetMapPosition(1, 1400, 2000);
        locators.SetMapPosition(2, 1400, 1700);
        ASSERT_TRUE(WritePointsFile(m_folder.Path("scans/" + strPointsName), locators, ""));
    }
    // Runs File > Rectify Series over the scans folder; fnReport looks at the report.
    // fnDuringRun, when given, is done on the window's thread while the series runs, as
    // the first thing its event loop does.
    void RunSeries(std::function<void(CSeriesReportDlg&)> fnReport, std::function<void()> fnDuringRun = {})
    {
        bool bReportShown = false;
        test::WhenModal<CRectifySeriesDlg>([this, &bReportShown, fnReport, fnDuringRun](CRectifySeriesDlg& dialog) {
            dialog.m_pFolderChoice->setChecked(true);
            dialog.m_pFolder->setText(QString::fromStdString(m_folder.Path("scans")));
            EXPECT_FALSE(dialog.m_pOk->isEnabled());  // no output folder yet
            dialog.m_pOutput->setText(QString::fromStdString(m_folder.Path("out")));
            ASSERT_TRUE(dialog.m_pOk->isEnabled());
            // The report comes up once the rows have run.
            test::WhenModal<CSeriesReportDlg>([&bReportShown, fnReport](CSeriesReportDlg& report) {
                bReportShown = true;
                fnReport(report);
                report.reject();
            });
            if (fnDuringRun)
                QMetaObject::invokeMethod(qApp, fnDuringRun, Qt::QueuedConnection);
            dialog.m_pOk->click();
        });
        Frame().UpdateCommandUI();
        ASSERT_TRUE(Frame().Action(ID_FILE_RECTIFY_SERIES)->isEnabled());
        Frame().Action(ID_FILE_RECTIFY_SERIES)->trigger();
        EXPECT_TRUE(bReportShown);
    }
    std::string CliRectify(const std::string& strScan, const std::string& strPoints, const std::string& strOutput)
    {
        const std::string strCommand = std::string(GRIDMORPH_CLI_PATH) + " rectify '" + strScan + "' '" + strOutput +
                                       "' --points '" + strPoints + "' --compress lzw > /dev/null 2>&1";
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        return ReadBytes(strOutput);
    }
};

TEST_F(RectifySeriesTest, AFolderOfScansIsRectifiedAsTheToolRectifiesEachAndReported)
{
    MakeScan("sheet1.png", "sheet1.png.points");  // as the window remembers them
    MakeScan("sheet2.tif", "sheet2.points");      // as Save Locators offers to name them
    MakeScan("sheet3.png", "");                   // none: the grid finder, which finds no grid on it
    RunSeries([](CSeriesReportDlg& report) {
        QTableWidget* pTable = report.Table();
        ASSERT_EQ(pTable->rowCount(), 3);
        const char* aFiles[3] = {"sheet1.png", "sheet2.tif", "sheet3.png"};
        const char* aStatus[3] = {"written", "written", "failed"};
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(pTable->item(r, 0)->text().toStdString(), aFiles[r]);
            EXPECT_EQ(pTable->item(r, 1)->text().toStdString(), aStatus[r]) << pTable->item(r, 2)->text().toStdString();
        }
        EXPECT_NE(pTable->item(2, 2)->text().toStdString().find("--auto"), std::string::npos);
        EXPECT_EQ(report.Summary().toStdString(), "2 written, 0 skipped, 1 failed, 0 warned.");
    });
    const char* aSheets[2][3] = {{"sheet1", "sheet1.png", "sheet1.png.points"}, {"sheet2", "sheet2.tif", "sheet2.points"}};
    for (const auto& aSheet : aSheets) {
        const std::string strOurs = m_folder.Path(std::string("out/") + aSheet[0] + "-rectified.tif");
        const std::string strTheTools = CliRectify(m_folder.Path(std::string("scans/") + aSheet[1]),
                                                   m_folder.Path(std::string("scans/") + aSheet[2]),
                                                   m_folder.Path(std::string("cli-") + aSheet[0] + ".tif"));
        EXPECT_EQ(ReadBytes(strOurs), strTheTools) << aSheet[0];
        EXPECT_FALSE(FindWorldFile(strOurs).empty()) << aSheet[0];
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out/sheet3-rectified.tif")));
}

TEST_F(RectifySeriesTest, TheReportIsSavedAsTheToolWritesItAndASecondRunSkipsWhatIsDone)
{
    MakeScan("a.png", "a.png.points");
    RunSeries([](CSeriesReportDlg& report) { EXPECT_EQ(report.Table()->item(0, 1)->text(), QStringLiteral("written")); });
    SFileDialogResult saved;
    saved.bAccepted = true;
    saved.strPath = m_folder.Path("report.csv");
    m_platform.AnswerNextFileDialog(saved);
    RunSeries([](CSeriesReportDlg& report) {
        EXPECT_EQ(report.Table()->item(0, 1)->text(), QStringLiteral("skipped"));
        report.m_pSave->click();
    });
    const std::string strReport = ReadBytes(m_folder.Path("report.csv"));
    EXPECT_EQ(strReport.rfind("line,scan,output,status,message,mismatch_pixels,mismatch_metres,west,north,east,south,"
                              "resolution,seconds\r\n1," +
                                  m_folder.Path("scans/a.png") + "," + m_folder.Path("out/a-rectified.tif") +
                                  ",skipped,the output is newer than its inputs,",
                              0),
              0u)
        << strReport;
    EXPECT_EQ(m_platform.UnusedScript(), 0u);
}

TEST_F(RectifySeriesTest, RefusedRowsAreListedAndNothingRuns)
{
    MakeScan("a.png", "a.png.points");
    // A file named as a picture that is none: its row is refused, so no row runs.
    std::ofstream(m_folder.Path("scans/broken.png")) << "not a picture";
    RunSeries([](CSeriesReportDlg& report) {
        ASSERT_EQ(report.Table()->rowCount(), 2);
        EXPECT_EQ(report.Table()->item(0, 1)->text(), QStringLiteral("refused"));
        EXPECT_EQ(report.Table()->item(1, 1)->text(), QStringLiteral("refused"));
        EXPECT_TRUE(report.Summary().startsWith(QStringLiteral("Nothing was done: 1 of 2 rows were refused")));
    });
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out/a-rectified.tif")));
}

// What the user does to the window while a series runs, each of which would put the map
// aside. Closing and Exit are refused until the series has ended; a map opened meanwhile
// asks about the unsaved one as at any other time, and the answer is the user's.
enum class EWhileSeries { Close, Exit, Drop };

class SeriesInterruptedTest : public RectifySeriesTest,
                              public ::testing::WithParamInterface<std::tuple<EWhileSeries, EAnswer>> {};

constexpr const char* kSaveQuestion = "Do you wish to save the modified map?";
constexpr const char* kCloseRefused =
    "A series is being rectified; cancel it or wait until it ends before closing.";

TEST_P(SeriesInterruptedTest, TheUnsavedMapIsNeverDroppedWithoutTheUserSaying)
{
    const auto [eWhile, eAnswer] = GetParam();
    MakeScan("a.png", "a.png.points");
    MakeScan("b.png", "b.png.points");
    // A map with unsaved changes, and another one to drop on the window.
    CDIBWorld map;
    test::MakePatternPicture(map, 8, 40, 30);
    ASSERT_EQ(map.SaveDIB(m_folder.Path("area.bmp")), ESaveResult::Written);
    ASSERT_EQ(map.SaveDIB(m_folder.Path("other.bmp")), ESaveResult::Written);
    ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_folder.Path("area.bmp"))));
    Frame().show();
    Document().SetModifiedFlag(true);
    m_platform.ClearRecord();

    const bool bOpens = eWhile == EWhileSeries::Drop;
    if (bOpens) {
        m_platform.AnswerNextQuestion(eAnswer);
        if (eAnswer == EAnswer::Yes) {
            SFileDialogResult saved;
            saved.bAccepted = true;
            saved.strPath = m_folder.Path("saved.bmp");
            m_platform.AnswerNextFileDialog(saved);
        }
    }
    bool bDuringRun = false;
    QMimeData mimeData;
    mimeData.setUrls({QUrl::fromLocalFile(QString::fromStdString(m_folder.Path("other.bmp")))});
    RunSeries([](CSeriesReportDlg& report) { EXPECT_EQ(report.Table()->rowCount(), 2); },
              [&] {
                  // The series has started and not ended yet.
                  const auto& aProgress = m_platform.ProgressEvents();
                  bDuringRun = !aProgress.empty() &&
                               aProgress.front().eType == CScriptedPlatform::SProgressEvent::Start &&
                               aProgress.back().eType != CScriptedPlatform::SProgressEvent::End;
                  switch (eWhile) {
                  case EWhileSeries::Close:
                      Frame().close();
                      break;
                  case EWhileSeries::Exit:
                      Frame().Action(ID_APP_EXIT)->trigger();
                      break;
                  case EWhileSeries::Drop: {
                      QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
                      QApplication::sendEvent(&Frame(), &enter);
                      QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
                      QApplication::sendEvent(&Frame(), &drop);
                      break;
                  }
                  }
              });
    ASSERT_TRUE(bDuringRun);
    // The series itself ran to its end.
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("out/a-rectified.tif")));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("out/b-rectified.tif")));

    const std::vector<std::string> aAsked = MessageTexts();
    if (!bOpens) {
        // Refused with a word to the user; the window and its map stay as they were.
        EXPECT_EQ(aAsked, std::vector<std::string>{kCloseRefused});
        EXPECT_TRUE(Frame().isVisible());
        EXPECT_EQ(Document().GetFilePath(), m_folder.Path("area.bmp"));
        EXPECT_TRUE(Document().IsModified());
        return;
    }
    // The user was asked, and the answer holds.
    EXPECT_EQ(aAsked, std::vector<std::string>{kSaveQuestion});
    EXPECT_TRUE(Frame().isVisible());
    if (eAnswer == EAnswer::Cancel) {
        EXPECT_EQ(Document().GetFilePath(), m_folder.Path("area.bmp"));
        EXPECT_TRUE(Document().IsModified());
    } else {
        EXPECT_TRUE(std::filesystem::exists(m_folder.Path("saved.bmp")));
        EXPECT_EQ(Document().GetFilePath(), m_folder.Path("other.bmp"));
    }
}

INSTANTIATE_TEST_SUITE_P(, SeriesInterruptedTest,
                         ::testing::Values(std::make_tuple(EWhileSeries::Close, EAnswer::Cancel),
                                           std::make_tuple(EWhileSeries::Exit, EAnswer::Cancel),
                                           std::make_tuple(EWhileSeries::Drop, EAnswer::Cancel),
                                           std::make_tuple(EWhileSeries::Drop, EAnswer::Yes)),
                         [](const auto& info) {
                             switch (std::get<0>(info.param)) {
                             case EWhileSeries::Close:
                                 return std::string("Close");
                             case EWhileSeries::Exit:
                                 return std::string("Exit");
                             default:
                                 return std::string(std::get<1>(info.param) == EAnswer::Yes ? "DropAnsweredYes"
                                                                                            : "DropAnsweredCancel");
                             }
                         });

}  // namespace
}  // namespace gridmorph
