#include "image/PixelMasks.h"

namespace gridmorph {

void ExpandSixteenBitRow(const CDIBSection& picture, const std::uint8_t* pSource, std::uint8_t* pTarget,
                         bool bRgbOrder)
{
    const CSixteenBitColours colours(picture);
    for (int x = 0; x < picture.Width(); ++x, pTarget += 3) {
        std::uint8_t aBgr[3];
        colours.ReadBgr(pSource, x, aBgr);
        pTarget[0] = bRgbOrder ? aBgr[2] : aBgr[0];
        pTarget[1] = aBgr[1];
        pTarget[2] = bRgbOrder ? aBgr[0] : aBgr[2];
    }
}

}  // namespace gridmorph
