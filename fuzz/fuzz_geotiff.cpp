// GeoTIFF placement tags: a small TIFF read for its placement alone and opened as a map;
// a placement taken must give finite edges, and a map saved with it reads back placed
// the same way.
#include <cmath>
#include <cstdlib>

#include "FuzzSupport.h"
#include "image/codecs/GeoTiffTags.h"
#include "world/DIBWorld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    using namespace gridmorph;
    fuzz::QuietPlatform();
    static const std::string s_strPath = fuzz::ScratchPath(".tif");
    static const std::string s_strSaved = fuzz::ScratchPath("-saved.tif");
    fuzz::WriteScratch(s_strPath, pData, nSize);
    const SGeoTiffInfo info = ReadGeoTiffInfo(s_strPath);
    if (info.ePlacement == EGeoTiffPlacement::NorthUp) {
        const SGeoReference& reference = info.geoReference;
        if (!(reference.dPixelWidth > 0) || !(reference.dPixelHeight > 0) || !std::isfinite(reference.dOuterWest) ||
            !std::isfinite(reference.dOuterNorth))
            std::abort();
    }
    CDIBWorld image;
    if (!image.OpenWorld(s_strPath, false) || !image.HasWorld())
        return 0;
    for (double dEdge : {image.GetWest(), image.GetNorth(), image.GetEast(), image.GetSouth()})
        if (!(std::fabs(dEdge) <= kLargestMapCoordinate))
            std::abort();
    if (image.m_nImageWidth * static_cast<long>(image.m_nImageHeight) > 4096)
        return 0;  // only small pictures are saved again
    if (image.SaveWorldSilent(s_strSaved) != ESaveResult::Written)
        return 0;
    const SGeoTiffInfo saved = ReadGeoTiffInfo(s_strSaved);
    if (saved.ePlacement != EGeoTiffPlacement::NorthUp)
        std::abort();
    return 0;
}
