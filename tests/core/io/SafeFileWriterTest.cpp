// Saving through a temporary file: permissions, links, folders that refuse new files,
// and several files replaced as one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <filesystem>
#include <string>
#include <vector>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "io/SafeFileWriter.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"

namespace {
int s_nUmaskCalls = 0;
}

// The writer must never change the umask, even for a moment: the window has helper
// threads, and a file one of them created meanwhile would be writable by everyone. The
// core's calls to umask resolve to this definition, which counts them and passes them on.
extern "C" mode_t umask(mode_t nMask) noexcept
{
    ++s_nUmaskCalls;
    return static_cast<mode_t>(syscall(SYS_umask, nMask));
}

namespace gridmorph {
namespace {

using test::CTempFolder;

class CScopedUmask {
public:
    explicit CScopedUmask(mode_t nMask) : m_nPrevious(umask(nMask)) {}
    ~CScopedUmask() { umask(m_nPrevious); }

private:
    mode_t m_nPrevious;
};

std::string ReadText(const std::string& strPath)
{
    const std::vector<std::uint8_t> aBytes = test::ReadBytes(strPath);
    return std::string(aBytes.begin(), aBytes.end());
}

void WriteText(const std::string& strPath, const std::string& strText)
{
    test::WriteBytes(strPath, std::vector<std::uint8_t>(strText.begin(), strText.end()));
}

bool WriteThrough(const std::string& strTarget, const std::string& strText, std::string& strError)
{
    CSafeFileWriter writer(strTarget);
    if (!writer.Open(strError))
        return false;
    std::fputs(strText.c_str(), writer.File());
    return writer.Commit(strError);
}

using test::NamesIn;

mode_t ModeOf(const std::string& strPath)
{
    struct stat info {};
    return stat(strPath.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(SafeFileWriter, NewFilesTakeTheUmaskWithoutChangingIt)
{
    CTempFolder folder;
    const CScopedUmask mask(027);
    s_nUmaskCalls = 0;
    std::string strError;
    ASSERT_TRUE(WriteThrough(folder.Path("new.txt"), "new", strError)) << strError;
    WriteText(folder.Path("kept.txt"), "old");
    chmod(folder.Path("kept.txt").c_str(), 0604);
    ASSERT_TRUE(WriteThrough(folder.Path("kept.txt"), "replaced", strError)) << strError;
    CDIBImage image;  // the GIF encoder writes through a duplicated descriptor
    test::MakePatternPicture(image, 8, 5, 5);
    ASSERT_EQ(image.SaveDIBSilent(folder.Path("map.gif")), ESaveResult::Written);
    EXPECT_EQ(s_nUmaskCalls, 0);
    EXPECT_EQ(ModeOf(folder.Path("new.txt")), 0640u);
    EXPECT_EQ(ModeOf(folder.Path("map.gif")), 0640u);
    EXPECT_EQ(ModeOf(folder.Path("kept.txt")), 0604u);
    EXPECT_EQ(ReadText(folder.Path("kept.txt")), "replaced");
}

TEST(SafeFileWriter, ASymbolicLinkStaysALinkAndTheFileItNamesIsReplaced)
{
    CTempFolder folder;
    std::filesystem::create_directory(folder.Path("real"));
    struct SCase {
        const char* pLink;
        std::string strLinkText;
        const char* pReal;  // relative to the folder
        bool bRealExists;
    };
    const SCase aCases[] = {
        {"relative.png", "real/a.png", "real/a.png", true},
        {"absolute.png", folder.Path("real/b.png"), "real/b.png", true},
        {"chain.png", "relative2.png", "real/c.png", true},  // relative2.png -> real/c.png
        {"dangling.png", "real/d.png", "real/d.png", false},
    };
    std::filesystem::create_symlink("real/c.png", folder.Path("relative2.png"));
    for (const SCase& aCase : aCases) {
        if (aCase.bRealExists)
            WriteText(folder.Path(aCase.pReal), "old");
        std::filesystem::create_symlink(aCase.strLinkText, folder.Path(aCase.pLink));
        std::string strError;
        ASSERT_TRUE(WriteThrough(folder.Path(aCase.pLink), "new", strError)) << aCase.pLink << ": " << strError;
        EXPECT_TRUE(std::filesystem::is_symlink(folder.Path(aCase.pLink))) << aCase.pLink;
        EXPECT_EQ(std::filesystem::read_symlink(folder.Path(aCase.pLink)).string(), aCase.strLinkText);
        EXPECT_EQ(ReadText(folder.Path(aCase.pReal)), "new") << aCase.pLink;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("relative2.png")));
    EXPECT_EQ(NamesIn(folder.Path("real")), (std::vector<std::string>{"a.png", "b.png", "c.png", "d.png"}));
}

TEST(SafeFileWriter, CommittingTogetherPutsBackWhatWasReplaced)
{
    CTempFolder folder;
    WriteText(folder.Path("kept.txt"), "old");
    CSafeFileWriter kept(folder.Path("kept.txt")), fresh(folder.Path("fresh.txt")), blocked(folder.Path("blocked.txt"));
    std::string strError;
    for (CSafeFileWriter* pWriter : {&kept, &fresh, &blocked}) {
        ASSERT_TRUE(pWriter->Open(strError)) << strError;
        std::fputs("new", pWriter->File());
    }
    // Made a folder while the files were written: it cannot be replaced by a file.
    std::filesystem::create_directory(folder.Path("blocked.txt"));
    std::size_t nFailed = 99;
    EXPECT_FALSE(CSafeFileWriter::CommitTogether({&kept, &fresh, &blocked}, strError, nFailed));
    EXPECT_EQ(nFailed, 2u);
    EXPECT_NE(strError.find("cannot replace " + folder.Path("blocked.txt")), std::string::npos) << strError;
    EXPECT_EQ(ReadText(folder.Path("kept.txt")), "old");
    EXPECT_EQ(NamesIn(folder.Root()), (std::vector<std::string>{"blocked.txt", "kept.txt"}));

    CSafeFileWriter first(folder.Path("kept.txt")), second(folder.Path("fresh.txt"));
    for (CSafeFileWriter* pWriter : {&first, &second}) {
        ASSERT_TRUE(pWriter->Open(strError)) << strError;
        std::fputs("new", pWriter->File());
    }
    EXPECT_TRUE(CSafeFileWriter::CommitTogether({&first, &second}, strError, nFailed)) << strError;
    EXPECT_EQ(ReadText(folder.Path("kept.txt")), "new");
    EXPECT_EQ(ReadText(folder.Path("fresh.txt")), "new");
    EXPECT_EQ(NamesIn(folder.Root()), (std::vector<std::string>{"blocked.txt", "fresh.txt", "kept.txt"}));
}

TEST(SafeFileWriter, AFolderThatRefusesNewFilesIsNamedAsTheReason)
{
    CTempFolder folder;
    const std::string strLocked = folder.Path("locked");
    std::filesystem::create_directory(strLocked);
    const std::string strTarget = strLocked + "/map.png";
    WriteText(strTarget, "old");
    chmod(strTarget.c_str(), 0666);  // the file may be written, the folder takes no new file
    const test::CScopedMode lockedMode(strLocked, 0555);
    const std::optional<std::string> strMessage = test::RunWithoutPrivileges([&] {
        CDIBImage image;
        test::MakePatternPicture(image, 24, 4, 4);
        return image.SaveDIBSilent(strTarget) == ESaveResult::Failed ? image.GetErrorMessage()
                                                                     : std::string("the save did not fail");
    });
    if (!strMessage)
        GTEST_SKIP() << "running as root, and switching to the user nobody is not allowed here";
    EXPECT_EQ(*strMessage, "Save image failed.\nResult:8004a001 - Cannot write " + strTarget +
                               ": cannot create a file in " + strLocked +
                               ": Permission denied (the file itself may be written, but a save first writes a "
                               "complete new file beside it and then puts it in the old one's place, so the folder "
                               "must let files be created).");
    EXPECT_EQ(ReadText(strTarget), "old");
    EXPECT_EQ(NamesIn(strLocked), std::vector<std::string>{"map.png"});
}

// Counts the writer's system calls and makes the ones numbered in aFailing fail (EIO);
// with bNoLinks every link fails as on a file system without hard links.
class CFaultyCalls : public CFileSystemCalls {
public:
    int Fsync(int nFd) override { return Fault("fsync") ? -1 : CFileSystemCalls::Fsync(nFd); }
    int Rename(const char* pFrom, const char* pTo) override
    {
        return Fault("rename") ? -1 : CFileSystemCalls::Rename(pFrom, pTo);
    }
    int Link(const char* pFrom, const char* pTo) override
    {
        if (bNoLinks) {
            errno = EPERM;
            return -1;
        }
        return Fault("link") ? -1 : CFileSystemCalls::Link(pFrom, pTo);
    }
    int Unlink(const char* pPath) override { return Fault("unlink") ? -1 : CFileSystemCalls::Unlink(pPath); }

    std::set<int> aFailing;
    bool bNoLinks = false;
    int nCalls = 0;
    std::vector<std::string> aFailed;  // the kinds of the calls made to fail

private:
    bool Fault(const char* pKind)
    {
        if (!aFailing.count(nCalls++))
            return false;
        aFailed.emplace_back(pKind);
        errno = EIO;
        return true;
    }
};

// Every file of the folder, hidden ones too, with its text.
std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> aFiles;
    for (const std::string& strName : NamesIn(folder))
        aFiles[strName] = ReadText((folder / strName).string());
    return aFiles;
}

std::map<std::string, std::string> Visible(const std::map<std::string, std::string>& aFiles)
{
    std::map<std::string, std::string> aVisible;
    for (const auto& [strName, strText] : aFiles)
        if (strName.front() != '.')
            aVisible[strName] = strText;
    return aVisible;
}

struct SCommitCase {
    const char* pName;
    std::map<std::string, std::string> aOld;       // the set on disc before
    std::map<std::string, std::string> aWritten;   // the files the commit writes
    std::vector<std::string> aRemoved;             // and those it takes away
};

const SCommitCase kCommitCases[] = {
    {"all replaced", {{"a.png", "old png"}, {"a.PGW", "old pgw"}, {"a.prj", "old prj"}},
     {{"a.png", "new png"}, {"a.PGW", "new pgw"}, {"a.prj", "new prj"}}, {}},
    {"stale .prj removed", {{"a.png", "old png"}, {"a.PGW", "old pgw"}, {"a.prj", "old prj"}},
     {{"a.png", "new png"}, {"a.PGW", "new pgw"}}, {"a.prj"}},
    {"world file new", {{"a.png", "old png"}}, {{"a.png", "new png"}, {"a.PGW", "new pgw"}}, {}},
};

// Writes the case's old set, then commits its new one; returns the result.
bool CommitCase(const CTempFolder& folder, const SCommitCase& aCase, std::string& strError)
{
    for (const auto& [strName, strText] : aCase.aOld)
        WriteText(folder.Path(strName), strText);
    std::vector<std::unique_ptr<CSafeFileWriter>> aWriters;
    for (const auto& [strName, strText] : aCase.aWritten) {
        aWriters.push_back(std::make_unique<CSafeFileWriter>(folder.Path(strName)));
        if (!aWriters.back()->Open(strError))
            return false;
        std::fputs(strText.c_str(), aWriters.back()->File());
    }
    std::vector<std::string> aRemoved;
    for (const std::string& strName : aCase.aRemoved)
        aRemoved.push_back(folder.Path(strName));
    std::size_t nFailed = 0;
    // The writers sorted by name: a.PGW, a.png, a.prj; at most three in every case.
    std::vector<CSafeFileWriter*> p;
    for (auto& pWriter : aWriters)
        p.push_back(pWriter.get());
    while (p.size() < 3)
        p.push_back(nullptr);
    if (!p[2] && !p[1])
        return CSafeFileWriter::CommitTogether({p[0]}, aRemoved, strError, nFailed);
    if (!p[2])
        return CSafeFileWriter::CommitTogether({p[0], p[1]}, aRemoved, strError, nFailed);
    return CSafeFileWriter::CommitTogether({p[0], p[1], p[2]}, aRemoved, strError, nFailed);
}

std::map<std::string, std::string> NewSet(const SCommitCase& aCase)
{
    std::map<std::string, std::string> aNew = aCase.aOld;
    for (const auto& [strName, strText] : aCase.aWritten)
        aNew[strName] = strText;
    for (const std::string& strName : aCase.aRemoved)
        aNew.erase(strName);
    return aNew;
}

TEST(SafeFileWriter, AFaultAtAnyStepLeavesTheOldSetOrTheNewOneWithAndWithoutHardLinks)
{
    for (const SCommitCase& aCase : kCommitCases) {
        for (bool bNoLinks : {false, true}) {
            CFaultyCalls counting;
            counting.bNoLinks = bNoLinks;
            {
                CTempFolder folder;
                const CScopedFileSystemCalls installed(counting);
                std::string strError;
                ASSERT_TRUE(CommitCase(folder, aCase, strError)) << strError;
                EXPECT_EQ(FolderContents(folder.Root()), NewSet(aCase)) << aCase.pName;
            }
            ASSERT_GT(counting.nCalls, 3);
            for (int nFault = 0; nFault < counting.nCalls; ++nFault) {
                SCOPED_TRACE(std::string(aCase.pName) + (bNoLinks ? ", no hard links" : "") + ", call " +
                             std::to_string(nFault) + " fails");
                CTempFolder folder;
                CFaultyCalls faulty;
                faulty.bNoLinks = bNoLinks;
                faulty.aFailing = {nFault};
                std::string strError;
                bool bCommitted;
                {
                    const CScopedFileSystemCalls installed(faulty);
                    bCommitted = CommitCase(folder, aCase, strError);
                }
                ASSERT_EQ(faulty.aFailed.size(), 1u);
                const std::map<std::string, std::string> aFiles = FolderContents(folder.Root());
                EXPECT_EQ(Visible(aFiles), bCommitted ? NewSet(aCase) : aCase.aOld) << strError;
                if (faulty.aFailed[0] != "unlink") {
                    EXPECT_EQ(aFiles, Visible(aFiles)) << "hidden files left";
                } else {
                    // What could not be removed goes with the next save of the same files.
                    std::string strAgain;
                    EXPECT_TRUE(CommitCase(folder, aCase, strAgain)) << strAgain;
                    EXPECT_EQ(FolderContents(folder.Root()), NewSet(aCase));
                }
            }
        }
    }
}

TEST(SafeFileWriter, TwoFaultsInARowNeverLoseAPreviousFile)
{
    // Without hard links the previous files are moved aside; a failed rename followed by a
    // failed way back must leave each old file under its name or a name the message gives.
    const SCommitCase& aCase = kCommitCases[0];
    CFaultyCalls counting;
    counting.bNoLinks = true;
    {
        CTempFolder folder;
        const CScopedFileSystemCalls installed(counting);
        std::string strError;
        ASSERT_TRUE(CommitCase(folder, aCase, strError)) << strError;
    }
    for (int nFirst = 0; nFirst < counting.nCalls; ++nFirst) {
        for (int nSecond = nFirst + 1; nSecond < counting.nCalls + 4; ++nSecond) {
            SCOPED_TRACE("calls " + std::to_string(nFirst) + " and " + std::to_string(nSecond) + " fail");
            CTempFolder folder;
            CFaultyCalls faulty;
            faulty.bNoLinks = true;
            faulty.aFailing = {nFirst, nSecond};
            std::string strError;
            bool bCommitted;
            {
                const CScopedFileSystemCalls installed(faulty);
                bCommitted = CommitCase(folder, aCase, strError);
            }
            const std::map<std::string, std::string> aFiles = FolderContents(folder.Root());
            if (bCommitted) {
                EXPECT_EQ(Visible(aFiles), NewSet(aCase));
                continue;
            }
            for (const auto& [strName, strText] : aCase.aOld) {
                const auto it = aFiles.find(strName);
                if (it != aFiles.end() && it->second == strText)
                    continue;
                // Not back under its name: kept under the hidden name the message gives.
                const std::string strSaid = "the previous " + folder.Path(strName) + " is kept as ";
                const auto nSaid = strError.find(strSaid);
                ASSERT_NE(nSaid, std::string::npos) << strName << ": " << strError;
                std::string strKept = strError.substr(nSaid + strSaid.size());
                strKept = strKept.substr(0, strKept.find(';'));
                EXPECT_EQ(ReadText(strKept), strText) << strError;
            }
        }
    }
}

TEST(SafeFileWriter, TheNextSaveTidiesItsOwnLeftoversAndNothingElse)
{
    CTempFolder folder;
    WriteText(folder.Path("map.png"), "current");
    WriteText(folder.Path(".map.png.gmtmp-AbCd1234"), "a temporary file of a killed save");
    WriteText(folder.Path(".map.png.gmprev-ZyXw9876"), "kept by a save whose record is gone");
    WriteText(folder.Path(".other.png.gmtmp-AbCd1234"), "another file's, left by a killed save");
    // Files of the user's that merely look like a save's leftovers.
    const std::vector<std::string> aUsers = {".map.png.20240101", ".map.png.Backup99", ".map.png.AbCd1234",
                                             ".map.png.ZyXw9876.previous", ".map.png.gmtmp-AbCd1234.txt",
                                             ".map.png.gmtmp-short", ".map.png.gmtmp-AbCd12345"};
    for (const std::string& strName : aUsers)
        WriteText(folder.Path(strName), "the user's");
    // A writer still at work on the same target keeps its temporary file.
    CSafeFileWriter busy(folder.Path("map.png"));
    std::string strError;
    ASSERT_TRUE(busy.Open(strError)) << strError;
    const std::string strBusy = std::filesystem::path(busy.TemporaryPath()).filename().string();
    EXPECT_EQ(strBusy.rfind(".map.png.gmtmp-", 0), 0u) << strBusy;
    ASSERT_TRUE(WriteThrough(folder.Path("map.png"), "new", strError)) << strError;
    std::vector<std::string> aExpected = aUsers;
    aExpected.insert(aExpected.end(), {strBusy, "map.png"});
    std::sort(aExpected.begin(), aExpected.end());
    EXPECT_EQ(NamesIn(folder.Root()), aExpected);
    busy.Discard();
    for (const std::string& strName : aUsers)
        EXPECT_EQ(ReadText(folder.Path(strName)), "the user's") << strName;
}

TEST(SafeFileWriter, TheFilesAreFlushedAndTheFoldersLockedWhileASetIsCommitted)
{
    // Records, at every rename, whether another process could lock the folder, and the
    // flushes made.
    class CWatchingCalls : public CFileSystemCalls {
    public:
        explicit CWatchingCalls(std::string strFolder) : m_strFolder(std::move(strFolder)) {}
        int Fsync(int nFd) override
        {
            struct stat info {};
            fstat(nFd, &info);
            aFlushed.push_back(S_ISDIR(info.st_mode) ? "folder" : "file");
            return CFileSystemCalls::Fsync(nFd);
        }
        int Rename(const char* pFrom, const char* pTo) override
        {
            const int nFd = open(m_strFolder.c_str(), O_RDONLY | O_DIRECTORY);
            aLockedAtRename.push_back(flock(nFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK);
            close(nFd);
            return CFileSystemCalls::Rename(pFrom, pTo);
        }
        std::vector<bool> aLockedAtRename;
        std::vector<std::string> aFlushed;

    private:
        std::string m_strFolder;
    };
    CTempFolder folder;
    CWatchingCalls watching(folder.Root().string());
    const CScopedFileSystemCalls installed(watching);
    std::string strError;
    ASSERT_TRUE(CommitCase(folder, kCommitCases[0], strError)) << strError;
    EXPECT_EQ(watching.aLockedAtRename, std::vector<bool>(3, true));
    // The three files, the record of the commit and its name; the renames; the record
    // marked done.
    EXPECT_EQ(watching.aFlushed,
              (std::vector<std::string>{"file", "file", "file", "file", "folder", "folder", "file"}));
}

// Makes the writer's system call numbered nCall end the process (as kill -9 would), or
// send it a terminating signal and go on.
class CInterruptingCalls : public CFileSystemCalls {
public:
    CInterruptingCalls(int nCall, int nSignal, bool bNoLinks) : m_nCall(nCall), m_nSignal(nSignal), m_bNoLinks(bNoLinks) {}
    int Fsync(int nFd) override { return Step() ? CFileSystemCalls::Fsync(nFd) : -1; }
    int Rename(const char* pFrom, const char* pTo) override
    {
        return Step() ? CFileSystemCalls::Rename(pFrom, pTo) : -1;
    }
    int Link(const char* pFrom, const char* pTo) override
    {
        if (!Step())
            return -1;
        if (m_bNoLinks) {
            errno = EPERM;
            return -1;
        }
        return CFileSystemCalls::Link(pFrom, pTo);
    }
    int Unlink(const char* pPath) override { return Step() ? CFileSystemCalls::Unlink(pPath) : -1; }

private:
    bool Step()
    {
        if (m_nCalls++ != m_nCall)
            return true;
        if (m_nSignal == 0)
            _exit(9);
        kill(getpid(), m_nSignal);
        return true;
    }
    int m_nCall;
    int m_nSignal;
    bool m_bNoLinks;
    int m_nCalls = 0;
};

// Commits the case in a child process that is interrupted at system call nCall; returns
// how the child ended (its wait status).
int CommitInterrupted(const CTempFolder& folder, const SCommitCase& aCase, int nCall, int nSignal, bool bNoLinks)
{
    std::fflush(nullptr);
    const pid_t nChild = fork();
    if (nChild == 0) {
        if (nSignal != 0)
            RemoveTemporaryFilesOnSignals();
        CInterruptingCalls calls(nCall, nSignal, bNoLinks);
        const CScopedFileSystemCalls installed(calls);
        std::string strError;
        _exit(CommitCase(folder, aCase, strError) ? 0 : 1);
    }
    int nStatus = 0;
    waitpid(nChild, &nStatus, 0);
    return nStatus;
}

// How many of the writer's system calls the case's commit makes.
int CountCalls(const SCommitCase& aCase, bool bNoLinks)
{
    CTempFolder folder;
    CFaultyCalls counting;
    counting.bNoLinks = bNoLinks;
    const CScopedFileSystemCalls installed(counting);
    std::string strError;
    EXPECT_TRUE(CommitCase(folder, aCase, strError)) << strError;
    return counting.nCalls;
}

TEST(SafeFileWriter, AProcessKilledAtAnyStepOfACommitLeavesTheOldSetOrTheNewOneForTheNextCall)
{
    for (const SCommitCase& aCase : kCommitCases) {
        for (bool bNoLinks : {false, true}) {
            const int nCalls = CountCalls(aCase, bNoLinks);
            ASSERT_GT(nCalls, 5);
            for (int nKill = 0; nKill < nCalls; ++nKill) {
                SCOPED_TRACE(std::string(aCase.pName) + (bNoLinks ? ", no hard links" : "") + ", killed at call " +
                             std::to_string(nKill));
                CTempFolder folder;
                const int nStatus = CommitInterrupted(folder, aCase, nKill, 0, bNoLinks);
                ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 9) << nStatus;
                // The next call that touches these files (here a save of another one of
                // the set, given up) finds the folder as one set or the other.
                CSafeFileWriter next(folder.Path("a.png"));
                std::string strError;
                ASSERT_TRUE(next.Open(strError)) << strError;
                next.Discard();
                const std::map<std::string, std::string> aFiles = FolderContents(folder.Root());
                EXPECT_TRUE(aFiles == aCase.aOld || aFiles == NewSet(aCase))
                    << ::testing::PrintToString(aFiles) << " " << ::testing::PrintToString(next.Recovered());
            }
        }
    }
}

TEST(SafeFileWriter, ATerminatingSignalDuringACommitActsOnceTheSetIsInPlace)
{
    const SCommitCase& aCase = kCommitCases[1];  // replaces two files and removes one
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        const int nCalls = CountCalls(aCase, false);
        for (int nAt = 0; nAt < nCalls; ++nAt) {
            SCOPED_TRACE("signal " + std::to_string(nSignal) + " at call " + std::to_string(nAt));
            CTempFolder folder;
            const int nStatus = CommitInterrupted(folder, aCase, nAt, nSignal, false);
            ASSERT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == nSignal) << nStatus;
            // While the new files are flushed (a call each) the signal ends the save, its
            // temporary files removed; from then on it waits until the set is in place.
            // Nothing needs tidying either way.
            EXPECT_EQ(FolderContents(folder.Root()), nAt < int(aCase.aWritten.size()) ? aCase.aOld : NewSet(aCase));
        }
    }
}

