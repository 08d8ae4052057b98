#include "cli/CliCommands.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/GridCommands.h"
#include "errors/ErrorText.h"
#include "image/codecs/GeoTiffTags.h"
#include "image/codecs/ImageCodec.h"
#include "image/MappedRows.h"
#include "io/MappedFile.h"
#include "io/Numbers.h"
#include "io/OutputClashes.h"
#include "io/QuoteText.h"
#include "platform/HeadlessPlatform.h"
#include "transform/FourthCorner.h"
#include "transform/LocatorChecks.h"
#include "transform/PointsFile.h"
#include "transform/RectifyJob.h"
#include "transform/Resample.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"
#include "world/NewBackgroundMap.h"
#include "world/SidecarFiles.h"
#include "world/WorldFile.h"

namespace gridmorph::cli {
namespace {

constexpr const char* kUsage =
    "Usage: gridmorph-cli COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Georeferences and converts raster maps (BMP, JPEG, GIF, TIFF, PNG). The output format\n"
    "follows the output name's extension (GIF needs an 8-bit picture, JPEG a 24-bit one; a\n"
    "name without a known extension is saved as PNG). A map that has a georeference is\n"
    "saved with its world file beside it.\n"
    "\n"
    "Commands:\n"
    "  info FILE                 type, width, height, depth and colours as 'key: value' lines\n"
    "  world FILE                the map edges: west, north, east, south at pixel centres,\n"
    "                            then the outside edges half a pixel further out\n"
    "  world FILE --write LIST   write world files beside FILE in the flavours of LIST, a\n"
    "                            comma-separated choice of BPW,JGW,GFW,TFW,PGW\n"
    "  convert IN OUT [--depth 8|24|grey]\n"
    "                            open IN and save it as OUT; --depth 8 reduces to a palette of\n"
    "                            the picture's most frequent colours, 24 widens to full\n"
    "                            colour, grey turns the picture grey\n"
    "  crop IN OUT --rect LEFT,TOP,WIDTH,HEIGHT\n"
    "                            cut a pixel rectangle (rows counted from the top) with its\n"
    "                            map edges\n"
    "  mosaic OUT --region WEST,SOUTH,EAST,NORTH IN...\n"
    "                            build a new background map over the region (metres) from\n"
    "                            georeferenced images; the first IN sets the pixel grid and\n"
    "                            wins where the images overlap\n"
    "  rectify IN OUT --p1 X,Y,E,N --p3 X,Y,E,N --p2 X,Y [--p2-map E,N --non-rectangular]\n"
    "                            turn a scanned map north-up with square pixels: p1, p2 and\n"
    "                            p3 are the top-left, top-right and bottom-right corners of a\n"
    "                            map-grid rectangle (pixel x, y from the top-left pixel, then\n"
    "                            easting, northing in metres); --non-rectangular when the\n"
    "                            three points are not corners of one rectangle, with p2's map\n"
    "                            position in --p2-map; prints where the grid's fourth\n"
    "                            (bottom-left) corner should lie on the scan\n"
    "  rectify IN OUT --points FILE\n"
    "                            the three corners from a ground-control-point file in the\n"
    "                            .points layout (mapX,mapY,sourceX,sourceY,enable rows)\n"
    "  rectify IN OUT --auto [--p1 E,N --p3 E,N]\n"
    "                            the three corners from the map grid found on the scan, their\n"
    "                            map positions from the sheet's coordinate labels (or from\n"
    "                            --p1 and --p3 when the labels cannot be read); refuses when\n"
    "                            anything is uncertain\n"
    "  findgrid SCAN             find the map grid: p1, p2, p3 (pixels) at the corners of its\n"
    "                            largest rectangle, p1_map and p3_map when the labels were\n"
    "                            read, then spacing, rotation, residual and time; exit 1 when\n"
    "                            there is no grid\n"
    "  batch TABLE [--jobs N --memory MB --report FILE.csv --shard I/N --force]\n"
    "                            rectify every row of a CSV table of scans, in parallel,\n"
    "                            skipping rows already done (see gridmorph-cli batch --help)\n"
    "\n"
    "Options:\n"
    "  --srs DEFINITION              the coordinate system of the maps written (EPSG:27700,\n"
    "                                or any definition PROJ accepts): TIFF files name it in\n"
    "                                their GeoTIFF keys and a .prj file is written beside;\n"
    "                                without it the output keeps the input's system\n"
    "  --p4 X,Y                      rectify: the pixel of the grid's fourth (bottom-left)\n"
    "                                corner; the mismatch is printed and over 2 pixels warned\n"
    "  --save-points FILE            rectify: write the locators used as a .points file\n"
    "  --yes                         answer Yes to the locator questions (else they refuse)\n"
    "  --resample nearest|bilinear|cubic\n"
    "                                rectify: how pixels take their value (default nearest,\n"
    "                                which keeps the scan's colours; the others blend, and an\n"
    "                                8-bit scan gives full colour unless --depth 8 or a GIF\n"
    "                                output asks for the most frequent 256 colours)\n"
    "  --clip grid                   rectify: keep only the rectangle of the three locators\n"
    "  --nodata transparent|R,G,B|INDEX\n"
    "                                rectify: what lies outside the scan (PNG and TIFF):\n"
    "                                transparent (alpha, or a spare palette entry), or a\n"
    "                                colour or palette index named as no-data\n"
    "  --compress none|lzw|deflate   compression of TIFF output (default lzw)\n"
    "  -h, --help                    show this text\n"
    "  --version                     show the program's version\n"
    "\n"
    "Exit status: 0 on success, 1 when the work failed, 2 for a wrong command line.\n";

// The headless platform that counts the messages it shows, so a failure already
// explained by a message is not explained twice.
class CCliPlatform : public CHeadlessPlatform {
public:
    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override
    {
        ++m_nMessages;
        return CHeadlessPlatform::MessageBox(strText, eKind);
    }
    int m_nMessages = 0;
};

struct SCommandLine {
    std::string strCommand;
    std::vector<std::string> aPositional;
    std::map<std::string, std::string> aOptions;
    // What every save of the command is told (--compress, --srs), and --srs resolved.
    SEncodeOptions saveOptions;
    std::optional<SCoordinateSystem> outputSystem;
};

class CUsageError {
public:
    explicit CUsageError(std::string strProblem) : m_strProblem(std::move(strProblem)) {}
    const std::string& Problem() const { return m_strProblem; }

private:
    std::string m_strProblem;
};

SCommandLine ParseCommandLine(const std::vector<std::string>& aArguments)
{
    static const char* const aValued[] = {"--write", "--depth", "--rect", "--region", "--compress",
                                          "--p1", "--p2", "--p3", "--p2-map", "--srs", "--points", "--save-points",
                                          "--p4", "--resample", "--clip", "--nodata"};
    static const char* const aFlags[] = {"--yes", "--non-rectangular", "--auto"};
    SCommandLine commandLine;
    for (std::size_t i = 0; i < aArguments.size(); ++i) {
        const std::string& strArgument = aArguments[i];
        if (strArgument.rfind("--", 0) == 0) {
            bool bFlag = false;
            for (const char* pFlag : aFlags)
                bFlag = bFlag || strArgument == pFlag;
            if (bFlag) {
                commandLine.aOptions[strArgument] = "";
                continue;
            }
            bool bKnown = false;
            for (const char* pOption : aValued)
                bKnown = bKnown || strArgument == pOption;
            if (!bKnown)
                throw CUsageError("unknown option " + QuoteForMessage(strArgument));
            if (i + 1 >= aArguments.size())
                throw CUsageError(strArgument + " needs a value");
            commandLine.aOptions[strArgument] = aArguments[++i];
        } else if (commandLine.strCommand.empty()) {
            commandLine.strCommand = strArgument;
        } else {
            commandLine.aPositional.push_back(strArgument);
        }
    }
    return commandLine;
}

std::vector<double> ParseNumbers(const std::string& strList, std::size_t nExpected, const char* pOption)
{
    std::vector<double> aNumbers;
    std::stringstream stream(strList);
    std::string strPiece;
    while (std::getline(stream, strPiece, ',')) {
        const char* pEnd = nullptr;
        const double dValue = ScanNumber(strPiece.c_str(), &pEnd);
        if (strPiece.empty() || *pEnd != '\0' || !std::isfinite(dValue))
            throw CUsageError(std::string(pOption) + ": " + QuoteForMessage(strPiece) + " is not a number");
        aNumbers.push_back(dValue);
    }
    if (aNumbers.size() != nExpected)
        throw CUsageError(std::string(pOption) + " takes " + std::to_string(nExpected) + " comma-separated numbers");
    return aNumbers;
}

// Prints "key: value" lines, the values with six decimals whatever the locale.
void PrintEdges(std::initializer_list<std::pair<const char*, double>> aLines)
{
    for (const auto& [pKey, dValue] : aLines)
        std::printf("%s: %s\n", pKey, FormatFixed(dValue, 6).c_str());
}

int Failure(const CDIBImage& image, const char* pVerb, const CCliPlatform& platform, int nMessagesBefore)
{
    const std::string strMessage = platform.m_nMessages > nMessagesBefore && image.m_nErrorNumber != ERR_MESSAGE_IS_DETAIL
                                       ? GetErrorText(image.m_nErrorNumber)
                                       : image.GetErrorMessage();
    std::fprintf(stderr, "gridmorph-cli: %s failed: %s\n", pVerb, strMessage.c_str());
    return 1;
}

const char* TypeName(int nFileType)
{
    static const char* const aNames[] = {"none", "BMP", "JPEG", "GIF", "TIFF", "PNG"};
    return nFileType >= 0 && nFileType <= 5 ? aNames[nFileType] : "none";
}

void RequirePositional(const SCommandLine& commandLine, std::size_t nCount, const char* pWhat)
{
    if (commandLine.aPositional.size() != nCount)
        throw CUsageError(commandLine.strCommand + " takes " + pWhat);
}

// Saves the picture, with its world file when it has a georeference. False when nothing
// (or not everything) was written; the message has been shown.
bool SaveOutput(CDIBWorld& image, const std::string& strPath, const SEncodeOptions& options)
{
    return (image.HasWorld() ? image.SaveWorld(strPath, options) : image.SaveDIB(strPath, options)) ==
           ESaveResult::Written;
}

// Refuses, before any work, a command that would write over a file it reads or over
// another file it writes: the picture, its world file, its .prj and the locator files,
// however they are spelt (another path, ./ in front, a symbolic or a hard link, another
// letter case, or a name without extension that the save turns into the input's name).
void RefuseOutputOverInput(const SCommandLine& commandLine)
{
    const std::vector<std::string>& aNames = commandLine.aPositional;
    std::size_t nOutput = 0;
    if (commandLine.strCommand == "convert" || commandLine.strCommand == "crop" || commandLine.strCommand == "rectify")
        nOutput = 1;
    else if (commandLine.strCommand != "mosaic")
        return;
    if (aNames.size() <= nOutput)
        return;
    COutputSet files;
    for (std::size_t i = 0; i < aNames.size(); ++i)
        if (i != nOutput)
            AddMapFilesRead(files, aNames[i], "the input");
    AddMapFilesWritten(files, aNames[nOutput], commandLine.outputSystem.has_value(), "the output");
    if (const auto it = commandLine.aOptions.find("--points"); it != commandLine.aOptions.end())
        files.AddRead(it->second, "the locator file");
    if (const auto it = commandLine.aOptions.find("--save-points"); it != commandLine.aOptions.end())
        files.AddWritten(it->second, "the locator file to save");
    const std::string strClash = files.FindClash();
    if (!strClash.empty())
        throw CUsageError(commandLine.strCommand + ": " + strClash);
}

// --compress and --srs, into what every save of the command is told.
void ReadSaveOptions(SCommandLine& commandLine)
{
    if (const auto it = commandLine.aOptions.find("--compress"); it != commandLine.aOptions.end()) {
        if (it->second == "none")
            commandLine.saveOptions.eTiffCompression = ETiffCompression::None;
        else if (it->second == "lzw")
            commandLine.saveOptions.eTiffCompression = ETiffCompression::Lzw;
        else if (it->second == "deflate")
            commandLine.saveOptions.eTiffCompression = ETiffCompression::Deflate;
        else
            throw CUsageError("--compress takes none, lzw or deflate");
    }
    if (const auto it = commandLine.aOptions.find("--srs"); it != commandLine.aOptions.end()) {
        static const char* const aWriters[] = {"convert", "crop", "mosaic", "rectify"};
        if (std::find(std::begin(aWriters), std::end(aWriters), commandLine.strCommand) == std::end(aWriters))
            throw CUsageError("--srs is for the commands that write a map (convert, crop, mosaic, rectify)");
        SCoordinateSystem system;
        std::string strReason;
        if (!ResolveCoordinateSystem(it->second, system, strReason))
            throw CUsageError("--srs: '" + it->second + "' is not a coordinate system for a map: " + strReason);
        commandLine.saveOptions.system = system.geoSystem;
        commandLine.outputSystem = std::move(system);
    }
}

int RunInfo(const SCommandLine& commandLine, CCliPlatform& platform)
{
    RequirePositional(commandLine, 1, "one file name");
    CDIBImage image;
    const int nMessages = platform.m_nMessages;
    if (!image.OpenDIB(commandLine.aPositional[0]))
        return Failure(image, "info", platform, nMessages);
    std::printf("type: %s\nwidth: %d\nheight: %d\ndepth: %d\ncolours: %d\n", TypeName(image.m_nFileType),
                image.m_nImageWidth, image.m_nImageHeight, image.m_nBitCount, image.Bitmap()->MaxColourTableSize());
    if (image.m_nFileType != FILE_TYPE_TIFF)
        return 0;
    const SGeoTiffInfo geoTiff = ReadGeoTiffInfo(commandLine.aPositional[0]);
    const SGeoReference& reference = geoTiff.geoReference;
    switch (geoTiff.ePlacement) {
    case EGeoTiffPlacement::None:
        break;
    case EGeoTiffPlacement::NorthUp:
        std::printf("geotiff: north-up\n");
        PrintEdges({{"geotiff_pixel_width", reference.dPixelWidth},
                    {"geotiff_pixel_height", reference.dPixelHeight},
                    {"geotiff_outside_west", reference.dOuterWest},
                    {"geotiff_outside_north", reference.dOuterNorth},
                    {"geotiff_outside_east", reference.dOuterWest + reference.dPixelWidth * image.m_nImageWidth},
                    {"geotiff_outside_south", reference.dOuterNorth - reference.dPixelHeight * image.m_nImageHeight}});
        break;
    case EGeoTiffPlacement::Rotated:
        std::printf("geotiff: rotated (only north-up maps are placed)\n");
        break;
    case EGeoTiffPlacement::ControlPoints:
        std::printf("geotiff: control points (only north-up maps are placed)\n");
        break;
    case EGeoTiffPlacement::Damaged:
        std::printf("geotiff: damaged (a pixel size of zero or not a number, or edges beyond any map)\n");
        break;
    }
    if (reference.system)
        std::printf("geotiff_system: %s\n", DescribeGeoSystem(*reference.system).c_str());
    return 0;
}

int RunWorld(const SCommandLine& commandLine, CCliPlatform& platform)
{
    RequirePositional(commandLine, 1, "one file name");
    const std::string& strPath = commandLine.aPositional[0];
    const auto itWrite = commandLine.aOptions.find("--write");
    std::vector<std::string> aFlavours;
    if (itWrite != commandLine.aOptions.end()) {
        std::stringstream stream(itWrite->second);
        std::string strFlavour;
        while (std::getline(stream, strFlavour, ',')) {
            for (char& c : strFlavour)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (strFlavour != "BPW" && strFlavour != "JGW" && strFlavour != "GFW" && strFlavour != "TFW" && strFlavour != "PGW")
                throw CUsageError("--write: unknown flavour '" + strFlavour + "' (BPW, JGW, GFW, TFW or PGW)");
            aFlavours.push_back(strFlavour);
        }
    }
    CDIBWorld image;
    const int nMessages = platform.m_nMessages;
    if (!image.OpenWorld(strPath, false))
        return Failure(image, "world", platform, nMessages);
    if (!image.HasWorld()) {
        std::fprintf(stderr, "gridmorph-cli: world failed: %s has no world file\n", strPath.c_str());
        return 1;
    }
    if (itWrite == commandLine.aOptions.end()) {
        // Outside edges lie half a pixel beyond the pixel centres.
        const double dHalfX = image.m_nImageWidth > 1 ? (image.GetEast() - image.GetWest()) / (image.m_nImageWidth - 1) / 2 : 0;
        const double dHalfY = image.m_nImageHeight > 1 ? (image.GetNorth() - image.GetSouth()) / (image.m_nImageHeight - 1) / 2 : 0;
        PrintEdges({{"west", image.GetWest()}, {"north", image.GetNorth()}, {"east", image.GetEast()},
                    {"south", image.GetSouth()}, {"outside_west", image.GetWest() - dHalfX},
                    {"outside_north", image.GetNorth() + dHalfY}, {"outside_east", image.GetEast() + dHalfX},
                    {"outside_south", image.GetSouth() - dHalfY}});
        // A GeoTIFF says where the edges came from and names its system.
        const SGeoTiffInfo geoTiff =
            image.m_nFileType == FILE_TYPE_TIFF ? ReadGeoTiffInfo(strPath) : SGeoTiffInfo{};
        if (geoTiff.ePlacement != EGeoTiffPlacement::None || geoTiff.geoReference.system)
            std::printf("placement: %s\n", FindWorldFile(strPath).empty() ? "GeoTIFF" : "world file");
        if (geoTiff.geoReference.system)
            std::printf("system: %s\n", DescribeGeoSystem(*geoTiff.geoReference.system).c_str());
        return 0;
    }
    SWorldFileValues values;
    values.dResolutionWestEast = image.m_nImageWidth > 1 ? (image.GetEast() - image.GetWest()) / (image.m_nImageWidth - 1) : 1.0;
    values.dResolutionSouthNorth = image.m_nImageHeight > 1 ? (image.GetSouth() - image.GetNorth()) / (image.m_nImageHeight - 1) : 1.0;
    values.dEastingTopLeft = image.GetWest();
    values.dNorthingTopLeft = image.GetNorth();
    for (const std::string& strEach : aFlavours) {
        const std::string strWorldFile = WorldFileToWrite(WorldBaseName(strPath) + "." + strEach);
        if (!WriteWorldFileValues(strWorldFile, values)) {
            std::fprintf(stderr, "gridmorph-cli: world failed: Could not open %s\n", strWorldFile.c_str());
            return 1;
        }
        std::printf("wrote: %s\n", strWorldFile.c_str());
    }
    return 0;
}

int RunConvert(const SCommandLine& commandLine, CCliPlatform& platform)
{
    RequirePositional(commandLine, 2, "an input and an output file name");
    const auto itDepth = commandLine.aOptions.find("--depth");
    if (itDepth != commandLine.aOptions.end() && itDepth->second != "8" && itDepth->second != "24" &&
        itDepth->second != "grey")
        throw CUsageError("--depth takes 8, 24 or grey");
    CDIBWorld image;
    int nMessages = platform.m_nMessages;
    // A copy in the same depth only reads its input: a BMP may be mapped, and its rows go
    // to the encoder band by band (CMappedPictureRows).
    const bool bCopy = itDepth == commandLine.aOptions.end();
    std::optional<CScopedFileMapping> mapping;
    if (bCopy)
        mapping.emplace();
    const bool bOpened = image.OpenWorld(commandLine.aPositional[0], false);
    mapping.reset();
    if (!bOpened)
        return Failure(image, "convert", platform, nMessages);
    std::unique_ptr<CMappedPictureRows> pMappedRows;
    if (bCopy && image.MutableBitmap() && IsInMappedFile(image.m_pImageBits)) {
        pMappedRows = std::make_unique<CMappedPictureRows>(*image.Bitmap());
        image.MutableBitmap()->m_pRowSupply = pMappedRows.get();
    }
    CDIBWorld converted;
    CDIBWorld* pOutput = &image;
    if (itDepth != commandLine.aOptions.end()) {
        const std::string& strDepth = itDepth->second;
        if (strDepth == "grey") {
            image.ConvertToGreyScale();
        } else {
            if (image.m_nBitCount != 8 && image.m_nBitCount != 24 && image.m_nBitCount != 32) {
                std::fprintf(stderr, "gridmorph-cli: convert failed: a %d-bit picture cannot be converted\n", image.m_nBitCount);
                return 1;
            }
            nMessages = platform.m_nMessages;
            if (!converted.CreateImage(std::stoi(strDepth), &image, true, true, true, true, true))
                return Failure(converted, "convert", platform, nMessages);
            pOutput = &converted;
        }
    }
    nMessages = platform.m_nMessages;
    const bool bSaved = SaveOutput(*pOutput, commandLine.aPositional[1], commandLine.saveOptions);
    if (pMappedRows)
        image.MutableBitmap()->m_pRowSupply = nullptr;
    if (!bSaved)
        return Failure(*pOutput, "convert", platform, nMessages);
    return 0;
}

int RunCrop(const SCommandLine& commandLine, CCliPlatform& platform)
{
    RequirePositional(commandLine, 2, "an input and an output file name");
    const auto itRect = commandLine.aOptions.find("--rect");
    if (itRect == commandLine.aOptions.end())
        throw CUsageError("crop needs --rect LEFT,TOP,WIDTH,HEIGHT");
    const std::vector<double> aRect = ParseNumbers(itRect->second, 4, "--rect");
    for (double d : aRect)
        if (d != std::floor(d) || std::fabs(d) > 1e9)
            throw CUsageError("--rect takes whole numbers of pixels");
    if (aRect[2] < 1 || aRect[3] < 1)
        throw CUsageError("--rect: the width and height must be at least 1");
    CDIBWorld image;
    int nMessages = platform.m_nMessages;
    if (!image.OpenWorld(commandLine.aPositional[0], false))
        return Failure(image, "crop", platform, nMessages);
    CDIBWorld cropped;
    nMessages = platform.m_nMessages;
    if (!cropped.CreateImage(&image, int(aRect[2]), int(aRect[3]), 0))
        return Failure(cropped, "crop", platform, nMessages);
    if (!image.CropMap(&cropped, int(aRect[0]), int(aRect[1]), int(aRect[2]), int(aRect[3]), kSrcCopy)) {
        if (image.m_nErrorNumber != ERR_NO_WORLD_INFORMATION)
            return Failure(image, "crop", platform, nMessages);
        std::fprintf(stderr, "gridmorph-cli: note: %s has no georeference; the crop gets no world file\n",
                     commandLine.aPositional[0].c_str());
    }
    nMessages = platform.m_nMessages;
    if (!SaveOutput(cropped, commandLine.aPositional[1], commandLine.saveOptions))
        return Failure(cropped, "crop", platform, nMessages);
    return 0;
}

int RunMosaic(const SCommandLine& commandLine, CCliPlatform&)
{
    if (commandLine.aPositional.size() < 2)
        throw CUsageError("mosaic takes an output file name and at least one input");
    const auto itRegion = commandLine.aOptions.find("--region");
    if (itRegion == commandLine.aOptions.end())
        throw CUsageError("mosaic needs --region WEST,SOUTH,EAST,NORTH");
    const std::vector<double> aRegion = ParseNumbers(itRegion->second, 4, "--region");
    if (!(aRegion[0] < aRegion[2]) || !(aRegion[1] < aRegion[3]))
        throw CUsageError("--region: west must lie west of east and south south of north");
    SNewMapRequest request;
    request.strFileName = commandLine.aPositional[0];
    request.aBasedOn.assign(commandLine.aPositional.begin() + 1, commandLine.aPositional.end());
    request.dWest = aRegion[0];
    request.dSouth = aRegion[1];
    request.dEast = aRegion[2];
    request.dNorth = aRegion[3];
    const std::unique_ptr<CDIBWorld> pMap = BuildNewBackgroundMap(request, commandLine.saveOptions);
    if (!pMap) {
        std::fprintf(stderr, "gridmorph-cli: mosaic failed\n");
        return 1;
    }
    std::printf("width: %d\nheight: %d\n", pMap->m_nImageWidth, pMap->m_nImageHeight);
    PrintEdges({{"west", pMap->GetWest()}, {"north", pMap->GetNorth()}, {"east", pMap->GetEast()},
                {"south", pMap->GetSouth()}});
    return 0;
}

// The locators of --p1, --p2, --p3 (and --p2-map with --non-rectangular).
void ReadLocatorOptions(const SCommandLine& commandLine, CLocatorSet& locators)
{
    const std::vector<double> aP1 = ParseNumbers(commandLine.aOptions.at("--p1"), 4, "--p1");
    const std::vector<double> aP2 = ParseNumbers(commandLine.aOptions.at("--p2"), 2, "--p2");
    const std::vector<double> aP3 = ParseNumbers(commandLine.aOptions.at("--p3"), 4, "--p3");
    for (double d : {aP1[0], aP1[1], aP2[0], aP2[1], aP3[0], aP3[1]})
        if (d != std::floor(d) || std::fabs(d) > 1e9)
            throw CUsageError("pixel positions are whole numbers");
    locators.m_nLocatorX[0] = int(aP1[0]);
    locators.m_nLocatorY[0] = int(aP1[1]);
    locators.m_nLocatorX[1] = int(aP2[0]);
    locators.m_nLocatorY[1] = int(aP2[1]);
    locators.m_nLocatorX[2] = int(aP3[0]);
    locators.m_nLocatorY[2] = int(aP3[1]);
    locators.m_dEasting[0] = aP1[2];
    locators.m_dNorthing[0] = aP1[3];
    locators.m_dEasting[2] = aP3[2];
    locators.m_dNorthing[2] = aP3[3];
    locators.m_bNonRectangular = commandLine.aOptions.count("--non-rectangular") != 0;
    if (locators.m_bNonRectangular) {
        const std::vector<double> aMap2 = ParseNumbers(commandLine.aOptions.at("--p2-map"), 2, "--p2-map");
        locators.m_dEasting[1] = aMap2[0];
        locators.m_dNorthing[1] = aMap2[1];
    } else {  // the top-right corner lies east of point 3 and north of point 1
        locators.m_dEasting[1] = locators.m_dEasting[2];
        locators.m_dNorthing[1] = locators.m_dNorthing[0];
    }
}

// The choices of --resample, --clip and --nodata (and --depth 8) for rectify.
struct SRectifyChoices {
    STransformOptions options;
    bool bEightBit = false;  // reduce a blended output to the most frequent 256 colours
};

SRectifyChoices ReadRectifyChoices(const SCommandLine& commandLine)
{
    SRectifyChoices choices;
    STransformOptions& options = choices.options;
    const auto Find = [&](const char* pName) -> const std::string* {
        const auto it = commandLine.aOptions.find(pName);
        return it == commandLine.aOptions.end() ? nullptr : &it->second;
    };
    if (const std::string* p = Find("--resample")) {
        if (*p == "nearest")
            options.eResampling = EResampling::Nearest;
        else if (*p == "bilinear")
            options.eResampling = EResampling::Bilinear;
        else if (*p == "cubic")
            options.eResampling = EResampling::Cubic;
        else
            throw CUsageError("--resample takes nearest, bilinear or cubic");
    }
    if (const std::string* p = Find("--clip")) {
        if (*p == "grid")
            options.eClip = EClip::Grid;
        else if (*p == "frame")
            throw CUsageError("--clip frame needs the map frame, which is not found on scans yet; use --clip grid");
        else
            throw CUsageError("--clip takes grid");
    }
    const int nOutputType = CDIBImage::GetFileType(commandLine.aPositional[1]);
    if (const std::string* p = Find("--nodata")) {
        if (nOutputType != FILE_TYPE_PNG && nOutputType != FILE_TYPE_TIFF && nOutputType != FILE_TYPE_NONE)
            throw CUsageError("--nodata is written to PNG and TIFF outputs only");
        if (*p == "transparent") {
            options.eNoData = ENoData::Transparent;
        } else {
            const std::size_t nCommas = static_cast<std::size_t>(std::count(p->begin(), p->end(), ','));
            if (nCommas != 0 && nCommas != 2)
                throw CUsageError("--nodata takes transparent, R,G,B or a palette INDEX");
            const std::vector<double> aValue = ParseNumbers(*p, nCommas + 1, "--nodata");
            for (double d : aValue)
                if (d != std::floor(d) || d < 0 || d > 255)
                    throw CUsageError("--nodata: values are whole numbers from 0 to 255");
            options.eNoData = ENoData::Value;
            if (nCommas == 0) {
                options.nNoDataIndex = int(aValue[0]);
            } else {
                options.nNoDataRed = static_cast<std::uint8_t>(aValue[0]);
                options.nNoDataGreen = static_cast<std::uint8_t>(aValue[1]);
                options.nNoDataBlue = static_cast<std::uint8_t>(aValue[2]);
                if (nOutputType == FILE_TYPE_TIFF && (aValue[0] != aValue[1] || aValue[1] != aValue[2]))
                    throw CUsageError("--nodata: a TIFF names one no-data value for all three colours; give R,G,B "
                                      "with equal values");
            }
        }
    }
    if (const std::string* p = Find("--depth")) {
        if (*p != "8")
            throw CUsageError("rectify takes --depth 8 only (the most frequent 256 colours of a blended output)");
        choices.bEightBit = true;
    }
    choices.bEightBit = choices.bEightBit || nOutputType == FILE_TYPE_GIF;
    // The reduction to 256 colours would lose the alpha channel or the no-data value (an
    // 8-bit scan resampled to the nearest pixel stays 8-bit without --depth 8).
    if (choices.bEightBit && options.eNoData != ENoData::Black)
        throw CUsageError("--nodata does not go with --depth 8; leave out --depth 8");
    return choices;
}

// Everything rectify is told, checked and gathered into a job: throws CUsageError for a
// wrong command line; returns the problem of a locator file that cannot be read, or "".
std::string PrepareRectifyJob(const SCommandLine& commandLine, SRectifyJob& job)
{
    auto Option = [&](const char* pName) -> const std::string* {
        const auto it = commandLine.aOptions.find(pName);
        return it == commandLine.aOptions.end() ? nullptr : &it->second;
    };
    const std::string* pPointsFile = Option("--points");
    const bool bNonRectangular = Option("--non-rectangular") != nullptr;
    const bool bAuto = Option("--auto") != nullptr;  // the locators from the grid on the scan
    if (bAuto && (pPointsFile || Option("--p2") || Option("--p2-map") || bNonRectangular || Option("--p4")))
        throw CUsageError("--auto finds the three locators; it does not go with --points, --p2, --p2-map, --p4 or "
                          "--non-rectangular");
    if (pPointsFile && (Option("--p1") || Option("--p2") || Option("--p3") || Option("--p2-map") || bNonRectangular))
        throw CUsageError("--points gives the three locators; it does not go with --p1, --p2, --p3, --p2-map or "
                          "--non-rectangular");
    if (!bAuto && !pPointsFile && (!Option("--p1") || !Option("--p2") || !Option("--p3")))
        throw CUsageError("rectify needs --p1 X,Y,E,N --p2 X,Y --p3 X,Y,E,N or --points FILE");
    if (bNonRectangular != (Option("--p2-map") != nullptr))
        throw CUsageError("--non-rectangular and --p2-map E,N go together");
    std::vector<double> aFourthCorner;
    if (const std::string* pP4 = Option("--p4")) {
        if (bNonRectangular)
            throw CUsageError("--p4 checks the corners of a map-grid rectangle; it does not go with --non-rectangular");
        aFourthCorner = ParseNumbers(*pP4, 2, "--p4");
        for (double d : aFourthCorner) {
            if (d != std::floor(d))
                throw CUsageError("pixel positions are whole numbers");
            if (std::fabs(d) > 1e9)
                throw CUsageError("--p4: " + QuoteForMessage(*pP4) + " is out of range (beyond any picture)");
        }
    }
    const SRectifyChoices choices = ReadRectifyChoices(commandLine);
    CLocatorSet locators;
    if (pPointsFile) {
        std::string strProblem;
        if (!ReadPointsFile(*pPointsFile, locators, strProblem))
            return *pPointsFile + ": " + strProblem;
    } else if (!bAuto) {
        ReadLocatorOptions(commandLine, locators);
    }

    job.strScan = commandLine.aPositional[0];
    job.strOutput = commandLine.aPositional[1];
    job.locators = locators;
    job.locators.m_bNonRectangular = bNonRectangular;
    job.options = choices.options;
    job.bEightBit = choices.bEightBit;
    job.saveOptions = commandLine.saveOptions;
    job.bFourthCornerGiven = !aFourthCorner.empty();
    if (job.bFourthCornerGiven) {
        job.aFourthCorner[0] = aFourthCorner[0];
        job.aFourthCorner[1] = aFourthCorner[1];
    }
    return "";
}

int RunRectify(const SCommandLine& commandLine, CCliPlatform& platform)
{
    RequirePositional(commandLine, 2, "an input and an output file name");
    auto Option = [&](const char* pName) -> const std::string* {
        const auto it = commandLine.aOptions.find(pName);
        return it == commandLine.aOptions.end() ? nullptr : &it->second;
    };
    // The locators are saved after the work: a folder that is not there is said before it.
    if (const std::string* pSavePoints = Option("--save-points")) {
        const auto nSlash = pSavePoints->find_last_of('/');
        const std::string strFolder = nSlash == std::string::npos ? "." : pSavePoints->substr(0, nSlash + 1);
        struct stat folder {};
        if (pSavePoints->empty() || pSavePoints->back() == '/' || stat(strFolder.c_str(), &folder) != 0 ||
            !S_ISDIR(folder.st_mode))
            throw CUsageError("--save-points: the folder of " + QuoteForMessage(*pSavePoints, 200) +
                              " does not exist");
    }
    SRectifyJob job;
    const std::string strPointsProblem = PrepareRectifyJob(commandLine, job);
    if (!strPointsProblem.empty()) {
        std::fprintf(stderr, "gridmorph-cli: rectify failed: %s\n", strPointsProblem.c_str());
        return 1;
    }
    const std::vector<double> aFourthCorner =
        job.bFourthCornerGiven ? std::vector<double>{job.aFourthCorner[0], job.aFourthCorner[1]} : std::vector<double>{};
    platform.SetQuestionAnswer(Option("--yes") ? EAnswer::Yes : EAnswer::No);
    job.fnMessagesShown = [&platform] { return platform.m_nMessages; };
    if (Option("--auto"))
        job.fnFindLocators = [&](const CDIBWorld& source, CLocatorSet& found, std::string&) {
            return FindAutoLocators(source, Option("--p1"), Option("--p3"), found);
        };
    job.fnLocatorsChecked = [](const CDIBWorld& source, const CLocatorSet& checked) { WarnIfOffGrid(source, checked); };
    const SRectifyResult result = RectifyScan(job);
    if (!result.Written()) {
        if (result.eFailure == ERectifyFailure::FindLocators && result.strError.empty())
            return 1;  // the reason has been printed
        if (result.eFailure == ERectifyFailure::Transform)
            std::fprintf(stderr, "gridmorph-cli: rectify failed\n");
        else
            std::fprintf(stderr, "gridmorph-cli: rectify failed: %s%s\n", result.strError.c_str(),
                         result.eFailure == ERectifyFailure::Locators && !Option("--yes")
                             ? " (a question is answered Yes only with --yes)"
                             : "");
        return 1;
    }
    std::printf("width: %d\nheight: %d\n", result.nWidth, result.nHeight);
    PrintEdges({{"west", result.dWest}, {"north", result.dNorth}, {"east", result.dEast}, {"south", result.dSouth},
                {"resolution", result.dResolution}});
    if (result.bFourthCorner) {
        const SFourthCornerCheck& check = result.check;
        PrintEdges({{"fourth_corner_x", check.dPredictedX}, {"fourth_corner_y", check.dPredictedY}});
        if (check.bMeasured)
            PrintEdges({{"fourth_corner_mismatch_pixels", check.dMismatchPixels},
                        {"fourth_corner_mismatch_metres", check.dMismatchMetres}});
        if (check.Suspicious())
            std::fprintf(stderr,
                         "gridmorph-cli: warning: the fourth corner %s,%s lies %s pixels (%s m) from where the three "
                         "locators put it (%s,%s); a locator is probably on the wrong grid line\n",
                         FormatFixed(aFourthCorner[0], 0).c_str(), FormatFixed(aFourthCorner[1], 0).c_str(),
                         FormatFixed(check.dMismatchPixels, 2).c_str(), FormatFixed(check.dMismatchMetres, 2).c_str(),
                         FormatFixed(check.dPredictedX, 1).c_str(), FormatFixed(check.dPredictedY, 1).c_str());
    }
    if (const std::string* pSavePoints = Option("--save-points")) {
        const std::optional<SCoordinateSystem>& system =
            commandLine.outputSystem ? commandLine.outputSystem : result.outputSystem;
        if (!WritePointsFile(*pSavePoints, result.locators, system ? system->strWkt : std::string())) {
            std::fprintf(stderr, "gridmorph-cli: rectify failed: %s cannot be written\n", pSavePoints->c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

std::string ReadRectifyRow(const std::map<std::string, std::string>& aOptions, const std::string& strScan,
                           const std::string& strOutput, SRectifyJob& job,
                           std::optional<SCoordinateSystem>& outputSystem)
{
    SCommandLine commandLine;
    commandLine.strCommand = "rectify";
    commandLine.aPositional = {strScan, strOutput};
    commandLine.aOptions = aOptions;
    try {
        ReadSaveOptions(commandLine);
        RefuseOutputOverInput(commandLine);
        const std::string strProblem = PrepareRectifyJob(commandLine, job);
        outputSystem = commandLine.outputSystem;
        return strProblem;
    } catch (const CUsageError& error) {
        return error.Problem();
    }
}

int RunCli(int argc, char** argv)
{
    const std::vector<std::string> aArguments(argv + 1, argv + argc);
    if (!aArguments.empty() && aArguments[0] == "batch")
        return RunBatch(std::vector<std::string>(aArguments.begin() + 1, aArguments.end()));
    for (const std::string& strArgument : aArguments) {
        if (strArgument == "-h" || strArgument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (strArgument == "--version") {
            std::printf("gridmorph-cli %s\n", GRIDMORPH_VERSION);
            return 0;
        }
    }
    CCliPlatform platform;
    CScopedPlatform installed(platform);
    try {
        SCommandLine commandLine = ParseCommandLine(aArguments);
        if (commandLine.strCommand.empty())
            throw CUsageError("no command given");
        ReadSaveOptions(commandLine);
        using FRun = int (*)(const SCommandLine&, CCliPlatform&);
        static const std::map<std::string, FRun> aCommands = {
            {"info", RunInfo}, {"world", RunWorld}, {"convert", RunConvert}, {"crop", RunCrop}, {"mosaic", RunMosaic},
            {"rectify", RunRectify},
            {"findgrid", [](const SCommandLine& line, CCliPlatform&) { return RunFindGrid(line.aPositional); }}};
        const auto it = aCommands.find(commandLine.strCommand);
        if (it == aCommands.end())
            throw CUsageError("unknown command " + QuoteForMessage(commandLine.strCommand));
        RefuseOutputOverInput(commandLine);
        return it->second(commandLine, platform);
    } catch (const CUsageError& error) {
        std::fprintf(stderr, "gridmorph-cli: %s; see gridmorph-cli --help\n", error.Problem().c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        // Whatever the command was doing when memory ran out, it says so and fails.
        std::fprintf(stderr, "gridmorph-cli: failed: out of memory (the machine has not enough memory available "
                             "for this work)\n");
        return 1;
    }
}

}  // namespace gridmorph::cli
