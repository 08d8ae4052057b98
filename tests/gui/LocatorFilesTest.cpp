// Locator files in the window (Action > Load Locators, Save Locators) against the
// command-line tool's, and the fourth corner's prediction on the map and in the status bar.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <fstream>

#include "shared/CommandIds.h"
#include "gui/GuiTestSupport.h"
#include "transform/FourthCorner.h"
#include "view/FourthCornerMarker.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CAppTest;

// Three grid corners on a 240 x 180 map, as the tool's options give them.
constexpr int kX[3] = {20, 215, 211};
constexpr int kY[3] = {15, 22, 160};
constexpr double kEasting[3] = {412000, 413000, 413000};
constexpr double kNorthing[3] = {287000, 287000, 286250.5};

class LocatorFilesTest : public CAppTest {
protected:
    void SetUp() override
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 240, 180);
        m_strMap = m_folder.Path("scan.png");
        ASSERT_EQ(map.SaveDIB(m_strMap), ESaveResult::Written);
        ASSERT_TRUE(Start());
        Frame().resize(700, 500);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(m_strMap)));
        m_platform.ClearRecord();
    }
    COrvexView& View() { return *Frame().View(); }
    // The tool's rectify of the scan, writing the locators it used; its exit code.
    int RunCliRectify(const std::string& strPointsOptions)
    {
        const std::string strCommand = std::string(GRIDMORPH_CLI_PATH) + " rectify '" + m_strMap + "' '" +
                                       m_folder.Path("cli.png") + "' " + strPointsOptions + " > /dev/null 2>&1";
        return std::system(strCommand.c_str());
    }
    static std::string CornerOptions()
    {
        auto number = [](double d) { return QString::number(d, 'f', 1).toStdString(); };
        return "--p1 " + std::to_string(kX[0]) + "," + std::to_string(kY[0]) + "," + number(kEasting[0]) + "," +
               number(kNorthing[0]) + " --p2 " + std::to_string(kX[1]) + "," + std::to_string(kY[1]) + " --p3 " +
               std::to_string(kX[2]) + "," + std::to_string(kY[2]) + "," + number(kEasting[2]) + "," +
               number(kNorthing[2]);
    }
    void Trigger(int nCommand)
    {
        Frame().UpdateCommandUI();
        ASSERT_TRUE(Frame().Action(nCommand)->isEnabled()) << nCommand;
        Frame().Action(nCommand)->trigger();
    }

    std::string m_strMap;
};

TEST_F(LocatorFilesTest, AFileSavedInTheWindowIsTheToolsByteForByteAndDrivesIt)
{
    // Save Locators waits for a set whose eastings and northings were set up.
    Frame().UpdateCommandUI();
    EXPECT_FALSE(Frame().Action(ID_ACTION_SAVE_LOCATORS)->isEnabled());
    EXPECT_TRUE(Frame().Action(ID_ACTION_LOAD_LOCATORS)->isEnabled());
    CLocatorSet& locators = View().Locators();
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, kX[i], kY[i]);
        locators.SetMapPosition(i, kEasting[i], kNorthing[i]);
    }
    locators.SetTransformSetUp(true);
    // The name offered is the map's, with .points; one typed without an extension gets it.
    m_platform.AnswerNextFileDialog({true, m_folder.Path("window"), 0});
    Trigger(ID_ACTION_SAVE_LOCATORS);
    ASSERT_EQ(m_platform.FileDialogRequests().size(), 1u);
    EXPECT_EQ(m_platform.FileDialogRequests()[0].strInitialFolder, m_folder.Path("scan.points"));
    EXPECT_TRUE(m_platform.Messages().empty());
    ASSERT_EQ(RunCliRectify(CornerOptions() + " --save-points '" + m_folder.Path("cli.points") + "'"), 0);
    const std::vector<std::uint8_t> aWindow = test::ReadBytes(m_folder.Path("window.points"));
    ASSERT_FALSE(aWindow.empty());
    EXPECT_EQ(aWindow, test::ReadBytes(m_folder.Path("cli.points")));

    // The window's file drives the tool, which makes the map the window makes.
    ASSERT_EQ(RunCliRectify("--points '" + m_folder.Path("window.points") + "'"), 0);
    Trigger(ID_ACTION_APPLY_TRANSFORM);
    Trigger(ID_VIEW_SHOW_TRANSFORMED);
    m_platform.AnswerNextFileDialog({true, m_folder.Path("window.png"), 0});
    Trigger(ID_FILE_SAVE_TRANSFORMED_AS);
    EXPECT_EQ(test::ReadBytes(m_folder.Path("window.PGW")), test::ReadBytes(m_folder.Path("cli.PGW")));
    CDIBWorld fromWindow, fromCli;
    ASSERT_TRUE(fromWindow.OpenWorld(m_folder.Path("window.png"), true));
    ASSERT_TRUE(fromCli.OpenWorld(m_folder.Path("cli.png"), true));
    EXPECT_TRUE(test::SamePicture(fromCli, fromWindow));
}

