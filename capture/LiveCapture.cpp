#include "capture/LiveCapture.h"

#include <pcap/pcap.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "capture/ProcessOwnerLookup.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"
#include "frontend/CaptureHelper.h"
#include "frontend/FrontEnd.h"
#include "frontend/Messages.h"
#include "helper/HelperProtocol.h"

namespace {

std::thread g_captureThread;
// Set by the Stop command (not by a full buffer): the packets that arrived before it are still collected.
std::atomic<bool> g_stopRequested{false};
// Guards the open handle, so that Stop can interrupt a blocked read while the thread may be closing it.
std::mutex g_handleMutex;
pcap_t* g_handle = nullptr;
// The capture helper's standard input while a capture runs through it: Stop closes it, which ends the
// helper's capture (it still delivers what had arrived, then ends its stream).
int g_helperInput = -1;
CaptureStats g_stats;
// Set once the capture reads from an open adapter (or helper, or stream), cleared when it ends: until then
// traffic is not seen, so "capturing" is not said before.
std::atomic<bool> g_captureOpen{false};

u_char g_liveFlag = 1;
// The intake for the link type of the running capture (capture thread only).
pcap_handler g_liveHandler = PacketHandler;

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
    g_liveHandler(&g_liveFlag, header, bytes);
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

void CloseHelperInput() {
    std::lock_guard lock(g_handleMutex);
    if (g_helperInput >= 0)
        ::close(g_helperInput);
    g_helperInput = -1;
}

// Picks the intake for the link type of the opened capture `p`. Every frame is parsed as Ethernet (or Linux
// cooked, by the wider intake); anything else would be read as garbage, so it is refused: `release` lets go
// of the capture before the user is told, and the capture ends.
template <typename Release>
bool ChooseIntake(pcap_t* p, const std::string& device, Release release) {
    const int link = pcap_datalink(p);
    g_liveHandler = IntakeHandlerFor(link, PacketHandler);
    if (g_liveHandler) {
        g_storeLinkType = link;
        return true;
    }
    release();
    g_captureState = CAPTURE_IDLE;
    ShowMessage(msg::kAdapterNotEthernet, MsgButtons::Ok,
                device + ": " + LinkTypeText(link) + "; " +
                    (g_config.wideIntake ? "only Ethernet (1) and Linux cooked (113, 276) can be captured."
                                         : "only Ethernet (1) can be captured."));
    return false;
}

// Reads the libpcap stream `p` through the chosen intake until it ends. After the user's Stop what had
// already arrived is still taken in; the store's own stop ends the reading at once. Returns the library's
// error for a stream that broke off, but a record cut off by the user's Stop is no damage.
std::string ReadStream(pcap_t* p) {
    for (;;) {
        const bool stopped = g_captureState.load() != CAPTURE_RUNNING;
        if (stopped && (!g_stopRequested.load() || g_storeStop.load() != STORE_STOP_NONE))
            return {};
        const int n = stopped ? pcap_dispatch(p, kLoadBatch, DrainHandler, reinterpret_cast<u_char*>(p))
                              : DispatchPackets(p, kLoadBatch, g_liveHandler, &g_liveFlag);
        if (n == PCAP_ERROR)
            return g_stopRequested.load() ? std::string() : std::string(pcap_geterr(p));
        if (n == 0)
            return {};  // the end of the stream
    }
}

// Publishes the counters of a capture that has ended, then tells the user what cut it short.
void EndCapture(const CaptureStats& stats, const std::string& device, const std::string& readError) {
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = stats;
    }
    g_captureOpen = false;
    g_captureState = CAPTURE_IDLE;
    if (!readError.empty())
        ShowMessage(ReadFailedMessage(g_packetTable.size()), MsgButtons::Ok, device + ": " + readError);
    if (g_storeStop.load() == STORE_STOP_NO_MEMORY)
        ShowMessage(OutOfMemoryMessage(g_packetTable.size()));
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        ShowMessage(ShortPacketsMessage(shortCount));
}

