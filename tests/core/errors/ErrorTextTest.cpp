#include <gtest/gtest.h>

#include "errors/ErrorText.h"

namespace gridmorph {
namespace {

TEST(ErrorText, LooksUpNumbersAndAppliesTheNotFoundRules)
{
    struct SCase {
        long nNumber;
        const char* pExpected;
    };
    const SCase aCases[] = {
        {15405, "No World file or transform information in file."},
        {5, "Could not access file"},  // system codes are looked up 10000 higher
        {15403, "Load image failed - probably too large."},
        {10020, "Error number 10020 not found"},
        {20, "Error number 10020 not found"},
        {115, "Error number 10115 not found"},
        {142, "EILSEQ system error"},
        {15408, "Image size is too small."},
        {15409, "Image not saved: the file type does not take this colour depth."},
    };
    for (const SCase& aCase : aCases)
        EXPECT_EQ(GetErrorText(aCase.nNumber), aCase.pExpected) << aCase.nNumber;
}

}  // namespace
}  // namespace gridmorph
