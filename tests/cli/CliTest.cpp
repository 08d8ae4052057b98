// The command-line tool as a script sees it: output lines, exit codes, files written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "image/DIBImage.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"
#include "support/ScopedLocale.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

struct SRun {
    int nExitCode = -1;
    std::string strOutput;  // standard output and standard error together
};

// Runs the tool with the arguments, in strFolder when one is given.
SRun RunCli(const std::string& strArguments, const std::string& strFolder = "")
{
    const std::string strCommand = (strFolder.empty() ? "" : "cd '" + strFolder + "' && ") +
                                   std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1";
    const test::SCommandResult result = test::RunCommand(strCommand);
    return SRun{result.nExitCode, result.strOutput};
}

// Runs the tool's code in this process, so that it runs in the locale the test set;
// returns the exit code and what it printed on standard output.
SRun RunCliHere(const std::vector<std::string>& aArguments)
{
    std::vector<std::string> aCopies = {"gridmorph-cli"};
    aCopies.insert(aCopies.end(), aArguments.begin(), aArguments.end());
    std::vector<char*> aPointers;
    for (std::string& strArgument : aCopies)
        aPointers.push_back(strArgument.data());
    aPointers.push_back(nullptr);
    SRun run;
    ::testing::internal::CaptureStdout();
    run.nExitCode = cli::RunCli(static_cast<int>(aCopies.size()), aPointers.data());
    run.strOutput = ::testing::internal::GetCapturedStdout();
    return run;
}

class CliTest : public test::CPlatformTest {
protected:
    test::CTempFolder m_folder;
};

TEST_F(CliTest, InfoPrintsOneKeyValueLinePerProperty)
{
    CDIBImage image;
    test::MakePatternPicture(image, 8, 31, 17);
    image.SaveDIB(m_folder.Path("map.gif"));
    const SRun run = RunCli("info " + m_folder.Path("map.gif"));
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput, "type: GIF\nwidth: 31\nheight: 17\ndepth: 8\ncolours: 256\n");
}

TEST_F(CliTest, ConvertWritesTheNamedFormatAndRefusesWhatItCannotWrite)
{
    CDIBImage image;
    test::MakePatternPicture(image, 24, 20, 10);
    image.SaveDIB(m_folder.Path("map.png"));

    SRun run = RunCli("convert " + m_folder.Path("map.png") + " " + m_folder.Path("map.tif"));
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBImage converted;
    ASSERT_TRUE(converted.OpenDIB(m_folder.Path("map.tif")));
    EXPECT_TRUE(test::SamePicture(image, converted));

    run = RunCli("convert " + m_folder.Path("map.png") + " " + m_folder.Path("map.gif"));
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("GIF file format must be 8-bit, 256 colour"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("map.gif")));

    run = RunCli("convert " + m_folder.Path("missing.png") + " " + m_folder.Path("x.png"));
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("convert failed: The file " + m_folder.Path("missing.png") + " does not exist."),
              std::string::npos)
        << run.strOutput;
}

