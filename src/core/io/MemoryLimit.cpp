#include "io/MemoryLimit.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gridmorph {

std::uint64_t GetPictureMemoryLimit()
{
    if (const char* pOverride = std::getenv("GRIDMORPH_MEMORY_LIMIT_MB")) {
        char* pEnd = nullptr;
        const unsigned long long nMegabytes = std::strtoull(pOverride, &pEnd, 10);
        if (pEnd != pOverride)
            return static_cast<std::uint64_t>(nMegabytes) << 20;
    }
    std::uint64_t nAvailable = 0;
    if (std::FILE* pInfo = std::fopen("/proc/meminfo", "r")) {
        char szLine[256];
        while (std::fgets(szLine, sizeof szLine, pInfo)) {
            // "MemAvailable:   12345678 kB"
            constexpr char kKey[] = "MemAvailable:";
            if (std::strncmp(szLine, kKey, sizeof kKey - 1) != 0)
                continue;
            const char* pDigits = szLine + sizeof kKey - 1;
            while (*pDigits == ' ' || *pDigits == '\t')
                ++pDigits;
            std::uint64_t nKilobytes = 0;
            if (std::from_chars(pDigits, szLine + std::strlen(szLine), nKilobytes).ec == std::errc())
                nAvailable = nKilobytes << 10;
            break;
        }
        std::fclose(pInfo);
    }
    // Without /proc we cannot tell; let the allocator decide.
    return nAvailable ? nAvailable : UINT64_MAX;
}

}  // namespace gridmorph
