#include "world/DIBWorld.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "errors/ErrorText.h"
#include "image/codecs/GeoTiffTags.h"
#include "io/Numbers.h"
#include "io/SafeFileWriter.h"
#include "platform/Platform.h"
#include "world/CoordinateSystem.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

constexpr std::size_t kRelease3BlockSize = 32;
constexpr char kMarkerCentimetres[] = "*WORLDCM";
constexpr char kMarkerMetres[] = "*KELMAR*";

// Truncation toward zero into an int; values beyond its range (only a damaged world
// file or a wild user entry gives them) stop at the limits instead of being undefined.
std::int32_t TruncateToInt(double dValue)
{
    if (!(dValue > -2147483648.0))
        return dValue != dValue ? 0 : INT32_MIN;  // NaN gives 0
    if (dValue >= 2147483647.0)
        return INT32_MAX;
    return static_cast<std::int32_t>(dValue);
}

// metres x 100 + 0.5, truncated toward zero (so -1.234 m is -122 cm).
std::int32_t CentimetresOf(double dMetres) { return TruncateToInt(dMetres * 100.0 + 0.5); }

// "round" of the conversions: add 0.5 and truncate toward zero.
int RoundTowardZero(double dValue) { return TruncateToInt(dValue + 0.5); }

// A number as the world file stores it (six decimals), so that a TIFF's own tags place
// it exactly where its world file does.
double AsWritten(double dValue) { return ScanNumber(FormatFixed(dValue, 6).c_str()); }

std::int32_t GetLittleEndian32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                                     (std::uint32_t(p[3]) << 24));
}

}  // namespace

CDIBWorld::CDIBWorld() { ClearWorld(); }

CDIBWorld::~CDIBWorld() { DestroyImage(false); }

void CDIBWorld::ClearWorld()
{
    m_bWorld = 0;
    m_dWest = m_dNorth = m_dEast = m_dSouth = 0.0;
    m_nWestCm = m_nNorthCm = m_nEastCm = m_nSouthCm = 0;
    m_coordinateSystem.reset();
}

void CDIBWorld::InitMembers()
{
    CDIBImage::InitMembers();
    ClearWorld();
}

bool CDIBWorld::CreateImage(int nBPP, CDIBWorld* pBasedOn, bool bCopyBits, bool bCopyWorld, bool bCopyColours,
                            bool bPopularColours, bool bShowProgress)
{
    if (!CDIBImage::CreateImage(nBPP, static_cast<CDIBImage*>(pBasedOn), bCopyBits, bCopyWorld, bCopyColours,
                                bPopularColours, bShowProgress))
        return false;
    if (bCopyWorld && pBasedOn->HasWorld()) {
        m_bWorld = pBasedOn->m_bWorld;
        m_nWestCm = pBasedOn->m_nWestCm;
        m_nNorthCm = pBasedOn->m_nNorthCm;
        m_nEastCm = pBasedOn->m_nEastCm;
        m_nSouthCm = pBasedOn->m_nSouthCm;
        m_dWest = pBasedOn->m_dWest;
        m_dNorth = pBasedOn->m_dNorth;
        m_dEast = pBasedOn->m_dEast;
        m_dSouth = pBasedOn->m_dSouth;
        m_coordinateSystem = pBasedOn->m_coordinateSystem;
    } else {
        m_bWorld = 0;
    }
    return true;
}

bool CDIBWorld::CreateImage(CDIBWorld* pBasedOn, int nWidth, int nHeight, int nBPP)
{
    return CDIBImage::CreateImage(static_cast<CDIBImage*>(pBasedOn), nWidth, nHeight, nBPP);
}

void CDIBWorld::SetEdges(const SMapEdges& edges)
{
    m_dWest = edges.dWest;
    m_dNorth = edges.dNorth;
    m_dEast = edges.dEast;
    m_dSouth = edges.dSouth;
    m_nWestCm = CentimetresOf(edges.dWest);
    m_nNorthCm = CentimetresOf(edges.dNorth);
    m_nEastCm = CentimetresOf(edges.dEast);
    m_nSouthCm = CentimetresOf(edges.dSouth);
    m_bWorld = 1;
}

