#pragma once

// The colour reduction the plain, slow way: 32 buckets of colours searched linearly,
// then the 111 chosen entries searched for every pixel. Kept only to prove that the fast
// version gives the same tables and the same pixels.
#include <cstdint>
#include <vector>

#include "image/DIBImage.h"

namespace gridmorph::test {

void ReferenceBuildPopularRGBQuad(const CDIBImage& source, SRGBQuad* pColours);

// The indices of the 8-bit picture made from the source with the given table, storage
// row by storage row, without padding.
std::vector<std::uint8_t> ReferenceConvertToPalette(const CDIBImage& source, const SRGBQuad* pColours);

}  // namespace gridmorph::test
