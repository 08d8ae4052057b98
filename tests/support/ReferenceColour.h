#pragma once

// The colour reduction written out step by step as it is described: buckets searched
// linearly, 111 entries searched per pixel. Slow, and kept only to prove that the fast
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
