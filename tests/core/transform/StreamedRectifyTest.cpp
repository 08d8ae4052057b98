// The command line's rectification makes its output band by band while the encoder writes
// it; the files must be the very bytes of the output made whole first, as the window makes
// it, for every output type, depth, rotation, outside treatment and thread count.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/MappedFile.h"
#include "parallel/Threads.h"
#include "support/FixtureFiles.h"
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
    for (int i = 0; i < 3; ++i) {
        locators.SetLocator(i, aX[i], aY[i]);
        locators.SetMapPosition(i, aE[i], aN[i]);
    }
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
            return SGridAgreement();
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

// A TIFF scan of the given layout holding the picture's pixels: 24-bit as RGB, 8-bit as a
// palette (or, with bGrey, its indices as grey levels).
struct STiffLayoutCase {
    const char* pName;
    int nBitCount;
    bool bGrey;
    int nCompression;
    int nRowsPerStrip;  // 0 with nTileSize: tiles
    int nTileSize;
    int nPredictor;
    int nWidth, nHeight;
};

const std::vector<STiffLayoutCase>& TiffLayouts()
{
    static const std::vector<STiffLayoutCase> s_aLayouts = {
        {"24-bit uncompressed, a row a strip", 24, false, COMPRESSION_NONE, 1, 0, PREDICTOR_NONE, 301, 257},
        {"24-bit uncompressed, one strip", 24, false, COMPRESSION_NONE, 257, 0, PREDICTOR_NONE, 301, 257},
        {"24-bit LZW with the predictor, 16 rows a strip", 24, false, COMPRESSION_LZW, 16, 0, PREDICTOR_HORIZONTAL, 301, 257},
        {"24-bit Deflate, 5 rows a strip", 24, false, COMPRESSION_ADOBE_DEFLATE, 5, 0, PREDICTOR_NONE, 301, 257},
        {"8-bit palette PackBits, 3 rows a strip", 8, false, COMPRESSION_PACKBITS, 3, 0, PREDICTOR_NONE, 301, 257},
        {"8-bit grey LZW in 16-pixel tiles", 8, true, COMPRESSION_LZW, 0, 16, PREDICTOR_NONE, 301, 257},
        {"24-bit uncompressed in 32-pixel tiles", 24, false, COMPRESSION_NONE, 0, 32, PREDICTOR_NONE, 301, 257},
        // Over 8 MB: rows go back in whole 2 MB pieces.
        {"24-bit LZW, a row a strip, large", 24, false, COMPRESSION_LZW, 1, 0, PREDICTOR_NONE, 3001, 1001},
    };
    return s_aLayouts;
}

std::string WriteTiffScan(test::CTempFolder& folder, const STiffLayoutCase& layout, CDIBWorld& picture)
{
    test::MakePatternPicture(picture, layout.nBitCount, layout.nWidth, layout.nHeight);
    test::STiffSpec fixture;
    fixture.nWidth = layout.nWidth;
    fixture.nHeight = layout.nHeight;
    fixture.nSamplesPerPixel = layout.nBitCount / 8;
    fixture.nPhotometric = layout.nBitCount == 24 ? PHOTOMETRIC_RGB : layout.bGrey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
    fixture.nCompression = layout.nCompression;
    fixture.nRowsPerStrip = layout.nRowsPerStrip;
    fixture.nTileSize = layout.nTileSize;
    fixture.nPredictor = layout.nPredictor;
    const std::size_t nRowBytes = std::size_t(layout.nWidth) * fixture.nSamplesPerPixel;
    fixture.aSamples.resize(nRowBytes * layout.nHeight);
    for (int y = 0; y < layout.nHeight; ++y) {
        const std::uint8_t* pRow = picture.StorageRow(layout.nHeight - 1 - y);
        std::uint8_t* pOut = fixture.aSamples.data() + std::size_t(y) * nRowBytes;
        for (int x = 0; x < layout.nWidth; ++x)
            if (layout.nBitCount == 24) {
                pOut[3 * x] = pRow[3 * x + 2];
                pOut[3 * x + 1] = pRow[3 * x + 1];
                pOut[3 * x + 2] = pRow[3 * x];
            } else {
                pOut[x] = pRow[x];
            }
    }
    if (fixture.nPhotometric == PHOTOMETRIC_PALETTE)
        for (int nChannel = 0; nChannel < 3; ++nChannel)
            for (int i = 0; i < 256; ++i) {
                const SRGBQuad& colour = picture.m_pRGBQuad[i];
                const std::uint8_t nValue = nChannel == 0 ? colour.rgbRed : nChannel == 1 ? colour.rgbGreen : colour.rgbBlue;
                fixture.aColourMap.push_back(static_cast<std::uint16_t>(nValue * 257));
            }
    const std::string strPath = folder.Path("scan.tif");
    test::WriteTiff(strPath, fixture);
    return strPath;
}

