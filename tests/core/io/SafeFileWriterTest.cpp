// Saving through a temporary file: permissions, links, folders that refuse new files,
// and several files replaced as one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace
}  // namespace gridmorph
