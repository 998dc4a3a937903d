#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/AtomicFile.h"
#include "capture/FileReader.h"
#include "capture/FrameFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"
#include "frontend/Messages.h"

namespace {

// From the checks before a load until it ended (a load runs on the capture thread or the caller's).
std::atomic<bool> g_loadingFile{false};

// What ReadCaptureFile returns for a load that was cancelled or stopped by the front end.
constexpr int kLoadStopped = 4;

MsgAnswer Tell(IPromptService& prompts, const std::string& text, const std::string& detail = {}) {
    return prompts.Prompt(text, MsgButtons::Ok, detail);
}

// libpcap reads a pcapng file only while every interface in it has the first one's link type and snapshot
// length: such a file is whole, just beyond what can be read in one go.
bool IsMixedInterfacesError(const std::string& error) {
    return error.find("different from the type of the first interface") != std::string::npos ||
           error.find("different from the snapshot length of the first interface") != std::string::npos;
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Opens `path` as a capture file that can be read: a regular, non-empty file in a libpcap format holding
// Ethernet frames. Otherwise says why, naming the file, and returns null; nothing else changes.
pcap_t* OpenCheckedCaptureFile(const std::string& path, IPromptService& prompts) {
    // What is no capture file at all is named as such; a pipe would also leave the load waiting for a
    // writer (streams are read by StartStreamThread).
    struct stat st {};
    std::string notAFile;
    if (path == "-") {
        notAFile = "Standard input can be read only as a stream.";
    } else if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            notAFile = path + ": it is a directory, not a capture file.";
        else if (!S_ISREG(st.st_mode))
            notAFile = path +
                       ": it is a pipe, device or socket, not a capture file; it can be read only as a "
                       "stream.";
        else if (st.st_size == 0)
            notAFile = path + ": the file is empty (0 bytes).";
    }
    if (!notAFile.empty()) {
        Tell(prompts, msg::kFileOpenError, notAFile);
        return nullptr;
    }
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* pcap = pcap_open_offline(path.c_str(), error);
    if (!pcap) {
        // The library names the file when it cannot open it, not when it cannot read its format.
        std::string detail = error;
        if (detail.rfind(path, 0) != 0)
            detail = path + ": " + detail;
        Tell(prompts, msg::kFileOpenError, detail);
        return nullptr;
    }
    // Records are parsed as Ethernet frames (or Linux cooked ones, by the wider intake); anything else would
    // be read as garbage.
    if (int link = pcap_datalink(pcap); !IntakeHandlerFor(link, PacketHandler)) {
        pcap_close(pcap);
        Tell(prompts, msg::kFileNotEthernet,
             path + ": the file has " + LinkTypeText(link) + "; " + ReadableLinkTypesText());
        return nullptr;
    }
    return pcap;
}

// The library reads a pcapng file into its own buffer: where a frame lies in the file is found from the end
// of the block just read (the stream's position) and the block's length, written at both of its ends.
struct PcapngLocator {
    pcap_t* pcap;
    pcap_handler handler;
    const uint8_t* map;
    int64_t size;
    int fd;
    bool swapped;
};

void LocateThenHandle(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) {
    constexpr uint32_t kEnhancedPacketBlock = 6;
    constexpr int64_t kBlockHead = 28;
    const auto* l = reinterpret_cast<const PcapngLocator*>(user);
    g_inPlaceFrame = nullptr;
    const int64_t end = ::ftello(pcap_file(l->pcap));
    uint8_t trailer[4], head[kBlockHead];
    if (end >= kBlockHead + 4 && end <= l->size && ::pread(l->fd, trailer, 4, end - 4) == 4) {
        const int64_t start = end - LoadFileU32(trailer, l->swapped);
        if (start >= 0 && start + kBlockHead + header->caplen <= end &&
            ::pread(l->fd, head, kBlockHead, start) == kBlockHead &&
            LoadFileU32(head, l->swapped) == kEnhancedPacketBlock &&
            LoadFileU32(head + 20, l->swapped) >= header->caplen)
            g_inPlaceFrame = l->map + start + kBlockHead;
    }
    l->handler(nullptr, header, bytes);
    g_inPlaceFrame = nullptr;
}

// Reads the file that OpenCheckedCaptureFile opened as `pcap` (and closes it), as LoadCaptureFile does.
// A load ends early when `cancel` is set, or when something else (the store, or a front end of its own
// accord) moves g_captureState on from CAPTURE_RUNNING.
bool LoadGoesOn(const CancelToken& cancel) {
    return g_captureState.load() == CAPTURE_RUNNING && !cancel.IsCancelled();
}

int ReadCaptureFile(pcap_t* pcap, pcap_handler handler, const std::string& path, IPromptService& prompts,
                    const CancelToken& cancel) {
    char error[PCAP_ERRBUF_SIZE] = "";
    const int link = pcap_datalink(pcap);
    handler = IntakeHandlerFor(link, handler);
    if (!handler) {  // a cooked file given to a reader of Ethernet frames only
        pcap_close(pcap);
        g_captureState = CAPTURE_IDLE;
        Tell(prompts, msg::kFileNotEthernet,
             path + ": the file has " + LinkTypeText(link) + "; only Ethernet (1) can be read.");
        return 0;
    }
    g_storeLinkType = link;
    const int64_t total = FileSize(path);
    std::string damage;
    g_storeStop = STORE_STOP_NONE;
    g_loadingFile = true;
    // A classic file is read in large blocks beside the intake; anything else (pcapng) by the library.
    const bool classic = pcap_major_version(pcap) == 2;
    if (classic) {
        pcap_close(pcap);
        pcap = nullptr;
    }
    ClassicReadResult fast = ClassicReadResult::NotClassic;
    if (classic && LoadGoesOn(cancel)) {
        ReadProgress blockProgress = [&](int64_t done) {
            prompts.ShowLoadProgress(done, total);
            // The block reader reads on while the capture runs: a cancel stops it as Stop would.
            if (cancel.IsCancelled()) {
                int expected = CAPTURE_RUNNING;
                g_captureState.compare_exchange_strong(expected, CAPTURE_STOPPING);
            }
        };
        fast = ReadClassicCaptureFile(path, handler, nullptr, blockProgress, damage);
        if (fast == ClassicReadResult::NotClassic) {
            pcap = pcap_open_offline(path.c_str(), error);
            if (!pcap)
                damage = error;
        }
    }
    PcapngLocator locator{pcap, handler, nullptr, 0, -1, false};
    if (pcap) {
        // Indexed in place too, when the file can be mapped; a frame not found whole in it is copied.
        struct stat st {};
        const int fd = ::fcntl(fileno(pcap_file(pcap)), F_DUPFD_CLOEXEC, 0);
        ClassicFileFormat format;
        format.pcapng = true;
        format.swapped = pcap_is_swapped(pcap) == 1;
        format.snapshot = static_cast<uint32_t>(pcap_snapshot(pcap));
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            locator = {pcap,
                       handler,
                       MapFrameFile(::fcntl(fd, F_DUPFD_CLOEXEC, 0), st.st_size, format),
                       static_cast<int64_t>(st.st_size),
                       fd,
                       format.swapped};
        }
        if (!locator.map && fd >= 0)
            ::close(fd);
    }
    while (pcap && LoadGoesOn(cancel)) {
        int n = locator.map
                    ? DispatchPackets(pcap, kLoadBatch, LocateThenHandle, reinterpret_cast<u_char*>(&locator))
                    : DispatchPackets(pcap, kLoadBatch, handler, nullptr);
        if (n == PCAP_ERROR) {
            damage = pcap_geterr(pcap);
            break;
        }
        if (n <= 0)
            break;  // end of the file (0) or a break requested
        FILE* f = pcap_file(pcap);
        const int64_t done = f ? static_cast<int64_t>(std::ftell(f)) : 0;
        if (locator.map)
            g_indexedFileBytes.store(std::min(done, locator.size), std::memory_order_relaxed);
        prompts.ShowLoadProgress(done, total);
    }
    if (locator.map)
        ::close(locator.fd);
    if (pcap)
        pcap_close(pcap);
    g_loadingFile = false;
    // Stopped by the front end (its progress was cancelled, or its window closed), not by the store.
    const bool stopped = (cancel.IsCancelled() || g_captureState.load() == CAPTURE_STOPPING) &&
                         g_storeStop.load() == STORE_STOP_NONE;
    g_captureState = CAPTURE_IDLE;
    // The packets came from a file: nothing is lost if they are not saved again.
    g_unsavedPackets = 0;