TEST_F(CliTest, MapVerbsKeepTheGeoreference)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 11, 6);
    image.SetEdges({1000, 1050, 1100, 1000});  // 10 m pixels
    image.SaveWorld(m_folder.Path("map.png"));

    SRun run = RunCli("world " + m_folder.Path("map.png"));
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput,
              "west: 1000.000000\nnorth: 1050.000000\neast: 1100.000000\nsouth: 1000.000000\n"
              "outside_west: 995.000000\noutside_north: 1055.000000\noutside_east: 1105.000000\n"
              "outside_south: 995.000000\n");

    test::WriteBytes(m_folder.Path("map.jgw"), {'9', '\n'});  // another program's spelling is rewritten
    run = RunCli("world " + m_folder.Path("map.png") + " --write tfw,JGW");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("map.TFW")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("map.JGW")));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("map.jgw")), test::ReadBytes(m_folder.Path("map.PGW")));

    run = RunCli("convert " + m_folder.Path("map.png") + " " + m_folder.Path("small.gif") + " --depth 8");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld reduced;
    ASSERT_TRUE(reduced.OpenWorld(m_folder.Path("small.gif"), true));
    EXPECT_EQ(reduced.m_nBitCount, 8);
    EXPECT_EQ(reduced.GetEastCm(), 110000);

    run = RunCli("crop " + m_folder.Path("map.png") + " " + m_folder.Path("part.tif") + " --rect 2,1,3,2 --compress none");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld part;
    ASSERT_TRUE(part.OpenWorld(m_folder.Path("part.tif"), true));
    EXPECT_EQ(part.m_nImageWidth, 3);
    EXPECT_EQ(part.GetWest(), 1020.0);
    EXPECT_EQ(part.GetNorth(), 1040.0);

    run = RunCli("mosaic " + m_folder.Path("new.bmp") + " --region 1013,1003,1047,1021 " + m_folder.Path("map.png"));
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput, "width: 5\nheight: 4\nwest: 1010.000000\nnorth: 1030.000000\neast: 1050.000000\n"
                             "south: 1000.000000\n");
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("new.BPW")));
}

std::vector<std::uint8_t> Bytes(const std::string& strText) { return {strText.begin(), strText.end()}; }

// A rectangle reaching off the picture keeps the pixels on it in place and its world file
// gives the rectangle's edges; one wholly off the picture is refused and writes nothing.
TEST_F(CliTest, CropKeepsPixelsInPlaceAndRefusesARectangleOffThePicture)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 11, 6);
    image.SetEdges({1000, 1050, 1100, 1000});  // 10 m pixels
    ASSERT_EQ(image.SaveWorldSilent(m_folder.Path("map.png")), ESaveResult::Written);

    SRun run = RunCli("crop " + m_folder.Path("map.png") + " " + m_folder.Path("part.png") + " --rect -2,-1,4,3");
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    CDIBWorld part;
    ASSERT_TRUE(part.OpenWorld(m_folder.Path("part.png"), true));
    ASSERT_EQ(part.m_nImageWidth, 4);
    ASSERT_EQ(part.m_nImageHeight, 3);
    EXPECT_EQ(part.GetWest(), 980.0);
    EXPECT_EQ(part.GetNorth(), 1060.0);
    EXPECT_EQ(part.GetEast(), 1010.0);
    EXPECT_EQ(part.GetSouth(), 1040.0);
    // Columns 2 and 3, rows 1 and 2 (from the top) are the map's first two columns and rows.
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t* p = part.StorageRow(2 - r) + 3 * k;
            if (k >= 2 && r >= 1)
                EXPECT_EQ(std::vector<std::uint8_t>(p, p + 3),
                          std::vector<std::uint8_t>(image.StorageRow(5 - (r - 1)) + 3 * (k - 2),
                                                    image.StorageRow(5 - (r - 1)) + 3 * (k - 2) + 3))
                    << k << "," << r;
            else
                EXPECT_EQ(std::vector<std::uint8_t>(p, p + 3), (std::vector<std::uint8_t>{255, 255, 255}))
                    << k << "," << r;
        }

    for (const char* pRect : {"11,0,3,3", "-4,0,4,6", "0,6,2,2"}) {
        run = RunCli("crop " + m_folder.Path("map.png") + " " + m_folder.Path("off.png") + " --rect " + pRect);
        EXPECT_EQ(run.nExitCode, 1) << pRect;
        EXPECT_NE(run.strOutput.find("crop failed: The rectangle to crop"), std::string::npos) << run.strOutput;
        EXPECT_NE(run.strOutput.find("lies wholly outside the 11 x 6 picture"), std::string::npos) << run.strOutput;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("off.png"))) << pRect;
    }
}

