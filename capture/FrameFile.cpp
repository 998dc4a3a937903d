#include "capture/FrameFile.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "capture/PacketStore.h"

const uint8_t* g_inPlaceFrame = nullptr;
std::atomic<int64_t> g_indexedFileBytes{0};
std::atomic<int64_t> g_frameFileSize{0};

namespace {

// The mapping, read by the fault handler on any thread.
std::atomic<uintptr_t> g_mapBegin{0};
std::atomic<uintptr_t> g_mapEnd{0};
int g_fd = -1;
ClassicFileFormat g_format;
// The file's size as last asked, and how many checks ago.
std::atomic<int64_t> g_seenSize{0};
std::atomic<uint32_t> g_checksSinceStat{0};
constexpr uint32_t kChecksPerStat = 4096;
struct sigaction g_previousBusAction {};
uintptr_t g_pageMask = ~uintptr_t{4095};

// A page of the mapping past the file's end faults. The rest of the mapping from that page on becomes zero
// pages, so that the read goes on (a record header of zeros then tells the frame is gone) instead of the
// program ending. A fault elsewhere goes to whoever handled it before.
void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    const uintptr_t begin = g_mapBegin.load(std::memory_order_relaxed);
    const uintptr_t end = g_mapEnd.load(std::memory_order_relaxed);
    if (address >= begin && address < end) {
        const uintptr_t page = address & g_pageMask;
        // The raw call: the handler may run inside the library's own locks.
        const long mapped =
            ::syscall(SYS_mmap, page, end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (mapped != -1)
            return;
    }
    if (g_previousBusAction.sa_flags & SA_SIGINFO) {
        if (g_previousBusAction.sa_sigaction) {
            g_previousBusAction.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previousBusAction.sa_handler != SIG_DFL && g_previousBusAction.sa_handler != SIG_IGN) {
        g_previousBusAction.sa_handler(signal);
        return;
    }
    // Default action: the fault repeats once the handler returns, and ends the program.
    ::sigaction(SIGBUS, &g_previousBusAction, nullptr);
}

void InstallBusHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageMask = ~(static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

int64_t AskSize() {
    struct stat st {};
    const int64_t size = g_fd >= 0 && ::fstat(g_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    g_seenSize.store(size, std::memory_order_relaxed);
    return size;
}

}  // namespace

const uint8_t* MapFrameFile(int fd, int64_t size, const ClassicFileFormat& format) {
    if (g_mapBegin.load() != 0 || size <= 0) {
        ::close(fd);
        return nullptr;
    }
    void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    InstallBusHandler();
    g_fd = fd;
    g_format = format;
    g_seenSize = size;
    g_checksSinceStat = 0;
    g_frameFileSize = size;
    g_indexedFileBytes = 0;
    g_mapEnd = reinterpret_cast<uintptr_t>(map) + static_cast<uintptr_t>(size);
    g_mapBegin = reinterpret_cast<uintptr_t>(map);
    return static_cast<const uint8_t*>(map);
}

void ReleaseFrameFile() {
    const uintptr_t begin = g_mapBegin.exchange(0);
    const uintptr_t end = g_mapEnd.exchange(0);
    if (begin != 0)
        ::munmap(reinterpret_cast<void*>(begin), end - begin);
    if (g_fd >= 0)
        ::close(g_fd);
    g_fd = -1;
    g_frameFileSize = 0;
    g_indexedFileBytes = 0;
    g_inPlaceFrame = nullptr;
}

void DropFramePages() {
    const uintptr_t begin = g_mapBegin.load(std::memory_order_relaxed);
    const uintptr_t end = g_mapEnd.load(std::memory_order_relaxed);
    // A shared file mapping refaults the same bytes from the page cache on the next read.
    if (begin != 0)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

bool FrameBytesPresent(const PacketRecord& packet, bool fresh) {
    const auto at = reinterpret_cast<uintptr_t>(packet.data);
    const uintptr_t begin = g_mapBegin.load(std::memory_order_relaxed);
    if (at < begin || at >= g_mapEnd.load(std::memory_order_relaxed) || begin == 0)
        return true;  // a copy of the store's own
    const int64_t end = static_cast<int64_t>(at - begin) + packet.capLen;
    int64_t size = g_seenSize.load(std::memory_order_relaxed);
    if (fresh || g_checksSinceStat.fetch_add(1, std::memory_order_relaxed) % kChecksPerStat == 0 ||
        end > size)
        size = AskSize();
    if (end > size)
        return false;
    // The record header just before the frame: zeros once its page is gone, something else once the file
    // was written over.
    if (g_format.pcapng) {
        constexpr uint32_t kEnhancedPacketBlock = 6;
        return LoadFileU32(packet.data - 28, g_format.swapped) == kEnhancedPacketBlock &&
               std::min(LoadFileU32(packet.data - 8, g_format.swapped), g_format.snapshot) ==
                   static_cast<uint32_t>(packet.capLen);
    }
    const ClassicRecordHeader h = ReadClassicRecordHeader(packet.data - 16, g_format);
    return h.sec == packet.stamp.sec && h.usec == packet.stamp.usec &&
           std::min(h.capLen, g_format.snapshot) == static_cast<uint32_t>(packet.capLen);
}
