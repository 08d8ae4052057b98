// The world file reader, both through the values and through opening a picture beside it.
#include "FuzzSupport.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    using namespace gridmorph;
    fuzz::QuietPlatform();
    static const std::string s_strImage = [] {
        const std::string strPath = fuzz::ScratchPath(".bmp");
        CDIBImage picture;
        picture.CreateImage(8, 7, 5, FILL_WHITE, 0, 0, 0, nullptr);
        picture.SaveDIB(strPath);
        return strPath;
    }();
    static const std::string s_strWorld = WorldFileNameFor(s_strImage);
    fuzz::WriteScratch(s_strWorld, pData, nSize);
    SWorldFileValues values;
    ReadWorldFileValues(s_strWorld, values);
    CDIBWorld image;
    if (image.OpenWorld(s_strImage, true)) {
        int x = image.GetEastCm(), y = image.GetNorthCm();
        image.MapToPixel(x, y, true);
        double dX = 3, dY = 2;
        image.PixelToMap(dX, dY, false);
    }
    return 0;
}
