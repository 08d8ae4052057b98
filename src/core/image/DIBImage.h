#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "errors/SilentResult.h"
#include "image/ColourTypes.h"
#include "image/DIBSection.h"
#include "image/Palette.h"
#include "image/codecs/ImageCodec.h"
#include "platform/Platform.h"

namespace gridmorph {

class CSafeFileWriter;

// File type codes of image files.
enum EFileType : int {
    FILE_TYPE_NONE = 0,
    FILE_TYPE_BMP = 1,
    FILE_TYPE_JPEG = 2,
    FILE_TYPE_GIF = 3,
    FILE_TYPE_TIFF = 4,
    FILE_TYPE_PNG = 5,
};

// Fill modes of FillImage.
enum EFillMode : int { FILL_NONE = -1, FILL_BLACK = 0, FILL_WHITE = 1, FILL_COLOUR = 2 };

// What a save did, for callers that must not take a save for done when no file was
// written (an unsaved-changes flag, an exit status).
//   Written: the file is complete on disc under its name.
//   Refused: the file type does not take the picture's colour depth (GIF needs 8 bits,
//            JPEG 24); nothing was written; the error number is ERR_SAVE_REFUSED.
//   Failed:  the file could not be written (an empty name, the encoder, the disc); what
//            was on disc before is unchanged; the error number says why.
enum class ESaveResult { Written, Refused, Failed };

// Storage orders recorded in m_nOrientation.
enum EOrientation : int { ORIENTATION_TOP_DOWN = 1, ORIENTATION_BOTTOM_UP = 2 };

// The in-memory raster picture: a device-independent bitmap of 8, 24 or 32 bits per
// pixel (a loaded file may bring 1, 4 or 16) with a 256-entry colour table, palette
// entries and a logical palette holding the same colours, cached geometry, and an error
// state that every operation reports into.
//
// Storage is bottom-up: storage row r starts at m_pImageBits + r * m_nStride and row 0 is
// the bottom (south) row. 24-bit pixels are blue, green, red; 32-bit pixels blue, green,
// red and a fourth byte that this program always writes as 255; 8-bit pixels index the
// colour table.
class CDIBImage {
public:
    CDIBImage();
    virtual ~CDIBImage();
    CDIBImage(const CDIBImage&) = delete;
    CDIBImage& operator=(const CDIBImage&) = delete;

    virtual void DestroyImage(bool bKeepError);
    // Opens a picture file, telling a failure in a warning box; false on failure.
    virtual bool OpenDIB(const std::string& strFileName);
    // OpenDIB without any message box: the outcome holds the error and the boxes.
    SSilentResult OpenDIBSilent(const std::string& strFileName);
    // Runs work on this picture with the message boxes it raises kept in the outcome
    // instead of shown; the outcome's error is the picture's error state afterwards.
    SSilentResult RunSilently(const std::function<void()>& fnWork);
    virtual bool CreateImage(int nBPP, int nWidth, int nHeight, int nFill, int nRed, int nGreen, int nBlue,
                             const SRGBQuad* pColours);
    virtual bool CreateImage(int nBPP, CDIBImage* pBasedOn, bool bCopyBits, bool bCopyWorld, bool bCopyColours,
                             bool bPopularColours, bool bShowProgress);
    virtual bool CreateImage(CDIBImage* pBasedOn, int nWidth, int nHeight, int nBPP);
    virtual void CloseImage();
    // Saves the picture in the format its name's extension selects, telling the user of
    // a name without a known extension (saved as name + ".PNG"), a refused depth or a
    // failure in message boxes. An error that was pending before the call stays. The
    // options are the encoders' settings for this save (the defaults when none are given).
    virtual ESaveResult SaveDIB(const std::string& strFileName, const SEncodeOptions& options = SEncodeOptions());
    virtual void InitMembers();

    void FillImage(int nFill, int nRed, int nGreen, int nBlue);
    void UpdateImageInfo();
    void UpdateImageRGBQuad(const SRGBQuad* pColours, bool bFromImage);
    void UpdateImageBitmapInfo();
    void UpdatePalette();
    void CreatePaletteFromEntries();
    static void SetDefaultRGBQuad(SRGBQuad* pColours);
    int GetDIBColours(int nFirst, int nCount, SRGBQuad* pColours);
    int SetDIBColours(int nFirst, int nCount, const SRGBQuad* pColours);

    // The memory "device context": the bitmap made available for block transfers,
    // reference counted. Returns null when there is no picture.
    CDIBSection* GetImageDC();
    void ReleaseImageDC(bool bForce);

    // Copies (or with SRCAND, ANDs) a rectangle of this picture into the target, clipped
    // to both pictures. Positions count columns from the left and rows from the top.
    // Pictures of other depths are converted colour by colour. False when either picture
    // is empty or the raster operation is not a copy or an AND.
    bool BitBlt(CDIBImage& target, int nTargetX, int nTargetY, int nSourceX, int nSourceY, int nWidth, int nHeight,
                std::uint32_t nRop);

    // Colour depth and grey conversion.
    static void SetUniformRGBQuad(SRGBQuad* pColours);
    void BuildPopularRGBQuad(SRGBQuad* pColours);
    int FindPopularIndex(std::uint8_t nRed, std::uint8_t nGreen, std::uint8_t nBlue) const;
    void ConvertToGreyScale();

