#include "image/DIBImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "errors/ErrorText.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kUnsupportedDepthMessage =
    "Only images with 8,24 or 32-bit colour depth are supported.\n\n"
    "Continuing with 8-bit.";

bool IsCreatableDepth(int nBPP) { return nBPP == 8 || nBPP == 24 || nBPP == 32; }

void PutLittleEndian32(std::uint8_t* p, std::uint32_t nValue)
{
    p[0] = static_cast<std::uint8_t>(nValue);
    p[1] = static_cast<std::uint8_t>(nValue >> 8);
    p[2] = static_cast<std::uint8_t>(nValue >> 16);
    p[3] = static_cast<std::uint8_t>(nValue >> 24);
}

}  // namespace

CDIBImage::CDIBImage() { InitMembers(); }

CDIBImage::~CDIBImage()
{
    // A destructor cannot reach a subclass's override any more; the subclass destroys
    // its own state in its destructor.
    CDIBImage::DestroyImage(false);
}

void CDIBImage::InitMembers()
{
    ReleaseImageDC(true);
    m_nErrorNumber = 0;
    m_nImageWidth = 0;
    m_nImageHeight = 0;
    m_nStride = 0;
    m_nBitCount = 0;
    // The tables are freed here rather than merely forgotten, so a reset can never leak.
    m_pBitmapInfo.reset();
    m_pImageBits = nullptr;
    m_pPalette.reset();
    m_pPaletteEntry.reset();
    m_pRGBQuad.reset();
    m_nGreyWeightRed = 76;
    m_nGreyWeightGreen = 150;
    m_nGreyWeightBlue = 29;
    m_strErrorText.clear();
    m_strFileName.clear();
    m_nFileType = FILE_TYPE_NONE;
    m_nFilterIndex = 1;
}

void CDIBImage::DestroyImage(bool bKeepError)
{
    ReleaseImageDC(true);
    m_pBitmap.reset();
    m_pRGBQuad.reset();
    m_pPaletteEntry.reset();
    m_pPalette.reset();
    m_pBitmapInfo.reset();
    const int nErrorNumber = m_nErrorNumber;
    std::string strErrorText = m_strErrorText;
    InitMembers();  // virtual: a subclass resets its own members too
    if (bKeepError) {
        m_nErrorNumber = nErrorNumber;
        m_strErrorText = std::move(strErrorText);
    }
}

void CDIBImage::CloseImage() { DestroyImage(false); }

std::unique_ptr<CDIBSection> CDIBImage::TakePixels()
{
    ReleaseImageDC(true);
    m_pImageBits = nullptr;
    return std::move(m_pBitmap);
}

bool CDIBImage::RestorePixels(std::unique_ptr<CDIBSection> pPixels)
{
    if (!pPixels || m_pBitmap || pPixels->Width() != m_nImageWidth || pPixels->Height() != m_nImageHeight ||
        pPixels->BitCount() != m_nBitCount || pPixels->Stride() != m_nStride)
        return false;
    m_pBitmap = std::move(pPixels);
    // Sections store their rows bottom-up, as the picture recorded them.
    m_pImageBits = m_pBitmap->LowestRow();
    return true;
}

void CDIBImage::ReportCreationFailure(int nCode, int nWidth, int nHeight, int nBPP)
{
    char szDetail[128];
    std::snprintf(szDetail, sizeof szDetail, "\n\nwidth=%ld, height=%ld, nBPP=%ld in CreateImage().", long(nWidth),
                  long(nHeight), long(nBPP));
    if (nCode == CDIBSection::kNotEnoughMemory) {
        m_nErrorNumber = ERR_OUT_OF_MEMORY;
        m_strErrorText = "Failure creating bitmap, lack of memory";
    } else {
        m_nErrorNumber = nCode;
        char szText[64];
        std::snprintf(szText, sizeof szText, "Failure creating DIB, error number = %ld", long(nCode));
        m_strErrorText = szText;
    }
    m_strErrorText += szDetail;
    Notify(m_strErrorText);
}

