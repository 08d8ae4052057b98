#include "support/FixtureFiles.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace gridmorph::test {
namespace {

void Put16(std::vector<std::uint8_t>& a, std::size_t n, std::uint32_t v)
{
    a[n] = std::uint8_t(v);
    a[n + 1] = std::uint8_t(v >> 8);
}
void Put32(std::vector<std::uint8_t>& a, std::size_t n, std::uint32_t v)
{
    Put16(a, n, v);
    Put16(a, n + 2, v >> 16);
}

}  // namespace

std::vector<std::uint8_t> BuildBmp(const SBmpSpec& fixture)
{
    const bool bMasksAfterHeader = fixture.nHeaderSize == 40 && !fixture.aMasks.empty();
    const std::size_t nMaskBytes = bMasksAfterHeader ? fixture.aMasks.size() * 4 : 0;
    const std::size_t nOffset = 14 + fixture.nHeaderSize + nMaskBytes + fixture.aTable.size();
    std::vector<std::uint8_t> a(nOffset, 0);
    a[0] = 'B';
    a[1] = 'M';
    Put32(a, 2, static_cast<std::uint32_t>(nOffset + fixture.aPixels.size()));
    Put32(a, 10, static_cast<std::uint32_t>(nOffset));
    Put32(a, 14, fixture.nHeaderSize);
    if (fixture.nHeaderSize == 12) {
        Put16(a, 18, static_cast<std::uint32_t>(fixture.nWidth));
        Put16(a, 20, static_cast<std::uint32_t>(fixture.nHeight));
        Put16(a, 22, 1);
        Put16(a, 24, static_cast<std::uint32_t>(fixture.nBitCount));
    } else {
        Put32(a, 18, static_cast<std::uint32_t>(fixture.nWidth));
        Put32(a, 22, static_cast<std::uint32_t>(fixture.nHeight));
        Put16(a, 26, 1);
        Put16(a, 28, static_cast<std::uint32_t>(fixture.nBitCount));
        Put32(a, 30, fixture.nCompression);
        Put32(a, 34, static_cast<std::uint32_t>(fixture.aPixels.size()));
        Put32(a, 46, fixture.nColoursUsed);
        const std::size_t nMaskAt = bMasksAfterHeader ? 54 : 54;  // V4/V5 keep them at the same place
        for (std::size_t i = 0; i < fixture.aMasks.size(); ++i)
            Put32(a, nMaskAt + 4 * i, fixture.aMasks[i]);
    }
    if (!fixture.aTable.empty())
        std::memcpy(a.data() + 14 + fixture.nHeaderSize + nMaskBytes, fixture.aTable.data(), fixture.aTable.size());
    a.insert(a.end(), fixture.aPixels.begin(), fixture.aPixels.end());
    return a;
}

void WritePng(const std::string& strPath, const SPngSpec& fixture)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        throw std::runtime_error("cannot write " + strPath);
    png_structp pPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop pInfo = png_create_info_struct(pPng);
    png_init_io(pPng, pFile);
    png_set_IHDR(pPng, pInfo, fixture.nWidth, fixture.nHeight, fixture.nBitDepth, fixture.nColourType,
                 fixture.bInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!fixture.aPalette.empty())
        png_set_PLTE(pPng, pInfo, reinterpret_cast<png_const_colorp>(fixture.aPalette.data()),
                     static_cast<int>(fixture.aPalette.size() / 3));
    if (!fixture.aTransparency.empty())
        png_set_tRNS(pPng, pInfo, fixture.aTransparency.data(), static_cast<int>(fixture.aTransparency.size()), nullptr);
    png_write_info(pPng, pInfo);
    if (fixture.nBitDepth == 16)
        png_set_swap(pPng);  // our rows hold 16-bit samples in host (little-endian) order
    std::vector<png_bytep> aRows;
    for (const auto& row : fixture.aRows)
        aRows.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(pPng, aRows.data());
    png_write_end(pPng, pInfo);
    png_destroy_write_struct(&pPng, &pInfo);
    std::fclose(pFile);
}

void WriteJpeg(const std::string& strPath, const SJpegSpec& fixture)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        throw std::runtime_error("cannot write " + strPath);
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, pFile);
    info.image_width = static_cast<JDIMENSION>(fixture.nWidth);
    info.image_height = static_cast<JDIMENSION>(fixture.nHeight);
    info.input_components = fixture.nComponents;
    info.in_color_space = fixture.nComponents == 1 ? JCS_GRAYSCALE : fixture.nComponents == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (fixture.nComponents == 4)
        info.write_Adobe_marker = TRUE;
    jpeg_set_quality(&info, fixture.nQuality, TRUE);
    if (fixture.bProgressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW pRow = const_cast<JSAMPROW>(fixture.aSamples.data() +
                                             std::size_t(info.next_scanline) * fixture.nWidth * fixture.nComponents);
        jpeg_write_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(pFile);
}

