#pragma once

#include <cstdint>

namespace gridmorph {

// The most bytes one picture's storage may take. Linux promises memory it may not have
// (overcommit), so a picture larger than what the machine can give would be "allocated"
// and then killed by the kernel when touched; the limit turns that into a clean failure.
// It is the memory available now (MemAvailable), or GRIDMORPH_MEMORY_LIMIT_MB when set.
std::uint64_t GetPictureMemoryLimit();

}  // namespace gridmorph