// Rotation terms would be dropped by any verb that read them as edges: every one refuses.
TEST_F(CliTest, EveryVerbRefusesAWorldFileWithRotationTerms)
{
    CDIBImage image;
    test::MakePatternPicture(image, 24, 11, 6);
    ASSERT_EQ(image.SaveDIB(m_folder.Path("map.png")), ESaveResult::Written);
    test::WriteBytes(m_folder.Path("map.pgw"), Bytes("10\n0.5\n0.25\n-10\n1000\n1050\n"));
    const std::string strMap = m_folder.Path("map.png");
    for (const std::string& strArguments :
         {"world " + strMap, "world " + strMap + " --write TFW",
          "crop " + strMap + " " + m_folder.Path("a.png") + " --rect 0,0,3,3",
          "mosaic " + m_folder.Path("b.png") + " --region 1000,1000,1050,1050 " + strMap,
          "rectify " + strMap + " " + m_folder.Path("c.png") + " --p1 1,1,0,100 --p2 9,1 --p3 9,4,100,0"}) {
        const SRun run = RunCli(strArguments);
        EXPECT_NE(run.nExitCode, 0) << strArguments;
        EXPECT_NE(run.strOutput.find("The world file " + m_folder.Path("map.pgw") +
                                     " has rotation terms (0.5, 0.25) on its lines 2 and 3; rotated world files are "
                                     "not supported"),
                  std::string::npos)
            << strArguments << "\n" << run.strOutput;
    }
    for (const char* pName : {"map.TFW", "a.png", "b.png", "c.png"})
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path(pName))) << pName;
}

// world --write never rewrites the world file the map was placed by (six decimals would
// round its numbers), unless the text would be the same; other flavours are written.
TEST_F(CliTest, WorldWriteLeavesTheWorldFileTheMapWasPlacedBy)
{
    CDIBImage image;
    test::MakePatternPicture(image, 24, 11, 6);
    ASSERT_EQ(image.SaveDIB(m_folder.Path("map.png")), ESaveResult::Written);
    const std::vector<std::uint8_t> aOwn = Bytes("10\n0\n0\n-10\n1005.123456789\n1050\n");
    test::WriteBytes(m_folder.Path("map.pgw"), aOwn);

    SRun run = RunCli("world " + m_folder.Path("map.png") + " --write TFW,PGW");
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("world failed: " + m_folder.Path("map.pgw") + " is the world file " +
                                 m_folder.Path("map.png") + " was placed by; it is left as it is"),
              std::string::npos)
        << run.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("map.pgw")), aOwn);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("map.TFW")));  // nothing written

    run = RunCli("world " + m_folder.Path("map.png") + " --write TFW");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("map.TFW")),
              Bytes("10.000000\r\n0.0\r\n0.0\r\n-10.000000\r\n1005.123457\r\n1050.000000\r\n"));
    EXPECT_EQ(test::ReadBytes(m_folder.Path("map.pgw")), aOwn);

    // The same text may be written over it.
    std::filesystem::remove(m_folder.Path("map.pgw"));
    std::filesystem::rename(m_folder.Path("map.TFW"), m_folder.Path("map.pgw"));
    run = RunCli("world " + m_folder.Path("map.png") + " --write pgw");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput, "wrote: " + m_folder.Path("map.pgw") + "\n");
}

TEST_F(CliTest, RectifyWritesTheMapAndItsWorldFileAndRefusesQuestionsWithoutYes)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 100, 50);
    image.SaveDIB(m_folder.Path("scan.bmp"));
    const std::string strOut = m_folder.Path("straight.tif");
    SRun run = RunCli("rectify " + m_folder.Path("scan.bmp") + " " + strOut +
                      " --p1 0,0,1000,2049 --p2 99,0 --p3 99,49,1099,1951");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput, "width: 100\nheight: 99\nwest: 1000.000000\nnorth: 2049.000000\neast: 1099.000000\n"
                             "south: 1951.000000\nresolution: 1.000000\n"
                             "fourth_corner_x: 0.000000\nfourth_corner_y: 49.000000\n");
    CDIBWorld rectified;
    ASSERT_TRUE(rectified.OpenWorld(strOut, true));
    EXPECT_EQ(rectified.m_nImageHeight, 99);
    EXPECT_EQ(rectified.GetSouthCm(), 195100);

    // Point 3 west of point 1 asks a question: refused without --yes, answered with it.
    const std::string strArguments = "rectify " + m_folder.Path("scan.bmp") + " " + m_folder.Path("mirror.tif") +
                                     " --p1 0,0,1099,2049 --p2 99,0 --p3 99,49,1000,2000";
    run = RunCli(strArguments);
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("Point 3 easting is usually greater than point 1"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("mirror.tif")));
    run = RunCli(strArguments + " --yes");
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;

    // Locators in a straight line are an error whatever the answer.
    run = RunCli("rectify " + m_folder.Path("scan.bmp") + " " + m_folder.Path("line.tif") +
                 " --p1 0,0,1000,2049 --p2 50,0 --p3 99,0,1099,1951 --yes");
    EXPECT_EQ(run.nExitCode, 1);
    EXPECT_NE(run.strOutput.find("are in a straight line."), std::string::npos) << run.strOutput;
}

