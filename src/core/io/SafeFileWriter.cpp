#include "io/SafeFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace gridmorph {
namespace {

mode_t CurrentUmask()
{
    // umask can only be read by setting it; the program has one thread, so the brief
    // change is invisible.
    const mode_t nMask = umask(0);
    umask(nMask);
    return nMask;
}

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
    std::string strTemplate = FolderOf(m_strTargetPath) + "/." + BaseNameOf(m_strTargetPath) + ".XXXXXX";
    std::vector<char> aName(strTemplate.begin(), strTemplate.end());
    aName.push_back('\0');
    const int nFd = mkstemp(aName.data());
    if (nFd < 0) {
        strError = "cannot create a file in " + FolderOf(m_strTargetPath) + ": " + std::strerror(errno);
        return false;
    }
    m_strTemporaryPath.assign(aName.data());

    struct stat existing {};
    const mode_t nMode = (stat(m_strTargetPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
                             ? (existing.st_mode & 07777)
                             : (0666 & ~CurrentUmask());
    fchmod(nFd, nMode);

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

bool CSafeFileWriter::Commit(std::string& strError)
{
    if (!m_bOpen) {
        strError = "the file was not opened";
        return false;
    }
    bool bGood = std::fflush(m_pFile) == 0 && !std::ferror(m_pFile);
    const int nFlushErrno = errno;
    bGood = (std::fclose(m_pFile) == 0) && bGood;
    m_pFile = nullptr;
    if (!bGood) {
        strError = std::string("writing the file failed: ") + std::strerror(nFlushErrno ? nFlushErrno : errno);
        Discard();
        return false;
    }
    if (rename(m_strTemporaryPath.c_str(), m_strTargetPath.c_str()) != 0) {
        strError = "cannot replace " + m_strTargetPath + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    m_bOpen = false;
    m_strTemporaryPath.clear();
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
