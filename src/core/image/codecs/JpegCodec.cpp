// JPEG files through libjpeg-turbo. Full-colour rows are decoded as blue, green, red
// straight into the picture's storage and encoded from it without a copy.
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/ImageCodec.h"
#include "io/SafeFileWriter.h"

namespace gridmorph {
namespace {

// libjpeg's own handler calls exit(); ours jumps back to the adapter.
struct SJpegError {
    jpeg_error_mgr manager{};
    std::jmp_buf jumpBuffer{};
    char szMessage[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void OnJpegError(j_common_ptr pInfo)
{
    auto* pError = reinterpret_cast<SJpegError*>(pInfo->err);
    (*pInfo->err->format_message)(pInfo, pError->szMessage);
    std::longjmp(pError->jumpBuffer, 1);
}

void OnJpegMessage(j_common_ptr pInfo, int nLevel)
{
    // A file that ends early is damaged, not merely odd: libjpeg would pad it with grey.
    if (nLevel < 0 && pInfo->err->msg_code == JWRN_JPEG_EOF)
        OnJpegError(pInfo);
}

struct SJpegDecompress {
    jpeg_decompress_struct info{};
    bool bCreated = false;
    ~SJpegDecompress()
    {
        if (bCreated)
            jpeg_destroy_decompress(&info);
    }
};
struct SJpegCompress {
    jpeg_compress_struct info{};
    bool bCreated = false;
    ~SJpegCompress()
    {
        if (bCreated)
            jpeg_destroy_compress(&info);
    }
};

class CJpegCodec final : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Jpeg; }
    SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const override;
    SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                        const SEncodeOptions& options) const override;
};

SCodecStatus CJpegCodec::Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const
{
    CInputFile file;
    if (SCodecStatus status = file.Open(strPath); status.Failed())
        return status;

    SJpegError error;
    SJpegDecompress decompress;
    std::vector<std::uint8_t> aCmykRow;
    jpeg_decompress_struct& info = decompress.info;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    error.manager.emit_message = OnJpegMessage;
    if (setjmp(error.jumpBuffer)) {
        pPicture.reset();
        // libjpeg stops on damage it finds (no SOS marker, data cut short); its reason follows.
        return SCodecStatus::Fail(codec_result::kCorrupt, std::string("JPEG: the file is damaged: ") + error.szMessage + ".");
    }
    jpeg_create_decompress(&info);
    decompress.bCreated = true;
    jpeg_stdio_src(&info, file.Stream());
    jpeg_read_header(&info, TRUE);

    const bool bGrey = info.jpeg_color_space == JCS_GRAYSCALE;
    const bool bCmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = bGrey ? JCS_GRAYSCALE : (bCmyk ? JCS_CMYK : JCS_EXT_BGR);
    jpeg_calc_output_dimensions(&info);
    if (!info.arith_code) {
        // Huffman-coded data spends at least one bit on every 8 x 8 block of every
        // component: a file with fewer bits than one component has blocks cannot hold
        // the picture it declares.
        std::uint64_t nFewestBlocks = UINT64_MAX;
        for (int i = 0; i < info.num_components; ++i) {
            const jpeg_component_info& component = info.comp_info[i];
            const std::uint64_t nWide = (std::uint64_t(info.image_width) * component.h_samp_factor +
                                         info.max_h_samp_factor * 8 - 1) / (info.max_h_samp_factor * 8);
            const std::uint64_t nHigh = (std::uint64_t(info.image_height) * component.v_samp_factor +
                                         info.max_v_samp_factor * 8 - 1) / (info.max_v_samp_factor * 8);
            nFewestBlocks = std::min(nFewestBlocks, nWide * nHigh);
        }
        // Checked before the picture is made (a picture larger than memory is that
        // failure first).
        if (info.num_components > 0 && file.Size() * 8 < nFewestBlocks &&
            CDIBSection::WithinMemoryLimit(static_cast<int>(std::min<JDIMENSION>(info.output_width, 0x7FFFFFFF)),
                                           static_cast<int>(std::min<JDIMENSION>(info.output_height, 0x7FFFFFFF)),
                                           bGrey ? 8 : 24)) {
            return SCodecStatus::Fail(codec_result::kCorrupt,
                                      "JPEG: the file's " + std::to_string(file.Size()) + " bytes cannot hold the " +
                                          std::to_string(info.image_width) + " x " + std::to_string(info.image_height) +
                                          " picture it declares (damaged or cut short).");
        }
    }
    {
        // Made before decompression starts, which for a progressive file allocates
        // buffers of its own: an oversized file fails here first.
        SCodecStatus status = CreateDecodedPicture(static_cast<int>(info.output_width),
                                                   static_cast<int>(info.output_height), bGrey ? 8 : 24, pPicture);
        if (status.Failed())
            return status;
    }
    if (bGrey)
        SetGreyRamp(*pPicture);
    jpeg_start_decompress(&info);

    if (bCmyk)
        aCmykRow.resize(static_cast<std::size_t>(info.output_width) * 4);
    // Adobe writes CMYK inverted (0 means full ink); others write it plainly.
    const bool bInverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW pRow = bCmyk ? aCmykRow.data() : pPicture->PictureRow(y);
        jpeg_read_scanlines(&info, &pRow, 1);
        if (bCmyk) {
            std::uint8_t* pTarget = pPicture->PictureRow(y);
            const std::uint8_t* pSource = aCmykRow.data();
            for (JDIMENSION x = 0; x < info.output_width; ++x, pSource += 4, pTarget += 3) {
                const int nCyan = bInverted ? pSource[0] : 255 - pSource[0];
                const int nMagenta = bInverted ? pSource[1] : 255 - pSource[1];
                const int nYellow = bInverted ? pSource[2] : 255 - pSource[2];
                const int nBlack = bInverted ? pSource[3] : 255 - pSource[3];
                // With inverted values, each channel is the light left after ink and black.
                pTarget[0] = static_cast<std::uint8_t>((nYellow * nBlack + 127) / 255);
                pTarget[1] = static_cast<std::uint8_t>((nMagenta * nBlack + 127) / 255);
                pTarget[2] = static_cast<std::uint8_t>((nCyan * nBlack + 127) / 255);
            }
        }
    }
    jpeg_finish_decompress(&info);
    return SCodecStatus::Ok();
}

SCodecStatus CJpegCodec::Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                              const SEncodeOptions& options) const
{
    if (picture.BitCount() != 24)
        return SCodecStatus::Fail(codec_result::kUnsupported, "JPEG files are written from 24-bit pictures only.");
    SJpegError error;
    SJpegCompress compress;
    jpeg_compress_struct& info = compress.info;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    if (setjmp(error.jumpBuffer))
        return SCodecStatus::Fail(codec_result::kWriteFailed, std::string("JPEG: ") + error.szMessage);
    jpeg_create_compress(&info);
    compress.bCreated = true;
    jpeg_stdio_dest(&info, writer.File());
    info.image_width = static_cast<JDIMENSION>(picture.Width());
    info.image_height = static_cast<JDIMENSION>(picture.Height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.nJpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // next_scanline is unsigned; the row is found from the top through PictureRow.
        JSAMPROW pRow = const_cast<JSAMPROW>(picture.PictureRow(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &pRow, 1);
    }
    jpeg_finish_compress(&info);
    return SCodecStatus::Ok();
}

}  // namespace

const CImageCodec& GetJpegCodec()
{
    static const CJpegCodec s_codec;
    return s_codec;
}

}  // namespace gridmorph
