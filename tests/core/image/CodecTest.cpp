// Every format's round trip, the oddities real writers produce, and damaged files.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "image/codecs/CodecCommon.h"
#include "image/codecs/TiffStripWriter.h"
#include "parallel/Threads.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using namespace gridmorph::test;

class CodecTest : public CPlatformTest {
protected:
    CTempFolder m_folder;
};

TEST_F(CodecTest, RoundTripsKeepPixelsAndColourTablesExactly)
{
    struct SCase {
        const char* pExtension;
        int nBits;
    };
    const SCase aCases[] = {{"bmp", 8}, {"bmp", 24}, {"bmp", 32}, {"png", 8}, {"png", 24}, {"png", 32},
                            {"tif", 8}, {"tif", 24}, {"tif", 32}, {"gif", 8}};
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(std::string(aCase.pExtension) + " " + std::to_string(aCase.nBits));
        CDIBImage original;
        MakePatternPicture(original, aCase.nBits, 37, 23);  // odd width: rows carry padding
        if (aCase.nBits == 32)  // alpha varies too
            for (int nRow = 0; nRow < 23; ++nRow)
                for (int x = 0; x < 37; ++x)
                    original.StorageRow(nRow)[4 * x + 3] = static_cast<std::uint8_t>(x * 7 + nRow);
        const std::string strPath = m_folder.Path(std::string("round.") + aCase.pExtension);
        original.SaveDIB(strPath);
        ASSERT_EQ(original.m_nErrorNumber, 0) << original.GetErrorMessage();
        CDIBImage reopened;
        ASSERT_TRUE(reopened.OpenDIB(strPath)) << reopened.GetErrorMessage();
        EXPECT_TRUE(SamePicture(original, reopened));
    }
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(CodecTest, JpegRoundTripStaysWithinTheQualityOfItsEncoder)
{
    // A smooth picture, as a scanned map is between its lines; quality 75 keeps it
    // within a few levels (the tolerance is the encoder's loss, not ours).
    CDIBImage original;
    ASSERT_TRUE(original.CreateImage(24, 64, 48, FILL_BLACK, 0, 0, 0, nullptr));
    for (int nRow = 0; nRow < 48; ++nRow)
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = original.StorageRow(nRow) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 3);
            p[1] = static_cast<std::uint8_t>(nRow * 4);
            p[2] = static_cast<std::uint8_t>(128 + (x - nRow) / 2);
        }
    original.SaveDIB(m_folder.Path("smooth.jpg"));
    CDIBImage reopened;
    ASSERT_TRUE(reopened.OpenDIB(m_folder.Path("smooth.jpg")));
    ASSERT_EQ(reopened.m_nBitCount, 24);
    int nLargest = 0;
    long nTotal = 0;
    for (int nRow = 0; nRow < 48; ++nRow)
        for (int i = 0; i < 64 * 3; ++i) {
            const int nDifference = std::abs(original.StorageRow(nRow)[i] - reopened.StorageRow(nRow)[i]);
            nLargest = std::max(nLargest, nDifference);
            nTotal += nDifference;
        }
    EXPECT_LE(nLargest, 8);
    EXPECT_LE(double(nTotal) / (64 * 48 * 3), 1.5);
}

// Rows of a 4-bit and a 1-bit bitmap, bottom-up, padded.
SBmpSpec IndexedBmp(int nBits)
{
    SBmpSpec fixture;
    fixture.nWidth = 5;
    fixture.nHeight = 2;
    fixture.nBitCount = nBits;
    const int nEntries = 1 << nBits;
    for (int i = 0; i < nEntries; ++i)
        fixture.aTable.insert(fixture.aTable.end(), {std::uint8_t(i * 9), std::uint8_t(200 - i), std::uint8_t(i * 3), 0});
    fixture.aPixels = nBits == 4 ? std::vector<std::uint8_t>{0x01, 0x23, 0x40, 0, 0xFE, 0xDC, 0xB0, 0}
                              : std::vector<std::uint8_t>{0xA8, 0, 0, 0, 0x50, 0, 0, 0};
    return fixture;
}

TEST_F(CodecTest, IndexedPicturesKeepTheirDepthThroughEveryLosslessFormat)
{
    for (int nBits : {1, 4}) {
        WriteBytes(m_folder.Path("indexed.bmp"), BuildBmp(IndexedBmp(nBits)));
        CDIBImage original;
        ASSERT_TRUE(original.OpenDIB(m_folder.Path("indexed.bmp")));
        ASSERT_EQ(original.m_nBitCount, nBits);
        // Entries past the file's table are white.
        EXPECT_EQ(original.m_pRGBQuad[1 << nBits], (SRGBQuad{255, 255, 255, 0}));
        for (const char* pExtension : {"png", "tif", "bmp"}) {
            SCOPED_TRACE(std::to_string(nBits) + "-bit " + pExtension);
            const std::string strPath = m_folder.Path(std::string("copy.") + pExtension);
            original.SaveDIB(strPath);
            CDIBImage reopened;
            ASSERT_TRUE(reopened.OpenDIB(strPath)) << reopened.GetErrorMessage();
            EXPECT_TRUE(SamePicture(original, reopened));
        }
    }
}

// One oddity: a file made in code and what the picture must look like after opening.
struct SOddity {
    const char* pName;
    std::function<void(const std::string&)> fnWrite;
    int nBits;
    std::function<void(const CDIBImage&)> fnCheck;
};

// Blue, green, red (and alpha) of a pixel at (x, picture row y counted from the top).
std::vector<int> PixelAt(const CDIBImage& image, int x, int y)
{
    const std::uint8_t* p = image.StorageRow(image.m_nImageHeight - 1 - y) + x * (image.m_nBitCount / 8);
    std::vector<int> a(p, p + image.m_nBitCount / 8);
    return a;
}

