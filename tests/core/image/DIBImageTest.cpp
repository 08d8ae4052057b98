#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;

constexpr const char* kUnsupportedDepth =
    "Only images with 8,24 or 32-bit colour depth are supported.\n\nContinuing with 8-bit.";

class DIBImageTest : public CPlatformTest {};

TEST_F(DIBImageTest, SizesBelowOneBecomeFour)
{
    const int aSizes[][2] = {{0, 7}, {-5, 7}, {7, 0}, {7, -5}};
    for (const auto& size : aSizes) {
        CDIBImage image;
        ASSERT_TRUE(image.CreateImage(24, size[0], size[1], FILL_WHITE, 0, 0, 0, nullptr));
        EXPECT_EQ(image.m_nImageWidth, size[0] < 1 ? 4 : 7);
        EXPECT_EQ(image.m_nImageHeight, size[1] < 1 ? 4 : 7);
    }
}

TEST_F(DIBImageTest, StorageIsBottomUpWithRowsPaddedToFourBytes)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(24, 5, 3, FILL_BLACK, 0, 0, 0, nullptr));
    EXPECT_EQ(image.m_nStride, 16);  // 15 bytes of pixels, padded
    EXPECT_EQ(image.m_nOrientation, ORIENTATION_BOTTOM_UP);
    EXPECT_EQ(image.m_pImageBits, image.Bitmap()->LowestRow());
    // The platform's top-row pointer is the last storage row.
    EXPECT_EQ(image.Bitmap()->PictureRow(0), image.StorageRow(2));
    CDIBImage grey;
    ASSERT_TRUE(grey.CreateImage(8, 5, 3, FILL_BLACK, 0, 0, 0, nullptr));
    EXPECT_EQ(grey.m_nStride, 8);
}

TEST_F(DIBImageTest, UnsupportedDepthContinuesAtEightBitsWithTheDefaultTable)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(16, 10, 10, FILL_WHITE, 0, 0, 0, nullptr));
    EXPECT_EQ(image.m_nBitCount, 8);
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].strText, kUnsupportedDepth);
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::Information);
    EXPECT_EQ(image.m_pRGBQuad[1].rgbRed, 51);
}

TEST_F(DIBImageTest, DefaultTableAndPaletteHoldTheSameCube)
{
    for (int nBits : {8, 24, 32}) {
        CDIBImage image;
        ASSERT_TRUE(image.CreateImage(nBits, 4, 4, FILL_WHITE, 0, 0, 0, nullptr));
        EXPECT_EQ(image.m_nColours, 256);
        const SRGBQuad* pTable = image.m_pRGBQuad.get();
        EXPECT_EQ(pTable[0], (SRGBQuad{0, 0, 0, 0}));
        EXPECT_EQ(pTable[1], (SRGBQuad{0, 0, 51, 0}));
        EXPECT_EQ(pTable[36 * 2 + 6 * 3 + 4], (SRGBQuad{102, 153, 204, 0}));
        EXPECT_EQ(pTable[215], (SRGBQuad{255, 255, 255, 0}));
        for (int i = 216; i < 256; ++i)
            EXPECT_EQ(pTable[i], (SRGBQuad{255, 255, 255, 0})) << i;
        ASSERT_EQ(image.m_pPalette->GetEntryCount(), 256);
        for (int i = 0; i < 256; ++i) {
            const SPaletteEntry& entry = image.m_pPalette->GetEntry(i);
            EXPECT_EQ(entry, (SPaletteEntry{pTable[i].rgbRed, pTable[i].rgbGreen, pTable[i].rgbBlue, 0})) << i;
        }
        // The bitmap description carries the same table after its 40-byte header.
        EXPECT_EQ(std::memcmp(image.m_pBitmapInfo.get() + kBitmapInfoHeaderSize, pTable, 1024), 0);
        if (nBits == 8) {  // and so does the bitmap's own table
            SRGBQuad aBitmapTable[256];
            EXPECT_EQ(image.GetDIBColours(0, 256, aBitmapTable), 256);
            EXPECT_EQ(std::memcmp(aBitmapTable, pTable, sizeof aBitmapTable), 0);
            EXPECT_EQ(image.m_nDCRefCount, 0);
        }
    }
}

