#pragma once

// Small picture files made in code, in the variants real scanners and GIS programs
// write, through the same reference libraries that a third-party writer would use.
#include <cstdint>
#include <string>
#include <vector>

namespace gridmorph::test {

// A Windows bitmap assembled byte by byte.
struct SBmpSpec {
    std::uint32_t nHeaderSize = 40;  // 12, 40, 108 or 124
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;        // negative: top-down rows
    int nBitCount = 8;
    std::uint32_t nCompression = 0;
    std::uint32_t nColoursUsed = 0;
    std::vector<std::uint32_t> aMasks;  // red, green, blue[, alpha]
    std::vector<std::uint8_t> aTable;   // blue, green, red, reserved per entry (3 bytes for 12-byte headers)
    std::vector<std::uint8_t> aPixels;  // as stored in the file
};
std::vector<std::uint8_t> BuildBmp(const SBmpSpec& fixture);

// An 8-bit bottom-up BMP of 8 x 5 whose pixels start with a Release 3 block: a marker,
// the four edges (west, north, east, south) as little-endian 32-bit integers, a marker.
std::vector<std::uint8_t> Release3Bitmap(const char* pFirstMarker, const char* pSecondMarker, std::int32_t nWest,
                                         std::int32_t nNorth, std::int32_t nEast, std::int32_t nSouth);

// PNG through libpng. aRows are the file's rows top to bottom, packed as PNG packs them.
struct SPngSpec {
    int nWidth = 0;
    int nHeight = 0;
    int nBitDepth = 8;
    int nColourType = 2;  // PNG_COLOR_TYPE_*
    bool bInterlaced = false;
    std::vector<std::uint8_t> aPalette;       // red, green, blue per entry
    std::vector<std::uint8_t> aTransparency;  // tRNS for palette pictures
    std::vector<std::vector<std::uint8_t>> aRows;
};
void WritePng(const std::string& strPath, const SPngSpec& fixture);

// JPEG through libjpeg. aSamples are rows top to bottom, nComponents per pixel.
struct SJpegSpec {
    int nWidth = 0;
    int nHeight = 0;
    int nComponents = 3;  // 1 grey, 3 RGB, 4 CMYK (written Adobe-inverted)
    bool bProgressive = false;
    int nQuality = 95;
    std::vector<std::uint8_t> aSamples;
};
void WriteJpeg(const std::string& strPath, const SJpegSpec& fixture);

// TIFF through libtiff. aSamples are rows top to bottom, packed as TIFF packs them.
struct STiffSpec {
    int nWidth = 0;
    int nHeight = 0;
    int nBitsPerSample = 8;
    int nSamplesPerPixel = 3;
    int nPhotometric = 2;  // PHOTOMETRIC_*
    int nCompression = 1;  // COMPRESSION_*
    bool bAlpha = false;
    bool bPlanarSeparate = false;
    int nTileSize = 0;  // 0: strips
    int nRowsPerStrip = 0;  // 0: 5 (16 for JPEG)
    int nPredictor = 1;     // PREDICTOR_*, for LZW and Deflate
    std::vector<std::uint16_t> aColourMap;  // red, then green, then blue, 2^bits each
    std::vector<std::uint8_t> aSamples;
};
void WriteTiff(const std::string& strPath, const STiffSpec& fixture);

// GIF through giflib: one frame placed on a logical screen.
struct SGifSpec {
    int nScreenWidth = 0;
    int nScreenHeight = 0;
    int nBackground = 0;
    int nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
    bool bInterlaced = false;
    bool bLocalTable = false;
    std::vector<std::uint8_t> aTable;  // red, green, blue per entry; a power of two entries
    std::vector<std::uint8_t> aPixels;  // frame rows top to bottom
};
void WriteGif(const std::string& strPath, const SGifSpec& fixture);

}  // namespace gridmorph::test
