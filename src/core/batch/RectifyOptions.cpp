#include "batch/RectifyOptions.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "grid/GridFrame.h"
#include "image/DIBImage.h"
#include "io/Numbers.h"
#include "io/OutputClashes.h"
#include "io/QuoteText.h"
#include "transform/LocatorChecks.h"
#include "transform/PointsFile.h"
#include "world/DIBWorld.h"
#include "world/SidecarFiles.h"

namespace gridmorph {
namespace {

// The locators of --p1, --p2, --p3 (and --p2-map with --non-rectangular).
void ReadLocatorOptions(const SCommandLine& commandLine, CLocatorSet& locators)
{
    const std::vector<double> aP1 = ParseNumbers(commandLine.aOptions.at("--p1"), 4, "--p1");
    const std::vector<double> aP2 = ParseNumbers(commandLine.aOptions.at("--p2"), 2, "--p2");
    const std::vector<double> aP3 = ParseNumbers(commandLine.aOptions.at("--p3"), 4, "--p3");
    for (double d : {aP1[0], aP1[1], aP2[0], aP2[1], aP3[0], aP3[1]})
        if (d != std::floor(d) || std::fabs(d) > 1e9)
            throw CUsageError("pixel positions are whole numbers");
    locators.SetLocator(0, int(aP1[0]), int(aP1[1]));
    locators.SetLocator(1, int(aP2[0]), int(aP2[1]));
    locators.SetLocator(2, int(aP3[0]), int(aP3[1]));
    locators.SetMapPosition(0, aP1[2], aP1[3]);
    locators.SetMapPosition(2, aP3[2], aP3[3]);
    locators.SetNonRectangular(commandLine.aOptions.count("--non-rectangular") != 0);
    if (locators.NonRectangular()) {
        const std::vector<double> aMap2 = ParseNumbers(commandLine.aOptions.at("--p2-map"), 2, "--p2-map");
        locators.SetMapPosition(1, aMap2[0], aMap2[1]);
    } else {  // the top-right corner lies east of point 3 and north of point 1
        locators.SetMapPosition(1, locators.Easting(2), locators.Northing(0));
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
            options.eClip = EClip::Frame;
        else
            throw CUsageError("--clip takes grid or frame");
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

}  // namespace

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

namespace {

// Two definitions of one system: the same EPSG code, or without codes the same WKT.
bool SameCoordinateSystem(const SCoordinateSystem& a, const SCoordinateSystem& b)
{
    if (a.geoSystem.nEpsgCode != 0 || b.geoSystem.nEpsgCode != 0)
        return a.geoSystem.nEpsgCode == b.geoSystem.nEpsgCode;
    return a.strWkt == b.strWkt;
}

}  // namespace

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
    if (choices.options.eClip == EClip::Frame && bNonRectangular)
        throw CUsageError("--clip frame extends a rectangle of the map grid; it does not go with --non-rectangular");
    CLocatorSet locators;
    std::optional<SCoordinateSystem> locatorSystem;
    std::string strNote;
    if (pPointsFile) {
        std::string strProblem, strSystemWkt;
        if (!ReadPointsFile(*pPointsFile, locators, strProblem, &strSystemWkt))
            return *pPointsFile + ": " + strProblem;
        // The file's "#CRS:" line names the output's system unless --srs names one; two
        // different systems are said, --srs winning.
        if (!strSystemWkt.empty()) {
            SCoordinateSystem system;
            std::string strReason;
            if (!ResolveCoordinateSystem(strSystemWkt, system, strReason))
                return *pPointsFile + ": the #CRS: line names no coordinate system for a map: " + strReason;
            if (!commandLine.outputSystem)
                locatorSystem = std::move(system);
            else if (!SameCoordinateSystem(*commandLine.outputSystem, system))
                strNote = "--srs " + commandLine.outputSystem->strDefinition + " (" +
                          ShortNameOf(*commandLine.outputSystem) + ") is used, not the system " +
                          *pPointsFile + " names (" + ShortNameOf(system) + ")";
        }
    } else if (!bAuto) {
        ReadLocatorOptions(commandLine, locators);
    }

    // Positions the named system cannot have are a wrong command line: refused before
    // the scan is read. Those of a system the scan names are checked once it is open.
    if (!bAuto && commandLine.outputSystem) {
        const SPositionCheck check = CheckLocatorPositions(locators, commandLine.outputSystem->geoSystem);
        if (!check.strRefusal.empty())
            throw CUsageError(check.strRefusal);
    }

    job.strScan = commandLine.aPositional[0];
    job.strOutput = commandLine.aPositional[1];
    job.locators = locators;
    job.locators.SetNonRectangular(bNonRectangular);
    job.options = choices.options;
    AddGridCheck(job);
    job.bEightBit = choices.bEightBit;
    job.saveOptions = commandLine.saveOptions;
    job.locatorSystem = std::move(locatorSystem);
    job.strNote = std::move(strNote);
    job.bFourthCornerGiven = !aFourthCorner.empty();
    if (job.bFourthCornerGiven) {
        job.aFourthCorner[0] = aFourthCorner[0];
        job.aFourthCorner[1] = aFourthCorner[1];
    }
    return "";
}

void AddGridCheck(SRectifyJob& job)
{
    // The job rectifies one scan: its grid lines are found once, for the check and the frame.
    const auto pLines = std::make_shared<std::optional<SFoundGrid>>();
    const auto GridLines = [pLines](const CDIBWorld& source) -> const SFoundGrid& {
        if (!*pLines) {
            SFindGridOptions options;
            options.bReadLabels = false;
            *pLines = FindGrid(source, options);
        }
        return **pLines;
    };
    job.fnLocatorsChecked = [GridLines](const CDIBWorld& source, const CLocatorSet& checked) {
        const SGridCheck check = CheckLocatorsAgainstGrid(GridLines(source), checked);
        SGridAgreement agreement;
        agreement.bChecked = check.bChecked;
        agreement.dMismatchPixels = check.dMismatchPixels;
        agreement.dMismatchMetres = check.dMismatchMetres;
        if (check.Suspicious())
            agreement.strWarning = check.strMessage + ": the grid on the scan lies up to " +
                                   FormatFixed(check.dMismatchPixels, 2) + " pixels (" +
                                   FormatFixed(check.dMismatchMetres, 2) +
                                   " m) from the grid the three locators predict";
        return agreement;
    };
    if (job.options.eClip == EClip::Frame)
        job.fnFindFrame = [GridLines](const CDIBWorld& source, const CLocatorSet& checked, SFrameCells& cells,
                                      std::string& strProblem) {
            return FindFrameCells(GridLines(source), checked, cells, strProblem);
        };
}

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
        const std::string strProblem = PrepareRectifyJob(commandLine, job);
        outputSystem = commandLine.outputSystem ? commandLine.outputSystem : job.locatorSystem;
        return strProblem;
    } catch (const CUsageError& error) {
        return error.Problem();
    }
}

}  // namespace gridmorph
