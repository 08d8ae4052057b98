#include "image/codecs/CodecRegistry.h"

#include <cstdio>

#include "io/MemoryLimit.h"

namespace gridmorph {

SCodecStatus CreateDecodedPicture(int nWidth, int nHeight, int nBitCount, std::unique_ptr<CDIBSection>& pPicture)
{
    char szText[160];
    if (nWidth < 1 || nHeight < 1) {
        std::snprintf(szText, sizeof szText, "The file declares a picture of %d x %d pixels.", nWidth, nHeight);
        return SCodecStatus::Fail(codec_result::kCorrupt, szText);
    }
    if (CDIBSection::StrideFor(nWidth, nBitCount) < 0) {
        std::snprintf(szText, sizeof szText,
                      "The file declares rows of %d pixels at %d bits, more bytes than a row can hold.", nWidth,
                      nBitCount);
        return SCodecStatus::Fail(codec_result::kCorrupt, szText);
    }
    if (!CDIBSection::WithinMemoryLimit(nWidth, nHeight, nBitCount)) {
        // Refused before allocating: the picture's creation failure, with its size.
        SCodecStatus status = SCodecStatus::Fail(codec_result::kOutOfMemory, "Not enough memory for the picture.");
        status.nWidth = nWidth;
        status.nHeight = nHeight;
        status.nBitCount = nBitCount;
        return status;
    }
    if (CDIBSection::Create(nWidth, nHeight, nBitCount, pPicture) != 0)
        return SCodecStatus::Fail(codec_result::kOutOfMemory, "Not enough memory for the picture.");
    return SCodecStatus::Ok();
}

CCodecRegistry::CCodecRegistry()
    : m_aCodecs{&GetBmpCodec(), &GetJpegCodec(), &GetGifCodec(), &GetTiffCodec(), &GetPngCodec()}
{
}

CCodecRegistry& CCodecRegistry::Instance()
{
    static CCodecRegistry s_registry;
    return s_registry;
}

std::int32_t CCodecRegistry::ListDecoders(std::vector<EImageFormat>& aFormats) const
{
    aFormats.clear();
    if (m_nListResult < 0)
        return m_nListResult;
    for (const CImageCodec* pCodec : m_aCodecs)
        aFormats.push_back(pCodec->Format());
    return m_nListResult;
}

const CImageCodec* CCodecRegistry::Find(EImageFormat eFormat) const
{
    for (const CImageCodec* pCodec : m_aCodecs)
        if (pCodec->Format() == eFormat)
            return pCodec;
    return nullptr;
}

CScopedCodecList::CScopedCodecList(std::vector<const CImageCodec*> aCodecs, std::int32_t nListResult)
    : m_aPreviousCodecs(CCodecRegistry::Instance().Codecs()), m_nPreviousResult(CCodecRegistry::Instance().ListResult())
{
    CCodecRegistry::Instance().SetCodecs(std::move(aCodecs));
    CCodecRegistry::Instance().SetListResult(nListResult);
}

CScopedCodecList::~CScopedCodecList()
{
    CCodecRegistry::Instance().SetCodecs(std::move(m_aPreviousCodecs));
    CCodecRegistry::Instance().SetListResult(m_nPreviousResult);
}

}  // namespace gridmorph
