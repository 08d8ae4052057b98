#include "image/DIBSection.h"

#include <sys/mman.h>

#include <cstdint>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "io/MemoryLimit.h"

namespace gridmorph {

void CDIBSection::SFree::operator()(std::uint8_t* p) const
{
    if (!pMapping)
        std::free(p);
}

std::unique_ptr<CDIBSection> CDIBSection::OverMappedFile(int nWidth, int nHeight, int nBitCount, std::uint8_t* pBits,
                                                         std::shared_ptr<const void> pMapping)
{
    const std::int64_t nStride = StrideFor(nWidth, nBitCount);
    if ((nBitCount != 8 && nBitCount != 24) || nWidth < 1 || nHeight < 1 || nStride < 0 || !pBits || !pMapping)
        return nullptr;
    std::unique_ptr<CDIBSection> pSection(new CDIBSection());
    pSection->m_nWidth = nWidth;
    pSection->m_nHeight = nHeight;
    pSection->m_nBitCount = nBitCount;
    pSection->m_nStride = static_cast<int>(nStride);
    pSection->m_pBits = std::unique_ptr<std::uint8_t, SFree>(pBits, SFree{std::move(pMapping)});
    return pSection;
}

std::int64_t CDIBSection::StrideFor(std::int64_t nWidth, int nBitCount)
{
    if (nWidth < 0 || nBitCount <= 0)
        return -1;
    const std::int64_t nStride = ((nWidth * nBitCount + 31) / 32) * 4;
    return nStride > std::numeric_limits<int>::max() ? -1 : nStride;
}

bool CDIBSection::WithinMemoryLimit(int nWidth, int nHeight, int nBitCount)
{
    const std::int64_t nStride = StrideFor(nWidth, nBitCount);
    if (nStride < 0 || nHeight < 0)
        return false;
    const std::uint64_t nBytes = static_cast<std::uint64_t>(nStride) * static_cast<std::uint64_t>(nHeight);
    return nBytes <= GetPictureMemoryLimit() && nBytes <= std::numeric_limits<std::size_t>::max() / 2;
}

namespace {

// A large picture's pages are asked for 2 MB at a time where the system gives such pages
// on request: the first write to each page of a fresh block costs a page fault, and a
// picture of 36 MB in 4 KB pages takes nine thousand of them (a third of a rectification's
// system time on a virtual machine). The pages stay zero until written.
void AskForLargePages(void* pBlock, std::uint64_t nBytes)
{
    constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;
    if (nBytes < 4 * kLargePage)
        return;
    const std::uintptr_t nStart = (reinterpret_cast<std::uintptr_t>(pBlock) + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t nEnd = (reinterpret_cast<std::uintptr_t>(pBlock) + nBytes) & ~(kLargePage - 1);
    if (nEnd > nStart)
        madvise(reinterpret_cast<void*>(nStart), nEnd - nStart, MADV_HUGEPAGE);  // a hint: failure changes nothing
}

}  // namespace

int CDIBSection::Create(int nWidth, int nHeight, int nBitCount, std::unique_ptr<CDIBSection>& pCreated)
{
    pCreated.reset();
    const bool bDepthKnown = nBitCount == 1 || nBitCount == 4 || nBitCount == 8 || nBitCount == 16 ||
                             nBitCount == 24 || nBitCount == 32;
    if (!bDepthKnown || nWidth < 1 || nHeight < 1)
        return kInvalidParameter;
    if (!WithinMemoryLimit(nWidth, nHeight, nBitCount))
        return kNotEnoughMemory;
    const std::int64_t nStride = StrideFor(nWidth, nBitCount);
    const std::uint64_t nBytes = static_cast<std::uint64_t>(nStride) * static_cast<std::uint64_t>(nHeight);

    // calloc hands large blocks out as fresh zero pages, so nothing is written twice.
    auto* pBits = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(nBytes), 1));
    if (!pBits)
        return kNotEnoughMemory;
    AskForLargePages(pBits, nBytes);
    std::unique_ptr<CDIBSection> pSection(new CDIBSection());
    pSection->m_nWidth = nWidth;
    pSection->m_nHeight = nHeight;
    pSection->m_nBitCount = nBitCount;
    pSection->m_nStride = static_cast<int>(nStride);
    pSection->m_pBits.reset(pBits);
    pCreated = std::move(pSection);
    return 0;
}

int CDIBSection::GetColourTable(int nFirst, int nCount, SRGBQuad* pColours) const
{
    const int nMax = MaxColourTableSize();
    if (nFirst < 0 || nFirst >= nMax || nCount <= 0)
        return 0;
    const int nTransferred = std::min(nCount, nMax - nFirst);
    std::copy_n(m_aColourTable.begin() + nFirst, nTransferred, pColours);
    return nTransferred;
}

int CDIBSection::SetColourTable(int nFirst, int nCount, const SRGBQuad* pColours)
{
    const int nMax = MaxColourTableSize();
    if (nFirst < 0 || nFirst >= nMax || nCount <= 0)
        return 0;
    const int nTransferred = std::min(nCount, nMax - nFirst);
    std::copy_n(pColours, nTransferred, m_aColourTable.begin() + nFirst);
    return nTransferred;
}

}  // namespace gridmorph
