#include "io/OutputClashes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <tuple>
#include <vector>

namespace gridmorph {
namespace {

std::string Lower(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

}  // namespace

// The name of a file with its folder made absolute and free of links, and its own name
// in lower case: two names with the same key are one sidecar to the world-file search.
// Each folder is resolved once.
std::string COutputSet::NameKey(const std::string& strPath) const
{
    if (m_strCurrentFolder.empty()) {  // looked up once
        std::error_code error;
        m_strCurrentFolder = std::filesystem::current_path(error).string();
        if (error || m_strCurrentFolder.empty())
            m_strCurrentFolder.assign(1, '.');  // not = ".": GCC 12 warns falsely (-Wrestrict) there
    }
    std::filesystem::path path =
        strPath.front() == '/' ? std::filesystem::path(strPath) : std::filesystem::path(m_strCurrentFolder) / strPath;
    path = path.lexically_normal();
    std::filesystem::path folder = path.parent_path();
    std::string strName = path.filename().string();
    if (strName.empty()) {  // a name ending in a slash
        strName = folder.filename().string();
        folder = folder.parent_path();
    }
    const auto [it, bNew] = m_aFolders.try_emplace(folder.string());
    if (bNew) {
        char szResolved[PATH_MAX];
        it->second = realpath(folder.c_str(), szResolved) ? std::string(szResolved) : folder.string();
    }
    return it->second + "/" + Lower(strName);
}

// The names a path stands for: the path itself and, for a symbolic link, every name along
// the chain of links down to the file it finally names (which need not exist yet).
std::vector<std::string> COutputSet::NameKeys(std::string strPath) const
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
        std::string strKey = NameKey(strPath);
        if (std::find(aKeys.begin(), aKeys.end(), strKey) == aKeys.end())
            aKeys.push_back(std::move(strKey));
    }
    return aKeys;
}

void COutputSet::AddRead(const std::string& strPath, const std::string& strRole, EScope eScope)
{
    if (!strPath.empty())
        m_aEntries.push_back(SEntry{strPath, strRole, false, eScope});
}

void COutputSet::AddWritten(const std::string& strPath, const std::string& strRole, EScope eScope)
{
    if (!strPath.empty())
        m_aEntries.push_back(SEntry{strPath, strRole, true, eScope});
}

void COutputSet::Truncate(std::size_t nCount)
{
    Forget(nCount);
    if (nCount < m_aEntries.size())
        m_aEntries.resize(nCount);
}

void COutputSet::Forget(std::size_t nCount) const
{
    // The entries were indexed in order: theirs are the last in every list they are in.
    while (m_aFacts.size() > nCount) {
        const std::size_t i = m_aFacts.size() - 1;
        const bool bWritten = m_aEntries[i].bWritten;
        for (SSameFile* pSame : m_aFacts[i].aSame) {
            std::vector<std::size_t>& aList = bWritten ? pSame->aWritten : pSame->aRead;
            if (!aList.empty() && aList.back() == i)
                aList.pop_back();
        }
        m_aFacts.pop_back();
    }
}

// What is known of a path on disc: its names and, when it exists, its file.
COutputSet::SFacts COutputSet::LookUp(const std::string& strPath) const
{
    SFacts facts;
    struct stat info {};
    if (lstat(strPath.c_str(), &info) != 0) {
        facts.aKeys = {NameKey(strPath)};
        return facts;
    }
    if (S_ISLNK(info.st_mode)) {
        facts.aKeys = NameKeys(strPath);
        if (stat(strPath.c_str(), &info) != 0)
            return facts;
    } else {
        facts.aKeys = {NameKey(strPath)};
    }
    facts.bExists = true;
    facts.nDevice = info.st_dev;
    facts.nInode = info.st_ino;
    return facts;
}

void COutputSet::LookUpAll() const
{
    while (m_aFacts.size() < m_aEntries.size()) {
        const std::size_t i = m_aFacts.size();
        const SEntry& entry = m_aEntries[i];
        SFacts facts = LookUp(entry.strPath);
        for (const std::string& strKey : facts.aKeys)
            facts.aSame.push_back(&m_aByName[strKey]);
        if (facts.bExists)
            facts.aSame.push_back(&m_aByFile[{facts.nDevice, facts.nInode}]);
        for (SSameFile* pSame : facts.aSame)
            (entry.bWritten ? pSame->aWritten : pSame->aRead).push_back(i);
        m_aFacts.push_back(std::move(facts));
    }
}

std::optional<COutputSet::SClash> COutputSet::FindClashFrom(std::size_t nFirst) const
{
    LookUpAll();
    // The clash named is the first in the order of the written entry, then reads before
    // writes (replacing what the work reads is the worse fault to name), then the other
    // entry; a pair of outputs is named once, the earlier one first.
    struct SOrder {
        std::size_t nWritten, nPass, nOther;
        bool operator<(const SOrder& other) const
        {
            return std::tie(nWritten, nPass, nOther) < std::tie(other.nWritten, other.nPass, other.nOther);
        }
    };
    std::optional<SOrder> best;
    const auto Consider = [&best](std::size_t nWritten, std::size_t nPass, std::size_t nOther) {
        const SOrder order{nWritten, nPass, nOther};
        if (!best || order < *best)
            best = order;
    };
    // Two entries are compared unless both are checked already, or both are of the new
    // piece and one of them matters to other pieces only.
    const auto Compared = [&](std::size_t a, std::size_t b) {
        if (a == b || (a < nFirst && b < nFirst))
            return false;
        const bool bOnlyOthers =
            m_aEntries[a].eScope == EScope::OtherPieces || m_aEntries[b].eScope == EScope::OtherPieces;
        return !(bOnlyOthers && a >= nFirst && b >= nFirst);
    };
    const auto Meet = [&](std::size_t e, const SSameFile& same) {
        if (m_aEntries[e].bWritten) {
            // The first read it is compared with: the earlier pieces' reads come first and
            // are always compared, so the search stops at once.
            for (const std::size_t r : same.aRead)
                if (Compared(e, r)) {
                    Consider(e, 0, r);
                    break;
                }
            for (const std::size_t w : same.aWritten)
                if (Compared(e, w))
                    Consider(std::min(e, w), 1, std::max(e, w));
        } else {
            for (const std::size_t w : same.aWritten)
                if (Compared(e, w)) {
                    Consider(w, 0, e);
                    break;  // in order: the first written one is the one named
                }
        }
    };
    for (std::size_t e = nFirst; e < m_aEntries.size(); ++e)
        for (const SSameFile* pSame : m_aFacts[e].aSame)
            Meet(e, *pSame);
    if (!best)
        return std::nullopt;
    return SClash{best->nWritten, best->nOther};
}

std::string COutputSet::FindClash() const
{
    Forget(0);  // the files as they are now
    m_aByName.clear();
    m_aByFile.clear();
    m_aFolders.clear();
    m_strCurrentFolder.clear();
    const std::optional<SClash> clash = FindClashFrom(0);
    if (!clash)
        return std::string();
    const SEntry& written = m_aEntries[clash->nWritten];
    const SEntry& other = m_aEntries[clash->nOther];
    return written.strRole + " " + written.strPath + " is the same file as " + other.strRole + " " + other.strPath +
           " and would replace it";
}

}  // namespace gridmorph
