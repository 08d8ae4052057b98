// GIF files through giflib. The first frame is read into an 8-bit picture the size of
// the logical screen; files are written from 8-bit pictures only, as GIF89a.
#include <fcntl.h>
#include <sys/stat.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/codecs/CodecCommon.h"
#include "image/codecs/ImageCodec.h"
#include "io/SafeFileWriter.h"

namespace gridmorph {
namespace {

// The pixels a GIF's logical screen may have beyond its first frame without data to fill
// them, and the most pixels a byte of LZW data can stand for (see Decode).
constexpr std::uint64_t kGifSkippedPixels = std::uint64_t(1) << 24;
constexpr double kGifPixelsPerByte = 4096.0 * 8.0 / 12.0;

class CGifCodec final : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Gif; }
    SCodecStatus Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const override;
    SCodecStatus Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                        const SEncodeOptions& options) const override;
};

std::string GifError(const char* pWhat, int nError)
{
    const char* pText = GifErrorString(nError);
    return std::string("GIF: ") + pWhat + (pText ? std::string(": ") + pText : std::string()) + ".";
}

struct SGifReader {
    GifFileType* pGif = nullptr;
    ~SGifReader()
    {
        if (pGif)
            DGifCloseFile(pGif, nullptr);
    }
};

SCodecStatus CGifCodec::Decode(const std::string& strPath, std::unique_ptr<CDIBSection>& pPicture) const
{
    int nError = 0;
    SGifReader reader;
    reader.pGif = DGifOpenFileName(strPath.c_str(), &nError);
    if (!reader.pGif)
        return SCodecStatus::Fail(nError == D_GIF_ERR_OPEN_FAILED ? codec_result::kCannotOpen : codec_result::kCorrupt,
                                  GifError("the file cannot be read", nError));
    GifFileType* pGif = reader.pGif;

    std::vector<GifPixelType> aLine;
    while (true) {
        GifRecordType eRecord = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(pGif, &eRecord) == GIF_ERROR)
            return SCodecStatus::Fail(codec_result::kCorrupt, GifError("the file is damaged", pGif->Error));
        if (eRecord == TERMINATE_RECORD_TYPE)
            return SCodecStatus::Fail(codec_result::kCorrupt, "GIF: the file holds no picture.");
        if (eRecord == EXTENSION_RECORD_TYPE) {
            int nCode = 0;
            GifByteType* pExtension = nullptr;
            if (DGifGetExtension(pGif, &nCode, &pExtension) == GIF_ERROR)
                return SCodecStatus::Fail(codec_result::kCorrupt, GifError("an extension is damaged", pGif->Error));
            while (pExtension)
                if (DGifGetExtensionNext(pGif, &pExtension) == GIF_ERROR)
                    return SCodecStatus::Fail(codec_result::kCorrupt, GifError("an extension is damaged", pGif->Error));
            continue;
        }
        if (eRecord != IMAGE_DESC_RECORD_TYPE)
            continue;

        if (DGifGetImageDesc(pGif) == GIF_ERROR)
            return SCodecStatus::Fail(codec_result::kCorrupt, GifError("the image header is damaged", pGif->Error));
        const GifImageDesc& frame = pGif->Image;
        const ColorMapObject* pMap = frame.ColorMap ? frame.ColorMap : pGif->SColorMap;
        if (!pMap || pMap->ColorCount < 1 || pMap->ColorCount > 256)
            return SCodecStatus::Fail(codec_result::kCorrupt, "GIF: the picture has no colour table.");
        if (frame.Width < 1 || frame.Height < 1)
            return SCodecStatus::Fail(codec_result::kCorrupt, "GIF: the picture declares a size of " +
                                                                  std::to_string(frame.Width) + " x " +
                                                                  std::to_string(frame.Height) + " pixels.");
        // The logical screen is the picture; a screen of no size takes the frame's.
        const int nWidth = pGif->SWidth > 0 ? pGif->SWidth : frame.Left + frame.Width;
        const int nHeight = pGif->SHeight > 0 ? pGif->SHeight : frame.Top + frame.Height;
        // A GIF's LZW codes are at most 12 bits and each stands for at most 4096 pixels, so
        // a byte of the file holds at most 2731 of the frame's pixels. The screen around a
        // frame is background that other frames may fill; beyond kGifSkippedPixels it too
        // must be within what the file could hold. Checked before the picture is made.
        struct stat info {};
        const std::uint64_t nFileBytes = stat(strPath.c_str(), &info) == 0 ? std::uint64_t(info.st_size) : 0;
        const bool bLargeScreen = std::uint64_t(nWidth) * std::uint64_t(nHeight) > kGifSkippedPixels;
        if (SCodecStatus status = CheckDataCanHoldPicture("GIF", bLargeScreen ? nWidth : frame.Width,
                                                          bLargeScreen ? nHeight : frame.Height, 8, nFileBytes,
                                                          kGifPixelsPerByte);
            status.Failed())
            return status;
        if (SCodecStatus status = CreateDecodedPicture(nWidth, nHeight, 8, pPicture); status.Failed())
            return status;
        CDIBSection& picture = *pPicture;
        std::vector<SRGBQuad> aTable(static_cast<std::size_t>(pMap->ColorCount));
        for (int i = 0; i < pMap->ColorCount; ++i)
            aTable[static_cast<std::size_t>(i)] =
                SRGBQuad{pMap->Colors[i].Blue, pMap->Colors[i].Green, pMap->Colors[i].Red, 0};
        picture.SetColourTable(0, pMap->ColorCount, aTable.data());
        const int nBackground = pGif->SBackGroundColor < pMap->ColorCount ? pGif->SBackGroundColor : 0;
        std::memset(picture.LowestRow(), nBackground, picture.StorageBytes());

        // Rows in file order; interlaced files send every 8th row, then the 4th, 2nd, 1st.
        std::vector<int> aRowOrder(static_cast<std::size_t>(frame.Height));
        if (frame.Interlace) {
            static constexpr int aStart[] = {0, 4, 2, 1};
            static constexpr int aStep[] = {8, 8, 4, 2};
            std::size_t n = 0;
            for (int nPass = 0; nPass < 4; ++nPass)
                for (int y = aStart[nPass]; y < frame.Height; y += aStep[nPass])
                    aRowOrder[n++] = y;
        } else {
            for (int y = 0; y < frame.Height; ++y)
                aRowOrder[static_cast<std::size_t>(y)] = y;
        }
        aLine.resize(static_cast<std::size_t>(frame.Width));
        const int nFirstColumn = std::clamp(frame.Left, 0, nWidth);
        const int nEndColumn = std::clamp(frame.Left + frame.Width, 0, nWidth);
        int nLargestIndex = 0;
        for (int nFrameRow : aRowOrder) {
            if (DGifGetLine(pGif, aLine.data(), frame.Width) == GIF_ERROR) {
                pPicture.reset();
                return SCodecStatus::Fail(pGif->Error == D_GIF_ERR_READ_FAILED ? codec_result::kTruncated
                                                                              : codec_result::kCorrupt,
                                          GifError("the pixel data is damaged", pGif->Error));
            }
            for (GifPixelType nIndex : aLine)
                nLargestIndex = std::max<int>(nLargestIndex, nIndex);
            const int y = frame.Top + nFrameRow;
            if (y < 0 || y >= nHeight || nFirstColumn >= nEndColumn)
                continue;  // the part of a frame outside the screen is not shown
            std::memcpy(picture.PictureRow(y) + nFirstColumn, aLine.data() + (nFirstColumn - frame.Left),
                        static_cast<std::size_t>(nEndColumn - nFirstColumn));
        }
        if (nLargestIndex >= pMap->ColorCount) {
            pPicture.reset();
            return SCodecStatus::Fail(codec_result::kCorrupt, "A pixel uses colour " + std::to_string(nLargestIndex) +
                                                                  ", past the colour table of " +
                                                                  std::to_string(pMap->ColorCount) + " entries.");
        }
        return SCodecStatus::Ok();
    }
}