TEST_F(CliTest, ASaveThatWroteNothingIsAFailure)
{
    // An 8-bit scan rectified into a JPEG name: the format refuses the depth, so the tool
    // says so and fails instead of printing the edges of a map it never wrote.
    CDIBWorld image;
    test::MakePatternPicture(image, 8, 100, 50);
    image.SaveDIB(m_folder.Path("scan.bmp"));
    const SRun run = RunCli("rectify " + m_folder.Path("scan.bmp") + " " + m_folder.Path("straight.jpg") +
                            " --p1 0,0,1000,2049 --p2 99,0 --p3 99,49,1099,1951");
    EXPECT_EQ(run.nExitCode, 1) << run.strOutput;
    EXPECT_NE(run.strOutput.find("JPEG file format must be 24-bit, full colour"), std::string::npos) << run.strOutput;
    EXPECT_NE(run.strOutput.find("rectify failed: Image not saved"), std::string::npos) << run.strOutput;
    EXPECT_EQ(run.strOutput.find("width:"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("straight.jpg")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("straight.JGW")));
}

TEST_F(CliTest, NumbersIgnoreACommaDecimalLocale)
{
    const auto locale = test::FindCommaDecimalLocale();
    if (!locale)
        GTEST_SKIP() << "no comma-decimal locale is installed and localedef could not make de_DE.UTF-8";
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 100, 50);
    image.SetEdges({1000.5, 1049.25, 1099.5, 1000.25});  // 1 m columns, 1 m rows
    ASSERT_EQ(image.SaveWorld(m_folder.Path("scan.png")), ESaveResult::Written);
    const std::vector<std::uint8_t> aWorldInC = test::ReadBytes(m_folder.Path("scan.PGW"));

    test::CScopedLocale scoped(*locale);
    ASSERT_TRUE(scoped.Active());
    SRun run = RunCliHere({"world", m_folder.Path("scan.png")});
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput,
              "west: 1000.500000\nnorth: 1049.250000\neast: 1099.500000\nsouth: 1000.250000\n"
              "outside_west: 1000.000000\noutside_north: 1049.750000\noutside_east: 1100.000000\n"
              "outside_south: 999.750000\n");

    run = RunCliHere({"world", m_folder.Path("scan.png"), "--write", "TFW"});
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(test::ReadBytes(m_folder.Path("scan.TFW")), aWorldInC);

    // Decimal eastings on the command line are read whole, and the output prints them so.
    run = RunCliHere({"rectify", m_folder.Path("scan.png"), m_folder.Path("straight.png"), "--p1",
                      "0,0,1000.5,2049.5", "--p2", "99,0", "--p3", "99,49,1099.5,1951.5"});
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_EQ(run.strOutput, "width: 100\nheight: 99\nwest: 1000.500000\nnorth: 2049.500000\neast: 1099.500000\n"
                             "south: 1951.500000\nresolution: 1.000000\n"
                             "fourth_corner_x: 0.000000\nfourth_corner_y: 49.000000\n");
    const std::string strWorld = "1.000000\r\n0.0\r\n0.0\r\n-1.000000\r\n1000.500000\r\n2049.500000\r\n";
    EXPECT_EQ(test::ReadBytes(m_folder.Path("straight.PGW")), std::vector<std::uint8_t>(strWorld.begin(), strWorld.end()));
}