    const bool outOfMemory = g_storeStop.load() == STORE_STOP_NO_MEMORY;
    // A file cut short or rewritten while it was read looks damaged; say what really happened.
    if (const int64_t now = FileSize(path); !damage.empty() && now != total)
        damage += "\nThe file changed while it was read: it had " + std::to_string(total) +
                  " bytes when reading began and has " + std::to_string(now) + " now.";
    if (!damage.empty() && IsMixedInterfacesError(damage))
        Tell(prompts, msg::kFileMixedInterfaces, damage);
    else if (!damage.empty())
        Tell(prompts, msg::kFileDamaged, damage);
    if (outOfMemory)
        Tell(prompts, OutOfMemoryMessage(g_packetTable.size()));
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        Tell(prompts, ShortPacketsMessage(shortCount));
    if (!damage.empty() || outOfMemory)
        return 0;
    return stopped ? kLoadStopped : 1;
}

}  // namespace

int LoadCaptureFile(pcap_handler handler, const std::string& path, IPromptService& prompts,
                    const CancelToken& cancel) {
    pcap_t* pcap = OpenCheckedCaptureFile(path, prompts);
    if (!pcap) {
        g_captureState = CAPTURE_IDLE;
        return 0;
    }
    const int loaded = ReadCaptureFile(pcap, handler, path, prompts, cancel);
    return loaded == kLoadStopped ? 1 : loaded;
}