std::vector<std::uint8_t> Ramp(std::size_t nCount, int nStep = 1)
{
    std::vector<std::uint8_t> a(nCount);
    for (std::size_t i = 0; i < nCount; ++i)
        a[i] = static_cast<std::uint8_t>(i * nStep);
    return a;
}

TEST_F(CodecTest, RealWorldOdditiesOpenAsTheyShould)
{
    const std::vector<SOddity> aOddities = {
        {"bmp-rle8",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 7;
             s.nHeight = 3;
             s.nCompression = 1;
             s.aTable = {0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};
             s.nColoursUsed = 4;
             // row 0: 4 x colour 1, then absolute 3 2 1 (padded); end of line; a delta
             // skips row 1 to (2, 2); 2 x colour 3; end of bitmap
             s.aPixels = {4, 1, 0, 3, 3, 2, 1, 0, 0, 0, 0, 2, 2, 1, 2, 3, 0, 1};
             WriteBytes(p, BuildBmp(s));
         },
         8,
         [](const CDIBImage& i) {
             EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 7), (std::vector<int>{1, 1, 1, 1, 3, 2, 1}));
             EXPECT_EQ(std::vector<int>(i.StorageRow(1), i.StorageRow(1) + 7), (std::vector<int>{0, 0, 0, 0, 0, 0, 0}));
             EXPECT_EQ(std::vector<int>(i.StorageRow(2), i.StorageRow(2) + 7), (std::vector<int>{0, 0, 3, 3, 0, 0, 0}));
         }},
        {"bmp-rle4",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 5;
             s.nHeight = 1;
             s.nBitCount = 4;
             s.nCompression = 2;
             s.nColoursUsed = 16;
             s.aTable = Ramp(64, 3);
             s.aPixels = {3, 0x12, 2, 0x9A, 0, 1};  // 1 2 1, then 9 A, end of bitmap
             WriteBytes(p, BuildBmp(s));
         },
         4, [](const CDIBImage& i) { EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 3), (std::vector<int>{0x12, 0x19, 0xA0})); }},
        {"bmp-rle8-runs-into-the-row-padding",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 5;  // rows of 8 bytes
             s.nHeight = 2;
             s.nCompression = 1;
             s.nColoursUsed = 4;
             s.aTable = Ramp(16, 20);
             // row 0: 8 x colour 1, the whole padded row; row 1: absolute 1 2 3 1 2 3 0 3,
             // also the whole padded row; end of bitmap
             s.aPixels = {8, 1, 0, 0, 0, 8, 1, 2, 3, 1, 2, 3, 0, 3, 0, 1};
             WriteBytes(p, BuildBmp(s));
         },
         8,
         [](const CDIBImage& i) {
             // The pixels past the width are dropped: the padding stays as the picture was made.
             EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 8), (std::vector<int>{1, 1, 1, 1, 1, 0, 0, 0}));
             EXPECT_EQ(std::vector<int>(i.StorageRow(1), i.StorageRow(1) + 8), (std::vector<int>{1, 2, 3, 1, 2, 0, 0, 0}));
         }},
        {"bmp-rle4-odd-width-in-pixel-pairs",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 3;
             s.nHeight = 2;
             s.nBitCount = 4;
             s.nCompression = 2;
             s.nColoursUsed = 16;
             s.aTable = Ramp(64, 3);
             // row 0: a run of 4 (1 2 1 2); end of line; a delta to (1, 1); an absolute run
             // of 4 (3 4 5 6), ending in the padding; end of bitmap
             s.aPixels = {4, 0x12, 0, 0, 0, 2, 1, 0, 0, 4, 0x34, 0x56, 0, 1};
             WriteBytes(p, BuildBmp(s));
         },
         4,
         [](const CDIBImage& i) {
             EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 4), (std::vector<int>{0x12, 0x10, 0, 0}));
             EXPECT_EQ(std::vector<int>(i.StorageRow(1), i.StorageRow(1) + 4), (std::vector<int>{0x03, 0x40, 0, 0}));
         }},
        {"bmp-565-bitfields-stays-16-bit-and-widens-to-full-range",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 2;
             s.nHeight = 1;
             s.nBitCount = 16;
             s.nCompression = 3;
             s.aMasks = {0xF800, 0x07E0, 0x001F};
             s.aPixels = {0x1F, 0x00, 0x00, 0xF8};  // pure blue, pure red
             WriteBytes(p, BuildBmp(s));
         },
         16,
         [this](const CDIBImage& i) {
             const_cast<CDIBImage&>(i).SaveDIB(m_folder.Path("wide.png"));
             CDIBImage wide;
             ASSERT_TRUE(wide.OpenDIB(m_folder.Path("wide.png")));
             EXPECT_EQ(PixelAt(wide, 0, 0), (std::vector<int>{255, 0, 0}));
             EXPECT_EQ(PixelAt(wide, 1, 0), (std::vector<int>{0, 0, 255}));
         }},
        {"bmp-16-bit-10-bit-red-widens-alike-when-saved-and-block-copied",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 1;
             s.nHeight = 1;
             s.nBitCount = 16;
             s.nCompression = 3;
             s.aMasks = {0xFFC0, 0x0038, 0x0007};  // red 10 bits, green and blue 3
             s.aPixels = {0xF8, 0x00, 0, 0};        // red 3 of 1023 (0.75 of a level), green full, blue 0
             WriteBytes(p, BuildBmp(s));
         },
         16,
         [this](const CDIBImage& i) {
             const std::vector<int> aNearest = {0, 255, 1};  // blue, green, red
             const_cast<CDIBImage&>(i).SaveDIB(m_folder.Path("ten.png"));
             CDIBImage saved;
             ASSERT_TRUE(saved.OpenDIB(m_folder.Path("ten.png")));
             EXPECT_EQ(PixelAt(saved, 0, 0), aNearest);
             CDIBImage copied;
             ASSERT_TRUE(copied.CreateImage(24, 1, 1, FILL_WHITE, 0, 0, 0, nullptr));
             ASSERT_TRUE(const_cast<CDIBImage&>(i).BitBlt(copied, 0, 0, 0, 0, 1, 1, kSrcCopy));
             EXPECT_EQ(PixelAt(copied, 0, 0), aNearest);
         }},
        {"bmp-top-down-24",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 1;
             s.nHeight = -2;
             s.nBitCount = 24;
             s.aPixels = {1, 2, 3, 0, 4, 5, 6, 0};  // first row in the file is the top
             WriteBytes(p, BuildBmp(s));
         },
         24, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 0, 0), (std::vector<int>{1, 2, 3})); }},
        {"bmp-v5-32-with-alpha",
         [](const std::string& p) {
             SBmpSpec s;
             s.nHeaderSize = 124;
             s.nWidth = 1;
             s.nHeight = 1;
             s.nBitCount = 32;
             s.nCompression = 3;
             s.aMasks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
             s.aPixels = {10, 20, 30, 40};
             WriteBytes(p, BuildBmp(s));
         },
         32, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 0, 0), (std::vector<int>{10, 20, 30, 40})); }},
        {"bmp-32-without-alpha-is-opaque",
         [](const std::string& p) {
             SBmpSpec s;
             s.nWidth = 1;
             s.nHeight = 1;
             s.nBitCount = 32;
             s.aPixels = {10, 20, 30, 0};
             WriteBytes(p, BuildBmp(s));
         },
         32, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 0, 0), (std::vector<int>{10, 20, 30, 255})); }},
        {"bmp-os2-core-header",
         [](const std::string& p) {
             SBmpSpec s;
             s.nHeaderSize = 12;
             s.nWidth = 2;
             s.nHeight = 1;
             s.nBitCount = 1;
             s.aTable = {1, 2, 3, 4, 5, 6};  // three bytes per entry
             s.aPixels = {0x40, 0, 0, 0};
             WriteBytes(p, BuildBmp(s));
         },
         1,
         [](const CDIBImage& i) {
             EXPECT_EQ(i.m_pRGBQuad[1], (SRGBQuad{4, 5, 6, 0}));
             EXPECT_EQ(i.StorageRow(0)[0], 0x40);
         }},
        {"png-interlaced-rgb",
         [](const std::string& p) {
             SPngSpec s{9, 7, 8, PNG_COLOR_TYPE_RGB, true, {}, {}, {}};
             for (int y = 0; y < 7; ++y)
                 s.aRows.push_back(Ramp(27, y + 1));
             WritePng(p, s);
         },
         24, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 2, 3), (std::vector<int>{(8 * 4) & 255, (7 * 4) & 255, (6 * 4) & 255})); }},
        {"png-palette-with-trns-stays-8-bit-with-its-colour-table",
         [](const std::string& p) {
             SPngSpec s{2, 1, 8, PNG_COLOR_TYPE_PALETTE, false, {10, 20, 30, 40, 50, 60}, {0, 255}, {{1, 0}}};
             WritePng(p, s);
         },
         8,
         [](const CDIBImage& i) {
             EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 2), (std::vector<int>{1, 0}));
             EXPECT_EQ(i.m_pRGBQuad[0], (SRGBQuad{30, 20, 10, 0}));  // the transparent entry keeps its colour
             EXPECT_EQ(i.m_pRGBQuad[1], (SRGBQuad{60, 50, 40, 0}));
         }},
        {"png-grey-16-bit-keeps-the-high-byte",
         [](const std::string& p) {
             SPngSpec s{2, 1, 16, PNG_COLOR_TYPE_GRAY, false, {}, {}, {{0x34, 0x12, 0xFF, 0xAB}}};
             WritePng(p, s);
         },
         8,
         [](const CDIBImage& i) {
             EXPECT_EQ(i.StorageRow(0)[0], 0x12);
             EXPECT_EQ(i.StorageRow(0)[1], 0xAB);
             EXPECT_EQ(i.m_pRGBQuad[0x12], (SRGBQuad{0x12, 0x12, 0x12, 0}));
         }},
        {"png-2-bit-palette-widens-to-8",
         [](const std::string& p) {
             SPngSpec s{4, 1, 2, PNG_COLOR_TYPE_PALETTE, false, Ramp(12, 20), {}, {{0x1B}}};  // 0 1 2 3
             WritePng(p, s);
         },
         8, [](const CDIBImage& i) { EXPECT_EQ(std::vector<int>(i.StorageRow(0), i.StorageRow(0) + 4), (std::vector<int>{0, 1, 2, 3})); }},
        {"jpeg-progressive-grey",
         [](const std::string& p) { WriteJpeg(p, SJpegSpec{16, 16, 1, true, 95, std::vector<std::uint8_t>(256, 90)}); },
         8,
         [](const CDIBImage& i) {
             EXPECT_NEAR(i.StorageRow(5)[5], 90, 2);
             EXPECT_EQ(i.m_pRGBQuad[200], (SRGBQuad{200, 200, 200, 0}));
         }},
        {"jpeg-adobe-cmyk",
         [](const std::string& p) {
             // Inverted CMYK as Adobe writes it: no ink in cyan (255), full magenta (0)... gives red.
             std::vector<std::uint8_t> a;
             for (int n = 0; n < 64; ++n)
                 a.insert(a.end(), {255, 0, 0, 255});
             WriteJpeg(p, SJpegSpec{8, 8, 4, false, 100, a});
         },
         24,
         [](const CDIBImage& i) {
             const std::vector<int> a = PixelAt(i, 3, 3);
             EXPECT_NEAR(a[2], 255, 3);  // red
             EXPECT_NEAR(a[1], 0, 3);
             EXPECT_NEAR(a[0], 0, 3);
         }},
        {"tiff-tiled-rgb-lzw",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 20;
             s.nHeight = 18;
             s.nCompression = COMPRESSION_LZW;
             s.nTileSize = 16;
             s.aSamples = Ramp(20 * 18 * 3);
             WriteTiff(p, s);
         },
         24,
         [](const CDIBImage& i) {
             const int n = (17 * 20 + 19) * 3;  // bottom-right pixel, in the partial tile
             EXPECT_EQ(PixelAt(i, 19, 17), (std::vector<int>{(n + 2) & 255, (n + 1) & 255, n & 255}));
         }},
        {"tiff-miniswhite-1-bit-deflate",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 8;
             s.nHeight = 2;
             s.nBitsPerSample = 1;
             s.nSamplesPerPixel = 1;
             s.nPhotometric = PHOTOMETRIC_MINISWHITE;
             s.nCompression = COMPRESSION_ADOBE_DEFLATE;
             s.aSamples = {0x80, 0x01};
             WriteTiff(p, s);
         },
         8,
         [](const CDIBImage& i) {
             EXPECT_EQ(PixelAt(i, 0, 0)[0], 0);    // a set bit is black
             EXPECT_EQ(PixelAt(i, 1, 0)[0], 255);
             EXPECT_EQ(PixelAt(i, 7, 1)[0], 0);
         }},
        {"tiff-palette-4-bit-packbits-with-8-bit-colour-map",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 3;
             s.nHeight = 1;
             s.nBitsPerSample = 4;
             s.nSamplesPerPixel = 1;
             s.nPhotometric = PHOTOMETRIC_PALETTE;
             s.nCompression = COMPRESSION_PACKBITS;
             for (int c = 0; c < 3; ++c)
                 for (int i = 0; i < 16; ++i)
                     s.aColourMap.push_back(static_cast<std::uint16_t>(i * 10 + c));  // an old writer's 8-bit map
             s.aSamples = {0x5F, 0x20};
             WriteTiff(p, s);
         },
         4,
         [](const CDIBImage& i) {
             EXPECT_EQ(i.StorageRow(0)[0], 0x5F);
             EXPECT_EQ(i.m_pRGBQuad[5], (SRGBQuad{52, 51, 50, 0}));
         }},
        {"tiff-rgba-16-bit",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 1;
             s.nHeight = 1;
             s.nBitsPerSample = 16;
             s.nSamplesPerPixel = 4;
             s.bAlpha = true;
             const std::uint16_t a[] = {0x1100, 0x2200, 0x3300, 0x4400};
             s.aSamples.resize(8);
             std::memcpy(s.aSamples.data(), a, 8);
             WriteTiff(p, s);
         },
         32, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 0, 0), (std::vector<int>{0x33, 0x22, 0x11, 0x44})); }},
        {"tiff-planar-separate-rgb",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 5;
             s.nHeight = 6;
             s.bPlanarSeparate = true;
             s.aSamples = Ramp(5 * 6 * 3, 2);
             WriteTiff(p, s);
         },
         24, [](const CDIBImage& i) { EXPECT_EQ(PixelAt(i, 4, 5), (std::vector<int>{(89 * 2) & 255, (88 * 2) & 255, (87 * 2) & 255})); }},
        {"tiff-jpeg-ycbcr",
         [](const std::string& p) {
             STiffSpec s;
             s.nWidth = 16;
             s.nHeight = 16;
             s.nCompression = COMPRESSION_JPEG;
             for (int n = 0; n < 256; ++n)
                 s.aSamples.insert(s.aSamples.end(), {200, 100, 50});
             WriteTiff(p, s);
         },
         24,
         [](const CDIBImage& i) {
             const std::vector<int> a = PixelAt(i, 8, 8);
             EXPECT_NEAR(a[2], 200, 4);
             EXPECT_NEAR(a[1], 100, 4);
             EXPECT_NEAR(a[0], 50, 4);
         }},
        {"gif-interlaced-frame-with-local-table-on-a-larger-screen",
         [](const std::string& p) {
             SGifSpec s;
             s.nScreenWidth = 6;
             s.nScreenHeight = 12;
             s.nBackground = 1;
             s.nLeft = 2;
             s.nTop = 1;
             s.nWidth = 3;
             s.nHeight = 10;
             s.bInterlaced = true;
             s.bLocalTable = true;
             s.aTable = Ramp(12, 21);
             for (int y = 0; y < 10; ++y)
                 s.aPixels.insert(s.aPixels.end(), {std::uint8_t(y % 4), 2, 3});
             WriteGif(p, s);
         },
         8,
         [](const CDIBImage& i) {
             EXPECT_EQ(PixelAt(i, 0, 0)[0], 1);  // background
             EXPECT_EQ(PixelAt(i, 2, 1)[0], 0);
             EXPECT_EQ(PixelAt(i, 2, 4)[0], 3);  // frame row 3
             EXPECT_EQ(PixelAt(i, 2, 10)[0], 1);  // frame row 9
             EXPECT_EQ(PixelAt(i, 5, 11)[0], 1);
             EXPECT_EQ(i.m_pRGBQuad[3], (SRGBQuad{231, 210, 189, 0}));  // red 189, green 210, blue 231
         }},
    };
    for (const SOddity& oddity : aOddities) {
        SCOPED_TRACE(oddity.pName);
        const std::string strPath = m_folder.Path(std::string(oddity.pName) +
                                                  (std::string(oddity.pName).rfind("bmp", 0) == 0   ? ".bmp"
                                                   : std::string(oddity.pName).rfind("png", 0) == 0 ? ".png"
                                                   : std::string(oddity.pName).rfind("jpeg", 0) == 0 ? ".jpg"
                                                   : std::string(oddity.pName).rfind("tiff", 0) == 0 ? ".tif"
                                                                                                     : ".gif"));
        oddity.fnWrite(strPath);
        CDIBImage image;
        ASSERT_TRUE(image.OpenDIB(strPath)) << image.GetErrorMessage();
        EXPECT_EQ(image.m_nBitCount, oddity.nBits);
        oddity.fnCheck(image);
    }
}

}  // namespace
}  // namespace gridmorph

