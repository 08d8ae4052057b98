#include "world/CoordinateSystem.h"

#include <proj.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "io/Numbers.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

// One PROJ context per resolution, its messages kept for the reason of a refusal.
class CProjContext {
public:
    CProjContext() : m_pContext(proj_context_create())
    {
        proj_log_level(m_pContext, PJ_LOG_ERROR);
        proj_log_func(m_pContext, this, [](void* pSelf, int, const char* pMessage) {
            if (pMessage)
                static_cast<CProjContext*>(pSelf)->m_strLastMessage = pMessage;
        });
    }
    ~CProjContext() { proj_context_destroy(m_pContext); }
    CProjContext(const CProjContext&) = delete;
    CProjContext& operator=(const CProjContext&) = delete;

    PJ_CONTEXT* Get() const { return m_pContext; }
    std::string Reason() const
    {
        if (!m_strLastMessage.empty())
            return m_strLastMessage;
        const char* pText = proj_context_errno_string(m_pContext, proj_context_errno(m_pContext));
        return pText ? pText : "PROJ does not know it";
    }

private:
    PJ_CONTEXT* m_pContext;
    std::string m_strLastMessage;
};

struct SProjDeleter {
    void operator()(PJ* p) const { proj_destroy(p); }
};
using CProjObject = std::unique_ptr<PJ, SProjDeleter>;

int EpsgCodeOf(const PJ* pObject, int nIndex = 0)
{
    const char* pAuthority = proj_get_id_auth_name(pObject, nIndex);
    const char* pCode = proj_get_id_code(pObject, nIndex);
    if (!pAuthority || !pCode || std::string(pAuthority) != "EPSG")
        return 0;
    char* pEnd = nullptr;
    const long nCode = std::strtol(pCode, &pEnd, 10);
    return *pEnd == '\0' && nCode > 0 && nCode < 1000000 ? static_cast<int>(nCode) : 0;
}

// The EPSG code of a system: its own, else the code of the EPSG system PROJ finds
// equivalent (a PROJ string or a WKT without identifiers).
int FindEpsgCode(PJ_CONTEXT* pContext, const PJ* pSystem)
{
    if (const int nCode = EpsgCodeOf(pSystem))
        return nCode;
    int* pConfidence = nullptr;
    PJ_OBJ_LIST* pMatches = proj_identify(pContext, pSystem, "EPSG", nullptr, &pConfidence);
    int nCode = 0;
    // 70 and above: the same system, perhaps under another name.
    if (pMatches && proj_list_get_count(pMatches) > 0 && pConfidence && pConfidence[0] >= 70) {
        CProjObject pMatch(proj_list_get(pContext, pMatches, 0));
        if (pMatch)
            nCode = EpsgCodeOf(pMatch.get());
    }
    proj_int_list_destroy(pConfidence);
    proj_list_destroy(pMatches);
    return nCode;
}

std::string AsWkt(PJ_CONTEXT* pContext, const PJ* pSystem, PJ_WKT_TYPE eType)
{
    const char* const aOptions[] = {"MULTILINE=NO", nullptr};
    const char* pText = proj_as_wkt(pContext, pSystem, eType, aOptions);
    return pText ? pText : std::string();
}

}  // namespace