TEST_F(DIBImageTest, FillsWriteEveryPixelAndTheFourthByte)
{
    struct SCase {
        int nBits;
        int nFill;
        std::uint8_t aExpected[4];
    };
    const SCase aCases[] = {
        {32, FILL_BLACK, {0, 0, 0, 255}},       {32, FILL_WHITE, {255, 255, 255, 255}},
        {32, FILL_COLOUR, {30, 20, 10, 255}},  {24, FILL_BLACK, {0, 0, 0, 0}},
        {24, FILL_COLOUR, {30, 20, 10, 0}},    {24, FILL_WHITE, {255, 255, 255, 0}},
    };
    for (const SCase& aCase : aCases) {
        CDIBImage image;
        ASSERT_TRUE(image.CreateImage(aCase.nBits, 7, 3, aCase.nFill, 10, 20, 30, nullptr));
        const int nStep = aCase.nBits / 8;
        for (int nRow = 0; nRow < 3; ++nRow)
            for (int x = 0; x < 7; ++x)
                for (int c = 0; c < nStep; ++c)
                    ASSERT_EQ(image.StorageRow(nRow)[x * nStep + c], aCase.aExpected[c])
                        << aCase.nBits << "-bit fill " << aCase.nFill << " row " << nRow << " x " << x;
    }
    // 8-bit fills write the nearest palette entry: black 0, white 215 (the first white).
    CDIBImage indexed;
    ASSERT_TRUE(indexed.CreateImage(8, 5, 2, FILL_WHITE, 0, 0, 0, nullptr));
    EXPECT_EQ(indexed.StorageRow(1)[4], 215);
    indexed.FillImage(FILL_COLOUR, 60, 0, 100);  // nearest cube colour: red 51, blue 102
    EXPECT_EQ(indexed.StorageRow(0)[0], 1 + 36 * 2);
}

TEST_F(DIBImageTest, NearestPaletteSearchPrefersExactMatchThenLowestIndex)
{
    std::vector<SPaletteEntry> aEntries = {{10, 10, 10, 0}, {20, 20, 20, 0}, {12, 10, 10, 0}, {20, 20, 20, 0}};
    CPalette palette(aEntries);
    EXPECT_EQ(palette.GetNearestPaletteIndex(20, 20, 20), 1);  // exact, first of two
    EXPECT_EQ(palette.GetNearestPaletteIndex(11, 10, 10), 0);  // tie between 0 and 2
    EXPECT_EQ(palette.GetNearestPaletteIndex(13, 10, 10), 2);
}

TEST_F(DIBImageTest, CreateFromAnImageCopiesByDepth)
{
    CDIBImage source;
    test::MakePatternPicture(source, 8, 9, 4);
    // 8 to 32: every pixel takes its table colour and 255 in the fourth byte.
    CDIBImage wide;
    ASSERT_TRUE(wide.CreateImage(32, &source, true, false, false, false, false));
    for (int nRow = 0; nRow < 4; ++nRow)
        for (int x = 0; x < 9; ++x) {
            const SRGBQuad& colour = source.m_pRGBQuad[source.StorageRow(nRow)[x]];
            const std::uint8_t* pPixel = wide.StorageRow(nRow) + 4 * x;
            ASSERT_EQ(pPixel[0], colour.rgbBlue);
            ASSERT_EQ(pPixel[1], colour.rgbGreen);
            ASSERT_EQ(pPixel[2], colour.rgbRed);
            ASSERT_EQ(pPixel[3], 255);
        }
    // 32 to 24 and back to 32 is lossless for blue, green and red.
    CDIBImage narrow, back;
    ASSERT_TRUE(narrow.CreateImage(24, &wide, true, false, false, false, false));
    ASSERT_TRUE(back.CreateImage(32, &narrow, true, false, false, false, false));
    EXPECT_TRUE(test::SamePicture(wide, back));
    // Equal depths copy the storage and keep the table.
    CDIBImage copy;
    ASSERT_TRUE(copy.CreateImage(8, &source, true, false, false, false, false));
    EXPECT_TRUE(test::SamePicture(source, copy));
    // Without bits the picture is white; without bits or colours the table is the default.
    CDIBImage blank;
    ASSERT_TRUE(blank.CreateImage(24, &source, false, false, false, false, false));
    EXPECT_EQ(blank.StorageRow(3)[26], 255);
    EXPECT_EQ(blank.m_pRGBQuad[1].rgbRed, 51);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(DIBImageTest, CreateFromANullImageKeepsTheExistingPicture)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(24, 6, 6, FILL_WHITE, 0, 0, 0, nullptr));
    EXPECT_FALSE(image.CreateImage(24, nullptr, true, false, false, false, false));
    EXPECT_EQ(image.m_nErrorNumber, ERR_INVALID_ARGUMENT);
    EXPECT_EQ(image.m_strErrorText, "\nCreateImage called with based_on = NULL");
    EXPECT_EQ(image.m_nImageWidth, 6);
    EXPECT_TRUE(image.HasImage());
    EXPECT_TRUE(m_platform.Messages().empty());
    // Nor can a picture be made from itself: creating would destroy the source first.
    EXPECT_FALSE(image.CreateImage(24, &image, true, false, false, false, false));
    EXPECT_TRUE(image.HasImage());
}

