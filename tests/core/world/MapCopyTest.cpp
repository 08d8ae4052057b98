// Copying maps into one another by map position, cropping, and the new background map.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "errors/ErrorText.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"
#include "world/MapEdits.h"
#include "world/NewBackgroundMap.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

class MapCopyTest : public CPlatformTest {};

// A picture whose pixel centres lie on a grid of nCellCm centimetres, the bottom-left
// centre at (nWestCm, nSouthCm); every pixel tells its column and row apart.
void MakePlacedPicture(CDIBWorld& image, int nBits, int nWidth, int nHeight, double dWest, double dSouth, double dCell)
{
    test::MakePatternPicture(image, nBits, nWidth, nHeight);
    image.SetEdges({dWest, dSouth + dCell * (nHeight - 1), dWest + dCell * (nWidth - 1), dSouth});
}

void MakeWhiteMap(CDIBWorld& image, int nBits, int nWidth, int nHeight, double dWest, double dSouth, double dCell)
{
    ASSERT_TRUE(image.CreateImage(nBits, nWidth, nHeight, FILL_WHITE, 0, 0, 0, nullptr));
    image.SetEdges({dWest, dSouth + dCell * (nHeight - 1), dWest + dCell * (nWidth - 1), dSouth});
}

bool IsWhite(const CDIBWorld& image, int nRow, int x)
{
    const int nStep = image.m_nBitCount / 8;
    const std::uint8_t* p = image.StorageRow(nRow) + x * nStep;
    if (image.m_nBitCount == 8)
        return image.m_pRGBQuad[*p] == (SRGBQuad{255, 255, 255, 0});
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

TEST_F(MapCopyTest, AlignedMapsCopyTheirOverlapByteForByte)
{
    for (int nBits : {8, 24, 32}) {
        CDIBWorld dest, source;
        MakeWhiteMap(dest, nBits, 20, 15, 1000, 2000, 1);
        MakePlacedPicture(source, nBits, 8, 6, 1005, 2003, 1);  // columns 5..12, rows 3..8
        if (nBits == 8) {  // the same palette, so indices are copied as they are
            std::memcpy(dest.m_pRGBQuad.get(), source.m_pRGBQuad.get(), 1024);
            dest.UpdatePalette();
        }
        const std::vector<std::uint8_t> aBefore(dest.StorageRow(0), dest.StorageRow(0) + dest.m_nStride * 15);
        ASSERT_TRUE(source.CopyMap(&dest, &source, "src", false, kSrcCopy));
        const int nStep = nBits / 8;
        for (int nRow = 0; nRow < 15; ++nRow)
            for (int x = 0; x < 20; ++x) {
                const bool bInside = x >= 5 && x <= 12 && nRow >= 3 && nRow <= 8;
                if (bInside)
                    ASSERT_EQ(std::memcmp(dest.StorageRow(nRow) + x * nStep,
                                          source.StorageRow(nRow - 3) + (x - 5) * nStep, nStep),
                              0)
                        << nBits << " " << nRow << " " << x;
                else
                    ASSERT_EQ(std::memcmp(dest.StorageRow(nRow) + x * nStep, &aBefore[nRow * dest.m_nStride + x * nStep], nStep), 0)
                        << nBits << " " << nRow << " " << x;
            }
    }
}

TEST_F(MapCopyTest, NoPixelWhoseCentreLiesOutsideTheSourceIsWritten)
{
    // Source west edges 0.3 and 0.7 of a destination pixel east of column 4's centre.
    for (const double dOffset : {0.3, 0.7}) {
        CDIBWorld dest, source;
        MakeWhiteMap(dest, 24, 20, 10, 1000, 2000, 1);
        MakePlacedPicture(source, 24, 6, 10, 1004 + dOffset, 2000, 1);
        ASSERT_TRUE(source.CopyMap(&dest, &source, "src", false, kSrcCopy));
        EXPECT_TRUE(IsWhite(dest, 5, 4)) << dOffset;
        EXPECT_FALSE(IsWhite(dest, 5, 5)) << dOffset;
        EXPECT_FALSE(IsWhite(dest, 5, 9)) << dOffset;   // east edge at 1009.3 / 1009.7
        EXPECT_EQ(IsWhite(dest, 5, 10), true) << dOffset;
    }
}

TEST_F(MapCopyTest, SourcesOutsideTheDestinationChangeNothing)
{
    const double aPlaces[][2] = {{1100, 2000}, {1000, 2100}, {900, 2000}, {1000, 1900}};
    for (const auto& place : aPlaces) {
        CDIBWorld dest, source;
        MakeWhiteMap(dest, 24, 20, 10, 1000, 2000, 1);
        MakePlacedPicture(source, 24, 5, 5, place[0], place[1], 1);
        EXPECT_TRUE(source.CopyMap(&dest, &source, "src", false, kSrcCopy));
        for (int nRow = 0; nRow < 10; ++nRow)
            for (int x = 0; x < 20; ++x)
                ASSERT_TRUE(IsWhite(dest, nRow, x)) << place[0] << "," << place[1];
    }
}

TEST_F(MapCopyTest, ACoarserSourceFillsAboutTwoPixelsPerPixel)
{
    CDIBWorld dest, source;
    MakeWhiteMap(dest, 24, 11, 11, 0, 0, 1);
    MakePlacedPicture(source, 24, 6, 6, 0, 0, 2);
    ASSERT_TRUE(source.CopyMap(&dest, &source, "coarse", true, kSrcCopy));
    // Destination column x shows source column round(x / 2); row likewise.
    for (int nRow = 0; nRow < 11; ++nRow)
        for (int x = 0; x < 11; ++x)
            ASSERT_EQ(std::memcmp(dest.StorageRow(nRow) + 3 * x, source.StorageRow(int(nRow * 0.5 + 0.5)) + 3 * int(x * 0.5 + 0.5), 3), 0)
                << nRow << " " << x;
    using SEvent = CScriptedPlatform::SProgressEvent;
    const auto& aEvents = m_platform.ProgressEvents();
    ASSERT_EQ(aEvents.size(), 13u);
    EXPECT_EQ(aEvents.front().eType, SEvent::Start);
    EXPECT_EQ(aEvents.front().strText, "Copying coarse");
    EXPECT_EQ(aEvents.front().nUpper, 10);
    EXPECT_EQ(aEvents[11].nPosition, 10);
    EXPECT_EQ(aEvents.back().eType, SEvent::End);
}

// Blue, green, red of a pixel of any depth the copies handle.
std::array<std::uint8_t, 3> ColourOf(const CDIBWorld& image, int nRow, int x)
{
    const std::uint8_t* p = image.StorageRow(nRow) + x * (image.m_nBitCount / 8);
    if (image.m_nBitCount == 8) {
        const SRGBQuad& entry = image.m_pRGBQuad[*p];
        return {entry.rgbBlue, entry.rgbGreen, entry.rgbRed};
    }
    return {p[0], p[1], p[2]};
}

// The bytes CopyMap must leave in a destination pixel, by the depth pair and the raster
// operation, from the destination's pixel before the copy and the source's pixel.
std::vector<std::uint8_t> ExpectedPixel(const CDIBWorld& before, const CDIBWorld& source, bool bSameTable, bool bAnd,
                                        int nRow, int x)
{
    const int nDest = before.m_nBitCount, nSource = source.m_nBitCount;
    const std::uint8_t* pOld = before.StorageRow(nRow) + x * (nDest / 8);
    const std::uint8_t* pNew = source.StorageRow(nRow) + x * (nSource / 8);
    std::vector<std::uint8_t> aOld(pOld, pOld + nDest / 8);
    if ((nDest == 24 && nSource == 32) || (nDest == 32 && nSource == 24))
        return aOld;  // no rule for this pair: unchanged
    if (nDest == 8 && nSource == 8 && bSameTable && !bAnd)
        return {*pNew};  // the index as it is
    std::array<std::uint8_t, 3> colour = ColourOf(source, nRow, x);
    if (nDest == nSource && nDest != 8) {  // the bytes, fourth byte included
        std::vector<std::uint8_t> a(pNew, pNew + nDest / 8);
        for (std::size_t i = 0; bAnd && i < a.size(); ++i)
            a[i] &= aOld[i];
        return a;
    }
    if (bAnd) {
        const std::array<std::uint8_t, 3> old = ColourOf(before, nRow, x);
        for (int c = 0; c < 3; ++c)
            colour[static_cast<std::size_t>(c)] &= old[static_cast<std::size_t>(c)];
    }
    if (nDest == 8)
        return {static_cast<std::uint8_t>(before.m_pPalette->GetNearestPaletteIndex(colour[2], colour[1], colour[0]))};
    std::vector<std::uint8_t> a(colour.begin(), colour.end());
    if (nDest == 32)
        a.push_back(255);  // from an 8-bit source
    return a;
}

TEST_F(MapCopyTest, TheDepthTable)
{
    struct SCase {
        int nDest;
        int nSource;
        bool bSameTable;  // 8-bit pairs: the source has the destination's colour table
    };
    const SCase aCases[] = {{8, 8, true},    {8, 8, false},   {24, 24, false}, {32, 32, false}, {24, 8, false},
                            {32, 8, false},  {8, 24, false},  {8, 32, false},  {24, 32, false}, {32, 24, false}};
    for (const SCase& aCase : aCases) {
        std::vector<std::uint8_t> aCopied;
        for (const std::uint32_t nRop : {kSrcCopy, kSrcAnd}) {
            const bool bAnd = nRop == kSrcAnd;
            SCOPED_TRACE(testing::Message() << aCase.nSource << " into " << aCase.nDest << (aCase.bSameTable ? " same table" : "")
                                            << (bAnd ? " AND" : " copy"));
            // Both carry patterns, the source's shifted, so an AND differs from a copy.
            CDIBWorld dest, source, before;
            MakePlacedPicture(dest, aCase.nDest, 5, 4, 0, 0, 1);
            MakePlacedPicture(before, aCase.nDest, 5, 4, 0, 0, 1);
            MakePlacedPicture(source, aCase.nSource, 5, 4, 0, 0, 1);
            for (int nRow = 0; nRow < 4; ++nRow)
                for (int i = 0; i < 5 * aCase.nSource / 8; ++i)
                    source.StorageRow(nRow)[i] = static_cast<std::uint8_t>(source.StorageRow(nRow)[i] * 7 + 93);
            if (aCase.nSource == 8 && !aCase.bSameTable) {
                for (int i = 0; i < 256; ++i)
                    source.m_pRGBQuad[i] = SRGBQuad{std::uint8_t(255 - i), std::uint8_t(i * 3), std::uint8_t(i * 11 + 40), 0};
                source.UpdatePalette();
            }
            ASSERT_TRUE(source.CopyMap(&dest, &source, "", false, nRop));
            std::vector<std::uint8_t> aResult;
            for (int nRow = 0; nRow < 4; ++nRow)
                for (int x = 0; x < 5; ++x) {
                    const int nStep = aCase.nDest / 8;
                    const std::uint8_t* p = dest.StorageRow(nRow) + x * nStep;
                    ASSERT_EQ(std::vector<std::uint8_t>(p, p + nStep),
                              ExpectedPixel(before, source, aCase.bSameTable, bAnd, nRow, x))
                        << "row " << nRow << " column " << x;
                    aResult.insert(aResult.end(), p, p + nStep);
                }
            const bool bUnchanged = aCase.nDest + aCase.nSource == 56;  // 24 with 32
            if (!bAnd) {
                aCopied = aResult;
            } else if (!bUnchanged) {
                EXPECT_NE(aResult, aCopied);  // the AND is seen, not only a copy
            }
        }
    }
}

TEST_F(MapCopyTest, ChecksReportOnTheReportingImage)
{
    CDIBWorld dest, source, reporter, thin;
    MakeWhiteMap(dest, 24, 4, 4, 0, 0, 1);
    test::MakePatternPicture(source, 24, 4, 4);  // no georeference
    EXPECT_FALSE(reporter.CopyMap(&dest, &source, "", false, kSrcCopy));
    EXPECT_EQ(reporter.m_nErrorNumber, ERR_NO_WORLD_INFORMATION);
    EXPECT_EQ(source.m_nErrorNumber, ERR_NO_WORLD_INFORMATION);
    EXPECT_EQ(reporter.GetErrorMessage(), "No World file or transform information in file.\nIn source for CopyMap().");
    MakeWhiteMap(thin, 24, 1, 4, 0, 0, 1);
    CDIBWorld reporter2;
    EXPECT_FALSE(reporter2.CopyMap(&thin, &dest, "", false, kSrcCopy));
    EXPECT_EQ(reporter2.GetErrorMessage(), "Image size is too small.\nIn destination for CopyMap().");
}

// A rectangle reaching beyond the picture on any side: the pixels on the picture keep
// their places in the crop (column k shows source column left + k), the rest is white,
// and the crop's edges are those of the rectangle asked for.
TEST_F(MapCopyTest, CropReachingBeyondThePictureKeepsEveryPixelInPlace)
{
    struct SCase {
        SPixelWindow window;
    };
    const SCase aCases[] = {{{-5, 2, 6, 4}}, {{3, -3, 4, 5}}, {{-2, -1, 14, 11}}, {{7, 5, 6, 5}}, {{2, 1, 5, 4}}};
    for (const int nBits : {8, 24}) {
        for (const SCase& c : aCases) {
            const SPixelWindow& w = c.window;
            CDIBWorld source;
            MakePlacedPicture(source, nBits, 10, 8, 500, 100, 2);
            const SMadeMap made = CropMapSilent(source, w);
            ASSERT_TRUE(made.pMap) << made.FullText();
            EXPECT_TRUE(made.Succeeded()) << made.FullText();
            const CDIBWorld& cropped = *made.pMap;
            CDIBWorld blank;
            ASSERT_TRUE(blank.CreateImage(&source, w.nWidth, w.nHeight, 0));
            if (nBits == 24) {
                ASSERT_TRUE(IsWhite(blank, 0, 0));
            }
            ASSERT_EQ(cropped.m_nImageWidth, w.nWidth);
            ASSERT_EQ(cropped.m_nImageHeight, w.nHeight);
            const int nStep = nBits / 8;
            for (int r = 0; r < w.nHeight; ++r)
                for (int k = 0; k < w.nWidth; ++k) {
                    const int x = w.nLeft + k, y = w.nTop + r;  // the source pixel, rows from the top
                    if (x >= 0 && x < 10 && y >= 0 && y < 8)
                        ASSERT_EQ(std::memcmp(cropped.StorageRow(w.nHeight - 1 - r) + k * nStep,
                                              source.StorageRow(8 - 1 - y) + x * nStep, nStep),
                                  0)
                            << nBits << " bits, window " << w.nLeft << "," << w.nTop << ": " << k << "," << r;
                    else  // as a new picture of the map's depth is made: white, or the 8-bit fill index
                        ASSERT_EQ(std::memcmp(cropped.StorageRow(w.nHeight - 1 - r) + k * nStep,
                                              blank.StorageRow(w.nHeight - 1 - r) + k * nStep, nStep),
                                  0)
                            << nBits << " bits, window " << w.nLeft << "," << w.nTop << ": " << k << "," << r;
                }
            // Pixel centres 2 m apart, column 0 at 500 m, the top row at 114 m.
            EXPECT_EQ(cropped.GetWest(), 500.0 + 2 * w.nLeft);
            EXPECT_EQ(cropped.GetNorth(), 114.0 - 2 * w.nTop);
            EXPECT_EQ(cropped.GetEast(), 500.0 + 2 * (w.nLeft + w.nWidth - 1));
            EXPECT_EQ(cropped.GetSouth(), 114.0 - 2 * (w.nTop + w.nHeight - 1));
        }
    }
}

TEST_F(MapCopyTest, CropWhollyOutsideThePictureIsRefused)
{
    CDIBWorld source;
    MakePlacedPicture(source, 24, 10, 8, 500, 100, 2);
    const SPixelWindow aWindows[] = {{10, 0, 3, 3}, {0, 8, 3, 3}, {-3, 2, 3, 3}, {2, -4, 3, 4}, {40, 50, 5, 5}};
    for (const SPixelWindow& w : aWindows) {
        const SMadeMap made = CropMapSilent(source, w);
        EXPECT_FALSE(made.pMap) << w.nLeft << "," << w.nTop;
        EXPECT_FALSE(made.Succeeded());
        EXPECT_NE(made.FullText().find("lies wholly outside the 10 x 8 picture"), std::string::npos) << made.FullText();
    }
    const SMadeMap made = CropMapSilent(source, {10, 0, 3, 3});
    EXPECT_EQ(made.FullText(),
              "The rectangle to crop (columns 10 to 12, rows 0 to 2) lies wholly outside the 10 x 8 picture: there is "
              "nothing to crop.");

    CDIBWorld plain, plainDest;
    test::MakePatternPicture(plain, 24, 6, 6);
    ASSERT_TRUE(plainDest.CreateImage(&plain, 3, 3, 0));
    EXPECT_FALSE(plain.CropMap(&plainDest, 1, 1, 3, 3, kSrcCopy));
    EXPECT_EQ(plain.GetErrorMessage(), "No World file or transform information in file.\nIn source for CropMap().");
    EXPECT_EQ(std::memcmp(plainDest.StorageRow(2), plain.StorageRow(4) + 3, 9), 0);  // copied all the same
}

// The crop both the window and the command line make: the same map as the source's own
// cut, judged by what the cut did, not by an error the source had from before.
TEST_F(MapCopyTest, CropMapSilentCutsTheWindowWhateverErrorTheSourceHadBefore)
{
    CDIBWorld source, expected;
    MakePlacedPicture(source, 24, 10, 8, 500, 100, 2);
    ASSERT_TRUE(expected.CreateImage(&source, 6, 4, 0));
    ASSERT_TRUE(source.CropMap(&expected, -5, 2, 6, 4, kSrcCopy));
    source.m_nErrorNumber = ERR_SAVE_FAILED;  // left by an earlier step
    source.m_strErrorText = "\nan earlier failure";
    const SMadeMap made = CropMapSilent(source, {-5, 2, 6, 4});
    ASSERT_TRUE(made.pMap);
    EXPECT_TRUE(made.Succeeded()) << made.FullText();
    EXPECT_TRUE(made.aNotices.empty());
    const CDIBWorld& cropped = *made.pMap;
    ASSERT_EQ(cropped.m_nImageWidth, 6);
    ASSERT_EQ(cropped.m_nImageHeight, 4);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(std::memcmp(cropped.StorageRow(r), expected.StorageRow(r), 18), 0) << r;
    EXPECT_EQ(cropped.GetWest(), expected.GetWest());
    EXPECT_EQ(cropped.GetNorth(), expected.GetNorth());
    EXPECT_EQ(cropped.GetEast(), expected.GetEast());
    EXPECT_EQ(cropped.GetSouth(), expected.GetSouth());
}

TEST_F(MapCopyTest, CropMapSilentOfAnUnplacedMapGivesThePixelsAndTheSourcesError)
{
    CDIBWorld plain;
    test::MakePatternPicture(plain, 8, 6, 6);
    const SMadeMap made = CropMapSilent(plain, {1, 1, 3, 3});
    ASSERT_TRUE(made.pMap) << "the pixels are copied all the same";
    EXPECT_FALSE(made.pMap->HasWorld());
    EXPECT_EQ(made.nErrorNumber, ERR_NO_WORLD_INFORMATION);
    EXPECT_EQ(made.FullText(), "No World file or transform information in file.\nIn source for CropMap().");
    EXPECT_EQ(std::memcmp(made.pMap->StorageRow(2), plain.StorageRow(4) + 1, 3), 0);
}

TEST_F(MapCopyTest, ConvertMapSilentMakesANewMapAndLeavesTheSourceAsItWas)
{
    struct SCase {
        int nFrom, nTo;
    };
    for (const SCase aCase : {SCase{24, 8}, SCase{8, 24}, SCase{32, 24}, SCase{32, 8}}) {
        SCOPED_TRACE(std::to_string(aCase.nFrom) + " to " + std::to_string(aCase.nTo));
        CDIBWorld source, expected;
        MakePlacedPicture(source, aCase.nFrom, 9, 7, 500, 100, 2);
        const std::vector<std::uint8_t> aBefore(source.StorageRow(0), source.StorageRow(0) + 7 * source.m_nStride);
        ASSERT_TRUE(expected.CreateImage(aCase.nTo, &source, true, true, false, true, false));
        // Left by an earlier step (a refused crop, say): it once stopped the colour count and
        // left the 8-bit map's table unset.
        source.m_nErrorNumber = ERR_SAVE_FAILED;
        const SMadeMap made = ConvertMapSilent(source, aCase.nTo);
        ASSERT_TRUE(made.pMap);
        EXPECT_TRUE(made.Succeeded()) << made.FullText();
        EXPECT_EQ(made.pMap->m_nBitCount, aCase.nTo);
        EXPECT_EQ(std::memcmp(made.pMap->StorageRow(0), expected.StorageRow(0), 7 * expected.m_nStride), 0);
        EXPECT_EQ(made.pMap->GetWest(), 500.0);
        EXPECT_EQ(made.pMap->GetNorth(), 112.0);
        EXPECT_EQ(std::memcmp(source.StorageRow(0), aBefore.data(), aBefore.size()), 0);
        EXPECT_EQ(source.m_nErrorNumber, ERR_SAVE_FAILED) << "the map keeps its own report";
    }
}

TEST_F(MapCopyTest, BlockTransferCopiesPictureRowsFromTheTop)
{
    std::vector<std::uint8_t> aCopied;
    for (const std::uint32_t nRop : {kSrcCopy, kSrcAnd}) {
        SCOPED_TRACE(nRop == kSrcAnd ? "AND" : "copy");
        CDIBImage source, target, before;
        test::MakePatternPicture(source, 24, 30, 30);
        test::MakePatternPicture(target, 24, 8, 8);  // not white, so an AND shows
        test::MakePatternPicture(before, 24, 8, 8);
        ASSERT_TRUE(source.BitBlt(target, 0, 0, 10, 20, 5, 3, nRop));
        std::vector<std::uint8_t> aResult;
        for (int r = 0; r < 3; ++r)
            for (int i = 0; i < 15; ++i) {
                const std::uint8_t nSource = source.Bitmap()->PictureRow(20 + r)[30 + i];
                const std::uint8_t nOld = before.Bitmap()->PictureRow(r)[i];
                aResult.push_back(target.Bitmap()->PictureRow(r)[i]);
                ASSERT_EQ(aResult.back(), nRop == kSrcAnd ? (nSource & nOld) : nSource) << r << " " << i;
            }
        if (nRop == kSrcCopy)
            aCopied = aResult;
        else
            EXPECT_NE(aResult, aCopied);
        EXPECT_EQ(std::memcmp(target.Bitmap()->PictureRow(3), before.Bitmap()->PictureRow(3), 24), 0);  // outside
        EXPECT_EQ(source.m_nDCRefCount, 0);
        EXPECT_EQ(target.m_nDCRefCount, 0);
    }
}

class NewMapTest : public CPlatformTest {
protected:
    CTempFolder m_folder;
};

TEST_F(NewMapTest, RegionsSnapOutwardEvenWestOfAndBelowTheFirstImage)
{
    CDIBWorld grid;
    ASSERT_TRUE(grid.CreateImage(8, 11, 11, FILL_WHITE, 0, 0, 0, nullptr));
    grid.SetEdges({1000, 1100, 1100, 1000});  // 10 m pixels
    SSnappedRegion region;
    ASSERT_TRUE(SnapRegionToGrid(grid, 1013, 1027, 1041, 1052, region));
    EXPECT_EQ(region.dWest, 1010);
    EXPECT_EQ(region.dEast, 1050);
    EXPECT_EQ(region.dSouth, 1020);
    EXPECT_EQ(region.dNorth, 1060);
    EXPECT_EQ(region.nColumns, 5);
    EXPECT_EQ(region.nRows, 5);
    ASSERT_TRUE(SnapRegionToGrid(grid, 973, 955, 987, 995, region));  // negative offsets
    EXPECT_EQ(region.dWest, 970);
    EXPECT_EQ(region.dEast, 990);
    EXPECT_EQ(region.dSouth, 950);
    EXPECT_EQ(region.dNorth, 1000);
    EXPECT_EQ(region.nColumns, 3);
    EXPECT_EQ(region.nRows, 6);
}

TEST_F(NewMapTest, BuildsFromTheLastChosenToTheFirstAndSavesWithItsWorldFile)
{
    // A (red), B (green) and C (blue) overlap in the middle; A, chosen first and copied
    // last, wins there; where only B and C overlap, B wins.
    const char* aNames[] = {"a.png", "b.png", "c.png"};
    const std::uint8_t aColours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};  // red, green, blue
    for (int i = 0; i < 3; ++i) {
        CDIBWorld image;
        ASSERT_TRUE(image.CreateImage(24, 10, 10, FILL_COLOUR, aColours[i][0], aColours[i][1], aColours[i][2], nullptr));
        image.SetEdges({100.0 + 2 * i, 109.0 + 2 * i, 109.0 + 2 * i, 100.0 + 2 * i});
        image.SaveWorld(m_folder.Path(aNames[i]));
        ASSERT_EQ(image.m_nErrorNumber, 0);
    }
    SNewMapRequest request{m_folder.Path("new.gif"),
                           {m_folder.Path("a.png"), m_folder.Path("b.png"), m_folder.Path("c.png")},
                               {.dWest = 99.5, .dNorth = 114, .dEast = 114, .dSouth = 99.5}};
    const std::unique_ptr<CDIBWorld> pMap = BuildNewBackgroundMap(request);
    ASSERT_TRUE(pMap) << (MessageTexts().empty() ? "" : MessageTexts().front());
    EXPECT_EQ(pMap->m_nBitCount, 8);  // a .GIF name makes an 8-bit map
    EXPECT_EQ(pMap->m_nImageWidth, 16);  // 99..114
    EXPECT_EQ(pMap->GetWest(), 99);
    CDIBWorld saved;
    ASSERT_TRUE(saved.OpenWorld(m_folder.Path("new.gif"), true));
    auto ColourAt = [&](double dEasting, double dNorthing) {
        int x = int(dEasting * 100), y = int(dNorthing * 100);
        saved.MapToPixel(x, y, false);
        return saved.m_pRGBQuad[saved.StorageRow(y)[x]];
    };
    // The map's own colour nearest to image i's.
    auto Nearest = [&](int i) {
        return saved.m_pRGBQuad[saved.m_pPalette->GetNearestPaletteIndex(aColours[i][0], aColours[i][1], aColours[i][2])];
    };
    ASSERT_FALSE(Nearest(0) == Nearest(1));  // the three images differ at the tested pixels
    ASSERT_FALSE(Nearest(1) == Nearest(2));
    ASSERT_FALSE(Nearest(0) == Nearest(2));
    EXPECT_EQ(ColourAt(105, 105), Nearest(0));  // A, B and C
    EXPECT_EQ(ColourAt(110, 110), Nearest(1));  // B and C
    EXPECT_EQ(ColourAt(113, 113), Nearest(2));  // C alone
    EXPECT_EQ(ColourAt(99, 114), (SRGBQuad{255, 255, 255, 0}));  // covered by none: white

    // A based-on image without a georeference stops the build, and nothing is written.
    m_platform.ClearRecord();
    CDIBWorld bare;
    test::MakePatternPicture(bare, 24, 4, 4);
    bare.SaveDIB(m_folder.Path("bare.png"));
    request.strFileName = m_folder.Path("second.png");
    request.aBasedOn.push_back(m_folder.Path("bare.png"));
    EXPECT_FALSE(BuildNewBackgroundMap(request));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"No World file or transform information in file."});
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("second.png")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("second.PGW")));
}

