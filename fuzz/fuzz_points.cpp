// Locator files (.points): read from a file as rectify reads them, and every text that
// reads gives locators that are written and read back unchanged.
#include <cstdlib>

#include "FuzzSupport.h"
#include "transform/PointsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    using namespace gridmorph;
    fuzz::QuietPlatform();
    static const std::string s_strPath = fuzz::ScratchPath(".points");
    fuzz::WriteScratch(s_strPath, pData, nSize);
    CLocatorSet locators;
    std::string strProblem;
    if (!ReadPointsFile(s_strPath, locators, strProblem)) {
        if (strProblem.empty() || strProblem.size() > 400)
            std::abort();  // every refusal says why, briefly
        return 0;
    }
    CLocatorSet again;
    if (!ParsePointsText(FormatPointsText(locators, ""), again, strProblem))
        std::abort();
    for (int i = 0; i < 3; ++i)
        if (again.LocatorX(i) != locators.LocatorX(i) || again.LocatorY(i) != locators.LocatorY(i))
            std::abort();
    return 0;
}
