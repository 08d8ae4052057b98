#pragma once

#include <cstdio>
#include <string>

namespace gridmorph {

// Writes a file so that a failure never damages what was there before: everything goes
// to a temporary file in the target's folder, which is renamed over the target only
// once it is complete. A writer that is neither committed nor discarded removes its
// temporary file when destroyed. A new file gets 0666 less the umask; a replaced file
// keeps its permissions.
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

    const std::string& TargetPath() const { return m_strTargetPath; }
    const std::string& TemporaryPath() const { return m_strTemporaryPath; }

private:
    std::string m_strTargetPath;
    std::string m_strTemporaryPath;
    std::FILE* m_pFile = nullptr;
    bool m_bOpen = false;
};

// Writes a small text file (world file, .prj, locator file) through a CSafeFileWriter;
// false when it cannot be written, and then whatever was there is left as it was.
bool WriteTextFile(const std::string& strPath, const std::string& strText);

}  // namespace gridmorph