bool CDIBImage::CreateImage(int nBPP, int nWidth, int nHeight, int nFill, int nRed, int nGreen, int nBlue,
                            const SRGBQuad* pColours)
{
    if (!IsCreatableDepth(nBPP)) {
        Notify(kUnsupportedDepthMessage, EMessageKind::Information);
        nBPP = 8;
    }
    DestroyImage(false);
    m_nBitCount = nBPP;
    if (nWidth < 1)
        nWidth = 4;
    if (nHeight < 1)
        nHeight = 4;

    std::unique_ptr<CDIBSection> pBitmap;
    if (const int nCode = CDIBSection::Create(nWidth, nHeight, nBPP, pBitmap); nCode != 0) {
        ReportCreationFailure(nCode, nWidth, nHeight, nBPP);
        return false;
    }
    m_pBitmap = std::move(pBitmap);
    UpdateImageInfo();
    UpdateImageRGBQuad(pColours, false);
    UpdateImageBitmapInfo();
    if (m_nErrorNumber == 0)
        FillImage(nFill, nRed, nGreen, nBlue);
    if (m_nErrorNumber != 0)
        DestroyImage(true);
    return m_nErrorNumber == 0;
}

bool CDIBImage::CreateImage(int nBPP, CDIBImage* pBasedOn, bool bCopyBits, bool /*bCopyWorld*/, bool bCopyColours,
                            bool bPopularColours, bool bShowProgress)
{
    if (!IsCreatableDepth(nBPP)) {
        Notify(kUnsupportedDepthMessage, EMessageKind::Information);
        nBPP = 8;
    }
    if (!pBasedOn) {
        m_nErrorNumber = ERR_INVALID_ARGUMENT;
        m_strErrorText = "\nCreateImage called with based_on = NULL";
        return false;
    }
    // Creating destroys this picture first, so it cannot be its own source.
    if (pBasedOn == this || !pBasedOn->HasImage()) {
        m_nErrorNumber = ERR_INVALID_ARGUMENT;
        m_strErrorText = pBasedOn == this ? "\nCreateImage called with based_on = this picture"
                                          : "\nCreateImage called with an empty based_on";
        return false;
    }

    const CDIBImage& basedOn = *pBasedOn;
    const bool bFullColourSource = basedOn.m_nBitCount == 24 || basedOn.m_nBitCount == 32;
    bool bCreated = false;
    if (!bCopyBits && !bCopyColours) {
        bCreated = CreateImage(nBPP, basedOn.m_nImageWidth, basedOn.m_nImageHeight, FILL_NONE, 255, 255, 255, nullptr);
    } else if (nBPP == 8 && bFullColourSource) {
        std::unique_ptr<SRGBQuad[]> pTable(new (std::nothrow) SRGBQuad[kColourTableSize]);
        if (!pTable) {
            m_nErrorNumber = ERR_OUT_OF_MEMORY;
            m_strErrorText = "\nAllocating RGBQUAD[256] in CreateImage().";
            return false;
        }
        // The default table stands where the count stops early (an error pending on the
        // source), so no colour of the picture comes from unset memory.
        SetDefaultRGBQuad(pTable.get());
        if (bPopularColours)
            pBasedOn->BuildPopularRGBQuad(pTable.get());
        bCreated = CreateImage(nBPP, basedOn.m_nImageWidth, basedOn.m_nImageHeight, FILL_NONE, 255, 255, 255,
                               pTable.get());
    } else {
        bCreated = CreateImage(nBPP, basedOn.m_nImageWidth, basedOn.m_nImageHeight, FILL_NONE, 255, 255, 255,
                               basedOn.m_pRGBQuad.get());
    }
    if (!bCreated || m_nErrorNumber > 0)
        return false;

    if (bCopyBits)
        CopyBitsFrom(basedOn, bShowProgress);
    else
        FillImage(FILL_WHITE, 255, 255, 255);
    m_nFilterIndex = basedOn.m_nFilterIndex;
    return true;
}

