// One decoder, through the same entry the program uses to open a file. The extension
// (and so the decoder) is chosen at build time with GRIDMORPH_FUZZ_EXTENSION.
#include <cstring>

#include "FuzzSupport.h"
#include "image/DIBImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    using namespace gridmorph;
    fuzz::QuietPlatform();
    static const std::string s_strPath = fuzz::ScratchPath(GRIDMORPH_FUZZ_EXTENSION);
    fuzz::WriteScratch(s_strPath, pData, nSize);
    CDIBImage image;
    if (image.OpenDIB(s_strPath)) {
        // Touch what an opened picture offers: every byte of its storage and its table.
        unsigned nSum = 0;
        for (int nRow = 0; nRow < image.m_nImageHeight; ++nRow)
            nSum += image.StorageRow(nRow)[image.m_nStride - 1];
        nSum += image.m_pRGBQuad[255].rgbRed;
        asm volatile("" : : "r"(nSum));  // keep the reads
        // And copy it as the document would, to full colour (small pictures only, to keep
        // the run fast).
        if (static_cast<long long>(image.m_nImageWidth) * image.m_nImageHeight <= 1 << 20) {
            CDIBImage copy;
            copy.CreateImage(24, &image, true, false, true, false, false);
        }
    }
    return 0;
}