namespace {

// The libpcap file format, written as pcap_dump writes it: in this machine's byte order, microsecond stamps.
struct PcapFileHeader {
    uint32_t magic = 0xA1B2C3D4;
    uint16_t major = 2, minor = 4;
    int32_t thisZone = 0;
    uint32_t sigFigs = 0;
    uint32_t snapshot = 0;
    uint32_t linkType = 0;
};
struct PcapRecordHeader {
    uint32_t sec = 0, usec = 0, capLen = 0, len = 0;
};
static_assert(sizeof(PcapFileHeader) == 24 && sizeof(PcapRecordHeader) == 16);

template <typename T>
std::string_view BytesOf(const T& value) {
    return {reinterpret_cast<const char*>(&value), sizeof value};
}

}  // namespace

std::atomic<bool> g_abandonSaves{false};

namespace {

// `subset`: the packets to write, in order; null writes every packet below the count read at the start.
CommandResult SavePackets(const PacketTable& table, const std::string& path,
                          const std::vector<uint32_t>* subset, IPromptService& prompts,
                          const CancelToken& cancel) {
    if (g_abandonSaves.load() || cancel.IsCancelled())
        return CommandResult::Cancelled;
    const size_t count = subset ? subset->size() : table.size();
    auto packetAt = [&](size_t k) -> const PacketRecord& { return table[subset ? (*subset)[k] : k]; };
    // The snapshot length of a live capture, unless a file with larger frames was opened: a reader cuts
    // records to the file's snapshot length.
    int snapshot = kSnapshotLength;
    for (size_t i = 0; i < count; ++i)
        snapshot = std::max(snapshot, packetAt(i).capLen);

    AtomicFileWriter file(path);
    if (!file.Open()) {
        Tell(prompts, msg::kDumpOpenError, file.Error());
        return CommandResult::Failed;
    }
    // The frames keep the link type they came with (Ethernet unless the wider intake read cooked frames);
    // the link types read have the same number in a file as in the library.
    PcapFileHeader header;
    header.snapshot = static_cast<uint32_t>(snapshot);
    header.linkType = static_cast<uint32_t>(g_storeLinkType.load());
    bool ok = file.Write(BytesOf(header));
    bool cancelled = false;
    size_t gone =
        SIZE_MAX;  // a frame no longer in the file opened in place: no file is better than a wrong one
    for (size_t i = 0; ok && i < count; ++i) {
        if (i % kSaveBatch == 0 && i != 0 &&
            (g_abandonSaves.load(std::memory_order_relaxed) || cancel.IsCancelled() ||
             !prompts.ShowSaveProgress(static_cast<int64_t>(i), static_cast<int64_t>(count)))) {
            cancelled = true;
            break;
        }
        if (i % kSaveBatch == 0)
            DropFramePages();
        const PacketRecord& p = packetAt(i);
        if (!FrameBytesPresent(p)) {
            gone = i;
            ok = false;
            break;
        }
        PcapRecordHeader record;
        record.sec = static_cast<uint32_t>(p.stamp.sec);
        record.usec = static_cast<uint32_t>(p.stamp.usec);
        record.capLen = static_cast<uint32_t>(p.capLen);
        record.len = record.capLen;  // the length on the wire is not kept
        ok = file.Write(BytesOf(record)) &&
             file.Write({reinterpret_cast<const char*>(p.data), static_cast<size_t>(p.capLen)});
    }
    // (The progress report may have pumped the events that asked to end the program.) A cancelled save
    // leaves nothing: the writer removes its file.
    if (cancelled || g_abandonSaves.load() || cancel.IsCancelled())
        return CommandResult::Cancelled;  // the user knows
    if (gone != SIZE_MAX) {
        Tell(prompts, msg::kDumpWriteError,
             path + ": packet " + std::to_string(gone + 1) + ": " + msg::kFrameBytesGone);
        return CommandResult::Failed;
    }
    if (!ok || !file.Commit()) {
        Tell(prompts, msg::kDumpWriteError, file.Error());
        return CommandResult::Failed;
    }
    return CommandResult::Done;
}

}  // namespace

