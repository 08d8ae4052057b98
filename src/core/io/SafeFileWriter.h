#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace gridmorph {

// Writes a file so that a failure never damages what was there before: everything goes
// to a temporary file in the target's folder, which is renamed over the target only
// once it is complete. A writer that is neither committed nor discarded removes its
// temporary file when destroyed.
//
// A new file gets the mode the process's umask gives (0666 less the umask, applied by
// the kernel as the file is created, so the umask itself is never touched); a replaced
// file keeps its permission bits. A target that is a symbolic link stays one: the file
// it names (through any chain of links) is the one replaced.
class CSafeFileWriter {
public:
    explicit CSafeFileWriter(std::string strTargetPath);
    ~CSafeFileWriter();
    CSafeFileWriter(const CSafeFileWriter&) = delete;
    CSafeFileWriter& operator=(const CSafeFileWriter&) = delete;

    // Creates the temporary file. On failure strError says why.
    bool Open(std::string& strError);

    // The temporary file as a stdio stream (owned by the writer).
    std::FILE* File() const { return m_pFile; }
    // A duplicate descriptor of the temporary file for libraries that close what they
    // are given; the caller (or the library) closes it. -1 on failure.
    int DuplicateDescriptor() const;

    // Flushes, closes and renames the temporary file over the target.
    bool Commit(std::string& strError);
    // Closes and removes the temporary file; the target is untouched.
    void Discard();

    // Commits several writers as one: every file is flushed to the disc and closed before
    // any target is replaced, and the files of aRemoved (an old sidecar the new set does
    // not have; a name that is not there is left alone) go with the replacements. Each
    // file replaced is kept under a hidden name (".NAME.XXXXXXXX.previous", ".removed" for
    // one taken away; by a hard link where the file system has them, else by a rename)
    // until the whole set is in place and the folder is flushed; when a step fails, the
    // files kept get their names back and new ones are removed. Should putting one back
    // fail too, it stays under its hidden name (strError says where) and the next save of
    // that file gives it its name back before anything else. The folders are locked
    // (flock) meanwhile, so two processes saving the same set end with the set of one of
    // them. On failure strError says why and nFailed is the position of the writer that
    // failed (aWriters.size() and on for the files of aRemoved); all temporary files are
    // gone.
    static bool CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters, std::string& strError,
                               std::size_t& nFailed);
    static bool CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters,
                               const std::vector<std::string>& aRemoved, std::string& strError, std::size_t& nFailed);

    // The path as given, and the file actually replaced (the end of its links).
    const std::string& TargetPath() const { return m_strTargetPath; }
    const std::string& ReplacedPath() const { return m_strReplacedPath; }
    const std::string& TemporaryPath() const { return m_strTemporaryPath; }

private:
    bool Finish(std::string& strError);
    void ReleaseTemporary();

    std::string m_strTargetPath;
    std::string m_strReplacedPath;
    std::string m_strTemporaryPath;
    std::FILE* m_pFile = nullptr;
    int m_nLockFd = -1;  // holds a lock on the temporary file while it is this writer's
    int m_nSlot = -1;    // its place in the list a signal handler removes
    bool m_bOpen = false;
};

// The system calls the writer makes to put files in place, replaceable so that tests can
// make any one of them fail (CScopedFileSystemCalls).
class CFileSystemCalls {
public:
    virtual ~CFileSystemCalls() = default;
    virtual int Fsync(int nFd);
    virtual int Rename(const char* pFrom, const char* pTo);
    virtual int Link(const char* pFrom, const char* pTo);
    virtual int Unlink(const char* pPath);
    // The calls in use now.
    static CFileSystemCalls& Current();
};

class CScopedFileSystemCalls {
public:
    explicit CScopedFileSystemCalls(CFileSystemCalls& calls);
    ~CScopedFileSystemCalls();
    CScopedFileSystemCalls(const CScopedFileSystemCalls&) = delete;
    CScopedFileSystemCalls& operator=(const CScopedFileSystemCalls&) = delete;

private:
    CFileSystemCalls* m_pPrevious;
};

// Removes every temporary file a writer of this process has open; safe in a signal
// handler. RemoveTemporaryFilesOnSignals makes SIGINT, SIGTERM and SIGHUP call it before
// the process ends as the signal would have ended it.
void RemoveTemporaryFilesNow();
void RemoveTemporaryFilesOnSignals();

// Writes a small text file (world file, .prj, locator file) through a CSafeFileWriter;
// false when it cannot be written, and then whatever was there is left as it was.
bool WriteTextFile(const std::string& strPath, const std::string& strText);

}  // namespace gridmorph
