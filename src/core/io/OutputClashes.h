#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace gridmorph {

// The files one piece of work reads and the files it writes, checked before any work so
// that a save never replaces a file the work reads (a picture, its world file, its .prj,
// a locator file) nor another file the same work writes.
//
// Two entries are the same file when they are the same file on disc (device and inode,
// reached through any links) or when their names differ at most in letter case in the
// same folder: the world-file search finds site.TFW for site.tif, so a file of another
// spelling is read as the same sidecar. A written entry that is a symbolic link counts
// with the file it names.
class COutputSet {
public:
    // A file the work reads or will read; it need not exist yet (a sidecar the work
    // would find once written is still one the input would read).
    void AddRead(const std::string& strPath, const std::string& strRole);
    // A file the work writes (or removes as part of replacing a set of files).
    void AddWritten(const std::string& strPath, const std::string& strRole);

    // The first clash as a message naming both files ("the world file out.TFW would
    // replace in.TFW, the world file of the input"), or "" when there is none.
    std::string FindClash() const;

    // A growing set checked a piece at a time (the rows of a batch): the first clash that
    // involves an entry from nFirst on, as the written entry and the other one; entries
    // before nFirst, checked already, are not compared with each other again. What is
    // known of each file on disc is looked up once.
    struct SClash {
        std::size_t nWritten = 0;
        std::size_t nOther = 0;
    };
    std::optional<SClash> FindClashFrom(std::size_t nFirst) const;
    std::size_t Count() const { return m_aEntries.size(); }
    const std::string& Path(std::size_t i) const { return m_aEntries[i].strPath; }
    const std::string& Role(std::size_t i) const { return m_aEntries[i].strRole; }
    bool Written(std::size_t i) const { return m_aEntries[i].bWritten; }
    // Leaves out the entries from nCount on (a piece that was refused).
    void Truncate(std::size_t nCount);

private:
    struct SFacts {
        std::vector<std::string> aKeys;
        bool bExists = false;
        dev_t nDevice = 0;
        ino_t nInode = 0;
    };
    struct SEntry {
        std::string strPath;
        std::string strRole;
        bool bWritten = false;
    };
    std::vector<SEntry> m_aEntries;
    mutable std::vector<SFacts> m_aFacts;  // of the entries looked up so far
    const SFacts& Facts(std::size_t i) const;
    bool Same(std::size_t a, std::size_t b) const;
};

}  // namespace gridmorph
