// A bitmap that may carry a Release 3 block: open it requiring a georeference, then save
// it again with its world file.
#include "FuzzSupport.h"
#include "world/DIBWorld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    using namespace gridmorph;
    fuzz::QuietPlatform();
    static const std::string s_strPath = fuzz::ScratchPath("-r3.bmp");
    static const std::string s_strSaved = fuzz::ScratchPath("-r3-saved.bmp");
    fuzz::WriteScratch(s_strPath, pData, nSize);
    std::remove((s_strPath.substr(0, s_strPath.size() - 4) + ".BPW").c_str());
    CDIBWorld image;
    if (image.OpenWorld(s_strPath, true))
        image.SaveWorld(s_strSaved);
    return 0;
}