// Captures on `device` through the capture helper: its stream goes through the same intake as a live
// adapter, with the same messages; the helper's own words are the detail.
void CaptureThroughHelper(const std::string& helper, const std::string& device) {
    const auto openFailed = [&](const std::string& why) {
        g_captureState = CAPTURE_IDLE;
        // The helper names the device itself.
        std::string detail = why.rfind(device + ": ", 0) == 0 ? why : device + ": " + why;
        if (IsRightsErrorText(why))
            detail += "\n" + CaptureRightsHint();
        ShowMessage(msg::kAdapterOpenError, MsgButtons::Ok, detail);
    };
    HelperProcess process;
    std::string error;
    if (!StartCaptureHelper(helper, {"--capture", device}, process, error)) {
        openFailed(error);
        return;
    }
    {
        std::lock_guard lock(g_handleMutex);
        g_helperInput = process.input;
        process.input = -1;  // closed by Stop, or below
    }
    // A Stop that came before the helper was there found nothing to close.
    if (g_captureState.load() != CAPTURE_RUNNING)
        CloseHelperInput();
    // The helper writes its stream's header once the device is open; a helper that cannot open it ends
    // without one.
    FILE* f = ::fdopen(process.output, "rb");
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = f ? pcap_fopen_offline(f, buffer) : nullptr;
    if (f)
        process.output = -1;  // owned by the stream now
    if (!p) {
        if (f)
            std::fclose(f);
        CloseHelperInput();
        const HelperResult result = FinishCaptureHelper(process);
        if (g_stopRequested.load() && result.exitStatus == 0) {
            // Stopped before the device was open: nothing captured, nothing to say.
            g_captureState = CAPTURE_IDLE;
            return;
        }
        openFailed(result.messages.empty() ? std::string(buffer) : result.messages);
        return;
    }
    if (!ChooseIntake(p, device, [&] {
            pcap_close(p);
            CloseHelperInput();
            FinishCaptureHelper(process);
        }))
        return;
    g_captureOpen = true;
    // Until the helper's stream ends: after the user's Stop the helper delivers what had arrived and ends
    // its stream at once; a full store stops reading, which ends the helper too.
    const std::string damage = ReadStream(p);
    CloseHelperInput();
    pcap_close(p);  // a helper still writing gets a broken pipe and ends
    const HelperResult result = FinishCaptureHelper(process);
    CaptureStats stats;
    stats.opened = true;
    stats.received = result.received;
    stats.dropped = result.dropped;
    stats.interfaceDropped = result.interfaceDropped;
    // The helper ends on its own only when the adapter failed (or it broke): that is a failed read, as
    // in a capture of the program's own. A stream cut short by the store's stop is no failure.
    const bool stoppedByUs = g_stopRequested.load() || g_storeStop.load() != STORE_STOP_NONE;
    std::string readError;
    if (result.exitStatus == capture_helper::kExitReadFailed || (!stoppedByUs && result.exitStatus != 0))
        readError = result.messages.empty() ? "the capture helper ended unexpectedly" : result.messages;
    else if (!stoppedByUs && !damage.empty())
        readError = "the capture helper's stream is damaged: " + damage;
    else if (!stoppedByUs)
        readError = "the capture helper ended unexpectedly";
    const std::string prefix = "read error: ";
    if (readError.rfind(prefix, 0) == 0)
        readError.erase(0, prefix.size());
    stats.readFailed = !readError.empty();
    EndCapture(stats, device, readError);
}

// A read error that lasts this long is taken as the end of the adapter (unplugged, deleted, gone down for
// good) rather than a hiccup.
constexpr auto kLastingReadError = std::chrono::milliseconds(1000);

