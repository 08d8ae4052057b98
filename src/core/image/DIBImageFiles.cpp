// The file side of CDIBImage: file types, the dialogs' filter lists, open, save and
// the error message.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "image/codecs/CodecRegistry.h"
#include "io/SafeFileWriter.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kProfileSection = "IMAGELOAD";
constexpr const char* kProfileFilter = "Filter";

std::string ToUpper(std::string strText)
{
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return strText;
}

std::string ResultDetail(const SCodecStatus& status)
{
    char szCode[32];
    std::snprintf(szCode, sizeof szCode, "%x", static_cast<unsigned>(status.nResult));
    return std::string("\nResult:") + szCode + " - " + status.strText;
}

std::string DefaultPngNotice(const std::string& strFileName)
{
    return "\nSpecification error in file name:\n" + strFileName + "\n\n" +
           "The qualifier/type is not specified - default PNG will be used.";
}

std::string CurrentFolder()
{
    std::vector<char> aBuffer(4096);
    return getcwd(aBuffer.data(), aBuffer.size()) ? std::string(aBuffer.data()) : std::string();
}

// The filter pieces of each type: save list, open list entry, "All Image Files" patterns.
struct SFilterPieces {
    int nFileType;
    const char* pSave;
    const char* pOpen;
    const char* pAllPatterns;
};
constexpr SFilterPieces s_aFilterPieces[] = {
    {FILE_TYPE_BMP, "Windows Bitmap (*.BMP)|*.BMP|", "Windows Bitmap (*.BMP)|*.BMP|", "*.BMP"},
    {FILE_TYPE_JPEG, "JPEG (*.JPG)|*.JPG|", "JPEG (*.JPG;*.JPEG;*.JPE;*.JFIF)|*.JPG;*.JPEG;*.JPE;*.JFIF|",
     ";*.JPG;*.JPEG;*.JPE;*.JFIF"},
    {FILE_TYPE_GIF, "Graphics Interchange (*.GIF)|*.GIF|", "Graphics Interchange (*.GIF)|*.GIF|", ";*.GIF"},
    {FILE_TYPE_TIFF, "Tagged Image Format (*.TIF)|*.TIF|", "Tagged Image Format (*.TIF;*.TIFF)|*.TIF;*.TIFF|",
     ";*.TIF;*.TIFF"},
    {FILE_TYPE_PNG, "Portable Network Graphics (*.PNG)|*.PNG|", "Portable Network Graphics (*.PNG)|*.PNG|",
     ";*.PNG"},
};

}  // namespace

std::string CDIBImage::PathFindExtension(const std::string& strFileName)
{
    const auto nSlash = strFileName.find_last_of('/');
    const auto nComponent = nSlash == std::string::npos ? 0 : nSlash + 1;
    const auto nDot = strFileName.find_last_of('.');
    if (nDot == std::string::npos || nDot < nComponent)
        return std::string();
    return strFileName.substr(nDot);
}

int CDIBImage::GetFileType(const std::string& strFileName)
{
    static const std::pair<const char*, int> s_aExtensions[] = {
        {".BMP", FILE_TYPE_BMP},  {".JPG", FILE_TYPE_JPEG}, {".JPEG", FILE_TYPE_JPEG},
        {".JPE", FILE_TYPE_JPEG}, {".JFIF", FILE_TYPE_JPEG}, {".GIF", FILE_TYPE_GIF},
        {".TIF", FILE_TYPE_TIFF}, {".TIFF", FILE_TYPE_TIFF}, {".PNG", FILE_TYPE_PNG},
    };
    const std::string strExtension = ToUpper(PathFindExtension(strFileName));
    for (const auto& [pExtension, nType] : s_aExtensions)
        if (strExtension == pExtension)
            return nType;
    return FILE_TYPE_NONE;
}

