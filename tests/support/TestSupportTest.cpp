// The helpers the tests stand on.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TestSupport.h"

namespace gridmorph::test {
namespace {

constexpr const char* kName = "GRIDMORPH_TEST_SCOPED_VARIABLE";

const char* Value() { return std::getenv(kName); }

TEST(ScopedEnvironment, PutsBackWhatWasThere)
{
    struct SCase {
        const char* pBefore;  // nullptr: not set
        const char* pInside;  // nullptr: removed
    };
    const SCase aCases[] = {{"old", "new"}, {nullptr, "new"}, {"old", nullptr}, {nullptr, nullptr}, {"", "x"}};
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(testing::Message() << (aCase.pBefore ? aCase.pBefore : "(unset)") << " -> "
                                        << (aCase.pInside ? aCase.pInside : "(unset)"));
        {
            const CScopedEnvironment before(kName, aCase.pBefore);
            {
                const CScopedEnvironment inside(kName, aCase.pInside);
                EXPECT_EQ(Value() ? std::string(Value()) : "(unset)", aCase.pInside ? aCase.pInside : "(unset)");
            }
            EXPECT_EQ(Value() ? std::string(Value()) : "(unset)", aCase.pBefore ? aCase.pBefore : "(unset)");
        }
        EXPECT_EQ(Value(), nullptr);
    }
}

// A test body that stops at a failing assertion while the variable is set.
void FailWhileSet()
{
    const CScopedEnvironment variable(kName, "set");
    ASSERT_EQ(Value(), nullptr) << "fails on purpose";
}

TEST(ScopedEnvironment, AFailingAssertionDoesNotLeakTheChange)
{
    ASSERT_EQ(Value(), nullptr);
    EXPECT_FATAL_FAILURE(FailWhileSet(), "fails on purpose");
    EXPECT_EQ(Value(), nullptr);
}

}  // namespace
}  // namespace gridmorph::test
