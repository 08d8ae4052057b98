// Saving through a temporary file: permissions, links, folders that refuse new files,
// and several files replaced as one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

std::vector<std::string> NamesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> aNames;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        aNames.push_back(entry.path().filename().string());
    std::sort(aNames.begin(), aNames.end());
    return aNames;
}

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
    std::filesystem::create_directory(folder.Path("blocked.txt"));  // cannot be replaced by a file
    CSafeFileWriter kept(folder.Path("kept.txt")), fresh(folder.Path("fresh.txt")), blocked(folder.Path("blocked.txt"));
    std::string strError;
    for (CSafeFileWriter* pWriter : {&kept, &fresh, &blocked}) {
        ASSERT_TRUE(pWriter->Open(strError)) << strError;
        std::fputs("new", pWriter->File());
    }
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

TEST(SafeFileWriter, TheNextSaveTidiesLeftoversAndGivesAMissingFileItsNameBack)
{
    CTempFolder folder;
    WriteText(folder.Path("map.png"), "current");
    WriteText(folder.Path(".map.png.AbCd1234"), "a temporary file of a killed save");
    WriteText(folder.Path(".map.png.ZyXw9876.previous"), "kept by a killed save");
    WriteText(folder.Path(".other.png.AbCd1234"), "another file's");
    // A writer still at work on the same target keeps its temporary file.
    CSafeFileWriter busy(folder.Path("map.png"));
    std::string strError;
    ASSERT_TRUE(busy.Open(strError)) << strError;
    const std::string strBusy = std::filesystem::path(busy.TemporaryPath()).filename().string();
    ASSERT_TRUE(WriteThrough(folder.Path("map.png"), "new", strError)) << strError;
    EXPECT_EQ(NamesIn(folder.Root()), (std::vector<std::string>{strBusy, ".other.png.AbCd1234", "map.png"}));
    busy.Discard();

    // Killed between its renames, a save left the target only under its kept name.
    std::filesystem::remove(folder.Path("map.png"));
    WriteText(folder.Path(".map.png.Old00000.previous"), "older");
    WriteText(folder.Path(".map.png.New11111.previous"), "previous");
    CSafeFileWriter writer(folder.Path("map.png"));
    ASSERT_TRUE(writer.Open(strError)) << strError;
    EXPECT_TRUE(std::filesystem::exists(folder.Path("map.png")));
    EXPECT_EQ(ReadText(folder.Path("map.png")), "previous");
    writer.Discard();
    EXPECT_EQ(NamesIn(folder.Root()), (std::vector<std::string>{".other.png.AbCd1234", "map.png"}));
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
    EXPECT_EQ(watching.aFlushed, (std::vector<std::string>{"file", "file", "file", "folder"}));
}

}  // namespace
}  // namespace gridmorph
