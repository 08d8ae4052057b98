// Numbers in files: the same text and the same values under every locale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/Numbers.h"
#include "support/ScopedLocale.h"

namespace gridmorph {
namespace {

// Texts a world file line may hold, odd ones included. The reference is strtod in the
// "C" locale, in which the test process starts.
const char* const s_aScanned[] = {
    "2.5",       "  -2.500000\r\n", "412000.25 metres", "+1e3",  "1e",      ".5",     "5.",
    "-.5e-2x",   "1,5",             "0x1p3",            "0x",    "inf",     "-Infinity", "nan",
    "1e400",     "-1e400",          "1e-400",           "",      "x",       "\t\v 7", "- 1",
    "412000.1234567", "00012",      "1.7976931348623157e308",
};

const std::pair<double, int> s_aFormatted[] = {
    {2.5, 6},    {-2.5, 6},   {412000.1234567, 6}, {0.0, 6},   {-0.0, 6},  {1e-7, 6},     {5e-7, 6},
    {2.5, 0},    {3.5, 0},    {0.125, 2},          {0.375, 2}, {1e300, 6}, {-1e-300, 2},  {6231616.598684, 6},
    {1.0 / 3, 2}, {12345678.995, 2},
};

TEST(Numbers, ScanningFollowsStrtodInTheCLocale)
{
    for (const char* pText : s_aScanned) {
        char* pEnd = nullptr;
        const double dExpected = std::strtod(pText, &pEnd);
        const char* pScannedEnd = nullptr;
        const double dValue = ScanNumber(pText, &pScannedEnd);
        EXPECT_EQ(pScannedEnd - pText, pEnd - pText) << '"' << pText << '"';
        if (std::isnan(dExpected)) {
            EXPECT_TRUE(std::isnan(dValue)) << pText;
        } else {
            EXPECT_EQ(dValue, dExpected) << '"' << pText << '"';
        }
    }
    EXPECT_EQ(ScanNumber("  412000.25 m"), 412000.25);
    EXPECT_EQ(ScanNumber("1,5"), 1.0);
}

TEST(Numbers, FormattingFollowsPrintfInTheCLocale)
{
    for (const auto& [dValue, nDecimals] : s_aFormatted) {
        char szExpected[400];
        std::snprintf(szExpected, sizeof szExpected, "%.*f", nDecimals, dValue);
        EXPECT_EQ(FormatFixed(dValue, nDecimals), szExpected) << dValue << " " << nDecimals;
    }
    EXPECT_EQ(FormatFixed(-2.5, 6), "-2.500000");
    EXPECT_EQ(FormatFixed(412000.1234567, 6), "412000.123457");
    EXPECT_EQ(FormatFixed(-1e308, 6).size(), 317u);
}

TEST(Numbers, TrimmedFormattingDropsOnlyTrailingZeros)
{
    const struct {
        double dValue;
        int nMaxDecimals;
        const char* pText;
    } aCases[] = {{0.5, 6, "0.5"},         {1005.0, 6, "1005"},     {-0.000001, 12, "-0.000001"},
                  {100.0, 0, "100"},        {1200.25, 6, "1200.25"}, {1005.123456789, 6, "1005.123457"},
                  {-2.0000004, 6, "-2"},    {0.0, 3, "0"}};
    for (const auto& c : aCases)
        EXPECT_EQ(FormatTrimmed(c.dValue, c.nMaxDecimals), c.pText) << c.dValue << " " << c.nMaxDecimals;
}

TEST(Numbers, ACommaDecimalLocaleChangesNothing)
{
    // What the C library answers in the "C" locale, before the locale changes.
    std::vector<std::pair<double, std::ptrdiff_t>> aScanned;
    for (const char* pText : s_aScanned) {
        char* pEnd = nullptr;
        const double dValue = std::strtod(pText, &pEnd);
        aScanned.emplace_back(dValue, pEnd - pText);
    }
    std::vector<std::string> aFormatted;
    for (const auto& [dValue, nDecimals] : s_aFormatted) {
        char szText[400];
        std::snprintf(szText, sizeof szText, "%.*f", nDecimals, dValue);
        aFormatted.emplace_back(szText);
    }

    const auto locale = test::FindCommaDecimalLocale();
    if (!locale)
        GTEST_SKIP() << "no comma-decimal locale is installed and localedef could not make de_DE.UTF-8 "
                        "(Debian's \"locales\" package provides its sources)";
    test::CScopedLocale scoped(*locale);
    ASSERT_TRUE(scoped.Active()) << locale->strName;
    char szShown[32];
    std::snprintf(szShown, sizeof szShown, "%.1f", 2.5);
    ASSERT_STREQ(szShown, "2,5");  // the C library does follow the locale now

    for (std::size_t i = 0; i < std::size(s_aScanned); ++i) {
        const char* pEnd = nullptr;
        const double dValue = ScanNumber(s_aScanned[i], &pEnd);
        EXPECT_EQ(pEnd - s_aScanned[i], aScanned[i].second) << '"' << s_aScanned[i] << '"';
        if (!std::isnan(aScanned[i].first)) {
            EXPECT_EQ(dValue, aScanned[i].first) << '"' << s_aScanned[i] << '"';
        }
    }
    for (std::size_t i = 0; i < std::size(s_aFormatted); ++i)
        EXPECT_EQ(FormatFixed(s_aFormatted[i].first, s_aFormatted[i].second), aFormatted[i]);
}

}  // namespace
}  // namespace gridmorph
