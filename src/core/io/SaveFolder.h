#pragma once
// Shared inside core/io only, by the writer and its commit journal: where a save puts the
// hidden files it makes beside its target, how they are named and recognised, and the
// folder lock held while they are renamed or tidied. Nothing outside core/io includes
// this header.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "io/SafeFileWriter.h"

namespace gridmorph::io_detail {

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& strPath);

// The file a path names once its symbolic links are followed (a link that names a file
// not there yet gives that file). Relative links count from the link's folder.
std::string FollowLinks(std::string strPath);

// A path that names the same file from any working folder.
std::string Absolute(const std::string& strPath);

// The marks of the hidden files a save makes beside its target: ".NAME" + mark + eight
// letters or digits.
constexpr const char* kTemporaryMark = ".gmtmp-";
constexpr const char* kKeptMark = ".gmprev-";
constexpr const char* kJournalMark = ".gmjournal-";

// A hidden name beside strTarget that nothing has yet: ".NAME" + pMark + 8 random letters.
// With bCreate the file is made (O_EXCL) and its descriptor returned, else -1 (errno set);
// without, -1 and the name alone.
int NewHiddenName(const std::string& strTarget, const char* pMark, bool bCreate, std::string& strName);

// Whether a folder entry is a hidden file of this writer of the kind pMark: ".", any
// name, the mark, then exactly eight letters or digits.
bool HasMark(const std::string& strEntry, const char* pMark);

// A lock on a folder (flock on the folder itself), held while files in it are put in
// place or tidied, so that two processes never interleave their renames. A folder that
// cannot be locked (a file system without locks) is used unlocked.
class CFolderLock {
public:
    explicit CFolderLock(const std::string& strFolder)
        : m_strFolder(strFolder), m_strKey(CanonicalFolder(strFolder)),
          m_nFd(open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_nFd >= 0)
            while (flock(m_nFd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~CFolderLock()
    {
        if (m_nFd >= 0)
            close(m_nFd);  // closing the last descriptor releases the lock
    }
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;
    // Makes the folder's entries durable (the renames done in it).
    bool Flush() const { return m_nFd < 0 || CFileSystemCalls::Current().Fsync(m_nFd) == 0; }
    const std::string& Folder() const { return m_strFolder; }
    // The folder's own name, the same however it was reached.
    const std::string& Key() const { return m_strKey; }

    static std::string CanonicalFolder(const std::string& strFolder)
    {
        char* pResolved = realpath(strFolder.c_str(), nullptr);
        if (!pResolved)
            return strFolder;
        std::string strResolved = pResolved;
        std::free(pResolved);
        return strResolved;
    }

private:
    std::string m_strFolder;
    std::string m_strKey;
    int m_nFd;
};

using CFolderLocks = std::vector<std::unique_ptr<CFolderLock>>;

// Every folder of the list locked once (a folder named twice, perhaps by two spellings,
// would otherwise wait for itself), in one order, so that two processes never wait for
// each other.
CFolderLocks LockFolders(const std::vector<std::string>& aFolders);
// Makes the entries of every locked folder durable; false when one could not be flushed.
bool FlushFolders(const CFolderLocks& aLocks);

}  // namespace gridmorph::io_detail
