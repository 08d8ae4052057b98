#pragma once
// Shared inside core/io only: the journal a commit of several files writes before it
// replaces anything, so that a process killed halfway leaves enough on the disc for the
// next save or opening of those files to finish the commit or undo it
// (RecoverInterruptedCommits, declared with the writer), and the steps that put a set
// back. Nothing outside core/io includes this header.

#include <string>
#include <vector>

#include "io/SaveFolder.h"

namespace gridmorph::io_detail {

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

// Writes the journal of the steps, a copy in each folder they touch, each on the disc
// with its name before anything is replaced; false with the reason (the copies made are
// removed).
bool WriteJournal(SJournal& journal, const CFolderLocks& aLocks, std::string& strError);

// Adds "done" to every copy of the journal: from now on an interrupted commit is finished,
// not undone.
bool MarkJournalDone(const SJournal& journal, std::string& strError);

// Writes strText to a new file and flushes it to the disc; false with errno set.
bool WriteFlushed(int nFd, const std::string& strText);

// Undoes the steps of a commit, last first, from what the folder holds now (so that it
// may be done again after it was itself interrupted): a kept file gets its name back (or,
// a second name of the file still in place, goes), a new file where there was none goes,
// a new file not yet in place goes. A previous file that cannot get its name back stays
// where it is kept, and strError says where. True when everything was undone.
bool UndoSteps(std::vector<SCommitStep>& aSteps, std::string& strError);

// Removes the journal's files; false when one stays.
bool RemoveJournal(const SJournal& journal);

// Removes the kept previous files of a commit that is complete; false when one stays.
bool RemoveKept(const std::vector<SCommitStep>& aSteps);

// Removes what earlier saves left in a folder (locked by the caller): temporary files no
// process holds any more, and previous files kept by a commit that no journal of the
// folder names any more (the journal's removal reached the disc before theirs did). Only
// names with this writer's marks are touched.
void RemoveLeftovers(const std::string& strFolder);

}  // namespace gridmorph::io_detail