SCodecStatus CGifCodec::Encode(const CDIBSection& picture, CSafeFileWriter& writer,
                              const SEncodeOptions&) const
{
    if (picture.BitCount() != 8)
        return SCodecStatus::Fail(codec_result::kUnsupported, "GIF files are written from 8-bit pictures only.");
    if (picture.Width() > 0xFFFF || picture.Height() > 0xFFFF)
        return SCodecStatus::Fail(codec_result::kUnsupported, "GIF pictures are at most 65535 pixels wide and high.");
    // giflib's own file creation would use mode 0600; the writer's file has the right mode.
    const int nFd = writer.DuplicateDescriptor();
    int nError = 0;
    GifFileType* pGif = nFd >= 0 ? EGifOpenFileHandle(nFd, &nError) : nullptr;
    if (!pGif) {
        if (nFd >= 0)
            close(nFd);
        return SCodecStatus::Fail(codec_result::kWriteFailed, GifError("cannot start writing", nError));
    }
    EGifSetGifVersion(pGif, true);

    GifColorType aColours[256];
    const SRGBQuad* pTable = picture.ColourTable();
    for (int i = 0; i < 256; ++i)
        aColours[i] = GifColorType{pTable[i].rgbRed, pTable[i].rgbGreen, pTable[i].rgbBlue};
    ColorMapObject* pMap = GifMakeMapObject(256, aColours);
    bool bGood = pMap && EGifPutScreenDesc(pGif, picture.Width(), picture.Height(), 8, 0, pMap) != GIF_ERROR &&
                 EGifPutImageDesc(pGif, 0, 0, picture.Width(), picture.Height(), false, nullptr) != GIF_ERROR;
    std::vector<GifPixelType> aRow(static_cast<std::size_t>(picture.Width()));
    for (int y = 0; bGood && y < picture.Height(); ++y) {
        std::memcpy(aRow.data(), picture.PictureRow(y), aRow.size());
        bGood = EGifPutLine(pGif, aRow.data(), picture.Width()) != GIF_ERROR;
    }
    nError = pGif->Error;
    int nCloseError = 0;
    bGood = (EGifCloseFile(pGif, &nCloseError) != GIF_ERROR) && bGood;
    GifFreeMapObject(pMap);
    if (!bGood)
        return SCodecStatus::Fail(codec_result::kWriteFailed, GifError("writing failed", nError ? nError : nCloseError));
    return SCodecStatus::Ok();
}

}  // namespace

const CImageCodec& GetGifCodec()
{
    static const CGifCodec s_codec;
    return s_codec;
}

}  // namespace gridmorph
