#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/ColourTypes.h"

namespace gridmorph {

// The pixel value that stands for "no data" in a picture, for the encoders that can say
// so: PNG marks it transparent (tRNS), TIFF names it in the GDAL_NODATA tag. A 32-bit
// picture's fourth byte is its alpha; bTransparent on a full-colour picture needs no value.
struct SNoDataValue {
    bool bSet = false;
    bool bTransparent = false;  // shown as empty (an 8-bit picture's nIndex, or the alpha)
    int nIndex = -1;            // 8-bit pictures: the palette index
    std::uint8_t nRed = 0, nGreen = 0, nBlue = 0;  // 24-bit pictures: the colour
};

// The rows of a picture that are made when an encoder asks for them, so that a large
// picture never exists whole in memory (the command line's rectification). MakeRows fills
// picture rows [nFirst, nFirst + nCount) on the calling thread (different threads ask for
// different rows); ReleaseRows says that those rows have been encoded and their memory may
// go back to the system (they read as zero bytes afterwards); MakeAllRows fills every row,
// on the core's threads, for an encoder that reads the picture as a whole.
class CRowSupply {
public:
    virtual ~CRowSupply() = default;
    virtual void MakeRows(int nFirst, int nCount) const = 0;
    virtual void ReleaseRows(int nFirst, int nCount) const = 0;
    virtual void MakeAllRows() const = 0;
    // Asked once the encoder is done: why the rows it was given cannot be trusted (the
    // file they were read from was cut short meanwhile), "" when they can.
    virtual std::string Problem() const { return std::string(); }
    // For a reader that passes over the rows once (the grid finder's reduction): copies
    // picture row y, in the picture's layout, into pRow (Stride bytes) without keeping it,
    // so the picture's own storage is not touched. False when the supply cannot do that
    // cheaply (then the reader asks for the row with MakeRows) or the row cannot be read.
    virtual bool CopyRow(int /*y*/, std::uint8_t* /*pRow*/) const { return false; }
};

// The bitmap that holds a picture's pixels: bottom-up storage (storage row 0 is the
// bottom row of the picture) with rows padded to a multiple of 4 bytes, and for indexed
// depths its own colour table of 2^depth entries. It plays the part of the platform's
// device-independent bitmap.
class CDIBSection {
public:
    // System codes a creation can fail with.
    static constexpr int kNotEnoughMemory = 8;
    static constexpr int kInvalidParameter = 87;

    // Bytes in one stored row, or -1 when it does not fit an int.
    static std::int64_t StrideFor(std::int64_t nWidth, int nBitCount);

    // Creates a picture of 1, 4, 8, 16, 24 or 32 bits per pixel. Returns 0, or a system
    // code: kNotEnoughMemory when the storage is larger than the memory that can be had
    // (see GetPictureMemoryLimit) or cannot be allocated, kInvalidParameter otherwise.
    // Pixels start as zero bytes; the colour table starts black.
    static int Create(int nWidth, int nHeight, int nBitCount, std::unique_ptr<CDIBSection>& pCreated);
    // A picture whose bottom-up rows of Stride bytes lie at pBits inside a mapped file (a
    // BMP's pixels are stored so), kept mapped for as long as the picture lives. Null for
    // a size or depth Create refuses.
    static std::unique_ptr<CDIBSection> OverMappedFile(int nWidth, int nHeight, int nBitCount, std::uint8_t* pBits,
                                                       std::shared_ptr<const void> pMapping);
    // The check Create makes before it allocates: whether the storage of such a picture
    // fits in the memory that can be had. False also for sizes no stride can describe.
    static bool WithinMemoryLimit(int nWidth, int nHeight, int nBitCount);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    int BitCount() const { return m_nBitCount; }
    int Stride() const { return m_nStride; }
    // The platform's signed pitch: negative, because rows are stored bottom-up.
    int Pitch() const { return -m_nStride; }
    std::size_t StorageBytes() const { return static_cast<std::size_t>(m_nStride) * static_cast<std::size_t>(m_nHeight); }

    // Lowest row in memory, which is the bottom row of the picture.
    std::uint8_t* LowestRow() { return m_pBits.get(); }
    const std::uint8_t* LowestRow() const { return m_pBits.get(); }
    // Picture row y, counted from the top (0 is the top row).
    std::uint8_t* PictureRow(int y) { return m_pBits.get() + static_cast<std::size_t>(m_nHeight - 1 - y) * m_nStride; }
    const std::uint8_t* PictureRow(int y) const
    {
        return m_pBits.get() + static_cast<std::size_t>(m_nHeight - 1 - y) * m_nStride;
    }
    // The platform's bits pointer: the top row of the picture.
    std::uint8_t* Bits() { return PictureRow(0); }

    bool IsIndexed() const { return m_nBitCount <= 8; }
    // 2^depth for indexed pictures (at most 256), else 0.
    int MaxColourTableSize() const { return IsIndexed() ? (1 << m_nBitCount) : 0; }
    // Reads or writes colour-table entries; returns how many were transferred.
    int GetColourTable(int nFirst, int nCount, SRGBQuad* pColours) const;
    int SetColourTable(int nFirst, int nCount, const SRGBQuad* pColours);
    const SRGBQuad* ColourTable() const { return m_aColourTable.data(); }

    // 16-bit pictures: the red, green and blue masks of a pixel (5-5-5 unless a file said otherwise).
    std::array<std::uint32_t, 3> m_aBitFields{0x7C00, 0x03E0, 0x001F};
    // No data in this picture, when a rectification marked it (none by default).
    SNoDataValue m_noData;
    // When set, the rows are made on demand (see CRowSupply): an encoder that takes rows
    // in bands asks for each band and releases it once written; any other reader calls
    // MakeAllRows first. Not owned.
    const CRowSupply* m_pRowSupply = nullptr;
    // The supply when the picture owns it: a scan whose rows are read from its file only
    // when asked for (see TiffRowsOnDemand). A reader of such a picture makes the rows it
    // reads first (MakeRows) and may hand them back (ReleaseRows); several threads may ask
    // for the same rows.
    std::shared_ptr<const CRowSupply> m_pOwnedRowSupply;

private:
    struct SFree {
        std::shared_ptr<const void> pMapping;  // set: the bits belong to this mapped file
        void operator()(std::uint8_t* p) const;
    };

    CDIBSection() = default;

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBitCount = 0;
    int m_nStride = 0;
    std::unique_ptr<std::uint8_t, SFree> m_pBits;
    std::array<SRGBQuad, kColourTableSize> m_aColourTable{};
};

}  // namespace gridmorph
