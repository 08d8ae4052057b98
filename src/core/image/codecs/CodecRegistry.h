#pragma once

#include <cstdint>
#include <vector>

#include "image/codecs/ImageCodec.h"

namespace gridmorph {

// The codecs the program offers ("the platform's decoder list"). Normally all five;
// tests narrow the list, or make the listing itself fail, with CScopedCodecList.
class CCodecRegistry {
public:
    static CCodecRegistry& Instance();

    // Lists the decoders' format identifiers in list order. Returns a result code,
    // negative when the listing failed.
    std::int32_t ListDecoders(std::vector<EImageFormat>& aFormats) const;
    // The codec of a format, or null when the list does not have it.
    const CImageCodec* Find(EImageFormat eFormat) const;

    void SetCodecs(std::vector<const CImageCodec*> aCodecs) { m_aCodecs = std::move(aCodecs); }
    void SetListResult(std::int32_t nResult) { m_nListResult = nResult; }
    const std::vector<const CImageCodec*>& Codecs() const { return m_aCodecs; }
    std::int32_t ListResult() const { return m_nListResult; }

private:
    CCodecRegistry();
    std::vector<const CImageCodec*> m_aCodecs;
    std::int32_t m_nListResult = codec_result::kOk;
};

// Narrows the codec list (or makes listing fail) for the lifetime of the guard.
class CScopedCodecList {
public:
    CScopedCodecList(std::vector<const CImageCodec*> aCodecs, std::int32_t nListResult = codec_result::kOk);
    ~CScopedCodecList();
    CScopedCodecList(const CScopedCodecList&) = delete;
    CScopedCodecList& operator=(const CScopedCodecList&) = delete;

private:
    std::vector<const CImageCodec*> m_aPreviousCodecs;
    std::int32_t m_nPreviousResult;
};

}  // namespace gridmorph
