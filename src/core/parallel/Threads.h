#pragma once

// How many threads the core's heavy loops use, and an ordered producer/consumer loop
// over numbered pieces of work. Encoders (and later the resampler) cut their work into
// pieces whose results depend on the piece alone, so the output is the same byte for
// byte whatever the number of threads.
#include <functional>
#include <string>

namespace gridmorph {

// The most threads the core will start for one piece of work.
inline constexpr int kMaxThreads = 64;

// The number of threads to use: the value set by SetThreadCount, else the environment
// variable GRIDMORPH_THREADS (a whole number from 1; see ThreadSettingWarning for one that
// is not), else the processors this process may run on. Always between 1 and kMaxThreads.
int GetThreadCount();

// What is wrong with GRIDMORPH_THREADS, said with what is used instead, or "" when it is
// unset, empty or a whole number from 1 to kMaxThreads (used as it is).
std::string ThreadSettingWarning();

// Sets the number of threads for the whole process (clamped to 1..kMaxThreads); 0 goes
// back to the environment variable or the processor count.
void SetThreadCount(int nThreads);

// Sets the thread count for a scope and restores the previous setting afterwards.
class CScopedThreadCount {
public:
    explicit CScopedThreadCount(int nThreads);
    ~CScopedThreadCount();
    CScopedThreadCount(const CScopedThreadCount&) = delete;
    CScopedThreadCount& operator=(const CScopedThreadCount&) = delete;

private:
    int m_nPrevious;
};

// Runs fnProduce(nItem, nSlot) for every nItem in [0, nItems) on nThreads threads and
// fnConsume(nItem) on the calling thread in item order, each as soon as its item is
// produced. nSlot (0 .. nThreads - 1) names the producing thread, for per-thread
// scratch. At most nWindow items are produced and not yet consumed at any time, so a
// caller may keep the results in a ring of nWindow entries indexed by nItem % nWindow.
// With one thread the items are produced and consumed in turn on the calling thread.
// Returns false as soon as fnConsume returns false (no further item is consumed). An
// exception thrown by either function stops the work and is rethrown here once every
// thread has finished.
bool RunOrdered(int nThreads, int nItems, int nWindow, const std::function<void(int nItem, int nSlot)>& fnProduce,
                const std::function<bool(int nItem)>& fnConsume);

}  // namespace gridmorph
