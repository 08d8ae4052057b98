#pragma once

// What every fuzz target shares: a quiet platform, a memory limit so that a file that
// asks for a giant picture is refused as the program would refuse it on a small machine,
// and a scratch file in memory-backed storage for the bytes under test.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/HeadlessPlatform.h"

namespace gridmorph::fuzz {

inline CHeadlessPlatform& QuietPlatform()
{
    static CHeadlessPlatform* s_pPlatform = [] {
        // Small enough that a file asking for a large picture is refused quickly, large
        // enough for every real decoding path.
        setenv("GRIDMORPH_MEMORY_LIMIT_MB", "64", 1);
        auto* pPlatform = new CHeadlessPlatform(stderr);  // lives for the whole run
        pPlatform->SetQuiet(true);
        InstallPlatform(pPlatform);
        return pPlatform;
    }();
    return *s_pPlatform;
}

// A path of this process's own in /dev/shm (or /tmp), with the given extension.
inline std::string ScratchPath(const char* pExtension)
{
    const char* pFolder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(pFolder) + "/gridmorph-fuzz-" + std::to_string(getpid()) + pExtension;
}

inline void WriteScratch(const std::string& strPath, const std::uint8_t* pData, std::size_t nSize)
{
    if (std::FILE* pFile = std::fopen(strPath.c_str(), "wb")) {
        if (nSize)
            std::fwrite(pData, 1, nSize, pFile);
        std::fclose(pFile);
    }
}

}  // namespace gridmorph::fuzz
