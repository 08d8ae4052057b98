#include "support/ScopedLocale.h"

#include <locale.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "support/TestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace gridmorph::test {
namespace {

// The C library keeps (and never frees) a copy of LOCPATH each time it loads a locale
// from there; the leak checker is told not to count that.
class CLibraryLeakAllowed {
public:
#if defined(__SANITIZE_ADDRESS__)
    CLibraryLeakAllowed() { __lsan_disable(); }
    ~CLibraryLeakAllowed() { __lsan_enable(); }
#else
    CLibraryLeakAllowed() {}
    ~CLibraryLeakAllowed() {}
#endif
    CLibraryLeakAllowed(const CLibraryLeakAllowed&) = delete;
    CLibraryLeakAllowed& operator=(const CLibraryLeakAllowed&) = delete;
};

// Whether the locale can be loaded with the given LOCPATH and has a comma decimal point.
bool HasCommaDecimalPoint(const std::string& strName, const std::string& strLocPath)
{
    locale_t hLocale = nullptr;
    {
        const CScopedEnvironment locPath("LOCPATH", strLocPath.empty() ? nullptr : strLocPath.c_str());
        const CLibraryLeakAllowed allowed;
        hLocale = newlocale(LC_NUMERIC_MASK, strName.c_str(), static_cast<locale_t>(nullptr));
    }
    if (!hLocale)
        return false;
    const locale_t hPrevious = uselocale(hLocale);
    const bool bComma = std::string(localeconv()->decimal_point) == ",";
    uselocale(hPrevious);
    freelocale(hLocale);
    return bComma;
}

}  // namespace

std::optional<SCommaLocale> FindCommaDecimalLocale()
{
    for (const char* pName : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "fr_FR.utf8"})
        if (HasCommaDecimalPoint(pName, ""))
            return SCommaLocale{pName, ""};

    // Generate de_DE.UTF-8 from the locale sources (Debian's "locales" package) into the
    // build tree once; parallel test processes each build their own copy and rename it
    // into place, so none ever sees half a locale.
    const std::filesystem::path folder = GRIDMORPH_TEST_LOCALE_DIR;
    const SCommaLocale generated{"de_DE.UTF-8", folder.string()};
    // Looked for as a file first: the C library remembers a locale it did not find.
    std::error_code error;
    if (std::filesystem::exists(folder / generated.strName / "LC_NUMERIC", error))
        return HasCommaDecimalPoint(generated.strName, generated.strLocPath) ? std::optional(generated) : std::nullopt;
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path scratch = folder / (".build-" + std::to_string(std::random_device{}()));
    const std::string strCommand = "localedef -i de_DE -f UTF-8 '" + (scratch / generated.strName).string() +
                                   "' >/dev/null 2>&1";
    std::filesystem::create_directories(scratch, error);
    if (std::system(strCommand.c_str()) == 0)
        std::filesystem::rename(scratch / generated.strName, folder / generated.strName, error);
    std::filesystem::remove_all(scratch, error);
    if (HasCommaDecimalPoint(generated.strName, generated.strLocPath))
        return generated;
    return std::nullopt;
}

CScopedLocale::CScopedLocale(const SCommaLocale& locale) : m_strPreviousLocale(std::setlocale(LC_ALL, nullptr))
{
    // LOCPATH is needed only while the locale is loaded.
    const CScopedEnvironment locPath("LOCPATH", locale.strLocPath.empty() ? nullptr : locale.strLocPath.c_str());
    const CLibraryLeakAllowed allowed;
    m_bActive = std::setlocale(LC_ALL, locale.strName.c_str()) != nullptr &&
                std::string(localeconv()->decimal_point) == ",";
}

CScopedLocale::~CScopedLocale()
{
    const CLibraryLeakAllowed allowed;
    std::setlocale(LC_ALL, m_strPreviousLocale.c_str());
}

}  // namespace gridmorph::test
