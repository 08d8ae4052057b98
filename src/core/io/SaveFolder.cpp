#include "io/SaveFolder.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gridmorph::io_detail {
namespace {

std::string BaseNameOf(const std::string& strPath)
{
    const auto nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

bool IsLetterOrDigit(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string FolderOf(const std::string& strPath)
{
    const auto nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string FollowLinks(std::string strPath)
{
    for (int nDepth = 0; nDepth < 40; ++nDepth) {
        struct stat info {};
        if (lstat(strPath.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return strPath;
        std::vector<char> aLink(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t nLength = readlink(strPath.c_str(), aLink.data(), aLink.size());
        if (nLength <= 0 || static_cast<std::size_t>(nLength) >= aLink.size())
            return strPath;  // changed meanwhile: write to the path as given
        const std::string strLink(aLink.data(), static_cast<std::size_t>(nLength));
        strPath = strLink.front() == '/' ? strLink : FolderOf(strPath) + "/" + strLink;
    }
    return strPath;  // a loop of links: the rename will report it
}

int NewHiddenName(const std::string& strTarget, const char* pMark, bool bCreate, std::string& strName)
{
    static const char s_szLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string strPrefix = FolderOf(strTarget);
    strPrefix += "/.";
    strPrefix += BaseNameOf(strTarget);
    strPrefix += pMark;
    for (int nAttempt = 0; nAttempt < 100; ++nAttempt) {
        unsigned char aRandom[8] = {};
        if (getrandom(aRandom, sizeof aRandom, 0) != static_cast<ssize_t>(sizeof aRandom))
            for (unsigned char& c : aRandom)
                c = static_cast<unsigned char>(std::rand());
        strName = strPrefix;
        for (unsigned char c : aRandom)
            strName += s_szLetters[c % (sizeof s_szLetters - 1)];
        if (bCreate) {
            const int nFd = open(strName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (nFd >= 0 || errno != EEXIST)
                return nFd;
        } else {
            struct stat info {};
            if (lstat(strName.c_str(), &info) != 0)
                return -1;
        }
    }
    return -1;
}

bool HasMark(const std::string& strEntry, const char* pMark)
{
    const std::size_t nMark = std::strlen(pMark);
    if (strEntry.size() < 2 + nMark + 8 || strEntry[0] != '.')
        return false;
    const std::size_t nAt = strEntry.size() - 8 - nMark;
    if (strEntry.compare(nAt, nMark, pMark) != 0)
        return false;
    for (std::size_t i = strEntry.size() - 8; i < strEntry.size(); ++i)
        if (!IsLetterOrDigit(strEntry[i]))
            return false;
    return true;
}

std::string Absolute(const std::string& strPath)
{
    if (!strPath.empty() && strPath.front() == '/')
        return strPath;
    std::vector<char> aFolder(PATH_MAX);
    if (!getcwd(aFolder.data(), aFolder.size()))
        return strPath;
    return std::string(aFolder.data()) + "/" + strPath;
}

CFolderLocks LockFolders(const std::vector<std::string>& aFolders)
{
    std::vector<std::pair<std::string, std::string>> aKeyed;  // the folder's own name, the name given
    for (const std::string& strFolder : aFolders)
        aKeyed.emplace_back(CFolderLock::CanonicalFolder(strFolder), strFolder);
    std::stable_sort(aKeyed.begin(), aKeyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    aKeyed.erase(std::unique(aKeyed.begin(), aKeyed.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                 aKeyed.end());
    CFolderLocks aLocks;
    for (const auto& [strKey, strFolder] : aKeyed)
        aLocks.push_back(std::make_unique<CFolderLock>(strFolder));
    return aLocks;
}

bool FlushFolders(const CFolderLocks& aLocks)
{
    bool bFlushed = true;
    for (const auto& pLock : aLocks)
        bFlushed = pLock->Flush() && bFlushed;
    return bFlushed;
}

}  // namespace gridmorph::io_detail