void CDIBImage::CopyBitsFrom(const CDIBImage& basedOn, bool bShowProgress)
{
    const int nSourceDepth = basedOn.m_nBitCount;
    const int nTargetDepth = m_nBitCount;
    const int nWidth = m_nImageWidth;

    if (nSourceDepth == nTargetDepth && IsCreatableDepth(nSourceDepth)) {
        // Same width and depth means the same stride: one copy, padding included.
        std::memcpy(m_pImageBits, basedOn.m_pImageBits, static_cast<std::size_t>(m_nStride) * m_nImageHeight);
        return;
    }
    if ((nSourceDepth == 24 || nSourceDepth == 32) && (nTargetDepth == 24 || nTargetDepth == 32)) {
        const int nSourceStep = nSourceDepth / 8;
        const int nTargetStep = nTargetDepth / 8;
        for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
            const std::uint8_t* pSource = basedOn.StorageRow(nRow);
            std::uint8_t* pTarget = StorageRow(nRow);
            for (int x = 0; x < nWidth; ++x, pSource += nSourceStep, pTarget += nTargetStep) {
                pTarget[0] = pSource[0];
                pTarget[1] = pSource[1];
                pTarget[2] = pSource[2];
                if (nTargetStep == 4)
                    pTarget[3] = 255;
            }
        }
        return;
    }
    if (nSourceDepth == 8 && (nTargetDepth == 24 || nTargetDepth == 32)) {
        const SRGBQuad* pTable = basedOn.m_pRGBQuad.get();
        const int nTargetStep = nTargetDepth / 8;
        for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
            const std::uint8_t* pSource = basedOn.StorageRow(nRow);
            std::uint8_t* pTarget = StorageRow(nRow);
            for (int x = 0; x < nWidth; ++x, pTarget += nTargetStep) {
                const SRGBQuad& colour = pTable[pSource[x]];
                pTarget[0] = colour.rgbBlue;
                pTarget[1] = colour.rgbGreen;
                pTarget[2] = colour.rgbRed;
                if (nTargetStep == 4)
                    pTarget[3] = 255;
            }
        }
        return;
    }
    if ((nSourceDepth == 24 || nSourceDepth == 32) && nTargetDepth == 8) {
        ConvertRGBToPalette(basedOn, bShowProgress);
        return;
    }
    Notify(
        "Only images with 8,24 or 32-bit colour depth can be copied.\n\n"
        "Setting created image to white.",
        EMessageKind::Information);
    FillImage(FILL_WHITE, 255, 255, 255);
}

bool CDIBImage::CreateImage(CDIBImage* pBasedOn, int nWidth, int nHeight, int nBPP)
{
    if (pBasedOn) {
        if (!pBasedOn->HasImage() || pBasedOn == this) {
            m_nErrorNumber = ERR_INVALID_ARGUMENT;
            m_strErrorText = pBasedOn == this ? "\nCreateImage called with based_on = this picture"
                                              : "\nCreateImage called with an empty based_on";
            return false;
        }
        if (!IsCreatableDepth(nBPP))
            nBPP = pBasedOn->m_nBitCount;
        const long long nBaseWidth = pBasedOn->m_nImageWidth;
        const long long nBaseHeight = pBasedOn->m_nImageHeight;
        if (nWidth == 0 && nHeight == 0) {
            nWidth = static_cast<int>(nBaseWidth);
            nHeight = static_cast<int>(nBaseHeight);
        } else if (nWidth == 0) {
            nWidth = static_cast<int>(nBaseWidth * nHeight / nBaseHeight);
        } else if (nHeight == 0) {
            nHeight = static_cast<int>(nBaseHeight * nWidth / nBaseWidth);
        }
        CreateImage(nBPP, nWidth, nHeight, FILL_NONE, 255, 255, 255, pBasedOn->m_pRGBQuad.get());
        if (m_nErrorNumber == 0) {
            FillImage(FILL_WHITE, 255, 255, 255);
            m_nFilterIndex = pBasedOn->m_nFilterIndex;
        }
    } else {
        CreateImage(IsCreatableDepth(nBPP) ? nBPP : 8, nWidth, nHeight, FILL_WHITE, 255, 255, 255, nullptr);
    }
    return m_nErrorNumber == 0;
}

