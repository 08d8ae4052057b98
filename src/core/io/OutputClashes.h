#pragma once

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

private:
    struct SEntry {
        std::string strPath;
        std::string strRole;
        bool bWritten = false;
    };
    std::vector<SEntry> m_aEntries;
};

}  // namespace gridmorph
