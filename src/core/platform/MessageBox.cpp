#include "platform/MessageBox.h"

#include "platform/Platform.h"

namespace gridmorph {

CMessageBox::~CMessageBox() { EndProgress(); }

void CMessageBox::StartProgress(int nLower, int nUpper, const std::string& strText)
{
    m_bActive = true;
    m_nPosition = nLower;
    GetPlatform().StartProgress(nLower, nUpper, strText);
}

int CMessageBox::SetProgress(int nPosition, const std::string& strText)
{
    const int nPrevious = m_nPosition;
    m_nPosition = nPosition;
    if (m_bActive)
        GetPlatform().SetProgress(nPosition, strText);
    return nPrevious;
}

int CMessageBox::SetProgress(int nPosition) { return SetProgress(nPosition, std::string()); }

void CMessageBox::EndProgress()
{
    if (!m_bActive)
        return;
    m_bActive = false;
    GetPlatform().EndProgress();
}

}  // namespace gridmorph