TEST(SafeFileWriter, ARollBackThatFailsIsFinishedByTheNextCall)
{
    // Two failing calls: a step fails, then putting a previous file back fails too. The
    // record of the commit stays, and the next save of one of the files puts the old set
    // back before anything else.
    for (bool bNoLinks : {false, true}) {
        const SCommitCase& aCase = kCommitCases[0];
        const int nCalls = CountCalls(aCase, bNoLinks);
        int nMixed = 0;
        for (int nFirst = 0; nFirst < nCalls; ++nFirst) {
            for (int nSecond = nFirst + 1; nSecond < nCalls + 4; ++nSecond) {
                SCOPED_TRACE(std::string(bNoLinks ? "no hard links, " : "") + "calls " + std::to_string(nFirst) +
                             " and " + std::to_string(nSecond) + " fail");
                CTempFolder folder;
                CFaultyCalls faulty;
                faulty.bNoLinks = bNoLinks;
                faulty.aFailing = {nFirst, nSecond};
                std::string strError;
                {
                    const CScopedFileSystemCalls installed(faulty);
                    CommitCase(folder, aCase, strError);
                }
                const std::map<std::string, std::string> aBefore = Visible(FolderContents(folder.Root()));
                nMixed += aBefore != aCase.aOld && aBefore != NewSet(aCase);
                CSafeFileWriter next(folder.Path("a.prj"));
                ASSERT_TRUE(next.Open(strError)) << strError;
                next.Discard();
                const std::map<std::string, std::string> aFiles = FolderContents(folder.Root());
                EXPECT_TRUE(aFiles == aCase.aOld || aFiles == NewSet(aCase)) << ::testing::PrintToString(aFiles);
            }
        }
        if (bNoLinks) {
            EXPECT_GT(nMixed, 0) << "no pair of faults left the folder mixed: the test shows nothing";
        }
    }
}