void CaptureThreadProc(std::string device) {
    // Without an adapter nothing is opened: the rights are not what is missing, whoever the user is.
    if (device.empty()) {
        g_captureState = CAPTURE_IDLE;
        ShowMessage(msg::kAdapterOpenError, MsgButtons::Ok,
                    "No network adapter is selected: there is no adapter to capture on. Choose one with "
                    "Sniffer > Select Network Adapter (an adapter is offered once it is up and has an "
                    "address).");
        return;
    }
    std::string error;
    bool wantsRights = false;
    pcap_t* p = OpenAdapter(device, true, error, wantsRights);
    if (!p) {
        std::string firstError = error;
        p = OpenAdapter(device, false, error, wantsRights);
        if (!p && error.empty())
            error = firstError;
    }
    // Without rights of its own the program captures through the helper, which holds them.
    if (!p && wantsRights && !device.empty()) {
        if (const std::string helper = FindCaptureHelper(); !helper.empty()) {
            CaptureThroughHelper(helper, device);
            return;
        }
    }
    if (!p) {
        g_captureState = CAPTURE_IDLE;
        std::string detail = device + ": " + error;
        if (wantsRights)
            detail += "\n" + CaptureRightsHint();
        ShowMessage(msg::kAdapterOpenError, MsgButtons::Ok, detail);
        return;
    }
    if (!ChooseIntake(p, device, [p] { pcap_close(p); }))
        return;
    {
        std::lock_guard lock(g_handleMutex);
        g_handle = p;
    }
    g_captureOpen = true;
    // A failing read is retried for a while (pausing between tries); one that keeps failing ends the
    // capture, keeping what was stored.
    std::string readError;
    std::chrono::steady_clock::time_point failingSince{};
    while (g_captureState.load() == CAPTURE_RUNNING) {
        int n = DispatchPackets(p, -1, g_liveHandler, &g_liveFlag);
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
    EndCapture(stats, device, readError);
}

// Copies the stream `in` into the socket `out` until its end, a read error or the user's Stop, without ever
// blocking for long: the capture thread reads the pipe through the capture library, whose reads cannot be
// interrupted, and ends when this closes the pipe.
void RelayStream(int in, int out, std::string* error, uint64_t* relayed) {
    std::vector<char> buffer(size_t{64} << 10);
    size_t pending = 0, at = 0;
    bool ended = false;
    while (!g_stopRequested.load() && (!ended || at < pending)) {
        pollfd fds{at < pending ? out : in, static_cast<short>(at < pending ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&fds, 1, 100);
        if (ready < 0 && errno != EINTR) {
            *error = std::strerror(errno);
            break;
        }
        if (ready <= 0)
            continue;
        if (at < pending) {
            // No SIGPIPE when the capture thread has stopped reading: the relay just ends.
            const ssize_t n = ::send(out, buffer.data() + at, pending - at, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                break;  // the capture thread stopped reading
            at += n > 0 ? static_cast<size_t>(n) : 0;
            continue;
        }
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            *error = std::strerror(errno);
            break;
        }
        if (n == 0)
            ended = true;
        pending = static_cast<size_t>(n);
        *relayed += pending;
        at = 0;
    }
    // Bytes read before a Stop still reach the capture thread, which takes in what is left.
    while (at < pending) {
        pollfd fds{out, POLLOUT, 0};
        if (::poll(&fds, 1, 100) <= 0)
            break;
        const ssize_t n = ::send(out, buffer.data() + at, pending - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0 && errno != EINTR && errno != EAGAIN)
            break;
        at += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ::close(out);
}

void StreamThreadProc(int in, std::string name) {
    CaptureStats stats;
    int pipeFds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0) {
        if (in != STDIN_FILENO)
            ::close(in);
        g_captureState = CAPTURE_IDLE;
        ShowMessage(msg::kFileOpenError, MsgButtons::Ok, name + ": " + std::strerror(errno));
        return;
    }
    std::string relayError;
    uint64_t relayed = 0;  // read once the relay has ended
    std::thread relay(RelayStream, in, pipeFds[1], &relayError, &relayed);
    FILE* f = ::fdopen(pipeFds[0], "rb");
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = f ? pcap_fopen_offline(f, error) : nullptr;
    std::string failure, damage;
    if (!p) {
        if (f)
            std::fclose(f);
        else
            ::close(pipeFds[0]);
        // A Stop before the stream said anything is no failure.
        if (!g_stopRequested.load())
            failure = error;
    } else if (int link = pcap_datalink(p); !(g_liveHandler = IntakeHandlerFor(link, PacketHandler))) {
        pcap_close(p);
        p = nullptr;
        g_stopRequested = true;  // ends the relay
        relay.join();
        if (in != STDIN_FILENO)
            ::close(in);
        g_captureState = CAPTURE_IDLE;
        ShowMessage(msg::kFileNotEthernet, MsgButtons::Ok,
                    "The stream has " + LinkTypeText(link) + "; " + ReadableLinkTypesText());
        return;
    } else {
        g_storeLinkType = link;
        g_captureOpen = true;
    }
    if (p) {
        stats.opened = true;
        damage = ReadStream(p);
        pcap_close(p);
    }
    g_stopRequested = true;  // ends the relay if the stream has not ended
    relay.join();
    if (in != STDIN_FILENO)
        ::close(in);
    if (!relayError.empty() && damage.empty())
        damage = "error reading the stream: " + relayError;
    stats.readFailed = !damage.empty();
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = stats;
    }
    g_captureOpen = false;
    g_captureState = CAPTURE_IDLE;
    // The library's words for a stream that ended at once are about a truncated file header.
    if (!failure.empty() && relayed == 0 && relayError.empty())
        failure += "\nThe stream is empty: it ended before any byte arrived.";
    if (!failure.empty())
        ShowMessage(msg::kFileOpenError, MsgButtons::Ok, name + ": " + failure);
    if (!damage.empty())
        ShowMessage(msg::kFileDamaged, MsgButtons::Ok, name + ": " + damage);
    if (g_storeStop.load() == STORE_STOP_NO_MEMORY)
        ShowMessage(OutOfMemoryMessage(g_packetTable.size()));
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        ShowMessage(ShortPacketsMessage(shortCount));
}

}  // namespace

