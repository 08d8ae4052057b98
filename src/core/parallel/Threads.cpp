#include "parallel/Threads.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "io/QuoteText.h"

namespace gridmorph {
namespace {

std::atomic<int> s_nThreadSetting{0};

// GRIDMORPH_THREADS as it is given: 0 when unset or empty, -1 when it is not a whole number
// from 1 (then the processors are used), else the number (at most kMaxThreads are used).
long ThreadSetting()
{
    const char* pValue = std::getenv("GRIDMORPH_THREADS");
    if (!pValue || !*pValue)
        return 0;
    char* pEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(pValue, &pEnd, 10);
    if (*pEnd != '\0' || nValue < 1 || errno == ERANGE || !std::isdigit(static_cast<unsigned char>(*pValue)))
        return -1;
    return nValue;
}

int ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    int nProcessors = 0;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        nProcessors = CPU_COUNT(&set);
    if (nProcessors < 1)
        nProcessors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(nProcessors, 1, kMaxThreads);
}

int DefaultThreadCount()
{
    const long nSetting = ThreadSetting();
    return nSetting > 0 ? static_cast<int>(std::min<long>(nSetting, kMaxThreads)) : ProcessorCount();
}

}  // namespace

int GetThreadCount()
{
    const int nSetting = s_nThreadSetting.load();
    return nSetting > 0 ? nSetting : DefaultThreadCount();
}

std::string ThreadSettingWarning()
{
    const long nSetting = ThreadSetting();
    if (nSetting == 0 || (nSetting > 0 && nSetting <= kMaxThreads))
        return std::string();
    const std::string strGiven = "GRIDMORPH_THREADS=" + QuoteForMessage(std::getenv("GRIDMORPH_THREADS"));
    const std::string strMost = std::to_string(kMaxThreads);
    if (nSetting > kMaxThreads)
        return strGiven + " is more than " + strMost + "; " + strMost + " threads are used";
    return strGiven + " is not a whole number from 1 to " + strMost + "; as many threads as processors (" +
           std::to_string(ProcessorCount()) + ") are used";
}

void SetThreadCount(int nThreads) { s_nThreadSetting.store(nThreads <= 0 ? 0 : std::min(nThreads, kMaxThreads)); }

CScopedThreadCount::CScopedThreadCount(int nThreads) : m_nPrevious(s_nThreadSetting.load()) { SetThreadCount(nThreads); }

CScopedThreadCount::~CScopedThreadCount() { s_nThreadSetting.store(m_nPrevious); }

bool RunOrdered(int nThreads, int nItems, int nWindow, const std::function<void(int, int)>& fnProduce,
                const std::function<bool(int)>& fnConsume)
{
    nThreads = std::clamp(nThreads, 1, std::max(1, nItems));
    nWindow = std::max(nWindow, 1);
    if (nThreads == 1) {
        for (int nItem = 0; nItem < nItems; ++nItem) {
            fnProduce(nItem, 0);
            if (!fnConsume(nItem))
                return false;
        }
        return true;
    }

    // The calling thread only consumes; the producers take the items in order.
    std::mutex mutex;
    std::condition_variable changed;
    int nNextClaim = 0;
    int nNextConsume = 0;
    bool bStop = false;
    std::exception_ptr pError;
    std::vector<char> aReady(static_cast<std::size_t>(nWindow), 0);
    // Keeps the first exception and stops every thread.
    auto StopWithError = [&] {
        std::lock_guard lock(mutex);
        if (!pError)
            pError = std::current_exception();
        bStop = true;
        changed.notify_all();
    };

    auto Produce = [&](int nSlot) {
        for (;;) {
            int nItem;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return bStop || nNextClaim >= nItems || nNextClaim < nNextConsume + nWindow; });
                if (bStop || nNextClaim >= nItems)
                    return;
                nItem = nNextClaim++;
            }
            try {
                fnProduce(nItem, nSlot);
            } catch (...) {
                StopWithError();
                return;
            }
            std::lock_guard lock(mutex);
            aReady[static_cast<std::size_t>(nItem % nWindow)] = 1;
            changed.notify_all();
        }
    };

    std::vector<std::thread> aThreads;
    try {
        for (int nSlot = 0; nSlot < nThreads; ++nSlot)
            aThreads.emplace_back(Produce, nSlot);
    } catch (const std::system_error&) {
        // Fewer threads than asked for still do the work; none at all means doing it here.
        if (aThreads.empty())
            return RunOrdered(1, nItems, nWindow, fnProduce, fnConsume);
    }

    bool bCompleted = true;
    try {
        while (nNextConsume < nItems) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return bStop || aReady[static_cast<std::size_t>(nNextConsume % nWindow)]; });
                if (bStop)
                    break;
                aReady[static_cast<std::size_t>(nNextConsume % nWindow)] = 0;
            }
            const bool bGoOn = fnConsume(nNextConsume);
            std::lock_guard lock(mutex);
            if (!bGoOn) {
                bCompleted = false;
                bStop = true;
                changed.notify_all();
                break;
            }
            ++nNextConsume;
            changed.notify_all();
        }
    } catch (...) {
        StopWithError();
    }
    {
        std::lock_guard lock(mutex);
        bStop = true;
        changed.notify_all();
    }
    for (std::thread& thread : aThreads)
        thread.join();
    if (pError)
        std::rethrow_exception(pError);
    return bCompleted;
}

}  // namespace gridmorph
