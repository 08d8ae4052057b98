#include "image/codecs/TiffRowsOnDemand.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "image/DIBSection.h"
#include "image/codecs/CodecCommon.h"
#include "image/codecs/TiffLzw.h"
#include "io/MappedFile.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace tiff {
namespace {

// How the rows lie in the file. A unit is what is decoded at once: a block of rows of an
// uncompressed file (read straight from their places), a strip, or a row of tiles.
enum class EUnits { UncompressedRows, Strips, TileRows };

struct SGeometry {
    EUnits eUnits = EUnits::Strips;
    int nWidth = 0, nHeight = 0;
    int nUnitRows = 1;
    std::uint32_t nTileWidth = 0;                // tiles
    std::size_t nRowBytes = 0;                   // one row of samples (of a tile, for tiles)
    std::size_t nUnitBytes = 0;                  // the decoded unit (one tile, for tiles)
    std::uint32_t nStripsOrTiles = 0;            // as the file counts them, to check a reopened file
    std::uint16_t nCompression = COMPRESSION_NONE;
    std::vector<std::uint64_t> aRowOffsets;      // uncompressed rows: where each row lies
    bool bOwnLzw = false;      // LZW strips decoded here first (libtiff's decoder when that fails)
    int nPredictorStep = 0;    // with bOwnLzw: bytes per pixel of the horizontal predictor, 0 none
};

// One libtiff handle with its messages and its buffer; a handle serves one thread at a time.
struct SReader {
    STiffMessages messages;
    STiffHandle handle;
    std::vector<std::uint8_t> aBuffer;
    std::vector<std::uint8_t> aRaw;  // a compressed strip as it lies in the file
};

class CTiffRowsOnDemand final : public CRowSupply {
public:
    CTiffRowsOnDemand(std::string strPath, std::uint64_t nFileSize, const STiffLayout& layout, CDIBSection& picture,
                      SGeometry geometry)
        : m_strPath(std::move(strPath)), m_nFileSize(nFileSize), m_layout(layout), m_picture(picture),
          m_geometry(std::move(geometry)), m_aState(static_cast<std::size_t>(m_geometry.nHeight), kAbsent)
    {
    }

    void MakeRows(int nFirst, int nCount) const override
    {
        if (!Fill(nFirst, nFirst + nCount))
            throw std::runtime_error(Problem());
    }

    void ReleaseRows(int nFirst, int nCount) const override;

    void MakeAllRows() const override
    {
        const int nUnits = (m_geometry.nHeight + m_geometry.nUnitRows - 1) / m_geometry.nUnitRows;
        const int nThreads = std::clamp(GetThreadCount(), 1, nUnits);
        RunOrdered(
            nThreads, nUnits, 4 * nThreads,
            [&](int nUnit, int) { Fill(nUnit * m_geometry.nUnitRows, (nUnit + 1) * m_geometry.nUnitRows); },
            [&](int) { return Problem().empty(); });
        if (std::string strProblem = Problem(); !strProblem.empty())
            throw std::runtime_error(strProblem);
    }

    std::string Problem() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_strProblem;
    }

    bool CopyRow(int y, std::uint8_t* pRow) const override;

private:
    static constexpr std::uint8_t kAbsent = 0, kFilling = 1, kPresent = 2;

    // Makes rows [nFirst, nEnd) present, decoding the units that hold absent ones on this
    // thread and waiting for those another thread is decoding. False after a read failure.
    bool Fill(int nFirst, int nEnd) const;
    // Decodes a unit into the picture's rows of it that are being filled (the others are
    // present and may be read by other threads meanwhile, so they are not written).
    bool DecodeUnit(int nUnit, SReader& reader, std::string& strError) const;
    // Decodes an LZW strip of nWanted bytes into the reader's buffer with our own decoder;
    // false when it cannot (then libtiff decodes it).
    bool DecodeOwnLzw(int nStrip, tmsize_t nWanted, SReader& reader) const;
    std::unique_ptr<SReader> TakeReader(std::string& strError) const;
    void GiveBackReader(std::unique_ptr<SReader> pReader) const;
    std::string ReadFailureText(const std::string& strDetail) const;

