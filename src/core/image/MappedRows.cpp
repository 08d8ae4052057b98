#include "image/MappedRows.h"

#include <stdexcept>

#include "io/MappedFile.h"

namespace gridmorph {
namespace {

constexpr const char* kInputCutText = "The input file was cut short while it was being read; nothing was written.";

}  // namespace

void CMappedPictureRows::MakeRows(int nFirst, int nCount) const
{
    // One byte a page brings the band in (a page past the end of a file cut short reads
    // as zero and marks the mapping cut).
    const std::uint8_t* pLow = m_picture.PictureRow(nFirst + nCount - 1);
    const std::size_t nBytes = static_cast<std::size_t>(nCount) * static_cast<std::size_t>(m_picture.Stride());
    volatile std::uint8_t nSum = 0;
    for (std::size_t n = 0; n < nBytes; n += 4096)
        nSum = static_cast<std::uint8_t>(nSum + pLow[n]);
    if (MappedFileWasCut(pLow))
        throw std::runtime_error(kInputCutText);
}

void CMappedPictureRows::ReleaseRows(int nFirst, int nCount) const
{
    DropMappedPages(m_picture.PictureRow(nFirst + nCount - 1),
                    static_cast<std::size_t>(nCount) * static_cast<std::size_t>(m_picture.Stride()));
}

void CMappedPictureRows::MakeAllRows() const
{
    if (MappedFileWasCut(m_picture.LowestRow()))
        throw std::runtime_error(kInputCutText);
}

std::string CMappedPictureRows::Problem() const
{
    return MappedFileWasCut(m_picture.LowestRow()) ? kInputCutText : std::string();
}

}  // namespace gridmorph