bool ResolveCoordinateSystem(const std::string& strDefinition, SCoordinateSystem& system, std::string& strReason)
{
    CProjContext context;
    PJ_CONTEXT* pContext = context.Get();
    CProjObject pObject(proj_create(pContext, strDefinition.c_str()));
    // "+proj=utm +zone=30" is an operation unless it says it is a system.
    if (pObject && !proj_is_crs(pObject.get()) && strDefinition.find("+proj=") != std::string::npos &&
        strDefinition.find("+type=crs") == std::string::npos)
        pObject.reset(proj_create(pContext, (strDefinition + " +type=crs").c_str()));
    if (!pObject) {
        strReason = context.Reason();
        return false;
    }
    if (proj_get_type(pObject.get()) == PJ_TYPE_BOUND_CRS)  // +towgs84: the system it is bound from
        pObject.reset(proj_get_source_crs(pContext, pObject.get()));
    const PJ_TYPE eType = pObject ? proj_get_type(pObject.get()) : PJ_TYPE_UNKNOWN;
    if (eType != PJ_TYPE_PROJECTED_CRS && eType != PJ_TYPE_GEOGRAPHIC_2D_CRS) {
        strReason = "it is not a projected or a two-dimensional geographic coordinate system";
        return false;
    }
    const PJ* pSystem = pObject.get();
    SCoordinateSystem resolved;
    resolved.strDefinition = strDefinition;
    resolved.strWkt = AsWkt(pContext, pSystem, PJ_WKT2_2019);
    SGeoSystem& geoSystem = resolved.geoSystem;
    geoSystem.bGeographic = eType == PJ_TYPE_GEOGRAPHIC_2D_CRS;
    geoSystem.strName = proj_get_name(pSystem) ? proj_get_name(pSystem) : "";
    geoSystem.nEpsgCode = FindEpsgCode(pContext, pSystem);
    if (geoSystem.nEpsgCode > 0 && EpsgCodeOf(pSystem) == 0) {
        // Found equivalent: the keys will name the EPSG system, so the citation does too.
        CProjObject pNamed(proj_create(pContext, ("EPSG:" + std::to_string(geoSystem.nEpsgCode)).c_str()));
        if (pNamed && proj_get_name(pNamed.get()))
            geoSystem.strName = proj_get_name(pNamed.get());
    }
    geoSystem.strEsriWkt = AsWkt(pContext, pSystem, PJ_WKT1_ESRI);
    if (geoSystem.strEsriWkt.empty())  // a system ESRI's dialect cannot spell
        geoSystem.strEsriWkt = AsWkt(pContext, pSystem, PJ_WKT1_GDAL);
    if (!geoSystem.bGeographic) {
        CProjObject pAxes(proj_crs_get_coordinate_system(pContext, pSystem));
        const char* pUnitAuthority = nullptr;
        const char* pUnitCode = nullptr;
        if (pAxes && proj_cs_get_axis_info(pContext, pAxes.get(), 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           &pUnitAuthority, &pUnitCode) &&
            pUnitAuthority && pUnitCode && std::string(pUnitAuthority) == "EPSG")
            geoSystem.nLinearUnitCode = std::atoi(pUnitCode);
    }
    if (resolved.strWkt.empty() || geoSystem.strEsriWkt.empty()) {
        strReason = context.Reason();
        return false;
    }
    system = std::move(resolved);
    return true;
}

std::string DescribeGeoSystem(const SGeoSystem& system)
{
    std::string strName = system.strName;
    if (strName.empty()) {
        const std::string strDefinition =
            system.nEpsgCode > 0 ? "EPSG:" + std::to_string(system.nEpsgCode) : system.strEsriWkt;
        SCoordinateSystem resolved;
        std::string strReason;
        if (!strDefinition.empty() && ResolveCoordinateSystem(strDefinition, resolved, strReason))
            strName = resolved.geoSystem.strName;
    }
    const std::string strCode = system.nEpsgCode > 0 ? "EPSG:" + std::to_string(system.nEpsgCode) : "user-defined";
    return strName.empty() ? strCode : strCode + " (" + strName + ")";
}

std::string ShortNameOf(const SCoordinateSystem& system)
{
    if (system.geoSystem.nEpsgCode > 0)
        return "EPSG:" + std::to_string(system.geoSystem.nEpsgCode);
    return system.geoSystem.strName.empty() ? std::string("user-defined") : system.geoSystem.strName;
}

SCoordinateSystem CoordinateSystemFromKeys(const SGeoSystem& keys)
{
    SCoordinateSystem resolved;
    std::string strReason;
    if (keys.nEpsgCode > 0 && ResolveCoordinateSystem("EPSG:" + std::to_string(keys.nEpsgCode), resolved, strReason))
        return resolved;
    if (keys.nEpsgCode == 0 && !keys.strEsriWkt.empty() && ResolveCoordinateSystem(keys.strEsriWkt, resolved, strReason))
        return resolved;
    SCoordinateSystem asGiven;
    asGiven.geoSystem = keys;
    return asGiven;
}

