#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

namespace gridmorph {

// Writes a file so that a failure never damages what was there before: everything goes
// to a temporary file in the target's folder, which is renamed over the target only
// once it is complete. A writer that is neither committed nor discarded removes its
// temporary file when destroyed.
//
// A new file gets the mode the process's umask gives (0666 less the umask, applied by
// the kernel as the file is created, so the umask itself is never touched); a replaced
// file keeps its permission bits. A target that is a symbolic link stays one: the file
// it names (through any chain of links) is the one replaced.
class CSafeFileWriter {
public:
    explicit CSafeFileWriter(std::string strTargetPath);
    ~CSafeFileWriter();
    CSafeFileWriter(const CSafeFileWriter&) = delete;
    CSafeFileWriter& operator=(const CSafeFileWriter&) = delete;

    // Creates the temporary file. On failure strError says why.
    bool Open(std::string& strError);

    // The temporary file as a stdio stream (owned by the writer).
    std::FILE* File() const { return m_pFile; }
    // A duplicate descriptor of the temporary file for libraries that close what they
    // are given; the caller (or the library) closes it. -1 on failure.
    int DuplicateDescriptor() const;

    // Flushes, closes and renames the temporary file over the target.
    bool Commit(std::string& strError);
    // Closes and removes the temporary file; the target is untouched.
    void Discard();

    // Commits several writers as one: every file is flushed and closed before any target
    // is replaced, and when a replacement fails, the targets replaced before it get their
    // previous files back (kept meanwhile by a hard link, where the file system has
    // them) and new ones are removed. On failure strError says why and nFailed is the
    // position of the writer that failed; all temporary files are gone.
    static bool CommitTogether(std::initializer_list<CSafeFileWriter*> aWriters, std::string& strError,
                               std::size_t& nFailed);

    // The path as given, and the file actually replaced (the end of its links).
    const std::string& TargetPath() const { return m_strTargetPath; }
    const std::string& ReplacedPath() const { return m_strReplacedPath; }
    const std::string& TemporaryPath() const { return m_strTemporaryPath; }

private:
    bool Finish(std::string& strError);

    std::string m_strTargetPath;
    std::string m_strReplacedPath;
    std::string m_strTemporaryPath;
    std::FILE* m_pFile = nullptr;
    bool m_bOpen = false;
};

// Writes a small text file (world file, .prj, locator file) through a CSafeFileWriter;
// false when it cannot be written, and then whatever was there is left as it was.
bool WriteTextFile(const std::string& strPath, const std::string& strText);

}  // namespace gridmorph