    const std::string m_strPath;
    const std::uint64_t m_nFileSize;
    const STiffLayout m_layout;
    CDIBSection& m_picture;
    const SGeometry m_geometry;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_filled;
    mutable std::vector<std::uint8_t> m_aState;  // per picture row: kAbsent, kFilling, kPresent
    mutable std::vector<std::unique_ptr<SReader>> m_aReaders;  // handles not in use
    mutable std::string m_strProblem;
};

bool CTiffRowsOnDemand::Fill(int nFirst, int nEnd) const
{
    nFirst = std::max(nFirst, 0);
    nEnd = std::min(nEnd, m_geometry.nHeight);
    std::unique_lock<std::mutex> lock(m_mutex);
    int y = nFirst;
    while (m_strProblem.empty()) {
        while (y < nEnd && m_aState[std::size_t(y)] == kPresent)
            ++y;
        if (y == nEnd)
            return true;
        if (m_aState[std::size_t(y)] == kFilling) {  // another thread decodes it
            m_filled.wait(lock);
            continue;
        }
        // Claim the absent rows of y's unit, decode it without the lock, and publish them.
        const int nUnit = y / m_geometry.nUnitRows;
        const int nUnitFirst = nUnit * m_geometry.nUnitRows;
        const int nUnitEnd = std::min(m_geometry.nHeight, nUnitFirst + m_geometry.nUnitRows);
        for (int r = nUnitFirst; r < nUnitEnd; ++r)
            if (m_aState[std::size_t(r)] == kAbsent)
                m_aState[std::size_t(r)] = kFilling;
        lock.unlock();
        std::string strError;
        bool bDecoded = false;
        if (std::unique_ptr<SReader> pReader = TakeReader(strError)) {
            try {
                bDecoded = DecodeUnit(nUnit, *pReader, strError);
            } catch (const std::bad_alloc&) {
                strError = "Not enough memory to decode the file.";
            }
            GiveBackReader(std::move(pReader));
        }
        if (!bDecoded)
            strError = ReadFailureText(strError);
        lock.lock();
        for (int r = nUnitFirst; r < nUnitEnd; ++r)
            if (m_aState[std::size_t(r)] == kFilling)
                m_aState[std::size_t(r)] = bDecoded ? kPresent : kAbsent;
        if (!bDecoded && m_strProblem.empty())
            m_strProblem = strError;
        m_filled.notify_all();
    }
    return false;
}

