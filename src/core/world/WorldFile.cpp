#include "world/WorldFile.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "io/SafeFileWriter.h"

namespace gridmorph {
namespace {

bool FileExists(const std::string& strPath)
{
    struct stat info {};
    return stat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A folder's names by their lower-case spelling, each list sorted; no entry at all (not
// even the one of "." under ".") when the folder could not be listed.
using FFolderListing = std::unordered_map<std::string, std::vector<std::string>>;
thread_local std::unordered_map<std::string, FFolderListing>* t_pListings = nullptr;

std::string Lower(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// The names in strFolder that match strName in any letter case, sorted. bListed: false
// when the folder could not be listed.
std::vector<std::string> NamesAnyCase(const std::string& strFolder, const std::string& strName, bool& bListed)
{
    std::vector<std::string> aMatches;
    bListed = true;
    if (t_pListings) {
        const auto [it, bNew] = t_pListings->try_emplace(strFolder);
        if (bNew) {
            if (DIR* pFolder = opendir(strFolder.c_str())) {
                while (const dirent* pEntry = readdir(pFolder))
                    it->second[Lower(pEntry->d_name)].emplace_back(pEntry->d_name);
                closedir(pFolder);
            }
            for (auto& [strKey, aNames] : it->second)
                std::sort(aNames.begin(), aNames.end());
        }
        bListed = !it->second.empty();
        if (const auto found = it->second.find(Lower(strName)); found != it->second.end())
            aMatches = found->second;
        return aMatches;
    }
    DIR* pFolder = opendir(strFolder.c_str());
    bListed = pFolder != nullptr;
    if (!pFolder)
        return aMatches;
    while (const dirent* pEntry = readdir(pFolder))
        if (strcasecmp(pEntry->d_name, strName.c_str()) == 0)
            aMatches.emplace_back(pEntry->d_name);
    closedir(pFolder);
    std::sort(aMatches.begin(), aMatches.end());  // the same choice on every run
    return aMatches;
}

}  // namespace

CFolderListings::CFolderListings() : m_pPrevious(t_pListings)
{
    t_pListings = &m_aListings;
}

CFolderListings::~CFolderListings()
{
    t_pListings = m_pPrevious;
}

std::string WorldFileExtension(int nFileType)
{
    switch (nFileType) {
    case FILE_TYPE_BMP:
        return "BPW";
    case FILE_TYPE_JPEG:
        return "JGW";
    case FILE_TYPE_GIF:
        return "GFW";
    case FILE_TYPE_TIFF:
        return "TFW";
    case FILE_TYPE_PNG:
        return "PGW";
    default:
        return std::string();
    }
}

std::string WorldFileExtension(const std::string& strImageFileName)
{
    return WorldFileExtension(CDIBImage::GetFileType(strImageFileName));
}

std::string WorldBaseName(const std::string& strImageFileName)
{
    const std::string strExtension = CDIBImage::PathFindExtension(strImageFileName);
    return strImageFileName.substr(0, strImageFileName.size() - strExtension.size());
}

std::string WorldFileNameFor(const std::string& strImageFileName)
{
    if (CDIBImage::GetFileType(strImageFileName) == FILE_TYPE_NONE)
        return strImageFileName + "." + WorldFileExtension(FILE_TYPE_PNG);
    return WorldBaseName(strImageFileName) + "." + WorldFileExtension(strImageFileName);
}

std::string FindFileAnyCase(const std::string& strPath)
{
    const auto nSlash = strPath.find_last_of('/');
    const std::string strFolder = nSlash == std::string::npos ? "." : (nSlash == 0 ? "/" : strPath.substr(0, nSlash));
    const std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    // With the folders' listings at hand, a name in no spelling there is not looked up.
    std::vector<std::string> aMatches;
    bool bListed = false;
    if (t_pListings) {
        aMatches = NamesAnyCase(strFolder, strName, bListed);
        if (aMatches.empty() && bListed)
            return std::string();
    }
    if (FileExists(strPath))
        return strPath;
    if (!t_pListings)
        aMatches = NamesAnyCase(strFolder, strName, bListed);
    for (const std::string& strMatch : aMatches) {
        const std::string strFound = nSlash == std::string::npos ? strMatch : strPath.substr(0, nSlash + 1) + strMatch;
        if (FileExists(strFound))
            return strFound;
    }
    return std::string();
}

std::string WorldFileToWrite(const std::string& strWorldFile)
{
    const std::string strFound = FindFileAnyCase(strWorldFile);
    return strFound.empty() ? strWorldFile : strFound;
}

std::string FindWorldFile(const std::string& strImageFileName)
{
    const std::string strBase = WorldBaseName(strImageFileName);
    const std::string aCandidates[] = {strBase + "." + WorldFileExtension(strImageFileName), strBase + ".WLD",
                                       strImageFileName + "W"};
    for (const std::string& strCandidate : aCandidates) {
        if (strCandidate.back() == '.')
            continue;  // no short flavour for an unrecognised type
        std::string strFound = FindFileAnyCase(strCandidate);
        if (!strFound.empty())
            return strFound;
    }
    return std::string();
}

std::string WorldFileDialogFilter(const std::string& strImageFileName)
{
    const std::string strBase = WorldBaseName(strImageFileName);
    const std::size_t nSlash = strBase.find_last_of('/');
    const std::string strName = nSlash == std::string::npos ? strBase : strBase.substr(nSlash + 1);
    std::string strFilter = "Related World files|";
    for (const char* pExtension : {".BPW;", ".BMPW;", ".GFW;", ".GIFW;", ".JGW;", ".JPGW;", ".TFW;", ".TIFW;", ".PGW;", ".PNGW;"})
        strFilter += strName + pExtension;
    strFilter += "|";
    strFilter += "Bitmap World files (*.BPW;*.BMPW)|*.BPW;*.BMPW|"
                 "GIF  World files (*.GFW;*.GIFW)|*.GFW;*.GIFW|"
                 "JPEG World files (*.JGW;*.JPGW)|*.JGW;*.JPGW|"
                 "Tiff World files (*.TFW;*.TIFW)|*.TFW;*.TIFW|"
                 "PNG  World files (*.PGW;*.PNGW)|*.PGW;*.PNGW|"
                 "All (*.*)|*.*||";
    return strFilter;
}

EWorldFileRead ReadWorldFileValues(const std::string& strPath, SWorldFileValues& values)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "r");
    if (!pFile)
        return EWorldFileRead::CannotOpen;
    double aLines[6] = {};
    int nLines = 0;
    char szLine[259];
    while (nLines < 6 && std::fgets(szLine, sizeof szLine, pFile)) {
        // Leading blanks skipped, the longest number taken, as "%lf" does in any locale.
        aLines[nLines++] = ScanNumber(szLine);
    }
    std::fclose(pFile);
    if (nLines < 6)
        return EWorldFileRead::UnexpectedEnd;
    values = SWorldFileValues{aLines[0], aLines[1], aLines[2], aLines[3], aLines[4], aLines[5]};
    return EWorldFileRead::Read;
}

std::string RotationProblem(const SWorldFileValues& values, const std::string& strPath)
{
    // Terms a billionth of the pixel size or less are rounding noise of the program that
    // wrote the file: across a million pixels they move no pixel by a thousandth.
    const double dNegligible =
        1e-9 * std::min(std::fabs(values.dResolutionWestEast), std::fabs(values.dResolutionSouthNorth));
    if (std::fabs(values.dRotationFirst) <= dNegligible && std::fabs(values.dRotationSecond) <= dNegligible)
        return std::string();
    // The terms as they were written, without the trailing zeros of a fixed format.
    const auto Term = [](double dValue) { return FormatTrimmed(dValue, 12); };
    return "The world file " + strPath + " has rotation terms (" + Term(values.dRotationFirst) + ", " +
           Term(values.dRotationSecond) +
           ") on its lines 2 and 3; rotated world files are not supported, only north-up maps can be placed. "
           "Move the world file away to open the picture without a place.";
}

std::string FormatWorldFile(const SWorldFileValues& values)
{
    return FormatFixed(values.dResolutionWestEast, 6) + "\r\n0.0\r\n0.0\r\n" +
           FormatFixed(values.dResolutionSouthNorth, 6) + "\r\n" + FormatFixed(values.dEastingTopLeft, 6) + "\r\n" +
           FormatFixed(values.dNorthingTopLeft, 6) + "\r\n";
}

bool WriteWorldFileValues(const std::string& strPath, const SWorldFileValues& values)
{
    return WriteTextFile(strPath, FormatWorldFile(values));
}

const SWorldFileFlavour* FindWorldFileFlavour(const std::string& strName)
{
    for (const SWorldFileFlavour& flavour : kWorldFileFlavours) {
        const std::string strFlavour = flavour.pName;
        if (strName.size() == strFlavour.size() &&
            std::equal(strName.begin(), strName.end(), strFlavour.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
            }))
            return &flavour;
    }
    return nullptr;
}

SWorldFileWritten WriteWorldFileOfFlavour(const std::string& strPicturePath, const SWorldFileFlavour& flavour,
                                          const SWorldFileValues& values, EReadOnlyFiles eReadOnly)
{
    SWorldFileWritten written;
    written.strPath = WorldFileToWrite(WorldBaseName(strPicturePath) + "." + flavour.pName);
    written.bWritten = WriteTextFile(written.strPath, FormatWorldFile(values), written.strError, eReadOnly);
    return written;
}

}  // namespace gridmorph