void WriteTiff(const std::string& strPath, const STiffSpec& fixture)
{
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
    if (!pTiff)
        throw std::runtime_error("cannot write " + strPath);
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, fixture.nWidth);
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, fixture.nHeight);
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, fixture.nBitsPerSample);
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, fixture.nSamplesPerPixel);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, fixture.nPhotometric);
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION, fixture.nCompression);
    TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, fixture.bPlanarSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (fixture.bAlpha) {
        const std::uint16_t nType = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(pTiff, TIFFTAG_EXTRASAMPLES, 1, &nType);
    }
    if (fixture.nPredictor != PREDICTOR_NONE)
        TIFFSetField(pTiff, TIFFTAG_PREDICTOR, fixture.nPredictor);
    if (fixture.nCompression == COMPRESSION_JPEG) {
        TIFFSetField(pTiff, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(pTiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (!fixture.aColourMap.empty()) {
        const std::size_t n = fixture.aColourMap.size() / 3;
        TIFFSetField(pTiff, TIFFTAG_COLORMAP, fixture.aColourMap.data(), fixture.aColourMap.data() + n,
                     fixture.aColourMap.data() + 2 * n);
    }
    const std::size_t nRowBytes = (std::size_t(fixture.nWidth) * fixture.nSamplesPerPixel * fixture.nBitsPerSample + 7) / 8;
    if (fixture.nTileSize > 0) {
        TIFFSetField(pTiff, TIFFTAG_TILEWIDTH, fixture.nTileSize);
        TIFFSetField(pTiff, TIFFTAG_TILELENGTH, fixture.nTileSize);
        const std::size_t nPixelBytes = std::size_t(fixture.nSamplesPerPixel) * fixture.nBitsPerSample / 8;
        std::vector<std::uint8_t> aTile(std::size_t(fixture.nTileSize) * fixture.nTileSize * nPixelBytes, 0);
        for (int nY = 0; nY < fixture.nHeight; nY += fixture.nTileSize)
            for (int nX = 0; nX < fixture.nWidth; nX += fixture.nTileSize) {
                std::fill(aTile.begin(), aTile.end(), 0);
                for (int r = 0; r < fixture.nTileSize && nY + r < fixture.nHeight; ++r)
                    for (int c = 0; c < fixture.nTileSize && nX + c < fixture.nWidth; ++c)
                        std::memcpy(aTile.data() + (std::size_t(r) * fixture.nTileSize + c) * nPixelBytes,
                                    fixture.aSamples.data() + std::size_t(nY + r) * nRowBytes + std::size_t(nX + c) * nPixelBytes,
                                    nPixelBytes);
                TIFFWriteTile(pTiff, aTile.data(), nX, nY, 0, 0);
            }
    } else if (fixture.bPlanarSeparate) {
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, 4);
        std::vector<std::uint8_t> aPlane(fixture.nWidth);
        for (int s = 0; s < fixture.nSamplesPerPixel; ++s)
            for (int y = 0; y < fixture.nHeight; ++y) {
                for (int x = 0; x < fixture.nWidth; ++x)
                    aPlane[x] = fixture.aSamples[std::size_t(y) * nRowBytes + std::size_t(x) * fixture.nSamplesPerPixel + s];
                TIFFWriteScanline(pTiff, aPlane.data(), y, static_cast<std::uint16_t>(s));
            }
    } else {
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP,
                     fixture.nRowsPerStrip > 0 ? fixture.nRowsPerStrip : fixture.nCompression == COMPRESSION_JPEG ? 16 : 5);
        std::vector<std::uint8_t> aRow(nRowBytes);
        for (int y = 0; y < fixture.nHeight; ++y) {
            std::memcpy(aRow.data(), fixture.aSamples.data() + std::size_t(y) * nRowBytes, nRowBytes);
            TIFFWriteScanline(pTiff, aRow.data(), y, 0);
        }
    }
    TIFFClose(pTiff);
}

void WriteGif(const std::string& strPath, const SGifSpec& fixture)
{
    int nError = 0;
    GifFileType* pGif = EGifOpenFileName(strPath.c_str(), false, &nError);
    if (!pGif)
        throw std::runtime_error("cannot write " + strPath);
    const int nEntries = static_cast<int>(fixture.aTable.size() / 3);
    ColorMapObject* pMap = GifMakeMapObject(nEntries, reinterpret_cast<const GifColorType*>(fixture.aTable.data()));
    EGifPutScreenDesc(pGif, fixture.nScreenWidth, fixture.nScreenHeight, 8, fixture.nBackground,
                      fixture.bLocalTable ? nullptr : pMap);
    EGifPutImageDesc(pGif, fixture.nLeft, fixture.nTop, fixture.nWidth, fixture.nHeight, fixture.bInterlaced,
                     fixture.bLocalTable ? pMap : nullptr);
    std::vector<int> aOrder;
    if (fixture.bInterlaced) {
        const int aStart[] = {0, 4, 2, 1}, aStep[] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = aStart[p]; y < fixture.nHeight; y += aStep[p])
                aOrder.push_back(y);
    } else {
        for (int y = 0; y < fixture.nHeight; ++y)
            aOrder.push_back(y);
    }
    std::vector<GifPixelType> aRow(fixture.nWidth);
    for (int y : aOrder) {
        std::memcpy(aRow.data(), fixture.aPixels.data() + std::size_t(y) * fixture.nWidth, fixture.nWidth);
        EGifPutLine(pGif, aRow.data(), fixture.nWidth);
    }
    EGifCloseFile(pGif, &nError);
    GifFreeMapObject(pMap);
}

std::vector<std::uint8_t> Release3Bitmap(const char* pFirstMarker, const char* pSecondMarker, std::int32_t nWest,
                                         std::int32_t nNorth, std::int32_t nEast, std::int32_t nSouth)
{
    SBmpSpec fixture;
    fixture.nWidth = 8;
    fixture.nHeight = 5;
    for (int i = 0; i < 256; ++i)
        fixture.aTable.insert(fixture.aTable.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
    fixture.aPixels.assign(40, 7);
    std::memcpy(fixture.aPixels.data(), pFirstMarker, 8);
    const std::int32_t aEdges[] = {nWest, nNorth, nEast, nSouth};
    std::memcpy(fixture.aPixels.data() + 8, aEdges, 16);  // little-endian on this machine
    std::memcpy(fixture.aPixels.data() + 24, pSecondMarker, 8);
    return BuildBmp(fixture);
}

}  // namespace gridmorph::test