TEST_F(CliTest, CommandLineMistakesSayWhatIsWrongInOneLine)
{
    struct SCase {
        const char* pArguments;
        const char* pProblem;
    };
    const SCase aCases[] = {
        {"", "no command given"},
        {"frobnicate x", "unknown command 'frobnicate'"},
        {"info", "info takes one file name"},
        {"convert a", "convert takes an input and an output file name"},
        {"crop a b", "crop needs --rect"},
        {"crop a b --rect 1,2,3", "--rect takes 4 comma-separated numbers"},
        {"mosaic o --region 5,0,1,1 i", "west must lie west of east"},
        {"convert a b --depth 16", "--depth takes 8, 24 or grey"},
        {"convert a b --compress zip", "--compress takes none, lzw or deflate"},
        {"world a --write XYZ", "unknown flavour 'XYZ'"},
        {"info a --bogus 1", "unknown option '--bogus'"},
        {"rectify a b --p1 0,0,1,1 --p3 1,1,2,0", "rectify needs --p1"},
        {"rectify a b --p1 0,0,1,1 --p2 1,0 --p3 1,1,2,0 --non-rectangular", "go together"},
        {"rectify a b --p1 0.5,0,1,1 --p2 1,0 --p3 1,1,2,0", "pixel positions are whole numbers"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pArguments);
        const SRun run = RunCli(aCase.pArguments);
        EXPECT_EQ(run.nExitCode, 2);
        EXPECT_EQ(run.strOutput.rfind("gridmorph-cli: ", 0), 0u) << run.strOutput;
        EXPECT_NE(run.strOutput.find(aCase.pProblem), std::string::npos) << run.strOutput;
        EXPECT_EQ(run.strOutput.size() - run.strOutput.find("; see gridmorph-cli --help\n"),
                  std::string("; see gridmorph-cli --help\n").size())
            << run.strOutput;
        EXPECT_EQ(std::count(run.strOutput.begin(), run.strOutput.end(), '\n'), 1) << run.strOutput;
    }
    // Asked for, the usage is shown in full; the version is the project's.
    SRun run = RunCli("--help");
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput.rfind("Usage: gridmorph-cli COMMAND", 0), 0u) << run.strOutput;
    run = RunCli("--version");
    EXPECT_EQ(run.nExitCode, 0);
    EXPECT_EQ(run.strOutput, std::string("gridmorph-cli ") + GRIDMORPH_VERSION + "\n");
}

// Each command's --help is its own: its synopses and the options it takes, the same
// lines the general help gives for it.
TEST_F(CliTest, EveryCommandHasItsOwnHelp)
{
    const SRun general = RunCli("--help");
    ASSERT_EQ(general.nExitCode, 0);
    struct SCase {
        const char* pCommand;
        std::vector<const char*> aTaken;     // options its help names
        std::vector<const char*> aNotTaken;  // options of other commands
    };
    const SCase aCases[] = {
        {"info", {"--help"}, {"--srs", "--resample", "--depth 8 "}},
        {"world", {"--write LIST"}, {"--resample", "--clip"}},
        {"convert", {"--depth 8|24|grey", "--srs", "--compress"}, {"--resample", "--p4"}},
        {"crop", {"--rect LEFT,TOP,WIDTH,HEIGHT", "--srs", "--compress"}, {"--resample", "--nodata"}},
        {"mosaic", {"--region WEST,SOUTH,EAST,NORTH", "--srs"}, {"--resample", "--clip"}},
        {"rectify",
         {"--points FILE", "--auto", "--p4 X,Y", "--save-points", "--resample", "--depth 8 ", "--clip frame",
          "--nodata", "--srs", "--yes", "#CRS:"},
         {"--rect", "--region"}},
        {"findgrid", {"findgrid SCAN"}, {"--srs", "--resample"}},
    };
    for (const SCase& c : aCases) {
        SCOPED_TRACE(c.pCommand);
        for (const std::string strAsked : {" --help", " -h", " in.png out.png --help"}) {
            const SRun run = RunCli(c.pCommand + strAsked);
            EXPECT_EQ(run.nExitCode, 0);
            EXPECT_EQ(run.strOutput.rfind(std::string("Usage: gridmorph-cli ") + c.pCommand + " ", 0), 0u)
                << run.strOutput;
            EXPECT_NE(run.strOutput, general.strOutput);
        }
        const SRun run = RunCli(std::string(c.pCommand) + " --help");
        for (const char* pTaken : c.aTaken)
            EXPECT_NE(run.strOutput.find(pTaken), std::string::npos) << pTaken << "\n" << run.strOutput;
        for (const char* pNotTaken : c.aNotTaken)
            EXPECT_EQ(run.strOutput.find(pNotTaken), std::string::npos) << pNotTaken << "\n" << run.strOutput;
        // Its lines are the general help's, word for word.
        std::istringstream lines(run.strOutput);
        std::string strLine;
        std::getline(lines, strLine);
        while (std::getline(lines, strLine)) {
            if (!strLine.empty()) {
                EXPECT_NE(general.strOutput.find(strLine + "\n"), std::string::npos) << strLine;
            }
        }
    }
}

