#pragma once

// One scan rectified from start to finish: opened, its locators checked, transformed,
// reduced to 256 colours when asked, saved with its world file, and the fourth corner of
// the grid rectangle measured. The command line's rectify and the batch runner both do
// their work here, so a sheet of a batch is the same file, byte for byte, as the sheet
// rectified alone with the same choices.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "image/codecs/ImageCodec.h"
#include "transform/FourthCorner.h"
#include "transform/LocatorSet.h"
#include "transform/TransformOptions.h"
#include "world/CoordinateSystem.h"

namespace gridmorph {

class CDIBWorld;

// How the locators agree with the grid lines found on the scan: the grid their rectangle
// predicts against the crossings found inside it.
struct SGridAgreement {
    bool bChecked = false;  // a grid was found and the locators span whole cells of it
    double dMismatchPixels = 0.0;  // the largest distance of a found crossing from the predicted one
    double dMismatchMetres = 0.0;
    // "Locator 2 is probably on the wrong grid line: the grid on the scan lies up to ..."
    // when they disagree by more than 2 pixels, else "".
    std::string strWarning;
};

struct SRectifyJob {
    std::string strScan;
    std::string strOutput;
    CLocatorSet locators;  // m_bNonRectangular for three points that are not grid corners
    STransformOptions options;
    bool bEightBit = false;  // reduce a blended output to the most frequent 256 colours
    SEncodeOptions saveOptions;
    // The system a locator file names ("#CRS:"): the map carries it and its saves name it
    // when saveOptions names none (no --srs).
    std::optional<SCoordinateSystem> locatorSystem;
    // Said before the work, for the reader: --srs naming another system than the locator
    // file's, which it overrides.
    std::string strNote;
    bool bFourthCornerGiven = false;
    double aFourthCorner[2] = {0.0, 0.0};  // the pixel of the grid's bottom-left corner on the scan
    // The reader sees the message boxes (the command line's terminal, a batch row's
    // messages): a failure whose detail a box told is named by its error's own text
    // alone, not twice. Otherwise strError is always the whole message.
    bool bReaderSeesBoxes = false;
    // When set, finds the locators on the opened scan (the grid finder); false with the
    // reason in strProblem ("" when the reason has been shown already).
    std::function<bool(const CDIBWorld& source, CLocatorSet& locators, std::string& strProblem)> fnFindLocators;
    // When set, called once the locators passed their checks, with a rectangular set: the
    // check of the locators against the grid found on the scan (see AddGridCheck), kept
    // in the result.
    std::function<SGridAgreement(const CDIBWorld& source, const CLocatorSet& locators)> fnLocatorsChecked;
    // With options.eClip == EClip::Frame: finds on the opened scan the grid cells the clip
    // keeps around the checked locators; false with the reason in strProblem.
    std::function<bool(const CDIBWorld& source, const CLocatorSet& locators, SFrameCells& cells,
                       std::string& strProblem)>
        fnFindFrame;
    // The output is made whole before it is saved, as the window makes it. Otherwise its
    // rows are made band by band as the encoder takes them (TIFF and BMP; the other
    // formats make it whole); the file is the same either way.
    bool bWholePicture = false;
};

// Positions: a locator's map position cannot lie in the output's coordinate system.
enum class ERectifyFailure {
    None, Open, Depth, FindLocators, Outside, Locators, Frame, Transform, Reduce, Save, Positions
};

struct SRectifyResult {
    ERectifyFailure eFailure = ERectifyFailure::None;
    // What failed (see bReaderSeesBoxes); "" for a transform, whose warning told why.
    std::string strError;
    int nWidth = 0;
    int nHeight = 0;
    double dWest = 0.0, dNorth = 0.0, dEast = 0.0, dSouth = 0.0;  // pixel centres
    double dResolution = 0.0;
    bool bFourthCorner = false;  // check holds the predicted corner (rectangular locators)
    SFourthCornerCheck check;
    SGridAgreement grid;  // from fnLocatorsChecked
    std::optional<SCoordinateSystem> outputSystem;  // the system the output map carries
    CLocatorSet locators;                           // the locators used (found ones too)
    bool Written() const { return eFailure == ERectifyFailure::None; }
};

SRectifyResult RectifyScan(const SRectifyJob& job);

// The width and height a picture file declares, from its header alone (BMP, PNG, GIF,
// JPEG, TIFF); false when the file cannot be read or is none of these.
bool ReadDeclaredPictureSize(const std::string& strPath, int& nWidth, int& nHeight);

// The memory rectifying a scan of that size takes at its peak, estimated generously:
// the scan and the output in full colour (a rotated sheet's output is larger than the
// scan by up to about half), plus the encoder's working buffers.
std::uint64_t EstimateRectifyMemory(int nWidth, int nHeight);

}  // namespace gridmorph