std::string CDIBImage::GetFileTypeExtension(int nFileType)
{
    switch (nFileType) {
    case FILE_TYPE_BMP:
        return "BMP";
    case FILE_TYPE_JPEG:
        return "JPG";
    case FILE_TYPE_GIF:
        return "GIF";
    case FILE_TYPE_TIFF:
        return "TIF";
    case FILE_TYPE_PNG:
        return "PNG";
    default:
        return std::string();
    }
}

std::string CDIBImage::GetErrorMessage() const
{
    return ComposeErrorMessage(m_nErrorNumber, m_strErrorText);
}

void CDIBImage::BuildImageFilters()
{
    if (m_bFiltersBuilt)
        return;
    m_nFilterTypes = 0;

    std::vector<EImageFormat> aFormats;
    const std::int32_t nResult = CCodecRegistry::Instance().ListDecoders(aFormats);
    m_strExportFilter.clear();
    if (nResult < 0) {
        char szText[64];
        std::snprintf(szText, sizeof szText, "GetExporterFilter failed:\n%x - ", static_cast<unsigned>(nResult));
        m_nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        m_strErrorText = std::string(szText) + "The list of image codecs could not be made.";
        Notify(m_strErrorText);
    }
    if (aFormats.empty()) {
        m_nErrorNumber = ERR_NO_EXPORT_TYPES;
        m_strErrorText = "GetExporterFilter failed: there are no export types.";
        Notify(m_strErrorText);
    }

    std::fill(m_aFilterType.begin(), m_aFilterType.end(), 0);
    std::fill(m_aCodecFound.begin(), m_aCodecFound.end(), 0);
    for (std::size_t i = 0; i < aFormats.size() && i < 32; ++i) {
        const int nFlag = static_cast<int>(aFormats[i]);
        if (nFlag >= 1 && nFlag <= 8)
            m_aCodecFound[static_cast<std::size_t>(nFlag)] = 1;
    }
    if (!m_aCodecFound[FILE_TYPE_BMP]) {
        m_strErrorText =
            "Windows Bitmap (*.BMP) exporter was not found.\n\n"
            "Please contact Kelmar.";
        Notify(m_strErrorText);
        m_strErrorText.clear();
    }

    m_strExportFilter.clear();
    m_strImportFilter = "All Image Files |";
    std::string strOpenList;
    int k = 1;
    for (const SFilterPieces& pieces : s_aFilterPieces) {
        if (!m_aCodecFound[static_cast<std::size_t>(pieces.nFileType)])
            continue;
        m_strExportFilter += pieces.pSave;
        strOpenList += pieces.pOpen;
        m_strImportFilter += pieces.pAllPatterns;
        m_aFilterType[static_cast<std::size_t>(k)] = pieces.nFileType;
        ++k;
    }
    m_strExportFilter += "|";
    m_strImportFilter += "|";
    m_strImportFilter += strOpenList;
    m_nFilterTypes = k - 1;
    m_bFiltersBuilt = true;

    CPlatform& platform = GetPlatform();
    m_nFilterIndex = platform.GetProfileInt(kProfileSection, kProfileFilter, 1);
    if (m_nFilterIndex > m_nFilterTypes + 1)
        m_nFilterIndex = 1;
    platform.WriteProfileInt(kProfileSection, kProfileFilter, m_nFilterIndex);
}

std::string CDIBImage::GetImportFilter()
{
    BuildImageFilters();
    return m_strImportFilter;
}

std::optional<std::string> CDIBImage::ImportFilterOrWarn()
{
    CDIBImage image;
    std::string strFilter = image.GetImportFilter();
    if (image.m_nErrorNumber != 0) {
        ShowWarning(image.GetErrorMessage());
        return std::nullopt;
    }
    return strFilter;
}

std::string CDIBImage::GetExportFilter()
{
    BuildImageFilters();
    return m_strExportFilter;
}

bool CDIBImage::OpenDIB(const std::string& strFileName)
{
    const SSilentResult outcome = OpenDIBSilent(strFileName);
    NotifyAll(outcome);
    return outcome.Succeeded();
}

SSilentResult CDIBImage::OpenDIBSilent(const std::string& strFileName)
{
    return RunSilently([&] { ReadPictureFile(strFileName); });
}