TEST_F(NewMapTest, AJpegNameMakesAFullColourMapFromAnIndexedFirstImage)
{
    CDIBWorld first;
    MakePlacedPicture(first, 8, 10, 10, 100, 100, 1);
    ASSERT_EQ(first.SaveWorld(m_folder.Path("first.gif")), ESaveResult::Written);
    const SNewMapRequest request{m_folder.Path("new.JPG"), {m_folder.Path("first.gif")},
        {.dWest = 100, .dNorth = 109, .dEast = 109, .dSouth = 100}};
    const std::unique_ptr<CDIBWorld> pMap = BuildNewBackgroundMap(request);
    ASSERT_TRUE(pMap) << (MessageTexts().empty() ? "" : MessageTexts().front());
    EXPECT_EQ(pMap->m_nBitCount, 24);
    EXPECT_EQ(pMap->m_nErrorNumber, 0);
    CDIBWorld saved;
    ASSERT_TRUE(saved.OpenWorld(m_folder.Path("new.JPG"), true));
    EXPECT_EQ(saved.m_nBitCount, 24);
    EXPECT_EQ(saved.GetEastCm(), 10900);
    EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path("new.JGW")));
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(NewMapTest, AFailedSaveLeavesThePreviousFilesAsTheyWere)
{
    // The picture and its world file are replaced together or not at all: a world file
    // that cannot be written keeps the old picture, a picture that cannot be written
    // keeps the old world file.
    CDIBWorld first;
    MakePlacedPicture(first, 24, 10, 10, 100, 100, 1);
    ASSERT_EQ(first.SaveWorld(m_folder.Path("first.png")), ESaveResult::Written);
    struct SCase {
        const char* pName;
        const char* pBlocked;  // a folder stands where this file would go
        const char* pKept;     // a previous file that must stay as it was
        int nErrorNumber;
    };
    const SCase aCases[] = {
        {"world.bmp", "world.BPW", "world.bmp", ERR_WORLD_FILE_WRITE},
        {"picture.bmp", "picture.bmp", "picture.BPW", ERR_SAVE_FAILED},
    };
    for (const SCase& aCase : aCases) {
        m_platform.ClearRecord();
        std::filesystem::create_directory(m_folder.Path(aCase.pBlocked));
        test::WriteBytes(m_folder.Path(aCase.pKept), {'o', 'l', 'd'});
        const auto aBefore = std::distance(std::filesystem::directory_iterator(m_folder.Root()), {});
        const SNewMapRequest request{m_folder.Path(aCase.pName), {m_folder.Path("first.png")},
            {.dWest = 100, .dNorth = 109, .dEast = 109, .dSouth = 100}};
        EXPECT_FALSE(BuildNewBackgroundMap(request)) << aCase.pName;
        EXPECT_EQ(test::ReadBytes(m_folder.Path(aCase.pKept)), (std::vector<std::uint8_t>{'o', 'l', 'd'})) << aCase.pName;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.Root()), {}), aBefore) << aCase.pName;
        ASSERT_EQ(MessageTexts().size(), 2u) << aCase.pName;
        EXPECT_EQ(MessageTexts()[1].rfind(GetErrorText(aCase.nErrorNumber), 0), 0u) << MessageTexts()[1];
    }
}

}  // namespace
}  // namespace gridmorph