void CDIBWorld::MapToPixel(int& nX, int& nY, bool bTopDown) const
{
    if (!m_bWorld || m_nEastCm == m_nWestCm || m_nNorthCm == m_nSouthCm)
        return;
    const double w = m_nImageWidth, h = m_nImageHeight;
    nX = RoundTowardZero((nX - double(m_nWestCm)) * (w - 1) / (double(m_nEastCm) - m_nWestCm));
    nY = RoundTowardZero((nY - double(m_nSouthCm)) * (h - 1) / (double(m_nNorthCm) - m_nSouthCm));
    if (bTopDown)
        nY = (m_nImageHeight - 1) - nY;
}

void CDIBWorld::MapToPixel(double& dX, double& dY, bool bTopDown) const
{
    if (!m_bWorld || m_nEastCm == m_nWestCm || m_nNorthCm == m_nSouthCm)
        return;
    const double w = m_nImageWidth, h = m_nImageHeight;
    dX = (dX - m_nWestCm) * (w - 1) / (double(m_nEastCm) - m_nWestCm);
    dY = (dY - m_nSouthCm) * (h - 1) / (double(m_nNorthCm) - m_nSouthCm);
    if (bTopDown)
        dY = (h - 1) - dY;
}

void CDIBWorld::PixelToMap(int& nX, int& nY, bool bTopDown) const
{
    if (!m_bWorld || m_nImageWidth <= 1 || m_nImageHeight <= 1)
        return;
    if (bTopDown)
        nY = (m_nImageHeight - 1) - nY;
    const double w = m_nImageWidth, h = m_nImageHeight;
    nX = RoundTowardZero(m_nWestCm + nX * (double(m_nEastCm) - m_nWestCm) / (w - 1));
    nY = RoundTowardZero(m_nSouthCm + nY * (double(m_nNorthCm) - m_nSouthCm) / (h - 1));
}

void CDIBWorld::PixelToMap(double& dX, double& dY, bool bTopDown) const
{
    if (!m_bWorld || m_nImageWidth <= 1 || m_nImageHeight <= 1)
        return;
    const double w = m_nImageWidth, h = m_nImageHeight;
    if (bTopDown)
        dY = (h - 1) - dY;
    dX = (double(m_nEastCm) - m_nWestCm) * dX / (w - 1) + m_nWestCm;
    dY = (double(m_nNorthCm) - m_nSouthCm) * dY / (h - 1) + m_nSouthCm;
}

bool CDIBWorld::OpenWorld(const std::string& strFileName, bool bRequireWorld)
{
    const SSilentResult outcome = OpenWorldSilent(strFileName, bRequireWorld);
    NotifyAll(outcome);
    return outcome.Succeeded();
}

SSilentResult CDIBWorld::OpenWorldSilent(const std::string& strFileName, bool bRequireWorld)
{
    return RunSilently([&] { ReadMapFiles(strFileName, bRequireWorld); });
}

void CDIBWorld::ReadMapFiles(const std::string& strFileName, bool bRequireWorld)
{
    ReadPictureFile(strFileName);
    if (m_nErrorNumber != 0)
        return;
    m_bWorld = 0;
    ReadWorldFile();
    if (!m_bWorld && m_nErrorNumber == 0 && m_nFileType == FILE_TYPE_TIFF && FindWorldFile(m_strFileName).empty())
        ReadGeoTiffPlacement();
    if (m_nErrorNumber == 0)
        ReadCoordinateSystem();
    if (bRequireWorld && !m_bWorld && m_nErrorNumber == 0) {
        if (ReadRelease3Block(m_pImageBits)) {
            Notify(
                "This is a Release 3 image without a World file.\n\n"
                "A World file is being created.\n\n"
                "Please use World files to avoid this message.");
            WriteWorldFile(strFileName);
        } else {
            m_nErrorNumber = ERR_NO_WORLD_INFORMATION;
            DestroyImage(true);
        }
    }
}

ESaveResult CDIBWorld::SaveWorld(const std::string& strFileName, const SEncodeOptions& options)
{
    AnnounceSave(strFileName);
    return ReportSave(strFileName, SaveWorldSilent(strFileName, options));
}

