// Opens and saves a 12000 x 9000 scanned map (24-bit and 8-bit) in every format, beside
// a memcpy of the same bytes and beside the bare library calls with the same settings,
// and measures the peak memory of an open in a fresh process. Also sweeps PNG
// compression levels, strategies and row filters on a scanned map, in processor time on one
// thread beside libpng's defaults (which GDAL writes with).
//
//   bench_codecs SAMPLE.jpg [WORK_FOLDER [--png-only] [--noise]]
// --png-only stops after the sweep; --noise adds scanner noise to the map.
#include <gif_lib.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "image/DIBImage.h"
#include "image/codecs/ImageCodec.h"
#include "BenchSupport.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"

using namespace gridmorph;
using bench::Seconds;

namespace {


long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// --- Bare library calls: the least a program must do to write or read these rows. ---

void BarePngWrite(const CDIBImage& image, const std::string& strPath, int nLevel)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    png_structp pPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop pInfo = png_create_info_struct(pPng);
    png_init_io(pPng, pFile);
    png_set_compression_level(pPng, nLevel);
    const bool bIndexed = image.m_nBitCount == 8;
    png_set_IHDR(pPng, pInfo, image.m_nImageWidth, image.m_nImageHeight, 8,
                 bIndexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, 0, 0, 0);
    if (bIndexed) {
        png_color aPalette[256];
        for (int i = 0; i < 256; ++i)
            aPalette[i] = {image.m_pRGBQuad[i].rgbRed, image.m_pRGBQuad[i].rgbGreen, image.m_pRGBQuad[i].rgbBlue};
        png_set_PLTE(pPng, pInfo, aPalette, 256);
    } else {
        png_set_bgr(pPng);
    }
    png_write_info(pPng, pInfo);
    for (int y = 0; y < image.m_nImageHeight; ++y)
        png_write_row(pPng, image.Bitmap()->PictureRow(y));
    png_write_end(pPng, pInfo);
    png_destroy_write_struct(&pPng, &pInfo);
    std::fclose(pFile);
}

void BarePngRead(const std::string& strPath, std::vector<std::uint8_t>& aPixels)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    png_structp pPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop pInfo = png_create_info_struct(pPng);
    png_init_io(pPng, pFile);
    png_read_info(pPng, pInfo);
    const std::size_t nRowBytes = png_get_rowbytes(pPng, pInfo);
    const png_uint_32 nHeight = png_get_image_height(pPng, pInfo);
    aPixels.resize(nRowBytes * nHeight);
    for (png_uint_32 y = 0; y < nHeight; ++y)
        png_read_row(pPng, aPixels.data() + y * nRowBytes, nullptr);
    png_destroy_read_struct(&pPng, &pInfo, nullptr);
    std::fclose(pFile);
}

void BareJpegWrite(const CDIBImage& image, const std::string& strPath)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, pFile);
    info.image_width = image.m_nImageWidth;
    info.image_height = image.m_nImageHeight;
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW pRow = const_cast<JSAMPROW>(image.Bitmap()->PictureRow(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(pFile);
}

void BareJpegRead(const std::string& strPath, std::vector<std::uint8_t>& aPixels)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, pFile);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const std::size_t nRowBytes = std::size_t(info.output_width) * 3;
    aPixels.resize(nRowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW pRow = aPixels.data() + info.output_scanline * nRowBytes;
        jpeg_read_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(pFile);
}

