// The fuzz targets are named in four places besides their build rules: the runner's list
// (scripts/fuzz.sh), the coverage replay's list (fuzz/coverage.sh) and the README (the
// runner's usage line and the fuzz/ folder's row). All of them name every target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace gridmorph {
namespace {

std::string ReadSourceFile(const char* pRelativePath)
{
    std::ifstream stream(std::filesystem::path(GRIDMORPH_SOURCE_DIR) / pRelativePath);
    EXPECT_TRUE(stream) << pRelativePath;
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

// The words of a space-separated list.
std::set<std::string> WordsOf(const std::string& strList)
{
    std::set<std::string> aWords;
    std::istringstream stream(strList);
    for (std::string strWord; stream >> strWord;)
        aWords.insert(strWord);
    return aWords;
}

// The first match's group 1 of a pattern in a text, as a set of words.
std::set<std::string> ListAfter(const std::string& strText, const std::string& strPattern, const char* pWhere)
{
    std::smatch match;
    if (!std::regex_search(strText, match, std::regex(strPattern))) {
        ADD_FAILURE() << pWhere << ": no list matching " << strPattern;
        return {};
    }
    return WordsOf(match[1].str());
}

// The targets the build defines: the decoders' loop and the targets named one by one.
std::set<std::string> BuiltTargets()
{
    const std::string strRules = ReadSourceFile("fuzz/CMakeLists.txt");
    std::set<std::string> aTargets = ListAfter(strRules, R"(foreach\(format ([a-z0-9 ]+)\))", "fuzz/CMakeLists.txt");
    const std::regex single(R"(gridmorph_fuzz_target\(fuzz_([a-z0-9]+) )");
    for (auto it = std::sregex_iterator(strRules.begin(), strRules.end(), single); it != std::sregex_iterator(); ++it)
        aTargets.insert((*it)[1].str());
    return aTargets;
}

TEST(FuzzTargets, EveryListNamesEveryTarget)
{
    const std::set<std::string> aBuilt = BuiltTargets();
    // The decoders and at least the world file reader.
    for (const char* pTarget : {"bmp", "png", "jpg", "tif", "gif", "worldfile"})
        EXPECT_TRUE(aBuilt.count(pTarget)) << pTarget << " is not among the built targets";

    EXPECT_EQ(ListAfter(ReadSourceFile("scripts/fuzz.sh"), R"(\|\| targets=\(([a-z0-9 ]+)\))", "scripts/fuzz.sh"),
              aBuilt)
        << "scripts/fuzz.sh's default list";
    EXPECT_EQ(ListAfter(ReadSourceFile("fuzz/coverage.sh"), R"(for target in ([a-z0-9 ]+); do)", "fuzz/coverage.sh"),
              aBuilt)
        << "fuzz/coverage.sh's list";

    const std::string strReadme = ReadSourceFile("README.md");
    EXPECT_EQ(ListAfter(strReadme, R"(then targets: ([a-z0-9 ]+)\))", "README.md"), aBuilt)
        << "README.md: the fuzz.sh usage line";
    std::smatch row;
    ASSERT_TRUE(std::regex_search(strReadme, row, std::regex(R"(\| `fuzz/` \|[^\n]*)"))) << "README.md: no fuzz/ row";
    for (const std::string& strTarget : aBuilt)
        EXPECT_NE(row.str().find("fuzz_" + strTarget), std::string::npos)
            << "README.md's fuzz/ row does not name fuzz_" << strTarget;
}

}  // namespace
}  // namespace gridmorph
