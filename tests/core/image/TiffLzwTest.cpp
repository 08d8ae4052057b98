// The program's own LZW strips against libtiff's: the same bytes for strips of every kind
// (short and long, compressible and not, the dictionary filled and cleared by the ratio
// check), with and without the horizontal predictor.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/codecs/TiffLzw.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

// libtiff's compressed strip of the given rows: a one-strip file of nWidth pixels of
// nSamples 8-bit samples written with LZW (and the horizontal predictor when asked), read
// back raw.
std::vector<std::uint8_t> LibtiffStrip(const std::string& strPath, const std::vector<std::uint8_t>& aRows, int nWidth,
                                       int nSamples, bool bPredictor)
{
    const std::uint32_t nHeight = static_cast<std::uint32_t>(aRows.size() / (std::size_t(nWidth) * nSamples));
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
    if (!pTiff)
        return {};
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(nWidth));
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, nHeight);
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, nSamples);
    TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, nSamples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (bPredictor)
        TIFFSetField(pTiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, nHeight);
    std::vector<std::uint8_t> aCopy = aRows;
    const bool bWritten = TIFFWriteEncodedStrip(pTiff, 0, aCopy.data(), static_cast<tmsize_t>(aCopy.size())) >= 0;
    TIFFClose(pTiff);
    if (!bWritten)
        return {};
    pTiff = TIFFOpen(strPath.c_str(), "r");
    if (!pTiff)
        return {};
    std::vector<std::uint8_t> aStrip(static_cast<std::size_t>(TIFFRawStripSize(pTiff, 0)));
    const tmsize_t nRead = TIFFReadRawStrip(pTiff, 0, aStrip.data(), static_cast<tmsize_t>(aStrip.size()));
    TIFFClose(pTiff);
    aStrip.resize(nRead < 0 ? 0 : std::size_t(nRead));
    return aStrip;
}

// Input bytes of a named kind.
std::vector<std::uint8_t> MakeBytes(const std::string& strKind, std::size_t nBytes)
{
    std::vector<std::uint8_t> a(nBytes);
    std::mt19937 random(7);
    double dLevel = 128;
    for (std::size_t i = 0; i < nBytes; ++i) {
        if (strKind == "random") {
            a[i] = static_cast<std::uint8_t>(random());
        } else if (strKind == "constant") {
            a[i] = 42;
        } else if (strKind == "gradient") {
            a[i] = static_cast<std::uint8_t>(i / 97);
        } else if (strKind == "walk") {  // a scan-like wandering level with noise
            dLevel += std::uniform_real_distribution<double>(-3, 3)(random);
            dLevel = dLevel < 0 ? 0 : dLevel > 255 ? 255 : dLevel;
            a[i] = static_cast<std::uint8_t>(dLevel + std::uniform_int_distribution<int>(-2, 2)(random));
        } else {  // "blocks": plain paper, then noise, then a few colours again, so the ratio falls and rises
            const std::size_t nBlock = (i / 7000) % 3;
            a[i] = nBlock == 0 ? 250 : nBlock == 1 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(i % 5);
        }
    }
    return a;
}

struct SLzwCase {
    const char* pKind;
    std::size_t nBytes;
};

class TiffLzwTest : public ::testing::TestWithParam<SLzwCase> {};

