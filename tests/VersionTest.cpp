// One version: the README names the version the build gives both programs and the package
// (the CMake project version), so a reader's commands match the file they get.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace gridmorph {
namespace {

TEST(Version, TheReadmeNamesTheProjectVersion)
{
    std::ifstream stream(std::filesystem::path(GRIDMORPH_SOURCE_DIR) / "README.md");
    ASSERT_TRUE(stream);
    std::stringstream text;
    text << stream.rdbuf();
    const std::string strText = text.str();
    // The package file name (gridmorph_VERSION_ARCH.deb) and "Gridmorph VERSION" both carry it.
    const std::regex mention(R"(gridmorph_([0-9][0-9A-Za-z.+~-]*)_|Gridmorph ([0-9]+\.[0-9]+\.[0-9][0-9A-Za-z.+~-]*))");
    int nMentions = 0;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), mention); it != std::sregex_iterator(); ++it) {
        const std::string strVersion = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
        EXPECT_EQ(strVersion, GRIDMORPH_VERSION) << "README.md: " << it->str();
        ++nMentions;
    }
    EXPECT_GE(nMentions, 1) << "README.md names no version";
}

}  // namespace
}  // namespace gridmorph