std::optional<SCoordinateSystem> ReadProjectionFile(const std::string& strImageFileName)
{
    const std::string strPath = FindFileAnyCase(WorldBaseName(WorldFileNameFor(strImageFileName)) + ".prj");
    if (strPath.empty())
        return std::nullopt;
    constexpr std::size_t kLimit = 64 * 1024;
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return std::nullopt;
    std::string strText(kLimit + 1, '\0');
    const std::size_t nRead = std::fread(strText.data(), 1, strText.size(), pFile);
    std::fclose(pFile);
    if (nRead == 0 || nRead > kLimit)
        return std::nullopt;
    strText.resize(nRead);
    while (!strText.empty() && std::isspace(static_cast<unsigned char>(strText.back())))
        strText.pop_back();
    if (strText.empty() || strText.find('\0') != std::string::npos)
        return std::nullopt;
    SCoordinateSystem system;
    std::string strReason;
    if (!ResolveCoordinateSystem(strText, system, strReason))
        return std::nullopt;
    return system;
}

namespace {

// A number for a message: as many decimals as it needs, up to six.
std::string ShortNumber(double dValue) { return FormatTrimmed(dValue, 6); }

// The bounds of the system's area of use in its own eastings and northings; false when
// PROJ knows no area for it or cannot carry the area into the system.
bool LookUpAreaOfUse(const std::string& strDefinition, double aBounds[4], std::string& strAreaName)
{
    CProjContext context;
    PJ_CONTEXT* pContext = context.Get();
    CProjObject pSystem(proj_create(pContext, strDefinition.c_str()));
    if (pSystem && proj_get_type(pSystem.get()) == PJ_TYPE_BOUND_CRS)
        pSystem.reset(proj_get_source_crs(pContext, pSystem.get()));
    if (!pSystem)
        return false;
    double dWest = 0, dSouth = 0, dEast = 0, dNorth = 0;
    const char* pName = nullptr;
    if (!proj_get_area_of_use(pContext, pSystem.get(), &dWest, &dSouth, &dEast, &dNorth, &pName) || dWest <= -1000)
        return false;
    // The system's own geographic system stands in for WGS 84, in which the area is given:
    // the hundred metres or so between datums do not matter here, and no datum shift is
    // looked for.
    CProjObject pDegrees(proj_crs_get_geodetic_crs(pContext, pSystem.get()));
    if (!pDegrees)
        return false;
    CProjObject pOperation(proj_create_crs_to_crs_from_pj(pContext, pDegrees.get(), pSystem.get(), nullptr, nullptr));
    if (!pOperation)
        return false;
    // Longitude first in, easting first out, whatever order the systems name their axes in.
    CProjObject pOrdered(proj_normalize_for_visualization(pContext, pOperation.get()));
    if (!pOrdered ||
        !proj_trans_bounds(pContext, pOrdered.get(), PJ_FWD, dWest, dSouth, dEast, dNorth, &aBounds[0], &aBounds[1],
                           &aBounds[2], &aBounds[3], 21))
        return false;
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(aBounds[i]))
            return false;
    strAreaName = pName ? pName : "";
    return aBounds[2] > aBounds[0] && aBounds[3] > aBounds[1];
}

// The area of a system is looked up once: PROJ's database does not change while the
// program runs, and a batch asks for the same system sheet after sheet.
bool FindAreaOfUse(const SGeoSystem& system, double aBounds[4], std::string& strAreaName)
{
    const std::string strDefinition =
        system.nEpsgCode > 0 ? "EPSG:" + std::to_string(system.nEpsgCode) : system.strEsriWkt;
    if (strDefinition.empty())
        return false;
    struct SArea {
        bool bFound = false;
        double aBounds[4] = {};
        std::string strName;
    };
    static std::mutex s_mutex;
    static std::map<std::string, SArea> s_aAreas;
    std::lock_guard<std::mutex> lock(s_mutex);
    auto it = s_aAreas.find(strDefinition);
    if (it == s_aAreas.end()) {
        SArea area;
        area.bFound = LookUpAreaOfUse(strDefinition, area.aBounds, area.strName);
        it = s_aAreas.emplace(strDefinition, std::move(area)).first;
    }
    std::copy(std::begin(it->second.aBounds), std::end(it->second.aBounds), aBounds);
    strAreaName = it->second.strName;
    return it->second.bFound;
}

}  // namespace

