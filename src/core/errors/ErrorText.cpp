#include "errors/ErrorText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace gridmorph {
namespace {

// Sorted by number so the lookup can bisect.
constexpr std::pair<long, const char*> s_aErrorTexts[] = {
    {10001, "Unspecified file error"},
    {10002, "Could not find file"},
    {10003, "All or part of path is invalid"},
    {10004, "Too many files open"},
    {10005, "Could not access file"},
    {10006, "Invalid file handle"},
    {10007, "Current working directory cannot be removed"},
    {10008, "Directory entries are full"},
    {10009, "Error setting file pointer"},
    {10010, "Hardware error"},
    {10011, "File is locked / opened by another program"},
    {10012, "Attempt to lock am already locked region"},
    {10013, "The disc is full"},
    {10014, "End of the file reached"},
    {10021, "No file name specified"},
    {10022, "Could not open file"},
    {10023, "Could not open file for saving"},
    {10024, "File read error"},
    {10025, "File write error"},
    {10101, "EPERM system error"},
    {10102, "No such file or directory"},
    {10103, "ESRCH system error"},
    {10104, "EINTR system error"},
    {10105, "EIO system error"},
    {10106, "ENXIO system error"},
    {10107, "Argument list too long"},
    {10108, "Exec format error"},
    {10109, "Bad file number"},
    {10110, "No spawned processes"},
    {10111, "No more processes or not enough memory or maximum nesting level reached"},
    {10112, "Not enough memory"},
    {10113, "Permission denied"},
    {10114, "EFAULT system error"},
    {10116, "EBUSY system error"},
    {10117, "File exists"},
    {10118, "Cross-device link"},
    {10119, "ENODEV system error"},
    {10120, "ENOTDIR system error"},
    {10121, "EISDIR system error"},
    {10122, "Invalid argument"},
    {10123, "ENFILE system error"},
    {10124, "Too many open files"},
    {10125, "ENOTTY system error"},
    {10127, "EFBIG system error"},
    {10128, "No space left on device"},
    {10129, "ESPIPE system error"},
    {10130, "EROFS system error"},
    {10131, "EMLINK system error"},
    {10132, "EPIPE system error"},
    {10133, "Math argument"},
    {10134, "Result too large"},
    {10136, "Resource deadlock would occur"},
    {10138, "ENAMETOOLONG system error"},
    {10139, "ENOLCK system error"},
    {10140, "ENOSYS system error"},
    {10141, "ENOTEMPTY system error"},
    {10142, "EILSEQ system error"},
    {15011, "Invalid argument"},
    {15014, "Invalid file"},
    {15015, "Out of memory"},
    {15400, "Bitmap is not a DIBSection."},
    {15401, "GetExporterFilter failed: there are no export types."},
    {15402, "Image file type not recognised."},
    {15403, "Load image failed - probably too large."},
    {15404, "Save image failed."},
    {15405, "No World file or transform information in file."},
    {15406, "Unexpected end of world file."},
    {15407, "Could not open World file for writing (read only?)."},
    {15408, "Image size is too small."},
    {15409, "Image not saved: the file type does not take this colour depth."},
};

static_assert(std::is_sorted(std::begin(s_aErrorTexts), std::end(s_aErrorTexts),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

}  // namespace

const char* FindErrorText(long nErrorNumber)
{
    const auto* pEnd = std::end(s_aErrorTexts);
    const auto* pFound = std::lower_bound(std::begin(s_aErrorTexts), pEnd, nErrorNumber,
                                          [](const auto& entry, long n) { return entry.first < n; });
    return (pFound != pEnd && pFound->first == nErrorNumber) ? pFound->second : nullptr;
}

std::string GetErrorText(long nErrorNumber)
{
    if (nErrorNumber < 10000)
        nErrorNumber += 10000;
    if (const char* pText = FindErrorText(nErrorNumber))
        return pText;
    if (!FindErrorText(10001))
        return "Errnoex.rc resource has not been included";
    char szText[64];
    std::snprintf(szText, sizeof szText, "Error number %ld not found", nErrorNumber);
    return szText;
}

}  // namespace gridmorph