ESaveResult CDIBWorld::SaveWorldSilent(const std::string& strFileName, const SEncodeOptions& options)
{
    ClearRelease3Block(m_pImageBits);
    std::optional<SGeoSystem> system = options.system;
    if (!system && m_coordinateSystem)
        system = m_coordinateSystem->geoSystem;
    std::unique_ptr<CSafeFileWriter> pImageWriter;
    ESaveResult eResult = ESaveResult::Failed;
    {
        // The encoders see the placement the world file gives: the outer corner lies half
        // a pixel beyond the centre of the top-left pixel.
        const SWorldFileValues values = GetWorldFileValues();
        SGeoReference reference;
        reference.dPixelWidth = AsWritten(values.dResolutionWestEast);
        reference.dPixelHeight = -AsWritten(values.dResolutionSouthNorth);
        // A single row has no pixel height; the world file's stand-in of 1 must not turn
        // the GeoTIFF south-up (the world file keeps it: its edges do not depend on it).
        if (m_nImageHeight <= 1)
            reference.dPixelHeight = std::fabs(reference.dPixelHeight);
        reference.dOuterWest = AsWritten(values.dEastingTopLeft) - reference.dPixelWidth / 2;
        reference.dOuterNorth = AsWritten(values.dNorthingTopLeft) + reference.dPixelHeight / 2;
        reference.system = system;
        SEncodeOptions encodeOptions = options;
        encodeOptions.geoReference = std::move(reference);
        eResult = PrepareSave(strFileName, encodeOptions, pImageWriter);
    }
    if (eResult != ESaveResult::Written)
        return eResult;
    // Both files are complete before either replaces anything, and a failure of either
    // leaves the previous picture and world file as they were: a world file must never
    // describe another picture than the one beside it. A .prj goes with them, and so do
    // the companion files asked for (a locator file).
    const std::string strWorldFile = WorldFileToWrite(WorldFileNameFor(strFileName));
    const std::string strProjectionFile = ProjectionFileNameFor(strFileName);
    const bool bProjection = system && !system->strEsriWkt.empty();  // else keys without a definition PROJ could spell
    std::vector<std::pair<std::string, std::string>> aTexts = {{strWorldFile, FormatWorldFile(GetWorldFileValues())}};
    if (bProjection)
        aTexts.emplace_back(strProjectionFile, system->strEsriWkt);
    aTexts.insert(aTexts.end(), options.aCompanionFiles.begin(), options.aCompanionFiles.end());
    std::vector<std::unique_ptr<CSafeFileWriter>> aTextWriters;
    std::vector<CSafeFileWriter*> aSet = {pImageWriter.get()};
    std::string strError;
    for (const auto& [strPath, strText] : aTexts) {
        aTextWriters.push_back(std::make_unique<CSafeFileWriter>(strPath, options.eReadOnly));
        CSafeFileWriter& writer = *aTextWriters.back();
        const bool bOpened = writer.Open(strError);
        for (const std::string& strRecovered : writer.Recovered())
            Notify(strRecovered, EMessageKind::Information);
        if (!bOpened)
            return RecordWorldFileFailure(strPath, strError);
        if (std::fwrite(strText.data(), 1, strText.size(), writer.File()) != strText.size())
            return RecordWorldFileFailure(strPath, std::strerror(errno));
        aSet.push_back(&writer);
    }
    // The set written replaces the set that was there: a .prj left from an earlier save
    // would give the new picture a coordinate system it does not have.
    std::vector<std::string> aStale;
    if (!bProjection)
        aStale.push_back(strProjectionFile);
    std::size_t nFailed = 0;
    if (!CSafeFileWriter::CommitTogether(aSet, aStale, strError, nFailed))
        return nFailed == 0 ? RecordSaveFailure(pImageWriter->TargetPath(), strError)
                            : RecordWorldFileFailure(nFailed < aSet.size() ? aTexts[nFailed - 1].first : aStale.front(),
                                                     strError);
    return ESaveResult::Written;
}

bool CDIBWorld::ReadGeoTiffPlacement()
{
    const SGeoTiffInfo info = ReadGeoTiffInfo(m_strFileName);
    if (info.ePlacement == EGeoTiffPlacement::None)
        return false;
    if (info.ePlacement == EGeoTiffPlacement::Damaged) {
        Notify("The GeoTIFF placement of " + m_strFileName +
                    " is damaged: its pixel size is zero or not a number, or its edges lie beyond " +
                    FormatFixed(kLargestMapCoordinate, 0) + " m.\n\nIt has no map edges.");
        return false;
    }
    if (info.ePlacement != EGeoTiffPlacement::NorthUp) {
        Notify("The GeoTIFF tags of " + m_strFileName +
                    (info.ePlacement == EGeoTiffPlacement::Rotated ? " place it rotated or turned over."
                                                                   : " give control points, not a placement.") +
                    "\n\nOnly north-up maps can be placed; it has no map edges.");
        return false;
    }
    const SGeoReference& reference = info.geoReference;
    const double dWest = reference.dOuterWest + reference.dPixelWidth / 2;
    const double dNorth = reference.dOuterNorth - reference.dPixelHeight / 2;
    SetEdges({dWest, dNorth, reference.dPixelWidth * (m_nImageWidth - 1) + dWest,
             dNorth - reference.dPixelHeight * (m_nImageHeight - 1)});
    return true;
}

