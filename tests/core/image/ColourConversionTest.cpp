// The fast colour reduction against the step-by-step one, and the conversion rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "image/DIBImage.h"
#include "support/ReferenceColour.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;

class ColourConversionTest : public CPlatformTest {};

// A picture made of nColours distinct 15-bit colours, each nRepeats times, shuffled, with
// random low bits so that pixels of one 15-bit colour differ: equal counts everywhere,
// which makes every choice a tie that only the order rules decide.
void MakeTiedPicture(CDIBImage& image, int nBits, int nColours, int nRepeats, unsigned nSeed)
{
    std::mt19937 random(nSeed);
    std::vector<unsigned> aColours(32768);
    for (unsigned i = 0; i < 32768; ++i)
        aColours[i] = i;
    std::shuffle(aColours.begin(), aColours.end(), random);
    aColours.resize(static_cast<std::size_t>(nColours));
    std::vector<unsigned> aPixels;
    for (unsigned nColour : aColours)
        for (int n = 0; n < nRepeats; ++n)
            aPixels.push_back(nColour);
    // A few colours one more time, so that counts differ too.
    for (int n = 0; n < nColours / 10; ++n)
        aPixels.push_back(aColours[static_cast<std::size_t>(n * 7 % nColours)]);
    std::shuffle(aPixels.begin(), aPixels.end(), random);
    const int nWidth = 37;
    const int nHeight = static_cast<int>((aPixels.size() + nWidth - 1) / nWidth);
    ASSERT_TRUE(image.CreateImage(nBits, nWidth, nHeight, FILL_BLACK, 0, 0, 0, nullptr));
    std::size_t n = 0;
    for (int nRow = 0; nRow < nHeight; ++nRow) {
        std::uint8_t* p = image.StorageRow(nRow);
        for (int x = 0; x < nWidth; ++x, p += nBits / 8) {
            const unsigned c = n < aPixels.size() ? aPixels[n++] : 0;
            p[0] = static_cast<std::uint8_t>(((c >> 10) << 3) | (random() & 7));
            p[1] = static_cast<std::uint8_t>((((c >> 5) & 31) << 3) | (random() & 7));
            p[2] = static_cast<std::uint8_t>(((c & 31) << 3) | (random() & 7));
            if (nBits == 32)
                p[3] = static_cast<std::uint8_t>(random());
        }
    }
}

TEST_F(ColourConversionTest, FastReductionGivesTheSameTableAndPixelsAsTheStepByStepOne)
{
    struct SCase {
        int nBits, nColours, nRepeats;
        bool bPopular;
        unsigned nSeed;
    };
    const SCase aCases[] = {
        {24, 3000, 3, true, 1},  {24, 400, 5, true, 2}, {32, 2000, 2, true, 3},
        {24, 60, 4, true, 4},    // fewer colours than popular entries: black fill, black matches
        {24, 3000, 1, false, 5}, // the default cube
        {32, 500, 2, false, 6},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.nSeed);
        CDIBImage source;
        MakeTiedPicture(source, aCase.nBits, aCase.nColours, aCase.nRepeats, aCase.nSeed);
        SRGBQuad aExpected[256];
        if (aCase.bPopular)
            test::ReferenceBuildPopularRGBQuad(source, aExpected);
        else
            CDIBImage::SetDefaultRGBQuad(aExpected);
        CDIBImage converted;
        ASSERT_TRUE(converted.CreateImage(8, &source, true, false, true, aCase.bPopular, false));
        EXPECT_EQ(std::memcmp(converted.m_pRGBQuad.get(), aExpected, sizeof aExpected), 0);
        const std::vector<std::uint8_t> aIndices = test::ReferenceConvertToPalette(source, aExpected);
        std::size_t n = 0;
        for (int nRow = 0; nRow < source.m_nImageHeight; ++nRow)
            for (int x = 0; x < source.m_nImageWidth; ++x, ++n)
                ASSERT_EQ(converted.StorageRow(nRow)[x], aIndices[n]) << "row " << nRow << " x " << x;
    }
}

TEST_F(ColourConversionTest, TheCubeRulesAndWhite)
{
    CDIBImage white;
    ASSERT_TRUE(white.CreateImage(24, 2, 2, FILL_WHITE, 0, 0, 0, nullptr));
    white.StorageRow(0)[0] = 0;  // one blue-less pixel, so white is not the only colour
    CDIBImage cube, popular;
    ASSERT_TRUE(cube.CreateImage(8, &white, true, false, true, false, false));
    EXPECT_EQ(cube.StorageRow(1)[1], 215);
    // With the popular table, white that is not among the popular colours (one pixel
    // among 200 colours met twice each) falls to the cube's white, 124.
    CDIBImage many;
    MakeTiedPicture(many, 24, 200, 2, 7);
    std::memset(many.StorageRow(0), 255, 3);
    ASSERT_TRUE(popular.CreateImage(8, &many, true, false, true, true, false));
    ASSERT_LT(popular.FindPopularIndex(255, 255, 255), 0);
    EXPECT_EQ(popular.StorageRow(0)[0], 124);
}

TEST_F(ColourConversionTest, GreyOfAnIndexedPictureChangesOnlyItsTable)
{
    CDIBImage image;
    test::MakePatternPicture(image, 8, 9, 5);
    std::vector<std::uint8_t> aBefore(image.StorageRow(0), image.StorageRow(0) + image.m_nStride * 5);
    const SRGBQuad original = image.m_pRGBQuad[40];
    image.ConvertToGreyScale();
    EXPECT_TRUE(std::equal(aBefore.begin(), aBefore.end(), image.StorageRow(0)));
    const int nGrey = (original.rgbRed * 76 + original.rgbGreen * 150 + original.rgbBlue * 29) / 255;
    EXPECT_EQ(image.m_pRGBQuad[40], (SRGBQuad{std::uint8_t(nGrey), std::uint8_t(nGrey), std::uint8_t(nGrey), 0}));
    EXPECT_EQ(image.m_pPalette->GetEntry(40).peRed, nGrey);
    SRGBQuad aBitmapTable[256];
    image.GetDIBColours(0, 256, aBitmapTable);
    EXPECT_EQ(aBitmapTable[40], image.m_pRGBQuad[40]);
}

}  // namespace
}  // namespace gridmorph
