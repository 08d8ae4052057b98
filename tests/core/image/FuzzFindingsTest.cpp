// Every input the fuzzers found a fault with, opened as the program opens it: each must
// fail cleanly (or open), with no crash, no giant allocation and no leak.
#include <gtest/gtest.h>

#include <filesystem>

#include "errors/ErrorText.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

class FuzzFindingsTest : public test::CPlatformTest {};

TEST_F(FuzzFindingsTest, EveryFindingFailsCleanly)
{
    int nFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(GRIDMORPH_FUZZ_FINDINGS_DIR)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++nFiles;
        CDIBWorld image;
        if (image.OpenWorld(entry.path().string(), false))
            continue;
        EXPECT_TRUE(image.m_nErrorNumber == ERR_LOAD_FAILED || image.m_nErrorNumber == ERR_OUT_OF_MEMORY)
            << image.GetErrorMessage();
        EXPECT_FALSE(image.HasImage());
    }
    EXPECT_GT(nFiles, 0);
}

TEST_F(FuzzFindingsTest, ATiffWithTensOfThousandsOfSamplesPerPixelIsRefused)
{
    CDIBWorld image;
    EXPECT_FALSE(image.OpenDIB(std::string(GRIDMORPH_FUZZ_FINDINGS_DIR) + "/tif-samples-per-pixel-oom.tif"));
    EXPECT_EQ(image.m_nErrorNumber, ERR_LOAD_FAILED);
    EXPECT_NE(image.m_strErrorText.find("samples per pixel"), std::string::npos) << image.m_strErrorText;
}

}  // namespace
}  // namespace gridmorph