// A TIFF opened for work that only reads it has its rows read when asked for: asked in any
// order, from several threads at once, handed back and asked for again, every row is the
// row of the picture read whole.
TEST(TiffRowsOnDemand, RowsAskedForInAnyOrderAreTheRowsOfTheWholeRead)
{
    test::CTempFolder folder;
    for (const STiffLayoutCase& layout : TiffLayouts()) {
        CDIBWorld pattern;
        const std::string strScan = WriteTiffScan(folder, layout, pattern);
        // The reference: read whole on one thread, through libtiff's own row reader.
        CDIBWorld whole;
        {
            CScopedThreadCount oneThread(1);
            ASSERT_TRUE(whole.OpenWorld(strScan, false)) << layout.pName;
        }
        ASSERT_EQ(whole.Bitmap()->m_pRowSupply, nullptr) << layout.pName << ": read whole outside a reading scope";
        // Read whole on three threads (compressed strips decoded on all of them): the same.
        {
            CScopedThreadCount threads(3);
            CDIBWorld wholeOnThreads;
            ASSERT_TRUE(wholeOnThreads.OpenWorld(strScan, false)) << layout.pName;
            EXPECT_EQ(wholeOnThreads.Bitmap()->m_pRowSupply, nullptr) << layout.pName;
            EXPECT_TRUE(test::SamePicture(whole, wholeOnThreads)) << layout.pName << ": read whole on threads";
        }
        CDIBWorld onDemand;
        {
            CScopedFileMapping scope;
            ASSERT_TRUE(onDemand.OpenWorld(strScan, false)) << layout.pName;
        }
        const CRowSupply* pRows = onDemand.Bitmap()->m_pRowSupply;
        ASSERT_NE(pRows, nullptr) << layout.pName << ": not read on demand";
        const int nHeight = layout.nHeight;
        const std::size_t nRowBytes = std::size_t(whole.m_nStride);
        auto CheckRows = [&](int nFirst, int nEnd, const char* pWhen) {
            for (int y = nFirst; y < nEnd; ++y)
                ASSERT_TRUE(std::equal(whole.StorageRow(nHeight - 1 - y), whole.StorageRow(nHeight - 1 - y) + nRowBytes,
                                       onDemand.StorageRow(nHeight - 1 - y)))
                    << layout.pName << ", " << pWhen << ": row " << y << " differs";
        };
        // A row copied without being stored is the row; uncompressed rows and strips of one
        // row can always be copied so.
        std::vector<std::uint8_t> aCopy(nRowBytes);
        const bool bCopies = (layout.nCompression == COMPRESSION_NONE && layout.nTileSize == 0) || layout.nRowsPerStrip == 1;
        for (const int y : {0, nHeight / 2, nHeight - 1}) {
            const bool bCopied = pRows->CopyRow(y, aCopy.data());
            EXPECT_EQ(bCopied, bCopies) << layout.pName << ": row " << y;
            if (bCopied) {
                EXPECT_TRUE(std::equal(aCopy.begin(), aCopy.end(), whole.StorageRow(nHeight - 1 - y)))
                    << layout.pName << ": copied row " << y << " differs";
            }
        }
        // Three threads ask for overlapping bands in different orders.
        std::vector<std::thread> aThreads;
        for (int t = 0; t < 3; ++t)
            aThreads.emplace_back([&, t] {
                std::mt19937 random(static_cast<unsigned>(t + 1));
                for (int k = 0; k < 40; ++k) {
                    const int nFirst = static_cast<int>(random() % static_cast<unsigned>(nHeight));
                    pRows->MakeRows(nFirst, std::min(nHeight - nFirst, 1 + static_cast<int>(random() % 40)));
                }
            });
        for (std::thread& thread : aThreads)
            thread.join();
        // Then every row from the bottom up in bands, each band handed back once checked,
        // and every row once more after all were handed back.
        for (int nEnd = nHeight; nEnd > 0; nEnd -= 23) {
            const int nFirst = std::max(0, nEnd - 23);
            pRows->MakeRows(nFirst, nEnd - nFirst);
            CheckRows(nFirst, nEnd, "bottom up");
            pRows->ReleaseRows(nFirst, nEnd - nFirst);
        }
        pRows->MakeAllRows();
        CheckRows(0, nHeight, "all again");
        EXPECT_EQ(pRows->Problem(), "") << layout.pName;
    }
}