    // Files (DIBImageFiles.cpp).
    // SaveDIB without any message box: the result and the error state say what happened.
    ESaveResult SaveDIBSilent(const std::string& strFileName, const SEncodeOptions& options = SEncodeOptions());
    // The message a refused save shows ("GIF file format must be 8-bit, ..."), or "" when
    // the file type takes pictures of that depth.
    static std::string DepthRefusalText(int nFileType, int nBitCount);
    std::string GetErrorMessage() const;
    void BuildImageFilters();
    std::string GetImportFilter();
    // The open dialogs' filter list from the decoders there are; when it cannot be made
    // (no decoders), the reason in a warning box and nothing.
    static std::optional<std::string> ImportFilterOrWarn();
    std::string GetExportFilter();
    // strSuggestedName: a name for the name box, without extension (the chosen type's is
    // added), or empty.
    std::string SaveFileDialog(int& nFilterIndex, const char* pInitialFolder,
                               const SFileDialogAccessory* pAccessory = nullptr,
                               const std::string& strSuggestedName = std::string());
    static int GetFileType(const std::string& strFileName);
    static std::string GetFileTypeExtension(int nFileType);
    // The extension of a name: from the last "." of its final path component, or empty.
    static std::string PathFindExtension(const std::string& strFileName);

    bool HasImage() const { return m_pBitmap != nullptr; }
    // The pixels handed out for a while and taken back (the view's undo keeps old pictures
    // in a file): everything else about the picture (size, colours, place) stays, and
    // HasImage() is false in between. RestorePixels takes only a bitmap of the picture's
    // own size and depth; false (and nothing changed) for any other.
    std::unique_ptr<CDIBSection> TakePixels();
    bool RestorePixels(std::unique_ptr<CDIBSection> pPixels);
    const CDIBSection* Bitmap() const { return m_pBitmap.get(); }
    CDIBSection* MutableBitmap() { return m_pBitmap.get(); }

    // Storage row r (0 is the bottom row of the picture).
    std::uint8_t* StorageRow(int nRow) { return m_pImageBits + static_cast<std::size_t>(nRow) * m_nStride; }
    const std::uint8_t* StorageRow(int nRow) const
    {
        return m_pImageBits + static_cast<std::size_t>(nRow) * m_nStride;
    }

    // Fields, in the order the picture has always had them.
    int m_nDCRefCount = 0;
    CDIBSection* m_hImageDC = nullptr;
    int m_nFileType = FILE_TYPE_NONE;
    int m_nFilterIndex = 1;
    int m_nFilterTypes = 0;
    std::array<int, 33> m_aFilterType{};
    std::array<int, 33> m_aCodecFound{};
    bool m_bFiltersBuilt = false;
    std::string m_strImportFilter;
    std::string m_strExportFilter;
    int m_nOrientation = ORIENTATION_BOTTOM_UP;
    std::uint8_t* m_pImageBits = nullptr;  // not owned: the bitmap owns the pixels
    std::unique_ptr<std::uint8_t[]> m_pBitmapInfo;  // BITMAPINFOHEADER followed by the colour table
    int m_nErrorNumber = 0;
    std::string m_strErrorText;
    std::string m_strFileName;
    std::unique_ptr<SRGBQuad[]> m_pRGBQuad;
    std::unique_ptr<SPaletteEntry[]> m_pPaletteEntry;
    int m_nColours = 0;
    std::unique_ptr<CPalette> m_pPalette;
    int m_nGreyWeightRed = 76;
    int m_nGreyWeightGreen = 150;
    int m_nGreyWeightBlue = 29;
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
    int m_nBitCount = 0;
    int m_nStride = 0;

protected:
    // The message boxes around a silent save: the default-PNG notice before it, the
    // refusal or failure after it. ReportSave returns the result it was given.
    void AnnounceSave(const std::string& strFileName);
    ESaveResult ReportSave(const std::string& strFileName, ESaveResult eResult);
    // The first half of a silent save: checks the name and the depth and encodes the
    // picture into pWriter's temporary file (name + ".PNG" for a name without a known
    // type). Written means ready for the caller to commit; otherwise pWriter is empty
    // and the error state says why.
    ESaveResult PrepareSave(const std::string& strFileName, const SEncodeOptions& options,
                            std::unique_ptr<CSafeFileWriter>& pWriter);
    // Records that committing the picture to strPath failed (15404); returns Failed.
    ESaveResult RecordSaveFailure(const std::string& strPath, const std::string& strReason);
    // Takes over a bitmap decoded from a file (the codecs build it).
    void AttachBitmap(std::unique_ptr<CDIBSection> pBitmap) { m_pBitmap = std::move(pBitmap); }
    // Records a creation failure (system code nCode) with its message box.
    void ReportCreationFailure(int nCode, int nWidth, int nHeight, int nBPP);
    // Raises a message box of this picture's work, or keeps it when the work runs
    // silently (RunSilently).
    void Notify(const std::string& strText, EMessageKind eKind = EMessageKind::Warning);
    // Raises the boxes of an outcome through Notify, in order.
    void NotifyAll(const SSilentResult& outcome);
    // The body of OpenDIB, its boxes raised through Notify.
    void ReadPictureFile(const std::string& strFileName);

private:
    void CopyBitsFrom(const CDIBImage& basedOn, bool bShowProgress);
    void ConvertRGBToPalette(const CDIBImage& basedOn, bool bShowProgress);

    std::unique_ptr<CDIBSection> m_pBitmap;  // the platform bitmap: owns the pixels
    std::vector<SNotice>* m_pNotices = nullptr;  // where Notify keeps boxes, when silent
};

// Size of the BITMAPINFOHEADER at the start of m_pBitmapInfo.
inline constexpr int kBitmapInfoHeaderSize = 40;

}  // namespace gridmorph