TEST_P(TiffLzwTest, StripsAreLibtiffsByteForByte)
{
    test::CTempFolder folder;
    const SLzwCase& c = GetParam();
    const std::vector<std::uint8_t> aBytes = MakeBytes(c.pKind, c.nBytes);
    CTiffLzwEncoder encoder;
    // Grey rows of one sample, one row per strip.
    std::vector<std::uint8_t> aOurs = {0xEE};  // appended after what is there
    encoder.EncodeStrip(aBytes.data(), aBytes.size(), aOurs);
    const std::vector<std::uint8_t> aTheirs = LibtiffStrip(folder.Path("grey.tif"), aBytes, int(c.nBytes), 1, false);
    ASSERT_FALSE(aTheirs.empty());
    ASSERT_EQ(aOurs.front(), 0xEE);
    EXPECT_EQ(std::vector<std::uint8_t>(aOurs.begin() + 1, aOurs.end()), aTheirs);
    // Our decoder gives the bytes back from libtiff's strip.
    std::vector<std::uint8_t> aDecoded(aBytes.size() + kLzwDecodeSlack);
    ASSERT_TRUE(DecodeTiffLzwStrip(aTheirs.data(), aTheirs.size(), aDecoded.data(), aBytes.size()));
    aDecoded.resize(aBytes.size());
    EXPECT_TRUE(aDecoded == aBytes) << "decoded";

    // Full-colour rows through the horizontal predictor, several rows in a strip; the same
    // encoder again (its dictionary starts afresh).
    const int nWidth = 60;
    std::vector<std::uint8_t> aRows(aBytes.begin(), aBytes.begin() + std::ptrdiff_t(aBytes.size() / 180 * 180));
    if (aRows.empty())
        return;
    const std::vector<std::uint8_t> aTheirRows = LibtiffStrip(folder.Path("rgb.tif"), aRows, nWidth, 3, true);
    ASSERT_FALSE(aTheirRows.empty());
    const std::vector<std::uint8_t> aPlainRows = aRows;
    DifferenceTiffRows(aRows.data(), std::size_t(nWidth) * 3, aRows.size() / 180, 3);
    std::vector<std::uint8_t> aOurRows;
    encoder.EncodeStrip(aRows.data(), aRows.size(), aOurRows);
    EXPECT_EQ(aOurRows, aTheirRows);
    // Decoded and the predictor undone: the rows.
    std::vector<std::uint8_t> aDecodedRows(aRows.size() + kLzwDecodeSlack);
    ASSERT_TRUE(DecodeTiffLzwStrip(aTheirRows.data(), aTheirRows.size(), aDecodedRows.data(), aRows.size()));
    aDecodedRows.resize(aRows.size());
    AccumulateTiffRows(aDecodedRows.data(), std::size_t(nWidth) * 3, aRows.size() / 180, 3);
    EXPECT_TRUE(aDecodedRows == aPlainRows) << "decoded with the predictor";
}

INSTANTIATE_TEST_SUITE_P(Kinds, TiffLzwTest,
                         ::testing::Values(SLzwCase{"random", 1}, SLzwCase{"random", 2}, SLzwCase{"constant", 700},
                                           SLzwCase{"random", 9999}, SLzwCase{"walk", 10001},
                                           SLzwCase{"gradient", 65536}, SLzwCase{"walk", 120000},
                                           SLzwCase{"random", 250000}, SLzwCase{"blocks", 300000},
                                           SLzwCase{"constant", 9000000}),
                         [](const ::testing::TestParamInfo<SLzwCase>& info) {
                             return std::string(info.param.pKind) + std::to_string(info.param.nBytes);
                         });

TEST(TiffPredictorTest, TheFusedFullColourRowIsTheSwapThenTheDifference)
{
    for (const int nPixels : {0, 1, 2, 7, 1000}) {
        const std::vector<std::uint8_t> aBgr = MakeBytes("random", std::size_t(nPixels) * 3);
        std::vector<std::uint8_t> aExpected(aBgr.size()), aFused(aBgr.size());
        for (int x = 0; x < nPixels; ++x)
            for (int n = 0; n < 3; ++n)
                aExpected[3 * std::size_t(x) + n] = aBgr[3 * std::size_t(x) + 2 - n];
        DifferenceTiffRows(aExpected.data(), aExpected.size(), 1, 3);
        SwapAndDifferenceRow(aBgr.data(), aFused.data(), nPixels);
        EXPECT_EQ(aFused, aExpected) << nPixels << " pixels";
    }
}

// Every strip length up to past the first clearing of the dictionary, on random bytes: the
// last code of some of them makes the decoder's next entry cross a code width or fill the
// dictionary, which decides the width of the end code.
// libtiff's reading of a raw LZW strip of nBytes grey pixels (one row): false when it fails.
bool LibtiffDecode(const std::string& strPath, const std::vector<std::uint8_t>& aRaw, std::size_t nBytes,
                   std::vector<std::uint8_t>& aDecoded)
{
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
    if (!pTiff)
        return false;
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(nBytes));
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, 1u);
    std::vector<std::uint8_t> aCopy = aRaw;
    TIFFWriteRawStrip(pTiff, 0, aCopy.data(), static_cast<tmsize_t>(aCopy.size()));
    TIFFClose(pTiff);
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    pTiff = TIFFOpen(strPath.c_str(), "r");
    if (!pTiff)
        return false;
    aDecoded.assign(nBytes, 0);
    const tmsize_t nRead = TIFFReadEncodedStrip(pTiff, 0, aDecoded.data(), static_cast<tmsize_t>(nBytes));
    TIFFClose(pTiff);
    return nRead == static_cast<tmsize_t>(nBytes);
}