TEST_F(DIBImageTest, SizedCreationDerivesTheMissingSide)
{
    struct SCase {
        int nBaseWidth, nBaseHeight, nWidth, nHeight, nExpectedWidth, nExpectedHeight;
    };
    const SCase aCases[] = {
        {200, 50, 0, 100, 400, 100}, {3, 7, 2, 0, 2, 4}, {3, 7, 0, 0, 3, 7}, {3, 7, 5, 6, 5, 6}};
    for (const SCase& aCase : aCases) {
        CDIBImage base, image;
        ASSERT_TRUE(base.CreateImage(8, aCase.nBaseWidth, aCase.nBaseHeight, FILL_BLACK, 0, 0, 0, nullptr));
        ASSERT_TRUE(image.CreateImage(&base, aCase.nWidth, aCase.nHeight, 24));
        EXPECT_EQ(image.m_nImageWidth, aCase.nExpectedWidth);
        EXPECT_EQ(image.m_nImageHeight, aCase.nExpectedHeight);
        EXPECT_EQ(image.StorageRow(0)[0], 255);  // white
    }
}

TEST_F(DIBImageTest, AFourBitSourceCannotBeCopiedAndGivesAWhitePicture)
{
    // A 4-bit picture only arrives from a file; build one by hand as a decoder would.
    const std::uint8_t aFile[] = {
        'B', 'M', 0x46, 0, 0, 0, 0, 0, 0, 0, 0x3E, 0, 0, 0,  // file header, pixels at 62
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0,
        0, 0, 0,                                              // 2 x 2, 4-bit, 2 colours
        0, 0, 0, 0, 10, 20, 30, 0,                            // table
        0x01, 0, 0, 0, 0x10, 0, 0, 0};                        // rows
    test::CTempFolder folder;
    test::WriteBytes(folder.Path("four.bmp"), std::vector<std::uint8_t>(std::begin(aFile), std::end(aFile)));
    CDIBImage source;
    ASSERT_TRUE(source.OpenDIB(folder.Path("four.bmp"))) << source.GetErrorMessage();
    ASSERT_EQ(source.m_nBitCount, 4);
    CDIBImage copy;
    ASSERT_TRUE(copy.CreateImage(24, &source, true, false, false, false, false));
    ASSERT_EQ(m_platform.Messages().size(), 1u);
    EXPECT_EQ(m_platform.Messages()[0].strText,
              "Only images with 8,24 or 32-bit colour depth can be copied.\n\nSetting created image to white.");
    EXPECT_EQ(copy.m_nImageWidth, 2);
    EXPECT_EQ(copy.StorageRow(1)[5], 255);
}