TEST(SafeFileWriter, OnlyRegularFilesAreReplaced)
{
    CTempFolder folder;
    ASSERT_EQ(mkfifo(folder.Path("pipe").c_str(), 0644), 0);
    std::filesystem::create_symlink(folder.Path("pipe"), folder.Path("to-pipe.points"));
    // A device node of its own (made where the test may), never the system's: a writer
    // that got it wrong must not damage anything outside the test's folder.
    const bool bDevice = mknod(folder.Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(folder.Path(bDevice ? "null" : "pipe"), folder.Path("to-null.points"));
    std::filesystem::create_directory(folder.Path("folder.png"));
    struct SCase {
        const char* pName;
        std::string strSaid;  // in the message, after the file's name
    };
    const SCase aCases[] = {
        {"pipe", " is a FIFO; only regular files are replaced"},
        {"to-pipe.points", " (a link to " + folder.Path("pipe") + ") is a FIFO; only regular files are replaced"},
        {"to-null.points", " (a link to " + folder.Path(bDevice ? "null" : "pipe") + ") is " +
                               (bDevice ? "a character device" : "a FIFO") + "; only regular files are replaced"},
        {"folder.png", " is a folder, not a file"},
        {"folder.png/", " names a folder, not a file"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        std::string strError;
        EXPECT_FALSE(WriteThrough(folder.Path(aCase.pName), "new", strError));
        EXPECT_EQ(strError.rfind(folder.Path(aCase.pName) + aCase.strSaid, 0), 0u) << strError;
        EXPECT_FALSE(WriteTextFile(folder.Path(aCase.pName), "new"));
    }
    struct stat info {};
    ASSERT_EQ(stat(folder.Path("pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    if (bDevice) {
        ASSERT_EQ(stat(folder.Path("null").c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("to-null.points")));
    std::vector<std::string> aNames = {"folder.png", "pipe", "to-null.points", "to-pipe.points"};
    if (bDevice)
        aNames.insert(aNames.begin() + 1, "null");
    EXPECT_EQ(NamesIn(folder.Root()), aNames);
    EXPECT_TRUE(NamesIn(folder.Path("folder.png")).empty());
}

TEST(SafeFileWriter, AReadOnlyFileIsReplacedOnlyWhenAsked)
{
    CTempFolder folder;
    WriteText(folder.Path("locked.txt"), "old");
    chmod(folder.Path("locked.txt").c_str(), 0444);
    std::string strError;
    EXPECT_FALSE(WriteThrough(folder.Path("locked.txt"), "new", strError));
    EXPECT_EQ(strError, folder.Path("locked.txt") + " is read-only (no permission to write it); it is not replaced");
    EXPECT_EQ(ReadText(folder.Path("locked.txt")), "old");
    EXPECT_TRUE(WriteTextFile(folder.Path("locked.txt"), "new", strError, EReadOnlyFiles::Replace)) << strError;
    EXPECT_EQ(ReadText(folder.Path("locked.txt")), "new");
    EXPECT_EQ(ModeOf(folder.Path("locked.txt")), 0444u);
    EXPECT_EQ(NamesIn(folder.Root()), std::vector<std::string>{"locked.txt"});
}

TEST(SafeFileWriter, ASignalRemovesTheTemporaryFilesOfAnyNumberOfWriters)
{
    CTempFolder folder;
    std::fflush(nullptr);
    const pid_t nChild = fork();
    if (nChild == 0) {
        RemoveTemporaryFilesOnSignals();
        std::vector<std::unique_ptr<CSafeFileWriter>> aWriters;
        std::string strError;
        for (int i = 0; i < 200; ++i) {  // 40 jobs with five files open each
            aWriters.push_back(std::make_unique<CSafeFileWriter>(folder.Path("map" + std::to_string(i) + ".png")));
            if (!aWriters.back()->Open(strError))
                _exit(1);
            if (i % 7 == 0)
                aWriters.back()->Discard();  // entries given back are used again
        }
        for (int i = 0; i < 40; i += 3)
            aWriters[i]->Open(strError);
        kill(getpid(), SIGTERM);
        _exit(2);
    }
    int nStatus = 0;
    waitpid(nChild, &nStatus, 0);
    ASSERT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGTERM) << nStatus;
    EXPECT_EQ(NamesIn(folder.Root()), std::vector<std::string>{});
}

}  // namespace
}  // namespace gridmorph