bool CTiffRowsOnDemand::DecodeUnit(int nUnit, SReader& reader, std::string& strError) const
{
    const SGeometry& g = m_geometry;
    const int nUnitFirst = nUnit * g.nUnitRows;
    const int nRows = std::min(g.nHeight - nUnitFirst, g.nUnitRows);
    auto Filling = [&](int y) { return m_aState[std::size_t(y)] == kFilling; };  // set by this thread alone
    reader.aBuffer.resize(g.nUnitBytes + kLzwDecodeSlack);
    std::uint8_t* pBuffer = reader.aBuffer.data();
    TIFF* pTiff = reader.handle.pTiff;
    switch (g.eUnits) {
    case EUnits::UncompressedRows: {
        // Rows that follow each other in the file are read with one call.
        for (int r = 0; r < nRows;) {
            int nRunEnd = r + 1;
            while (nRunEnd < nRows && g.aRowOffsets[std::size_t(nUnitFirst + nRunEnd)] ==
                                          g.aRowOffsets[std::size_t(nUnitFirst + nRunEnd - 1)] + g.nRowBytes)
                ++nRunEnd;
            const std::size_t nBytes = std::size_t(nRunEnd - r) * g.nRowBytes;
            std::uint8_t* pRun = pBuffer + std::size_t(r) * g.nRowBytes;
            for (std::size_t nDone = 0; nDone < nBytes;) {
                const ssize_t nRead = pread(TIFFFileno(pTiff), pRun + nDone, nBytes - nDone,
                                            static_cast<off_t>(g.aRowOffsets[std::size_t(nUnitFirst + r)] + nDone));
                if (nRead <= 0)
                    return false;
                nDone += static_cast<std::size_t>(nRead);
            }
            r = nRunEnd;
        }
        for (int r = 0; r < nRows; ++r)
            if (Filling(nUnitFirst + r))
                ConvertSamples(m_layout, pBuffer + std::size_t(r) * g.nRowBytes, g.nWidth,
                               m_picture.PictureRow(nUnitFirst + r), 0);
        return true;
    }
    case EUnits::Strips: {
        const tmsize_t nWanted = static_cast<tmsize_t>(std::size_t(nRows) * g.nRowBytes);
        if (!DecodeOwnLzw(nUnit, nWanted, reader) &&
            TIFFReadEncodedStrip(pTiff, static_cast<std::uint32_t>(nUnit), pBuffer, nWanted) < nWanted) {
            strError = reader.messages.strError;
            return false;
        }
        for (int r = 0; r < nRows; ++r)
            if (Filling(nUnitFirst + r))
                ConvertSamples(m_layout, pBuffer + std::size_t(r) * g.nRowBytes, g.nWidth,
                               m_picture.PictureRow(nUnitFirst + r), 0);
        return true;
    }
    case EUnits::TileRows:
        for (std::uint32_t nX = 0; nX < std::uint32_t(g.nWidth); nX += g.nTileWidth) {
            const ttile_t nTile = TIFFComputeTile(pTiff, nX, static_cast<std::uint32_t>(nUnitFirst), 0, 0);
            if (TIFFReadEncodedTile(pTiff, nTile, pBuffer, static_cast<tmsize_t>(g.nUnitBytes)) < 0) {
                strError = reader.messages.strError;
                return false;
            }
            const int nColumns = static_cast<int>(std::min<std::uint32_t>(g.nTileWidth, std::uint32_t(g.nWidth) - nX));
            for (int r = 0; r < nRows; ++r)
                if (Filling(nUnitFirst + r))
                    ConvertSamples(m_layout, pBuffer + std::size_t(r) * g.nRowBytes, nColumns,
                                   m_picture.PictureRow(nUnitFirst + r), static_cast<int>(nX));
        }
        return true;
    }
    return false;
}

bool CTiffRowsOnDemand::CopyRow(int y, std::uint8_t* pRow) const
{
    // An uncompressed row is read on its own; a compressed strip only when it is one row.
    const SGeometry& g = m_geometry;
    if (y < 0 || y >= g.nHeight || (g.eUnits != EUnits::UncompressedRows && !(g.eUnits == EUnits::Strips && g.nUnitRows == 1)))
        return false;
    std::string strError;
    std::unique_ptr<SReader> pReader = TakeReader(strError);
    if (!pReader)
        return false;
    SReader& reader = *pReader;
    reader.aBuffer.resize(g.nRowBytes + kLzwDecodeSlack);
    bool bRead = false;
    if (g.eUnits == EUnits::UncompressedRows) {
        bRead = true;
        for (std::size_t nDone = 0; nDone < g.nRowBytes && bRead;) {
            const ssize_t nRead = pread(TIFFFileno(reader.handle.pTiff), reader.aBuffer.data() + nDone, g.nRowBytes - nDone,
                                        static_cast<off_t>(g.aRowOffsets[std::size_t(y)] + nDone));
            bRead = nRead > 0;
            nDone += bRead ? static_cast<std::size_t>(nRead) : 0;
        }
    } else {
        const tmsize_t nWanted = static_cast<tmsize_t>(g.nRowBytes);
        bRead = DecodeOwnLzw(y, nWanted, reader) ||
                TIFFReadEncodedStrip(reader.handle.pTiff, static_cast<std::uint32_t>(y), reader.aBuffer.data(), nWanted) >= nWanted;
    }
    if (bRead)
        ConvertSamples(m_layout, reader.aBuffer.data(), g.nWidth, pRow, 0);
    GiveBackReader(std::move(pReader));
    return bRead;
}

