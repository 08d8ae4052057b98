#include "image/codecs/PngWriter.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

// Raw (filtered) bytes per band: big enough that the band's dictionary and block ends
// cost little, small enough that a few bands in flight stay a few megabytes.
constexpr std::size_t kBandBytes = std::size_t(1) << 20;
constexpr std::size_t kDictionaryBytes = 32768;
constexpr int kBandsInFlightPerThread = 3;
// The filter of full-colour rows unless the options say otherwise. On the 12000 x 9000
// tiled sample map at level 6, "up" alone gives files 2 % larger than every filter with
// the usual choice per row, for three quarters of the processor time (the choice costs
// as much as a fifth of the deflating); bench/bench_codecs sweeps the alternatives.
constexpr int kDefaultPngFilters = PNG_FILTER_UP;
// A chunk's length must stay below 2^31.
constexpr std::size_t kMaxChunkBytes = std::size_t(1) << 30;

enum EPngFilter { kFilterNone = 0, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth, kFilterCount };

// How the picture's rows become PNG rows.
struct SPngRowFormat {
    int nBitDepth = 8;
    int nColourType = PNG_COLOR_TYPE_RGB;
    std::size_t nRowBytes = 0;
    int nPixelBytes = 1;  // the distance of the "left" byte in the filters
};

SPngRowFormat RowFormat(const CDIBSection& picture)
{
    SPngRowFormat format;
    const int nBits = picture.BitCount();
    const std::size_t nWidth = static_cast<std::size_t>(picture.Width());
    if (nBits <= 8) {
        format.nBitDepth = nBits;
        format.nColourType = PNG_COLOR_TYPE_PALETTE;
        format.nRowBytes = (nWidth * static_cast<std::size_t>(nBits) + 7) / 8;
        format.nPixelBytes = 1;
    } else if (nBits == 32) {
        format.nColourType = PNG_COLOR_TYPE_RGB_ALPHA;
        format.nRowBytes = nWidth * 4;
        format.nPixelBytes = 4;
    } else {  // 16- and 24-bit pictures are written as 8-bit red, green, blue
        format.nRowBytes = nWidth * 3;
        format.nPixelBytes = 3;
    }
    return format;
}

// One picture row (counted from the top) in PNG sample order.
void ConvertRow(const CDIBSection& picture, int y, std::uint8_t* pTarget, std::size_t nRowBytes)
{
    const std::uint8_t* pSource = picture.PictureRow(y);
    switch (picture.BitCount()) {
    case 16:
        ExpandSixteenBitRow(picture, pSource, pTarget, true);
        break;
    case 24:
        for (std::size_t i = 0; i < nRowBytes; i += 3) {
            pTarget[i] = pSource[i + 2];
            pTarget[i + 1] = pSource[i + 1];
            pTarget[i + 2] = pSource[i];
        }
        break;
    case 32:
        for (std::size_t i = 0; i < nRowBytes; i += 4) {
            pTarget[i] = pSource[i + 2];
            pTarget[i + 1] = pSource[i + 1];
            pTarget[i + 2] = pSource[i];
            pTarget[i + 3] = pSource[i + 3];
        }
        break;
    default:
        std::memcpy(pTarget, pSource, nRowBytes);
    }
}

inline std::uint8_t PaethPredictor(int nLeft, int nUp, int nUpLeft)
{
    const int nEstimate = nLeft + nUp - nUpLeft;
    const int nToLeft = std::abs(nEstimate - nLeft);
    const int nToUp = std::abs(nEstimate - nUp);
    const int nToUpLeft = std::abs(nEstimate - nUpLeft);
    if (nToLeft <= nToUp && nToLeft <= nToUpLeft)
        return static_cast<std::uint8_t>(nLeft);
    return static_cast<std::uint8_t>(nToUp <= nToUpLeft ? nUp : nUpLeft);
}

