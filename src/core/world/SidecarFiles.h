#pragma once

#include <string>

#include "io/OutputClashes.h"

namespace gridmorph {

// A map read by the work: the picture, the world file it is placed by (in whatever
// spelling the search finds), the world file name that would be read for it (a world file
// written there later would place the input) and its .prj when it has one. strWhose names
// it in messages ("the input").
void AddMapFilesRead(COutputSet& files, const std::string& strPicture, const std::string& strWhose);

// A map the work saves: the picture under the name the save gives it (name + ".PNG" for a
// name without a known extension), its world file in the spelling the save will use (an
// existing file of another letter case), and its .prj when one is written
// (bWritesProjection) or an old one there would be removed.
void AddMapFilesWritten(COutputSet& files, const std::string& strPicture, bool bWritesProjection,
                        const std::string& strWhose);

// For a piece of a set whose pieces run in any order (a batch row): the sidecars of a map
// that another piece must not write or remove whether they are there now or not. Read:
// every world file name the search tries for strPicture and its .prj (another row's save
// would decide whether this one finds them). Written: the .prj, which every save writes or
// removes. They are compared with the other pieces only (EScope::OtherPieces), so a row
// alone stays as AddMapFilesRead and AddMapFilesWritten check rectify.
void AddMapSidecarsOfPiece(COutputSet& files, const std::string& strPicture, bool bWritten,
                           const std::string& strWhose);

}  // namespace gridmorph
