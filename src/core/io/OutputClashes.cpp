#include "io/OutputClashes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace gridmorph {
namespace {

std::string Lower(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// The name of a file with its folder made absolute and free of links, and its own name
// in lower case: two names with the same key are one sidecar to the world-file search.
std::string NameKey(const std::string& strPath)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(strPath, error);
    if (error)
        path = strPath;
    path = path.lexically_normal();
    std::filesystem::path folder = path.parent_path();
    std::string strName = path.filename().string();
    if (strName.empty()) {  // a name ending in a slash
        strName = folder.filename().string();
        folder = folder.parent_path();
    }
    char szResolved[PATH_MAX];
    const std::string strFolder = realpath(folder.c_str(), szResolved) ? std::string(szResolved) : folder.string();
    return strFolder + "/" + Lower(strName);
}

// The names a path stands for: the path itself and, for a symbolic link, every name along
// the chain of links down to the file it finally names (which need not exist yet).
std::vector<std::string> NameKeys(std::string strPath)
{
    std::vector<std::string> aKeys = {NameKey(strPath)};
    for (int nDepth = 0; nDepth < 40; ++nDepth) {
        struct stat info {};
        if (lstat(strPath.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        std::vector<char> aLink(PATH_MAX + 1);
        const ssize_t nLength = readlink(strPath.c_str(), aLink.data(), aLink.size() - 1);
        if (nLength <= 0)
            break;
        const std::string strLink(aLink.data(), static_cast<std::size_t>(nLength));
        const auto nSlash = strPath.find_last_of('/');
        const std::string strFolder = nSlash == std::string::npos ? "." : strPath.substr(0, nSlash + 1);
        strPath = strLink.front() == '/' ? strLink : strFolder + "/" + strLink;
        aKeys.push_back(NameKey(strPath));
    }
    return aKeys;
}

}  // namespace

void COutputSet::AddRead(const std::string& strPath, const std::string& strRole)
{
    if (!strPath.empty())
        m_aEntries.push_back(SEntry{strPath, strRole, false});
}

void COutputSet::AddWritten(const std::string& strPath, const std::string& strRole)
{
    if (!strPath.empty())
        m_aEntries.push_back(SEntry{strPath, strRole, true});
}

std::string COutputSet::FindClash() const
{
    struct SFacts {
        std::vector<std::string> aKeys;
        bool bExists = false;
        dev_t nDevice = 0;
        ino_t nInode = 0;
    };
    std::vector<SFacts> aFacts(m_aEntries.size());
    for (std::size_t i = 0; i < m_aEntries.size(); ++i) {
        aFacts[i].aKeys = NameKeys(m_aEntries[i].strPath);
        struct stat info {};
        if (stat(m_aEntries[i].strPath.c_str(), &info) == 0) {
            aFacts[i].bExists = true;
            aFacts[i].nDevice = info.st_dev;
            aFacts[i].nInode = info.st_ino;
        }
    }
    for (std::size_t w = 0; w < m_aEntries.size(); ++w) {
        if (!m_aEntries[w].bWritten)
            continue;
        // Reads first: replacing what the work reads is the worse fault to name.
        for (int nPass = 0; nPass < 2; ++nPass) {
            for (std::size_t o = 0; o < m_aEntries.size(); ++o) {
                if (o == w || m_aEntries[o].bWritten != (nPass == 1))
                    continue;
                if (m_aEntries[o].bWritten && o < w)
                    continue;  // a pair of outputs is named once, the earlier one first
                bool bSame = aFacts[w].bExists && aFacts[o].bExists && aFacts[w].nDevice == aFacts[o].nDevice &&
                             aFacts[w].nInode == aFacts[o].nInode;
                for (const std::string& strKey : aFacts[w].aKeys)
                    for (const std::string& strOther : aFacts[o].aKeys)
                        bSame = bSame || strKey == strOther;
                if (bSame)
                    return m_aEntries[w].strRole + " " + m_aEntries[w].strPath + " is the same file as " +
                           m_aEntries[o].strRole + " " + m_aEntries[o].strPath + " and would replace it";
            }
        }
    }
    return std::string();
}

}  // namespace gridmorph
