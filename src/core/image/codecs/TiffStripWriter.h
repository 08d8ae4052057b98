#pragma once

// The TIFF encoder's pixel side: the picture's rows in TIFF sample order, and compressed
// strips made on several threads. Each thread runs libtiff's own codec on a TIFF kept in
// memory with the same fields as the file, one strip at a time, and the strips are
// copied into the file in order as raw strips, so the file holds exactly the strips
// libtiff writes strip by strip, whatever the thread count.
#include <tiffio.h>

#include <cstdint>
#include <string>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// Sets size, samples, photometric interpretation, compression, predictor, rows per strip
// and colour map for writing the picture.
void SetTiffWriteFields(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression);

// The bytes of one TIFF row of the picture (picture row y, from the top).
std::size_t TiffRowBytes(const CDIBSection& picture);
void ConvertTiffRow(const CDIBSection& picture, int y, std::uint8_t* pTarget);

// Writes every strip of the picture into pTiff, whose fields SetTiffWriteFields set with
// the same compression (not None). On failure strError says why.
bool WriteCompressedStrips(TIFF* pTiff, const CDIBSection& picture, ETiffCompression eCompression, int nThreads,
                           std::string& strError);

}  // namespace gridmorph
