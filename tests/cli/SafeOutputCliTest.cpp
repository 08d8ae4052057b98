// What the command line writes over: only regular files its user may write (or any
// regular file with --force), never a folder, and a set of files that a killed save left
// halfway is made whole again by the next command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/DIBImage.h"
#include "io/SafeFileWriter.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

test::SCommandResult Cli(const std::string& strArguments)
{
    return test::RunCommand(std::string(GRIDMORPH_CLI_PATH) + " " + strArguments + " 2>&1");
}

using test::NamesIn;

void WriteText(const std::string& strPath, const std::string& strText)
{
    test::WriteBytes(strPath, std::vector<std::uint8_t>(strText.begin(), strText.end()));
}

bool IsFifo(const std::string& strPath)
{
    struct stat info {};
    return stat(strPath.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

constexpr const char* kLocators = " --p1 0,0,1000,2049 --p2 99,0 --p3 99,49,1099,1951";

class SafeOutputCliTest : public test::CPlatformTest {
protected:
    void SetUp() override
    {
        CDIBWorld scan;
        test::MakePatternPicture(scan, 24, 100, 50);
        ASSERT_EQ(scan.SaveDIB(m_folder.Path("scan.bmp")), ESaveResult::Written);
    }
    test::CTempFolder m_folder;
};

TEST_F(SafeOutputCliTest, AnOutputNamingAFolderIsRefusedBeforeAnyWork)
{
    std::filesystem::create_directory(m_folder.Path("outdir"));
    for (const std::string& strOutput : {m_folder.Path("outdir") + "/", m_folder.Path("outdir")}) {
        SCOPED_TRACE(strOutput);
        for (const std::string& strArguments :
             {"convert " + m_folder.Path("scan.bmp") + " " + strOutput,
              "rectify " + m_folder.Path("scan.bmp") + " " + strOutput + kLocators,
              "mosaic " + strOutput + " --region 0,0,10,10 " + m_folder.Path("scan.bmp")}) {
            const test::SCommandResult run = Cli(strArguments);
            EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
            EXPECT_NE(run.strOutput.find("names a folder"), std::string::npos) << run.strOutput;
        }
    }
    EXPECT_EQ(NamesIn(m_folder.Path("outdir")), std::vector<std::string>{});
}

TEST_F(SafeOutputCliTest, ADeviceOrFifoIsNeverReplacedNorThroughALink)
{
    ASSERT_EQ(mkfifo(m_folder.Path("pipe").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(m_folder.Path("pipe.png").c_str(), 0644), 0);
    std::filesystem::create_symlink(m_folder.Path("pipe"), m_folder.Path("linked.points"));
    // A device node of the test's own, never the system's: a tool that got it wrong must
    // not damage anything outside the test's folder.
    const bool bDevice = mknod(m_folder.Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(m_folder.Path(bDevice ? "null" : "pipe"), m_folder.Path("null.points"));
    const std::string strRectify = "rectify " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png") + kLocators;
    struct SCase {
        std::string strArguments;
        std::string strSaid;
    };
    const SCase aCases[] = {
        {strRectify + " --save-points " + m_folder.Path("pipe"), m_folder.Path("pipe") + " is a FIFO"},
        {strRectify + " --save-points " + m_folder.Path("linked.points"),
         m_folder.Path("linked.points") + " (a link to " + m_folder.Path("pipe") + ") is a FIFO"},
        {strRectify + " --save-points " + m_folder.Path("null.points"),
         m_folder.Path("null.points") + " (a link to " + m_folder.Path(bDevice ? "null" : "pipe") + ") is " +
             (bDevice ? "a character device" : "a FIFO")},
        {"convert " + m_folder.Path("scan.bmp") + " " + m_folder.Path("pipe.png"), m_folder.Path("pipe.png") + " is a FIFO"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.strArguments);
        const test::SCommandResult run = Cli(aCase.strArguments);
        EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
        EXPECT_NE(run.strOutput.find(aCase.strSaid + "; only regular files are replaced"), std::string::npos)
            << run.strOutput;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.png")));
    }
    // batch --report too.
    WriteText(m_folder.Path("table.csv"), "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n\r\n"
                                          "scan.bmp,out.png,0,0,1000,2049,99,0,99,49,1099,1951\r\n");
    const test::SCommandResult run =
        Cli("batch " + m_folder.Path("table.csv") + " --report " + m_folder.Path("linked.points"));
    EXPECT_EQ(run.nExitCode, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find(" is a FIFO; only regular files are replaced"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.png")));
    EXPECT_TRUE(IsFifo(m_folder.Path("pipe")));
    EXPECT_TRUE(IsFifo(m_folder.Path("pipe.png")));
    EXPECT_TRUE(std::filesystem::is_symlink(m_folder.Path("linked.points")));
    struct stat info {};
    if (bDevice) {
        ASSERT_EQ(stat(m_folder.Path("null").c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
}

TEST_F(SafeOutputCliTest, AReadOnlyOutputIsReplacedOnlyWithForce)
{
    ASSERT_EQ(Cli("convert " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png")).nExitCode, 0);
    ASSERT_EQ(Cli("convert " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.tif")).nExitCode, 0);
    WriteText(m_folder.Path("table.csv"), "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n\r\n"
                                          "scan.bmp,out.tif,0,0,1000,2049,99,0,99,49,1099,1951\r\n");
    WriteText(m_folder.Path("out.TFW"), "1.000000\r\n0.0\r\n0.0\r\n-1.000000\r\n1000.000000\r\n2000.000000\r\n");
    const std::vector<std::uint8_t> aOld = test::ReadBytes(m_folder.Path("out.png"));
    for (const char* pName : {"out.png", "out.tif", "out.TFW"})
        chmod(m_folder.Path(pName).c_str(), 0444);
    struct SCase {
        std::string strArguments;
        std::string strReadOnly;  // the file named
    };
    const SCase aCases[] = {
        {"convert " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png") + " --depth grey",
         m_folder.Path("out.png")},
        {"crop " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png") + " --rect 0,0,5,5",
         m_folder.Path("out.png")},
        {"rectify " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png") + kLocators,
         m_folder.Path("out.png")},
        {"world " + m_folder.Path("out.tif") + " --write TFW", m_folder.Path("out.TFW")},
        {"batch " + m_folder.Path("table.csv") + " --report " + m_folder.Path("out.png"), m_folder.Path("out.png")},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.strArguments);
        const test::SCommandResult run = Cli(aCase.strArguments);
        EXPECT_NE(run.nExitCode, 0) << run.strOutput;
        EXPECT_NE(run.strOutput.find(aCase.strReadOnly + " is read-only"), std::string::npos) << run.strOutput;
        EXPECT_NE(run.strOutput.find("--force"), std::string::npos) << run.strOutput;
        EXPECT_EQ(test::ReadBytes(m_folder.Path("out.png")), aOld);
    }
    // With --force the file is replaced and keeps its permissions.
    const test::SCommandResult forced =
        Cli("convert " + m_folder.Path("scan.bmp") + " " + m_folder.Path("out.png") + " --depth grey --force");
    EXPECT_EQ(forced.nExitCode, 0) << forced.strOutput;
    EXPECT_NE(test::ReadBytes(m_folder.Path("out.png")), aOld);
    struct stat info {};
    ASSERT_EQ(stat(m_folder.Path("out.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    // A command that writes nothing takes no --force.
    EXPECT_EQ(Cli("info " + m_folder.Path("out.png") + " --force").nExitCode, 2);
}

TEST_F(SafeOutputCliTest, TheLocatorFileIsPutInPlaceWithTheMapOrNotAtAll)
{
    const std::string strOut = m_folder.Path("out.png");
    ASSERT_EQ(Cli("rectify " + m_folder.Path("scan.bmp") + " " + strOut + kLocators).nExitCode, 0);
    const std::vector<std::uint8_t> aMap = test::ReadBytes(strOut), aWorld = test::ReadBytes(m_folder.Path("out.PGW"));
    // A name the file system takes, but with no room left for the hidden file a save
    // writes first: the locator file cannot be written.
    const std::string strPoints = m_folder.Path(std::string(240, 'p') + ".points");
    WriteText(strPoints, "old locators");
    const test::SCommandResult run = Cli("rectify " + m_folder.Path("scan.bmp") + " " + strOut +
                                         " --p1 0,0,1000,2049 --p2 99,0 --p3 99,49,1099,1949 --save-points " + strPoints);
    EXPECT_EQ(run.nExitCode, 1) << run.strOutput;
    EXPECT_NE(run.strOutput.find(strPoints), std::string::npos) << run.strOutput;
    EXPECT_NE(run.strOutput.find("File name too long"), std::string::npos) << run.strOutput;
    EXPECT_EQ(test::ReadBytes(strOut), aMap);
    EXPECT_EQ(test::ReadBytes(m_folder.Path("out.PGW")), aWorld);
    EXPECT_EQ(test::ReadBytes(strPoints), std::vector<std::uint8_t>({'o', 'l', 'd', ' ', 'l', 'o', 'c', 'a', 't', 'o',
                                                                      'r', 's'}));
}

// Ends the process (as kill -9 would) at the writer's system call numbered nCall.
class CKillingCalls : public CFileSystemCalls {
public:
    explicit CKillingCalls(int nCall) : m_nCall(nCall) {}
    int Fsync(int nFd) override { return Step(), CFileSystemCalls::Fsync(nFd); }
    int Rename(const char* pFrom, const char* pTo) override { return Step(), CFileSystemCalls::Rename(pFrom, pTo); }
    int Link(const char*, const char*) override
    {
        Step();
        errno = EPERM;  // as on a file system without hard links: the previous files are moved aside
        return -1;
    }
    int Unlink(const char* pPath) override { return Step(), CFileSystemCalls::Unlink(pPath); }
    int m_nCalls = 0;

private:
    void Step()
    {
        if (m_nCalls++ == m_nCall)
            _exit(9);
    }
    int m_nCall;
};

TEST_F(SafeOutputCliTest, TheNextCommandMakesWholeASetThatAKilledSaveLeftHalfway)
{
    // The old map and the new one differ in size and west edge, so that the edges printed
    // say which picture they belong to.
    auto Save = [&](int nWidth, double dWest) {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, nWidth, 10);
        map.SetEdges({dWest, 2009, dWest + nWidth - 1, 2000});
        return map.SaveWorld(m_folder.Path("map.png")) == ESaveResult::Written;
    };
    int nCalls = 0;
    {
        CKillingCalls counting(-1);
        const CScopedFileSystemCalls installed(counting);
        ASSERT_TRUE(Save(30, 5000));
        nCalls = counting.m_nCalls;
    }
    ASSERT_GT(nCalls, 3);  // the two files flushed, then at least one rename each
    int nRecovered = 0;
    for (int nKill = 0; nKill < nCalls; ++nKill) {
        SCOPED_TRACE("killed at call " + std::to_string(nKill));
        for (const std::string& strName : NamesIn(m_folder.Root()))
            if (strName.rfind("map", 0) == 0 || strName.rfind(".map", 0) == 0)
                std::filesystem::remove(m_folder.Path(strName));
        ASSERT_TRUE(Save(20, 1000));
        std::fflush(nullptr);
        const pid_t nChild = fork();
        if (nChild == 0) {
            CKillingCalls killing(nKill);
            const CScopedFileSystemCalls installed(killing);
            Save(30, 5000);
            _exit(0);
        }
        int nStatus = 0;
        waitpid(nChild, &nStatus, 0);
        ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 9) << nStatus;
        const test::SCommandResult run = Cli("world " + m_folder.Path("map.png"));
        ASSERT_EQ(run.nExitCode, 0) << run.strOutput;
        const bool bNote = run.strOutput.find("note: A save of ") != std::string::npos;
        nRecovered += bNote;
        CDIBImage picture;
        ASSERT_TRUE(picture.OpenDIB(m_folder.Path("map.png")));
        const std::string strWest = picture.m_nImageWidth == 20 ? "west: 1000.000000\n" : "west: 5000.000000\n";
        EXPECT_NE(run.strOutput.find(strWest), std::string::npos) << picture.m_nImageWidth << "\n" << run.strOutput;
        EXPECT_EQ(NamesIn(m_folder.Root()), (std::vector<std::string>{"map.PGW", "map.png", "scan.bmp"}));
    }
    EXPECT_GT(nRecovered, 0);
}

}  // namespace
}  // namespace gridmorph