// The streamed rectification of a TIFF scan read a band at a time gives the bytes of the
// scan read whole and the output made whole, for every layout, rotation and thread count.
TEST(TiffRowsOnDemand, RectifiedFilesAreTheBytesOfTheScanReadWhole)
{
    test::CTempFolder folder;
    for (const STiffLayoutCase& layout : TiffLayouts()) {
        CDIBWorld pattern;
        const std::string strScan = WriteTiffScan(folder, layout, pattern);
        const int nStep = std::min(layout.nWidth, layout.nHeight) / 70;
        for (const auto& [a, b] : {std::pair{40, 4}, std::pair{32, 32}}) {
            const SStreamCase test{"", layout.nBitCount, layout.nWidth, layout.nHeight, nStep, a, b,
                                   Options(EResampling::Nearest, ENoData::Black)};
            for (const char* pExtension : {".tif", ".bmp", ".png", layout.nBitCount == 24 ? ".jpg" : ".gif"}) {
                SRectifyJob job;
                job.strScan = strScan;
                job.locators = TurnedRectangle(test);
                job.bWholePicture = true;
                job.strOutput = folder.Path(std::string("whole") + pExtension);
                SRectifyResult whole;
                {
                    CScopedThreadCount oneThread(1);  // the scan read through libtiff's row reader
                    whole = RectifyScan(job);
                }
                ASSERT_TRUE(whole.Written()) << layout.pName << pExtension << ": " << whole.strError;
                const std::vector<std::uint8_t> aWhole = test::ReadBytes(job.strOutput);
                for (int nThreads = 1; nThreads <= 3; ++nThreads) {
                    CScopedThreadCount threads(nThreads);
                    job.bWholePicture = false;
                    job.strOutput = folder.Path(std::string("streamed") + pExtension);
                    const SRectifyResult streamed = RectifyScan(job);
                    ASSERT_TRUE(streamed.Written()) << layout.pName << pExtension << ": " << streamed.strError;
                    EXPECT_TRUE(test::ReadBytes(job.strOutput) == aWhole)
                        << layout.pName << ", turned " << a << ":" << b << ", " << pExtension << ", " << nThreads
                        << " threads: the file differs";
                }
            }
        }
    }
}

// A TIFF scan cut short after it was opened, before its rows are read: a clear failure and
// no output, never a crash and never a map made of rows that were not read.
TEST(TiffRowsOnDemand, AScanCutShortBeforeItsRowsAreReadFailsCleanly)
{
    test::CTempFolder folder;
    for (const STiffLayoutCase& layout : {TiffLayouts()[0], TiffLayouts()[2], TiffLayouts()[5]}) {
        CDIBWorld pattern;
        const std::string strScan = WriteTiffScan(folder, layout, pattern);
        const SStreamCase test{"", layout.nBitCount, layout.nWidth, layout.nHeight, std::min(layout.nWidth, layout.nHeight) / 70, 40, 4,
                               Options(EResampling::Nearest, ENoData::Black)};
        SRectifyJob job;
        job.strScan = strScan;
        job.locators = TurnedRectangle(test);
        job.strOutput = folder.Path("out.tif");
        std::filesystem::remove(job.strOutput);
        job.fnLocatorsChecked = [&](const CDIBWorld&, const CLocatorSet&) {
            std::filesystem::resize_file(strScan, std::filesystem::file_size(strScan) / 3);
            return SGridAgreement();
        };
        const SRectifyResult result = RectifyScan(job);
        EXPECT_FALSE(result.Written()) << layout.pName;
        EXPECT_FALSE(std::filesystem::exists(job.strOutput)) << layout.pName;
        EXPECT_NE(result.strError.find("cut short while it was being read"), std::string::npos)
            << layout.pName << ": " << result.strError;
    }
}

