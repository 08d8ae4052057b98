#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace gridmorph {

// The six numbers of a world file. Lines 5 and 6 give the centre of the top-left pixel,
// not its outer corner.
struct SWorldFileValues {
    double dResolutionWestEast = 0.0;    // line 1, metres per pixel
    double dRotationFirst = 0.0;         // line 2, must be zero: maps are north-up
    double dRotationSecond = 0.0;        // line 3, must be zero
    double dResolutionSouthNorth = 0.0;  // line 4, negative for a north-up image
    double dEastingTopLeft = 0.0;        // line 5
    double dNorthingTopLeft = 0.0;       // line 6
};

enum class EWorldFileRead { Read, CannotOpen, UnexpectedEnd };

// Short world file extension of an image file type ("BPW", "JGW", "GFW", "TFW", "PGW"),
// or "" for a type outside 1..5.
std::string WorldFileExtension(int nFileType);
std::string WorldFileExtension(const std::string& strImageFileName);

// The image file name up to, not including, the last "." of its final component.
std::string WorldBaseName(const std::string& strImageFileName);

// The world file name written for an image file: base name + "." + short extension. A
// name without a recognised extension is saved as name + ".PNG", so its world file is
// name + ".PGW".
std::string WorldFileNameFor(const std::string& strImageFileName);

// The file a world file of that name is written to: an existing file whose name differs
// only in letter case (another program wrote site.pgw beside site.png), else the name
// itself. Readers find either spelling, so writing another would leave two files of
// one flavour, the old one still read by programs that try it first.
std::string WorldFileToWrite(const std::string& strWorldFile);

// Finds the world file of an image: base.SHORT, then base.WLD, then image name + "W",
// the first that exists. Letter case of the names found does not matter (another
// program may have written site.bpw beside SITE.BMP); an exact spelling is preferred.
// Returns "" when there is none.
std::string FindWorldFile(const std::string& strImageFileName);

// Finds a file whose name matches the given one without regard to letter case;
// the exact spelling first. Returns "" when there is none.
std::string FindFileAnyCase(const std::string& strPath);

// While one lives, FindFileAnyCase (and so the world-file and .prj searches) on this thread
// reads each folder once and answers from what it read: the check of a batch table looks
// for the sidecars of thousands of rows in one folder. For work that makes and removes no
// file meanwhile.
class CFolderListings {
public:
    CFolderListings();
    ~CFolderListings();
    CFolderListings(const CFolderListings&) = delete;
    CFolderListings& operator=(const CFolderListings&) = delete;

private:
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>> m_aListings;
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>>* m_pPrevious;
};

// The filter list of the dialog that picks a world file for an image: the world files
// named like the image (its file name without folder and extension) first, then each
// flavour, then all files.
std::string WorldFileDialogFilter(const std::string& strImageFileName);

// Reads six lines as "%lf" scanning does (leading blanks skipped, the longest number
// taken, the rest of the line ignored; a line without a number gives 0). Lines longer
// than 258 characters count as several lines, as a 259-character line buffer reads them.
EWorldFileRead ReadWorldFileValues(const std::string& strPath, SWorldFileValues& values);

// Why a world file read from strPath cannot place a north-up map: "" when both rotation
// terms are zero, else a message naming the file and the two terms. Ignoring the terms
// would put every pixel but the top-left one in the wrong place.
std::string RotationProblem(const SWorldFileValues& values, const std::string& strPath);

// The text of a world file: "%.6lf" lines with CR LF endings, the rotation lines "0.0".
std::string FormatWorldFile(const SWorldFileValues& values);

// Writes the world file through a temporary file and a rename, so a failure leaves any
// existing file as it was. False when the file cannot be written.
bool WriteWorldFileValues(const std::string& strPath, const SWorldFileValues& values);

// The flavours of world file a user can ask for by name, in the order they are offered.
struct SWorldFileFlavour {
    const char* pName;   // "BPW"
    const char* pLabel;  // "Bitmap World file (*.BPW)"
};
constexpr SWorldFileFlavour kWorldFileFlavours[] = {
    {"BPW", "Bitmap World file (*.BPW)"}, {"JGW", "JPEG World file (*.JGW)"}, {"GFW", "GIF World file (*.GFW)"},
    {"TFW", "TIFF World file (*.TFW)"},   {"PGW", "PNG World file (*.PGW)"},
};

// The flavour of that name in any letter case ("tfw"), or null for none.
const SWorldFileFlavour* FindWorldFileFlavour(const std::string& strName);

// Writes the values as the world file of one flavour beside a picture: its base name and
// the flavour's extension, or the file of that flavour already there in another letter
// case. Returns the path written to; bWritten is false when it could not be written.
struct SWorldFileWritten {
    std::string strPath;
    bool bWritten = false;
};
SWorldFileWritten WriteWorldFileOfFlavour(const std::string& strPicturePath, const SWorldFileFlavour& flavour,
                                          const SWorldFileValues& values);

}  // namespace gridmorph
