#pragma once

// The pieces of TIFF reading that the whole-picture decoder and the rows decoded on demand
// (TiffRowsOnDemand) share: opening a file through libtiff with our handlers, and turning
// one row of samples into one row of the picture.
#include <tiffio.h>

#include <cstdint>
#include <string>

namespace gridmorph {

class CTiffOutputFile;

namespace tiff {

// libtiff reports through handlers; ours keep the first error for the message.
struct STiffMessages {
    std::string strError;
};

// Largest single allocation libtiff may make for us: strip and tile buffers, tag arrays.
constexpr tmsize_t kTiffMaxSingleAllocation = tmsize_t(256) << 20;

// Opens a TIFF file (or, with pOutput, the file being written) with handlers that keep the
// first error in messages, which must outlive the handle.
TIFF* OpenTiff(const std::string& strPath, int nFd, const char* pMode, STiffMessages& messages,
               CTiffOutputFile* pOutput = nullptr);

struct STiffHandle {
    TIFF* pTiff = nullptr;
    ~STiffHandle()
    {
        if (pTiff)
            TIFFClose(pTiff);
    }
};

// How one row of samples becomes one row of the picture.
struct STiffLayout {
    int nBitsPerSample = 8;
    int nSamplesPerPixel = 1;
    int nPhotometric = PHOTOMETRIC_MINISBLACK;
    bool bAlpha = false;    // an extra sample used as alpha
    int nPictureBits = 8;
    bool bGeneric = false;  // decode through libtiff's RGBA reader
};

// Converts nCount pixels starting at pixel nFirst of the sample row into the picture
// row (which starts at pixel 0).
void ConvertSamples(const STiffLayout& layout, const std::uint8_t* pSamples, int nCount, std::uint8_t* pTargetRow,
                    int nFirst);

}  // namespace tiff
}  // namespace gridmorph