// Filters one row (pPrior is the previous unfiltered row, zeros above the first row).
void FilterRow(int nFilter, const std::uint8_t* __restrict pRow, const std::uint8_t* __restrict pPrior,
               std::size_t nBytes, std::size_t nLeft, std::uint8_t* __restrict pOut)
{
    nLeft = std::min(nLeft, nBytes);
    switch (nFilter) {
    case kFilterNone:
        std::memcpy(pOut, pRow, nBytes);
        break;
    case kFilterSub:
        std::memcpy(pOut, pRow, nLeft);
        for (std::size_t i = nLeft; i < nBytes; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - pRow[i - nLeft]);
        break;
    case kFilterUp:
        for (std::size_t i = 0; i < nBytes; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - pPrior[i]);
        break;
    case kFilterAverage:
        for (std::size_t i = 0; i < nLeft; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - (pPrior[i] >> 1));
        for (std::size_t i = nLeft; i < nBytes; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - ((unsigned(pRow[i - nLeft]) + pPrior[i]) >> 1));
        break;
    default:
        for (std::size_t i = 0; i < nLeft; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - pPrior[i]);
        for (std::size_t i = nLeft; i < nBytes; ++i)
            pOut[i] = static_cast<std::uint8_t>(pRow[i] - PaethPredictor(pRow[i - nLeft], pPrior[i], pPrior[i - nLeft]));
        break;
    }
}

// The sum of the filtered bytes taken as signed values, the usual measure of how well a
// filter did.
std::uint64_t AbsoluteSum(const std::uint8_t* pBytes, std::size_t nBytes)
{
    std::uint64_t nSum = 0;
    for (std::size_t i = 0; i < nBytes; ++i) {
        const unsigned nValue = pBytes[i];
        nSum += nValue < 128 ? nValue : 256 - nValue;
    }
    return nSum;
}

// Per-thread working memory and deflate state.
struct SBandScratch {
    z_stream stream{};
    bool bStreamReady = false;
    std::vector<std::uint8_t> aRow, aPrior, aFiltered;
    std::array<std::vector<std::uint8_t>, kFilterCount> aCandidates;
    ~SBandScratch()
    {
        if (bStreamReady)
            deflateEnd(&stream);
    }
};

// One compressed band, kept until it is written.
struct SBandOutput {
    std::vector<std::uint8_t> aData;
    uLong nAdler = 1;
    std::size_t nRawBytes = 0;
};

struct SPngPlan {
    SPngRowFormat format;
    int nLevel = 6;
    int nStrategy = Z_DEFAULT_STRATEGY;
    std::array<bool, kFilterCount> aUseFilter{};
    int nFilterCount = 1;
    int nRowsPerBand = 1;
    int nBands = 1;
};

class CBandEncoder {
public:
    CBandEncoder(const CDIBSection& picture, const SPngPlan& plan) : m_picture(picture), m_plan(plan) {}

