#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/codecs/ImageCodec.h"

struct tiff;

namespace gridmorph {

// Makes libtiff know the GeoTIFF tags (pixel scale, tie points, model transformation, the
// key directory and its parameters) for every TIFF opened from now on. Cheap after the
// first call; the TIFF codec calls it before it opens a file.
void RegisterGeoTiffTags();

// Writes the georeference into a TIFF just opened for writing: the pixel scale, the tie
// point of the top-left pixel's outer corner (pixel is area), and, when it has a system,
// the GeoKey directory naming it. Without a georeference nothing is written. False
// when libgeotiff refuses the keys.
bool WriteGeoTiffTags(tiff* pTiff, const std::optional<SGeoReference>& geoReference);

// How a TIFF is placed by its GeoTIFF tags.
enum class EGeoTiffPlacement {
    None,           // no GeoTIFF placement (or not a readable TIFF)
    NorthUp,        // pixel scale and one tie point, or a transformation without rotation
    Rotated,        // a model transformation with rotation or shear terms
    ControlPoints,  // several tie points and no scale: control points, not a placement
    Damaged,        // numbers that are not finite, a pixel size of (nearly) zero, edges beyond any map
};

// Map coordinates are held in whole centimetres in 32 bits: no map reaches beyond this
// many metres from the origin, and a file that says otherwise is damaged.
inline constexpr double kLargestMapCoordinate = 21474836.0;
// The smallest pixel size a world file's six decimals hold.
inline constexpr double kSmallestPixelSize = 0.0000005;

// Whether a placement by outer corner and pixel size is north-up, turned over or damaged
// for a picture of the size given.

struct SGeoTiffInfo {
    EGeoTiffPlacement ePlacement = EGeoTiffPlacement::None;
    // For NorthUp: the outer corner and pixel size; the system whenever keys name one.
    SGeoReference geoReference;
};

EGeoTiffPlacement ClassifyNorthUpPlacement(const SGeoReference& reference, std::uint32_t nWidth, std::uint32_t nHeight);

// Reads the GeoTIFF tags of the first picture of a TIFF file, without its pixels.
SGeoTiffInfo ReadGeoTiffInfo(const std::string& strPath);

}  // namespace gridmorph
