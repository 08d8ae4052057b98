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

CFileSystemCalls s_defaultCalls;
CFileSystemCalls* s_pCalls = &s_defaultCalls;

// The temporary files open now, for a signal handler: a slot is claimed (1), its path
// written, then published (2); the handler removes the published ones.
constexpr int kSlots = 64;
char s_aSlotPaths[kSlots][PATH_MAX];
std::atomic<int> s_aSlotStates[kSlots];

int ClaimSlot(const std::string& strPath)
{
    if (strPath.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int nFree = 0;
        if (s_aSlotStates[i].compare_exchange_strong(nFree, 1)) {
            std::memcpy(s_aSlotPaths[i], strPath.c_str(), strPath.size() + 1);
            s_aSlotStates[i].store(2);
            return i;
        }
    }
    return -1;
}

void ReleaseSlot(int nSlot)
{
    if (nSlot >= 0)
        s_aSlotStates[nSlot].store(0);
}

void OnTerminatingSignal(int nSignal)
{
    RemoveTemporaryFilesNow();
    signal(nSignal, SIG_DFL);
    raise(nSignal);
}

bool IsLetterOrDigit(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// What a name in the target's folder is to that target: one of its temporary files, a
// previous file a commit kept, or neither.
enum class ELeftover { None, Temporary, Previous, Removed };
ELeftover LeftoverKind(const std::string& strEntry, const std::string& strPrefix)
{
    if (strEntry.size() < strPrefix.size() + 8 || strEntry.compare(0, strPrefix.size(), strPrefix) != 0)
        return ELeftover::None;
    for (std::size_t i = strPrefix.size(); i < strPrefix.size() + 8; ++i)
        if (!IsLetterOrDigit(strEntry[i]))
            return ELeftover::None;
    const std::string strRest = strEntry.substr(strPrefix.size() + 8);
    if (strRest.empty())
        return ELeftover::Temporary;
    if (strRest == ".removed")
        return ELeftover::Removed;
    return strRest == ".previous" ? ELeftover::Previous : ELeftover::None;
}

// A lock on a folder (flock on the folder itself), held while files in it are put in
// place or tidied, so that two processes never interleave their renames. A folder that
// cannot be locked (a file system without locks) is used unlocked.
class CFolderLock {
public:
    explicit CFolderLock(const std::string& strFolder)
        : m_nFd(open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
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

private:
    int m_nFd;
};

// Removes what earlier saves of this target left behind: temporary files no process
// holds any more, and kept previous files. A previous file whose target is missing (the
// save was killed between two renames) gets the target's name back.
void RemoveLeftovers(const std::string& strTarget)
{
    const std::string strFolder = FolderOf(strTarget);
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "." + a temporary string.
    std::string strPrefix = ".";
    strPrefix += BaseNameOf(strTarget);
    strPrefix += '.';
    const CFolderLock lock(strFolder);
    DIR* pFolder = opendir(strFolder.c_str());
    if (!pFolder)
        return;
    std::vector<std::string> aTemporary, aPrevious, aRemoved;
    while (const dirent* pEntry = readdir(pFolder)) {
        switch (LeftoverKind(pEntry->d_name, strPrefix)) {
        case ELeftover::Temporary:
            aTemporary.push_back(strFolder + "/" + pEntry->d_name);
            break;
        case ELeftover::Previous:
            aPrevious.push_back(strFolder + "/" + pEntry->d_name);
            break;
        case ELeftover::Removed:  // the file was taken away from its set: nothing to give back
            aRemoved.push_back(strFolder + "/" + pEntry->d_name);
            break;
        case ELeftover::None:
            break;
        }
    }
    closedir(pFolder);
    for (const std::string& strPath : aTemporary) {
        // A writer holds a lock on its temporary file as long as it may use it.
        const int nFd = open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (nFd < 0)
            continue;
        if (flock(nFd, LOCK_EX | LOCK_NB) == 0)
            CFileSystemCalls::Current().Unlink(strPath.c_str());
        close(nFd);
    }
    for (const std::string& strPath : aRemoved)
        CFileSystemCalls::Current().Unlink(strPath.c_str());
    if (aPrevious.empty())
        return;
    struct stat target {};
    if (lstat(strTarget.c_str(), &target) != 0 && errno == ENOENT) {
        // The most recently kept one is the file that was there last.
        auto Changed = [](const std::string& strPath) {
            struct stat info {};
            return lstat(strPath.c_str(), &info) == 0 ? info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec : -1LL;
        };
        const auto itNewest = std::max_element(aPrevious.begin(), aPrevious.end(), [&](const std::string& a, const std::string& b) {
            return Changed(a) < Changed(b);
        });
        if (CFileSystemCalls::Current().Rename(itNewest->c_str(), strTarget.c_str()) == 0)
            aPrevious.erase(itNewest);
        else
            return;  // keep them all rather than lose the only copy
    }
    for (const std::string& strPath : aPrevious)
        CFileSystemCalls::Current().Unlink(strPath.c_str());
}

// A hidden name beside strTarget for keeping the file that is there.
std::string KeptName(const std::string& strTarget, const char* pSuffix)
{
    static const char s_szLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string strName;
    for (int nAttempt = 0; nAttempt < 100; ++nAttempt) {
        unsigned char aRandom[8] = {};
        if (getrandom(aRandom, sizeof aRandom, 0) != static_cast<ssize_t>(sizeof aRandom))
            for (unsigned char& c : aRandom)
                c = static_cast<unsigned char>(std::rand());
        strName = FolderOf(strTarget) + "/." + BaseNameOf(strTarget) + ".";
        for (unsigned char c : aRandom)
            strName += s_szLetters[c % (sizeof s_szLetters - 1)];
        strName += pSuffix;
        struct stat info {};
        if (lstat(strName.c_str(), &info) != 0)
            break;
    }
    return strName;
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
    for (int i = 0; i < kSlots; ++i)
        if (s_aSlotStates[i].load() == 2)
            unlink(s_aSlotPaths[i]);
}

void RemoveTemporaryFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(nSignal, &action, nullptr);
}

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
    RemoveLeftovers(m_strReplacedPath);
    // The file is listed for the signal handler before a signal can end the process.
    sigset_t aTerminating, aPrevious;
    sigemptyset(&aTerminating);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&aTerminating, nSignal);
    pthread_sigmask(SIG_BLOCK, &aTerminating, &aPrevious);
    const int nFd = CreateTemporaryFile(m_strReplacedPath, m_strTemporaryPath);
    const int nCreateErrno = errno;
    if (nFd >= 0)
        m_nSlot = ClaimSlot(m_strTemporaryPath);
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
        ReleaseTemporary();
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
    return CommitTogether(aWriters, {}, strError, nFailed);
}