SSilentResult CDIBImage::RunSilently(const std::function<void()>& fnWork)
{
    SSilentResult outcome;
    std::vector<SNotice>* pOuter = m_pNotices;
    m_pNotices = &outcome.aNotices;
    try {
        fnWork();
    } catch (...) {
        m_pNotices = pOuter;
        throw;
    }
    m_pNotices = pOuter;
    outcome.nErrorNumber = m_nErrorNumber;
    outcome.strErrorText = m_strErrorText;
    return outcome;
}

void CDIBImage::Notify(const std::string& strText, EMessageKind eKind)
{
    if (m_pNotices)
        m_pNotices->push_back(SNotice{eKind, strText});
    else
        GetPlatform().MessageBox(strText, eKind);
}

void CDIBImage::NotifyAll(const SSilentResult& outcome)
{
    for (const SNotice& notice : outcome.aNotices)
        Notify(notice.strText, notice.eKind);
}

void CDIBImage::ReadPictureFile(const std::string& strFileName)
{
    // A save of this file's set that a killed process left halfway is finished or undone
    // first, so that the picture read and its world file belong together.
    if (!strFileName.empty())
        for (const std::string& strRecovered : RecoverInterruptedCommits(strFileName))
            Notify(strRecovered, EMessageKind::Information);
    DestroyImage(false);
    BuildImageFilters();
    if (m_nErrorNumber != 0)
        return;
    m_nFilterIndex = 0;
    m_nFileType = GetFileType(strFileName);
    if (m_nFileType == FILE_TYPE_NONE) {
        m_nErrorNumber = ERR_TYPE_NOT_RECOGNISED;
        m_strErrorText = "\nIn OpenDIB(), file name:\n" + strFileName;
        Notify(m_strErrorText);
        DestroyImage(true);
        return;
    }

    // A file that is not there is said to be missing, not to be too large to load.
    if (struct stat info {}; stat(strFileName.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        m_nErrorNumber = ERR_MESSAGE_IS_DETAIL;
        m_strErrorText = "The file " + strFileName + " does not exist.";
        Notify(m_strErrorText);
        DestroyImage(true);
        return;
    }
    const CImageCodec* pCodec = CCodecRegistry::Instance().Find(static_cast<EImageFormat>(m_nFileType));
    std::unique_ptr<CDIBSection> pDecoded;
    SCodecStatus status;
    try {
        status = pCodec ? pCodec->Decode(strFileName, pDecoded)
                        : SCodecStatus::Fail(codec_result::kNoCodec, "There is no decoder for this file type.");
    } catch (const std::bad_alloc&) {
        pDecoded.reset();
        status = SCodecStatus::Fail(codec_result::kOutOfMemory, "Not enough memory to decode the file.");
    } catch (const std::length_error&) {
        pDecoded.reset();
        status = SCodecStatus::Fail(codec_result::kOutOfMemory, "Not enough memory to decode the file.");
    }
    if (status.nResult == codec_result::kOutOfMemory && status.nWidth > 0) {
        // A picture refused before allocating, because it is larger than the memory that
        // can be had, is a creation failure, not a damaged file. Memory running out while
        // decoding is a load failure like any other.
        ReportCreationFailure(CDIBSection::kNotEnoughMemory, status.nWidth, status.nHeight, status.nBitCount);
        DestroyImage(true);
        return;
    }
    if (status.Failed() || !pDecoded) {
        m_nErrorNumber = ERR_LOAD_FAILED;
        m_strErrorText = ResultDetail(status);
        Notify(m_strErrorText);
        DestroyImage(true);
        return;
    }
    AttachBitmap(std::move(pDecoded));

    m_nFilterIndex = 1;
    for (int k = 0; k <= m_nFilterTypes; ++k) {
        if (m_aFilterType[static_cast<std::size_t>(k)] == m_nFileType) {
            m_nFilterIndex = k + 1;
            break;
        }
    }
    UpdateImageInfo();
    UpdateImageRGBQuad(nullptr, true);
    UpdateImageBitmapInfo();
    m_strFileName = strFileName;
    if (m_nErrorNumber != 0)
        DestroyImage(true);
}

std::string CDIBImage::DepthRefusalText(int nFileType, int nBitCount)
{
    if (nFileType == FILE_TYPE_GIF && nBitCount != 8)
        return "GIF file format must be 8-bit, 256 colour\n\n"
               "Please choose another format or convert to 8-bit.";
    if (nFileType == FILE_TYPE_JPEG && nBitCount != 24)
        return "JPEG file format must be 24-bit, full colour\n\n"
               "Please choose another format or convert to 24-bit.";
    return std::string();
}

ESaveResult CDIBImage::SaveDIB(const std::string& strFileName, const SEncodeOptions& options)
{
    AnnounceSave(strFileName);
    return ReportSave(strFileName, SaveDIBSilent(strFileName, options));
}

void CDIBImage::AnnounceSave(const std::string& strFileName)
{
    if (!strFileName.empty() && GetFileType(strFileName) == FILE_TYPE_NONE)
        Notify(DefaultPngNotice(strFileName), EMessageKind::Information);
}

ESaveResult CDIBImage::ReportSave(const std::string& strFileName, ESaveResult eResult)
{
    // An empty name is a caller's slip, reported through the error number alone.
    if (strFileName.empty())
        return eResult;
    if (eResult == ESaveResult::Refused)
        Notify(DepthRefusalText(m_nFileType, m_nBitCount));
    else if (eResult == ESaveResult::Failed)
        Notify(m_strErrorText);
    return eResult;
}

ESaveResult CDIBImage::SaveDIBSilent(const std::string& strFileName, const SEncodeOptions& options)
{
    std::unique_ptr<CSafeFileWriter> pWriter;
    const ESaveResult eResult = PrepareSave(strFileName, options, pWriter);
    if (eResult != ESaveResult::Written)
        return eResult;
    std::string strWriteError;
    if (!pWriter->Commit(strWriteError))
        return RecordSaveFailure(pWriter->TargetPath(), strWriteError);
    return ESaveResult::Written;
}

ESaveResult CDIBImage::RecordSaveFailure(const std::string& strPath, const std::string& strReason)
{
    m_nErrorNumber = ERR_SAVE_FAILED;
    m_strErrorText = ResultDetail(SCodecStatus::Fail(codec_result::kWriteFailed, "Cannot write " + strPath + ": " + strReason + "."));
    return ESaveResult::Failed;
}

ESaveResult CDIBImage::PrepareSave(const std::string& strFileName, const SEncodeOptions& options,
                                   std::unique_ptr<CSafeFileWriter>& pWriter)
{
    pWriter.reset();
    if (strFileName.empty()) {
        m_nErrorNumber = ERR_INVALID_FILE;
        m_strErrorText = "\nEmpty file name in SaveDIB()";
        return ESaveResult::Failed;
    }
    // A name that ends in '/' or names a folder is no file to write (and must not become
    // the hidden "FOLDER/.PNG").
    struct stat folder {};
    if (strFileName.back() == '/' || (stat(strFileName.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode))) {
        m_nErrorNumber = ERR_SAVE_FAILED;
        m_strErrorText = ResultDetail(
            SCodecStatus::Fail(codec_result::kCannotOpen, "Cannot write " + strFileName + ": it names a folder, not a file."));
        return ESaveResult::Failed;
    }
    for (const std::string& strRecovered : RecoverInterruptedCommits(strFileName))
        Notify(strRecovered, EMessageKind::Information);
    std::string strPath = strFileName;
    m_nFileType = GetFileType(strPath);
    if (m_nFileType == FILE_TYPE_NONE) {
        m_strErrorText = DefaultPngNotice(strFileName);
        strPath += ".PNG";
        m_nFileType = FILE_TYPE_PNG;
    }
    const std::string strRefusal = DepthRefusalText(m_nFileType, m_nBitCount);
    if (!strRefusal.empty()) {
        // A number of its own, so that a caller reading only the error state does not
        // take the save for done.
        m_nErrorNumber = ERR_SAVE_REFUSED;
        m_strErrorText = "\n" + strRefusal;
        return ESaveResult::Refused;
    }

    SCodecStatus status;
    const CImageCodec* pCodec = CCodecRegistry::Instance().Find(static_cast<EImageFormat>(m_nFileType));
    if (!m_pBitmap) {
        status = SCodecStatus::Fail(codec_result::kWriteFailed, "There is no picture to save.");
    } else if (!pCodec) {
        status = SCodecStatus::Fail(codec_result::kNoCodec, "There is no encoder for this file type.");
    } else {
        pWriter = std::make_unique<CSafeFileWriter>(strPath, options.eReadOnly);
        std::string strWriteError;
        if (!pWriter->Open(strWriteError))
            status = SCodecStatus::Fail(codec_result::kCannotOpen, "Cannot write " + strPath + ": " + strWriteError + ".");
        else {
            // A picture whose rows are made on demand is made whole for an encoder that
            // reads it whole.
            try {
                if (m_pBitmap->m_pRowSupply && !pCodec->EncodesRowsOnDemand())
                    m_pBitmap->m_pRowSupply->MakeAllRows();
                status = pCodec->Encode(*m_pBitmap, *pWriter, options);
                if (!status.Failed() && m_pBitmap->m_pRowSupply) {
                    if (std::string strProblem = m_pBitmap->m_pRowSupply->Problem(); !strProblem.empty())
                        status = SCodecStatus::Fail(codec_result::kWriteFailed, strProblem);
                }
            } catch (const std::runtime_error& error) {  // rows that could not be made
                status = SCodecStatus::Fail(codec_result::kWriteFailed, error.what());
            }
        }
    }
    if (status.Failed()) {
        pWriter.reset();  // removes its temporary file
        m_nErrorNumber = ERR_SAVE_FAILED;
        m_strErrorText = ResultDetail(status);
        return ESaveResult::Failed;
    }
    return ESaveResult::Written;
}

std::string CDIBImage::SaveFileDialog(int& nFilterIndex, const char* pInitialFolder,
                                     const SFileDialogAccessory* pAccessory, const std::string& strSuggestedName)
{
    // Asking for a name starts afresh: an error left from an earlier step is not this one's.
    m_nErrorNumber = 0;
    m_strErrorText.clear();
    GetExportFilter();
    if (m_nErrorNumber != 0)
        return std::string();
    CPlatform& platform = GetPlatform();
    m_nFilterIndex = platform.GetProfileInt(kProfileSection, kProfileFilter, 1);

    SFileDialogRequest request;
    request.strFilter = m_strExportFilter;
    request.strInitialFolder = pInitialFolder ? std::string(pInitialFolder) : CurrentFolder();
    request.strInitialName = strSuggestedName;
    if (pAccessory)
        request.accessory = *pAccessory;
    // Indexes count as in the open list, where save entry k is k + 1.
    if (nFilterIndex > 1)
        request.nFilterEntry = nFilterIndex - 2;
    else if (m_nFilterIndex > 1)
        request.nFilterEntry = m_nFilterIndex - 2;
    else
        request.nFilterEntry = 0;

    const SFileDialogResult result = platform.GetSaveFileName(request);
    if (!result.bAccepted)
        return std::string();
    const int nSaveEntry = std::clamp(result.nFilterEntry + 1, 1, std::max(m_nFilterTypes, 1));
    nFilterIndex = m_nFilterIndex = nSaveEntry + 1;
    platform.WriteProfileInt(kProfileSection, kProfileFilter, m_nFilterIndex);
    std::string strPath = result.strPath;
    if (GetFileType(strPath) == FILE_TYPE_NONE) {
        strPath += '.';
        strPath += GetFileTypeExtension(m_aFilterType[static_cast<std::size_t>(nSaveEntry)]);
    }
    return strPath;
}

}  // namespace gridmorph
