#include "cli/CliCommands.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "platform/HeadlessPlatform.h"

namespace gridmorph::cli {
namespace {

constexpr const char* kUsage =
    "Usage: gridmorph-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Georeferences and converts raster maps (BMP, JPEG, GIF, TIFF, PNG).\n"
    "\n"
    "Commands:\n"
    "  info FILE          print the picture's type, width, height, depth and colours\n"
    "                     as 'key: value' lines\n"
    "  convert IN OUT     open IN and save it as OUT; the format follows OUT's\n"
    "                     extension (GIF needs an 8-bit picture, JPEG a 24-bit one;\n"
    "                     a name without a known extension is saved as PNG)\n"
    "\n"
    "Options:\n"
    "  -h, --help         show this text\n"
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

int UsageError(const std::string& strProblem)
{
    std::fprintf(stderr, "gridmorph-cli: %s\n\n%s", strProblem.c_str(), kUsage);
    return 2;
}

int Failure(const CDIBImage& image, const char* pVerb, const CCliPlatform& platform, int nMessagesBefore)
{
    const std::string strMessage = platform.m_nMessages > nMessagesBefore ? GetErrorText(image.m_nErrorNumber)
                                                                           : image.GetErrorMessage();
    std::fprintf(stderr, "gridmorph-cli: %s failed: %s\n", pVerb, strMessage.c_str());
    return 1;
}

const char* TypeName(int nFileType)
{
    switch (nFileType) {
    case FILE_TYPE_BMP:
        return "BMP";
    case FILE_TYPE_JPEG:
        return "JPEG";
    case FILE_TYPE_GIF:
        return "GIF";
    case FILE_TYPE_TIFF:
        return "TIFF";
    case FILE_TYPE_PNG:
        return "PNG";
    default:
        return "none";
    }
}

int RunInfo(const std::vector<std::string>& aArguments, CCliPlatform& platform)
{
    if (aArguments.size() != 1)
        return UsageError("info takes one file name");
    CDIBImage image;
    const int nMessages = platform.m_nMessages;
    if (!image.OpenDIB(aArguments[0]))
        return Failure(image, "info", platform, nMessages);
    std::printf("type: %s\n", TypeName(image.m_nFileType));
    std::printf("width: %d\n", image.m_nImageWidth);
    std::printf("height: %d\n", image.m_nImageHeight);
    std::printf("depth: %d\n", image.m_nBitCount);
    std::printf("colours: %d\n", image.Bitmap()->MaxColourTableSize());
    return 0;
}

int RunConvert(const std::vector<std::string>& aArguments, CCliPlatform& platform)
{
    if (aArguments.size() != 2)
        return UsageError("convert takes an input and an output file name");
    CDIBImage image;
    int nMessages = platform.m_nMessages;
    if (!image.OpenDIB(aArguments[0]))
        return Failure(image, "convert", platform, nMessages);
    nMessages = platform.m_nMessages;
    image.SaveDIB(aArguments[1]);
    if (image.m_nErrorNumber != 0)
        return Failure(image, "convert", platform, nMessages);
    // A refused depth shows its message and writes nothing; that is a failure here too.
    const bool bDepthRefused = (image.m_nFileType == FILE_TYPE_GIF && image.m_nBitCount != 8) ||
                               (image.m_nFileType == FILE_TYPE_JPEG && image.m_nBitCount != 24);
    if (bDepthRefused) {
        std::fprintf(stderr, "gridmorph-cli: convert failed: nothing was written\n");
        return 1;
    }
    return 0;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    std::vector<std::string> aArguments(argv + 1, argv + argc);
    if (aArguments.empty())
        return UsageError("no command given");
    for (const std::string& strArgument : aArguments) {
        if (strArgument == "-h" || strArgument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    CCliPlatform platform;
    CScopedPlatform installed(platform);
    const std::string strCommand = aArguments.front();
    aArguments.erase(aArguments.begin());
    if (strCommand == "info")
        return RunInfo(aArguments, platform);
    if (strCommand == "convert")
        return RunConvert(aArguments, platform);
    return UsageError("unknown command '" + strCommand + "'");
}

}  // namespace gridmorph::cli
