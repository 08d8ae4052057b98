#include "io/SafeFileWriter.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "io/CommitJournal.h"
#include "io/SaveFolder.h"

namespace gridmorph {

using namespace io_detail;

namespace {

CFileSystemCalls s_defaultCalls;
CFileSystemCalls* s_pCalls = &s_defaultCalls;

}  // namespace

// The temporary files open now, for a signal handler: a list that only grows, its entries
// made outside the handler and reused. An entry is claimed (1), its path written, then
// listed (2); the handler removes the listed ones. Nothing in it is ever freed, so the
// handler may walk it at any moment.
struct STemporaryEntry {
    std::atomic<int> nState{0};
    char* pPath = nullptr;
    std::size_t nCapacity = 0;
    STemporaryEntry* pNext = nullptr;  // set before the entry is published, never changed
};

namespace {

std::atomic<STemporaryEntry*> s_pTemporaryList{nullptr};

STemporaryEntry* ListTemporary(const std::string& strPath)
{
    for (STemporaryEntry* pEntry = s_pTemporaryList.load(); pEntry; pEntry = pEntry->pNext) {
        int nFree = 0;
        if (pEntry->nCapacity > strPath.size() && pEntry->nState.compare_exchange_strong(nFree, 1)) {
            std::memcpy(pEntry->pPath, strPath.c_str(), strPath.size() + 1);
            pEntry->nState.store(2);
            return pEntry;
        }
    }
    auto* pEntry = new STemporaryEntry;
    pEntry->nCapacity = std::max<std::size_t>(strPath.size() + 1, 256);
    pEntry->pPath = new char[pEntry->nCapacity];
    std::memcpy(pEntry->pPath, strPath.c_str(), strPath.size() + 1);
    pEntry->nState.store(2);
    STemporaryEntry* pHead = s_pTemporaryList.load();
    do
        pEntry->pNext = pHead;
    while (!s_pTemporaryList.compare_exchange_weak(pHead, pEntry));
    return pEntry;
}

void UnlistTemporary(STemporaryEntry* pEntry)
{
    if (pEntry)
        pEntry->nState.store(0);
}

// Commits under way in this process, and a terminating signal that arrived meanwhile: it
// acts when the last of them is over, so that a signal never ends a process halfway
// through putting a set of files in place.
std::atomic<int> s_nCommitting{0};
std::atomic<int> s_nDeferredSignal{0};

void EndBySignal(int nSignal)
{
    RemoveTemporaryFilesNow();
    signal(nSignal, SIG_DFL);
    raise(nSignal);
}

void OnTerminatingSignal(int nSignal)
{
    if (s_nCommitting.load() > 0) {
        s_nDeferredSignal.store(nSignal);
        // The commit may have ended between the two loads: then no one else will act.
        if (s_nCommitting.load() > 0)
            return;
        nSignal = s_nDeferredSignal.exchange(0);
        if (nSignal == 0)
            return;
    }
    EndBySignal(nSignal);
}

sigset_t TerminatingSignals()
{
    sigset_t aSignals;
    sigemptyset(&aSignals);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&aSignals, nSignal);
    return aSignals;
}

// While one lives, the terminating signals wait (in this thread they are blocked; one
// handled by another thread is deferred by the handler).
class CCommitSection {
public:
    CCommitSection()
    {
        s_nCommitting.fetch_add(1);
        const sigset_t aSignals = TerminatingSignals();
        pthread_sigmask(SIG_BLOCK, &aSignals, &m_aPrevious);
    }
    ~CCommitSection()
    {
        const bool bLast = s_nCommitting.fetch_sub(1) == 1;
        pthread_sigmask(SIG_SETMASK, &m_aPrevious, nullptr);  // a signal blocked here acts now
        if (bLast)
            if (const int nSignal = s_nDeferredSignal.exchange(0); nSignal != 0)
                EndBySignal(nSignal);
    }
    CCommitSection(const CCommitSection&) = delete;
    CCommitSection& operator=(const CCommitSection&) = delete;

private:
    sigset_t m_aPrevious;
};

}  // namespace

int CFileSystemCalls::Fsync(int nFd) { return fsync(nFd); }
int CFileSystemCalls::Rename(const char* pFrom, const char* pTo) { return rename(pFrom, pTo); }
int CFileSystemCalls::Link(const char* pFrom, const char* pTo) { return link(pFrom, pTo); }
int CFileSystemCalls::Unlink(const char* pPath) { return unlink(pPath); }
CFileSystemCalls& CFileSystemCalls::Current() { return *s_pCalls; }

