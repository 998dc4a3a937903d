#include "capture/LiveCapture.h"

#include <pcap/pcap.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "capture/CaptureFile.h"
#include "capture/FrontEnd.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

std::thread g_captureThread;
// Set by the Stop command (not by a full buffer): the packets that arrived before it are still collected.
std::atomic<bool> g_stopRequested{false};
// Guards the open handle, so that Stop can interrupt a blocked read while the thread may be closing it.
std::mutex g_handleMutex;
pcap_t* g_handle = nullptr;
CaptureStats g_stats;

u_char g_liveFlag = 1;

pcap_t* OpenAdapter(const std::string& device, bool promiscuous, std::string& error, bool& wantsRights) {
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_create(device.c_str(), buffer);
    if (!p) {
        error = buffer;
        wantsRights = wantsRights || IsCaptureRightsError(0, error);
        return nullptr;
    }
    pcap_set_snaplen(p, kSnapshotLength);
    pcap_set_promisc(p, promiscuous ? 1 : 0);
    pcap_set_timeout(p, kReadTimeoutMs);
    pcap_set_buffer_size(p, kKernelBufferBytes);
    int status = pcap_activate(p);
    if (status < 0) {
        error = *pcap_geterr(p) ? pcap_geterr(p) : pcap_statustostr(status);
        wantsRights = wantsRights || IsCaptureRightsError(status, error);
        pcap_close(p);
        return nullptr;
    }
    return p;
}

// Delivers what is left after the user's Stop, until the store asks for a stop of its own.
void DrainHandler(u_char* handle, const struct pcap_pkthdr* header, const u_char* bytes) {
    if (g_storeStop.load(std::memory_order_relaxed) != STORE_STOP_NONE) {
        pcap_breakloop(reinterpret_cast<pcap_t*>(handle));
        return;
    }
    PacketHandler(&g_liveFlag, header, bytes);
}

// The kernel hands over a partly filled block only when its read timeout expires: after Stop, wait that
// long for the packets that arrived before it. The store's own limits still apply.
void CollectLastBlock(pcap_t* p) {
    char error[PCAP_ERRBUF_SIZE];
    if (pcap_setnonblock(p, 1, error) != 0)
        return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs + 30);
    while (std::chrono::steady_clock::now() < end && g_storeStop.load() == STORE_STOP_NONE) {
        if (pcap_dispatch(p, -1, DrainHandler, reinterpret_cast<u_char*>(p)) <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A read error that lasts this long is taken as the end of the adapter (unplugged, deleted, gone down for
// good) rather than a hiccup.
constexpr auto kLastingReadError = std::chrono::milliseconds(1000);

void CaptureThreadProc(std::string device) {
    std::string error;
    bool wantsRights = false;
    pcap_t* p = OpenAdapter(device, true, error, wantsRights);
    if (!p) {
        std::string firstError = error;
        p = OpenAdapter(device, false, error, wantsRights);
        if (!p && error.empty())
            error = firstError;
    }
    if (!p) {
        g_captureState = CAPTURE_IDLE;
        std::string detail = device.empty() ? "No network adapter is selected." : device + ": " + error;
        if (wantsRights)
            detail += "\n" + CaptureRightsHint();
        ShowMessage("PCAP error: Error opening the networking adapter!", MsgButtons::Ok, detail);
        return;
    }
    // Every frame is parsed as Ethernet; anything else would be read as garbage.
    if (int link = pcap_datalink(p); link != DLT_EN10MB) {
        pcap_close(p);
        g_captureState = CAPTURE_IDLE;
        ShowMessage("PCAP error: The networking adapter does not deliver Ethernet frames!", MsgButtons::Ok,
                    device + ": " + LinkTypeText(link) + "; only Ethernet (1) can be captured.");
        return;
    }
    {
        std::lock_guard lock(g_handleMutex);
        g_handle = p;
    }
    // A failing read is retried for a while (pausing between tries); one that keeps failing ends the
    // capture, keeping what was stored.
    std::string readError;
    std::chrono::steady_clock::time_point failingSince{};
    while (g_captureState.load() == CAPTURE_RUNNING) {
        int n = DispatchPackets(p, -1, PacketHandler, &g_liveFlag);
        if (n != PCAP_ERROR) {
            failingSince = {};
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (failingSince == std::chrono::steady_clock::time_point{})
            failingSince = now;
        if (now - failingSince >= kLastingReadError) {
            readError = pcap_geterr(p);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Withdrawn first: Stop must not interrupt the handle while the collection below changes its mode
    // (which closes the descriptor that an interruption writes to).
    {
        std::lock_guard lock(g_handleMutex);
        g_handle = nullptr;
    }
    if (g_stopRequested.load() && readError.empty())
        CollectLastBlock(p);
    CaptureStats stats;
    stats.opened = true;
    stats.readFailed = !readError.empty();
    if (pcap_stat ps{}; pcap_stats(p, &ps) == 0) {
        stats.received = ps.ps_recv;
        stats.dropped = ps.ps_drop;
        stats.interfaceDropped = ps.ps_ifdrop;
    }
    pcap_close(p);
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = stats;
    }
    g_captureState = CAPTURE_IDLE;
    if (!readError.empty())
        ShowMessage(ReadFailedMessage(g_packetTable.size()), MsgButtons::Ok, device + ": " + readError);
    if (g_storeStop.load() == STORE_STOP_NO_MEMORY)
        ShowMessage(OutOfMemoryMessage(g_packetTable.size()));
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        ShowMessage(ShortPacketsMessage(shortCount));
}

}  // namespace

void ResetCapture() {
    StopCaptureAndWait();
    ResetCaptureStore();
    if (g_pMainFrame)
        g_pMainFrame->RowsCleared();
}

int StartCapture() {
    if (g_captureState.load() != CAPTURE_IDLE)
        return 0;
    if (!OfferToSaveUnsavedPackets())
        return 0;
    ResetCapture();
    StartCaptureThread(g_config.adapter);
    return 1;
}

void StartCaptureThread(const std::string& device) {
    StopCaptureAndWait();
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = {};
    }
    g_skipFilter = 0;
    g_stopRequested = false;
    g_storeStop = STORE_STOP_NONE;
    g_captureState = CAPTURE_RUNNING;
    g_captureThread = std::thread(CaptureThreadProc, device);
}

void StopCapture() {
    g_stopRequested = true;
    int expected = CAPTURE_RUNNING;
    g_captureState.compare_exchange_strong(expected, CAPTURE_STOPPING);
    std::lock_guard lock(g_handleMutex);
    if (g_handle)
        pcap_breakloop(g_handle);
}

void JoinCaptureThread() {
    if (g_captureThread.joinable())
        g_captureThread.join();
}

void StopCaptureAndWait() {
    StopCapture();
    JoinCaptureThread();
}

bool IsCaptureRightsError(int status, const std::string& text) {
    return status == PCAP_ERROR_PERM_DENIED || text.find("Operation not permitted") != std::string::npos ||
           text.find("ermission") != std::string::npos;
}

std::string ReadFailedMessage(size_t kept) {
    return "PCAP error: Reading from the networking adapter failed, and the capture was stopped. The " +
           std::to_string(kept) + " packets captured before are kept.";
}

CaptureStats LastCaptureStats() {
    std::lock_guard lock(g_handleMutex);
    return g_stats;
}
