#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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

// The short name the status bar shows: "EPSG:27700", or the system's name without one.
std::string ShortNameOf(const SCoordinateSystem& system);

// The system that GeoTIFF keys name, resolved by PROJ from its EPSG code or its ESRI WKT
// so that it can be written again in full; as the keys give it when PROJ cannot.
SCoordinateSystem CoordinateSystemFromKeys(const SGeoSystem& keys);

// The system of the .prj file beside an image file (any letter case of ".prj"); none
// when there is none, it is larger than 64 KB or PROJ cannot read it.
std::optional<SCoordinateSystem> ReadProjectionFile(const std::string& strImageFileName);

// A map position given for a map (a locator's easting and northing), named as messages
// name it ("point 1").
struct SMapPosition {
    std::string strName;
    double dEasting = 0.0;
    double dNorthing = 0.0;
};

// What a coordinate system says about map positions given in it. strRefusal: a position
// the system cannot have (in a geographic system an easting, the longitude, beyond 180
// degrees either way or a northing, the latitude, beyond 90). strWarning: positions of a
// projected system that lie far outside the area where it is used (farther from that
// area than its own width or height). Both "" when the positions are plausible or PROJ
// cannot tell.
struct SPositionCheck {
    std::string strRefusal;
    std::string strWarning;
};
SPositionCheck CheckMapPositions(const SGeoSystem& system, const std::vector<SMapPosition>& aPositions);

// One system of PROJ's database, as a list to pick from shows it.
struct SCoordinateSystemEntry {
    std::string strCode;  // "EPSG:32633"
    std::string strName;  // "WGS 84 / UTM zone 33N"
    bool bGeographic = false;
};

// The projected and two-dimensional geographic systems of the EPSG register (not
// deprecated) whose code or name contains every word of strText, in any letter case; at
// most nLimit of them, in the register's order. Empty text lists the first nLimit.
std::vector<SCoordinateSystemEntry> FindCoordinateSystems(const std::string& strText, std::size_t nLimit);

// The .prj file written beside an image file: its base name + ".prj" (an existing one
// spelt in another letter case is rewritten).
std::string ProjectionFileNameFor(const std::string& strImageFileName);

}  // namespace gridmorph
