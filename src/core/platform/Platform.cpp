#include "platform/Platform.h"

#include "platform/HeadlessPlatform.h"

namespace gridmorph {
namespace {

CPlatform* s_pInstalled = nullptr;

CPlatform& DefaultPlatform()
{
    static CHeadlessPlatform s_headless;
    return s_headless;
}

}  // namespace

CPlatform& GetPlatform() { return s_pInstalled ? *s_pInstalled : DefaultPlatform(); }

CPlatform* InstallPlatform(CPlatform* pPlatform)
{
    CPlatform* pPrevious = s_pInstalled;
    s_pInstalled = pPlatform;
    return pPrevious;
}

}  // namespace gridmorph
