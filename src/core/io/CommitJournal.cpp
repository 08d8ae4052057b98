#include "io/CommitJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace gridmorph {
namespace io_detail {
namespace {

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

}  // namespace

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

bool RemoveJournal(const SJournal& journal)
{
    bool bRemoved = true;
    for (const std::string& strFile : journal.aFiles)
        if (CFileSystemCalls::Current().Unlink(strFile.c_str()) != 0 && errno != ENOENT)
            bRemoved = false;
    return bRemoved;
}

bool RemoveKept(const std::vector<SCommitStep>& aSteps)
{
    bool bRemoved = true;
    for (const SCommitStep& step : aSteps)
        if (!step.strKept.empty() && CFileSystemCalls::Current().Unlink(step.strKept.c_str()) != 0 &&
            errno != ENOENT)
            bRemoved = false;
    return bRemoved;
}

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

}  // namespace io_detail

using namespace io_detail;

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

}  // namespace gridmorph
