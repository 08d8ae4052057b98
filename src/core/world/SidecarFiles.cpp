#include "world/SidecarFiles.h"

#include "image/DIBImage.h"
#include "world/CoordinateSystem.h"
#include "world/WorldFile.h"

namespace gridmorph {
namespace {

std::string Possessive(const std::string& strWhose)
{
    return strWhose + "'s";
}

}  // namespace

void AddMapFilesRead(COutputSet& files, const std::string& strPicture, const std::string& strWhose)
{
    files.AddRead(strPicture, strWhose);
    files.AddRead(FindWorldFile(strPicture), Possessive(strWhose) + " world file");
    files.AddRead(WorldFileToWrite(WorldFileNameFor(strPicture)), Possessive(strWhose) + " world file");
    // A .prj written where the input has none names the system the output is in, which
    // for a map saved from it without reprojection is the input's own: only one there counts.
    files.AddRead(FindFileAnyCase(ProjectionFileNameFor(strPicture)), Possessive(strWhose) + " .prj");
}

void AddMapFilesWritten(COutputSet& files, const std::string& strPicture, bool bWritesProjection,
                        const std::string& strWhose)
{
    const std::string strSaved =
        CDIBImage::GetFileType(strPicture) == FILE_TYPE_NONE ? strPicture + ".PNG" : strPicture;
    files.AddWritten(strSaved, strWhose);
    files.AddWritten(WorldFileToWrite(WorldFileNameFor(strPicture)), Possessive(strWhose) + " world file");
    const std::string strProjection = ProjectionFileNameFor(strPicture);
    if (bWritesProjection || !FindFileAnyCase(strProjection).empty())
        files.AddWritten(strProjection, Possessive(strWhose) + " .prj");
}

void AddMapSidecarsOfPiece(COutputSet& files, const std::string& strPicture, bool bWritten,
                           const std::string& strWhose)
{
    constexpr COutputSet::EScope kOthers = COutputSet::EScope::OtherPieces;
    const std::string strProjection = ProjectionFileNameFor(strPicture);
    if (bWritten) {
        files.AddWritten(strProjection, Possessive(strWhose) + " .prj", kOthers);
        return;
    }
    // The search's names (FindWorldFile): base.SHORT, base.WLD and the picture's name + W.
    const std::string strBase = WorldBaseName(strPicture);
    files.AddRead(WorldFileNameFor(strPicture), Possessive(strWhose) + " world file", kOthers);
    files.AddRead(strBase + ".WLD", Possessive(strWhose) + " world file", kOthers);
    files.AddRead(strPicture + "W", Possessive(strWhose) + " world file", kOthers);
    files.AddRead(strProjection, Possessive(strWhose) + " .prj", kOthers);
}

}  // namespace gridmorph
