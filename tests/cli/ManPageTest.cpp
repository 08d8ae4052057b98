// The manual page of gridmorph-cli keeps step with its --help: every command and option
// the usage text names is in the page.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace gridmorph {
namespace {

std::string ManPageText()
{
    std::ifstream file(std::string(GRIDMORPH_SOURCE_DIR) + "/docs/gridmorph-cli.1", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    // troff writes a minus as "\-"; the reader sees "-".
    return std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
}

TEST(ManPageTest, EveryCommandAndOptionOfTheHelpIsInTheManualPage)
{
    const test::SCommandResult help = test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " --help");
    ASSERT_EQ(help.nExitCode, 0);
    const std::string strPage = ManPageText();
    ASSERT_NE(strPage.find(".TH GRIDMORPH-CLI 1"), std::string::npos);

    std::set<std::string> aOptions, aCommands;
    const std::regex option(R"((^|[\s\[,(])(--?[a-z][a-z0-9-]*))");
    for (std::sregex_iterator it(help.strOutput.begin(), help.strOutput.end(), option), end; it != end; ++it)
        aOptions.insert((*it)[2]);
    // Commands open the lines under "Commands:", two spaces in.
    std::istringstream lines(help.strOutput);
    std::string strLine;
    bool bCommands = false;
    while (std::getline(lines, strLine)) {
        if (strLine == "Commands:")
            bCommands = true;
        else if (strLine.empty())
            bCommands = false;
        else if (bCommands && strLine.size() > 2 && strLine[0] == ' ' && strLine[2] != ' ')
            aCommands.insert(strLine.substr(2, strLine.find(' ', 2) - 2));
    }
    EXPECT_GE(aOptions.size(), 15u);
    EXPECT_EQ(aCommands, (std::set<std::string>{"info", "world", "convert", "crop", "mosaic", "rectify", "findgrid", "batch"}));
    for (const std::string& strOption : aOptions) {
        const std::regex word("(^|[^a-z0-9-])" + strOption + "([^a-z0-9-]|$)");
        EXPECT_TRUE(std::regex_search(strPage, word)) << strOption << " is in --help but not in the manual page";
    }
    for (const std::string& strCommand : aCommands)
        EXPECT_NE(strPage.find(".BI " + strCommand + " "), std::string::npos)
            << strCommand << " has no entry in the manual page";

    // And the other way round: every option the page describes is one the tool knows.
    const std::regex described(R"(^\.(?:B|BI|BR) (--?[a-z][a-z0-9-]*))");
    std::istringstream pageLines(strPage);
    while (std::getline(pageLines, strLine)) {
        std::smatch match;
        if (std::regex_search(strLine, match, described)) {
            EXPECT_TRUE(aOptions.count(match[1])) << match[1] << " is in the manual page but not in --help";
        }
    }
}

// The page's sections: the commands under COMMANDS, the options under OPTIONS, and every
// option line of each command's own help described under OPTIONS.
TEST(ManPageTest, CommandsAndOptionsEachHaveTheirOwnSection)
{
    const std::string strPage = ManPageText();
    const std::size_t nCommands = strPage.find(".SH COMMANDS\n");
    const std::size_t nOptions = strPage.find(".SH OPTIONS\n");
    ASSERT_NE(nCommands, std::string::npos);
    ASSERT_NE(nOptions, std::string::npos);
    ASSERT_LT(nCommands, nOptions);
    const std::size_t nOptionsEnd = strPage.find("\n.SH ", nOptions + 1);
    const std::string strCommandSection = strPage.substr(nCommands, nOptions - nCommands);
    const std::string strOptionSection = strPage.substr(nOptions, nOptionsEnd - nOptions);
    for (const char* pCommand : {"info", "world", "convert", "crop", "mosaic", "rectify", "findgrid", "batch"}) {
        EXPECT_NE(strCommandSection.find(std::string(".BI ") + pCommand + " "), std::string::npos) << pCommand;
        EXPECT_EQ(strOptionSection.find(std::string(".BI ") + pCommand + " "), std::string::npos)
            << pCommand << " is listed among the options";
    }
    EXPECT_NE(strCommandSection.find("--auto"), std::string::npos);

    // The options a command's help names on lines of their own are described as options.
    const std::regex optionLine(R"(^  (--?[a-z][a-z0-9-]*)(?: ([^ ]+))?)");
    for (const char* pCommand : {"convert", "crop", "mosaic", "rectify"}) {
        const test::SCommandResult help =
            test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + pCommand + " --help");
        ASSERT_EQ(help.nExitCode, 0);
        std::istringstream lines(help.strOutput.substr(help.strOutput.find("\nOptions:\n")));
        std::string strLine;
        while (std::getline(lines, strLine)) {
            std::smatch match;
            if (!std::regex_search(strLine, match, optionLine) || match[1] == "-h")
                continue;
            const std::regex described("\\n\\.(B|BI|BR) " + std::string(match[1]) + "([ \\n]|$)");
            EXPECT_TRUE(std::regex_search(strOptionSection, described))
                << pCommand << ": " << match[1] << " is not described under OPTIONS";
        }
    }
    const std::regex depthEight(R"(\n\.BR --depth " 8")");
    EXPECT_TRUE(std::regex_search(strOptionSection, depthEight)) << "rectify's --depth 8";
}

}  // namespace
}  // namespace gridmorph
