// Saves made with one, two and three threads are the same file, byte for byte; the files
// open in libpng and libtiff with the saved pixels; compressed TIFF strips are the ones
// libtiff itself writes strip by strip.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/DIBImage.h"
#include "image/codecs/ImageCodec.h"
#include "parallel/Threads.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using namespace gridmorph::test;

// Bytes of smooth gradients (which deflate well and reach back into earlier rows) with
// noisy stretches (which do not), so every band has both long matches and literals.
void FillScanLikeRow(std::uint8_t* pRow, std::size_t nBytes, int nRow, std::uint32_t& nSeed)
{
    const bool bNoisyRow = (nRow / 7) % 5 == 3;
    for (std::size_t i = 0; i < nBytes; ++i) {
        nSeed = nSeed * 1664525u + 1013904223u;
        const bool bNoise = bNoisyRow || (i / 97) % 11 == 4;
        pRow[i] = bNoise ? static_cast<std::uint8_t>(nSeed >> 24)
                         : static_cast<std::uint8_t>((i / 3 + std::size_t(nRow) / 2 + (i % 3) * 40) & 255);
    }
}

// A picture of the given depth; 1- and 4-bit ones come from a bitmap file, as they do in use.
void MakeScanLikePicture(CDIBImage& image, int nBitCount, int nWidth, int nHeight, const std::string& strScratch)
{
    SRGBQuad aTable[256];
    for (int i = 0; i < 256; ++i)
        aTable[i] = SRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                             static_cast<std::uint8_t>((i * 7) & 255), 0};
    std::uint32_t nSeed = 12345;
    const std::size_t nRowBytes = (static_cast<std::size_t>(nWidth) * nBitCount + 7) / 8;
    if (nBitCount < 8) {
        SBmpSpec bitmap;
        bitmap.nWidth = nWidth;
        bitmap.nHeight = nHeight;
        bitmap.nBitCount = nBitCount;
        for (int i = 0; i < (1 << nBitCount); ++i)
            bitmap.aTable.insert(bitmap.aTable.end(), {aTable[i].rgbBlue, aTable[i].rgbGreen, aTable[i].rgbRed, 0});
        const std::size_t nStride = (nRowBytes + 3) & ~std::size_t(3);
        bitmap.aPixels.assign(nStride * static_cast<std::size_t>(nHeight), 0);
        const int nSpareBits = static_cast<int>(nRowBytes * 8) - nWidth * nBitCount;
        for (int nRow = 0; nRow < nHeight; ++nRow) {
            std::uint8_t* pRow = bitmap.aPixels.data() + nStride * static_cast<std::size_t>(nRow);
            FillScanLikeRow(pRow, nRowBytes, nRow, nSeed);
            pRow[nRowBytes - 1] = static_cast<std::uint8_t>(pRow[nRowBytes - 1] & (0xFF << nSpareBits));  // no pixel there
        }
        WriteBytes(strScratch, BuildBmp(bitmap));
        ASSERT_TRUE(image.OpenDIB(strScratch)) << image.m_strErrorText;
        ASSERT_EQ(image.m_nBitCount, nBitCount);
        return;
    }
    ASSERT_TRUE(image.CreateImage(nBitCount, nWidth, nHeight, FILL_NONE, 0, 0, 0, nBitCount == 8 ? aTable : nullptr));
    for (int nRow = 0; nRow < nHeight; ++nRow)
        FillScanLikeRow(image.StorageRow(nRow), nRowBytes, nRow, nSeed);
}

struct SEncodeCase {
    const char* pExtension;
    ETiffCompression eCompression;
    int nBits;
    int nWidth;
    int nHeight;
    int nPngFilters = -1;  // the encoder's choice, or a PNG_FILTER_* mask
};

std::string CaseName(const SEncodeCase& aCase)
{
    const char* apCompression[] = {"", " lzw", " deflate"};
    return std::string(aCase.pExtension) + apCompression[static_cast<int>(aCase.eCompression)] + " " +
           std::to_string(aCase.nBits) + "-bit " + std::to_string(aCase.nWidth) + "x" + std::to_string(aCase.nHeight) +
           (aCase.nPngFilters >= 0 ? " filters " + std::to_string(aCase.nPngFilters) : std::string());
}

