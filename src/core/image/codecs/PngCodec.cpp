// PNG files: read through libpng, rows decoded straight into the picture's storage;
// written by PngWriter on all threads.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/ImageCodec.h"
#include "image/codecs/PngWriter.h"
#include "io/SafeFileWriter.h"
#include "parallel/Threads.h"

namespace gridmorph {
namespace {

struct SPngContext {
    std::string strError;
    std::int32_t nFailure = codec_result::kCorrupt;
};

[[noreturn]] void OnPngError(png_structp pPng, png_const_charp pMessage)
{
    auto* pContext = static_cast<SPngContext*>(png_get_error_ptr(pPng));
    if (pContext->strError.empty())
        pContext->strError = pMessage;
    png_longjmp(pPng, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Owns libpng's read structures.
struct SPngRead {
    png_structp pPng = nullptr;
    png_infop pInfo = nullptr;
    ~SPngRead() { png_destroy_read_struct(&pPng, &pInfo, nullptr); }
};

// What the file holds and how it becomes a picture.
struct SPngLayout {
    int nPictureBits = 0;
    bool bGrey = false;
    int nPaletteEntries = 0;
    int nTransparentIndex = -1;  // the first palette entry a tRNS chunk makes transparent
};

class CPngCodec final : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Png; }
    SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const override;
    SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                        const SEncodeOptions& options) const override;
};

// Sets up the transformations and says what the picture will be. Runs under the
// caller's setjmp.
SPngLayout ChooseLayout(png_structp pPng, png_infop pInfo)
{
    SPngLayout layout;
    const int nColourType = png_get_color_type(pPng, pInfo);
    const int nBitDepth = png_get_bit_depth(pPng, pInfo);
    const bool bTransparency = png_get_valid(pPng, pInfo, PNG_INFO_tRNS) != 0;

    if (nBitDepth == 16)
        png_set_strip_16(pPng);  // keep the high byte of each sample
    if (png_get_interlace_type(pPng, pInfo) != PNG_INTERLACE_NONE)
        png_set_interlace_handling(pPng);

    if (nColourType == PNG_COLOR_TYPE_PALETTE) {
        // Indexed stays indexed: a tRNS chunk's transparency is dropped, as a GIF's
        // transparent colour is, and the colour table is kept.
        png_colorp pPalette = nullptr;
        png_get_PLTE(pPng, pInfo, &pPalette, &layout.nPaletteEntries);
        // The transparent entry is kept as the picture's no-data index.
        png_bytep pAlpha = nullptr;
        int nAlphaEntries = 0;
        if (bTransparency && png_get_tRNS(pPng, pInfo, &pAlpha, &nAlphaEntries, nullptr) != 0 && pAlpha)
            for (int i = 0; i < nAlphaEntries && layout.nTransparentIndex < 0; ++i)
                if (pAlpha[i] == 0)
                    layout.nTransparentIndex = i;
        // 1-, 4- and 8-bit rows are DIB rows already; 2-bit ones are widened to bytes.
        layout.nPictureBits = nBitDepth == 2 ? 8 : nBitDepth;
        if (nBitDepth == 2)
            png_set_packing(pPng);
        return layout;
    }
    if ((nColourType == PNG_COLOR_TYPE_GRAY) && !bTransparency) {
        if (nBitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(pPng);
        layout.nPictureBits = 8;
        layout.bGrey = true;
        return layout;
    }
    if (nColourType == PNG_COLOR_TYPE_RGB && !bTransparency) {
        png_set_bgr(pPng);
        layout.nPictureBits = 24;
        return layout;
    }
    // Everything with alpha, or with a transparent colour, becomes blue, green, red, alpha.
    png_set_expand(pPng);
    if (nColourType == PNG_COLOR_TYPE_GRAY || nColourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(pPng);
    if (!(nColourType & PNG_COLOR_MASK_ALPHA) && !bTransparency)
        png_set_filler(pPng, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(pPng);
    layout.nPictureBits = 32;
    return layout;
}

SCodecStatus CPngCodec::Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const
{
    CInputFile file;
    if (SCodecStatus status = file.Open(strPath); status.Failed())
        return status;
    std::uint8_t aSignature[8];
    if (!file.ReadAt(0, aSignature, sizeof aSignature) || png_sig_cmp(aSignature, 0, sizeof aSignature) != 0)
        return SCodecStatus::Fail(codec_result::kCorrupt, "The file is not a PNG picture (no PNG signature).");

    SPngContext context;
    SPngRead read;
    std::vector<png_bytep> aRows;
    SPngLayout layout;
    read.pPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnPngError, OnPngWarning);
    if (!read.pPng || !(read.pInfo = png_create_info_struct(read.pPng)))
        return SCodecStatus::Fail(codec_result::kOutOfMemory, "libpng could not start.");

    if (setjmp(png_jmpbuf(read.pPng))) {
        pPicture.reset();
        // libpng stops on damage it finds (a missing PLTE chunk, a bad CRC, data cut
        // short); its reason follows.
        return SCodecStatus::Fail(context.nFailure, "PNG: the file is damaged: " + context.strError + ".");
    }
    png_init_io(read.pPng, file.Stream());
    png_read_info(read.pPng, read.pInfo);
    const png_uint_32 nWidth = png_get_image_width(read.pPng, read.pInfo);
    const png_uint_32 nHeight = png_get_image_height(read.pPng, read.pInfo);
    // Deflate packs at most 1032 bytes into one: a file far smaller than its rows (each
    // with its filter byte) divided by that cannot hold the picture it declares.
    const std::uint64_t nDeclaredBytes =
        ((std::uint64_t(nWidth) * png_get_bit_depth(read.pPng, read.pInfo) * png_get_channels(read.pPng, read.pInfo) + 7) / 8 +
         1) * nHeight;
    layout = ChooseLayout(read.pPng, read.pInfo);
    png_read_update_info(read.pPng, read.pInfo);

    // Checked before the picture is made (a picture larger than memory is that failure
    // first), so a file that cannot hold its rows costs no allocation.
    if (CDIBSection::WithinMemoryLimit(static_cast<int>(std::min<png_uint_32>(nWidth, 0x7FFFFFFF)),
                                       static_cast<int>(std::min<png_uint_32>(nHeight, 0x7FFFFFFF)),
                                       layout.nPictureBits) &&
        file.Size() * 1032 < nDeclaredBytes)
        return SCodecStatus::Fail(codec_result::kCorrupt, "PNG: the file's " + std::to_string(file.Size()) +
                                                              " bytes cannot hold the " + std::to_string(nWidth) + " x " +
                                                              std::to_string(nHeight) +
                                                              " picture it declares (damaged or cut short).");
    {
        // The picture is made before any pixel is decoded: a bomb fails here, at once.
        SCodecStatus status = CreateDecodedPicture(static_cast<int>(nWidth), static_cast<int>(nHeight),
                                                   layout.nPictureBits, pPicture);
        if (status.Failed())
            return status;
    }
    if (png_get_rowbytes(read.pPng, read.pInfo) > static_cast<std::size_t>(pPicture->Stride())) {
        pPicture.reset();
        return SCodecStatus::Fail(codec_result::kCorrupt, "PNG rows are longer than the picture's rows.");
    }
    if (layout.bGrey)
        SetGreyRamp(*pPicture);
    if (layout.nPictureBits == 32) {  // the alpha channel says where there is no data
        pPicture->m_noData.bSet = true;
        pPicture->m_noData.bTransparent = true;
    }
    if (layout.nTransparentIndex >= 0) {
        pPicture->m_noData.bSet = true;
        pPicture->m_noData.bTransparent = true;
        pPicture->m_noData.nIndex = layout.nTransparentIndex;
    }
    if (layout.nPaletteEntries > 0) {
        png_colorp pPalette = nullptr;
        int nEntries = 0;
        png_get_PLTE(read.pPng, read.pInfo, &pPalette, &nEntries);
        std::vector<SRGBQuad> aTable(static_cast<std::size_t>(nEntries));
        for (int i = 0; i < nEntries; ++i)
            aTable[static_cast<std::size_t>(i)] = SRGBQuad{pPalette[i].blue, pPalette[i].green, pPalette[i].red, 0};
        pPicture->SetColourTable(0, nEntries, aTable.data());
    }

    aRows.resize(nHeight);
    for (png_uint_32 y = 0; y < nHeight; ++y)
        aRows[y] = pPicture->PictureRow(static_cast<int>(y));
    context.nFailure = codec_result::kCorrupt;
    png_read_image(read.pPng, aRows.data());

    if (layout.nPaletteEntries > 0) {
        if (SCodecStatus status = CheckPaletteIndices(*pPicture, layout.nPaletteEntries); status.Failed()) {
            pPicture.reset();
            return status;
        }
    }
    return SCodecStatus::Ok();
}

SCodecStatus CPngCodec::Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                              const SEncodeOptions& options) const
{
    return WritePngFile(picture, writer.File(), options, GetThreadCount());
}

}  // namespace

const CImageCodec& GetPngCodec()
{
    static const CPngCodec s_codec;
    return s_codec;
}

}  // namespace gridmorph
