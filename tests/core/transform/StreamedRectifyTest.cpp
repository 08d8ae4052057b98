// The command line's rectification makes its output band by band while the encoder writes
// it; the files must be the very bytes of the output made whole first, as the window makes
// it, for every output type, depth, rotation, outside treatment and thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "parallel/Threads.h"
#include "support/TestSupport.h"
#include "transform/RectifyJob.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

struct SStreamCase {
    const char* pName;
    int nBitCount;
    int nWidth, nHeight;
    int nStep;  // the grid rectangle's top edge on the scan: (nStep * a, nStep * b) from locator 1
    int a, b;
    STransformOptions options;
};

STransformOptions Options(EResampling eResampling, ENoData eNoData, int nIndex = -1)
{
    STransformOptions options;
    options.eResampling = eResampling;
    options.eNoData = eNoData;
    options.nNoDataIndex = nIndex;
    options.nNoDataRed = 200;
    options.nNoDataGreen = 30;
    options.nNoDataBlue = 90;
    return options;
}

// Locator 1 near the top-left, locator 2 along (a, b), locator 3 three quarters of that
// length down at a right angle: a grid rectangle turned by atan(b / a).
CLocatorSet TurnedRectangle(const SStreamCase& test)
{
    CLocatorSet locators;
    const int x1 = 12 * test.nStep, y1 = 4 * test.nStep;
    const int dx = test.nStep * test.a, dy = test.nStep * test.b;
    const int aX[3] = {x1, x1 + dx, x1 + dx - dy * 3 / 4};
    const int aY[3] = {y1, y1 + dy, y1 + dy + dx * 3 / 4};
    const double dLength = std::sqrt(double(dx) * dx + double(dy) * dy);
    const double aE[3] = {500000.0, 500000.0 + dLength, 500000.0 + dLength};
    const double aN[3] = {4000000.0, 4000000.0, 4000000.0 - dLength * 3 / 4};
    std::copy(aX, aX + 3, locators.m_nLocatorX);
    std::copy(aY, aY + 3, locators.m_nLocatorY);
    std::copy(aE, aE + 3, locators.m_dEasting);
    std::copy(aN, aN + 3, locators.m_dNorthing);
    return locators;
}

struct SOutputType {
    const char* pExtension;
    ETiffCompression eCompression;
    int nOnlyBits;  // 0: any depth
};

TEST(StreamedRectify, FilesAreTheBytesOfTheWholePictureForEveryOutputTypeAndThreadCount)
{
    const std::vector<SStreamCase> aCases = {
        {"straight 24-bit odd width", 24, 67, 71, 1, 40, 0, Options(EResampling::Nearest, ENoData::Black)},
        {"5.7 degrees 8-bit black not index 0", 8, 67, 71, 1, 40, 4, Options(EResampling::Nearest, ENoData::Black)},
        {"24 degrees 24-bit coloured outside", 24, 67, 71, 1, 36, 16, Options(EResampling::Nearest, ENoData::Value)},
        {"45 degrees 8-bit index outside", 8, 67, 71, 1, 32, 32, Options(EResampling::Nearest, ENoData::Value, 7)},
        {"24 degrees 8-bit transparent", 8, 67, 71, 1, 36, 16, Options(EResampling::Nearest, ENoData::Transparent)},
        {"45 degrees 24-bit transparent", 24, 67, 71, 1, 32, 32, Options(EResampling::Nearest, ENoData::Transparent)},
        {"5.7 degrees 8-bit bilinear", 8, 67, 71, 1, 40, 4, Options(EResampling::Bilinear, ENoData::Value)},
        {"24 degrees 24-bit cubic", 24, 67, 71, 1, 36, 16, Options(EResampling::Cubic, ENoData::Black)},
        // Several strip groups and bands: 1 to 3 threads make them in different orders.
        {"large 24-bit 5.7 degrees", 24, 1201, 901, 20, 40, 4, Options(EResampling::Nearest, ENoData::Black)},
        {"large 8-bit 45 degrees", 8, 1001, 1101, 16, 32, 32, Options(EResampling::Nearest, ENoData::Value, 3)},
    };
    const std::vector<SOutputType> aTypes = {{".tif", ETiffCompression::Lzw, 0}, {".tif", ETiffCompression::None, 0},
                                             {".tif", ETiffCompression::Deflate, 0}, {".bmp", ETiffCompression::Lzw, 0},
                                             {".png", ETiffCompression::Lzw, 0}, {".jpg", ETiffCompression::Lzw, 24},
                                             {".gif", ETiffCompression::Lzw, 8}};
    test::CTempFolder folder;
    for (const SStreamCase& test : aCases) {
        CDIBWorld scan;
        test::MakePatternPicture(scan, test.nBitCount, test.nWidth, test.nHeight);
        const std::string strScan = folder.Path("scan.bmp");
        ASSERT_EQ(scan.SaveDIB(strScan), ESaveResult::Written);
        const bool bFullColourOutput = test.nBitCount == 24 || test.options.eResampling != EResampling::Nearest;
        for (const SOutputType& type : aTypes) {
            const int nOutputBits = bFullColourOutput ? 24 : 8;
            if (type.nOnlyBits != 0 && (type.nOnlyBits != nOutputBits || test.options.eNoData == ENoData::Transparent))
                continue;
            SRectifyJob job;
            job.strScan = strScan;
            job.locators = TurnedRectangle(test);
            job.options = test.options;
            job.saveOptions.eTiffCompression = type.eCompression;
            job.bWholePicture = true;
            job.strOutput = folder.Path(std::string("whole") + type.pExtension);
            const SRectifyResult whole = RectifyScan(job);
            ASSERT_TRUE(whole.Written()) << test.pName << type.pExtension << ": " << whole.strError;
            const std::vector<std::uint8_t> aWhole = test::ReadBytes(job.strOutput);
            for (int nThreads = 1; nThreads <= 3; ++nThreads) {
                CScopedThreadCount threads(nThreads);
                job.bWholePicture = false;
                job.strOutput = folder.Path(std::string("streamed") + type.pExtension);
                const SRectifyResult streamed = RectifyScan(job);
                ASSERT_TRUE(streamed.Written()) << test.pName << type.pExtension << ": " << streamed.strError;
                EXPECT_EQ(streamed.nWidth, whole.nWidth);
                EXPECT_EQ(streamed.nHeight, whole.nHeight);
                EXPECT_EQ(streamed.dWest, whole.dWest);
                EXPECT_EQ(streamed.dSouth, whole.dSouth);
                EXPECT_TRUE(test::ReadBytes(job.strOutput) == aWhole)
                    << test.pName << ", " << type.pExtension << " compression " << int(type.eCompression) << ", "
                    << nThreads << " threads: the streamed file differs";
            }
        }
    }
}