void CDIBImage::FillImage(int nFill, int nRed, int nGreen, int nBlue)
{
    if (nFill < FILL_BLACK || nFill > FILL_COLOUR || !m_pImageBits)
        return;
    const std::size_t nBytes = static_cast<std::size_t>(m_nStride) * m_nImageHeight;
    const auto nRedByte = static_cast<std::uint8_t>(nRed);
    const auto nGreenByte = static_cast<std::uint8_t>(nGreen);
    const auto nBlueByte = static_cast<std::uint8_t>(nBlue);

    if (m_nBitCount == 24 || m_nBitCount == 32) {
        const int nStep = m_nBitCount / 8;
        if (nFill != FILL_COLOUR) {
            std::memset(m_pImageBits, nFill == FILL_BLACK ? 0 : 255, nBytes);
            if (nStep == 3)
                return;
        }
        for (int nRow = 0; nRow < m_nImageHeight; ++nRow) {
            std::uint8_t* pPixel = StorageRow(nRow);
            for (int x = 0; x < m_nImageWidth; ++x, pPixel += nStep) {
                if (nFill == FILL_COLOUR) {
                    pPixel[0] = nBlueByte;
                    pPixel[1] = nGreenByte;
                    pPixel[2] = nRedByte;
                }
                if (nStep == 4)
                    pPixel[3] = 255;
            }
        }
    } else if (m_nBitCount == 8 && m_pPalette) {
        int nIndex = 0;
        if (nFill == FILL_BLACK)
            nIndex = m_pPalette->GetNearestPaletteIndex(0, 0, 0);
        else if (nFill == FILL_WHITE)
            nIndex = m_pPalette->GetNearestPaletteIndex(255, 255, 255);
        else
            nIndex = m_pPalette->GetNearestPaletteIndex(nRedByte, nGreenByte, nBlueByte);
        std::memset(m_pImageBits, nIndex, nBytes);
    }
}

void CDIBImage::UpdateImageInfo()
{
    if (m_nErrorNumber != 0 || !m_pBitmap)
        return;
    m_nBitCount = m_pBitmap->BitCount();
    m_nImageWidth = m_pBitmap->Width();
    m_nImageHeight = m_pBitmap->Height();
    const int nPitch = m_pBitmap->Pitch();
    m_pImageBits = m_pBitmap->Bits();
    if (nPitch < 0) {
        m_pImageBits = m_pBitmap->LowestRow();
        m_nStride = -nPitch;
        m_nOrientation = ORIENTATION_BOTTOM_UP;
    } else {
        m_nStride = nPitch;
        m_nOrientation = ORIENTATION_TOP_DOWN;
    }
}

void CDIBImage::SetDefaultRGBQuad(SRGBQuad* pColours)
{
    int nEntry = 0;
    for (int nBlue = 0; nBlue < 6; ++nBlue)
        for (int nGreen = 0; nGreen < 6; ++nGreen)
            for (int nRed = 0; nRed < 6; ++nRed)
                pColours[nEntry++] = SRGBQuad{static_cast<std::uint8_t>(51 * nBlue),
                                              static_cast<std::uint8_t>(51 * nGreen),
                                              static_cast<std::uint8_t>(51 * nRed), 0};
    for (; nEntry < kColourTableSize; ++nEntry)
        pColours[nEntry] = SRGBQuad{255, 255, 255, 0};
}

void CDIBImage::UpdateImageRGBQuad(const SRGBQuad* pColours, bool bFromImage)
{
    m_pRGBQuad.reset();
    m_pPaletteEntry.reset();
    m_nColours = 0;
    if (m_nErrorNumber != 0)
        return;
    m_pRGBQuad.reset(new (std::nothrow) SRGBQuad[kColourTableSize]);
    if (!m_pRGBQuad) {
        m_nErrorNumber = ERR_OUT_OF_MEMORY;
        m_strErrorText = "\nAllocating RGBQUAD[256] in UpdateImageRGBQuad().";
        return;
    }
    m_nColours = m_pBitmap ? std::min(m_pBitmap->MaxColourTableSize(), kColourTableSize) : 0;
    if (pColours) {
        std::copy_n(pColours, kColourTableSize, m_pRGBQuad.get());
    } else if (bFromImage && m_nColours >= 1) {
        GetDIBColours(0, m_nColours, m_pRGBQuad.get());
        for (int i = m_nColours; i < kColourTableSize; ++i)
            m_pRGBQuad[i] = SRGBQuad{255, 255, 255, 0};
    } else {
        SetDefaultRGBQuad(m_pRGBQuad.get());
    }
    if (m_pBitmap && m_pBitmap->IsIndexed())
        SetDIBColours(0, kColourTableSize, m_pRGBQuad.get());
    m_nColours = kColourTableSize;

    m_pPaletteEntry.reset(new (std::nothrow) SPaletteEntry[kColourTableSize]);
    if (!m_pPaletteEntry) {
        m_nErrorNumber = ERR_OUT_OF_MEMORY;
        m_strErrorText = "\nAllocating PALETTEENTRY[256] in UpdateImageRGBQuad().";
        return;
    }
    UpdatePalette();
}