void BareTiffWrite(const CDIBImage& image, const std::string& strPath)
{
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "w");
    const bool bIndexed = image.m_nBitCount == 8;
    TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, image.m_nImageWidth);
    TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, image.m_nImageHeight);
    TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, bIndexed ? 1 : 3);
    TIFFSetField(pTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, bIndexed ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    TIFFSetField(pTiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (!bIndexed)
        TIFFSetField(pTiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(pTiff, 0));
    std::vector<std::uint16_t> aMap(768);
    for (int i = 0; i < 256; ++i) {
        aMap[i] = image.m_pRGBQuad[i].rgbRed * 257;
        aMap[256 + i] = image.m_pRGBQuad[i].rgbGreen * 257;
        aMap[512 + i] = image.m_pRGBQuad[i].rgbBlue * 257;
    }
    if (bIndexed)
        TIFFSetField(pTiff, TIFFTAG_COLORMAP, aMap.data(), aMap.data() + 256, aMap.data() + 512);
    // The library wants RGB; the swap to it is part of any caller's work.
    std::vector<std::uint8_t> aRow(std::size_t(image.m_nImageWidth) * 3);
    for (int y = 0; y < image.m_nImageHeight; ++y) {
        const std::uint8_t* pSource = image.Bitmap()->PictureRow(y);
        if (bIndexed) {
            std::memcpy(aRow.data(), pSource, image.m_nImageWidth);
        } else {
            for (int x = 0; x < image.m_nImageWidth; ++x) {
                aRow[3 * x] = pSource[3 * x + 2];
                aRow[3 * x + 1] = pSource[3 * x + 1];
                aRow[3 * x + 2] = pSource[3 * x];
            }
        }
        TIFFWriteScanline(pTiff, aRow.data(), y, 0);
    }
    TIFFClose(pTiff);
}

void BareTiffRead(const std::string& strPath, std::vector<std::uint8_t>& aPixels)
{
    TIFF* pTiff = TIFFOpen(strPath.c_str(), "r");
    std::uint32_t nHeight = 0;
    TIFFGetField(pTiff, TIFFTAG_IMAGELENGTH, &nHeight);
    const std::size_t nRowBytes = TIFFScanlineSize(pTiff);
    aPixels.resize(nRowBytes * nHeight);
    for (std::uint32_t y = 0; y < nHeight; ++y)
        TIFFReadScanline(pTiff, aPixels.data() + y * nRowBytes, y, 0);
    TIFFClose(pTiff);
}

void BareGifWrite(const CDIBImage& image, const std::string& strPath)
{
    int nError = 0;
    GifFileType* pGif = EGifOpenFileName(strPath.c_str(), false, &nError);
    GifColorType aColours[256];
    for (int i = 0; i < 256; ++i)
        aColours[i] = {image.m_pRGBQuad[i].rgbRed, image.m_pRGBQuad[i].rgbGreen, image.m_pRGBQuad[i].rgbBlue};
    ColorMapObject* pMap = GifMakeMapObject(256, aColours);
    EGifPutScreenDesc(pGif, image.m_nImageWidth, image.m_nImageHeight, 8, 0, pMap);
    EGifPutImageDesc(pGif, 0, 0, image.m_nImageWidth, image.m_nImageHeight, false, nullptr);
    std::vector<GifPixelType> aRow(image.m_nImageWidth);
    for (int y = 0; y < image.m_nImageHeight; ++y) {
        std::memcpy(aRow.data(), image.Bitmap()->PictureRow(y), aRow.size());
        EGifPutLine(pGif, aRow.data(), image.m_nImageWidth);
    }
    EGifCloseFile(pGif, &nError);
    GifFreeMapObject(pMap);
}

void BareGifRead(const std::string& strPath, std::vector<std::uint8_t>& aPixels)
{
    int nError = 0;
    GifFileType* pGif = DGifOpenFileName(strPath.c_str(), &nError);
    GifRecordType eRecord;
    while (DGifGetRecordType(pGif, &eRecord) == GIF_OK && eRecord != IMAGE_DESC_RECORD_TYPE) {
        int nCode;
        GifByteType* pExtension = nullptr;
        if (eRecord == EXTENSION_RECORD_TYPE) {
            DGifGetExtension(pGif, &nCode, &pExtension);
            while (pExtension)
                DGifGetExtensionNext(pGif, &pExtension);
        }
    }
    DGifGetImageDesc(pGif);
    aPixels.resize(std::size_t(pGif->Image.Width) * pGif->Image.Height);
    for (int y = 0; y < pGif->Image.Height; ++y)
        DGifGetLine(pGif, aPixels.data() + std::size_t(y) * pGif->Image.Width, pGif->Image.Width);
    DGifCloseFile(pGif, &nError);
}

void BareBmpWrite(const CDIBImage& image, const std::string& strPath)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    std::uint8_t aHeader[54 + 1024] = {'B', 'M'};
    const std::size_t nHeader = image.m_nBitCount == 8 ? 54 + 1024 : 54;
    std::fwrite(aHeader, 1, nHeader, pFile);
    std::fwrite(image.m_pImageBits, 1, std::size_t(image.m_nStride) * image.m_nImageHeight, pFile);
    std::fclose(pFile);
}