    void Encode(int nBand, SBandScratch& scratch, SBandOutput& output) const
    {
        const std::size_t nRowBytes = m_plan.format.nRowBytes;
        const int nHeight = m_picture.Height();
        const int nFirst = nBand * m_plan.nRowsPerBand;
        const int nEnd = std::min(nHeight, nFirst + m_plan.nRowsPerBand);
        // The rows before the band whose filtered bytes make up its dictionary.
        int nDictionaryFirst = nFirst;
        std::size_t nDictionaryBytes = 0;
        while (nDictionaryFirst > 0 && nDictionaryBytes < kDictionaryBytes) {
            --nDictionaryFirst;
            nDictionaryBytes += nRowBytes + 1;
        }

        Prepare(scratch);
        scratch.aFiltered.resize((nRowBytes + 1) * static_cast<std::size_t>(nEnd - nDictionaryFirst));
        std::fill(scratch.aPrior.begin(), scratch.aPrior.end(), 0);
        if (nDictionaryFirst > 0)
            ConvertRow(m_picture, nDictionaryFirst - 1, scratch.aPrior.data(), nRowBytes);
        std::uint8_t* pOut = scratch.aFiltered.data();
        for (int y = nDictionaryFirst; y < nEnd; ++y, pOut += nRowBytes + 1) {
            ConvertRow(m_picture, y, scratch.aRow.data(), nRowBytes);
            FilterBest(scratch, pOut);
            std::swap(scratch.aRow, scratch.aPrior);
        }

        const std::uint8_t* pBand = scratch.aFiltered.data() + nDictionaryBytes;
        const std::size_t nBandBytes = scratch.aFiltered.size() - nDictionaryBytes;
        output.nRawBytes = nBandBytes;
        output.nAdler = adler32_z(adler32_z(0, nullptr, 0), pBand, nBandBytes);

        z_stream& stream = scratch.stream;
        if (deflateReset(&stream) != Z_OK)
            throw std::runtime_error("deflate failed");
        if (nDictionaryBytes > 0) {
            const std::size_t nUsed = std::min(nDictionaryBytes, kDictionaryBytes);
            deflateSetDictionary(&stream, pBand - nUsed, static_cast<uInt>(nUsed));
        }
        const bool bLast = nEnd == nHeight;
        std::size_t nHeader = 0;
        output.aData.resize(deflateBound(&stream, static_cast<uLong>(nBandBytes)) + 16);
        if (nBand == 0) {
            // The zlib header: deflate with a 32 KB window, and the level's class.
            const int nLevelClass = (m_plan.nStrategy >= Z_HUFFMAN_ONLY || m_plan.nLevel < 2) ? 0
                                    : m_plan.nLevel < 6                                     ? 1
                                    : m_plan.nLevel == 6                                    ? 2
                                                                                            : 3;
            unsigned nWord = (0x78u << 8) | (unsigned(nLevelClass) << 6);
            nWord += 31 - nWord % 31;
            output.aData[0] = static_cast<std::uint8_t>(nWord >> 8);
            output.aData[1] = static_cast<std::uint8_t>(nWord & 0xFF);
            nHeader = 2;
        }
        stream.next_in = const_cast<Bytef*>(pBand);
        stream.avail_in = 0;
        std::size_t nInputLeft = nBandBytes;
        std::size_t nWritten = nHeader;
        for (;;) {
            if (stream.avail_in == 0 && nInputLeft > 0) {
                stream.avail_in = static_cast<uInt>(std::min<std::size_t>(nInputLeft, 1u << 30));
                nInputLeft -= stream.avail_in;
            }
            if (nWritten == output.aData.size())
                output.aData.resize(output.aData.size() * 2);
            stream.next_out = output.aData.data() + nWritten;
            stream.avail_out = static_cast<uInt>(std::min<std::size_t>(output.aData.size() - nWritten, 1u << 30));
            const std::size_t nRoom = stream.avail_out;
            const int nFlush = nInputLeft > 0 ? Z_NO_FLUSH : (bLast ? Z_FINISH : Z_SYNC_FLUSH);
            const int nResult = deflate(&stream, nFlush);
            nWritten += nRoom - stream.avail_out;
            if (nResult == Z_STREAM_END)
                break;
            if (nResult != Z_OK && !(nResult == Z_BUF_ERROR && stream.avail_out == 0))
                throw std::runtime_error("deflate failed");
            // A sync flush is complete once deflate leaves output room unused.
            if (nFlush == Z_SYNC_FLUSH && stream.avail_in == 0 && stream.avail_out != 0)
                break;
        }
        output.aData.resize(nWritten);
    }

private:
    void Prepare(SBandScratch& scratch) const
    {
        const std::size_t nRowBytes = m_plan.format.nRowBytes;
        if (!scratch.bStreamReady) {
            if (deflateInit2(&scratch.stream, m_plan.nLevel, Z_DEFLATED, -15, 8, m_plan.nStrategy) != Z_OK)
                throw std::bad_alloc();
            scratch.bStreamReady = true;
        }
        scratch.aRow.resize(nRowBytes);
        scratch.aPrior.resize(nRowBytes);
        if (m_plan.nFilterCount > 1)
            for (int f = 0; f < kFilterCount; ++f)
                if (m_plan.aUseFilter[static_cast<std::size_t>(f)])
                    scratch.aCandidates[static_cast<std::size_t>(f)].resize(nRowBytes);
    }

    // Writes the filter type byte and the filtered row, choosing among the filters in use
    // the one with the smallest sum of signed bytes (the first one on a tie).
    void FilterBest(SBandScratch& scratch, std::uint8_t* pOut) const
    {
        const std::size_t nRowBytes = m_plan.format.nRowBytes;
        const std::size_t nLeft = static_cast<std::size_t>(m_plan.format.nPixelBytes);
        if (m_plan.nFilterCount == 1) {
            int nFilter = 0;
            while (!m_plan.aUseFilter[static_cast<std::size_t>(nFilter)])
                ++nFilter;
            pOut[0] = static_cast<std::uint8_t>(nFilter);
            FilterRow(nFilter, scratch.aRow.data(), scratch.aPrior.data(), nRowBytes, nLeft, pOut + 1);
            return;
        }
        int nBest = -1;
        std::uint64_t nBestSum = 0;
        for (int f = 0; f < kFilterCount; ++f) {
            if (!m_plan.aUseFilter[static_cast<std::size_t>(f)])
                continue;
            std::uint8_t* pCandidate = scratch.aCandidates[static_cast<std::size_t>(f)].data();
            FilterRow(f, scratch.aRow.data(), scratch.aPrior.data(), nRowBytes, nLeft, pCandidate);
            const std::uint64_t nSum = AbsoluteSum(pCandidate, nRowBytes);
            if (nBest < 0 || nSum < nBestSum) {
                nBest = f;
                nBestSum = nSum;
            }
        }
        pOut[0] = static_cast<std::uint8_t>(nBest);
        std::memcpy(pOut + 1, scratch.aCandidates[static_cast<std::size_t>(nBest)].data(), nRowBytes);
    }

