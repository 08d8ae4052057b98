#include "io/Numbers.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <vector>

namespace gridmorph {
namespace {

// The "C" locale as an object of its own, whatever the process or thread has set.
locale_t CLocale()
{
    static const locale_t s_hLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return s_hLocale;
}

}  // namespace

std::string FormatFixed(double dValue, int nDecimals)
{
    nDecimals = std::clamp(nDecimals, 0, 100);
    // A double has at most 309 digits before the point.
    std::vector<char> aText(static_cast<std::size_t>(320 + nDecimals));
    const auto result = std::to_chars(aText.data(), aText.data() + aText.size(), dValue, std::chars_format::fixed,
                                      nDecimals);
    return std::string(aText.data(), result.ptr);
}

std::string FormatTrimmed(double dValue, int nMaxDecimals)
{
    std::string strText = FormatFixed(dValue, nMaxDecimals);
    if (strText.find('.') != std::string::npos) {
        strText.erase(strText.find_last_not_of('0') + 1);
        if (strText.back() == '.')
            strText.pop_back();
    }
    return strText;
}

double ScanNumber(const char* pText, const char** ppEnd)
{
    char* pEnd = nullptr;
    const double dValue = strtod_l(pText, &pEnd, CLocale());
    if (ppEnd)
        *ppEnd = pEnd;
    return dValue;
}

}  // namespace gridmorph