bool IsStreamPath(const std::string& path) {
    struct stat st {};
    return path == "-" || (::stat(path.c_str(), &st) == 0 &&
                           (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)));
}

bool StartStreamThread(const std::string& path, bool applyRules) {
    StopCaptureAndWait();
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    // Opened without waiting for a writer: the relay waits, and Stop still ends it.
    const int in = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        ShowMessage(msg::kFileOpenError, MsgButtons::Ok, name + ": " + std::strerror(errno));
        return false;
    }
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = {};
    }
    g_skipFilter = applyRules ? 0 : 1;
    g_captureOpen = false;
    g_stopRequested = false;
    g_storeStop = STORE_STOP_NONE;
    g_captureState = CAPTURE_RUNNING;
    g_captureThread = std::thread(StreamThreadProc, in, name);
    return true;
}

void ResetCapture() {
    StopCaptureAndWait();
    ResetCaptureStore();
}

CommandResult StartCapture(IPromptService& prompts, const CancelToken& cancel) {
    if (g_captureState.load() != CAPTURE_IDLE)
        return CommandResult::Failed;
    if (!OfferToSaveUnsavedPackets(prompts, cancel))
        return CommandResult::Cancelled;
    ResetCapture();
    StartCaptureThread(g_config.adapter);
    return CommandResult::Done;
}

void StartCaptureThread(const std::string& device) {
    StopCaptureAndWait();
    {
        std::lock_guard lock(g_handleMutex);
        g_stats = {};
    }
    g_skipFilter = 0;
    g_captureOpen = false;
    g_stopRequested = false;
    g_storeStop = STORE_STOP_NONE;
    g_captureState = CAPTURE_RUNNING;
    StartOwnerLookup();
    g_captureThread = std::thread(CaptureThreadProc, device);
}

void RunOnCaptureThread(std::function<void()> work) {
    JoinCaptureThread();
    g_stopRequested = false;
    g_captureThread = std::thread(std::move(work));
}

void StopCapture() {
    g_stopRequested = true;
    int expected = CAPTURE_RUNNING;
    g_captureState.compare_exchange_strong(expected, CAPTURE_STOPPING);
    std::lock_guard lock(g_handleMutex);
    if (g_handle)
        pcap_breakloop(g_handle);
    if (g_helperInput >= 0)
        ::close(g_helperInput);
    g_helperInput = -1;
}

void JoinCaptureThread() {
    if (g_captureThread.joinable())
        g_captureThread.join();
    StopOwnerLookup();
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

bool IsCaptureOpen() {
    return g_captureOpen.load();
}

CaptureStats LastCaptureStats() {
    std::lock_guard lock(g_handleMutex);
    return g_stats;
}
