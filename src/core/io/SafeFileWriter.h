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
// it names (through any chain of links) is the one replaced. Only regular files are
// replaced: a target that is (or links to) a folder, a device, a FIFO or a socket is
// refused, and so is one its user may not write unless eReadOnly says otherwise.
//
// The hidden files a save makes carry a mark no other program gives its files:
// ".NAME.gmtmp-XXXXXXXX" (the new file being written), ".NAME.gmprev-XXXXXXXX" (a previous
// file kept while a set is committed) and ".NAME.gmjournal-XXXXXXXX" (what a commit is
// doing, for finishing or undoing it after the process was killed). Only names of these
// kinds are ever tidied away.
enum class EReadOnlyFiles { Refuse, Replace };

class CSafeFileWriter {
public:
    explicit CSafeFileWriter(std::string strTargetPath, EReadOnlyFiles eReadOnly = EReadOnlyFiles::Refuse);
    ~CSafeFileWriter();
    CSafeFileWriter(const CSafeFileWriter&) = delete;
    CSafeFileWriter& operator=(const CSafeFileWriter&) = delete;

    // Finishes or undoes a commit of the target's folder that a killed process left
    // halfway (RecoverInterruptedCommits), then creates the temporary file. On failure
    // strError says why.
    bool Open(std::string& strError);
    // What Open found of an interrupted commit and did about it, a line each.
    const std::vector<std::string>& Recovered() const { return m_aRecovered; }

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
    // not have; a name that is not there is left alone) go with the replacements. Before
    // the first rename a journal naming every step is written (and flushed) in each folder
    // concerned; each file replaced is kept under a hidden name (by a hard link where the
    // file system has them, else by a rename) until the whole set is in place and the
    // folders are flushed; the journal is marked done, then the kept files go, the journal
    // last. When a step fails, the files kept get their names back and new ones are
    // removed. Should putting one back fail too, it stays under its hidden name (strError
    // says where) with the journal, and the next save or open of those files puts it back
    // before anything else; a process killed meanwhile leaves the same for the next one.
    // SIGINT, SIGTERM and SIGHUP wait until the commit is over. The folders are locked
    // (flock) meanwhile, so two processes saving the same set end with the set of one of
    // them. On failure strError says why and nFailed is the position of the writer that
    // failed (aWriters.size() and on for the files of aRemoved); all temporary files are
    // gone.
    static bool CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters, std::string& strError,
                               std::size_t& nFailed);
    static bool CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters,
                               const std::vector<std::string>& aRemoved, std::string& strError, std::size_t& nFailed);
    static bool CommitTogether(const std::vector<CSafeFileWriter*>& aWriters, const std::vector<std::string>& aRemoved,
                               std::string& strError, std::size_t& nFailed);

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
    struct STemporaryEntry* m_pListed = nullptr;  // its place in the list a signal handler removes
    bool m_bOpen = false;
    EReadOnlyFiles m_eReadOnly;
    std::vector<std::string> m_aRecovered;
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
// the process ends as the signal would have ended it (a signal that arrives while a set
// is being committed acts once the commit is over).
void RemoveTemporaryFilesNow();
void RemoveTemporaryFilesOnSignals();

// What stands in the way of saving strPath over what is there: nothing (no file yet, a
// regular file, or a link to one), a folder, a file that is not a regular one (a device,
// FIFO or socket, also through a link), or a file its user may not write (refused unless
// eReadOnly is Replace). strProblem names the file and says why.
enum class EReplaceProblem { None, Folder, NotRegular, ReadOnly };
EReplaceProblem CheckReplaceable(const std::string& strPath, EReadOnlyFiles eReadOnly, std::string& strProblem);

// Finishes or undoes every commit of several files that a killed (or twice failing)
// save left halfway in the folder of strPath (and of the file its links name): a commit
// whose new files were all in place and flushed is finished, any other is undone, so the
// folder holds either the whole previous set or the whole new one; then removes the
// temporary files no writer holds any more. Returns a line for each commit found, saying
// what was done.
std::vector<std::string> RecoverInterruptedCommits(const std::string& strPath);

// Writes a small text file (world file, .prj, locator file) through a CSafeFileWriter;
// false when it cannot be written (strError says why), and then whatever was there is
// left as it was.
bool WriteTextFile(const std::string& strPath, const std::string& strText,
                   EReadOnlyFiles eReadOnly = EReadOnlyFiles::Refuse);
bool WriteTextFile(const std::string& strPath, const std::string& strText, std::string& strError,
                   EReadOnlyFiles eReadOnly = EReadOnlyFiles::Refuse);

}  // namespace gridmorph