// The streamed rectification maps a BMP scan instead of copying it. A scan cut short after
// it was opened must give a clear failure and no output, never a crash and never a map
// made of the zero bytes past its new end; a scan read whole is unaffected.
TEST(StreamedRectify, AScanCutShortWhileMappedFailsCleanlyAndWritesNothing)
{
    test::CTempFolder folder;
    const SStreamCase test{"cut", 24, 1201, 901, 20, 40, 4, Options(EResampling::Nearest, ENoData::Black)};
    struct SCut {
        const char* pExtension;
        bool bWholePicture;
        bool bWritten;
    };
    for (const SCut& cut : {SCut{".tif", false, false}, SCut{".bmp", false, false}, SCut{".png", false, false},
                            SCut{".tif", true, true}}) {
        CDIBWorld scan;
        test::MakePatternPicture(scan, test.nBitCount, test.nWidth, test.nHeight);
        const std::string strScan = folder.Path("scan.bmp");
        ASSERT_EQ(scan.SaveDIB(strScan), ESaveResult::Written);
        SRectifyJob job;
        job.strScan = strScan;
        job.locators = TurnedRectangle(test);
        job.bWholePicture = cut.bWholePicture;
        job.strOutput = folder.Path(std::string("out") + cut.pExtension);
        std::filesystem::remove(job.strOutput);
        // After the scan is opened and before a row is made.
        job.fnLocatorsChecked = [&](const CDIBWorld&, const CLocatorSet&) {
            std::filesystem::resize_file(strScan, 5000);
        };
        const SRectifyResult result = RectifyScan(job);
        EXPECT_EQ(result.Written(), cut.bWritten) << cut.pExtension << ": " << result.strError;
        EXPECT_EQ(std::filesystem::exists(job.strOutput), cut.bWritten) << cut.pExtension;
        if (!cut.bWritten) {
            EXPECT_EQ(result.eFailure, ERectifyFailure::Save);
            EXPECT_NE(result.strError.find("cut short while it was being read"), std::string::npos) << result.strError;
        }
    }
}

// convert without a depth copies a BMP band by band from its mapping: the same bytes as
// the picture read whole and saved, for every output type and thread count.
TEST(StreamedConvert, CopiesAreTheBytesOfTheWholePicture)
{
    test::CTempFolder folder;
    for (const int nBitCount : {8, 24}) {
        CDIBWorld scan;
        test::MakePatternPicture(scan, nBitCount, 1001, 733);
        const std::string strScan = folder.Path("scan.bmp");
        ASSERT_EQ(scan.SaveDIB(strScan), ESaveResult::Written);
        CDIBWorld whole;
        ASSERT_TRUE(whole.OpenWorld(strScan, false));
        for (const char* pExtension : {".tif", ".bmp", ".png", nBitCount == 8 ? ".gif" : ".jpg"}) {
            const std::string strWhole = folder.Path(std::string("whole") + pExtension);
            ASSERT_EQ(whole.SaveDIB(strWhole), ESaveResult::Written);
            for (const char* pThreads : {"1", "2", "3"}) {
                const std::string strCopy = folder.Path(std::string("copy") + pExtension);
                const test::SCommandResult run = test::RunCommand("GRIDMORPH_THREADS=" + std::string(pThreads) + " " +
                                                                  GRIDMORPH_CLI_PATH + " convert '" + strScan + "' '" +
                                                                  strCopy + "' 2>&1");
                ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
                EXPECT_TRUE(test::ReadBytes(strCopy) == test::ReadBytes(strWhole))
                    << nBitCount << "-bit " << pExtension << " on " << pThreads << " threads: the copy differs";
            }
        }
    }
}

}  // namespace
}  // namespace gridmorph