CommandResult SaveCaptureFile(const PacketTable& table, const std::string& path, IPromptService& prompts,
                              const CancelToken& cancel) {
    return SavePackets(table, path, nullptr, prompts, cancel);
}

CommandResult SaveCaptureFile(const PacketTable& table, const std::string& path,
                              const std::vector<uint32_t>& packets, IPromptService& prompts,
                              const CancelToken& cancel) {
    for (uint32_t p : packets)
        if (p >= table.size())
            throw std::out_of_range("packet index out of range");
    return SavePackets(table, path, &packets, prompts, cancel);
}

CommandResult SaveCommand(IPromptService& prompts, const CancelToken& cancel) {
    const std::string path = prompts.AskFilePath(IPromptService::FileQuestion::SaveCapture);
    if (path.empty())
        return CommandResult::Cancelled;
    if (const CommandResult saved = SaveCaptureFile(g_packetTable, path, prompts, cancel);
        saved != CommandResult::Done)
        return saved;
    // A running capture goes on storing packets that the file does not hold: they stay unsaved.
    if (g_captureState.load() == CAPTURE_IDLE)
        g_unsavedPackets = 0;
    Tell(prompts, msg::kPacketsSaved);
    return CommandResult::Done;
}

bool OfferToSaveUnsavedPackets(IPromptService& prompts, const CancelToken& cancel) {
    if (g_unsavedPackets.load() == 0)
        return true;
    switch (prompts.Prompt(msg::kSaveUnsavedQuestion, MsgButtons::YesNoCancel, {})) {
        case MsgAnswer::No:
            return true;
        case MsgAnswer::Yes:
            return SaveCommand(prompts, cancel) == CommandResult::Done;
        default:
            return false;
    }
}

