// Windows bitmap files. The in-memory picture is itself a bottom-up DIB, so an
// uncompressed file's pixel array is read straight into the storage in one call and
// written from it in one call.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/ImageCodec.h"
#include "io/MappedFile.h"
#include "io/SafeFileWriter.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

// Rows of a picture made on demand that are made and written at a time.
constexpr int kStreamBandRows = 32;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr int kFileHeaderSize = 14;
// Run-length bitmaps: the size up to which a picture may be mostly pixels its data skips,
// and past it the most pixels a byte of data may stand for (see Decode).
constexpr std::uint64_t kRleSkippedPixels = std::uint64_t(1) << 24;
constexpr double kRlePixelsPerByte = 4096.0;

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t n)
{
    p[0] = std::uint8_t(n);
    p[1] = std::uint8_t(n >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t n)
{
    Put16(p, n);
    Put16(p + 2, n >> 16);
}

struct SBmpHeader {
    std::uint32_t nDataOffset = 0;
    std::uint32_t nHeaderSize = 0;
    std::int64_t nWidth = 0;
    std::int64_t nHeight = 0;  // negative: rows stored top-down
    int nBitCount = 0;
    std::uint32_t nCompression = kBiRgb;
    std::uint32_t nImageSize = 0;
    std::uint32_t nColoursUsed = 0;
    std::uint32_t aMasks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool bHasMasks = false;
    std::uint32_t nTableOffset = 0;  // file position of the colour table
    int nTableEntrySize = 4;         // 3 for the old OS/2 core header
};

class CBmpCodec final : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Bmp; }
    SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const override;
    SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                        const SEncodeOptions& options) const override;
    bool EncodesRowsOnDemand() const override { return true; }
};

SCodecStatus ReadHeader(CInputFile& file, SBmpHeader& header)
{
    std::uint8_t aFileHeader[kFileHeaderSize + 4];
    if (!file.ReadAt(0, aFileHeader, sizeof aFileHeader))
        return SCodecStatus::Fail(codec_result::kTruncated, "The file is too short for a bitmap header.");
    if (aFileHeader[0] != 'B' || aFileHeader[1] != 'M')
        return SCodecStatus::Fail(codec_result::kCorrupt, "The file is not a Windows bitmap (no \"BM\" signature).");
    header.nDataOffset = Get32(aFileHeader + 10);
    header.nHeaderSize = Get32(aFileHeader + 14);

    const std::uint32_t nSize = header.nHeaderSize;
    if (nSize != 12 && nSize != 40 && nSize != 52 && nSize != 56 && nSize != 108 && nSize != 124 &&
        !(nSize >= 16 && nSize <= 64)) {
        return SCodecStatus::Fail(codec_result::kUnsupported,
                                  "The bitmap header has an unknown size of " + std::to_string(nSize) + " bytes.");
    }
    std::uint8_t aInfo[124] = {};
    if (!file.ReadAt(kFileHeaderSize, aInfo, nSize))
        return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the bitmap header.");

    if (nSize == 12) {
        header.nWidth = Get16(aInfo + 4);
        header.nHeight = Get16(aInfo + 6);
        header.nBitCount = Get16(aInfo + 10);
        header.nTableEntrySize = 3;
    } else {
        header.nWidth = static_cast<std::int32_t>(Get32(aInfo + 4));
        header.nHeight = static_cast<std::int32_t>(Get32(aInfo + 8));
        header.nBitCount = Get16(aInfo + 14);
        if (nSize >= 20)
            header.nCompression = Get32(aInfo + 16);
        if (nSize >= 24)
            header.nImageSize = Get32(aInfo + 20);
        if (nSize >= 36)
            header.nColoursUsed = Get32(aInfo + 32);
        // OS/2 2.x headers (16 to 64 bytes other than 40, 52 and 56) number their
        // compressions differently: 3 is Huffman and 4 is RLE24 there.
        const bool bOs2 = nSize != 40 && nSize != 52 && nSize != 56 && nSize < 108 && nSize != 12;
        if (bOs2 && header.nCompression >= 3)
            return SCodecStatus::Fail(codec_result::kUnsupported, "OS/2 Huffman and RLE24 bitmaps are not supported.");
    }
    header.nTableOffset = kFileHeaderSize + nSize;

    if (header.nCompression == kBiBitfields || header.nCompression == kBiAlphaBitfields) {
        if (nSize >= 52) {
            header.aMasks[0] = Get32(aInfo + 40);
            header.aMasks[1] = Get32(aInfo + 44);
            header.aMasks[2] = Get32(aInfo + 48);
            if (nSize >= 56)
                header.aMasks[3] = Get32(aInfo + 52);
        } else {
            // The masks follow a 40-byte header.
            const int nMasks = header.nCompression == kBiAlphaBitfields ? 4 : 3;
            std::uint8_t aMasks[16];
            if (!file.ReadAt(header.nTableOffset, aMasks, static_cast<std::size_t>(nMasks) * 4))
                return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the colour masks.");
            for (int i = 0; i < nMasks; ++i)
                header.aMasks[i] = Get32(aMasks + 4 * i);
            header.nTableOffset += static_cast<std::uint32_t>(nMasks) * 4;
        }
        header.bHasMasks = true;
    } else if (nSize >= 56 && header.nBitCount == 32) {
        // A V4/V5 header may give an alpha mask even for BI_RGB pixels.
        header.aMasks[3] = Get32(aInfo + 52);
    }
    return SCodecStatus::Ok();
}

