// The command-line examples of the README run as written. The blocks between
// "<!-- cli-example" and "<!-- /cli-example -->" are run in order in one scratch folder
// that holds a copy of data/sample, each "$ " line (with its "\" continuations) as a
// shell command, build/src/cli/gridmorph-cli standing for the tool just built. Every
// command succeeds, and every output line the README shows is among the lines it printed
// ("..." stands for lines left out; a line ending in " ..." for the rest of that line).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace gridmorph {
namespace {

struct SExample {
    int nLine = 0;  // of the README, for messages
    std::string strCommand;
    std::vector<std::string> aOutput;
};

std::vector<SExample> ReadmeExamples()
{
    std::ifstream readme(std::string(GRIDMORPH_SOURCE_DIR) + "/README.md");
    std::vector<SExample> aExamples;
    std::string strLine;
    bool bInBlock = false, bContinued = false;
    for (int nLine = 1; std::getline(readme, strLine); ++nLine) {
        if (strLine.rfind("<!-- cli-example", 0) == 0) {
            bInBlock = true;
            continue;
        }
        if (strLine.rfind("<!-- /cli-example", 0) == 0) {
            bInBlock = false;
            continue;
        }
        if (!bInBlock || strLine.rfind("    ", 0) != 0)
            continue;
        std::string strText = strLine.substr(4);
        if (bContinued) {
            bContinued = !strText.empty() && strText.back() == '\\';
            std::string& strCommand = aExamples.back().strCommand;
            strCommand += ' ';
            strCommand.append(strText, strText.find_first_not_of(' '));
        } else if (strText.rfind("$ ", 0) == 0) {
            bContinued = !strText.empty() && strText.back() == '\\';
            aExamples.push_back(SExample{nLine, strText.substr(2), {}});
        } else if (!aExamples.empty()) {
            aExamples.back().aOutput.push_back(strText);
        }
        if (!aExamples.empty() && bContinued)
            aExamples.back().strCommand.pop_back();  // the "\"
    }
    return aExamples;
}

std::string Replaced(std::string strText, const std::string& strWhat, const std::string& strBy)
{
    for (std::size_t n = strText.find(strWhat); n != std::string::npos; n = strText.find(strWhat, n + strBy.size()))
        strText.replace(n, strWhat.size(), strBy);
    return strText;
}

bool Printed(const std::vector<std::string>& aPrinted, const std::string& strExpected)
{
    const bool bPrefix = strExpected.size() > 4 && strExpected.compare(strExpected.size() - 4, 4, " ...") == 0;
    const std::string strStart = bPrefix ? strExpected.substr(0, strExpected.size() - 4) : strExpected;
    for (const std::string& strLine : aPrinted)
        if (bPrefix ? strLine.rfind(strStart, 0) == 0 : strLine == strExpected)
            return true;
    return false;
}

TEST(ReadmeExamplesTest, TheMarkedCommandLineExamplesRunAsWritten)
{
    const std::vector<SExample> aExamples = ReadmeExamples();
    ASSERT_GE(aExamples.size(), 8u) << "the README's examples are marked";
    test::CTempFolder scratch;
    std::filesystem::create_directories(scratch.Path("data"));
    std::filesystem::copy(std::string(GRIDMORPH_SOURCE_DIR) + "/data/sample", scratch.Path("data/sample"),
                          std::filesystem::copy_options::recursive);
    const bool bGdal = test::RunCommand("command -v gdalinfo >/dev/null 2>&1").nExitCode == 0;
    int nGridmorphRuns = 0;
    for (const SExample& example : aExamples) {
        SCOPED_TRACE("README line " + std::to_string(example.nLine) + ": " + example.strCommand);
        if (!bGdal && example.strCommand.rfind("gdalinfo ", 0) == 0)
            continue;  // GDAL reads the outputs back where it is installed
        const std::string strCommand = Replaced(example.strCommand, "build/src/cli/gridmorph-cli", GRIDMORPH_CLI_PATH);
        nGridmorphRuns += strCommand != example.strCommand;
        const test::SCommandResult run =
            test::RunCommand("cd '" + scratch.Root().string() + "' && LC_ALL=C " + strCommand + " 2>&1");
        EXPECT_EQ(run.nExitCode, 0) << run.strOutput;
        std::vector<std::string> aPrinted;
        std::istringstream lines(run.strOutput);
        std::string strLine;
        while (std::getline(lines, strLine))
            aPrinted.push_back(strLine);
        for (const std::string& strExpected : example.aOutput) {
            if (strExpected == "...")
                continue;
            // "ls" lays its names out in columns: each name is looked for.
            if (example.strCommand.rfind("ls ", 0) == 0) {
                std::istringstream names(strExpected);
                for (std::string strName; names >> strName;)
                    EXPECT_TRUE(Printed(aPrinted, strName)) << strName << " not listed:\n" << run.strOutput;
                continue;
            }
            EXPECT_TRUE(Printed(aPrinted, strExpected)) << "not printed: " << strExpected << "\n" << run.strOutput;
        }
    }
    EXPECT_GE(nGridmorphRuns, 6);
}

}  // namespace
}  // namespace gridmorph