TEST_F(LocatorFilesTest, TheToolsFileLoadsIntoTheWindowAndSavesBackTheSame)
{
    ASSERT_EQ(RunCliRectify(CornerOptions() + " --save-points '" + m_folder.Path("cli.points") + "'"), 0);
    m_platform.AnswerNextFileDialog({true, m_folder.Path("cli.points"), 0});
    Trigger(ID_ACTION_LOAD_LOCATORS);
    EXPECT_TRUE(m_platform.Messages().empty()) << m_platform.Messages().front().strText;
    const CLocatorSet& locators = View().Locators();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(locators.LocatorX(i), kX[i]) << i;
        EXPECT_EQ(locators.LocatorY(i), kY[i]) << i;
        EXPECT_EQ(locators.Easting(i), kEasting[i]) << i;
        EXPECT_EQ(locators.Northing(i), kNorthing[i]) << i;
    }
    // The set passed the Transform dialog's checks: Apply is available at once.
    EXPECT_TRUE(locators.TransformSetUp());
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Frame().Action(ID_ACTION_APPLY_TRANSFORM)->isEnabled());
    m_platform.AnswerNextFileDialog({true, m_folder.Path("again.points"), 0});
    Trigger(ID_ACTION_SAVE_LOCATORS);
    EXPECT_EQ(test::ReadBytes(m_folder.Path("again.points")), test::ReadBytes(m_folder.Path("cli.points")));
}

TEST_F(LocatorFilesTest, AGridOfPointsGivesTheLargestRectangleAndSaysWhichLines)
{
    // A 3 x 3 grid of crossings (lines 3 to 11), one of them switched off, on the scan.
    std::ofstream file(m_folder.Path("grid.points"), std::ios::binary);
    file << "#CRS: \nmapX,mapY,sourceX,sourceY,enable\n";
    for (int nRow = 0; nRow < 3; ++nRow)
        for (int nColumn = 0; nColumn < 3; ++nColumn)
            file << 412000 + 500 * nColumn << "," << 287000 - 500 * nRow << "," << 20 + 95 * nColumn << ".5,-"
                 << 15 + 70 * nRow << ".5," << (nRow == 1 && nColumn == 1 ? 0 : 1) << "\n";
    file.close();
    m_platform.AnswerNextFileDialog({true, m_folder.Path("grid.points"), 0});
    Trigger(ID_ACTION_LOAD_LOCATORS);
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].strText,
              "The file gives 8 points. The locators are the corners of the largest grid rectangle among them:\n\n"
              "1 (top left): line 3\n2 (top right): line 5\n3 (bottom right): line 11");
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::Information);
    const CLocatorSet& locators = View().Locators();
    const int aExpectedX[3] = {20, 210, 210}, aExpectedY[3] = {15, 15, 155};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(locators.LocatorX(i), aExpectedX[i]) << i;
        EXPECT_EQ(locators.LocatorY(i), aExpectedY[i]) << i;
    }
    EXPECT_EQ(locators.Easting(2), 413000);
    EXPECT_EQ(locators.Northing(2), 286000);
}

