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
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "batch/RectifyOptions.h"
#include "cli/GridCommands.h"
#include "errors/ErrorText.h"
#include "grid/GridFrame.h"
#include "image/codecs/GeoTiffTags.h"
#include "image/codecs/ImageCodec.h"
#include "image/MappedRows.h"
#include "io/MappedFile.h"
#include "io/Numbers.h"
#include "io/OutputClashes.h"
#include "io/QuoteText.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"
#include "transform/FourthCorner.h"
#include "transform/LocatorChecks.h"
#include "transform/PointsFile.h"
#include "transform/RectifyJob.h"
#include "transform/Resample.h"
#include "world/CoordinateSystem.h"
#include "world/DIBWorld.h"
#include "world/MapEdgeText.h"
#include "world/MapEdits.h"
#include "world/NewBackgroundMap.h"
#include "world/SidecarFiles.h"
#include "world/WorldFile.h"

namespace gridmorph::cli {
namespace {

constexpr const char* kUsageHead =
    "Georeferences and converts raster maps (BMP, JPEG, GIF, TIFF, PNG). The output format\n"
    "follows the output name's extension (GIF needs an 8-bit picture, JPEG a 24-bit one; a\n"
    "name without a known extension is saved as PNG). A map that has a georeference is\n"
    "saved with its world file beside it.\n";

constexpr const char* kExitStatus = "Exit status: 0 on success, 1 when the work failed, 2 for a wrong command line.\n";

// Each command's lines of the help, written once: the general help lists every command's,
// and "gridmorph-cli COMMAND --help" its own with the options it takes.
struct SCommandHelp {
    const char* pName;
    const char* pLines;  // its synopses and what they do
};
constexpr SCommandHelp kCommandHelp[] = {
    {"info",
     "  info FILE                 type, width, height, depth and colours as 'key: value' lines\n"},
    {"world",
     "  world FILE                the map edges: west, north, east, south at pixel centres,\n"
     "                            then the outside edges half a pixel further out\n"
     "  world FILE --write LIST   write world files beside FILE in the flavours of LIST, a\n"
     "                            comma-separated choice of BPW,JGW,GFW,TFW,PGW\n"},
    {"convert",
     "  convert IN OUT [--depth 8|24|grey]\n"
     "                            open IN and save it as OUT; --depth 8 reduces to a palette of\n"
     "                            the picture's most frequent colours, 24 widens to full\n"
     "                            colour, grey turns the picture grey\n"},
    {"crop",
     "  crop IN OUT --rect LEFT,TOP,WIDTH,HEIGHT\n"
     "                            cut a pixel rectangle (rows counted from the top) with its\n"
     "                            map edges\n"},
    {"mosaic",
     "  mosaic OUT --region WEST,SOUTH,EAST,NORTH IN...\n"
     "                            build a new background map over the region (metres) from\n"
     "                            georeferenced images; the first IN sets the pixel grid and\n"
     "                            wins where the images overlap\n"},
    {"rectify",
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
     "                            .points layout (mapX,mapY,sourceX,sourceY,enable rows); its\n"
     "                            #CRS: line names the output's system unless --srs is given\n"
     "  rectify IN OUT --auto [--p1 E,N --p3 E,N]\n"
     "                            the three corners from the map grid found on the scan, their\n"
     "                            map positions from the sheet's coordinate labels (or from\n"
     "                            --p1 and --p3 when the labels cannot be read); refuses when\n"
     "                            anything is uncertain\n"},
    {"findgrid",
     "  findgrid SCAN             find the map grid: p1, p2, p3 (pixels) at the corners of its\n"
     "                            largest rectangle, p1_map and p3_map when the labels were\n"
     "                            read, then spacing, rotation, residual and time; exit 1 when\n"
     "                            there is no grid\n"},
    {"batch",
     "  batch TABLE [--jobs N --memory MB --report FILE.csv --shard I/N --force]\n"
     "                            rectify every row of a CSV table of scans, in parallel,\n"
     "                            skipping rows already done (see gridmorph-cli batch --help)\n"},
};

// The options, each written once with the commands that take it ("" for every command).
struct SOptionHelp {
    const char* pCommands;  // space-separated
    const char* pLines;
};
constexpr SOptionHelp kOptionHelp[] = {
    {"convert crop mosaic rectify",
     "  --srs DEFINITION              the coordinate system of the maps written (EPSG:27700,\n"
     "                                or any definition PROJ accepts): TIFF files name it in\n"
     "                                their GeoTIFF keys and a .prj file is written beside;\n"
     "                                without it the output keeps the input's system\n"},
    {"rectify",
     "  --p4 X,Y                      rectify: the pixel of the grid's fourth (bottom-left)\n"
     "                                corner; the mismatch is printed and over 2 pixels warned\n"},
    {"rectify", "  --save-points FILE            rectify: write the locators used as a .points file\n"},
    {"rectify", "  --yes                         answer Yes to the locator questions (else they refuse)\n"},
    {"rectify",
     "  --resample nearest|bilinear|cubic\n"
     "                                rectify: how pixels take their value (default nearest,\n"
     "                                which keeps the scan's colours; the others blend, and an\n"
     "                                8-bit scan gives full colour unless --depth 8 or a GIF\n"
     "                                output asks for the most frequent 256 colours)\n"},
    {"rectify",
     "  --depth 8                     rectify: reduce the output to its most frequent 256\n"
     "                                colours (a GIF output always is); not with --nodata\n"},
    {"rectify", "  --clip grid                   rectify: keep only the rectangle of the three locators\n"},
    {"rectify",
     "  --clip frame                  rectify: that rectangle grown by whole grid cells out to\n"
     "                                the outermost grid lines found on the scan\n"},
    {"rectify",
     "  --nodata transparent|R,G,B|INDEX\n"
     "                                rectify: what lies outside the scan (PNG and TIFF):\n"
     "                                transparent (alpha, or a spare palette entry), or a\n"
     "                                colour or palette index named as no-data\n"},
    {"convert crop mosaic rectify", "  --compress none|lzw|deflate   compression of TIFF output (default lzw)\n"},
    {"convert crop mosaic rectify", "  --force                       replace read-only outputs\n"},
    {"", "  -h, --help                    show this text\n"},
    {"", "  --version                     show the program's version\n"},
};

bool TakesOption(const SOptionHelp& option, const std::string& strCommand)
{
    if (!*option.pCommands)
        return true;
    std::istringstream commands(option.pCommands);
    std::string strName;
    while (commands >> strName)
        if (strName == strCommand)
            return true;
    return false;
}

// The general help (strCommand empty) or one command's.
std::string HelpText(const std::string& strCommand)
{
    std::string strText;
    if (strCommand.empty()) {
        strText = std::string("Usage: gridmorph-cli COMMAND [ARGUMENTS] [OPTIONS]\n\n") + kUsageHead + "\nCommands:\n";
        for (const SCommandHelp& command : kCommandHelp)
            strText += command.pLines;
    } else {
        strText = "Usage: gridmorph-cli " + strCommand + " ARGUMENTS [OPTIONS]\n\n";
        for (const SCommandHelp& command : kCommandHelp)
            if (strCommand == command.pName)
                strText += command.pLines;
    }
    strText += "\nOptions:\n";
    for (const SOptionHelp& option : kOptionHelp)
        if (strCommand.empty() || TakesOption(option, strCommand))
            strText += option.pLines;
    return strText + "\n" + kExitStatus;
}

bool HasCommandHelp(const std::string& strCommand)
{
    for (const SCommandHelp& command : kCommandHelp)
        if (strCommand == command.pName)
            return true;
    return false;
}

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

// Prints "key: value" lines, the values with six decimals whatever the locale.
void PrintEdges(std::initializer_list<std::pair<const char*, double>> aLines)
{
    for (const auto& [pKey, dValue] : aLines)
        std::printf("%s: %s\n", pKey, FormatFixed(dValue, 6).c_str());
}

// Tells a step's boxes (the platform prints them); true when it succeeded.
bool Told(const SSilentResult& outcome, bool bSucceeded)
{
    outcome.Tell();
    return bSucceeded;
}

bool Told(const SSilentResult& outcome)
{
    return Told(outcome, outcome.Succeeded());
}

int Failure(const SSilentResult& outcome, const char* pVerb)
{
    std::fprintf(stderr, "gridmorph-cli: %s failed: %s\n", pVerb, outcome.FailureLine().c_str());
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

// Saves the picture, with its world file when it has a georeference, its boxes in the
// outcome; bWritten false when nothing (or not everything) was written.
SSilentResult SaveOutput(CDIBWorld& image, const std::string& strPath, const SEncodeOptions& options, bool& bWritten)
{
    return image.RunSilently([&] {
        bWritten = (image.HasWorld() ? image.SaveWorld(strPath, options) : image.SaveDIB(strPath, options)) ==
                   ESaveResult::Written;
    });
}

int RunInfo(const SCommandLine& commandLine, CHeadlessPlatform&)
{
    RequirePositional(commandLine, 1, "one file name");
    CDIBImage image;
    if (const SSilentResult opened = image.OpenDIBSilent(commandLine.aPositional[0]); !Told(opened))
        return Failure(opened, "info");
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

// Whether two names lead to one file on disc (a link, another spelling of the path).
bool SameFile(const std::string& strFirst, const std::string& strSecond)
{
    struct stat first {}, second {};
    return stat(strFirst.c_str(), &first) == 0 && stat(strSecond.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The bytes of a small file, "" when it cannot be read.
std::string ReadFileText(const std::string& strPath)
{
    std::string strText;
    if (std::FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        char aBuffer[4096];
        for (std::size_t nRead; (nRead = std::fread(aBuffer, 1, sizeof aBuffer, pFile)) > 0;)
            strText.append(aBuffer, nRead);
        std::fclose(pFile);
    }
    return strText;
}

int RunWorld(const SCommandLine& commandLine, CHeadlessPlatform&)
{
    RequirePositional(commandLine, 1, "one file name");
    const std::string& strPath = commandLine.aPositional[0];
    const auto itWrite = commandLine.aOptions.find("--write");
    std::vector<const SWorldFileFlavour*> aFlavours;
    if (itWrite != commandLine.aOptions.end()) {
        std::stringstream stream(itWrite->second);
        std::string strFlavour;
        while (std::getline(stream, strFlavour, ',')) {
            const SWorldFileFlavour* pFlavour = FindWorldFileFlavour(strFlavour);
            if (!pFlavour) {
                for (char& c : strFlavour)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                throw CUsageError("--write: unknown flavour '" + strFlavour + "' (BPW, JGW, GFW, TFW or PGW)");
            }
            aFlavours.push_back(pFlavour);
        }
    }
    CDIBWorld image;
    if (const SSilentResult opened = image.OpenWorldSilent(strPath, false); !Told(opened))
        return Failure(opened, "world");
    if (!image.HasWorld()) {
        std::fprintf(stderr, "gridmorph-cli: world failed: %s has no world file\n", strPath.c_str());
        return 1;
    }
    if (itWrite == commandLine.aOptions.end()) {
        const SMapEdges centres = CentreEdges(image), outside = OutsideEdges(image);
        PrintEdges({{"west", centres.dWest}, {"north", centres.dNorth}, {"east", centres.dEast},
                    {"south", centres.dSouth}, {"outside_west", outside.dWest}, {"outside_north", outside.dNorth},
                    {"outside_east", outside.dEast}, {"outside_south", outside.dSouth}});
        // A GeoTIFF says where the edges came from and names its system.
        const SGeoTiffInfo geoTiff =
            image.m_nFileType == FILE_TYPE_TIFF ? ReadGeoTiffInfo(strPath) : SGeoTiffInfo{};
        if (geoTiff.ePlacement != EGeoTiffPlacement::None || geoTiff.geoReference.system)
            std::printf("placement: %s\n", FindWorldFile(strPath).empty() ? "GeoTIFF" : "world file");
        if (geoTiff.geoReference.system)
            std::printf("system: %s\n", DescribeGeoSystem(*geoTiff.geoReference.system).c_str());
        return 0;
    }
    const SWorldFileValues values = image.GetWorldFileValues();
    // The world file the map was placed by is never rewritten: written again it would
    // lose every decimal beyond the sixth. The same text may be written over it.
    if (const std::string strRead = FindWorldFile(strPath); !strRead.empty()) {
        for (const SWorldFileFlavour* pFlavour : aFlavours) {
            const std::string strTarget = WorldFileToWrite(WorldBaseName(strPath) + "." + pFlavour->pName);
            if (SameFile(strTarget, strRead) && ReadFileText(strRead) != FormatWorldFile(values)) {
                std::fprintf(stderr,
                             "gridmorph-cli: world failed: %s is the world file %s was placed by; it is left as it "
                             "is (written again, its numbers would change)\n",
                             strRead.c_str(), strPath.c_str());
                return 1;
            }
        }
    }
    for (const SWorldFileFlavour* pFlavour : aFlavours) {
        const SWorldFileWritten written = WriteWorldFileOfFlavour(strPath, *pFlavour, values);
        if (!written.bWritten) {
            std::fprintf(stderr, "gridmorph-cli: world failed: Could not open %s\n", written.strPath.c_str());
            return 1;
        }
        std::printf("wrote: %s\n", written.strPath.c_str());
    }
    return 0;
}

int RunConvert(const SCommandLine& commandLine, CHeadlessPlatform&)
{
    RequirePositional(commandLine, 2, "an input and an output file name");
    const auto itDepth = commandLine.aOptions.find("--depth");
    if (itDepth != commandLine.aOptions.end() && itDepth->second != "8" && itDepth->second != "24" &&
        itDepth->second != "grey")
        throw CUsageError("--depth takes 8, 24 or grey");
    CDIBWorld image;
    // A copy in the same depth only reads its input: a BMP may be mapped, and its rows go
    // to the encoder band by band (CMappedPictureRows).
    const bool bCopy = itDepth == commandLine.aOptions.end();
    std::optional<CScopedFileMapping> mapping;
    if (bCopy)
        mapping.emplace();
    const SSilentResult opened = image.OpenWorldSilent(commandLine.aPositional[0], false);
    mapping.reset();
    if (!Told(opened))
        return Failure(opened, "convert");
    std::unique_ptr<CMappedPictureRows> pMappedRows;
    if (bCopy && image.MutableBitmap() && IsInMappedFile(image.m_pImageBits)) {
        pMappedRows = std::make_unique<CMappedPictureRows>(*image.Bitmap());
        image.MutableBitmap()->m_pRowSupply = pMappedRows.get();
    }
    SMadeMap converted;
    CDIBWorld* pOutput = &image;
    if (itDepth != commandLine.aOptions.end()) {
        const std::string& strDepth = itDepth->second;
        if (strDepth == "grey") {
            image.ConvertToGreyScale();
        } else {
            converted = ConvertMapSilent(image, strDepth == "8" ? 8 : 24);
            if (!Told(converted, converted.pMap != nullptr))
                return Failure(converted, "convert");
            pOutput = converted.pMap.get();
        }
    }
    bool bSaved = false;
    const SSilentResult saved = SaveOutput(*pOutput, commandLine.aPositional[1], commandLine.saveOptions, bSaved);
    if (pMappedRows)
        image.MutableBitmap()->m_pRowSupply = nullptr;
    if (!Told(saved, bSaved))
        return Failure(saved, "convert");
    return 0;
}

int RunCrop(const SCommandLine& commandLine, CHeadlessPlatform&)
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
    // A crop reads only its window of the input: a BMP may be mapped and a TIFF's strips
    // are decoded only where the window lies.
    std::optional<CScopedFileMapping> mapping(std::in_place);
    const SSilentResult opened = image.OpenWorldSilent(commandLine.aPositional[0], false);
    mapping.reset();
    if (!Told(opened))
        return Failure(opened, "crop");
    SMadeMap cropped = CropMapSilent(image, {int(aRect[0]), int(aRect[1]), int(aRect[2]), int(aRect[3])});
    if (!Told(cropped, cropped.pMap != nullptr))
        return Failure(cropped, "crop");
    if (!cropped.Succeeded())
        std::fprintf(stderr, "gridmorph-cli: note: %s has no georeference; the crop gets no world file\n",
                     commandLine.aPositional[0].c_str());
    bool bSaved = false;
    if (const SSilentResult saved = SaveOutput(*cropped.pMap, commandLine.aPositional[1], commandLine.saveOptions, bSaved);
        !Told(saved, bSaved))
        return Failure(saved, "crop");
    return 0;
}

int RunMosaic(const SCommandLine& commandLine, CHeadlessPlatform&)
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
    request.region.dWest = aRegion[0];
    request.region.dSouth = aRegion[1];
    request.region.dEast = aRegion[2];
    request.region.dNorth = aRegion[3];
    SNewMapOutcome built = BuildNewBackgroundMapSilent(request, commandLine.saveOptions);
    built.Tell();
    const std::unique_ptr<CDIBWorld> pMap = std::move(built.pMap);
    if (!pMap) {
        std::fprintf(stderr, "gridmorph-cli: mosaic failed\n");
        return 1;
    }
    std::printf("width: %d\nheight: %d\n", pMap->m_nImageWidth, pMap->m_nImageHeight);
    PrintEdges({{"west", pMap->GetWest()}, {"north", pMap->GetNorth()}, {"east", pMap->GetEast()},
                {"south", pMap->GetSouth()}});
    return 0;
}

int RunRectify(const SCommandLine& commandLine, CHeadlessPlatform& platform)
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
    if (!job.strNote.empty())
        std::fprintf(stderr, "gridmorph-cli: note: %s\n", job.strNote.c_str());
    const std::vector<double> aFourthCorner =
        job.bFourthCornerGiven ? std::vector<double>{job.aFourthCorner[0], job.aFourthCorner[1]} : std::vector<double>{};
    platform.SetQuestionAnswer(Option("--yes") ? EAnswer::Yes : EAnswer::No);
    job.bReaderSeesBoxes = true;
    if (Option("--auto"))
        job.fnFindLocators = [&](const CDIBWorld& source, CLocatorSet& found, std::string&) {
            return FindAutoLocators(source, Option("--p1"), Option("--p3"), found);
        };
    // The grid check (the core's, as every batch row makes it) is printed as it is made.
    if (const auto fnCheck = job.fnLocatorsChecked)
        job.fnLocatorsChecked = [fnCheck](const CDIBWorld& source, const CLocatorSet& checked) {
            const SGridAgreement agreement = fnCheck(source, checked);
            WarnIfOffGrid(agreement);
            return agreement;
        };
    const SRectifyResult result = RectifyScan(job);
    if (!result.Written()) {
        if (result.eFailure == ERectifyFailure::FindLocators && result.strError.empty())
            return 1;  // the reason has been printed
        if (result.eFailure == ERectifyFailure::Positions) {  // map positions the system cannot have
            std::fprintf(stderr, "gridmorph-cli: rectify: %s\n", result.strError.c_str());
            return 2;
        }
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
int RunCli(int argc, char** argv)
{
    const std::vector<std::string> aArguments(argv + 1, argv + argc);
    if (const std::string strThreads = ThreadSettingWarning(); !strThreads.empty())
        std::fprintf(stderr, "gridmorph-cli: warning: %s\n", strThreads.c_str());
    if (!aArguments.empty() && aArguments[0] == "batch")
        return RunBatch(std::vector<std::string>(aArguments.begin() + 1, aArguments.end()));
    for (const std::string& strArgument : aArguments) {
        if (strArgument == "-h" || strArgument == "--help") {
            // "COMMAND --help" is that command's help; anything else the general one.
            const bool bCommand = aArguments[0] != strArgument && HasCommandHelp(aArguments[0]);
            std::fputs(HelpText(bCommand ? aArguments[0] : std::string()).c_str(), stdout);
            return 0;
        }
        if (strArgument == "--version") {
            std::printf("gridmorph-cli %s\n", GRIDMORPH_VERSION);
            return 0;
        }
    }
    CHeadlessPlatform platform;
    CScopedPlatform installed(platform);
    try {
        SCommandLine commandLine = ParseCommandLine(aArguments);
        if (commandLine.strCommand.empty())
            throw CUsageError("no command given");
        ReadSaveOptions(commandLine);
        using FRun = int (*)(const SCommandLine&, CHeadlessPlatform&);
        static const std::map<std::string, FRun> aCommands = {
            {"info", RunInfo}, {"world", RunWorld}, {"convert", RunConvert}, {"crop", RunCrop}, {"mosaic", RunMosaic},
            {"rectify", RunRectify},
            {"findgrid", [](const SCommandLine& line, CHeadlessPlatform&) { return RunFindGrid(line.aPositional); }}};
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
