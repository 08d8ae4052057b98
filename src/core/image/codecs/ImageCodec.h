#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/DIBSection.h"
#include "io/SafeFileWriter.h"

namespace gridmorph {

// Format identifiers of the codecs, in the order the decoder flags are kept.
enum class EImageFormat : int { Bmp = 1, Jpeg, Gif, Tiff, Png, Emf, Wmf, Icon };

// Result codes of the codec layer: negative means failure, as the image classes expect.
namespace codec_result {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kCannotOpen = static_cast<std::int32_t>(0x8004A001u);
inline constexpr std::int32_t kTruncated = static_cast<std::int32_t>(0x8004A002u);
inline constexpr std::int32_t kCorrupt = static_cast<std::int32_t>(0x8004A003u);
inline constexpr std::int32_t kUnsupported = static_cast<std::int32_t>(0x8004A004u);
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8004A005u);
inline constexpr std::int32_t kWriteFailed = static_cast<std::int32_t>(0x8004A006u);
inline constexpr std::int32_t kNoCodec = static_cast<std::int32_t>(0x8004A007u);
inline constexpr std::int32_t kListFailed = static_cast<std::int32_t>(0x8004A008u);
}  // namespace codec_result

// What a codec call came to: a result code and the text that says what happened.
struct SCodecStatus {
    std::int32_t nResult = codec_result::kOk;
    std::string strText;
    // For kOutOfMemory: the picture that could not be created.
    int nWidth = 0;
    int nHeight = 0;
    int nBitCount = 0;

    bool Failed() const { return nResult < 0; }
    static SCodecStatus Ok() { return {}; }
    static SCodecStatus Fail(std::int32_t nResult, std::string strText)
    {
        SCodecStatus status;
        status.nResult = nResult;
        status.strText = std::move(strText);
        return status;
    }
};

// Creates the picture a decoder fills, or says why it cannot: a size that no bitmap
// can have is a damaged file; one that the memory cannot hold is a lack of memory.
SCodecStatus CreateDecodedPicture(int nWidth, int nHeight, int nBitCount, std::unique_ptr<CDIBSection>& pPicture);

// The coordinate system a georeferenced file names, as GeoTIFF keys give it.
struct SGeoSystem {
    bool bGeographic = false;    // a geographic system (degrees); else a projected one
    int nEpsgCode = 0;           // 0: no EPSG code; the system is spelt out in strEsriWkt
    int nLinearUnitCode = 0;     // EPSG code of a projected system's unit (9001 metre), 0 unknown
    std::string strName;         // the system's name, for the GeoTIFF citation
    std::string strEsriWkt;      // the whole definition, ESRI's WKT
};

// Where the picture being encoded lies: the outer top-left corner of its top-left pixel
// and the size of a pixel in map units (both positive), with the system when one is known.
struct SGeoReference {
    double dOuterWest = 0.0;
    double dOuterNorth = 0.0;
    double dPixelWidth = 0.0;
    double dPixelHeight = 0.0;
    std::optional<SGeoSystem> system;
};

// Everything a save is told: the encoders' settings, the placement of the map being saved
// and the coordinate system to name. Each save is given its own value (the defaults when
// the caller says nothing); no save reads settings kept by the process.
enum class ETiffCompression { None, Lzw, Deflate };
struct SEncodeOptions {
    int nJpegQuality = 75;
    // zlib level 6 (libpng's default), rows filtered with "up", Z_FILTERED: on the 12000 x
    // 9000 tiled sample map files 2 % larger than libpng's defaults (which GDAL writes) in
    // about 60 % of their processor time, on a noisy scan the same (bench/bench_codecs and
    // bench/bench_encoders measure it). Levels 4 and 5 gave files 10 to 25 % larger there.
    int nPngCompressionLevel = 6;
    int nPngFilters = -1;          // -1: "up" on full-colour rows, none on indexed ones; else a
                                   // PNG_FILTER_* mask (the filter with the smallest sum of
                                   // signed bytes is chosen per row)
    int nPngStrategy = -1;         // -1: Z_FILTERED with filters, else the default; or a zlib Z_* strategy
    ETiffCompression eTiffCompression = ETiffCompression::Lzw;
    // The placement of the map being saved, filled in by a georeferenced save
    // (CDIBWorld::SaveWorldSilent) from the map's edges; TIFF files carry it as GeoTIFF
    // tags (GeoTiffTags.h). The other formats ignore it.
    std::optional<SGeoReference> geoReference;
    // The coordinate system a georeferenced save names (GeoTIFF keys, the .prj file)
    // instead of the map's own; none: the map's own system, if it has one.
    std::optional<SGeoSystem> system;
    // Whether the save may replace a file its user may not write (the command line's
    // --force); otherwise such a file is refused.
    EReadOnlyFiles eReadOnly = EReadOnlyFiles::Refuse;
    // Small text files a georeferenced save puts in place together with the map, its world
    // file and .prj, as one set (the locators used, as a .points file): name and contents.
    std::vector<std::pair<std::string, std::string>> aCompanionFiles;
};

// One image format: decodes a file into a new bottom-up picture and encodes a picture
// into a file being written.
class CImageCodec {
public:
    virtual ~CImageCodec() = default;
    virtual EImageFormat Format() const = 0;
    virtual SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const = 0;
    virtual SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                                const SEncodeOptions& options) const = 0;
    // Whether Encode asks a picture with a row supply for its rows band by band (and
    // releases them); otherwise the saver makes every row before encoding.
    virtual bool EncodesRowsOnDemand() const { return false; }
};

const CImageCodec& GetBmpCodec();
const CImageCodec& GetPngCodec();
const CImageCodec& GetJpegCodec();
const CImageCodec& GetTiffCodec();
const CImageCodec& GetGifCodec();

}  // namespace gridmorph
