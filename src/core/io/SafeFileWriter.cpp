#include "io/SafeFileWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
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

bool IsLetterOrDigit(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The marks of the hidden files a save makes beside its target: ".NAME" + mark + eight
// letters or digits.
constexpr const char* kTemporaryMark = ".gmtmp-";
constexpr const char* kKeptMark = ".gmprev-";
constexpr const char* kJournalMark = ".gmjournal-";

// A hidden name beside strTarget that nothing has yet: ".NAME" + pMark + 8 random letters.
// With bCreate the file is made (O_EXCL) and its descriptor returned, else -1 (errno set);
// without, -1 and the name alone.
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

// Whether a folder entry is a hidden file of this writer of the kind pMark: ".", any
// name, the mark, then exactly eight letters or digits.
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

// A path that names the same file from any working folder.
std::string Absolute(const std::string& strPath)
{
    if (!strPath.empty() && strPath.front() == '/')
        return strPath;
    std::vector<char> aFolder(PATH_MAX);
    if (!getcwd(aFolder.data(), aFolder.size()))
        return strPath;
    return std::string(aFolder.data()) + "/" + strPath;
}

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

// One step of a set committed together: a new file takes the target's name, or a removed
// file leaves.
struct SCommitStep {
    std::string strTarget;     // the name the set gives (or takes away)
    std::string strTemporary;  // the new file; empty for a removal
    std::string strKept;       // where the previous file is kept meanwhile
    bool bExisted = false;     // a previous file was there
    bool bDone = false;        // the step changed the folder
};

// The journal of a commit: every journal file of the commit (one in each folder it
// touches), then its steps; "done" is added once the whole new set is in place and on the
// disc. Each value is written as its length and its bytes, so that any name fits.
struct SJournal {
    std::vector<std::string> aFiles;
    std::vector<SCommitStep> aSteps;
    bool bDone = false;
};

const char kJournalHeader[] = "gridmorph commit journal 1\n";

void AppendField(std::string& strText, const char* pKey, const std::string& strValue)
{
    strText += pKey;
    strText += ' ';
    strText += std::to_string(strValue.size());
    strText += ' ';
    strText += strValue;
    strText += '\n';
}

std::string FormatJournal(const SJournal& journal)
{
    std::string strText = kJournalHeader;
    for (const std::string& strFile : journal.aFiles)
        AppendField(strText, "journal", strFile);
    for (const SCommitStep& step : journal.aSteps) {
        AppendField(strText, "target", Absolute(step.strTarget));
        AppendField(strText, "new", step.strTemporary.empty() ? std::string() : Absolute(step.strTemporary));
        AppendField(strText, "kept", step.strKept.empty() ? std::string() : Absolute(step.strKept));
        AppendField(strText, "existed", step.bExisted ? "1" : "0");
    }
    strText += "end\n";
    return strText;
}

// Reads a journal: Complete, or Incomplete when it was not written to its end (the commit
// never began to replace anything), or Foreign for a file that is no journal of ours.
enum class EJournal { Complete, Incomplete, Foreign };
EJournal ReadJournalFile(const std::string& strPath, SJournal& journal);

bool ReadJournal(const std::string& strPath, SJournal& journal)
{
    return ReadJournalFile(strPath, journal) == EJournal::Complete;
}

EJournal ReadJournalFile(const std::string& strPath, SJournal& journal)
{
    const int nFd = open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (nFd < 0)
        return EJournal::Foreign;
    std::string strText;
    char aBuffer[4096];
    for (ssize_t nRead; (nRead = read(nFd, aBuffer, sizeof aBuffer)) != 0;) {
        if (nRead < 0) {
            if (errno == EINTR)
                continue;
            close(nFd);
            return EJournal::Foreign;
        }
        strText.append(aBuffer, static_cast<std::size_t>(nRead));
        if (strText.size() > (std::size_t(16) << 20)) {
            close(nFd);
            return EJournal::Foreign;
        }
    }
    close(nFd);
    const std::string strHeader = kJournalHeader;
    if (strText.size() < strHeader.size())
        return strHeader.compare(0, strText.size(), strText) == 0 ? EJournal::Incomplete : EJournal::Foreign;
    if (strText.compare(0, strHeader.size(), strHeader) != 0)
        return EJournal::Foreign;
    std::size_t nAt = sizeof kJournalHeader - 1;
    journal = SJournal();
    bool bEnd = false;
    while (nAt < strText.size()) {
        const std::size_t nLineEnd = strText.find_first_of(" \n", nAt);
        if (nLineEnd == std::string::npos)
            return EJournal::Incomplete;
        const std::string strKey = strText.substr(nAt, nLineEnd - nAt);
        if (strText[nLineEnd] == '\n') {
            nAt = nLineEnd + 1;
            if (strKey == "end")
                bEnd = true;
            else if ((strKey == "done" || strKey == "undone") && bEnd)
                journal.bDone = strKey == "done";
            else
                return EJournal::Incomplete;
            continue;
        }
        std::size_t nLength = 0, i = nLineEnd + 1;
        for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9' && nLength < (std::size_t(1) << 20); ++i)
            nLength = nLength * 10 + static_cast<std::size_t>(strText[i] - '0');
        if (i >= strText.size() || strText[i] != ' ' || i + 1 + nLength >= strText.size() ||
            strText[i + 1 + nLength] != '\n')
            return EJournal::Incomplete;
        const std::string strValue = strText.substr(i + 1, nLength);
        nAt = i + 2 + nLength;
        if (strKey == "journal") {
            journal.aFiles.push_back(strValue);
        } else if (strKey == "target") {
            journal.aSteps.emplace_back();
            journal.aSteps.back().strTarget = strValue;
        } else if (journal.aSteps.empty()) {
            return EJournal::Incomplete;
        } else if (strKey == "new") {
            journal.aSteps.back().strTemporary = strValue;
        } else if (strKey == "kept") {
            journal.aSteps.back().strKept = strValue;
        } else if (strKey == "existed") {
            journal.aSteps.back().bExisted = strValue == "1";
        } else {
            return EJournal::Incomplete;
        }
    }
    return bEnd ? EJournal::Complete : EJournal::Incomplete;
}

// Writes strText to a new file and flushes it to the disc; false with errno set.
bool WriteFlushed(int nFd, const std::string& strText)
{
    std::size_t nWritten = 0;
    while (nWritten < strText.size()) {
        const ssize_t n = write(nFd, strText.data() + nWritten, strText.size() - nWritten);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        nWritten += static_cast<std::size_t>(n);
    }
    return CFileSystemCalls::Current().Fsync(nFd) == 0;
}

bool Exists(const std::string& strPath)
{
    struct stat info {};
    return lstat(strPath.c_str(), &info) == 0;
}

bool SameFile(const std::string& strFirst, const std::string& strSecond)
{
    struct stat first {}, second {};
    return lstat(strFirst.c_str(), &first) == 0 && lstat(strSecond.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Undoes the steps of a commit, last first, from what the folder holds now (so that it
// may be done again after it was itself interrupted): a kept file gets its name back (or,
// a second name of the file still in place, goes), a new file where there was none goes,
// a new file not yet in place goes. A previous file that cannot get its name back stays
// where it is kept, and strError says where. True when everything was undone.
bool UndoSteps(std::vector<SCommitStep>& aSteps, std::string& strError)
{
    CFileSystemCalls& calls = CFileSystemCalls::Current();
    bool bUndone = true;
    for (std::size_t i = aSteps.size(); i-- > 0;) {
        SCommitStep& step = aSteps[i];
        if (!step.strKept.empty() && Exists(step.strKept)) {
            if (SameFile(step.strKept, step.strTarget)) {
                calls.Unlink(step.strKept.c_str());  // no harm when it stays: it goes with the journal's next reading
            } else if (calls.Rename(step.strKept.c_str(), step.strTarget.c_str()) != 0) {
                strError += "; the previous " + step.strTarget + " is kept as " + step.strKept;
                bUndone = false;
                continue;
            }
        } else if (!step.bExisted && !step.strTemporary.empty() && !Exists(step.strTemporary)) {
            // The new file took the name: there was none before.
            if (calls.Unlink(step.strTarget.c_str()) != 0 && errno != ENOENT)
                bUndone = false;
        }
        if (!step.strTemporary.empty() && Exists(step.strTemporary) &&
            calls.Unlink(step.strTemporary.c_str()) != 0)
            bUndone = false;
        step.bDone = false;
    }
    return bUndone;
}

// Removes the journal's files; false when one stays.
bool RemoveJournal(const SJournal& journal)
{
    bool bRemoved = true;
    for (const std::string& strFile : journal.aFiles)
        if (CFileSystemCalls::Current().Unlink(strFile.c_str()) != 0 && errno != ENOENT)
            bRemoved = false;
    return bRemoved;
}

// Removes the kept previous files of a commit that is complete; false when one stays.
bool RemoveKept(const std::vector<SCommitStep>& aSteps)
{
    bool bRemoved = true;
    for (const SCommitStep& step : aSteps)
        if (!step.strKept.empty() && CFileSystemCalls::Current().Unlink(step.strKept.c_str()) != 0 &&
            errno != ENOENT)
            bRemoved = false;
    return bRemoved;
}

// The names of the journals in a folder.
std::vector<std::string> JournalsIn(const std::string& strFolder)
{
    std::vector<std::string> aJournals;
    DIR* pFolder = opendir(strFolder.c_str());
    if (!pFolder)
        return aJournals;
    while (const dirent* pEntry = readdir(pFolder))
        if (HasMark(pEntry->d_name, kJournalMark))
            aJournals.push_back(strFolder + "/" + pEntry->d_name);
    closedir(pFolder);
    std::sort(aJournals.begin(), aJournals.end());
    return aJournals;
}

std::string ListTargets(const SJournal& journal)
{
    std::string strList;
    for (const SCommitStep& step : journal.aSteps)
        strList += (strList.empty() ? "" : ", ") + step.strTarget;
    return strList;
}

// Finishes or undoes the commit of one journal found in strFolder; "" when there was
// nothing to do (another process saw to it meanwhile).
std::string RecoverJournal(const std::string& strFolder, const std::string& strJournal)
{
    SJournal journal;
    if (const EJournal eRead = ReadJournalFile(strJournal, journal); eRead != EJournal::Complete) {
        // Not written to its end: nothing had been replaced; the temporary files go with
        // the leftovers. A file of that name that is no journal is left alone.
        const CFolderLock lock(strFolder);
        if (eRead == EJournal::Incomplete && ReadJournalFile(strJournal, journal) == EJournal::Incomplete)
            CFileSystemCalls::Current().Unlink(strJournal.c_str());
        return "";
    }
    std::vector<std::string> aFolders = {strFolder};
    for (const std::string& strFile : journal.aFiles)
        aFolders.push_back(FolderOf(strFile));
    for (const SCommitStep& step : journal.aSteps)
        aFolders.push_back(FolderOf(step.strTarget));
    const CFolderLocks aLocks = LockFolders(aFolders);
    if (!ReadJournal(strJournal, journal))
        return "";  // seen to meanwhile
    const std::string strTargets = ListTargets(journal);
    if (journal.bDone) {
        if (RemoveKept(journal.aSteps) && FlushFolders(aLocks) && RemoveJournal(journal))
            return "A save of " + strTargets + " was interrupted after the new files were in place; it has been "
                   "finished.";
        return "A save of " + strTargets + " was interrupted after the new files were in place; its previous "
               "files could not all be removed (" + std::strerror(errno) + "): " + strJournal + " keeps the record.";
    }
    std::string strError;
    if (UndoSteps(journal.aSteps, strError) && FlushFolders(aLocks) && RemoveJournal(journal))
        return "A save of " + strTargets + " was interrupted; the files it replaced have been put back.";
    return "A save of " + strTargets + " was interrupted, and putting back the files it replaced failed" + strError +
           " (" + strJournal + " keeps the record for the next attempt).";
}

// Removes what earlier saves left in a folder (locked by the caller): temporary files no
// process holds any more, and previous files kept by a commit that no journal of the
// folder names any more (the journal's removal reached the disc before theirs did). Only
// names with this writer's marks are touched.
void RemoveLeftovers(const std::string& strFolder)
{
    DIR* pFolder = opendir(strFolder.c_str());
    if (!pFolder)
        return;
    std::vector<std::string> aTemporary, aKept;
    bool bJournal = false;
    while (const dirent* pEntry = readdir(pFolder)) {
        const std::string strEntry = pEntry->d_name;
        bJournal = bJournal || HasMark(strEntry, kJournalMark);
        if (HasMark(strEntry, kTemporaryMark))
            aTemporary.push_back(strFolder + "/" + strEntry);
        else if (HasMark(strEntry, kKeptMark))
            aKept.push_back(strFolder + "/" + strEntry);
    }
    closedir(pFolder);
    for (const std::string& strPath : aTemporary) {
        // A writer holds a lock on its temporary file as long as it may use it.
        const int nFd = open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (nFd < 0)
            continue;
        if (flock(nFd, LOCK_EX | LOCK_NB) == 0)
            CFileSystemCalls::Current().Unlink(strPath.c_str());
        close(nFd);
    }
    if (!bJournal)
        for (const std::string& strPath : aKept)
            CFileSystemCalls::Current().Unlink(strPath.c_str());
}

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

std::vector<std::string> RecoverInterruptedCommits(const std::string& strPath)
{
    std::vector<std::string> aDone;
    std::vector<std::string> aFolders = {FolderOf(strPath)};
    const std::string strReplaced = FollowLinks(strPath);
    if (FolderOf(strReplaced) != aFolders.front())
        aFolders.push_back(FolderOf(strReplaced));
    for (const std::string& strFolder : aFolders) {
        for (const std::string& strJournal : JournalsIn(strFolder))
            if (std::string strDone = RecoverJournal(strFolder, strJournal); !strDone.empty())
                aDone.push_back(std::move(strDone));
        const CFolderLock lock(strFolder);
        RemoveLeftovers(strFolder);
    }
    return aDone;
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

// Writes the journal of the steps, a copy in each folder they touch, each on the disc
// with its name before anything is replaced; false with the reason (the copies made are
// removed).
bool WriteJournal(SJournal& journal, const CFolderLocks& aLocks, std::string& strError)
{
    std::vector<int> aFds;
    auto CloseAll = [&] {
        for (int nFd : aFds)
            close(nFd);
    };
    for (const auto& pLock : aLocks) {
        // Named after the first file of the set in that folder.
        std::string strNamedAfter;
        for (const SCommitStep& step : journal.aSteps)
            if (CFolderLock::CanonicalFolder(FolderOf(step.strTarget)) == pLock->Key()) {
                strNamedAfter = step.strTarget;
                break;
            }
        std::string strJournal;
        const int nFd = NewHiddenName(strNamedAfter, kJournalMark, true, strJournal);
        if (nFd < 0) {
            strError = "cannot write the record of the save in " + pLock->Folder() + ": " + std::strerror(errno);
            CloseAll();
            RemoveJournal(journal);
            return false;
        }
        aFds.push_back(nFd);
        journal.aFiles.push_back(Absolute(strJournal));
    }
    const std::string strText = FormatJournal(journal);
    for (std::size_t i = 0; i < aFds.size(); ++i) {
        if (!WriteFlushed(aFds[i], strText) || !aLocks[i]->Flush()) {
            strError = "cannot write the record of the save in " + aLocks[i]->Folder() + ": " + std::strerror(errno);
            CloseAll();
            RemoveJournal(journal);
            return false;
        }
    }
    CloseAll();
    return true;
}

// Adds "done" to every copy of the journal: from now on an interrupted commit is finished,
// not undone.
bool MarkJournalDone(const SJournal& journal, std::string& strError)
{
    for (const std::string& strFile : journal.aFiles) {
        const int nFd = open(strFile.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        const bool bMarked = nFd >= 0 && WriteFlushed(nFd, "done\n");
        const int nErrno = errno;
        if (nFd >= 0)
            close(nFd);
        if (!bMarked) {
            strError = "cannot write the record of the save " + strFile + ": " + std::strerror(nErrno);
            return false;
        }
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
