#pragma once

// The TIFF encoder's pixel side: the picture's rows in TIFF sample order, strips made on
// several threads, and the file they go to. Each thread runs libtiff's own codec on a TIFF kept in
// memory with the same fields as the file, one strip at a time, and the strips are
// copied into the file in order as raw strips, so the file holds exactly the strips
// libtiff writes strip by strip, whatever the thread count.
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// The file a TIFF is written to, for libtiff's client interface: what libtiff writes in
// small pieces (a strip of a row or two, tag data) is gathered and written in blocks of a
// few megabytes. Owns the descriptor it is given.
class CTiffOutputFile {
public:
    explicit CTiffOutputFile(int nFd);
    ~CTiffOutputFile();
    CTiffOutputFile(const CTiffOutputFile&) = delete;
    CTiffOutputFile& operator=(const CTiffOutputFile&) = delete;

    // Opens a TIFF for writing over this file with libtiff's options (error handlers).
    TIFF* Open(const char* pName, const char* pMode, TIFFOpenOptions* pOptions);
    // Writes what is gathered; false (and errno set) when the file could not take it.
    bool Flush();
    // The system's error of the write that failed ("No space left on device"), or "".
    std::string WriteProblem() const;

private:
    static tmsize_t Read(thandle_t pHandle, void* pBuffer, tmsize_t nBytes);
    static tmsize_t Write(thandle_t pHandle, void* pBuffer, tmsize_t nBytes);
    static toff_t Seek(thandle_t pHandle, toff_t nOffset, int nWhence);
    static int Close(thandle_t pHandle);
    static toff_t Size(thandle_t pHandle);
    bool WriteAt(std::uint64_t nOffset, const std::uint8_t* pData, std::size_t nBytes);

    int m_nFd;
    std::vector<std::uint8_t> m_aPending;  // bytes for the file from m_nPendingStart on
    std::uint64_t m_nPendingStart = 0;
    std::uint64_t m_nPosition = 0;
    std::uint64_t m_nSize = 0;
    bool m_bFailed = false;
    int m_nWriteError = 0;  // errno of the write that failed
    std::uint64_t m_nStartedUpTo = 0;  // bytes before this are on their way to the disc
};

// Writes the picture as a TIFF (strName names it in messages) into the open file nFd,
// which it takes over and closes; a failed write says the system's reason.
SCodecStatus WriteTiffFile(int nFd, const std::string& strName, const CDIBSection& picture,
                           const SEncodeOptions& options);

// Sets size, samples, photometric interpretation, compression, predictor, rows per strip
// and colour map for writing the picture.
void SetTiffWriteFields(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression);

// The bytes of one TIFF row of the picture (picture row y, from the top).
std::size_t TiffRowBytes(const CDIBSection& picture);
void ConvertTiffRow(const CDIBSection& picture, int y, std::uint8_t* pTarget);

// Writes every strip of the picture into pTiff, whose fields SetTiffWriteFields set with
// the same compression. Strips are made in groups on nThreads threads (compressed, or for
// None the rows in TIFF order) and written in order as raw strips. On failure strError
// says why.
bool WriteStrips(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression, int nThreads,
                           std::string& strError);

}  // namespace gridmorph
