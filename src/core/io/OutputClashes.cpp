#include "io/OutputClashes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

void COutputSet::Truncate(std::size_t nCount)
{
    if (nCount < m_aEntries.size())
        m_aEntries.resize(nCount);
    if (nCount < m_aFacts.size())
        m_aFacts.resize(nCount);
}

const COutputSet::SFacts& COutputSet::Facts(std::size_t i) const
{
    while (m_aFacts.size() <= i) {
        const std::string& strPath = m_aEntries[m_aFacts.size()].strPath;
        SFacts facts;
        facts.aKeys = NameKeys(strPath);
        struct stat info {};
        if (stat(strPath.c_str(), &info) == 0) {
            facts.bExists = true;
            facts.nDevice = info.st_dev;
            facts.nInode = info.st_ino;
        }
        m_aFacts.push_back(std::move(facts));
    }
    return m_aFacts[i];
}

bool COutputSet::Same(std::size_t a, std::size_t b) const
{
    Facts(std::max(a, b));  // looked up before either is referred to: the list grows
    const SFacts& first = m_aFacts[a];
    const SFacts& second = m_aFacts[b];
    if (first.bExists && second.bExists && first.nDevice == second.nDevice && first.nInode == second.nInode)
        return true;
    for (const std::string& strKey : first.aKeys)
        for (const std::string& strOther : second.aKeys)
            if (strKey == strOther)
                return true;
    return false;
}

std::optional<COutputSet::SClash> COutputSet::FindClashFrom(std::size_t nFirst) const
{
    for (std::size_t w = 0; w < m_aEntries.size(); ++w) {
        if (!m_aEntries[w].bWritten)
            continue;
        // Reads first: replacing what the work reads is the worse fault to name.
        for (int nPass = 0; nPass < 2; ++nPass) {
            for (std::size_t o = w < nFirst ? nFirst : 0; o < m_aEntries.size(); ++o) {
                if (o == w || m_aEntries[o].bWritten != (nPass == 1))
                    continue;
                if (m_aEntries[o].bWritten && o < w)
                    continue;  // a pair of outputs is named once, the earlier one first
                if (Same(w, o))
                    return SClash{w, o};
            }
        }
    }
    return std::nullopt;
}

std::string COutputSet::FindClash() const
{
    m_aFacts.clear();  // the files as they are now
    const std::optional<SClash> clash = FindClashFrom(0);
    if (!clash)
        return std::string();
    const SEntry& written = m_aEntries[clash->nWritten];
    const SEntry& other = m_aEntries[clash->nOther];
    return written.strRole + " " + written.strPath + " is the same file as " + other.strRole + " " + other.strPath +
           " and would replace it";
}

}  // namespace gridmorph