// Every strip length decodes to its bytes; and a damaged strip (bytes changed, cut short,
// trailing bytes, an old-style start) is either refused, leaving it to libtiff, or decoded
// to exactly what libtiff makes of it: the decoder never gives a picture libtiff would not.
TEST(TiffLzwDecodeTest, CleanStripsDecodeAndDamagedOnesAreLeftToLibtiffOrReadAsItReadsThem)
{
    test::CTempFolder folder;
    const std::vector<std::uint8_t> aBytes = MakeBytes("walk", 3000);
    CTiffLzwEncoder encoder;
    for (std::size_t nLength = 1; nLength <= aBytes.size(); nLength += nLength < 300 ? 1 : 37) {
        std::vector<std::uint8_t> aStrip;
        encoder.EncodeStrip(aBytes.data(), nLength, aStrip);
        std::vector<std::uint8_t> aDecoded(nLength + kLzwDecodeSlack);
        ASSERT_TRUE(DecodeTiffLzwStrip(aStrip.data(), aStrip.size(), aDecoded.data(), nLength)) << nLength << " bytes";
        EXPECT_TRUE(std::equal(aBytes.begin(), aBytes.begin() + std::ptrdiff_t(nLength), aDecoded.begin()))
            << nLength << " bytes";
    }
    std::mt19937 random(11);
    const std::size_t nLength = 2500;
    std::vector<std::uint8_t> aClean;
    encoder.EncodeStrip(aBytes.data(), nLength, aClean);
    int nDecodedDamaged = 0, nRefused = 0;
    for (int nTrial = 0; nTrial < 300; ++nTrial) {
        std::vector<std::uint8_t> aRaw = aClean;
        switch (nTrial % 4) {
        case 0:  // a few bytes changed
            for (int k = 0; k < 1 + nTrial % 3; ++k)
                aRaw[random() % aRaw.size()] = static_cast<std::uint8_t>(random());
            break;
        case 1:  // cut short
            aRaw.resize(random() % aRaw.size());
            break;
        case 2:  // bytes after the end, the end code changed
            aRaw.back() ^= static_cast<std::uint8_t>(1 + random() % 255);
            for (int k = 0; k < 20; ++k)
                aRaw.push_back(static_cast<std::uint8_t>(random()));
            break;
        default:  // the first code changed (an old-style start among them)
            aRaw[0] = static_cast<std::uint8_t>(nTrial % 8 == 3 ? 0 : random());
            aRaw[1] = static_cast<std::uint8_t>(random() | (nTrial % 8 == 3 ? 1 : 0));
            break;
        }
        std::vector<std::uint8_t> aOurs(nLength + kLzwDecodeSlack), aTheirs;
        const bool bOurs = DecodeTiffLzwStrip(aRaw.data(), aRaw.size(), aOurs.data(), nLength);
        if (!bOurs) {
            ++nRefused;
            continue;
        }
        ++nDecodedDamaged;
        ASSERT_TRUE(LibtiffDecode(folder.Path("damaged.tif"), aRaw, nLength, aTheirs))
            << "trial " << nTrial << ": decoded here, refused by libtiff";
        aOurs.resize(nLength);
        EXPECT_TRUE(aOurs == aTheirs) << "trial " << nTrial << ": decoded differently from libtiff";
    }
    // Both ways were taken, so both were checked.
    EXPECT_GT(nRefused, 0);
    EXPECT_GT(nDecodedDamaged, 0);
    std::vector<std::uint8_t> aOld = {0x00, 0x01, 0x02, 0x03}, aOut(4 + kLzwDecodeSlack);
    EXPECT_FALSE(DecodeTiffLzwStrip(aOld.data(), aOld.size(), aOut.data(), 4)) << "an old-style start";
}

TEST(TiffLzwEndTest, StripsOfEveryLengthEndAsLibtiffsDo)
{
    test::CTempFolder folder;
    const std::vector<std::uint8_t> aBytes = MakeBytes("random", 4600);
    CTiffLzwEncoder encoder;
    int nDifferent = 0;
    for (std::size_t nLength = 1; nLength <= aBytes.size() && nDifferent < 5; ++nLength) {
        const std::vector<std::uint8_t> aStrip(aBytes.begin(), aBytes.begin() + std::ptrdiff_t(nLength));
        std::vector<std::uint8_t> aOurs;
        encoder.EncodeStrip(aStrip.data(), aStrip.size(), aOurs);
        const std::vector<std::uint8_t> aTheirs = LibtiffStrip(folder.Path("strip.tif"), aStrip, int(nLength), 1, false);
        if (aOurs != aTheirs) {
            ++nDifferent;
            ADD_FAILURE() << "a strip of " << nLength << " bytes differs from libtiff's";
        }
    }
}

}  // namespace
}  // namespace gridmorph