namespace {

// The checks before the store is touched: a file that cannot be read leaves the capture shown as it was.
// Then a fresh store and the state of a running load. Null (told) when the file cannot be read.
pcap_t* PrepareLoad(const std::string& path, bool applyRules, IPromptService& prompts) {
    pcap_t* pcap = OpenCheckedCaptureFile(path, prompts);
    if (!pcap)
        return nullptr;
    ResetCapture();
    g_skipFilter = applyRules ? 0 : 1;
    g_captureState = CAPTURE_RUNNING;
    g_loadingFile = true;
    return pcap;
}

// OpenCaptureFile, telling a cancelled load (kLoadStopped) from a whole one.
int OpenAndReadCaptureFile(const std::string& path, bool applyRules, IPromptService& prompts,
                           const CancelToken& cancel) {
    // A load still running must finish (or be cancelled) before the store is cleared under it.
    if (g_loadingFile)
        return 0;
    pcap_t* pcap = PrepareLoad(path, applyRules, prompts);
    return pcap ? ReadCaptureFile(pcap, PacketHandler, path, prompts, cancel) : 0;
}

// What Open says after a load that ReadCaptureFile ended with `loaded`.
OpenResult FinishLoad(int loaded, IPromptService& prompts) {
    if (loaded == 0)
        return OpenResult::Failed;
    if (loaded == kLoadStopped)
        return OpenResult::Stopped;  // no success either: the front end that stopped it says so
    // With the rules applied the buffer limit can end the load early: that is no success.
    if (g_storeStop.load() == STORE_STOP_BUFFER_FULL) {
        prompts.Prompt(
            BufferFilledMessage(g_packetTable.size(), false), MsgButtons::Ok,
            "Choose a larger buffer under Configure, or open the file without applying the filter, "
            "to read every packet.");
        return OpenResult::BufferFilled;
    }
    Tell(prompts, msg::kFileOpened);
    return OpenResult::Loaded;
}

// The questions of the Open command; false when one was cancelled (or the save before it failed).
bool AskWhatToOpen(IPromptService& prompts, const CancelToken& cancel, std::string& path, bool& applyRules) {
    if (g_loadingFile)
        return false;
    if (g_captureState.load() != CAPTURE_IDLE) {
        if (prompts.Prompt(msg::kStopCapturingQuestion, MsgButtons::OkCancel, {}) != MsgAnswer::Ok)
            return false;
        StopCaptureAndWait();
    }
    if (!OfferToSaveUnsavedPackets(prompts, cancel))
        return false;
    path = prompts.AskFilePath(IPromptService::FileQuestion::OpenCapture);
    if (path.empty())
        return false;
    applyRules = AskToApplyRules(prompts);
    return true;
}

}  // namespace

int OpenCaptureFile(const std::string& path, bool applyRules, IPromptService& prompts,
                    const CancelToken& cancel) {
    const int loaded = OpenAndReadCaptureFile(path, applyRules, prompts, cancel);
    return loaded == kLoadStopped ? 1 : loaded;
}

bool AskToApplyRules(IPromptService& prompts) {
    return prompts.Prompt(msg::kApplyFilterQuestion, MsgButtons::YesNo, {}) == MsgAnswer::Yes;
}

OpenResult OpenCommand(IPromptService& prompts, const CancelToken& cancel) {
    std::string path;
    bool apply = false;
    if (!AskWhatToOpen(prompts, cancel, path, apply))
        return OpenResult::Cancelled;
    return OpenCaptureSource(path, apply, prompts, cancel);
}

void OpenCommandInBackground(IPromptService& prompts, const CancelToken& cancel, OpenDone done) {
    std::string path;
    bool apply = false;
    if (!AskWhatToOpen(prompts, cancel, path, apply))
        return done(OpenResult::Cancelled);
    OpenCaptureSourceInBackground(path, apply, prompts, cancel, std::move(done));
}

OpenResult OpenCaptureSource(const std::string& path, bool applyRules, IPromptService& prompts,
                             const CancelToken& cancel) {
    if (g_loadingFile)
        return OpenResult::Cancelled;
    if (IsStreamPath(path)) {
        ResetCapture();
        return StartStreamThread(path, applyRules) ? OpenResult::StreamStarted : OpenResult::Failed;
    }
    return FinishLoad(OpenAndReadCaptureFile(path, applyRules, prompts, cancel), prompts);
}

void OpenCaptureSourceInBackground(const std::string& path, bool applyRules, IPromptService& prompts,
                                   const CancelToken& cancel, OpenDone done) {
    if (g_loadingFile || IsStreamPath(path))
        return done(OpenCaptureSource(path, applyRules, prompts, cancel));
    pcap_t* pcap = PrepareLoad(path, applyRules, prompts);
    if (!pcap)
        return done(OpenResult::Failed);
    // The capture thread is the store's one writer, for a file as for a live capture; Stop and
    // StopCaptureAndWait end and join a load as they do a capture.
    RunOnCaptureThread([pcap, path, &prompts, &cancel, done = std::move(done)] {
        done(FinishLoad(ReadCaptureFile(pcap, PacketHandler, path, prompts, cancel), prompts));
    });
}

std::string BufferFilledMessage(size_t kept, bool stream) {
    return "The buffer of " + std::to_string(std::max(1, g_config.bufferMB)) + " MB filled after " +
           std::to_string(kept) + " packets, and the rest of the " + (stream ? "stream" : "file") +
           " was not read.";
}
