#include "io/SafeFileWriter.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace gridmorph {
namespace {

std::string FolderOf(const std::string& strPath)
{
    const auto nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string BaseNameOf(const std::string& strPath)
{
    const auto nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// The file a path names once its symbolic links are followed (a link that names a file
// not there yet gives that file). Relative links count from the link's folder.
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

// Creates a new file with a name of its own beside the target, mode 0666 less the
// umask. Returns the descriptor, or -1 with errno set.
int CreateTemporaryFile(const std::string& strTarget, std::string& strTemporaryPath)
{
    static const char s_szLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string strPrefix = FolderOf(strTarget) + "/." + BaseNameOf(strTarget) + ".";
    for (int nAttempt = 0; nAttempt < 100; ++nAttempt) {
        unsigned char aRandom[8] = {};
        if (getrandom(aRandom, sizeof aRandom, 0) != static_cast<ssize_t>(sizeof aRandom))
            for (unsigned char& c : aRandom)
                c = static_cast<unsigned char>(std::rand());
        strTemporaryPath = strPrefix;
        for (unsigned char c : aRandom)
            strTemporaryPath += s_szLetters[c % (sizeof s_szLetters - 1)];
        const int nFd = open(strTemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (nFd >= 0 || errno != EEXIST)
            return nFd;
    }
    return -1;
}

}  // namespace

CSafeFileWriter::CSafeFileWriter(std::string strTargetPath) : m_strTargetPath(std::move(strTargetPath)) {}

CSafeFileWriter::~CSafeFileWriter() { Discard(); }

bool CSafeFileWriter::Open(std::string& strError)
{
    Discard();
    if (m_strTargetPath.empty() || m_strTargetPath.back() == '/') {
        strError = "no file name given";
        return false;
    }
    m_strReplacedPath = FollowLinks(m_strTargetPath);
    const std::string strFolder = FolderOf(m_strReplacedPath);
    const int nFd = CreateTemporaryFile(m_strReplacedPath, m_strTemporaryPath);
    if (nFd < 0) {
        const int nErrno = errno;
        strError = "cannot create a file in " + strFolder + ": " + std::strerror(nErrno);
        if ((nErrno == EACCES || nErrno == EPERM) && access(m_strReplacedPath.c_str(), W_OK) == 0)
            strError += " (the file itself may be written, but a save first writes a complete new file beside it "
                        "and then puts it in the old one's place, so the folder must let files be created)";
        m_strTemporaryPath.clear();
        return false;
    }
    // A replaced file keeps its permissions; a new one has the umask's from its creation.
    struct stat existing {};
    if (stat(m_strReplacedPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        fchmod(nFd, existing.st_mode & 07777);

    m_pFile = fdopen(nFd, "wb");
    if (!m_pFile) {
        strError = std::string("cannot open the file for writing: ") + std::strerror(errno);
        close(nFd);
        unlink(m_strTemporaryPath.c_str());
        m_strTemporaryPath.clear();
        return false;
    }
    m_bOpen = true;
    return true;
}

int CSafeFileWriter::DuplicateDescriptor() const
{
    if (!m_pFile)
        return -1;
    std::fflush(m_pFile);
    return dup(fileno(m_pFile));
}

bool CSafeFileWriter::Finish(std::string& strError)
{
    if (!m_bOpen) {
        strError = "the file was not opened";
        return false;
    }
    if (!m_pFile)
        return true;  // finished already
    errno = 0;
    bool bGood = std::fflush(m_pFile) == 0 && !std::ferror(m_pFile);
    const int nFlushErrno = errno;
    bGood = (std::fclose(m_pFile) == 0) && bGood;
    m_pFile = nullptr;
    if (!bGood) {
        strError = std::string("writing the file failed: ") + std::strerror(nFlushErrno ? nFlushErrno : errno);
        return false;
    }
    return true;
}

bool CSafeFileWriter::Commit(std::string& strError)
{
    std::size_t nFailed = 0;
    return CommitTogether({this}, strError, nFailed);
}

bool CSafeFileWriter::CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters, std::string& strError,
                                     std::size_t& nFailed)
{
    const std::vector<CSafeFileWriter*> aList(aWriters);
    auto DiscardAll = [&] {
        for (CSafeFileWriter* pWriter : aList)
            pWriter->Discard();
    };
    for (nFailed = 0; nFailed < aList.size(); ++nFailed) {
        if (!aList[nFailed]->Finish(strError)) {
            DiscardAll();
            return false;
        }
    }

    // Each replaced file stays reachable under a second name (a hard link) until all
    // are in place, so a failed rename can put back what was there.
    std::vector<std::string> aKept(aList.size());
    std::vector<bool> aExisted(aList.size());
    auto DropKept = [&] {
        for (const std::string& strKept : aKept)
            if (!strKept.empty())
                unlink(strKept.c_str());
    };
    for (nFailed = 0; nFailed < aList.size(); ++nFailed) {
        CSafeFileWriter& writer = *aList[nFailed];
        struct stat info {};
        aExisted[nFailed] = lstat(writer.m_strReplacedPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        if (aExisted[nFailed] && aList.size() > 1) {
            const std::string strKept = writer.m_strTemporaryPath + ".previous";
            if (link(writer.m_strReplacedPath.c_str(), strKept.c_str()) == 0)
                aKept[nFailed] = strKept;
        }
        if (rename(writer.m_strTemporaryPath.c_str(), writer.m_strReplacedPath.c_str()) != 0) {
            strError = "cannot replace " + writer.m_strReplacedPath + ": " + std::strerror(errno);
            for (std::size_t i = 0; i < nFailed; ++i) {
                const std::string& strTarget = aList[i]->m_strReplacedPath;
                if (!aKept[i].empty() && rename(aKept[i].c_str(), strTarget.c_str()) == 0)
                    aKept[i].clear();
                else if (!aExisted[i])
                    unlink(strTarget.c_str());
            }
            DropKept();
            DiscardAll();
            return false;
        }
        writer.m_strTemporaryPath.clear();
        writer.m_bOpen = false;
    }
    DropKept();
    return true;
}

void CSafeFileWriter::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_strTemporaryPath.empty()) {
        unlink(m_strTemporaryPath.c_str());
        m_strTemporaryPath.clear();
    }
    m_bOpen = false;
}

bool WriteTextFile(const std::string& strPath, const std::string& strText)
{
    CSafeFileWriter writer(strPath);
    std::string strError;
    if (!writer.Open(strError))
        return false;
    if (std::fwrite(strText.data(), 1, strText.size(), writer.File()) != strText.size())
        return false;
    return writer.Commit(strError);
}

}  // namespace gridmorph