SPositionCheck CheckMapPositions(const SGeoSystem& system, const std::vector<SMapPosition>& aPositions)
{
    SPositionCheck check;
    if (aPositions.empty())
        return check;
    if (system.bGeographic) {
        for (const SMapPosition& position : aPositions) {
            const bool bEasting = !(std::fabs(position.dEasting) <= 180.0);
            if (!bEasting && std::fabs(position.dNorthing) <= 90.0)
                continue;
            check.strRefusal = position.strName + "'s map position " + ShortNumber(position.dEasting) + ", " +
                               ShortNumber(position.dNorthing) + " cannot lie in " + DescribeGeoSystem(system) +
                               ", a geographic system in degrees: " +
                               (bEasting ? "its easting (longitude) " + ShortNumber(position.dEasting) +
                                               " lies beyond 180 degrees east or west"
                                         : "its northing (latitude) " + ShortNumber(position.dNorthing) +
                                               " lies beyond 90 degrees north or south");
            return check;
        }
        return check;
    }
    double aBounds[4] = {};
    std::string strAreaName;
    if (!FindAreaOfUse(system, aBounds, strAreaName))
        return check;
    const double dWidth = aBounds[2] - aBounds[0], dHeight = aBounds[3] - aBounds[1];
    for (const SMapPosition& position : aPositions) {
        const bool bFar = position.dEasting < aBounds[0] - dWidth || position.dEasting > aBounds[2] + dWidth ||
                          position.dNorthing < aBounds[1] - dHeight || position.dNorthing > aBounds[3] + dHeight;
        if (!bFar)
            continue;
        check.strWarning = position.strName + "'s map position " + ShortNumber(position.dEasting) + ", " +
                           ShortNumber(position.dNorthing) + " lies far outside the area where " +
                           DescribeGeoSystem(system) + " is used" +
                           (strAreaName.empty() ? std::string() : " (" + strAreaName + ")") + ": eastings " +
                           FormatFixed(aBounds[0], 0) + " to " + FormatFixed(aBounds[2], 0) + ", northings " +
                           FormatFixed(aBounds[1], 0) + " to " + FormatFixed(aBounds[3], 0) +
                           ". Check the coordinate system and the map positions.";
        return check;
    }
    return check;
}

namespace {

std::string LowerCase(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// The EPSG register's projected and 2D geographic systems, listed once: the database
// that ships with PROJ does not change while the program runs.
const std::vector<SCoordinateSystemEntry>& RegisteredSystems()
{
    static std::vector<SCoordinateSystemEntry> s_aSystems;
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        CProjContext context;
        PROJ_CRS_LIST_PARAMETERS* pParameters = proj_get_crs_list_parameters_create();
        const PJ_TYPE aTypes[] = {PJ_TYPE_PROJECTED_CRS, PJ_TYPE_GEOGRAPHIC_2D_CRS};
        pParameters->types = aTypes;
        pParameters->typesCount = 2;
        pParameters->allow_deprecated = 0;
        int nCount = 0;
        PROJ_CRS_INFO** pList = proj_get_crs_info_list_from_database(context.Get(), "EPSG", pParameters, &nCount);
        proj_get_crs_list_parameters_destroy(pParameters);
        if (!pList)
            return;
        s_aSystems.reserve(static_cast<std::size_t>(nCount));
        for (int i = 0; i < nCount; ++i) {
            const PROJ_CRS_INFO* pInfo = pList[i];
            if (!pInfo || !pInfo->code || !pInfo->name)
                continue;
            s_aSystems.push_back({std::string(pInfo->auth_name ? pInfo->auth_name : "EPSG") + ":" + pInfo->code,
                                  pInfo->name, pInfo->type == PJ_TYPE_GEOGRAPHIC_2D_CRS});
        }
        proj_crs_info_list_destroy(pList);
    });
    return s_aSystems;
}

}  // namespace

std::vector<SCoordinateSystemEntry> FindCoordinateSystems(const std::string& strText, std::size_t nLimit)
{
    std::vector<std::string> aWords;
    std::istringstream words(LowerCase(strText));
    for (std::string strWord; words >> strWord;)
        aWords.push_back(strWord);
    std::vector<SCoordinateSystemEntry> aFound;
    for (const SCoordinateSystemEntry& entry : RegisteredSystems()) {
        if (aFound.size() >= nLimit)
            break;
        const std::string strHaystack = LowerCase(entry.strCode + " " + entry.strName);
        if (std::all_of(aWords.begin(), aWords.end(),
                        [&](const std::string& strWord) { return strHaystack.find(strWord) != std::string::npos; }))
            aFound.push_back(entry);
    }
    return aFound;
}

std::string ProjectionFileNameFor(const std::string& strImageFileName)
{
    return WorldFileToWrite(WorldBaseName(WorldFileNameFor(strImageFileName)) + ".prj");
}

}  // namespace gridmorph