void CDIBImage::UpdatePalette()
{
    if (!m_pRGBQuad || !m_pPaletteEntry)
        return;
    for (int i = 0; i < m_nColours; ++i)
        m_pPaletteEntry[i] = SPaletteEntry{m_pRGBQuad[i].rgbRed, m_pRGBQuad[i].rgbGreen, m_pRGBQuad[i].rgbBlue, 0};
    CreatePaletteFromEntries();
}

void CDIBImage::CreatePaletteFromEntries()
{
    if (!m_pPaletteEntry)
        return;
    m_pPalette.reset();
    m_pPalette.reset(new (std::nothrow) CPalette());
    if (!m_pPalette) {
        m_nErrorNumber = ERR_OUT_OF_MEMORY;
        m_strErrorText = "\nAllocating CPalette in CreatePaletteFromEntries().";
        return;
    }
    m_pPalette->ResizePalette(m_nColours);
    m_pPalette->SetPaletteEntries(0, m_nColours, m_pPaletteEntry.get());
}

void CDIBImage::UpdateImageBitmapInfo()
{
    if (m_nErrorNumber != 0)
        return;
    const std::size_t nSize = kBitmapInfoHeaderSize + 4 * static_cast<std::size_t>(m_nColours);
    m_pBitmapInfo.reset(new (std::nothrow) std::uint8_t[nSize]());
    if (!m_pBitmapInfo) {
        m_nErrorNumber = ERR_OUT_OF_MEMORY;
        char szText[80];
        std::snprintf(szText, sizeof szText, "\nAllocating BYTE[%ld] in UpdateImageBitmapInfo().", long(nSize));
        m_strErrorText = szText;
        return;
    }
    if (!m_pBitmap) {
        m_nErrorNumber = ERR_NOT_DIB_SECTION;
        m_strErrorText = "\nFrom information retrieved in UpdateImageBitmapInfo().";
        return;
    }
    std::uint8_t* pHeader = m_pBitmapInfo.get();
    PutLittleEndian32(pHeader + 0, kBitmapInfoHeaderSize);
    PutLittleEndian32(pHeader + 4, static_cast<std::uint32_t>(m_pBitmap->Width()));
    PutLittleEndian32(pHeader + 8, static_cast<std::uint32_t>(m_pBitmap->Height()));  // positive: bottom-up
    pHeader[12] = 1;                                                                   // planes
    pHeader[14] = static_cast<std::uint8_t>(m_pBitmap->BitCount());
    PutLittleEndian32(pHeader + 16, m_pBitmap->BitCount() == 16 ? 3u : 0u);  // BI_BITFIELDS : BI_RGB
    PutLittleEndian32(pHeader + 20, static_cast<std::uint32_t>(m_pBitmap->StorageBytes()));
    PutLittleEndian32(pHeader + 32, static_cast<std::uint32_t>(m_pBitmap->MaxColourTableSize()));
    if (m_pRGBQuad)
        std::memcpy(pHeader + kBitmapInfoHeaderSize, m_pRGBQuad.get(), 4 * static_cast<std::size_t>(m_nColours));
}

int CDIBImage::GetDIBColours(int nFirst, int nCount, SRGBQuad* pColours)
{
    CDIBSection* pDC = GetImageDC();
    const int nTransferred = pDC ? pDC->GetColourTable(nFirst, nCount, pColours) : 0;
    ReleaseImageDC(false);
    return nTransferred;
}

int CDIBImage::SetDIBColours(int nFirst, int nCount, const SRGBQuad* pColours)
{
    CDIBSection* pDC = GetImageDC();
    const int nTransferred = pDC ? pDC->SetColourTable(nFirst, nCount, pColours) : 0;
    ReleaseImageDC(false);
    return nTransferred;
}

CDIBSection* CDIBImage::GetImageDC()
{
    if (!m_hImageDC) {
        if (!m_pBitmap)
            return nullptr;
        m_hImageDC = m_pBitmap.get();
        m_nDCRefCount = 0;
    }
    ++m_nDCRefCount;
    return m_hImageDC;
}

void CDIBImage::ReleaseImageDC(bool bForce)
{
    if (bForce)
        m_nDCRefCount = 0;
    else if (m_nDCRefCount > 0)
        --m_nDCRefCount;
    if (m_hImageDC && m_nDCRefCount == 0)
        m_hImageDC = nullptr;
}

}  // namespace gridmorph