// Sizes big enough for several PNG bands (a megabyte of rows each) and several groups of
// TIFF strips, with widths that leave partial bytes and an odd last strip.
const SEncodeCase kCases[] = {
    {"png", ETiffCompression::None, 24, 1100, 1000},   {"png", ETiffCompression::None, 32, 601, 523},
    {"png", ETiffCompression::None, 8, 1500, 1401},    {"png", ETiffCompression::None, 4, 333, 200},
    {"png", ETiffCompression::None, 1, 1001, 50},      {"png", ETiffCompression::None, 24, 3, 40000},
    {"png", ETiffCompression::None, 24, 1100, 1000, 0xF8}, {"png", ETiffCompression::None, 32, 601, 523, 0xF8},
    {"png", ETiffCompression::None, 8, 1500, 1401, 0xF8},
    {"tif", ETiffCompression::Lzw, 24, 1100, 1001},    {"tif", ETiffCompression::Lzw, 32, 601, 523},
    {"tif", ETiffCompression::Lzw, 8, 1500, 901},      {"tif", ETiffCompression::Lzw, 4, 333, 200},
    {"tif", ETiffCompression::Deflate, 24, 1100, 1001}, {"tif", ETiffCompression::Deflate, 32, 601, 523},
    {"tif", ETiffCompression::Deflate, 8, 1500, 901},  {"tif", ETiffCompression::Deflate, 1, 2001, 300},
};

class EncoderThreadsTest : public CPlatformTest {
protected:
    CTempFolder m_folder;
};

TEST_F(EncoderThreadsTest, OneTwoAndThreeThreadsWriteTheSameFileWithTheSavedPixels)
{
    for (const SEncodeCase& aCase : kCases) {
        SCOPED_TRACE(CaseName(aCase));
        CDIBImage picture;
        MakeScanLikePicture(picture, aCase.nBits, aCase.nWidth, aCase.nHeight, m_folder.Path("source.bmp"));
        SEncodeOptions options;
        options.eTiffCompression = aCase.eCompression;
        options.nPngFilters = aCase.nPngFilters;  // 0xF8: all five, chosen row by row
        std::vector<std::uint8_t> aFirst;
        for (const int nThreads : {1, 2, 3}) {
            CScopedThreadCount threads(nThreads);
            const std::string strPath = m_folder.Path("map" + std::to_string(nThreads) + "." + aCase.pExtension);
            picture.SaveDIB(strPath, options);
            ASSERT_EQ(picture.m_nErrorNumber, 0) << picture.m_strErrorText;
            const std::vector<std::uint8_t> aBytes = ReadBytes(strPath);
            if (nThreads == 1)
                aFirst = aBytes;
            else
                EXPECT_TRUE(aBytes == aFirst) << nThreads << " threads wrote a different file";

            CDIBImage reopened;
            ASSERT_TRUE(reopened.OpenDIB(strPath)) << reopened.m_strErrorText;
            EXPECT_TRUE(SamePicture(picture, reopened));
        }
    }
}

// The rows of a picture as libtiff takes them: red, green, blue (alpha) or indices.
std::vector<std::uint8_t> TiffRows(const CDIBImage& picture, int nFirst, int nCount)
{
    const int nBits = picture.m_nBitCount;
    const std::size_t nRowBytes = nBits <= 8 ? (static_cast<std::size_t>(picture.m_nImageWidth) * nBits + 7) / 8
                                             : static_cast<std::size_t>(picture.m_nImageWidth) * (nBits / 8);
    std::vector<std::uint8_t> aRows(nRowBytes * static_cast<std::size_t>(nCount));
    for (int r = 0; r < nCount; ++r) {
        const std::uint8_t* pSource = picture.StorageRow(picture.m_nImageHeight - 1 - (nFirst + r));
        std::uint8_t* pTarget = aRows.data() + nRowBytes * static_cast<std::size_t>(r);
        std::memcpy(pTarget, pSource, nRowBytes);
        if (nBits > 8)
            for (std::size_t i = 0; i < nRowBytes; i += std::size_t(nBits / 8))
                std::swap(pTarget[i], pTarget[i + 2]);
    }
    return aRows;
}