    const CDIBSection& m_picture;
    const SPngPlan& m_plan;
};

void PutBigEndian(std::uint8_t* pTarget, std::uint32_t nValue)
{
    pTarget[0] = static_cast<std::uint8_t>(nValue >> 24);
    pTarget[1] = static_cast<std::uint8_t>(nValue >> 16);
    pTarget[2] = static_cast<std::uint8_t>(nValue >> 8);
    pTarget[3] = static_cast<std::uint8_t>(nValue);
}

// Writes one chunk (or several of the same type when the data is longer than a chunk
// may be). False when the file refuses the bytes.
bool WriteChunk(std::FILE* pFile, const char* pType, const std::uint8_t* pData, std::size_t nBytes)
{
    do {
        const std::size_t nPiece = std::min(nBytes, kMaxChunkBytes);
        std::uint8_t aHead[8];
        PutBigEndian(aHead, static_cast<std::uint32_t>(nPiece));
        std::memcpy(aHead + 4, pType, 4);
        uLong nCrc = crc32_z(crc32_z(0, nullptr, 0), aHead + 4, 4);
        if (nPiece > 0)  // a null buffer would reset the checksum
            nCrc = crc32_z(nCrc, pData, nPiece);
        std::uint8_t aTail[4];
        PutBigEndian(aTail, static_cast<std::uint32_t>(nCrc));
        if (std::fwrite(aHead, 1, 8, pFile) != 8 || (nPiece && std::fwrite(pData, 1, nPiece, pFile) != nPiece) ||
            std::fwrite(aTail, 1, 4, pFile) != 4)
            return false;
        pData += nPiece;
        nBytes -= nPiece;
    } while (nBytes > 0);
    return true;
}

SPngPlan MakePlan(const CDIBSection& picture, const SEncodeOptions& options)
{
    SPngPlan plan;
    plan.format = RowFormat(picture);
    plan.nLevel = std::clamp(options.nPngCompressionLevel, 0, 9);
    int nMask = options.nPngFilters;
    if (nMask < 0 || (nMask & PNG_ALL_FILTERS) == 0)
        nMask = plan.format.nColourType == PNG_COLOR_TYPE_PALETTE ? PNG_FILTER_NONE : kDefaultPngFilters;
    const int aMasks[kFilterCount] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    plan.nFilterCount = 0;
    for (int f = 0; f < kFilterCount; ++f) {
        plan.aUseFilter[static_cast<std::size_t>(f)] = (nMask & aMasks[f]) != 0;
        plan.nFilterCount += plan.aUseFilter[static_cast<std::size_t>(f)] ? 1 : 0;
    }
    const bool bOnlyNone = plan.nFilterCount == 1 && plan.aUseFilter[kFilterNone];
    plan.nStrategy = options.nPngStrategy >= 0 ? options.nPngStrategy : (bOnlyNone ? Z_DEFAULT_STRATEGY : Z_FILTERED);
    const std::size_t nLineBytes = plan.format.nRowBytes + 1;
    plan.nRowsPerBand = static_cast<int>(std::clamp<std::size_t>(kBandBytes / nLineBytes, 1, std::size_t(picture.Height())));
    plan.nBands = (picture.Height() + plan.nRowsPerBand - 1) / plan.nRowsPerBand;
    return plan;
}

}  // namespace