CScopedFileSystemCalls::CScopedFileSystemCalls(CFileSystemCalls& calls) : m_pPrevious(s_pCalls) { s_pCalls = &calls; }
CScopedFileSystemCalls::~CScopedFileSystemCalls() { s_pCalls = m_pPrevious; }

void RemoveTemporaryFilesNow()
{
    for (STemporaryEntry* pEntry = s_pTemporaryList.load(); pEntry; pEntry = pEntry->pNext)
        if (pEntry->nState.load() == 2)
            unlink(pEntry->pPath);
}

void RemoveTemporaryFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(nSignal, &action, nullptr);
}

EReplaceProblem CheckReplaceable(const std::string& strPath, EReadOnlyFiles eReadOnly, std::string& strProblem)
{
    strProblem.clear();
    if (!strPath.empty() && strPath.back() == '/') {
        strProblem = strPath + " names a folder, not a file";
        return EReplaceProblem::Folder;
    }
    const std::string strReplaced = FollowLinks(strPath);
    const std::string strWhere = strReplaced == strPath ? strPath : strPath + " (a link to " + strReplaced + ")";
    struct stat info {};
    if (stat(strReplaced.c_str(), &info) != 0)
        return EReplaceProblem::None;  // nothing there yet (or not reachable: the save will say why)
    if (S_ISDIR(info.st_mode)) {
        strProblem = strWhere + " is a folder, not a file";
        return EReplaceProblem::Folder;
    }
    if (!S_ISREG(info.st_mode)) {
        const char* pKind = S_ISCHR(info.st_mode)    ? "a character device"
                            : S_ISBLK(info.st_mode)  ? "a block device"
                            : S_ISFIFO(info.st_mode) ? "a FIFO"
                            : S_ISSOCK(info.st_mode) ? "a socket"
                                                     : "not a regular file";
        strProblem = strWhere + " is " + pKind + "; only regular files are replaced by a save";
        return EReplaceProblem::NotRegular;
    }
    // The superuser may write anything: a file nobody may write counts as read-only for
    // it too.
    if (eReadOnly == EReadOnlyFiles::Refuse &&
        ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
         (faccessat(AT_FDCWD, strReplaced.c_str(), W_OK, AT_EACCESS) != 0 && errno != EROFS))) {
        strProblem = strWhere + " is read-only (no permission to write it); it is not replaced";
        return EReplaceProblem::ReadOnly;
    }
    return EReplaceProblem::None;
}

CSafeFileWriter::CSafeFileWriter(std::string strTargetPath, EReadOnlyFiles eReadOnly)
    : m_strTargetPath(std::move(strTargetPath)), m_eReadOnly(eReadOnly)
{
}

CSafeFileWriter::~CSafeFileWriter() { Discard(); }