TEST_F(CliTest, AnOptionOutOfRangeNamesItsRange)
{
    const std::string strTable = m_folder.Path("table.csv");
    std::ofstream(strTable) << "scan,output,points\n";
    const SRun run = RunCli("batch " + strTable + " --memory 99999999");
    EXPECT_EQ(run.nExitCode, 2);
    EXPECT_NE(run.strOutput.find("--memory takes a whole number from 1 to 1000000"), std::string::npos)
        << run.strOutput;
}

TEST_F(CliTest, AnOutputThatIsAnInputIsRefusedBeforeAnyWork)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 100, 50);
    image.SetEdges({1000, 1049, 1099, 1000});
    image.SaveWorld(m_folder.Path("map.png"));
    ASSERT_EQ(image.m_nErrorNumber, 0);
    const std::vector<std::uint8_t> aPicture = test::ReadBytes(m_folder.Path("map.png"));
    const std::vector<std::uint8_t> aWorld = test::ReadBytes(m_folder.Path("map.PGW"));
    std::filesystem::create_symlink(m_folder.Path("map.png"), m_folder.Path("link.png"));
    std::filesystem::create_hard_link(m_folder.Path("map.png"), m_folder.Path("hard.PNG"));
    std::filesystem::create_directory(m_folder.Path("sub"));
    const std::string strMap = m_folder.Path("map.png");
    const std::string strRectify = " --p1 0,0,1000,1049 --p2 99,0 --p3 99,49,1099,1000";

    struct SCase {
        std::string strArguments;
        std::string strFolder;  // where the tool runs; empty: anywhere
    };
    const SCase aCases[] = {
        {"convert " + strMap + " " + strMap, ""},
        {"convert map.png ./map.png --depth 8", m_folder.Root().string()},
        {"convert ../map.png " + strMap, m_folder.Path("sub")},
        {"crop " + strMap + " " + m_folder.Path("link.png") + " --rect 0,0,10,10", ""},  // through a symbolic link
        {"crop " + m_folder.Path("link.png") + " " + m_folder.Path("hard.PNG") + " --rect 0,0,10,10", ""},  // a hard link
        {"rectify " + strMap + " " + m_folder.Path("sub/../map.png") + strRectify, ""},
        {"rectify " + strMap + " " + m_folder.Path("hard") + strRectify, ""},  // saved as hard.PNG
        {"mosaic " + strMap + " --region 1010,1010,1050,1040 " + m_folder.Path("other.png") + " " + strMap, ""},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.strArguments);
        const SRun run = RunCli(aCase.strArguments, aCase.strFolder);
        EXPECT_EQ(run.nExitCode, 2);
        EXPECT_NE(run.strOutput.find("is the same file as the input"), std::string::npos) << run.strOutput;
        EXPECT_EQ(std::count(run.strOutput.begin(), run.strOutput.end(), '\n'), 1) << run.strOutput;
        EXPECT_EQ(test::ReadBytes(m_folder.Path("map.png")), aPicture);
        EXPECT_EQ(test::ReadBytes(m_folder.Path("map.PGW")), aWorld);
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("hard.PGW")));
    }
    // Another name for a new file is fine.
    const SRun run = RunCli("convert map.png ./copy.png", m_folder.Root().string());
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("copy.png")));
}

