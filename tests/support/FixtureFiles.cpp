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

std::vector<std::uint8_t> BuildBmp(const SBmpSpec& spec)
{
    const bool bMasksAfterHeader = spec.nHeaderSize == 40 && !spec.aMasks.empty();
    const std::size_t nMaskBytes = bMasksAfterHeader ? spec.aMasks.size() * 4 : 0;
    const std::size_t nOffset = 14 + spec.nHeaderSize + nMaskBytes + spec.aTable.size();
    std::vector<std::uint8_t> a(nOffset, 0);
    a[0] = 'B';
    a[1] = 'M';
    Put32(a, 2, static_cast<std::uint32_t>(nOffset + spec.aPixels.size()));
    Put32(a, 10, static_cast<std::uint32_t>(nOffset));
    Put32(a, 14, spec.nHeaderSize);
    if (spec.nHeaderSize == 12) {
        Put16(a, 18, static_cast<std::uint32_t>(spec.nWidth));
        Put16(a, 20, static_cast<std::uint32_t>(spec.nHeight));
        Put16(a, 22, 1);
        Put16(a, 24, static_cast<std::uint32_t>(spec.nBitCount));
    } else {
        Put32(a, 18, static_cast<std::uint32_t>(spec.nWidth));
        Put32(a, 22, static_cast<std::uint32_t>(spec.nHeight));
        Put16(a, 26, 1);
        Put16(a, 28, static_cast<std::uint32_t>(spec.nBitCount));
        Put32(a, 30, spec.nCompression);
        Put32(a, 34, static_cast<std::uint32_t>(spec.aPixels.size()));
        Put32(a, 46, spec.nColoursUsed);
        const std::size_t nMaskAt = bMasksAfterHeader ? 54 : 54;  // V4/V5 keep them at the same place
        for (std::size_t i = 0; i < spec.aMasks.size(); ++i)
            Put32(a, nMaskAt + 4 * i, spec.aMasks[i]);
    }
    if (!spec.aTable.empty())
        std::memcpy(a.data() + 14 + spec.nHeaderSize + nMaskBytes, spec.aTable.data(), spec.aTable.size());
    a.insert(a.end(), spec.aPixels.begin(), spec.aPixels.end());
    return a;
}

void WritePng(const std::string& strPath, const SPngSpec& spec)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        throw std::runtime_error("cannot write " + strPath);
    png_structp pPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop pInfo = png_create_info_struct(pPng);
    png_init_io(pPng, pFile);
    png_set_IHDR(pPng, pInfo, spec.nWidth, spec.nHeight, spec.nBitDepth, spec.nColourType,
                 spec.bInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!spec.aPalette.empty())
        png_set_PLTE(pPng, pInfo, reinterpret_cast<png_const_colorp>(spec.aPalette.data()),
                     static_cast<int>(spec.aPalette.size() / 3));
    if (!spec.aTransparency.empty())
        png_set_tRNS(pPng, pInfo, spec.aTransparency.data(), static_cast<int>(spec.aTransparency.size()), nullptr);
    png_write_info(pPng, pInfo);
    if (spec.nBitDepth == 16)
        png_set_swap(pPng);  // our rows hold 16-bit samples in host (little-endian) order
    std::vector<png_bytep> aRows;
    for (const auto& row : spec.aRows)
        aRows.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(pPng, aRows.data());
    png_write_end(pPng, pInfo);
    png_destroy_write_struct(&pPng, &pInfo);
    std::fclose(pFile);
}

void WriteJpeg(const std::string& strPath, const SJpegSpec& spec)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        throw std::runtime_error("cannot write " + strPath);
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, pFile);
    info.image_width = static_cast<JDIMENSION>(spec.nWidth);
    info.image_height = static_cast<JDIMENSION>(spec.nHeight);
    info.input_components = spec.nComponents;
    info.in_color_space = spec.nComponents == 1 ? JCS_GRAYSCALE : spec.nComponents == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (spec.nComponents == 4)
        info.write_Adobe_marker = TRUE;
    jpeg_set_quality(&info, spec.nQuality, TRUE);
    if (spec.bProgressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW pRow = const_cast<JSAMPROW>(spec.aSamples.data() +
                                             std::size_t(info.next_scanline) * spec.nWidth * spec.nComponents);
        jpeg_write_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(pFile);
}