bool CDIBWorld::ReadCoordinateSystem()
{
    m_coordinateSystem.reset();
    if (m_strFileName.empty())
        return false;
    std::optional<SCoordinateSystem> system;
    if (m_nFileType == FILE_TYPE_TIFF) {
        const SGeoTiffInfo info = ReadGeoTiffInfo(m_strFileName);
        if (info.geoReference.system)
            system = CoordinateSystemFromKeys(*info.geoReference.system);
    }
    if (!system)
        system = ReadProjectionFile(m_strFileName);
    m_coordinateSystem = std::move(system);
    return m_coordinateSystem.has_value();
}

ESaveResult CDIBWorld::RecordWorldFileFailure(const std::string& strWorldFile, const std::string& strReason)
{
    // A .prj is no world file, and a full disc is not a read-only file: those say what
    // happened in their own words, and so do a companion file (a locator file) and a file
    // a save refuses to replace (read-only, or not a regular file).
    const bool bProjection = strWorldFile.size() > 4 && (strWorldFile.compare(strWorldFile.size() - 4, 4, ".prj") == 0 ||
                                                         strWorldFile.compare(strWorldFile.size() - 4, 4, ".PRJ") == 0);
    const auto nDot = strWorldFile.find_last_of("./");
    const bool bWorld = !bProjection && nDot != std::string::npos && strWorldFile[nDot] == '.' &&
                        FindWorldFileFlavour(strWorldFile.substr(nDot + 1)) != nullptr;
    bool bDiscFull = false;
    for (int nErrno : {ENOSPC, EDQUOT, EIO, EFBIG})
        bDiscFull = bDiscFull || strReason.find(std::strerror(nErrno)) != std::string::npos;
    std::string strProblem;
    const EReplaceProblem eProblem =
        strReason.empty() ? EReplaceProblem::None : CheckReplaceable(strWorldFile, EReadOnlyFiles::Refuse, strProblem);
    const bool bRefused = (eProblem == EReplaceProblem::ReadOnly || eProblem == EReplaceProblem::NotRegular) &&
                          strReason.find(strProblem) != std::string::npos;
    if (bProjection || bDiscFull || !bWorld || bRefused) {
        m_nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        m_strErrorText = std::string("Could not write the ") +
                         (bProjection ? "coordinate system file " : bWorld ? "World file " : "file ") + strWorldFile +
                         (strReason.empty() ? std::string(".") : ": " + strReason + ".");
        if (strReason.find(std::strerror(ENOSPC)) != std::string::npos)
            m_strErrorText += "\n\nThe disc is full.";
        return ESaveResult::Failed;
    }
    m_nErrorNumber = ERR_WORLD_FILE_WRITE;
    m_strErrorText = strWorldFile;
    return ESaveResult::Failed;
}

bool CDIBWorld::ReadWorldFile()
{
    if (m_strFileName.empty())
        return false;
    const std::string strWorldFile = FindWorldFile(m_strFileName);
    if (strWorldFile.empty())
        return false;
    SWorldFileValues values;
    switch (ReadWorldFileValues(strWorldFile, values)) {
    case EWorldFileRead::CannotOpen:
        Notify("Could not open World file " + strWorldFile);
        return false;
    case EWorldFileRead::UnexpectedEnd:
        m_nErrorNumber = ERR_WORLD_FILE_END;
        m_strErrorText = "Unexpected end of world file.";
        Notify(m_strErrorText);
        return false;
    case EWorldFileRead::Read:
        break;
    }
    // A rotated placement is refused: the edges alone would put the map in the wrong place.
    // The failure names it; every caller shows a failed open's message.
    if (const std::string strRotation = RotationProblem(values, strWorldFile); !strRotation.empty()) {
        m_nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        m_strErrorText = strRotation;
        return false;
    }
    const double dEast = values.dResolutionWestEast * (m_nImageWidth - 1) + values.dEastingTopLeft;
    const double dSouth = values.dResolutionSouthNorth * (m_nImageHeight - 1) + values.dNorthingTopLeft;
    // Numbers no map has (beyond what the centimetre edges hold, or not numbers at all)
    // are refused before any work is done with them.
    for (double dValue : {values.dEastingTopLeft, values.dNorthingTopLeft, dEast, dSouth}) {
        if (!(std::fabs(dValue) <= kLargestMapCoordinate)) {
            m_nErrorNumber = ERR_MESSAGE_IS_DETAIL;
            m_strErrorText = "The world file " + strWorldFile + " is damaged: its map edges lie beyond " +
                             FormatFixed(kLargestMapCoordinate, 0) + " m, farther than any map reaches.";
            Notify(m_strErrorText);
            return false;
        }
    }
    SetEdges({values.dEastingTopLeft, values.dNorthingTopLeft, dEast, dSouth});
    return true;
}

