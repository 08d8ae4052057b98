#include "support/TestSupport.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include <cstdlib>
#include <fstream>
#include <random>

namespace gridmorph::test {

std::vector<std::string> CPlatformTest::MessageTexts() const
{
    std::vector<std::string> aTexts;
    for (const auto& message : m_platform.Messages())
        aTexts.push_back(message.strText);
    return aTexts;
}

SCommandResult RunCommand(const std::string& strCommandLine)
{
    SCommandResult result;
    std::FILE* pPipe = popen(strCommandLine.c_str(), "r");
    if (!pPipe)
        return result;
    char szBuffer[4096];
    std::size_t nRead = 0;
    while ((nRead = std::fread(szBuffer, 1, sizeof szBuffer, pPipe)) > 0)
        result.strOutput.append(szBuffer, nRead);
    const int nStatus = pclose(pPipe);
    result.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return result;
}

CTempFolder::CTempFolder()
{
    std::random_device device;
    m_path = std::filesystem::temp_directory_path() / ("gridmorph-test-" + std::to_string(device()));
    std::filesystem::create_directories(m_path);
}

CTempFolder::~CTempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

CScopedEnvironment::CScopedEnvironment(const char* pName, const char* pValue) : m_strName(pName)
{
    if (const char* pOld = std::getenv(pName)) {
        m_bHadValue = true;
        m_strOldValue = pOld;
    }
    if (pValue)
        setenv(pName, pValue, 1);
    else
        unsetenv(pName);
}

CScopedEnvironment::~CScopedEnvironment()
{
    if (m_bHadValue)
        setenv(m_strName.c_str(), m_strOldValue.c_str(), 1);
    else
        unsetenv(m_strName.c_str());
}

std::vector<std::uint8_t> ReadBytes(const std::string& strPath)
{
    std::ifstream stream(strPath, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(stream), {});
}

void WriteBytes(const std::string& strPath, const std::vector<std::uint8_t>& aBytes)
{
    std::ofstream stream(strPath, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(aBytes.data()), static_cast<std::streamsize>(aBytes.size()));
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> aNames;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        aNames.push_back(entry.path().filename().string());
    std::sort(aNames.begin(), aNames.end());
    return aNames;
}

void MakePatternPicture(CDIBImage& image, int nBitCount, int nWidth, int nHeight)
{
    SRGBQuad aTable[256];
    for (int i = 0; i < 256; ++i)
        aTable[i] = SRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                             static_cast<std::uint8_t>((i * 7) & 255), 0};
    ASSERT_TRUE(image.CreateImage(nBitCount, nWidth, nHeight, FILL_NONE, 0, 0, 0, nBitCount == 8 ? aTable : nullptr));
    const int nStep = nBitCount / 8;
    for (int nRow = 0; nRow < nHeight; ++nRow) {
        std::uint8_t* pPixel = image.StorageRow(nRow);
        for (int x = 0; x < nWidth; ++x)
            for (int c = 0; c < nStep; ++c)
                *pPixel++ = static_cast<std::uint8_t>((x * 3 + nRow * 5 + c * 71) & 255);
    }
}

::testing::AssertionResult SamePicture(const CDIBImage& expected, const CDIBImage& actual)
{
    if (expected.m_nImageWidth != actual.m_nImageWidth || expected.m_nImageHeight != actual.m_nImageHeight ||
        expected.m_nBitCount != actual.m_nBitCount)
        return ::testing::AssertionFailure()
               << "size/depth " << actual.m_nImageWidth << "x" << actual.m_nImageHeight << "x" << actual.m_nBitCount
               << ", expected " << expected.m_nImageWidth << "x" << expected.m_nImageHeight << "x"
               << expected.m_nBitCount;
    const std::size_t nRowBytes = (static_cast<std::size_t>(expected.m_nImageWidth) * expected.m_nBitCount + 7) / 8;
    for (int nRow = 0; nRow < expected.m_nImageHeight; ++nRow) {
        const std::uint8_t* pExpected = expected.StorageRow(nRow);
        const std::uint8_t* pActual = actual.StorageRow(nRow);
        for (std::size_t i = 0; i < nRowBytes; ++i)
            if (pExpected[i] != pActual[i])
                return ::testing::AssertionFailure() << "storage row " << nRow << " byte " << i << ": "
                                                     << int(pActual[i]) << ", expected " << int(pExpected[i]);
    }
    if (expected.m_nBitCount <= 8) {
        const int nEntries = 1 << expected.m_nBitCount;
        for (int i = 0; i < nEntries; ++i)
            if (!(expected.m_pRGBQuad[i] == actual.m_pRGBQuad[i]))
                return ::testing::AssertionFailure() << "colour table entry " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace gridmorph::test
