#pragma once

#include <optional>
#include <string>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// A coordinate system resolved by PROJ, in the forms the files beside a map need.
struct SCoordinateSystem {
    std::string strDefinition;  // as it was given ("EPSG:27700", WKT, a PROJ string)
    std::string strWkt;         // WKT2 on one line, as .points files name their system
    SGeoSystem geoSystem;       // name, EPSG code, kind, unit and ESRI WKT (the .prj text)
};

// Resolves any definition PROJ accepts. False, with PROJ's reason, when PROJ does not
// know it or it is not a projected or a two-dimensional geographic system (the only
// kinds a picture's pixels can be laid on).
bool ResolveCoordinateSystem(const std::string& strDefinition, SCoordinateSystem& system, std::string& strReason);

// "EPSG:27700 (OSGB36 / British National Grid)", or "user-defined (NAME)" for a system
// without an EPSG code; the name is looked up with PROJ when the keys gave none.
std::string DescribeGeoSystem(const SGeoSystem& system);

// The system every georeferenced save names (in a TIFF's GeoTIFF keys and in a .prj
// file beside the map); none unless one is chosen (the command line's --srs).
std::optional<SCoordinateSystem>& OutputCoordinateSystem();

// The .prj file written beside an image file: its base name + ".prj" (an existing one
// spelt in another letter case is rewritten).
std::string ProjectionFileNameFor(const std::string& strImageFileName);

}  // namespace gridmorph