SCodecStatus CheckHeader(const SBmpHeader& header)
{
    const int nBits = header.nBitCount;
    if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 16 && nBits != 24 && nBits != 32)
        return SCodecStatus::Fail(codec_result::kUnsupported,
                                  "Bitmaps of " + std::to_string(nBits) + " bits per pixel are not supported.");
    switch (header.nCompression) {
    case kBiRgb:
        break;
    case kBiRle8:
        if (nBits != 8)
            return SCodecStatus::Fail(codec_result::kCorrupt, "RLE8 compression needs 8 bits per pixel.");
        break;
    case kBiRle4:
        if (nBits != 4)
            return SCodecStatus::Fail(codec_result::kCorrupt, "RLE4 compression needs 4 bits per pixel.");
        break;
    case kBiBitfields:
    case kBiAlphaBitfields:
        if (nBits != 16 && nBits != 32)
            return SCodecStatus::Fail(codec_result::kCorrupt, "Colour masks need 16 or 32 bits per pixel.");
        if (!header.aMasks[0] && !header.aMasks[1] && !header.aMasks[2])
            return SCodecStatus::Fail(codec_result::kCorrupt, "The colour masks are all zero.");
        break;
    default:
        return SCodecStatus::Fail(codec_result::kUnsupported, "Bitmap compression " +
                                                                  std::to_string(header.nCompression) +
                                                                  " is not supported.");
    }
    if (header.nWidth < 1 || header.nHeight == 0 || header.nWidth > 0x7FFFFFFF || header.nHeight < -0x7FFFFFFF)
        return SCodecStatus::Fail(codec_result::kCorrupt, "The bitmap declares a picture of " +
                                                              std::to_string(header.nWidth) + " x " +
                                                              std::to_string(header.nHeight) + " pixels.");
    if (header.nHeight < 0 && (header.nCompression == kBiRle8 || header.nCompression == kBiRle4))
        return SCodecStatus::Fail(codec_result::kCorrupt, "A compressed bitmap cannot be stored top-down.");
    if (nBits <= 8 && header.nColoursUsed > (1u << nBits))
        return SCodecStatus::Fail(codec_result::kCorrupt, "The colour table declares " +
                                                              std::to_string(header.nColoursUsed) +
                                                              " entries; a " + std::to_string(nBits) +
                                                              "-bit picture has at most " +
                                                              std::to_string(1u << nBits) + ".");
    return SCodecStatus::Ok();
}

