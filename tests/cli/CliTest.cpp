// The command-line tool as a script sees it: output lines, exit codes, files written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "image/DIBImage.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

struct SRun {
    int nExitCode = -1;
    std::string strOutput;  // standard output and standard error together
};

SRun RunCli(const std::string& strArguments)
{
    SRun run;
    const std::string strCommand = std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1";
    std::FILE* pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe)
        return run;
    char szBuffer[4096];
    std::size_t nRead = 0;
    while ((nRead = std::fread(szBuffer, 1, sizeof szBuffer, pPipe)) > 0)
        run.strOutput.append(szBuffer, nRead);
    const int nStatus = pclose(pPipe);
    run.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
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
    EXPECT_NE(run.strOutput.find("Load image failed - probably too large."), std::string::npos) << run.strOutput;
}

TEST_F(CliTest, CommandLineMistakesShowTheUsage)
{
    const std::pair<const char*, int> aCases[] = {{"", 2}, {"frobnicate x", 2}, {"info", 2}, {"convert a", 2}, {"--help", 0}};
    for (const auto& [pArguments, nExitCode] : aCases) {
        const SRun run = RunCli(pArguments);
        EXPECT_EQ(run.nExitCode, nExitCode) << pArguments;
        EXPECT_NE(run.strOutput.find("Usage: gridmorph-cli COMMAND"), std::string::npos) << pArguments;
    }
}

}  // namespace
}  // namespace gridmorph
