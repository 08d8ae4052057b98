#pragma once

#include <optional>
#include <string>

namespace gridmorph::test {

// A locale whose decimal point is a comma, as a German or French desktop has: its name
// and the LOCPATH folder that holds it ("" when the system has it installed). Found
// among the installed locales, or generated once with localedef into the build tree.
struct SCommaLocale {
    std::string strName;
    std::string strLocPath;
};
std::optional<SCommaLocale> FindCommaDecimalLocale();

// Sets the whole process locale (what a desktop program does at start-up) for one scope
// and puts back the previous locale afterwards, also when an assertion fails.
class CScopedLocale {
public:
    explicit CScopedLocale(const SCommaLocale& locale);
    ~CScopedLocale();
    CScopedLocale(const CScopedLocale&) = delete;
    CScopedLocale& operator=(const CScopedLocale&) = delete;
    // Whether the locale was set (its decimal point is then ",").
    bool Active() const { return m_bActive; }

private:
    std::string m_strPreviousLocale;
    bool m_bActive = false;
};

}  // namespace gridmorph::test