TEST_F(CliTest, SidecarFilesNeverReplaceAnInputOrEachOther)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 100, 50);
    image.SetEdges({1000, 1049, 1099, 1000});
    image.SaveWorld(m_folder.Path("map.png"));
    image.SaveWorld(m_folder.Path("in.tif"));
    ASSERT_EQ(image.m_nErrorNumber, 0);
    test::WriteBytes(m_folder.Path("in.prj"), {'G', 'E', 'O', 'G'});
    test::WriteBytes(m_folder.Path("old.points"), {'x'});
    std::filesystem::create_symlink(m_folder.Path("in.TFW"), m_folder.Path("linked.BPW"));
    const std::vector<std::string> aKept = {"map.png", "map.PGW", "in.tif", "in.TFW", "in.prj", "old.points"};
    std::vector<std::vector<std::uint8_t>> aBefore;
    for (const std::string& strName : aKept)
        aBefore.push_back(test::ReadBytes(m_folder.Path(strName)));
    const std::string strRectify = " --p1 0,0,1000,1049 --p2 99,0 --p3 99,49,1099,1000";

    struct SCase {
        std::string strArguments;
        const char* pWritten;  // the file that would have been replaced, and the one it is
        const char* pRead;
    };
    const SCase aCases[] = {
        {"rectify map.png out.png" + strRectify + " --save-points map.png", "map.png", "map.png"},
        {"rectify map.png out.png" + strRectify + " --save-points out.png", "out.png", "out.png"},
        {"rectify map.png out.png" + strRectify + " --save-points out.PGW", "out.PGW", "out.PGW"},
        {"rectify map.png out.png" + strRectify + " --save-points MAP.pgw", "MAP.pgw", "map.PGW"},
        {"rectify map.png out.png --points old.points --save-points ./old.points", "old.points", "old.points"},
        {"crop in.tif in.tiff --rect 0,0,10,10", "in.TFW", "in.TFW"},
        {"crop in.tif IN.TIF --rect 0,0,10,10", "IN.TIF", "in.tif"},
        {"convert in.tif in.bmp --srs EPSG:4326", "in.prj", "in.prj"},
        {"convert in.tif in.bmp", "in.prj", "in.prj"},  // the old .prj would be removed
        {"convert in.tif linked.bmp", "linked.BPW", "in.TFW"},  // a link to the input's world file
        {"mosaic in.gif --region 1010,1010,1050,1040 in.tif", "in.prj", "in.prj"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.strArguments);
        const SRun run = RunCli(aCase.strArguments, m_folder.Root().string());
        EXPECT_EQ(run.nExitCode, 2);
        EXPECT_NE(run.strOutput.find(std::string(aCase.pWritten) + " is the same file as "), std::string::npos)
            << run.strOutput;
        EXPECT_NE(run.strOutput.find(std::string(aCase.pRead) + " and would replace it"), std::string::npos)
            << run.strOutput;
        for (std::size_t i = 0; i < aKept.size(); ++i)
            EXPECT_EQ(test::ReadBytes(m_folder.Path(aKept[i])), aBefore[i]) << aKept[i];
        for (const char* pName : {"out.png", "out.PGW", "in.tiff", "in.bmp", "linked.bmp", "in.gif"})
            EXPECT_FALSE(std::filesystem::exists(m_folder.Path(pName))) << pName;
    }
    // Sidecars of other names are fine.
    const SRun run = RunCli("rectify map.png out.png" + strRectify + " --save-points out.points",
                            m_folder.Root().string());
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("out.points")));
}

