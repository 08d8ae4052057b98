#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/DIBImage.h"
#include "world/CoordinateSystem.h"
#include "world/MapEdges.h"
#include "world/WorldFile.h"

namespace gridmorph {

// Raster operations of the block transfers and map copies.
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;
inline constexpr std::uint32_t kSrcAnd = 0x008800C6;

// A picture that knows where it lies on the map: four edges at the centres of the edge
// pixels, in metres and in whole centimetres (every pixel/map conversion uses the
// centimetres). It reads its world file when opened, writes one when saved, and reads
// (never writes) the georeference block that Release 3 bitmaps carried in their pixels.
class CDIBWorld : public CDIBImage {
public:
    CDIBWorld();
    ~CDIBWorld() override;

    void InitMembers() override;
    using CDIBImage::CreateImage;
    // Copies the picture as CDIBImage does; with bCopyWorld also the georeference.
    bool CreateImage(int nBPP, CDIBWorld* pBasedOn, bool bCopyBits, bool bCopyWorld, bool bCopyColours,
                     bool bPopularColours, bool bShowProgress);
    // A white picture sized from pBasedOn; no georeference is copied.
    bool CreateImage(CDIBWorld* pBasedOn, int nWidth, int nHeight, int nBPP);

    void SetEdges(const SMapEdges& edges);
    double GetWest() const { return m_dWest; }
    double GetNorth() const { return m_dNorth; }
    double GetEast() const { return m_dEast; }
    double GetSouth() const { return m_dSouth; }
    int GetWestCm() const { return m_nWestCm; }
    int GetNorthCm() const { return m_nNorthCm; }
    int GetEastCm() const { return m_nEastCm; }
    int GetSouthCm() const { return m_nSouthCm; }
    bool HasWorld() const { return m_bWorld != 0; }
    // The coordinate system the map's eastings and northings are in, when known: read
    // when the map is opened (its GeoTIFF keys, else a .prj file beside it), chosen by
    // the user, or taken from the map it was made from. Saves name it unless told otherwise.
    const std::optional<SCoordinateSystem>& CoordinateSystem() const { return m_coordinateSystem; }
    void SetCoordinateSystem(std::optional<SCoordinateSystem> system) { m_coordinateSystem = std::move(system); }

    // Conversions in place; map values in centimetres; bTopDown says how rows count.
    void MapToPixel(int& nX, int& nY, bool bTopDown) const;
    void MapToPixel(double& dX, double& dY, bool bTopDown) const;
    void PixelToMap(int& nX, int& nY, bool bTopDown) const;
    void PixelToMap(double& dX, double& dY, bool bTopDown) const;

    // Opens the picture and its world file; a TIFF without a world file is placed by its
    // GeoTIFF tags when they lay it north-up (a rotated one gets a warning and no edges).
    // The coordinate system comes from a TIFF's GeoTIFF keys, else from a .prj beside it.
    // The warnings and failures are told in message boxes; false on failure.
    bool OpenWorld(const std::string& strFileName, bool bRequireWorld);
    // OpenWorld without any message box: the outcome holds the error (0 when opened) and
    // the warnings OpenWorld raises (a damaged world file, GeoTIFF tags that place no
    // north-up map, a Release 3 picture given a world file), in their order.
    SSilentResult OpenWorldSilent(const std::string& strFileName, bool bRequireWorld);
    // Saves the picture and its world file together: both are written, or neither file
    // on disc changes (a world file must never describe another picture than the one
    // beside it). SaveDIB's message boxes, and one naming a world file that cannot be
    // written (ERR_WORLD_FILE_WRITE, Failed).
    ESaveResult SaveWorld(const std::string& strFileName, const SEncodeOptions& options = SEncodeOptions());
    // SaveWorld without any message box: Written only when both files were written. A
    // TIFF also carries its placement in GeoTIFF tags; with a coordinate system (the
    // options' system, else the map's own) a TIFF names it in its keys and a .prj file is
    // written too. The options' placement is ignored: the map's edges give it.
    ESaveResult SaveWorldSilent(const std::string& strFileName, const SEncodeOptions& options = SEncodeOptions());
    // Reads the coordinate system of the opened file: its GeoTIFF keys, else a .prj
    // file beside it. False (and no system) when neither names one PROJ can read.
    bool ReadCoordinateSystem();
    bool ReadWorldFile();
    // The six numbers of the world file for the present edges and size (1.0 for a
    // resolution across a single pixel).
    SWorldFileValues GetWorldFileValues() const;
    // Takes the edges from the GeoTIFF tags of the opened file; false (a warning shown for
    // a placement that is not north-up) when they give none.
    bool ReadGeoTiffPlacement();
    // Writes the world file of an image file from the edges; false (ERR_WORLD_FILE_WRITE,
    // shown at once) when it cannot be written.
    bool WriteWorldFile(const std::string& strImageFileName);

    // The legacy Release 3 block at the start of the pixel storage.
    bool ReadRelease3Block(const std::uint8_t* pBits);
    void ClearRelease3Block(std::uint8_t* pBits);
    void SetEdgesFromRelease3(std::int32_t nWest, std::int32_t nNorth, std::int32_t nEast, std::int32_t nSouth,
                              int nUnit);

    // Map copy and crop (MapCopy.cpp).
    bool CopyMap(CDIBWorld* pDest, CDIBWorld* pSource, const std::string& strName, bool bShowProgress,
                 std::uint32_t nRop);
    bool CropMap(CDIBWorld* pDest, int nLeft, int nTop, int nWidth, int nHeight, std::uint32_t nRop);

    int m_bWorld = 0;
    std::int32_t m_nWestCm = 0;
    std::int32_t m_nNorthCm = 0;
    std::int32_t m_nEastCm = 0;
    std::int32_t m_nSouthCm = 0;
    double m_dWest = 0.0;
    double m_dNorth = 0.0;
    double m_dEast = 0.0;
    double m_dSouth = 0.0;

private:
    // The body of OpenWorld, its boxes raised through Notify.
    void ReadMapFiles(const std::string& strFileName, bool bRequireWorld);
    std::optional<SCoordinateSystem> m_coordinateSystem;

    void ClearWorld();
    bool WriteWorldFileSilent(const std::string& strImageFileName);
    // Records that the world file cannot be written (15407, its name; a .prj or a full
    // disc in words of their own, with the reason); returns Failed.
    ESaveResult RecordWorldFileFailure(const std::string& strWorldFile, const std::string& strReason = std::string());
};

}  // namespace gridmorph