void BareBmpRead(const std::string& strPath, std::vector<std::uint8_t>& aPixels)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    const auto nSize = std::filesystem::file_size(strPath);
    aPixels.resize(nSize);
    std::fread(aPixels.data(), 1, nSize, pFile);
    std::fclose(pFile);
}


int PeakOfOpen(const std::string& strPath)
{
    // A fresh process, so the figure is the open's own.
    const long nBefore = PeakKilobytes();
    CDIBImage image;
    if (!image.OpenDIB(strPath))
        return 1;
    const long nPeak = PeakKilobytes() - nBefore;
    std::printf("%ld %zu\n", nPeak, std::size_t(image.m_nStride) * image.m_nImageHeight / 1024);
    return 0;
}

std::string RunSelf(const std::string& strArguments)
{
    const std::string strCommand = std::filesystem::read_symlink("/proc/self/exe").string() + " " + strArguments;
    std::string strOutput;
    if (std::FILE* pPipe = popen(strCommand.c_str(), "r")) {
        char szBuffer[256];
        while (std::fgets(szBuffer, sizeof szBuffer, pPipe))
            strOutput += szBuffer;
        pclose(pPipe);
    }
    return strOutput;
}

}  // namespace

int main(int argc, char** argv)
{
    CHeadlessPlatform platform;
    CScopedPlatform installed(platform);
    if (argc == 3 && std::string(argv[1]) == "--peak-of-open")
        return PeakOfOpen(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_codecs SAMPLE.jpg [WORK_FOLDER [--png-only] [--noise]]\n");
        return 2;
    }
    const std::string strFolder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    bool bPngOnly = false, bNoise = false;
    for (int i = 3; i < argc; ++i) {
        bPngOnly = bPngOnly || std::string(argv[i]) == "--png-only";
        bNoise = bNoise || std::string(argv[i]) == "--noise";
    }
    CDIBImage tile, scan24, scan8;
    if (!tile.OpenDIB(argv[1]))
        return 1;
    bench::MakeTiledScan(tile, 12000, 9000, scan24, bNoise ? 7 : 0);
    scan8.CreateImage(8, &scan24, true, false, true, true, false);
    const std::size_t nBytes24 = std::size_t(scan24.m_nStride) * scan24.m_nImageHeight;
    std::vector<std::uint8_t> aCopy(nBytes24);
    const double dMemcpy24 = Seconds([&] { std::memcpy(aCopy.data(), scan24.m_pImageBits, nBytes24); }, 3);
    const double dMemcpy8 = Seconds([&] { std::memcpy(aCopy.data(), scan8.m_pImageBits, nBytes24 / 3); }, 3);
    std::printf("12000 x 9000: memcpy of the 24-bit storage %.3f s, of the 8-bit storage %.3f s\n\n", dMemcpy24, dMemcpy8);

    // PNG compression: levels and filters on a 4000 x 3000 part of the scan.
    {
        CDIBImage part;
        part.CreateImage(24, 4000, 3000, FILL_NONE, 0, 0, 0, nullptr);
        for (int nRow = 0; nRow < 3000; ++nRow)
            std::memcpy(part.StorageRow(nRow), scan24.StorageRow(nRow), 12000);
        std::printf("PNG on a 4000 x 3000 scanned map (24-bit), one thread, beside libpng's defaults (level 6, all\n"
                    "filters: what GDAL writes):\n%-34s %8s %10s %8s %8s\n", "setting", "seconds", "bytes", "time", "size");
        const std::string strPath = strFolder + "/bench-level.png";
        const std::string strBare = strFolder + "/bench-level-libpng.png";
        CScopedThreadCount oneThread(1);
        const double dBare = bench::CpuSeconds([&] { BarePngWrite(part, strBare, 6); }, 2);
        const double dBareBytes = double(std::filesystem::file_size(strBare));
        std::printf("%-34s %8.2f %10.0f %8.2f %8.3f\n", "libpng level 6, all filters", dBare, dBareBytes, 1.0, 1.0);
        const struct {
            const char* pName;
            int nFilters;
        } aFilters[] = {{"all filters", PNG_ALL_FILTERS}, {"up, paeth", PNG_FILTER_UP | PNG_FILTER_PAETH},
                        {"paeth", PNG_FILTER_PAETH}, {"up", PNG_FILTER_UP}};
        for (const int nStrategy : {1, 0})  // Z_FILTERED, Z_DEFAULT_STRATEGY
            for (int nLevel = 3; nLevel <= 6; ++nLevel)
                for (const auto& filter : aFilters) {
                    SEncodeOptions options;
                    options.nPngCompressionLevel = nLevel;
                    options.nPngFilters = filter.nFilters;
                    options.nPngStrategy = nStrategy;
                    const double d = bench::CpuSeconds([&] { part.SaveDIB(strPath, options); }, 2);
                    const double dBytes = double(std::filesystem::file_size(strPath));
                    char szName[64];
                    std::snprintf(szName, sizeof szName, "level %d, %s, %s", nLevel,
                                  nStrategy == 1 ? "filtered" : "default", filter.pName);
                    std::printf("%-34s %8.2f %10.0f %8.2f %8.3f\n", szName, d, dBytes, d / dBare, dBytes / dBareBytes);
                    std::fflush(stdout);
                }
        std::printf("\n");
    }

    if (bPngOnly)
        return 0;
    std::printf("%-5s %-5s %9s %9s %7s %9s %9s %7s %8s %8s %11s\n", "form", "depth", "save s", "bare s", "ratio", "open s",
                "bare s", "ratio", "save/mc", "open/mc", "peak/bytes");
    const struct {
        const char* pExtension;
        int nBits;
    } aCases[] = {{"bmp", 24}, {"bmp", 8}, {"png", 24}, {"png", 8}, {"tif", 24},
                  {"tif", 8},  {"jpg", 24}, {"gif", 8}};
    for (const auto& aCase : aCases) {
        CDIBImage& image = aCase.nBits == 24 ? scan24 : scan8;
        const std::string strOurs = strFolder + "/bench-ours." + aCase.pExtension;
        const std::string strBare = strFolder + "/bench-bare." + aCase.pExtension;
        const std::string strExtension = aCase.pExtension;
        const double dSave = Seconds([&] { image.SaveDIB(strOurs); }, 1);
        const double dBareSave = Seconds([&] {
            if (strExtension == "png")
                BarePngWrite(image, strBare, SEncodeOptions().nPngCompressionLevel);
            else if (strExtension == "jpg")
                BareJpegWrite(image, strBare);
            else if (strExtension == "tif")
                BareTiffWrite(image, strBare);
            else if (strExtension == "gif")
                BareGifWrite(image, strBare);
            else
                BareBmpWrite(image, strBare);
        }, 1);
        CDIBImage reopened;
        const double dOpen = Seconds([&] { reopened.OpenDIB(strOurs); }, 2);
        reopened.CloseImage();
        std::vector<std::uint8_t> aPixels;
        const double dBareOpen = Seconds([&] {
            aPixels = {};  // a fresh buffer each time, as an open must have
            if (strExtension == "png")
                BarePngRead(strOurs, aPixels);
            else if (strExtension == "jpg")
                BareJpegRead(strOurs, aPixels);
            else if (strExtension == "tif")
                BareTiffRead(strOurs, aPixels);
            else if (strExtension == "gif")
                BareGifRead(strOurs, aPixels);
            else
                BareBmpRead(strOurs, aPixels);
        }, 2);
        aPixels = {};
        long nPeak = 0;
        std::size_t nPictureKb = 1;
        std::sscanf(RunSelf("--peak-of-open " + strOurs).c_str(), "%ld %zu", &nPeak, &nPictureKb);
        const double dMemcpy = aCase.nBits == 24 ? dMemcpy24 : dMemcpy8;
        std::printf("%-5s %-5d %9.3f %9.3f %7.2f %9.3f %9.3f %7.2f %8.1f %8.1f %11.3f\n", aCase.pExtension, aCase.nBits,
                    dSave, dBareSave, dSave / dBareSave, dOpen, dBareOpen, dOpen / dBareOpen, dSave / dMemcpy,
                    dOpen / dMemcpy, double(nPeak) / double(nPictureKb));
        std::filesystem::remove(strOurs);
        std::filesystem::remove(strBare);
    }
    return 0;
}
