// GeoTIFF tags through libgeotiff: the placement of a map (pixel scale and a tie point) and
// the keys that name its coordinate system. The TIFF codec calls in here right after it
// opens a file for writing; the world layer reads the tags of a TIFF without a world file.
#include "image/codecs/GeoTiffTags.h"

#include <geotiff.h>
#include <geovalues.h>
#include <tiffio.h>
#include <xtiffio.h>

#include <cmath>
#include <cstdarg>
#include <mutex>
#include <vector>

namespace gridmorph {
namespace {

// A GeoTIFF citation that carries the whole system as ESRI WKT, as GIS programs write it
// for systems without an EPSG code.
constexpr char kEsriCitationPrefix[] = "ESRI PE String = ";

// libgeotiff and libtiff speak through handlers; a damaged tag is a missing placement,
// not a message on the terminal.
void OnGeoKeyMessage(GTIF*, int, const char*, ...) {}
int OnTiffMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct SKeys {
    GTIF* pKeys = nullptr;
    explicit SKeys(TIFF* pTiff) : pKeys(GTIFNewEx(pTiff, OnGeoKeyMessage, nullptr)) {}
    ~SKeys()
    {
        if (pKeys)
            GTIFFree(pKeys);
    }
    SKeys(const SKeys&) = delete;
    SKeys& operator=(const SKeys&) = delete;

    int Short(geokey_t eKey) const
    {
        unsigned short nValue = 0;
        return GTIFKeyGetSHORT(pKeys, eKey, &nValue, 0, 1) == 1 ? nValue : 0;
    }
    std::string Text(geokey_t eKey) const
    {
        int nSize = 0;
        tagtype_t eType = TYPE_UNKNOWN;
        const int nCount = GTIFKeyInfo(pKeys, eKey, &nSize, &eType);  // characters, with the end
        if (nCount <= 0 || eType != TYPE_ASCII)
            return std::string();
        std::vector<char> aText(static_cast<std::size_t>(nCount) + 2, '\0');
        GTIFKeyGetASCII(pKeys, eKey, aText.data(), static_cast<int>(aText.size()) - 1);
        std::string strText(aText.data());
        while (!strText.empty() && (strText.back() == '|' || strText.back() == ' '))
            strText.pop_back();  // a citation ends with GeoTIFF's ASCII separator
        return strText;
    }
};

// The double values of a GeoTIFF tag; empty when the file has none.
std::vector<double> DoubleTag(TIFF* pTiff, ttag_t nTag)
{
    std::uint16_t nCount = 0;
    double* pValues = nullptr;
    if (!TIFFGetField(pTiff, nTag, &nCount, &pValues) || !pValues)
        return {};
    return std::vector<double>(pValues, pValues + nCount);
}

bool Positive(double dValue) { return std::isfinite(dValue) && dValue > 0; }

}  // namespace

void RegisterGeoTiffTags()
{
    static std::once_flag s_registered;
    std::call_once(s_registered, [] { XTIFFInitialize(); });
}

bool WriteGeoTiffTags(tiff* pTiff, const std::optional<SGeoReference>& geoReference)
{
    if (!geoReference)
        return true;
    const SGeoReference& reference = *geoReference;
    double aScale[3] = {reference.dPixelWidth, reference.dPixelHeight, 0.0};
    double aTiePoint[6] = {0.0, 0.0, 0.0, reference.dOuterWest, reference.dOuterNorth, 0.0};
    if (!TIFFSetField(pTiff, TIFFTAG_GEOPIXELSCALE, 3, aScale) || !TIFFSetField(pTiff, TIFFTAG_GEOTIEPOINTS, 6, aTiePoint))
        return false;
    // Without a system there is no key directory: any key at all makes GDAL invent a
    // local, unnamed system, and pixel is area is what the tags mean without one.
    if (!reference.system)
        return true;
    SKeys keys(pTiff);
    if (!keys.pKeys)
        return false;
    GTIFKeySet(keys.pKeys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    {
        const SGeoSystem& system = *reference.system;
        if (system.nEpsgCode > 0 && system.nEpsgCode < KvUserDefined) {
            GTIFKeySet(keys.pKeys, GTModelTypeGeoKey, TYPE_SHORT, 1,
                       system.bGeographic ? ModelTypeGeographic : ModelTypeProjected);
            if (!system.strName.empty())
                GTIFKeySet(keys.pKeys, GTCitationGeoKey, TYPE_ASCII, 0, system.strName.c_str());
            if (system.bGeographic) {
                GTIFKeySet(keys.pKeys, GeographicTypeGeoKey, TYPE_SHORT, 1, system.nEpsgCode);
            } else {
                GTIFKeySet(keys.pKeys, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, system.nEpsgCode);
                if (system.nLinearUnitCode > 0 && system.nLinearUnitCode < KvUserDefined)
                    GTIFKeySet(keys.pKeys, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, system.nLinearUnitCode);
            }
        } else {
            // No EPSG code: a user-defined model whose citation carries the whole system,
            // which is how GIS programs exchange such systems in GeoTIFF.
            const std::string strCitation = kEsriCitationPrefix + system.strEsriWkt;
            GTIFKeySet(keys.pKeys, GTModelTypeGeoKey, TYPE_SHORT, 1, KvUserDefined);
            GTIFKeySet(keys.pKeys, PCSCitationGeoKey, TYPE_ASCII, 0, strCitation.c_str());
        }
    }
    return GTIFWriteKeys(keys.pKeys) != 0;
}

EGeoTiffPlacement ClassifyNorthUpPlacement(const SGeoReference& reference, std::uint32_t nWidth, std::uint32_t nHeight)
{
    const double aNumbers[] = {reference.dPixelWidth, reference.dPixelHeight, reference.dOuterWest,
                               reference.dOuterNorth};
    for (double dValue : aNumbers)
        if (!std::isfinite(dValue))
            return EGeoTiffPlacement::Damaged;
    // Zero, denormal, or so small that the six decimals of a world file make it zero.
    for (double dSize : {reference.dPixelWidth, reference.dPixelHeight})
        if (!(std::fabs(dSize) >= kSmallestPixelSize))
            return EGeoTiffPlacement::Damaged;
    const double dEast = reference.dOuterWest + reference.dPixelWidth * nWidth;
    const double dSouth = reference.dOuterNorth - reference.dPixelHeight * nHeight;
    for (double dEdge : {reference.dOuterWest, reference.dOuterNorth, dEast, dSouth})
        if (!(std::fabs(dEdge) <= kLargestMapCoordinate))
            return EGeoTiffPlacement::Damaged;
    if (!Positive(reference.dPixelWidth) || !Positive(reference.dPixelHeight))
        return EGeoTiffPlacement::Rotated;
    return EGeoTiffPlacement::NorthUp;
}

SGeoTiffInfo ReadGeoTiffInfo(const std::string& strPath)
{
    SGeoTiffInfo info;
    RegisterGeoTiffTags();
    TIFFOpenOptions* pOptions = TIFFOpenOptionsAlloc();
    if (!pOptions)
        return info;
    TIFFOpenOptionsSetErrorHandlerExtR(pOptions, OnTiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(pOptions, OnTiffMessage, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(pOptions, tmsize_t(16) << 20);
    TIFF* pTiff = TIFFOpenExt(strPath.c_str(), "rm", pOptions);
    TIFFOpenOptionsFree(pOptions);
    if (!pTiff)
        return info;

    const std::vector<double> aScale = DoubleTag(pTiff, TIFFTAG_GEOPIXELSCALE);
    const std::vector<double> aTiePoints = DoubleTag(pTiff, TIFFTAG_GEOTIEPOINTS);
    const std::vector<double> aMatrix = DoubleTag(pTiff, TIFFTAG_GEOTRANSMATRIX);
    SGeoReference& reference = info.geoReference;
    if (aScale.size() >= 2 && aTiePoints.size() >= 6) {
        // Tie point (I, J) -> (X, Y): the top-left corner lies I pixels west, J pixels north.
        reference.dPixelWidth = aScale[0];
        reference.dPixelHeight = aScale[1];
        reference.dOuterWest = aTiePoints[3] - aTiePoints[0] * aScale[0];
        reference.dOuterNorth = aTiePoints[4] + aTiePoints[1] * aScale[1];
        info.ePlacement = EGeoTiffPlacement::NorthUp;
    } else if (aMatrix.size() >= 16) {
        // Rows of a 4 x 4 matrix: X = m0 i + m1 j + m3, Y = m4 i + m5 j + m7.
        const bool bNorthUp = aMatrix[1] == 0 && aMatrix[4] == 0;
        reference.dPixelWidth = aMatrix[0];
        reference.dPixelHeight = -aMatrix[5];
        reference.dOuterWest = aMatrix[3];
        reference.dOuterNorth = aMatrix[7];
        info.ePlacement = bNorthUp ? EGeoTiffPlacement::NorthUp : EGeoTiffPlacement::Rotated;
    } else if (aTiePoints.size() >= 6) {
        info.ePlacement = EGeoTiffPlacement::ControlPoints;
    }
    // Numbers that are not finite, a pixel size of zero or too small to be a number of
    // its own (denormal), or edges beyond any map: the tags are damaged. A negative pixel
    // size turns the picture over: not a north-up placement.
    if (info.ePlacement == EGeoTiffPlacement::NorthUp) {
        std::uint32_t nWidth = 0, nHeight = 0;
        TIFFGetField(pTiff, TIFFTAG_IMAGEWIDTH, &nWidth);
        TIFFGetField(pTiff, TIFFTAG_IMAGELENGTH, &nHeight);
        info.ePlacement = ClassifyNorthUpPlacement(reference, nWidth, nHeight);
    }

    SKeys keys(pTiff);
    if (keys.pKeys) {
        // Pixel is point: the tie point is the centre of the top-left pixel.
        if (info.ePlacement == EGeoTiffPlacement::NorthUp && keys.Short(GTRasterTypeGeoKey) == RasterPixelIsPoint) {
            reference.dOuterWest -= reference.dPixelWidth / 2;
            reference.dOuterNorth += reference.dPixelHeight / 2;
        }
        const int nModel = keys.Short(GTModelTypeGeoKey);
        if (nModel == ModelTypeProjected || nModel == ModelTypeGeographic) {
            SGeoSystem system;
            system.bGeographic = nModel == ModelTypeGeographic;
            const int nCode = keys.Short(system.bGeographic ? GeographicTypeGeoKey : ProjectedCSTypeGeoKey);
            system.nEpsgCode = nCode > 0 && nCode < KvUserDefined ? nCode : 0;
            if (!system.bGeographic)
                system.nLinearUnitCode = keys.Short(ProjLinearUnitsGeoKey);
            system.strName = keys.Text(GTCitationGeoKey);
            if (system.strName.empty())
                system.strName = keys.Text(system.bGeographic ? GeogCitationGeoKey : PCSCitationGeoKey);
            reference.system = system;
        } else if (nModel == KvUserDefined) {
            const std::string strCitation = keys.Text(PCSCitationGeoKey);
            if (strCitation.rfind(kEsriCitationPrefix, 0) == 0) {
                SGeoSystem system;
                system.strEsriWkt = strCitation.substr(sizeof kEsriCitationPrefix - 1);
                system.bGeographic = system.strEsriWkt.rfind("GEOGCS", 0) == 0;
                reference.system = system;
            }
        }
    }
    TIFFClose(pTiff);
    return info;
}

}  // namespace gridmorph