bool CTiffRowsOnDemand::DecodeOwnLzw(int nStrip, tmsize_t nWanted, SReader& reader) const
{
    if (!m_geometry.bOwnLzw)
        return false;
    TIFF* pTiff = reader.handle.pTiff;
    const std::uint64_t nRawBytes = TIFFGetStrileByteCount(pTiff, static_cast<std::uint32_t>(nStrip));
    // A strip far larger than its rows could compress to is damaged: libtiff says so.
    if (nRawBytes == 0 || nRawBytes > 2 * std::uint64_t(nWanted) + 4096)
        return false;
    reader.aRaw.resize(static_cast<std::size_t>(nRawBytes));
    if (TIFFReadRawStrip(pTiff, static_cast<std::uint32_t>(nStrip), reader.aRaw.data(), static_cast<tmsize_t>(nRawBytes)) !=
        static_cast<tmsize_t>(nRawBytes))
        return false;
    if (!DecodeTiffLzwStrip(reader.aRaw.data(), reader.aRaw.size(), reader.aBuffer.data(), static_cast<std::size_t>(nWanted)))
        return false;
    if (m_geometry.nPredictorStep > 0)
        AccumulateTiffRows(reader.aBuffer.data(), m_geometry.nRowBytes, static_cast<std::size_t>(nWanted) / m_geometry.nRowBytes,
                           m_geometry.nPredictorStep);
    return true;
}

std::unique_ptr<SReader> CTiffRowsOnDemand::TakeReader(std::string& strError) const
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_aReaders.empty()) {
            std::unique_ptr<SReader> pReader = std::move(m_aReaders.back());
            m_aReaders.pop_back();
            return pReader;
        }
    }
    // A handle for this thread: the file must still be the one the picture was made for.
    auto pReader = std::make_unique<SReader>();
    pReader->handle.pTiff = OpenTiff(m_strPath, -1, "rm", pReader->messages);
    TIFF* pTiff = pReader->handle.pTiff;
    if (!pTiff) {
        strError = pReader->messages.strError;
        return nullptr;
    }
    std::uint32_t nWidth = 0, nHeight = 0;
    std::uint16_t nCompression = COMPRESSION_NONE;
    TIFFGetField(pTiff, TIFFTAG_IMAGEWIDTH, &nWidth);
    TIFFGetField(pTiff, TIFFTAG_IMAGELENGTH, &nHeight);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nCompression);
    const bool bTiled = TIFFIsTiled(pTiff) != 0;
    const std::uint32_t nCount = bTiled ? TIFFNumberOfTiles(pTiff) : TIFFNumberOfStrips(pTiff);
    if (nWidth != std::uint32_t(m_geometry.nWidth) || nHeight != std::uint32_t(m_geometry.nHeight) ||
        nCompression != m_geometry.nCompression || bTiled != (m_geometry.eUnits == EUnits::TileRows) ||
        nCount != m_geometry.nStripsOrTiles) {
        strError = "The scan changed while it was being read; no map was written.";
        return nullptr;
    }
    return pReader;
}

void CTiffRowsOnDemand::GiveBackReader(std::unique_ptr<SReader> pReader) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aReaders.push_back(std::move(pReader));
}

std::string CTiffRowsOnDemand::ReadFailureText(const std::string& strDetail) const
{
    struct stat status {};
    if (stat(m_strPath.c_str(), &status) != 0 || std::uint64_t(status.st_size) < m_nFileSize)
        return kScanCutText;
    return strDetail.empty() ? "TIFF: a strip or tile of the scan cannot be read." : strDetail;
}

