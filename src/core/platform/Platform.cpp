#include "platform/Platform.h"

#include "platform/HeadlessPlatform.h"

namespace gridmorph {
namespace {

CPlatform* s_pInstalled = nullptr;
thread_local CPlatform* t_pThreadPlatform = nullptr;

CPlatform& DefaultPlatform()
{
    static CHeadlessPlatform s_headless;
    return s_headless;
}

}  // namespace

CPlatform& GetPlatform()
{
    if (t_pThreadPlatform)
        return *t_pThreadPlatform;
    return s_pInstalled ? *s_pInstalled : DefaultPlatform();
}

CPlatform* InstallPlatform(CPlatform* pPlatform)
{
    CPlatform* pPrevious = s_pInstalled;
    s_pInstalled = pPlatform;
    return pPrevious;
}

CScopedThreadPlatform::CScopedThreadPlatform(CPlatform& platform) : m_pPrevious(t_pThreadPlatform)
{
    t_pThreadPlatform = &platform;
}

CScopedThreadPlatform::~CScopedThreadPlatform() { t_pThreadPlatform = m_pPrevious; }

}  // namespace gridmorph
