#pragma once

// The PNG encoder: the picture is cut into bands of rows that are filtered and deflated
// on several threads into one zlib stream (each band starts from the previous 32 KB of
// filtered rows as its dictionary and ends on a byte boundary), written as IDAT chunks.
// The file depends only on the picture and the options, never on the thread count.
#include <cstdio>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// Writes signature, IHDR, PLTE (indexed pictures), IDAT and IEND to pFile.
SCodecStatus WritePngFile(const CDIBSection& picture, std::FILE* pFile, const SEncodeOptions& options, int nThreads);

}  // namespace gridmorph
