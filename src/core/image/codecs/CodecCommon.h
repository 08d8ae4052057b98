#pragma once

// Helpers shared by the codec adapters.
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/PixelMasks.h"
#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// A file opened for reading with its size known up front, so that a decoder can check
// a declared size against what is really there before it allocates anything.
class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    SCodecStatus Open(const std::string& strPath);
    std::uint64_t Size() const { return m_nSize; }
    // Reads exactly nBytes at nOffset; false when the file is shorter.
    bool ReadAt(std::uint64_t nOffset, void* pBuffer, std::size_t nBytes) const;
    // A stdio stream over the file for libraries that read sequentially (owned here).
    std::FILE* Stream();
    int Descriptor() const { return m_nFd; }

private:
    int m_nFd = -1;
    std::uint64_t m_nSize = 0;
    std::FILE* m_pStream = nullptr;
};

// Refuses, before the picture is made, a file whose data is far too small for the picture
// it declares: nDataBytes of data, each of which a writer can make stand for at most
// dMostPixelsPerByte pixels (each format gives its bound and why beside its call). A
// picture larger than the memory that can be had is left to CreateDecodedPicture, which
// says that first.
SCodecStatus CheckDataCanHoldPicture(const char* pFormat, int nWidth, int nHeight, int nBitCount,
                                     std::uint64_t nDataBytes, double dMostPixelsPerByte);

// Fails when an indexed picture holds an index at or past nEntries (its table's size).
SCodecStatus CheckPaletteIndices(const CDIBSection& picture, int nEntries);

// A grey ramp: entry i is (i, i, i).
void SetGreyRamp(CDIBSection& picture);

// Copies nPixels 3-byte pixels from pSource to pTarget (separate rows) with the first and
// third bytes exchanged: RGB to BGR and back.
void SwapRedAndBlue(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels);

}  // namespace gridmorph
