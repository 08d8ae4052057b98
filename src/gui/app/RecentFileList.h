#pragma once

#include <string>
#include <vector>

namespace gridmorph {

class CPlatform;

// The recent-file list of the File menu: at most eight paths, the newest first, kept in
// the settings (section "Recent File List", entries "File1" to "File8").
class CRecentFileList {
public:
    static constexpr int kSize = 8;

    explicit CRecentFileList(CPlatform& platform);

    void Add(const std::string& strPath);
    void Remove(std::size_t nIndex);
    const std::vector<std::string>& Paths() const { return m_aPaths; }

private:
    void Write();

    CPlatform& m_platform;
    std::vector<std::string> m_aPaths;
};

}  // namespace gridmorph