void CTiffRowsOnDemand::ReleaseRows(int nFirst, int nCount) const
{
    const int nHeight = m_geometry.nHeight;
    const int nEnd = std::min(nHeight, nFirst + nCount);
    nFirst = std::max(0, nFirst);
    if (nFirst >= nEnd)
        return;
    const std::uintptr_t nStride = static_cast<std::uintptr_t>(m_picture.Stride());
    const std::uintptr_t nStorage = nStride * static_cast<std::uintptr_t>(nHeight);
    // A large picture is held in 2 MB pages (see CDIBSection::Create): handing back part of
    // one would split it. Rows of a piece go back once every row on it is absent.
    const std::uintptr_t nPiece = nStorage >= (std::uintptr_t(8) << 20) ? std::uintptr_t(2) << 20
                                                                         : static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const int nPieceRows = static_cast<int>(nPiece / nStride) + 2;
    const auto nBase = reinterpret_cast<std::uintptr_t>(m_picture.LowestRow());
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int y = nFirst; y < nEnd; ++y)
        if (m_aState[std::size_t(y)] == kPresent)
            m_aState[std::size_t(y)] = kAbsent;
    // Every run of absent rows that meets them, as far as a piece reaches either side (rows
    // another thread is decoding stay).
    const int nWindowEnd = std::min(nHeight, nEnd + nPieceRows);
    for (int y = std::max(0, nFirst - nPieceRows); y < nWindowEnd;) {
        if (m_aState[std::size_t(y)] != kAbsent) {
            ++y;
            continue;
        }
        const int nLow = y;
        while (y < nWindowEnd && m_aState[std::size_t(y)] == kAbsent)
            ++y;
        const int nHigh = y;
        if (nHigh <= nFirst || nLow >= nEnd)
            continue;
        // Picture rows [nLow, nHigh) lie in storage rows [height - nHigh, height - nLow).
        const std::uintptr_t nFrom =
            (nBase + nStride * static_cast<std::uintptr_t>(nHeight - nHigh) + nPiece - 1) / nPiece * nPiece;
        const std::uintptr_t nTo = (nBase + nStride * static_cast<std::uintptr_t>(nHeight - nLow)) / nPiece * nPiece;
        if (nTo > nFrom)
            madvise(reinterpret_cast<void*>(nFrom), nTo - nFrom, MADV_DONTNEED);
    }
}