// Decodes RLE8 or RLE4 data into bottom-up storage. Many writers encode whole padded
// rows, so a run may go on past the last column as long as it stays within the row's
// padding: those pixels are dropped. A run past the padded row, and a delta or a row
// outside the picture, are refused; nothing is ever written outside the picture.
SCodecStatus DecodeRle(const std::vector<std::uint8_t>& aData, bool bRle4, CDIBSection& picture)
{
    const int nWidth = picture.Width();
    const int nHeight = picture.Height();
    // Pixels a stored row holds, padding included.
    const std::int64_t nPaddedWidth = static_cast<std::int64_t>(picture.Stride()) * 8 / (bRle4 ? 4 : 8);
    auto SetPixel = [&](std::int64_t x, int y, std::uint8_t nIndex) {
        if (x >= nWidth)
            return;  // in the row's padding
        std::uint8_t* pRow = picture.LowestRow() + static_cast<std::size_t>(y) * picture.Stride();
        if (!bRle4) {
            pRow[x] = nIndex;
        } else if (x & 1) {
            pRow[x >> 1] = static_cast<std::uint8_t>((pRow[x >> 1] & 0xF0) | (nIndex & 0x0F));
        } else {
            pRow[x >> 1] = static_cast<std::uint8_t>((pRow[x >> 1] & 0x0F) | (nIndex << 4));
        }
    };
    auto RunPastRow = [&](int y) {
        return SCodecStatus::Fail(codec_result::kCorrupt,
                                  "An RLE run passes the end of row " + std::to_string(y) + ".");
    };
    auto RowPastPicture = [&] {
        return SCodecStatus::Fail(codec_result::kCorrupt, "The RLE data runs past the top row of the picture.");
    };

    std::size_t nPos = 0;
    const std::size_t nSize = aData.size();
    std::int64_t x = 0;  // may pass the last column, up to the padded row's end
    int y = 0;
    while (true) {
        if (nPos + 2 > nSize) {
            if (y >= nHeight)
                return SCodecStatus::Ok();  // the last row ended; only the end marker is missing
            return SCodecStatus::Fail(codec_result::kTruncated,
                                      "The RLE data ends at row " + std::to_string(y) + " of " +
                                          std::to_string(nHeight) + ".");
        }
        const int nCount = aData[nPos];
        const int nCode = aData[nPos + 1];
        nPos += 2;
        if (nCount > 0) {
            if (y >= nHeight)
                return RowPastPicture();
            if (x + nCount > nPaddedWidth)
                return RunPastRow(y);
            for (int i = 0; i < nCount; ++i, ++x)
                SetPixel(x, y, static_cast<std::uint8_t>(bRle4 ? ((i & 1) ? (nCode & 0x0F) : (nCode >> 4)) : nCode));
            continue;
        }
        if (nCode == 0) {  // end of line
            x = 0;
            ++y;
        } else if (nCode == 1) {  // end of bitmap
            return SCodecStatus::Ok();
        } else if (nCode == 2) {  // delta
            if (nPos + 2 > nSize)
                return SCodecStatus::Fail(codec_result::kTruncated, "The RLE data ends inside a delta.");
            x += aData[nPos];
            y += aData[nPos + 1];
            nPos += 2;
            if (x > nPaddedWidth || (y >= nHeight && !(y == nHeight && x == 0)))
                return SCodecStatus::Fail(codec_result::kCorrupt, "An RLE delta moves outside the picture.");
        } else {  // absolute run of nCode pixels, padded to a 16-bit boundary
            const std::size_t nBytes = bRle4 ? (static_cast<std::size_t>(nCode) + 1) / 2 : static_cast<std::size_t>(nCode);
            if (nPos + nBytes > nSize)
                return SCodecStatus::Fail(codec_result::kTruncated, "The RLE data ends inside an absolute run.");
            if (y >= nHeight)
                return RowPastPicture();
            if (x + nCode > nPaddedWidth)
                return RunPastRow(y);
            for (int i = 0; i < nCode; ++i, ++x) {
                const std::uint8_t nByte = aData[nPos + (bRle4 ? static_cast<std::size_t>(i) / 2 : static_cast<std::size_t>(i))];
                SetPixel(x, y, bRle4 ? static_cast<std::uint8_t>((i & 1) ? (nByte & 0x0F) : (nByte >> 4)) : nByte);
            }
            nPos += (nBytes + 1) & ~std::size_t(1);
        }
    }
}

// Turns 32-bit pixels of any mask layout into blue, green, red, alpha in place.
void NormaliseThirtyTwoBit(CDIBSection& picture, const std::uint32_t* pMasks)
{
    const bool bStandard = pMasks[0] == 0x00FF0000 && pMasks[1] == 0x0000FF00 && pMasks[2] == 0x000000FF;
    const bool bHasAlpha = pMasks[3] != 0;
    if (bStandard && pMasks[3] == 0xFF000000)
        return;  // already blue, green, red, alpha
    const SMaskChannel red(pMasks[0]), green(pMasks[1]), blue(pMasks[2]), alpha(pMasks[3]);
    for (int nRow = 0; nRow < picture.Height(); ++nRow) {
        std::uint8_t* pPixel = picture.LowestRow() + static_cast<std::size_t>(nRow) * picture.Stride();
        for (int x = 0; x < picture.Width(); ++x, pPixel += 4) {
            if (bStandard && !bHasAlpha) {
                pPixel[3] = 255;  // no alpha in the file: the fourth byte carries nothing
                continue;
            }
            const std::uint32_t nPixel = Get32(pPixel);
            pPixel[0] = blue.Extract(nPixel);
            pPixel[1] = green.Extract(nPixel);
            pPixel[2] = red.Extract(nPixel);
            pPixel[3] = bHasAlpha ? alpha.Extract(nPixel) : 255;
        }
    }
}

