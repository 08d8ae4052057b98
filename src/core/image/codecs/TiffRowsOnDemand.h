#pragma once

// A TIFF scan whose rows are read from the file only when they are asked for, for the
// command line's work that only reads its scan (rectify, convert, crop). The picture's
// storage is set aside whole but untouched (fresh zero pages cost nothing); a band of rows
// is decoded on the thread that asks for it, strip by strip or row of tiles by row of
// tiles, so both cores decode; rows handed back go back to the system and are decoded
// again if they are ever asked for once more. The file is read with pread, never mapped:
// a file cut short meanwhile gives a read error and a clear message, never a bus error.
#include <string>

#include "image/codecs/TiffReading.h"

namespace gridmorph {

class CDIBSection;

namespace tiff {

// Gives the picture (created, still empty) rows decoded on demand from the open file when
// its layout allows it: strips or tiles, uncompressed, LZW, Deflate or PackBits, samples
// that ConvertSamples takes. The supply is owned by the picture and is its m_pRowSupply.
// False when the file is of another kind: then the caller decodes the picture whole.
bool AttachRowsOnDemand(TIFF* pTiff, const std::string& strPath, std::uint64_t nFileSize, const STiffLayout& layout,
                        CDIBSection& picture);

}  // namespace tiff
}  // namespace gridmorph
