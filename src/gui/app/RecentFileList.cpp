#include "app/RecentFileList.h"

#include <algorithm>

#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kSection = "Recent File List";

std::string EntryName(int nIndex) { return "File" + std::to_string(nIndex + 1); }

}  // namespace

CRecentFileList::CRecentFileList(CPlatform& platform) : m_platform(platform)
{
    for (int i = 0; i < kSize; ++i) {
        const std::string strPath = m_platform.GetProfileString(kSection, EntryName(i), "");
        if (!strPath.empty() && std::find(m_aPaths.begin(), m_aPaths.end(), strPath) == m_aPaths.end())
            m_aPaths.push_back(strPath);
    }
}

void CRecentFileList::Add(const std::string& strPath)
{
    if (strPath.empty())
        return;
    // Paths are compared as written: on this system names that differ in case are
    // different files.
    m_aPaths.erase(std::remove(m_aPaths.begin(), m_aPaths.end(), strPath), m_aPaths.end());
    m_aPaths.insert(m_aPaths.begin(), strPath);
    if (m_aPaths.size() > static_cast<std::size_t>(kSize))
        m_aPaths.resize(kSize);
    Write();
}

void CRecentFileList::Remove(std::size_t nIndex)
{
    if (nIndex >= m_aPaths.size())
        return;
    m_aPaths.erase(m_aPaths.begin() + static_cast<std::ptrdiff_t>(nIndex));
    Write();
}

void CRecentFileList::Write()
{
    for (int i = 0; i < kSize; ++i)
        m_platform.WriteProfileString(kSection, EntryName(i),
                                      static_cast<std::size_t>(i) < m_aPaths.size() ? m_aPaths[static_cast<std::size_t>(i)] : "");
}

}  // namespace gridmorph