TEST_F(EncoderThreadsTest, CompressedTiffStripsAreTheOnesLibtiffWritesStripByStrip)
{
    CScopedThreadCount threads(2);
    for (const SEncodeCase& aCase : kCases) {
        if (aCase.eCompression == ETiffCompression::None)
            continue;
        SCOPED_TRACE(CaseName(aCase));
        CDIBImage picture;
        MakeScanLikePicture(picture, aCase.nBits, aCase.nWidth, aCase.nHeight, m_folder.Path("source.bmp"));
        SEncodeOptions options;
        options.eTiffCompression = aCase.eCompression;
        const std::string strOurs = m_folder.Path("ours.tif");
        picture.SaveDIB(strOurs, options);
        ASSERT_EQ(picture.m_nErrorNumber, 0) << picture.m_strErrorText;

        TIFF* pOurs = TIFFOpen(strOurs.c_str(), "r");
        ASSERT_NE(pOurs, nullptr);
        std::uint32_t nRowsPerStrip = 0;
        std::uint16_t nCompression = 0, nPredictor = 0;
        TIFFGetField(pOurs, TIFFTAG_ROWSPERSTRIP, &nRowsPerStrip);
        TIFFGetField(pOurs, TIFFTAG_COMPRESSION, &nCompression);
        TIFFGetFieldDefaulted(pOurs, TIFFTAG_PREDICTOR, &nPredictor);
        EXPECT_EQ(nCompression, aCase.eCompression == ETiffCompression::Lzw ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE);
        EXPECT_EQ(nPredictor, aCase.nBits > 8 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);

        // The same picture through libtiff alone, one TIFFWriteEncodedStrip per strip.
        const std::string strReference = m_folder.Path("reference.tif");
        TIFF* pReference = TIFFOpen(strReference.c_str(), "w");
        ASSERT_NE(pReference, nullptr);
        const bool bIndexed = aCase.nBits <= 8;
        TIFFSetField(pReference, TIFFTAG_IMAGEWIDTH, std::uint32_t(aCase.nWidth));
        TIFFSetField(pReference, TIFFTAG_IMAGELENGTH, std::uint32_t(aCase.nHeight));
        TIFFSetField(pReference, TIFFTAG_BITSPERSAMPLE, bIndexed ? aCase.nBits : 8);
        TIFFSetField(pReference, TIFFTAG_SAMPLESPERPIXEL, bIndexed ? 1 : aCase.nBits / 8);
        TIFFSetField(pReference, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(pReference, TIFFTAG_PHOTOMETRIC, bIndexed ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
        if (aCase.nBits == 32) {
            const std::uint16_t nAlpha = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(pReference, TIFFTAG_EXTRASAMPLES, 1, &nAlpha);
        }
        TIFFSetField(pReference, TIFFTAG_COMPRESSION, nCompression);
        if (!bIndexed)
            TIFFSetField(pReference, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(pReference, TIFFTAG_ROWSPERSTRIP, nRowsPerStrip);
        std::vector<std::uint16_t> aMap(3u << 8, 0);
        if (bIndexed)
            TIFFSetField(pReference, TIFFTAG_COLORMAP, aMap.data(), aMap.data() + 256, aMap.data() + 512);
        const std::uint32_t nStrips = TIFFNumberOfStrips(pOurs);
        for (std::uint32_t nStrip = 0; nStrip < nStrips; ++nStrip) {
            const int nFirst = static_cast<int>(nStrip * nRowsPerStrip);
            const int nCount = std::min<int>(static_cast<int>(nRowsPerStrip), aCase.nHeight - nFirst);
            std::vector<std::uint8_t> aRows = TiffRows(picture, nFirst, nCount);
            ASSERT_GE(TIFFWriteEncodedStrip(pReference, nStrip, aRows.data(), tmsize_t(aRows.size())), 0);
        }
        TIFFClose(pReference);

        pReference = TIFFOpen(strReference.c_str(), "r");
        ASSERT_NE(pReference, nullptr);
        ASSERT_EQ(TIFFNumberOfStrips(pReference), nStrips);
        EXPECT_GT(nStrips, 1u);
        for (std::uint32_t nStrip = 0; nStrip < nStrips; ++nStrip) {
            const std::uint64_t nBytes = TIFFGetStrileByteCount(pOurs, nStrip);
            ASSERT_EQ(nBytes, TIFFGetStrileByteCount(pReference, nStrip)) << "strip " << nStrip;
            std::vector<std::uint8_t> aOurs(nBytes), aTheirs(nBytes);
            ASSERT_EQ(TIFFReadRawStrip(pOurs, nStrip, aOurs.data(), tmsize_t(nBytes)), tmsize_t(nBytes));
            ASSERT_EQ(TIFFReadRawStrip(pReference, nStrip, aTheirs.data(), tmsize_t(nBytes)), tmsize_t(nBytes));
            ASSERT_TRUE(aOurs == aTheirs) << "strip " << nStrip;
        }
        TIFFClose(pReference);
        TIFFClose(pOurs);
    }
}

}  // namespace
}  // namespace gridmorph
