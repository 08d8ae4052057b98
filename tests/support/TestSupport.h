#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/DIBImage.h"
#include "platform/ScriptedPlatform.h"

namespace gridmorph::test {

// Installs a scripted platform for one test and fails the test on anything the script
// did not foresee (a question without an answer, a dialog without a result).
class CPlatformTest : public ::testing::Test {
protected:
    CPlatformTest() : m_installed(m_platform) {}
    void TearDown() override
    {
        for (const std::string& strFailure : m_platform.Failures())
            ADD_FAILURE() << strFailure;
        EXPECT_EQ(m_platform.UnusedScript(), 0u) << "scripted answers were never asked for";
    }
    // The texts of the message boxes shown so far.
    std::vector<std::string> MessageTexts() const;

    CScriptedPlatform m_platform;

private:
    CScopedPlatform m_installed;
};

// A folder of its own for one test, removed afterwards.
class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    std::string Path(const std::string& strName) const { return (m_path / strName).string(); }
    const std::filesystem::path& Root() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable (or removes it, given nullptr) for the life of the object
// and then puts back what was there before, also when an assertion ends the test early.
class CScopedEnvironment {
public:
    CScopedEnvironment(const char* pName, const char* pValue);
    ~CScopedEnvironment();
    CScopedEnvironment(const CScopedEnvironment&) = delete;
    CScopedEnvironment& operator=(const CScopedEnvironment&) = delete;

private:
    std::string m_strName;
    bool m_bHadValue = false;
    std::string m_strOldValue;
};

// Runs a shell command line (through popen): its exit code (-1 when it did not exit) and
// what it wrote on standard output; add 2>&1 to the line to have standard error too.
struct SCommandResult {
    int nExitCode = -1;
    std::string strOutput;
};
SCommandResult RunCommand(const std::string& strCommandLine);

std::vector<std::uint8_t> ReadBytes(const std::string& strPath);
void WriteBytes(const std::string& strPath, const std::vector<std::uint8_t>& aBytes);
// The names in a folder (hidden ones too), sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

// A picture of the given depth whose pixels follow a pattern that tells every pixel
// apart, with a colour table that tells every entry apart (for indexed depths).
void MakePatternPicture(CDIBImage& image, int nBitCount, int nWidth, int nHeight);

// Whether two pictures have the same size, depth, pixels (padding ignored) and, for
// indexed depths, the same colour table. The message says where they differ.
::testing::AssertionResult SamePicture(const CDIBImage& expected, const CDIBImage& actual);

}  // namespace gridmorph::test