namespace gridmorph {
namespace {

using namespace gridmorph::test;

// A PNG that declares any size, with no pixel data at all.
std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t nWidth, std::uint32_t nHeight, std::uint8_t nColourType,
                                        bool bWithSomeData = false)
{
    std::vector<std::uint8_t> a = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto Chunk = [&a](const char* pType, const std::vector<std::uint8_t>& aData) {
        const std::uint32_t n = static_cast<std::uint32_t>(aData.size());
        a.insert(a.end(), {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
        std::vector<std::uint8_t> aBody(pType, pType + 4);
        aBody.insert(aBody.end(), aData.begin(), aData.end());
        const uLong nCrc = crc32(0, aBody.data(), static_cast<uInt>(aBody.size()));
        a.insert(a.end(), aBody.begin(), aBody.end());
        a.insert(a.end(), {std::uint8_t(nCrc >> 24), std::uint8_t(nCrc >> 16), std::uint8_t(nCrc >> 8), std::uint8_t(nCrc)});
    };
    Chunk("IHDR", {std::uint8_t(nWidth >> 24), std::uint8_t(nWidth >> 16), std::uint8_t(nWidth >> 8), std::uint8_t(nWidth),
                   std::uint8_t(nHeight >> 24), std::uint8_t(nHeight >> 16), std::uint8_t(nHeight >> 8),
                   std::uint8_t(nHeight), 8, nColourType, 0, 0, 0});
    if (bWithSomeData) {  // a few hundred compressed bytes, far less than the picture needs
        std::vector<std::uint8_t> aRaw(4096, 0), aPacked(8192);
        uLongf nPacked = aPacked.size();
        compress2(aPacked.data(), &nPacked, aRaw.data(), aRaw.size(), 9);
        aPacked.resize(nPacked);
        Chunk("IDAT", aPacked);
    }
    Chunk("IEND", {});
    return a;
}

// Uncompressed strips are read from the file in blocks on several threads; the same
// samples stored with LZW go through libtiff's row reader. Both must give the same
// picture for every layout, block size and thread count.
TEST_F(CodecTest, UncompressedTiffStripsReadLikeLibtiffsRowReader)
{
    struct SLayout {
        const char* pName;
        int nWidth, nHeight, nBits, nSamples, nPhotometric;
        bool bAlpha;
    };
    const SLayout aLayouts[] = {
        {"rgb", 37, 23, 8, 3, PHOTOMETRIC_RGB, false},
        {"rgb-several-blocks", 700, 640, 8, 3, PHOTOMETRIC_RGB, false},  // 1.3 MB of rows
        {"rgba", 19, 11, 8, 4, PHOTOMETRIC_RGB, true},
        {"grey", 33, 17, 8, 1, PHOTOMETRIC_MINISBLACK, false},
        {"white-is-zero", 33, 17, 8, 1, PHOTOMETRIC_MINISWHITE, false},
        {"palette-8", 31, 9, 8, 1, PHOTOMETRIC_PALETTE, false},
        {"palette-4", 31, 9, 4, 1, PHOTOMETRIC_PALETTE, false},
        {"grey-1-bit", 90, 13, 1, 1, PHOTOMETRIC_MINISBLACK, false},
        {"rows-narrower-than-8-bytes", 5, 9, 8, 1, PHOTOMETRIC_MINISBLACK, false},  // left to libtiff
        {"rgb-16-bit", 13, 7, 16, 3, PHOTOMETRIC_RGB, false},
    };
    for (const SLayout& layout : aLayouts) {
        SCOPED_TRACE(layout.pName);
        STiffSpec fixture;
        fixture.nWidth = layout.nWidth;
        fixture.nHeight = layout.nHeight;
        fixture.nBitsPerSample = layout.nBits;
        fixture.nSamplesPerPixel = layout.nSamples;
        fixture.nPhotometric = layout.nPhotometric;
        fixture.bAlpha = layout.bAlpha;
        const std::size_t nRowBytes = (std::size_t(layout.nWidth) * layout.nSamples * layout.nBits + 7) / 8;
        fixture.aSamples = Ramp(nRowBytes * layout.nHeight, 7);
        if (layout.nPhotometric == PHOTOMETRIC_PALETTE)
            for (int i = 0; i < 3 << layout.nBits; ++i)
                fixture.aColourMap.push_back(static_cast<std::uint16_t>(i * 977));
        const std::string strPlain = m_folder.Path(std::string(layout.pName) + "-none.tif");
        const std::string strLzw = m_folder.Path(std::string(layout.pName) + "-lzw.tif");
        WriteTiff(strPlain, fixture);
        fixture.nCompression = COMPRESSION_LZW;
        WriteTiff(strLzw, fixture);
        CDIBImage expected;
        ASSERT_TRUE(expected.OpenDIB(strLzw));
        for (int nThreads : {1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << nThreads << " threads");
            CScopedThreadCount threads(nThreads);
            CDIBImage image;
            ASSERT_TRUE(image.OpenDIB(strPlain));
            EXPECT_TRUE(SamePicture(expected, image));
        }
    }
    EXPECT_TRUE(m_platform.Messages().empty());
}

class DamagedFileTest : public CPlatformTest {
protected:
    // Writes the bytes under the name, opens them, and expects a load failure whose
    // detail contains pNeedle.
    void ExpectLoadFailure(const std::string& strName, const std::vector<std::uint8_t>& aBytes, const char* pNeedle)
    {
        SCOPED_TRACE(strName);
        const std::string strPath = m_folder.Path(strName);
        WriteBytes(strPath, aBytes);
        CDIBImage image;
        m_platform.ClearRecord();
        EXPECT_FALSE(image.OpenDIB(strPath));
        EXPECT_EQ(image.m_nErrorNumber, ERR_LOAD_FAILED);
        EXPECT_NE(image.m_strErrorText.find(pNeedle), std::string::npos) << image.m_strErrorText;
        EXPECT_EQ(image.m_strErrorText.rfind("\nResult:8004a00", 0), 0u) << image.m_strErrorText;
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{image.m_strErrorText});
        EXPECT_FALSE(image.HasImage());
        EXPECT_EQ(image.m_nImageWidth, 0);
    }
    // A valid file of the format, made by our own writer.
    std::vector<std::uint8_t> ValidFile(const char* pExtension, int nBits)
    {
        CDIBImage image;
        MakePatternPicture(image, nBits, 61, 47);
        const std::string strPath = m_folder.Path(std::string("valid.") + pExtension);
        image.SaveDIB(strPath);
        return ReadBytes(strPath);
    }
    CTempFolder m_folder;
};

TEST_F(DamagedFileTest, TruncatedFilesOfEveryFormatFailCleanly)
{
    // A smooth picture for JPEG so that its data is long enough to cut.
    const std::pair<const char*, int> aFormats[] = {{"bmp", 24}, {"png", 24}, {"tif", 24}, {"gif", 8}, {"jpg", 24}};
    for (const auto& [pExtension, nBits] : aFormats) {
        std::vector<std::uint8_t> aBytes = ValidFile(pExtension, nBits);
        for (const double dKept : {0.6, 0.1}) {
            std::vector<std::uint8_t> aCut(aBytes.begin(), aBytes.begin() + static_cast<long>(aBytes.size() * dKept));
            ExpectLoadFailure("cut-" + std::to_string(int(dKept * 100)) + "." + pExtension, aCut, "");
        }
        ExpectLoadFailure(std::string("empty.") + pExtension, {}, "");
    }
}

TEST_F(DamagedFileTest, HostileHeadersAreRefusedBeforeAnyLargeAllocation)
{
    auto Bmp = [](std::int32_t nWidth, std::int32_t nHeight, int nBits, std::uint32_t nColours = 0) {
        SBmpSpec fixture;
        fixture.nWidth = nWidth;
        fixture.nHeight = nHeight;
        fixture.nBitCount = nBits;
        fixture.nColoursUsed = nColours;
        fixture.aPixels = std::vector<std::uint8_t>(64, 0);
        return BuildBmp(fixture);
    };
    ExpectLoadFailure("rows-overflow.bmp", Bmp(0x7FFFFFFF, 2, 24), "more bytes than a row can hold");
    ExpectLoadFailure("huge-declared.bmp", Bmp(60000, 60000, 24), "truncated");
    ExpectLoadFailure("zero-width.bmp", Bmp(0, 5, 24), "0 x 5");
    ExpectLoadFailure("table-too-long.bmp", Bmp(4, 4, 8, 300), "declares 300 entries");
    ExpectLoadFailure("wrong-signature.bmp", {'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "signature");
    ExpectLoadFailure("zero-sized.png", PngHeaderOnly(0, 10, 2), "");
    ExpectLoadFailure("no-pixels.png", PngHeaderOnly(10, 10, 2), "");
    ExpectLoadFailure("garbage.tif", std::vector<std::uint8_t>(100, 0x55), "");
    ExpectLoadFailure("garbage.gif", std::vector<std::uint8_t>(100, 0x55), "");
    ExpectLoadFailure("garbage.jpg", std::vector<std::uint8_t>(100, 0x55), "");
}

TEST_F(DamagedFileTest, PixelsAndRunsOutsideTheirBoundsAreRefused)
{
    SBmpSpec pastTable = IndexedBmp(4);
    pastTable.nColoursUsed = 2;
    pastTable.aTable.resize(8);
    ExpectLoadFailure("index-past-table.bmp", BuildBmp(pastTable), "past the colour table of 2 entries");

    SBmpSpec rle;
    rle.nWidth = 4;
    rle.nHeight = 2;
    rle.nCompression = 1;
    rle.nColoursUsed = 2;
    rle.aTable = Ramp(8);
    rle.aPixels = {5, 1, 0, 1};  // a run of 5 in a row of 4
    ExpectLoadFailure("run-past-row.bmp", BuildBmp(rle), "passes the end of row 0");
    rle.aPixels = {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1};  // a third row in a picture of two
    ExpectLoadFailure("rows-past-picture.bmp", BuildBmp(rle), "past the top row");
    rle.aPixels = {4, 1, 0, 0};
    ExpectLoadFailure("rle-cut-short.bmp", BuildBmp(rle), "ends at row 1 of 2");

    SGifSpec gif;
    gif.nScreenWidth = gif.nWidth = 2;
    gif.nScreenHeight = gif.nHeight = 1;
    gif.aTable = Ramp(6, 40);
    gif.aPixels = {1, 3};  // colour 3 of a table of 2
    WriteGif(m_folder.Path("index-past-table.gif"), gif);
    ExpectLoadFailure("index-past-table.gif", ReadBytes(m_folder.Path("index-past-table.gif")), "past the colour table of 2");
}

TEST_F(DamagedFileTest, ATinyFileDeclaringAHugePictureIsRefusedAtOnce)
{
    // Memory would allow the picture: only the few bytes give it away.
    const CScopedEnvironment limit("GRIDMORPH_MEMORY_LIMIT_MB", "4096");
    std::vector<std::uint8_t> aJpeg = ValidFile("jpg", 24);
    for (std::size_t i = 0; i + 8 < aJpeg.size(); ++i) {
        if (aJpeg[i] == 0xFF && (aJpeg[i + 1] == 0xC0 || aJpeg[i + 1] == 0xC2)) {
            // Start of frame: length, precision, height, width.
            aJpeg[i + 5] = aJpeg[i + 7] = 20000 >> 8;
            aJpeg[i + 6] = aJpeg[i + 8] = 20000 & 0xFF;
            break;
        }
    }
    ExpectLoadFailure("declares-20000.jpg", aJpeg, "cannot hold the 20000 x 20000 picture it declares");
    ExpectLoadFailure("declares-20000.png", PngHeaderOnly(20000, 20000, 2, true), "cannot hold the 20000 x 20000 picture");
}

// A classic little-endian TIFF of one uncompressed grey strip whose header declares the
// size given and whose strip holds nStripBytes zero bytes.
std::vector<std::uint8_t> GreyTiffDeclaring(std::uint32_t nWidth, std::uint32_t nHeight, std::uint16_t nCompression,
                                            std::uint32_t nStripBytes)
{
    const std::pair<std::uint16_t, std::uint32_t> aEntries[] = {
        {256, nWidth}, {257, nHeight}, {258, 8},       {259, nCompression}, {262, 1},
        {273, 0},      {277, 1},       {278, nHeight}, {279, nStripBytes},
    };
    const std::uint32_t nCount = std::uint32_t(std::size(aEntries));
    const std::uint32_t nDataOffset = 8 + 2 + 12 * nCount + 4;
    std::vector<std::uint8_t> aBytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto Put = [&aBytes](std::uint32_t n, int nBytes) {
        for (int i = 0; i < nBytes; ++i)
            aBytes.push_back(std::uint8_t(n >> (8 * i)));
    };
    Put(nCount, 2);
    for (const auto& [nTag, nValue] : aEntries) {
        const bool bLong = nTag == 256 || nTag == 257 || nTag == 273 || nTag == 278 || nTag == 279;
        Put(nTag, 2);
        Put(bLong ? 4 : 3, 2);  // LONG or SHORT
        Put(1, 4);
        Put(nTag == 273 ? nDataOffset : nValue, 4);
    }
    Put(0, 4);
    aBytes.resize(aBytes.size() + nStripBytes, 0);
    return aBytes;
}

TEST_F(DamagedFileTest, EveryDecoderRefusesDataFarBelowTheDeclaredSizeBeforeMakingThePicture)
{
    const CScopedEnvironment limit("GRIDMORPH_MEMORY_LIMIT_MB", "4096");
    // A run-length bitmap of 20000 x 20000 whose few bytes skip the whole picture with
    // deltas (each 255 rows down) and end it: 400 MB of pixels no byte codes.
    SBmpSpec rle;
    rle.nWidth = 20000;
    rle.nHeight = 20000;
    rle.nCompression = 1;
    rle.aTable = Ramp(256 * 4);
    for (int y = 0; y + 255 < rle.nHeight; y += 255)
        rle.aPixels.insert(rle.aPixels.end(), {0, 2, 0, 255});
    rle.aPixels.insert(rle.aPixels.end(), {0, 1});
    const std::vector<std::uint8_t> aRle = BuildBmp(rle);
    ASSERT_LT(aRle.size(), 1500u);
    ExpectLoadFailure("skipping-rle.bmp", aRle, "cannot hold the 20000 x 20000 picture it declares");
    rle.nCompression = 2;
    rle.nBitCount = 4;
    rle.aTable = Ramp(16 * 4);
    ExpectLoadFailure("skipping-rle4.bmp", BuildBmp(rle), "cannot hold the 20000 x 20000 picture it declares");

    // A GIF whose screen of 20000 x 20000 holds a frame of one pixel.
    SGifSpec gif;
    gif.nScreenWidth = gif.nScreenHeight = 20000;
    gif.nWidth = gif.nHeight = 1;
    gif.aTable = Ramp(6, 40);
    gif.aPixels = {1};
    WriteGif(m_folder.Path("huge-screen.gif"), gif);
    ExpectLoadFailure("huge-screen.gif", ReadBytes(m_folder.Path("huge-screen.gif")),
                      "cannot hold the 20000 x 20000 picture it declares");

    // TIFFs of 20000 x 20000 with a strip of 16 bytes, plain and LZW.
    ExpectLoadFailure("tiny-strip.tif", GreyTiffDeclaring(20000, 20000, 1, 16),
                      "cannot hold the 20000 x 20000 picture it declares");
    ExpectLoadFailure("tiny-strip-lzw.tif", GreyTiffDeclaring(20000, 20000, 5, 16),
                      "cannot hold the 20000 x 20000 picture it declares");
}

TEST_F(DamagedFileTest, SmallRunLengthBitmapsThatSkipMostPixelsStillOpen)
{
    // Below the bound's size a picture may be almost all skipped: 4000 x 4000 by deltas.
    SBmpSpec rle;
    rle.nWidth = 4000;
    rle.nHeight = 4000;
    rle.nCompression = 1;
    rle.aTable = Ramp(256 * 4);
    rle.aPixels = {3, 7};  // three pixels of colour 7 on the bottom row
    for (int y = 0; y + 255 < rle.nHeight; y += 255)
        rle.aPixels.insert(rle.aPixels.end(), {0, 2, 0, 255});
    rle.aPixels.insert(rle.aPixels.end(), {0, 1});
    const std::string strPath = m_folder.Path("sparse.bmp");
    WriteBytes(strPath, BuildBmp(rle));
    CDIBImage image;
    ASSERT_TRUE(image.OpenDIB(strPath)) << image.GetErrorMessage();
    EXPECT_EQ(image.Bitmap()->LowestRow()[2], 7);
    EXPECT_EQ(image.Bitmap()->LowestRow()[3], 0);
}

TEST_F(DamagedFileTest, DamageIsCalledDamageWithTheLibrarysReason)
{
    // An indexed PNG without its PLTE chunk.
    std::vector<std::uint8_t> aPng = ValidFile("png", 8);
    const std::string strPlte = "PLTE";
    const auto itPlte = std::search(aPng.begin(), aPng.end(), strPlte.begin(), strPlte.end());
    ASSERT_NE(itPlte, aPng.end());
    const std::size_t nLength = (std::size_t(itPlte[-4]) << 24) | (std::size_t(itPlte[-3]) << 16) |
                                (std::size_t(itPlte[-2]) << 8) | std::size_t(itPlte[-1]);
    aPng.erase(itPlte - 4, itPlte + 4 + std::ptrdiff_t(nLength) + 4);
    ExpectLoadFailure("no-plte.png", aPng, "PNG: the file is damaged: ");

    // A JPEG that ends before its start of scan.
    std::vector<std::uint8_t> aJpeg = ValidFile("jpg", 24);
    for (std::size_t i = 0; i + 1 < aJpeg.size(); ++i)
        if (aJpeg[i] == 0xFF && aJpeg[i + 1] == 0xDA) {
            aJpeg.resize(i);
            aJpeg.insert(aJpeg.end(), {0xFF, 0xD9});
            break;
        }
    ExpectLoadFailure("no-sos.jpg", aJpeg, "JPEG: the file is damaged: ");
}

TEST_F(DamagedFileTest, APictureLargerThanMemoryFailsAtOnceWithTheCreationFailure)
{
    const std::string strPath = m_folder.Path("bomb.png");
    WriteBytes(strPath, PngHeaderOnly(100000, 100000, 2, true));
    ASSERT_LT(ReadBytes(strPath).size(), 200u);
    CDIBImage image;
    bool bOpened = false;
    {
        const CScopedEnvironment limit("GRIDMORPH_MEMORY_LIMIT_MB", "1024");
        bOpened = image.OpenDIB(strPath);
    }
    EXPECT_FALSE(bOpened);
    EXPECT_EQ(image.m_nErrorNumber, ERR_OUT_OF_MEMORY);
    EXPECT_EQ(image.m_strErrorText,
              "Failure creating bitmap, lack of memory\n\nwidth=100000, height=100000, nBPP=24 in CreateImage().");
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{image.m_strErrorText});
    EXPECT_FALSE(image.HasImage());
}

// A full disc says so: the system's reason of the write the file did not take follows
// the writer's own message.
TEST(TiffWriting, AFullDiscGivesTheSystemsReason)
{
    CDIBImage image;
    MakePatternPicture(image, 24, 300, 200);
    for (const ETiffCompression eCompression : {ETiffCompression::None, ETiffCompression::Lzw}) {
        SCOPED_TRACE(static_cast<int>(eCompression));
        const int nFd = open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (nFd < 0)
            GTEST_SKIP() << "no /dev/full";
        SEncodeOptions options;
        options.eTiffCompression = eCompression;
        const SCodecStatus status = WriteTiffFile(nFd, "full.tif", *image.Bitmap(), options);
        EXPECT_EQ(status.nResult, codec_result::kWriteFailed);
        const std::string strReason = std::string(": ") + std::strerror(ENOSPC) + ".";
        ASSERT_GE(status.strText.size(), strReason.size()) << status.strText;
        EXPECT_EQ(status.strText.substr(status.strText.size() - strReason.size()), strReason) << status.strText;
    }
}

// Red and blue change places in every pixel of any length, and the bytes after the row
// are never touched.
TEST(SwapRedAndBlue, EveryLengthSwapsEveryPixelAndTouchesNothingElse)
{
    for (int nPixels = 0; nPixels <= 70; ++nPixels) {
        std::vector<std::uint8_t> aSource(std::size_t(nPixels) * 3 + 16), aExpected(aSource.size(), 0xEE);
        for (std::size_t i = 0; i < aSource.size(); ++i)
            aSource[i] = static_cast<std::uint8_t>(i * 37 + 11);
        for (int x = 0; x < nPixels; ++x)
            for (int c = 0; c < 3; ++c)
                aExpected[std::size_t(x) * 3 + c] = aSource[std::size_t(x) * 3 + 2 - c];
        std::vector<std::uint8_t> aTarget(aSource.size(), 0xEE);
        SwapRedAndBlue(aSource.data(), aTarget.data(), nPixels);
        EXPECT_EQ(aTarget, aExpected) << nPixels << " pixels";
    }
}

}  // namespace
}  // namespace gridmorph
