#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "parallel/Threads.h"

namespace gridmorph::test {
namespace {

// Sets (or removes) an environment variable for a scope and puts back what was there.
class CScopedEnvironment {
public:
    CScopedEnvironment(const char* pName, const char* pValue) : m_strName(pName)
    {
        if (const char* pOld = std::getenv(pName))
            m_strOld = pOld;
        if (pValue)
            setenv(pName, pValue, 1);
        else
            unsetenv(pName);
    }
    ~CScopedEnvironment()
    {
        if (m_strOld)
            setenv(m_strName.c_str(), m_strOld->c_str(), 1);
        else
            unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName;
    std::optional<std::string> m_strOld;
};

TEST(ThreadsTest, TheCountComesFromTheSettingThenTheEnvironmentThenTheProcessors)
{
    int nProcessors = 0;
    {
        CScopedEnvironment unset("GRIDMORPH_THREADS", nullptr);
        nProcessors = GetThreadCount();
        EXPECT_GE(nProcessors, 1);
        EXPECT_LE(nProcessors, kMaxThreads);
    }
    const struct {
        const char* pValue;
        int nExpected;  // 0: the processor count
    } aCases[] = {{"1", 1}, {"2", 2}, {"7", 7}, {"100000", kMaxThreads}, {"0", 0}, {"-3", 0}, {"two", 0}, {"2x", 0}, {"", 0}};
    for (const auto& aCase : aCases) {
        CScopedEnvironment environment("GRIDMORPH_THREADS", aCase.pValue);
        EXPECT_EQ(GetThreadCount(), aCase.nExpected ? aCase.nExpected : nProcessors) << "GRIDMORPH_THREADS=" << aCase.pValue;
        {
            CScopedThreadCount setting(3);
            EXPECT_EQ(GetThreadCount(), 3) << "the setting wins over GRIDMORPH_THREADS=" << aCase.pValue;
        }
        EXPECT_EQ(GetThreadCount(), aCase.nExpected ? aCase.nExpected : nProcessors) << "the setting was restored";
    }
    CScopedEnvironment environment("GRIDMORPH_THREADS", "1");
    CScopedThreadCount many(1000);
    EXPECT_EQ(GetThreadCount(), kMaxThreads);
}

// A setting that is not used as given says so, and what is used instead.
TEST(ThreadsTest, AThreadSettingThatIsNotUsedAsGivenIsTold)
{
    const struct {
        const char* pValue;  // nullptr: unset
        const char* pWarning;  // "" when the setting is used as it is
    } aCases[] = {{nullptr, ""}, {"1", ""}, {"64", ""}, {"0", "GRIDMORPH_THREADS='0' is not a whole number from 1 to 64"},
                  {"abc", "GRIDMORPH_THREADS='abc' is not a whole number from 1 to 64"},
                  {"-3", "is not a whole number from 1 to 64"}, {"2x", "is not a whole number from 1 to 64"},
                  {"", ""},  // set empty: as if unset
                  {"100000", "GRIDMORPH_THREADS='100000' is more than 64; 64 threads are used"}};
    for (const auto& aCase : aCases) {
        CScopedEnvironment environment("GRIDMORPH_THREADS", aCase.pValue);
        const std::string strWarning = ThreadSettingWarning();
        const std::string strValue = aCase.pValue ? aCase.pValue : "(unset)";
        if (*aCase.pWarning == '\0') {
            EXPECT_EQ(strWarning, "") << strValue;
            continue;
        }
        EXPECT_NE(strWarning.find(aCase.pWarning), std::string::npos) << strValue << ": " << strWarning;
        if (std::string(aCase.pWarning).find("more than") == std::string::npos) {
            EXPECT_NE(strWarning.find("as many threads as processors (" + std::to_string(GetThreadCount()) + ")"),
                      std::string::npos)
                << strValue << ": " << strWarning;
        }
    }
}

TEST(ThreadsTest, ItemsAreConsumedInOrderOnceEachWithinTheWindow)
{
    for (const int nThreads : {1, 2, 3, 8}) {
        for (const int nItems : {0, 1, 5, 200}) {
            const int nWindow = 4;
            std::mutex mutex;
            std::vector<int> aProduced(static_cast<std::size_t>(nItems), 0);
            std::vector<int> aConsumed;
            int nOutstanding = 0, nMostOutstanding = 0;
            std::vector<int> aRing(nWindow, -1);
            const bool bCompleted = RunOrdered(
                nThreads, nItems, nWindow,
                [&](int nItem, int nSlot) {
                    EXPECT_GE(nSlot, 0);
                    EXPECT_LT(nSlot, nThreads);
                    std::lock_guard lock(mutex);
                    ++aProduced[static_cast<std::size_t>(nItem)];
                    nMostOutstanding = std::max(nMostOutstanding, ++nOutstanding);
                    aRing[static_cast<std::size_t>(nItem % nWindow)] = nItem;
                },
                [&](int nItem) {
                    std::lock_guard lock(mutex);
                    EXPECT_EQ(aRing[static_cast<std::size_t>(nItem % nWindow)], nItem) << "a ring entry was overwritten";
                    aConsumed.push_back(nItem);
                    --nOutstanding;
                    return true;
                });
            EXPECT_TRUE(bCompleted);
            ASSERT_EQ(aConsumed.size(), static_cast<std::size_t>(nItems)) << nThreads << " threads";
            for (int i = 0; i < nItems; ++i) {
                EXPECT_EQ(aConsumed[static_cast<std::size_t>(i)], i);
                EXPECT_EQ(aProduced[static_cast<std::size_t>(i)], 1);
            }
            EXPECT_LE(nMostOutstanding, nWindow);
        }
    }
}

TEST(ThreadsTest, AConsumerSayingStopEndsTheWorkAndAnErrorReachesTheCaller)
{
    for (const int nThreads : {1, 2, 4}) {
        std::vector<int> aConsumed;
        EXPECT_FALSE(RunOrdered(nThreads, 100, 6, [](int, int) {}, [&](int nItem) {
            aConsumed.push_back(nItem);
            return nItem < 10;
        }));
        EXPECT_EQ(aConsumed.size(), 11u) << nThreads << " threads";

        aConsumed.clear();
        EXPECT_THROW(RunOrdered(nThreads, 100, 6,
                                [](int nItem, int) {
                                    if (nItem == 20)
                                        throw std::runtime_error("item 20");
                                },
                                [&](int nItem) {
                                    aConsumed.push_back(nItem);
                                    return true;
                                }),
                     std::runtime_error);
        EXPECT_LE(aConsumed.size(), 20u) << "nothing past the failed item is consumed";
    }
}

}  // namespace
}  // namespace gridmorph::test