namespace {

// One step of a set committed together: a new file takes the target's name, or a removed
// file leaves.
struct SCommitStep {
    std::string strTarget;     // the name the set gives (or takes away)
    std::string strTemporary;  // the new file; empty for a removal
    std::string strKept;       // where the previous file is kept meanwhile
    bool bExisted = false;     // a previous file was there
    bool bDone = false;        // the step changed the folder
};

// Every folder the steps touch, locked in one order for the whole set.
std::vector<std::unique_ptr<CFolderLock>> LockFolders(const std::vector<SCommitStep>& aSteps)
{
    std::vector<std::string> aFolders;
    for (const SCommitStep& step : aSteps)
        aFolders.push_back(FolderOf(step.strTarget));
    std::sort(aFolders.begin(), aFolders.end());
    aFolders.erase(std::unique(aFolders.begin(), aFolders.end()), aFolders.end());
    std::vector<std::unique_ptr<CFolderLock>> aLocks;
    for (const std::string& strFolder : aFolders)
        aLocks.push_back(std::make_unique<CFolderLock>(strFolder));
    return aLocks;
}

// Undoes the steps done, last first. A previous file that cannot get its name back stays
// where it is kept, and the message says where.
void RollBackSteps(std::vector<SCommitStep>& aSteps, CFileSystemCalls& calls, std::string& strError)
{
    for (std::size_t i = aSteps.size(); i-- > 0;) {
        SCommitStep& step = aSteps[i];
        if (!step.bDone) {
            if (!step.strKept.empty() && calls.Unlink(step.strKept.c_str()) == 0)
                step.strKept.clear();  // a second name of a file still in place
        } else if (!step.strKept.empty()) {
            if (calls.Rename(step.strKept.c_str(), step.strTarget.c_str()) == 0)
                step.strKept.clear();
            else
                strError += "; the previous " + step.strTarget + " is kept as " + step.strKept;
        } else if (!step.bExisted) {
            calls.Unlink(step.strTarget.c_str());
        }
    }
}

// Takes one step: the previous file kept by a second name, then the new file in its
// place. False, with the reason, when the folder refused.
bool TakeStep(SCommitStep& step, CFileSystemCalls& calls, std::string& strError)
{
    struct stat info {};
    step.bExisted = lstat(step.strTarget.c_str(), &info) == 0 &&
                    (S_ISREG(info.st_mode) || (step.strTemporary.empty() && S_ISLNK(info.st_mode)));
    if (step.bExisted) {
        // Kept by a second name: a hard link leaves the target in place meanwhile; where
        // the file system has none (FAT, some network shares) it is moved aside.
        const std::string strKept = KeptName(step.strTarget, step.strTemporary.empty() ? ".removed" : ".previous");
        if (!step.strTemporary.empty() && calls.Link(step.strTarget.c_str(), strKept.c_str()) == 0) {
            step.strKept = strKept;
        } else if (calls.Rename(step.strTarget.c_str(), strKept.c_str()) == 0) {
            step.strKept = strKept;
            step.bDone = true;
        } else {
            strError = "cannot replace " + step.strTarget + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!step.strTemporary.empty()) {
        if (calls.Rename(step.strTemporary.c_str(), step.strTarget.c_str()) != 0) {
            strError = "cannot replace " + step.strTarget + ": " + std::strerror(errno);
            return false;
        }
        step.bDone = true;
    }
    return true;
}

}  // namespace

bool CSafeFileWriter::CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters,
                                     const std::vector<std::string>& aRemoved, std::string& strError,
                                     std::size_t& nFailed)
{
    const std::vector<CSafeFileWriter*> aList(aWriters);
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
    std::vector<SCommitStep> aSteps;
    for (CSafeFileWriter* pWriter : aList)
        aSteps.push_back(SCommitStep{pWriter->m_strReplacedPath, pWriter->m_strTemporaryPath, {}, false, false});
    for (const std::string& strRemoved : aRemoved)
        aSteps.push_back(SCommitStep{strRemoved, {}, {}, false, false});
    for (const std::string& strRemoved : aRemoved)
        RemoveLeftovers(strRemoved);
    const std::vector<std::unique_ptr<CFolderLock>> aLocks = LockFolders(aSteps);
    auto RollBack = [&] {
        RollBackSteps(aSteps, calls, strError);
        for (const auto& pLock : aLocks)
            pLock->Flush();
        DiscardAll();
    };

    for (nFailed = 0; nFailed < aSteps.size(); ++nFailed) {
        if (!TakeStep(aSteps[nFailed], calls, strError)) {
            RollBack();
            return false;
        }
        if (nFailed < aList.size() && !aSteps[nFailed].strTemporary.empty())
            aList[nFailed]->ReleaseTemporary();
    }
    // The new names are on the disc before the previous files go.
    for (const auto& pLock : aLocks) {
        if (!pLock->Flush()) {
            strError = std::string("cannot flush the folder to the disc: ") + std::strerror(errno);
            nFailed = 0;
            RollBack();
            return false;
        }
    }
    for (SCommitStep& step : aSteps)
        if (!step.strKept.empty())
            calls.Unlink(step.strKept.c_str());  // one left behind goes with the next save
    return true;
}

void CSafeFileWriter::ReleaseTemporary()
{
    m_strTemporaryPath.clear();
    ReleaseSlot(m_nSlot);
    m_nSlot = -1;
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