// A TIFF scan replaced by another picture after it was opened: the file read for its rows
// is not the one the picture was made for, so the rectification fails with a clear message.
TEST(TiffRowsOnDemand, AScanReplacedBeforeItsRowsAreReadFailsCleanly)
{
    test::CTempFolder folder;
    const STiffLayoutCase& layout = TiffLayouts()[2];  // LZW strips
    CDIBWorld pattern;
    const std::string strScan = WriteTiffScan(folder, layout, pattern);
    const SStreamCase test{"", layout.nBitCount, layout.nWidth, layout.nHeight,
                           std::min(layout.nWidth, layout.nHeight) / 70, 40, 4, Options(EResampling::Nearest, ENoData::Black)};
    SRectifyJob job;
    job.strScan = strScan;
    job.locators = TurnedRectangle(test);
    job.strOutput = folder.Path("out.tif");
    job.fnLocatorsChecked = [&](const CDIBWorld&, const CLocatorSet&) {
        CDIBWorld other;
        test::MakePatternPicture(other, 24, layout.nWidth + 10, layout.nHeight);
        if (other.SaveDIB(folder.Path("other.tif")) != ESaveResult::Written) {
            ADD_FAILURE() << "other.tif was not written";
            return SGridAgreement();
        }
        std::filesystem::rename(folder.Path("other.tif"), strScan);
        return SGridAgreement();
    };
    const SRectifyResult result = RectifyScan(job);
    EXPECT_FALSE(result.Written());
    EXPECT_FALSE(std::filesystem::exists(job.strOutput));
    EXPECT_NE(result.strError.find("The scan changed while it was being read"), std::string::npos) << result.strError;
}

// convert and crop of a TIFF read a band at a time: the bytes of the picture read whole,
// converted or cropped and saved in the same process.
TEST(TiffRowsOnDemand, ConvertAndCropGiveTheBytesOfTheWholeRead)
{
    test::CTempFolder folder;
    for (const STiffLayoutCase& layout : {TiffLayouts()[0], TiffLayouts()[3], TiffLayouts()[5], TiffLayouts()[7]}) {
        CDIBWorld pattern;
        const std::string strScan = WriteTiffScan(folder, layout, pattern);
        CDIBWorld whole;
        {
            CScopedThreadCount oneThread(1);  // read through libtiff's row reader
            ASSERT_TRUE(whole.OpenWorld(strScan, false));
        }
        const int nLeft = layout.nWidth / 5, nTop = layout.nHeight / 3, nWidth = layout.nWidth / 2, nHeight = layout.nHeight / 4;
        CDIBWorld cropped;
        ASSERT_TRUE(cropped.CreateImage(&whole, nWidth, nHeight, 0));
        whole.CropMap(&cropped, nLeft, nTop, nWidth, nHeight, kSrcCopy);
        for (const char* pExtension : {".tif", ".bmp", ".png", layout.nBitCount == 24 ? ".jpg" : ".gif"}) {
            const std::string strWhole = folder.Path(std::string("whole") + pExtension);
            const std::string strCropped = folder.Path(std::string("cropped") + pExtension);
            ASSERT_EQ(whole.SaveDIB(strWhole), ESaveResult::Written);
            ASSERT_EQ(cropped.SaveDIB(strCropped), ESaveResult::Written);
            for (const char* pThreads : {"1", "3"}) {
                const std::string strOut = folder.Path(std::string("out") + pExtension);
                const std::string strPrefix = "GRIDMORPH_THREADS=" + std::string(pThreads) + " " + GRIDMORPH_CLI_PATH;
                test::SCommandResult run = test::RunCommand(strPrefix + " convert '" + strScan + "' '" + strOut + "' 2>&1");
                ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
                EXPECT_TRUE(test::ReadBytes(strOut) == test::ReadBytes(strWhole))
                    << layout.pName << " " << pExtension << " on " << pThreads << " threads: the copy differs";
                run = test::RunCommand(strPrefix + " crop '" + strScan + "' '" + strOut + "' --rect " +
                                       std::to_string(nLeft) + "," + std::to_string(nTop) + "," + std::to_string(nWidth) +
                                       "," + std::to_string(nHeight) + " 2>&1");
                ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
                EXPECT_TRUE(test::ReadBytes(strOut) == test::ReadBytes(strCropped))
                    << layout.pName << " " << pExtension << " on " << pThreads << " threads: the crop differs";
            }
        }
    }
}

}  // namespace
}  // namespace gridmorph