SCodecStatus CBmpCodec::Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const
{
    CInputFile file;
    if (SCodecStatus status = file.Open(strPath); status.Failed())
        return status;
    SBmpHeader header;
    if (SCodecStatus status = ReadHeader(file, header); status.Failed())
        return status;
    if (SCodecStatus status = CheckHeader(header); status.Failed())
        return status;

    const int nWidth = static_cast<int>(header.nWidth);
    const bool bTopDown = header.nHeight < 0;
    const int nHeight = static_cast<int>(bTopDown ? -header.nHeight : header.nHeight);
    const int nFileBits = header.nBitCount;
    const bool bSixteenWithAlpha = nFileBits == 16 && header.bHasMasks && header.aMasks[3] != 0;
    const int nPictureBits = bSixteenWithAlpha ? 32 : nFileBits;

    // Colour table.
    std::vector<SRGBQuad> aTable;
    if (nFileBits <= 8) {
        const std::uint32_t nEntries = header.nColoursUsed ? header.nColoursUsed : (1u << nFileBits);
        std::vector<std::uint8_t> aRaw(static_cast<std::size_t>(nEntries) * header.nTableEntrySize);
        if (!file.ReadAt(header.nTableOffset, aRaw.data(), aRaw.size()))
            return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the colour table.");
        aTable.resize(nEntries);
        for (std::uint32_t i = 0; i < nEntries; ++i) {
            const std::uint8_t* p = aRaw.data() + static_cast<std::size_t>(i) * header.nTableEntrySize;
            aTable[i] = SRGBQuad{p[0], p[1], p[2], 0};
        }
    }

    const std::int64_t nStride = CDIBSection::StrideFor(nWidth, nFileBits);
    if (nStride < 0)
        return SCodecStatus::Fail(codec_result::kCorrupt, "The bitmap declares rows of " + std::to_string(nWidth) +
                                                              " pixels, more bytes than a row can hold.");
    const std::uint64_t nPixelBytes = static_cast<std::uint64_t>(nStride) * static_cast<std::uint64_t>(nHeight);
    const bool bCompressed = header.nCompression == kBiRle8 || header.nCompression == kBiRle4;
    if (header.nDataOffset < header.nTableOffset || header.nDataOffset > file.Size())
        return SCodecStatus::Fail(codec_result::kCorrupt, "The pixel data offset " +
                                                              std::to_string(header.nDataOffset) +
                                                              " lies outside the file.");
    const std::uint64_t nAvailable = file.Size() - header.nDataOffset;
    // Checked before the picture is made, so a short file never costs a large allocation.
    if (!bCompressed && nPixelBytes > nAvailable)
        return SCodecStatus::Fail(codec_result::kTruncated,
                                  "The file is truncated: the pixels need " + std::to_string(nPixelBytes) +
                                      " bytes, the file has " + std::to_string(nAvailable) + ".");

    const std::uint64_t nCompressedSize =
        bCompressed && header.nImageSize ? std::min<std::uint64_t>(header.nImageSize, nAvailable) : nAvailable;
    // An RLE writer spends on every row it codes at least a run pair (2 bytes for at most
    // 255 pixels) and an end of line (2 bytes): no more than 128 pixels a byte. Only deltas
    // and an early end of the bitmap code less, leaving the pixels they skip at colour 0;
    // writers do not make large pictures of little else, so a picture of more than
    // kRleSkippedPixels needs a byte of data for every kRlePixelsPerByte pixels (a 60000 x
    // 60000 picture 860 KiB), else it is refused before the picture is made.
    if (bCompressed && static_cast<std::uint64_t>(nWidth) * static_cast<std::uint64_t>(nHeight) > kRleSkippedPixels)
        if (SCodecStatus status = CheckDataCanHoldPicture("BMP", nWidth, nHeight, nPictureBits, nCompressedSize,
                                                          kRlePixelsPerByte);
            status.Failed())
            return status;

    // A bottom-up 8- or 24-bit file holds its pixels as the picture stores them: mapped
    // when the caller allows it, they need no copy.
    if (!bCompressed && !bTopDown && (nFileBits == 8 || nFileBits == 24) && (nFileBits == 24 || aTable.size() >= 256) &&
        CScopedFileMapping::Allowed() &&
        CDIBSection::WithinMemoryLimit(nWidth, nHeight, nFileBits))
        if (std::shared_ptr<CMappedFile> pMapped = CMappedFile::Map(strPath, header.nDataOffset + nPixelBytes)) {
            std::uint8_t* pBits = pMapped->Data() + header.nDataOffset;
            pPicture = CDIBSection::OverMappedFile(nWidth, nHeight, nFileBits, pBits, std::move(pMapped));
            if (pPicture) {
                if (!aTable.empty())
                    pPicture->SetColourTable(0, static_cast<int>(aTable.size()), aTable.data());
                return SCodecStatus::Ok();
            }
        }
    if (SCodecStatus status = CreateDecodedPicture(nWidth, nHeight, nPictureBits, pPicture); status.Failed())
        return status;
    CDIBSection& picture = *pPicture;
    if (!aTable.empty())
        picture.SetColourTable(0, static_cast<int>(aTable.size()), aTable.data());

    if (bCompressed) {
        std::vector<std::uint8_t> aData(static_cast<std::size_t>(nCompressedSize));
        if (!file.ReadAt(header.nDataOffset, aData.data(), aData.size()))
            return SCodecStatus::Fail(codec_result::kTruncated, "The compressed pixel data cannot be read.");
        if (SCodecStatus status = DecodeRle(aData, header.nCompression == kBiRle4, picture); status.Failed())
            return status;
    } else if (bSixteenWithAlpha) {
        const SMaskChannel red(header.aMasks[0]), green(header.aMasks[1]), blue(header.aMasks[2]), alpha(header.aMasks[3]);
        std::vector<std::uint8_t> aRow(static_cast<std::size_t>(nStride));
        for (int nFileRow = 0; nFileRow < nHeight; ++nFileRow) {
            if (!file.ReadAt(header.nDataOffset + static_cast<std::uint64_t>(nFileRow) * nStride, aRow.data(),
                             aRow.size()))
                return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the pixel data.");
            std::uint8_t* pTarget = bTopDown ? picture.PictureRow(nFileRow)
                                             : picture.LowestRow() + static_cast<std::size_t>(nFileRow) * picture.Stride();
            for (int x = 0; x < nWidth; ++x, pTarget += 4) {
                const std::uint32_t nPixel = Get16(aRow.data() + 2 * x);
                pTarget[0] = blue.Extract(nPixel);
                pTarget[1] = green.Extract(nPixel);
                pTarget[2] = red.Extract(nPixel);
                pTarget[3] = alpha.Extract(nPixel);
            }
        }
    } else if (!bTopDown) {
        if (!file.ReadAt(header.nDataOffset, picture.LowestRow(), static_cast<std::size_t>(nPixelBytes)))
            return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the pixel data.");
    } else {
        for (int y = 0; y < nHeight; ++y)
            if (!file.ReadAt(header.nDataOffset + static_cast<std::uint64_t>(y) * nStride, picture.PictureRow(y),
                             static_cast<std::size_t>(nStride)))
                return SCodecStatus::Fail(codec_result::kTruncated, "The file ends inside the pixel data.");
    }

    if (nFileBits == 16 && !bSixteenWithAlpha && header.bHasMasks)
        picture.m_aBitFields = {header.aMasks[0], header.aMasks[1], header.aMasks[2]};
    if (nFileBits == 32) {
        std::uint32_t aMasks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, header.aMasks[3]};
        if (header.aMasks[0] || header.aMasks[1] || header.aMasks[2])
            std::copy_n(header.aMasks, 3, aMasks);
        NormaliseThirtyTwoBit(picture, aMasks);
    }
    if (nFileBits <= 8 && aTable.size() < (1u << nFileBits))
        return CheckPaletteIndices(picture, static_cast<int>(aTable.size()));
    return SCodecStatus::Ok();
}

