#include "io/MappedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace gridmorph {
namespace {

// The live mappings, for the bus-error handler, which may read only lock-free atomics.
constexpr int kSlots = 64;
struct SSlot {
    std::atomic<std::uintptr_t> nStart{0};
    std::atomic<std::uintptr_t> nEnd{0};
    std::atomic<bool> bCut{false};
};
SSlot g_aSlots[kSlots];
std::mutex g_slotMutex;
struct sigaction g_previousAction;
std::once_flag g_handlerInstalled;
thread_local int t_nMappingScopes = 0;

void OnBusError(int nSignal, siginfo_t* pInfo, void* pContext)
{
    const auto nAddress = reinterpret_cast<std::uintptr_t>(pInfo->si_addr);
    for (SSlot& slot : g_aSlots) {
        const std::uintptr_t nStart = slot.nStart.load(std::memory_order_acquire);
        if (nStart == 0 || nAddress < nStart || nAddress >= slot.nEnd.load(std::memory_order_acquire))
            continue;
        // A page past the end of a file cut short: zero bytes from now on, and the read
        // is made again on them.
        const std::uintptr_t nPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        void* pPage = reinterpret_cast<void*>(nAddress / nPage * nPage);
        if (mmap(pPage, nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            break;
        slot.bCut.store(true, std::memory_order_release);
        return;
    }
    // Not ours: what would have happened without this handler.
    if (g_previousAction.sa_flags & SA_SIGINFO) {
        if (g_previousAction.sa_sigaction) {
            g_previousAction.sa_sigaction(nSignal, pInfo, pContext);
            return;
        }
    } else if (g_previousAction.sa_handler != SIG_DFL && g_previousAction.sa_handler != SIG_IGN) {
        g_previousAction.sa_handler(nSignal);
        return;
    }
    signal(SIGBUS, SIG_DFL);
    raise(SIGBUS);
}

void InstallHandler()
{
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previousAction);
}

}  // namespace

std::shared_ptr<CMappedFile> CMappedFile::Map(const std::string& strPath, std::uint64_t nLeastBytes)
{
    const int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(nFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<std::uint64_t>(info.st_size) < nLeastBytes) {
        close(nFd);
        return nullptr;
    }
    const auto nSize = static_cast<std::size_t>(info.st_size);
    void* pData = mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE, nFd, 0);
    close(nFd);  // the mapping keeps the file
    if (pData == MAP_FAILED)
        return nullptr;
    std::call_once(g_handlerInstalled, InstallHandler);
    std::lock_guard<std::mutex> lock(g_slotMutex);
    for (int i = 0; i < kSlots; ++i)
        if (g_aSlots[i].nStart.load() == 0) {
            g_aSlots[i].bCut.store(false);
            g_aSlots[i].nEnd.store(reinterpret_cast<std::uintptr_t>(pData) + nSize);
            g_aSlots[i].nStart.store(reinterpret_cast<std::uintptr_t>(pData), std::memory_order_release);
            madvise(pData, nSize, MADV_WILLNEED);
            return std::shared_ptr<CMappedFile>(new CMappedFile(static_cast<std::uint8_t*>(pData), nSize, i));
        }
    munmap(pData, nSize);  // more files mapped at once than the table holds: read this one
    return nullptr;
}

CMappedFile::~CMappedFile()
{
    {
        std::lock_guard<std::mutex> lock(g_slotMutex);
        g_aSlots[m_nSlot].nStart.store(0, std::memory_order_release);
        g_aSlots[m_nSlot].nEnd.store(0);
    }
    munmap(m_pData, m_nSize);
}

bool CMappedFile::WasCut() const { return g_aSlots[m_nSlot].bCut.load(std::memory_order_acquire); }

namespace {

const SSlot* SlotHolding(const void* pAddress)
{
    const auto nAddress = reinterpret_cast<std::uintptr_t>(pAddress);
    for (const SSlot& slot : g_aSlots) {
        const std::uintptr_t nStart = slot.nStart.load(std::memory_order_acquire);
        if (nStart != 0 && nAddress >= nStart && nAddress < slot.nEnd.load())
            return &slot;
    }
    return nullptr;
}

}  // namespace

bool MappedFileWasCut(const void* pAddress)
{
    const SSlot* pSlot = SlotHolding(pAddress);
    return pSlot && pSlot->bCut.load(std::memory_order_acquire);
}

bool IsInMappedFile(const void* pAddress) { return SlotHolding(pAddress) != nullptr; }

void DropMappedPages(const void* pStart, std::size_t nBytes)
{
    const auto nLow = reinterpret_cast<std::uintptr_t>(pStart);
    const std::uintptr_t nHigh = nLow + nBytes;
    for (const SSlot& slot : g_aSlots) {
        const std::uintptr_t nStart = slot.nStart.load(std::memory_order_acquire);
        if (nStart == 0 || nLow < nStart || nHigh > slot.nEnd.load())
            continue;
        static const std::uintptr_t nPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const std::uintptr_t nFirst = (nLow + nPage - 1) / nPage * nPage, nEnd = nHigh / nPage * nPage;
        if (nEnd > nFirst)
            madvise(reinterpret_cast<void*>(nFirst), nEnd - nFirst, MADV_DONTNEED);
        return;
    }
}

CScopedFileMapping::CScopedFileMapping() { ++t_nMappingScopes; }
CScopedFileMapping::~CScopedFileMapping() { --t_nMappingScopes; }
bool CScopedFileMapping::Allowed() { return t_nMappingScopes > 0; }

}  // namespace gridmorph
