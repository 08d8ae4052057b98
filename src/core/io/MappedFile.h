#pragma once

// A picture file mapped into memory instead of read into a fresh buffer: its pages come
// from the page cache as they are touched, and nothing is copied. The mapping is private
// (a write to it changes this process's copy, never the file).
//
// A file that is cut short while it is mapped would make the next read of a page past
// its new end fail with a bus error. Such a read is caught here: the page reads as zero
// bytes from then on and the mapping is marked as cut, so that whoever reads from it
// (the rectification) can refuse to write a result made from it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gridmorph {

// What a rectification says when its scan was cut short while it was read, mapped or not.
inline constexpr const char* kScanCutText = "The scan was cut short while it was being read; no map was written.";

class CMappedFile {
public:
    // Maps the whole of a regular file of at least nLeastBytes bytes; null when it cannot be
    // mapped (a pipe, a file system that refuses it, a file shorter than that): read it then.
    static std::shared_ptr<CMappedFile> Map(const std::string& strPath, std::uint64_t nLeastBytes);
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    std::uint8_t* Data() const { return m_pData; }
    std::size_t Size() const { return m_nSize; }
    // Whether a read met the end of the file after it had been cut short.
    bool WasCut() const;

private:
    CMappedFile(std::uint8_t* pData, std::size_t nSize, int nSlot) : m_pData(pData), m_nSize(nSize), m_nSlot(nSlot) {}
    std::uint8_t* m_pData;
    std::size_t m_nSize;
    int m_nSlot;  // its entry in the table the bus-error handler looks through
};

// Whether the mapped file that holds pAddress was cut short while it was read; false for
// memory that is no mapped file.
bool MappedFileWasCut(const void* pAddress);

// Whether pAddress lies in a mapped file.
bool IsInMappedFile(const void* pAddress);

// Lets the system take back the pages of [pStart, pStart + nBytes) that lie wholly inside
// a mapped file (they are read from the file again if touched); nothing for other memory.
void DropMappedPages(const void* pStart, std::size_t nBytes);

// Within its scope, decoders on this thread may map a file instead of reading it, or give
// a picture whose rows are read from the file when asked for (CDIBSection::m_pRowSupply),
// for the command line's work that only reads its scan. Scopes nest.
class CScopedFileMapping {
public:
    CScopedFileMapping();
    ~CScopedFileMapping();
    CScopedFileMapping(const CScopedFileMapping&) = delete;
    CScopedFileMapping& operator=(const CScopedFileMapping&) = delete;
    static bool Allowed();
};

}  // namespace gridmorph