SCodecStatus WritePngFile(const CDIBSection& picture, std::FILE* pFile, const SEncodeOptions& options, int nThreads)
{
    try {
        const SPngPlan plan = MakePlan(picture, options);
        static const std::uint8_t aSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::uint8_t aHeader[13];
        PutBigEndian(aHeader, static_cast<std::uint32_t>(picture.Width()));
        PutBigEndian(aHeader + 4, static_cast<std::uint32_t>(picture.Height()));
        aHeader[8] = static_cast<std::uint8_t>(plan.format.nBitDepth);
        aHeader[9] = static_cast<std::uint8_t>(plan.format.nColourType);
        aHeader[10] = aHeader[11] = aHeader[12] = 0;  // deflate, adaptive filtering, no interlace
        bool bWritten = std::fwrite(aSignature, 1, 8, pFile) == 8 && WriteChunk(pFile, "IHDR", aHeader, 13);
        if (bWritten && plan.format.nColourType == PNG_COLOR_TYPE_PALETTE) {
            const int nEntries = picture.MaxColourTableSize();
            const SRGBQuad* pTable = picture.ColourTable();
            std::vector<std::uint8_t> aPalette(static_cast<std::size_t>(nEntries) * 3);
            for (int i = 0; i < nEntries; ++i) {
                aPalette[3 * std::size_t(i)] = pTable[i].rgbRed;
                aPalette[3 * std::size_t(i) + 1] = pTable[i].rgbGreen;
                aPalette[3 * std::size_t(i) + 2] = pTable[i].rgbBlue;
            }
            bWritten = WriteChunk(pFile, "PLTE", aPalette.data(), aPalette.size());
        }
        // No data is transparent in a PNG: a palette entry's alpha 0, or the colour of a
        // full-colour picture.
        const SNoDataValue& noData = picture.m_noData;
        if (bWritten && noData.bSet && plan.format.nColourType == PNG_COLOR_TYPE_PALETTE && noData.nIndex >= 0 &&
            noData.nIndex < picture.MaxColourTableSize()) {
            std::vector<std::uint8_t> aAlpha(static_cast<std::size_t>(noData.nIndex) + 1, 255);
            aAlpha.back() = 0;
            bWritten = WriteChunk(pFile, "tRNS", aAlpha.data(), aAlpha.size());
        } else if (bWritten && noData.bSet && plan.format.nColourType == PNG_COLOR_TYPE_RGB) {
            const std::uint8_t aColour[6] = {0, noData.nRed, 0, noData.nGreen, 0, noData.nBlue};
            bWritten = WriteChunk(pFile, "tRNS", aColour, sizeof aColour);
        }
        if (!bWritten)
            return SCodecStatus::Fail(codec_result::kWriteFailed, "PNG: the file cannot be written.");

        nThreads = std::clamp(nThreads, 1, plan.nBands);
        const int nWindow = kBandsInFlightPerThread * nThreads;
        std::vector<SBandScratch> aScratch(static_cast<std::size_t>(nThreads));
        std::vector<SBandOutput> aOutputs(static_cast<std::size_t>(nWindow));
        const CBandEncoder encoder(picture, plan);
        uLong nAdler = 1;
        const bool bCompleted = RunOrdered(
            nThreads, plan.nBands, nWindow,
            [&](int nBand, int nSlot) {
                encoder.Encode(nBand, aScratch[static_cast<std::size_t>(nSlot)],
                               aOutputs[static_cast<std::size_t>(nBand % nWindow)]);
            },
            [&](int nBand) {
                SBandOutput& output = aOutputs[static_cast<std::size_t>(nBand % nWindow)];
                nAdler = nBand == 0 ? output.nAdler
                                    : adler32_combine(nAdler, output.nAdler, static_cast<z_off_t>(output.nRawBytes));
                if (nBand == plan.nBands - 1) {
                    std::uint8_t aCheck[4];
                    PutBigEndian(aCheck, static_cast<std::uint32_t>(nAdler));
                    output.aData.insert(output.aData.end(), aCheck, aCheck + 4);
                }
                return WriteChunk(pFile, "IDAT", output.aData.data(), output.aData.size());
            });
        if (!bCompleted || !WriteChunk(pFile, "IEND", nullptr, 0) || std::fflush(pFile) != 0)
            return SCodecStatus::Fail(codec_result::kWriteFailed, "PNG: the file cannot be written.");
        return SCodecStatus::Ok();
    } catch (const std::bad_alloc&) {
        return SCodecStatus::Fail(codec_result::kOutOfMemory, "PNG: there is not enough memory to compress the picture.");
    } catch (const std::exception&) {
        return SCodecStatus::Fail(codec_result::kWriteFailed, "PNG: compressing the picture failed.");
    }
}

}  // namespace gridmorph
