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

// Fails when an indexed picture holds an index at or past nEntries (its table's size).
SCodecStatus CheckPaletteIndices(const CDIBSection& picture, int nEntries);

// A grey ramp: entry i is (i, i, i).
void SetGreyRamp(CDIBSection& picture);

// Copies nPixels 3-byte pixels from pSource to pTarget (separate rows) with the first and
// third bytes exchanged: RGB to BGR and back.
void SwapRedAndBlue(const std::uint8_t* pSource, std::uint8_t* pTarget, int nPixels);

}  // namespace gridmorph