TEST_F(CliTest, AnInterruptedSaveLeavesNoTemporaryFile)
{
    CDIBImage image;
    test::MakePatternPicture(image, 24, 4000, 4000);
    ASSERT_EQ(image.SaveDIBSilent(m_folder.Path("big.bmp")), ESaveResult::Written);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(nSignal);
        const pid_t nChild = fork();
        ASSERT_GE(nChild, 0);
        if (nChild == 0) {
            setenv("GRIDMORPH_THREADS", "1", 1);
            execl(GRIDMORPH_CLI_PATH, GRIDMORPH_CLI_PATH, "convert", m_folder.Path("big.bmp").c_str(),
                  m_folder.Path("out.tif").c_str(), "--compress", "deflate", static_cast<char*>(nullptr));
            _exit(127);
        }
        // As soon as the temporary file is there, the tool is interrupted.
        bool bSeen = false;
        for (int nWait = 0; nWait < 20000 && !bSeen; ++nWait) {
            for (const auto& entry : std::filesystem::directory_iterator(m_folder.Root()))
                bSeen = bSeen || entry.path().filename().string().rfind(".out.tif.", 0) == 0;
            if (!bSeen)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(bSeen);
        kill(nChild, nSignal);
        int nStatus = 0;
        ASSERT_EQ(waitpid(nChild, &nStatus, 0), nChild);
        EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == nSignal) << nStatus;
        std::vector<std::string> aNames;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Root()))
            aNames.push_back(entry.path().filename().string());
        EXPECT_EQ(aNames, std::vector<std::string>{"big.bmp"});
    }
}

TEST_F(CliTest, ASaveWithoutACoordinateSystemRemovesTheOldPrj)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 20, 10);
    image.SetEdges({1000, 1009, 1019, 1000});
    image.SaveWorld(m_folder.Path("in.png"));
    ASSERT_EQ(image.m_nErrorNumber, 0);
    SRun run = RunCli("convert in.png out.tif --srs EPSG:27700", m_folder.Root().string());
    ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
    ASSERT_TRUE(std::filesystem::exists(m_folder.Path("out.prj")));
    run = RunCli("convert in.png out.tif", m_folder.Root().string());
    EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("out.TFW")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.prj")));
    std::vector<std::string> aNames;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Root()))
        aNames.push_back(entry.path().filename().string());
    std::sort(aNames.begin(), aNames.end());
    EXPECT_EQ(aNames, (std::vector<std::string>{"in.PGW", "in.png", "out.TFW", "out.tif"}));
}

TEST_F(CliTest, AbsurdRectifyOptionsAreRefusedBeforeTheWork)
{
    CDIBWorld image;
    test::MakePatternPicture(image, 24, 100, 50);
    image.SaveDIB(m_folder.Path("scan.png"));
    const std::string strRectify = "rectify scan.png out.png --p1 0,0,1000,1049 --p2 99,0 --p3 99,49,1099,1000 --yes";
    struct SCase {
        const char* pOption;
        std::string strValue;
        int nExitCode;
        const char* pProblem;
    };
    const SCase aCases[] = {
        {"--p4", "0,50", 1, "rectify failed: point 4 lies outside the 100 x 50 picture"},
        {"--p4", "-1,49", 1, "rectify failed: point 4 lies outside the 100 x 50 picture"},
        {"--p4", "0,99999999999999", 2, "--p4: '0,99999999999999' is out of range (beyond any picture)"},
        {"--save-points", "no/such/folder/out.points", 2,
         "--save-points: the folder of 'no/such/folder/out.points' does not exist"},
        {"--p4", "0,1\x1b[2J", 2, "--p4: '1\\x1B[2J' is not a number"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.strValue);
        const SRun run = RunCli(strRectify + " " + aCase.pOption + " '" + aCase.strValue + "'", m_folder.Root().string());
        EXPECT_EQ(run.nExitCode, aCase.nExitCode) << run.strOutput;
        EXPECT_NE(run.strOutput.find(aCase.pProblem), std::string::npos) << run.strOutput;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.png")));
    }
}

}  // namespace
}  // namespace gridmorph