bool CSafeFileWriter::Open(std::string& strError)
{
    Discard();
    m_aRecovered.clear();
    if (m_strTargetPath.empty() || m_strTargetPath.back() == '/') {
        strError = m_strTargetPath.empty() ? "no file name given" : m_strTargetPath + " names a folder, not a file";
        return false;
    }
    m_strReplacedPath = FollowLinks(m_strTargetPath);
    const std::string strFolder = FolderOf(m_strReplacedPath);
    // A commit left halfway is finished or undone before anything else.
    m_aRecovered = RecoverInterruptedCommits(m_strTargetPath);
    if (CheckReplaceable(m_strTargetPath, m_eReadOnly, strError) != EReplaceProblem::None)
        return false;
    // Under the folder's lock, so that no other save takes the new file for a leftover
    // before it is locked as this writer's.
    const CFolderLock folderLock(strFolder);
    // The file is listed for the signal handler before a signal can end the process.
    const sigset_t aTerminating = TerminatingSignals();
    sigset_t aPrevious;
    pthread_sigmask(SIG_BLOCK, &aTerminating, &aPrevious);
    const int nFd = NewHiddenName(m_strReplacedPath, kTemporaryMark, true, m_strTemporaryPath);
    const int nCreateErrno = errno;
    if (nFd >= 0)
        m_pListed = ListTemporary(m_strTemporaryPath);
    pthread_sigmask(SIG_SETMASK, &aPrevious, nullptr);
    errno = nCreateErrno;
    if (nFd < 0) {
        const int nErrno = errno;
        strError = "cannot create a file in " + strFolder + ": " + std::strerror(nErrno);
        if ((nErrno == EACCES || nErrno == EPERM) && access(m_strReplacedPath.c_str(), W_OK) == 0)
            strError += " (the file itself may be written, but a save first writes a complete new file beside it "
                        "and then puts it in the old one's place, so the folder must let files be created)";
        m_strTemporaryPath.clear();
        return false;
    }
    // The lock tells a later save that tidies leftovers that this file is in use; it lasts
    // as long as this second descriptor is open.
    m_nLockFd = fcntl(nFd, F_DUPFD_CLOEXEC, 0);
    if (m_nLockFd >= 0)
        flock(m_nLockFd, LOCK_EX | LOCK_NB);
    // A replaced file keeps its permissions; a new one has the umask's from its creation.
    struct stat existing {};
    if (stat(m_strReplacedPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        fchmod(nFd, existing.st_mode & 07777);

    m_pFile = fdopen(nFd, "wb");
    if (!m_pFile) {
        strError = std::string("cannot open the file for writing: ") + std::strerror(errno);
        close(nFd);
        Discard();
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
    int nErrno = errno;
    // On the disc before its name is: after a power cut the new name must not show an
    // empty or partial file.
    if (bGood && CFileSystemCalls::Current().Fsync(fileno(m_pFile)) != 0) {
        bGood = false;
        nErrno = errno;
    }
    errno = 0;
    if (std::fclose(m_pFile) != 0 && bGood) {
        bGood = false;
        nErrno = errno;
    }
    m_pFile = nullptr;
    if (!bGood) {
        strError = std::string("writing the file failed: ") + std::strerror(nErrno ? nErrno : EIO);
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
    return CommitTogether(std::vector<CSafeFileWriter*>(aWriters), {}, strError, nFailed);
}

bool CSafeFileWriter::CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters,
                                     const std::vector<std::string>& aRemoved, std::string& strError,
                                     std::size_t& nFailed)
{
    return CommitTogether(std::vector<CSafeFileWriter*>(aWriters), aRemoved, strError, nFailed);
}

namespace {

std::string CannotReplace(const std::string& strTarget, int nErrno)
{
    return "cannot replace " + strTarget + ": " + std::strerror(nErrno);
}

// What is there before a step: whether there is a file to keep (a regular file, or for a
// removal a link too) and the name it is kept by. False, with the reason, for a target
// that must not be replaced.
bool PrepareStep(SCommitStep& step, std::string& strError)
{
    struct stat info {};
    if (lstat(step.strTarget.c_str(), &info) != 0)
        return true;
    const bool bRemoval = step.strTemporary.empty();
    if (!S_ISREG(info.st_mode) && !(bRemoval && S_ISLNK(info.st_mode))) {
        // A folder refuses the rename itself; a device, FIFO or socket must never be
        // replaced by one.
        if (!bRemoval && !S_ISDIR(info.st_mode)) {
            strError = "cannot replace " + step.strTarget + ": it is not a regular file";
            return false;
        }
        return true;  // not a file of the set: left alone
    }
    step.bExisted = true;
    NewHiddenName(step.strTarget, kKeptMark, false, step.strKept);
    return true;
}

// Takes one step: the previous file kept by a second name, then the new file in its
// place. False, with the reason, when the folder refused.
bool TakeStep(SCommitStep& step, CFileSystemCalls& calls, std::string& strError)
{
    if (step.bExisted) {
        // Kept by a second name: a hard link leaves the target in place meanwhile; where
        // the file system has none (FAT, some network shares) it is moved aside.
        if (!step.strTemporary.empty() && calls.Link(step.strTarget.c_str(), step.strKept.c_str()) == 0) {
        } else if (calls.Rename(step.strTarget.c_str(), step.strKept.c_str()) == 0) {
            step.bDone = true;
        } else {
            strError = CannotReplace(step.strTarget, errno);
            return false;
        }
    }
    if (!step.strTemporary.empty()) {
        if (calls.Rename(step.strTemporary.c_str(), step.strTarget.c_str()) != 0) {
            strError = CannotReplace(step.strTarget, errno);
            return false;
        }
        step.bDone = true;
    }
    return true;
}

}  // namespace

bool CSafeFileWriter::CommitTogether(const std::vector<CSafeFileWriter*>& aList,
                                     const std::vector<std::string>& aRemoved, std::string& strError,
                                     std::size_t& nFailed)
{
    CFileSystemCalls& calls = CFileSystemCalls::Current();
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

    // One step per file; every folder concerned is locked for the whole set.
    SJournal journal;
    std::vector<SCommitStep>& aSteps = journal.aSteps;
    for (CSafeFileWriter* pWriter : aList)
        aSteps.push_back(SCommitStep{pWriter->m_strReplacedPath, pWriter->m_strTemporaryPath, {}, false, false});
    for (const std::string& strRemoved : aRemoved) {
        RecoverInterruptedCommits(strRemoved);
        const CFolderLock lock(FolderOf(strRemoved));
        RemoveLeftovers(FolderOf(strRemoved));
        aSteps.push_back(SCommitStep{strRemoved, {}, {}, false, false});
    }
    std::vector<std::string> aFolders;
    for (const SCommitStep& step : aSteps)
        aFolders.push_back(FolderOf(step.strTarget));
    const CFolderLocks aLocks = LockFolders(aFolders);
    for (nFailed = 0; nFailed < aSteps.size(); ++nFailed) {
        if (!PrepareStep(aSteps[nFailed], strError)) {
            DiscardAll();
            return false;
        }
    }
    // From the journal's writing to its removal no terminating signal ends the process.
    const CCommitSection section;
    nFailed = 0;
    if (!WriteJournal(journal, aLocks, strError)) {
        DiscardAll();
        return false;
    }
    auto RollBack = [&] {
        if (UndoSteps(aSteps, strError) && FlushFolders(aLocks))
            RemoveJournal(journal);
        else
            strError += "; the next save or opening of these files puts them back";
        FlushFolders(aLocks);
        DiscardAll();
    };
    for (nFailed = 0; nFailed < aSteps.size(); ++nFailed) {
        if (!TakeStep(aSteps[nFailed], calls, strError)) {
            RollBack();
            return false;
        }
    }
    // The new names are on the disc before the previous files go.
    if (!FlushFolders(aLocks)) {
        strError = std::string("cannot flush the folder to the disc: ") + std::strerror(errno);
        nFailed = 0;
        RollBack();
        return false;
    }
    if (!MarkJournalDone(journal, strError)) {
        // What was written of the mark may be read: the last word says the commit is undone.
        for (const std::string& strFile : journal.aFiles)
            if (const int nFd = open(strFile.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC); nFd >= 0) {
                WriteFlushed(nFd, "undone\n");
                close(nFd);
            }
        nFailed = 0;
        RollBack();
        return false;
    }
    for (std::size_t i = 0; i < aList.size(); ++i)
        aList[i]->ReleaseTemporary();
    // A previous file that cannot be removed stays with the journal: the next save or
    // opening of these files removes both. (One whose removal does not reach the disc
    // before the journal's is a leftover the next save removes.)
    if (RemoveKept(aSteps))
        RemoveJournal(journal);
    return true;
}

void CSafeFileWriter::ReleaseTemporary()
{
    m_strTemporaryPath.clear();
    UnlistTemporary(m_pListed);
    m_pListed = nullptr;
    if (m_nLockFd >= 0) {
        close(m_nLockFd);
        m_nLockFd = -1;
    }
    m_bOpen = false;
}

void CSafeFileWriter::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_strTemporaryPath.empty())
        CFileSystemCalls::Current().Unlink(m_strTemporaryPath.c_str());
    ReleaseTemporary();
}

bool WriteTextFile(const std::string& strPath, const std::string& strText, std::string& strError,
                   EReadOnlyFiles eReadOnly)
{
    CSafeFileWriter writer(strPath, eReadOnly);
    if (!writer.Open(strError))
        return false;
    if (std::fwrite(strText.data(), 1, strText.size(), writer.File()) != strText.size()) {
        strError = std::string("writing the file failed: ") + std::strerror(errno);
        return false;
    }
    return writer.Commit(strError);
}

bool WriteTextFile(const std::string& strPath, const std::string& strText, EReadOnlyFiles eReadOnly)
{
    std::string strError;
    return WriteTextFile(strPath, strText, strError, eReadOnly);
}

}  // namespace gridmorph