void WriteTiff(const std::string& strPath, const STiffSpec& spec)
{
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
    if (!pTiff)
        throw std::runtime_error("cannot write " + strPath);
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, spec.nWidth);
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, spec.nHeight);
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, spec.nBitsPerSample);
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, spec.nSamplesPerPixel);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, spec.nPhotometric);
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION, spec.nCompression);
    TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, spec.bPlanarSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (spec.bAlpha) {
        const std::uint16_t nType = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(pTiff, TIFFTAG_EXTRASAMPLES, 1, &nType);
    }
    if (spec.nCompression == COMPRESSION_JPEG) {
        TIFFSetField(pTiff, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(pTiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (!spec.aColourMap.empty()) {
        const std::size_t n = spec.aColourMap.size() / 3;
        TIFFSetField(pTiff, TIFFTAG_COLORMAP, spec.aColourMap.data(), spec.aColourMap.data() + n,
                     spec.aColourMap.data() + 2 * n);
    }
    const std::size_t nRowBytes = (std::size_t(spec.nWidth) * spec.nSamplesPerPixel * spec.nBitsPerSample + 7) / 8;
    if (spec.nTileSize > 0) {
        TIFFSetField(pTiff, TIFFTAG_TILEWIDTH, spec.nTileSize);
        TIFFSetField(pTiff, TIFFTAG_TILELENGTH, spec.nTileSize);
        const std::size_t nPixelBytes = std::size_t(spec.nSamplesPerPixel) * spec.nBitsPerSample / 8;
        std::vector<std::uint8_t> aTile(std::size_t(spec.nTileSize) * spec.nTileSize * nPixelBytes, 0);
        for (int nY = 0; nY < spec.nHeight; nY += spec.nTileSize)
            for (int nX = 0; nX < spec.nWidth; nX += spec.nTileSize) {
                std::fill(aTile.begin(), aTile.end(), 0);
                for (int r = 0; r < spec.nTileSize && nY + r < spec.nHeight; ++r)
                    for (int c = 0; c < spec.nTileSize && nX + c < spec.nWidth; ++c)
                        std::memcpy(aTile.data() + (std::size_t(r) * spec.nTileSize + c) * nPixelBytes,
                                    spec.aSamples.data() + std::size_t(nY + r) * nRowBytes + std::size_t(nX + c) * nPixelBytes,
                                    nPixelBytes);
                TIFFWriteTile(pTiff, aTile.data(), nX, nY, 0, 0);
            }
    } else if (spec.bPlanarSeparate) {
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, 4);
        std::vector<std::uint8_t> aPlane(spec.nWidth);
        for (int s = 0; s < spec.nSamplesPerPixel; ++s)
            for (int y = 0; y < spec.nHeight; ++y) {
                for (int x = 0; x < spec.nWidth; ++x)
                    aPlane[x] = spec.aSamples[std::size_t(y) * nRowBytes + std::size_t(x) * spec.nSamplesPerPixel + s];
                TIFFWriteScanline(pTiff, aPlane.data(), y, static_cast<std::uint16_t>(s));
            }
    } else {
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, spec.nCompression == COMPRESSION_JPEG ? 16 : 5);
        std::vector<std::uint8_t> aRow(nRowBytes);
        for (int y = 0; y < spec.nHeight; ++y) {
            std::memcpy(aRow.data(), spec.aSamples.data() + std::size_t(y) * nRowBytes, nRowBytes);
            TIFFWriteScanline(pTiff, aRow.data(), y, 0);
        }
    }
    TIFFClose(pTiff);
}

void WriteGif(const std::string& strPath, const SGifSpec& spec)
{
    int nError = 0;
    GifFileType* pGif = EGifOpenFileName(strPath.c_str(), false, &nError);
    if (!pGif)
        throw std::runtime_error("cannot write " + strPath);
    const int nEntries = static_cast<int>(spec.aTable.size() / 3);
    ColorMapObject* pMap = GifMakeMapObject(nEntries, reinterpret_cast<const GifColorType*>(spec.aTable.data()));
    EGifPutScreenDesc(pGif, spec.nScreenWidth, spec.nScreenHeight, 8, spec.nBackground,
                      spec.bLocalTable ? nullptr : pMap);
    EGifPutImageDesc(pGif, spec.nLeft, spec.nTop, spec.nWidth, spec.nHeight, spec.bInterlaced,
                     spec.bLocalTable ? pMap : nullptr);
    std::vector<int> aOrder;
    if (spec.bInterlaced) {
        const int aStart[] = {0, 4, 2, 1}, aStep[] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = aStart[p]; y < spec.nHeight; y += aStep[p])
                aOrder.push_back(y);
    } else {
        for (int y = 0; y < spec.nHeight; ++y)
            aOrder.push_back(y);
    }
    std::vector<GifPixelType> aRow(spec.nWidth);
    for (int y : aOrder) {
        std::memcpy(aRow.data(), spec.aPixels.data() + std::size_t(y) * spec.nWidth, spec.nWidth);
        EGifPutLine(pGif, aRow.data(), spec.nWidth);
    }
    EGifCloseFile(pGif, &nError);
    GifFreeMapObject(pMap);
}

}  // namespace gridmorph::test