bool CDIBWorld::WriteWorldFile(const std::string& strImageFileName)
{
    if (WriteWorldFileSilent(strImageFileName))
        return true;
    Notify(m_strErrorText);
    return false;
}

SWorldFileValues CDIBWorld::GetWorldFileValues() const
{
    SWorldFileValues values;
    values.dResolutionWestEast = m_nImageWidth > 1 ? (m_dEast - m_dWest) / (m_nImageWidth - 1) : 1.0;
    values.dResolutionSouthNorth = m_nImageHeight > 1 ? (m_dSouth - m_dNorth) / (m_nImageHeight - 1) : 1.0;
    values.dEastingTopLeft = m_dWest;
    values.dNorthingTopLeft = m_dNorth;
    return values;
}

bool CDIBWorld::WriteWorldFileSilent(const std::string& strImageFileName)
{
    const std::string strWorldFile = WorldFileToWrite(WorldFileNameFor(strImageFileName));
    // The picture's own block is the placement: a world file there that could not be read
    // (one its user may not even read) is replaced by one that says it.
    if (WriteTextFile(strWorldFile, FormatWorldFile(GetWorldFileValues()), EReadOnlyFiles::Replace))
        return true;
    RecordWorldFileFailure(strWorldFile);
    return false;
}

bool CDIBWorld::ReadRelease3Block(const std::uint8_t* pBits)
{
    // A picture whose whole storage is shorter than the block cannot carry one.
    if (!pBits || !HasImage() || Bitmap()->StorageBytes() < kRelease3BlockSize) {
        m_bWorld = 0;
        return false;
    }
    for (const auto& [pMarker, nUnit] : {std::pair{kMarkerCentimetres, 2}, std::pair{kMarkerMetres, 3}}) {
        if (std::memcmp(pBits, pMarker, 8) == 0 && std::memcmp(pBits + 24, pMarker, 8) == 0) {
            SetEdgesFromRelease3(GetLittleEndian32(pBits + 8), GetLittleEndian32(pBits + 12),
                                 GetLittleEndian32(pBits + 16), GetLittleEndian32(pBits + 20), nUnit);
            return true;
        }
    }
    m_bWorld = 0;
    return false;
}

void CDIBWorld::ClearRelease3Block(std::uint8_t* pBits)
{
    if (!pBits || !HasImage() || Bitmap()->StorageBytes() < kRelease3BlockSize)
        return;
    if (std::memcmp(pBits, kMarkerCentimetres, 8) == 0 || std::memcmp(pBits, kMarkerMetres, 8) == 0)
        std::memset(pBits, 0, kRelease3BlockSize);
}

void CDIBWorld::SetEdgesFromRelease3(std::int32_t nWest, std::int32_t nNorth, std::int32_t nEast, std::int32_t nSouth,
                                     int nUnit)
{
    m_bWorld = 1;
    // Whole metres become centimetres; the product wraps as the 32-bit original did.
    const std::int64_t nFactor = nUnit == 3 ? 100 : 1;
    m_nWestCm = static_cast<std::int32_t>(nWest * nFactor);
    m_nNorthCm = static_cast<std::int32_t>(nNorth * nFactor);
    m_nEastCm = static_cast<std::int32_t>(nEast * nFactor);
    m_nSouthCm = static_cast<std::int32_t>(nSouth * nFactor);
    m_dWest = m_nWestCm / 100.0;
    m_dNorth = m_nNorthCm / 100.0;
    m_dEast = m_nEastCm / 100.0;
    m_dSouth = m_nSouthCm / 100.0;
}

}  // namespace gridmorph