// The geometry of a file whose rows can be decoded on demand, or false.
bool ReadGeometry(TIFF* pTiff, std::uint64_t nFileSize, const STiffLayout& layout, int nWidth, int nHeight,
                  SGeometry& g)
{
    std::uint16_t nCompression = COMPRESSION_NONE, nFillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_COMPRESSION, &nCompression);
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_FILLORDER, &nFillOrder);
    const bool bKnownCompression = nCompression == COMPRESSION_NONE || nCompression == COMPRESSION_LZW ||
                                   nCompression == COMPRESSION_ADOBE_DEFLATE || nCompression == COMPRESSION_DEFLATE ||
                                   nCompression == COMPRESSION_PACKBITS;
    if (layout.bGeneric || !bKnownCompression)
        return false;
    g.nWidth = nWidth;
    g.nHeight = nHeight;
    g.nCompression = nCompression;
    if (TIFFIsTiled(pTiff)) {
        std::uint32_t nTileWidth = 0, nTileHeight = 0;
        TIFFGetField(pTiff, TIFFTAG_TILEWIDTH, &nTileWidth);
        TIFFGetField(pTiff, TIFFTAG_TILELENGTH, &nTileHeight);
        const tmsize_t nTileBytes = TIFFTileSize(pTiff), nTileRowBytes = TIFFTileRowSize(pTiff);
        if (!nTileWidth || !nTileHeight || nTileBytes <= 0 || nTileRowBytes <= 0 || nTileBytes > kTiffMaxSingleAllocation ||
            std::uint64_t(nTileRowBytes) * nTileHeight > std::uint64_t(nTileBytes))
            return false;
        g.eUnits = EUnits::TileRows;
        g.nTileWidth = nTileWidth;
        g.nUnitRows = static_cast<int>(std::min<std::uint32_t>(nTileHeight, std::uint32_t(nHeight)));
        g.nRowBytes = static_cast<std::size_t>(nTileRowBytes);
        g.nUnitBytes = static_cast<std::size_t>(nTileBytes);
        g.nStripsOrTiles = TIFFNumberOfTiles(pTiff);
        return true;
    }
    const tmsize_t nLineBytes = TIFFScanlineSize(pTiff);
    std::uint32_t nRowsPerStrip = 0;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_ROWSPERSTRIP, &nRowsPerStrip);
    nRowsPerStrip = std::clamp<std::uint32_t>(nRowsPerStrip, 1, std::uint32_t(nHeight));
    const std::uint32_t nStrips = (std::uint32_t(nHeight) + nRowsPerStrip - 1) / nRowsPerStrip;
    if (nLineBytes <= 0 || nLineBytes > kTiffMaxSingleAllocation || nStrips != TIFFNumberOfStrips(pTiff))
        return false;
    g.nRowBytes = static_cast<std::size_t>(nLineBytes);
    g.nStripsOrTiles = nStrips;
    if (nCompression == COMPRESSION_NONE && nFillOrder == FILLORDER_MSB2LSB &&
        !(layout.nBitsPerSample == 16 && TIFFIsByteSwapped(pTiff))) {
        // Uncompressed rows are read from where they lie, in blocks of about half a
        // megabyte whatever the strips are; every place is checked against the file first.
        g.eUnits = EUnits::UncompressedRows;
        g.aRowOffsets.resize(static_cast<std::size_t>(nHeight));
        for (std::uint32_t nStrip = 0; nStrip < nStrips; ++nStrip) {
            const std::uint64_t nFirstRow = std::uint64_t(nStrip) * nRowsPerStrip;
            const std::uint64_t nRows = std::min<std::uint64_t>(nRowsPerStrip, std::uint64_t(nHeight) - nFirstRow);
            const std::uint64_t nOffset = TIFFGetStrileOffset(pTiff, nStrip);
            if (TIFFGetStrileByteCount(pTiff, nStrip) < nRows * g.nRowBytes || nOffset > nFileSize ||
                nRows * g.nRowBytes > nFileSize - nOffset)
                return false;
            for (std::uint64_t r = 0; r < nRows; ++r)
                g.aRowOffsets[std::size_t(nFirstRow + r)] = nOffset + r * g.nRowBytes;
        }
        g.nUnitRows = static_cast<int>(std::clamp<std::size_t>((std::size_t(512) << 10) / g.nRowBytes, 1, std::size_t(nHeight)));
        g.nUnitBytes = std::size_t(g.nUnitRows) * g.nRowBytes;
        return true;
    }
    // A compressed strip is decoded whole: strips too large to hold are left to the
    // whole-picture reader, which reads them a row at a time.
    if (std::uint64_t(nRowsPerStrip) * g.nRowBytes > std::uint64_t(kTiffMaxSingleAllocation) / 4)
        return false;
    g.eUnits = EUnits::Strips;
    g.nUnitRows = static_cast<int>(nRowsPerStrip);
    g.nUnitBytes = std::size_t(nRowsPerStrip) * g.nRowBytes;
    // LZW strips of whole bytes in the usual bit order, with no predictor or the horizontal
    // one on 8-bit samples, are decoded here (about twice libtiff's speed).
    std::uint16_t nPredictor = PREDICTOR_NONE;
    TIFFGetFieldDefaulted(pTiff, TIFFTAG_PREDICTOR, &nPredictor);
    if (nCompression == COMPRESSION_LZW && nFillOrder == FILLORDER_MSB2LSB && layout.nBitsPerSample == 8 &&
        (nPredictor == PREDICTOR_NONE || nPredictor == PREDICTOR_HORIZONTAL)) {
        g.bOwnLzw = true;
        g.nPredictorStep = nPredictor == PREDICTOR_HORIZONTAL ? layout.nSamplesPerPixel : 0;
    }
    return true;
}

}  // namespace

bool AttachRowsOnDemand(TIFF* pTiff, const std::string& strPath, std::uint64_t nFileSize, const STiffLayout& layout,
                        CDIBSection& picture)
{
    SGeometry geometry;
    try {
        if (!ReadGeometry(pTiff, nFileSize, layout, picture.Width(), picture.Height(), geometry))
            return false;
        auto pSupply = std::make_shared<CTiffRowsOnDemand>(strPath, nFileSize, layout, picture, std::move(geometry));
        picture.m_pRowSupply = pSupply.get();
        picture.m_pOwnedRowSupply = std::move(pSupply);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace tiff
}  // namespace gridmorph