TEST_F(DIBImageTest, CreationBeyondTheMemoryLimitFailsCleanly)
{
    CDIBImage image;
    bool bCreated = false;
    {
        const test::CScopedEnvironment limit("GRIDMORPH_MEMORY_LIMIT_MB", "1");
        bCreated = image.CreateImage(24, 2000, 2000, FILL_WHITE, 0, 0, 0, nullptr);
    }
    EXPECT_FALSE(bCreated);
    EXPECT_EQ(image.m_nErrorNumber, ERR_OUT_OF_MEMORY);
    const std::string strExpected =
        "Failure creating bitmap, lack of memory\n\nwidth=2000, height=2000, nBPP=24 in CreateImage().";
    EXPECT_EQ(image.m_strErrorText, strExpected);
    ASSERT_EQ(MessageTexts(), std::vector<std::string>{strExpected});
    // The number's text and the detail are two lines, not run together.
    EXPECT_EQ(image.GetErrorMessage(), "Out of memory\n" + strExpected);
    EXPECT_FALSE(image.HasImage());
    EXPECT_EQ(image.m_nImageWidth, 0);
    EXPECT_EQ(image.m_nImageHeight, 0);
    EXPECT_EQ(image.m_nStride, 0);
}

TEST_F(DIBImageTest, DestroyKeepsTheErrorOnlyWhenAsked)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(8, 3, 3, FILL_WHITE, 0, 0, 0, nullptr));
    image.m_nErrorNumber = 15404;
    image.m_strErrorText = "detail";
    image.DestroyImage(true);
    EXPECT_EQ(image.m_nErrorNumber, 15404);
    EXPECT_EQ(image.m_strErrorText, "detail");
    EXPECT_FALSE(image.m_pRGBQuad);
    image.DestroyImage(false);
    EXPECT_EQ(image.m_nErrorNumber, 0);
    EXPECT_TRUE(image.m_strErrorText.empty());
}

TEST_F(DIBImageTest, GreyConversionFollowsTheWeights)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(32, 3, 1, FILL_BLACK, 0, 0, 0, nullptr));
    std::uint8_t* pPixel = image.StorageRow(0);
    const std::uint8_t aPixels[] = {0, 0, 255, 7, 0, 255, 0, 8, 255, 255, 255, 9};  // red, green, white
    std::memcpy(pPixel, aPixels, sizeof aPixels);
    image.ConvertToGreyScale();
    const std::uint8_t aExpected[] = {76, 76, 76, 7, 150, 150, 150, 8, 255, 255, 255, 9};
    EXPECT_EQ(std::memcmp(pPixel, aExpected, sizeof aExpected), 0);
    EXPECT_EQ(m_platform.WaitCursorDepth(), 0);
    EXPECT_EQ(m_platform.WaitCursorCount(), 1);
}

TEST_F(DIBImageTest, FullColourToPaletteWithTheTwoTablesAndItsProgress)
{
    CDIBImage source;
    ASSERT_TRUE(source.CreateImage(24, 3, 2, FILL_COLOUR, 200, 100, 50, nullptr));
    CDIBImage popular;
    ASSERT_TRUE(popular.CreateImage(8, &source, true, false, true, true, true));
    EXPECT_EQ(popular.m_pRGBQuad[125], (SRGBQuad{48, 96, 200, 0}));
    for (int i = 126; i <= 235; ++i)
        ASSERT_EQ(popular.m_pRGBQuad[i], (SRGBQuad{0, 0, 0, 0})) << i;
    EXPECT_EQ(popular.m_pRGBQuad[251], (SRGBQuad{240, 240, 240, 0}));
    EXPECT_EQ(popular.StorageRow(1)[2], 125);

    CDIBImage cube;
    ASSERT_TRUE(cube.CreateImage(8, &source, true, false, true, false, false));
    EXPECT_EQ(cube.StorageRow(0)[0], 52);  // 4 + 6 * 2 + 36 * 1

    // Progress: once started over the rows, stepped before each row with no new text.
    using SEvent = CScriptedPlatform::SProgressEvent;
    const auto& aEvents = m_platform.ProgressEvents();
    ASSERT_EQ(aEvents.size(), 4u);
    EXPECT_EQ(aEvents[0].eType, SEvent::Start);
    EXPECT_EQ(aEvents[0].nUpper, 2);
    EXPECT_EQ(aEvents[0].strText, "Converting RGB to palette");
    EXPECT_EQ(aEvents[1].eType, SEvent::Set);
    EXPECT_EQ(aEvents[2].nPosition, 1);
    EXPECT_EQ(aEvents[2].strText, "");
    EXPECT_EQ(aEvents[3].eType, SEvent::End);
}

}  // namespace
}  // namespace gridmorph
