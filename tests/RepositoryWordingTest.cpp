// The sources and documents speak as this program's own: they explain behaviour in their
// own words and never point at a written description of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace gridmorph {
namespace {

TEST(RepositoryWording, NoTextPointsAtAWrittenDescription)
{
    // Built from pieces so that this file does not match itself. One of the program's own
    // messages (the one for a file name without a known type) uses the word, and stays allowed.
    const std::string strPattern = std::string("\\bspec") + "s?\\b|specific" + "ation(?! error in file name)|" +
                                   "as (it is )?descr" + "ibed|the descr" + "ibed|\\bPart [0-9]+\\.[0-9]";
    const std::regex pattern(strPattern, std::regex::icase | std::regex::ECMAScript);
    const std::filesystem::path root = GRIDMORPH_SOURCE_DIR;
    std::vector<std::filesystem::path> aFiles = {root / "README.md", root / "CMakeLists.txt", root / "run",
                                                 root / "test"};
    for (const char* pFolder : {"src", "tests", "docs", "bench", "fuzz", "tools", "scripts"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / pFolder)) {
            const std::string strExtension = entry.path().extension().string();
            if (entry.is_regular_file() && entry.path().string().find("/tests/data/") == std::string::npos &&
                (strExtension == ".cpp" || strExtension == ".h" || strExtension == ".md" || strExtension == ".txt" ||
                 strExtension == ".sh" || strExtension == ".py" || strExtension == ".dict" || strExtension.empty()))
                aFiles.push_back(entry.path());
        }
    }
    int nChecked = 0;
    for (const std::filesystem::path& file : aFiles) {
        std::ifstream stream(file);
        if (!stream)
            continue;
        ++nChecked;
        std::string strLine;
        for (int nLine = 1; std::getline(stream, strLine); ++nLine) {
            std::smatch match;
            if (std::regex_search(strLine, match, pattern))
                ADD_FAILURE() << file.string() << ":" << nLine << ": \"" << match.str() << "\" in: " << strLine;
        }
    }
    EXPECT_GT(nChecked, 50);
}

}  // namespace
}  // namespace gridmorph