SCodecStatus CBmpCodec::Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                              const SEncodeOptions&) const
{
    const int nBits = picture.BitCount();
    const int nTableEntries = picture.MaxColourTableSize();
    // 16-bit pixels keep their masks; 32-bit pixels carry alpha, which needs a V4 header to say so.
    const std::uint32_t nInfoSize = nBits == 32 ? 108 : 40;
    const std::uint32_t nMaskBytes = nBits == 16 ? 12 : 0;
    const std::uint64_t nDataOffset = kFileHeaderSize + nInfoSize + nMaskBytes + 4ull * nTableEntries;
    const std::uint64_t nFileSize = nDataOffset + picture.StorageBytes();

    std::vector<std::uint8_t> aHeader(static_cast<std::size_t>(nDataOffset), 0);
    std::uint8_t* p = aHeader.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, nFileSize > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(nFileSize));
    Put32(p + 10, static_cast<std::uint32_t>(nDataOffset));
    std::uint8_t* pInfo = p + kFileHeaderSize;
    Put32(pInfo + 0, nInfoSize);
    Put32(pInfo + 4, static_cast<std::uint32_t>(picture.Width()));
    Put32(pInfo + 8, static_cast<std::uint32_t>(picture.Height()));  // positive: bottom-up
    Put16(pInfo + 12, 1);
    Put16(pInfo + 14, static_cast<std::uint32_t>(nBits));
    Put32(pInfo + 16, (nBits == 16 || nBits == 32) ? kBiBitfields : kBiRgb);
    Put32(pInfo + 20, picture.StorageBytes() > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(picture.StorageBytes()));
    Put32(pInfo + 24, 3780);  // 96 dots per inch
    Put32(pInfo + 28, 3780);
    Put32(pInfo + 32, static_cast<std::uint32_t>(nTableEntries));
    if (nBits == 16) {
        for (int i = 0; i < 3; ++i)
            Put32(pInfo + 40 + 4 * i, picture.m_aBitFields[static_cast<std::size_t>(i)]);
    } else if (nBits == 32) {
        Put32(pInfo + 40, 0x00FF0000);
        Put32(pInfo + 44, 0x0000FF00);
        Put32(pInfo + 48, 0x000000FF);
        Put32(pInfo + 52, 0xFF000000);
        std::memcpy(pInfo + 56, "BGRs", 4);  // LCS_sRGB, stored little-endian
    }
    if (nTableEntries > 0) {
        std::vector<SRGBQuad> aTable(static_cast<std::size_t>(nTableEntries));
        picture.GetColourTable(0, nTableEntries, aTable.data());
        for (SRGBQuad& entry : aTable)
            entry.rgbReserved = 0;
        std::memcpy(pInfo + nInfoSize + nMaskBytes, aTable.data(), aTable.size() * 4);
    }

    std::FILE* pFile = writer.File();
    const SCodecStatus failed = SCodecStatus::Fail(codec_result::kWriteFailed, "Writing the bitmap failed.");
    if (std::fwrite(aHeader.data(), 1, aHeader.size(), pFile) != aHeader.size())
        return failed;
    if (!picture.m_pRowSupply) {
        if (std::fwrite(picture.LowestRow(), 1, picture.StorageBytes(), pFile) != picture.StorageBytes())
            return failed;
        return SCodecStatus::Ok();
    }
    // Rows made on demand: the file holds them bottom row first, as they are stored, so
    // bands are made on the core's threads from the bottom up and written in turn.
    const int nHeight = picture.Height();
    const int nBands = (nHeight + kStreamBandRows - 1) / kStreamBandRows;
    const int nThreads = GetThreadCount();
    auto BandRows = [&](int nBand, int& nFirst, int& nCount) {
        const int nEnd = nHeight - nBand * kStreamBandRows;  // picture rows [nFirst, nEnd)
        nFirst = std::max(0, nEnd - kStreamBandRows);
        nCount = nEnd - nFirst;
    };
    bool bWritten = false;
    try {
        bWritten = RunOrdered(
        nThreads, nBands, 4 * nThreads,
        [&](int nBand, int) {
            int nFirst = 0, nCount = 0;
            BandRows(nBand, nFirst, nCount);
            picture.m_pRowSupply->MakeRows(nFirst, nCount);
        },
        [&](int nBand) {
            int nFirst = 0, nCount = 0;
            BandRows(nBand, nFirst, nCount);
            const std::size_t nBytes = static_cast<std::size_t>(nCount) * picture.Stride();
            const bool bBandWritten = std::fwrite(picture.PictureRow(nFirst + nCount - 1), 1, nBytes, pFile) == nBytes;
            picture.m_pRowSupply->ReleaseRows(nFirst, nCount);
            return bBandWritten;
        });
    } catch (const std::exception& error) {  // the rows could not be made
        return SCodecStatus::Fail(codec_result::kWriteFailed, error.what());
    }
    return bWritten ? SCodecStatus::Ok() : failed;
}

}  // namespace

const CImageCodec& GetBmpCodec()
{
    static const CBmpCodec s_codec;
    return s_codec;
}

}  // namespace gridmorph