TEST_F(LocatorFilesTest, RefusedFilesLeaveTheLocatorsAlone)
{
    const CLocatorSet before = View().Locators();
    const struct {
        const char* pName;
        const char* pText;
        const char* pReason;
    } aCases[] = {
        {"outside.points",
         "mapX,mapY,sourceX,sourceY,enable\n412000,287000,20.5,-15.5,1\n413000,287000,400.5,-22.5,1\n"
         "413000,286000,211.5,-160.5,1\n",
         "line 3: pixel 400,22 lies outside this 240 x 180 map."},
        {"no-rectangle.points",
         "mapX,mapY,sourceX,sourceY,enable\n412000,287000,20.5,-15.5,1\n413000,287100,200.5,-22.5,1\n"
         "413000,286000,211.5,-160.5,1\n412500,286500,100.5,-100.5,1\n",
         "no three of the 4 enabled points are the top-left, top-right and bottom-right corners of a grid rectangle"},
        {"missing.points", nullptr, "it does not exist"},
    };
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        if (aCase.pText)
            std::ofstream(m_folder.Path(aCase.pName), std::ios::binary) << aCase.pText;
        m_platform.ClearRecord();
        m_platform.AnswerNextFileDialog({true, m_folder.Path(aCase.pName), 0});
        Trigger(ID_ACTION_LOAD_LOCATORS);
        ASSERT_EQ(m_platform.Messages().size(), 1u);
        EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::Warning);
        EXPECT_NE(m_platform.Messages()[0].strText.find(aCase.pReason), std::string::npos)
            << m_platform.Messages()[0].strText;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(View().Locators().LocatorX(i), before.LocatorX(i));
            EXPECT_EQ(View().Locators().Easting(i), before.Easting(i));
        }
        EXPECT_FALSE(View().Locators().TransformSetUp());
    }
}

TEST_F(LocatorFilesTest, TheFourthCornerIsMarkedAndNamedInTheStatusBar)
{
    auto* pPane = Frame().findChild<QLabel*>(QStringLiteral("fourthCornerPane"));
    ASSERT_NE(pPane, nullptr);
    Frame().UpdateCommandUI();
    EXPECT_TRUE(pPane->isHidden()) << "no eastings and northings yet: no prediction";

    CLocatorSet& locators = View().Locators();
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, kX[i], kY[i]);
        locators.SetMapPosition(i, kEasting[i], kNorthing[i]);
    }
    SFourthCornerCheck check;
    ASSERT_TRUE(CheckFourthCorner(locators, nullptr, check));
    Frame().UpdateCommandUI();
    EXPECT_FALSE(pPane->isHidden());
    EXPECT_EQ(pPane->text(), QStringLiteral("Corner 4 expected at %1, %2")
                                 .arg(std::lround(check.dPredictedX))
                                 .arg(std::lround(check.dPredictedY)));

    // The hollow marker around the predicted pixel, drawn only with the locators.
    QApplication::processEvents();
    const QRect rectMarker(QPoint(static_cast<int>(check.dPredictedX) - 12, static_cast<int>(check.dPredictedY) - 12),
                           QSize(25, 25));
    const QImage withMarker = View().viewport()->grab().toImage().copy(rectMarker);
    Frame().Action(ID_VIEW_LOCATORS)->trigger();
    const QImage without = View().viewport()->grab().toImage().copy(rectMarker);
    EXPECT_NE(withMarker, without);
    int nRed = 0;
    for (int y = 0; y < withMarker.height(); ++y)
        for (int x = 0; x < withMarker.width(); ++x) {
            const QColor colour = withMarker.pixelColor(x, y);
            nRed += colour.red() > 200 && colour.green() < 60 && colour.blue() < 60;
        }
    EXPECT_GT(nRed, 20);
    EXPECT_EQ(withMarker.pixelColor(12 + 4, 12 + 4), without.pixelColor(12 + 4, 12 + 4)) << "hollow: the map shows through";
    Frame().UpdateCommandUI();
    EXPECT_TRUE(pPane->isHidden());

    // A non-rectangular set predicts nothing.
    Frame().Action(ID_VIEW_LOCATORS)->trigger();
    locators.SetNonRectangular(true);
    Frame().UpdateCommandUI();
    EXPECT_TRUE(pPane->isHidden());
    EXPECT_TRUE(FourthCornerStatusText(locators).isEmpty());
}

}  // namespace
}  // namespace gridmorph
