#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
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
//
// Every entry's names and file are kept in hash tables as it is added, so a set of n
// entries is checked in time linear in n (a batch of thousands of rows).
class COutputSet {
public:
    // Which entries one is compared with. A piece of a growing set (a batch row) runs as a
    // whole, its reads before its writes, but pieces run in any order: a name a piece only
    // might read or write (a sidecar that is not there now) matters to the other pieces.
    enum class EScope { AllEntries, OtherPieces };

    // A file the work reads or will read; it need not exist yet (a sidecar the work
    // would find once written is still one the input would read).
    void AddRead(const std::string& strPath, const std::string& strRole, EScope eScope = EScope::AllEntries);
    // A file the work writes (or removes as part of replacing a set of files).
    void AddWritten(const std::string& strPath, const std::string& strRole, EScope eScope = EScope::AllEntries);

    // The first clash as a message naming both files ("the world file out.TFW would
    // replace in.TFW, the world file of the input"), or "" when there is none.
    std::string FindClash() const;

    // A growing set checked a piece at a time (the rows of a batch): the first clash that
    // involves an entry from nFirst on, as the written entry and the other one; entries
    // before nFirst, checked already, are not compared with each other again, and an entry
    // of scope OtherPieces is not compared with the entries from nFirst on. What is known
    // of each file on disc is looked up once.
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
    struct SSameFile;
    struct SFacts {
        std::vector<std::string> aKeys;  // without repeats
        bool bExists = false;
        dev_t nDevice = 0;
        ino_t nInode = 0;
        std::vector<SSameFile*> aSame;  // its lists in the index: by each key, then by file
    };
    struct SEntry {
        std::string strPath;
        std::string strRole;
        bool bWritten = false;
        EScope eScope = EScope::AllEntries;
    };
    // The entries that have one name, or are one file on disc, in the order they came.
    struct SSameFile {
        std::vector<std::size_t> aRead, aWritten;
    };
    struct SFileHash {
        std::size_t operator()(const std::pair<dev_t, ino_t>& file) const
        {
            return std::hash<unsigned long long>()(static_cast<unsigned long long>(file.second) * 1000003u ^
                                                   static_cast<unsigned long long>(file.first));
        }
    };
    std::vector<SEntry> m_aEntries;
    mutable std::vector<SFacts> m_aFacts;  // of the entries looked up so far, each indexed
    mutable std::unordered_map<std::string, SSameFile> m_aByName;
    mutable std::unordered_map<std::pair<dev_t, ino_t>, SSameFile, SFileHash> m_aByFile;
    mutable std::unordered_map<std::string, std::string> m_aFolders;  // a folder free of links
    mutable std::string m_strCurrentFolder;
    void LookUpAll() const;
    void Forget(std::size_t nCount) const;  // the facts and index of the entries from nCount on
    std::string NameKey(const std::string& strPath) const;
    std::vector<std::string> NameKeys(std::string strPath) const;
    SFacts LookUp(const std::string& strPath) const;
};

}  // namespace gridmorph
