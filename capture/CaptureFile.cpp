#include "capture/CaptureFile.h"

#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/FrontEnd.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"

namespace {

bool g_loadingFile = false;  // interface thread only

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

int LoadCaptureFile(pcap_handler handler, const std::string& path, const LoadProgress& progress) {
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* pcap = pcap_open_offline(path.c_str(), error);
    if (!pcap) {
        g_captureState = CAPTURE_IDLE;
        ShowMessage("PCAP error: Error opening the offline packets file!", MsgButtons::Ok, error);
        return 0;
    }
    // Every record is parsed as an Ethernet frame; anything else would be read as garbage.
    if (int link = pcap_datalink(pcap); link != DLT_EN10MB) {
        pcap_close(pcap);
        g_captureState = CAPTURE_IDLE;
        ShowMessage("PCAP error: The offline packets file does not hold Ethernet frames!", MsgButtons::Ok,
                    "The file has " + LinkTypeText(link) + "; only Ethernet (1) can be read.");
        return 0;
    }

    const int64_t total = FileSize(path);
    std::string damage;
    g_loadingFile = true;
    while (g_captureState.load() == CAPTURE_RUNNING) {
        int n = DispatchPackets(pcap, kLoadBatch, handler, nullptr);
        if (n == PCAP_ERROR) {
            damage = pcap_geterr(pcap);
            break;
        }
        if (n <= 0)
            break;  // end of the file (0) or a break requested
        if (progress) {
            FILE* f = pcap_file(pcap);
            progress(f ? static_cast<int64_t>(std::ftell(f)) : 0, total);
        }
    }
    pcap_close(pcap);
    g_loadingFile = false;
    g_captureState = CAPTURE_IDLE;
    // The packets came from a file: nothing is lost if they are not saved again.
    g_unsavedPackets = 0;

    if (!damage.empty())
        ShowMessage(
            "PCAP error: The offline packets file is damaged or ends early. The packets read before the "
            "damage are kept.",
            MsgButtons::Ok, damage);
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        ShowMessage(ShortPacketsMessage(shortCount));
    return damage.empty() ? 1 : 0;
}

namespace {

// Where the new file is written before it replaces `path`: beside the file that `path` finally names (a
// symbolic link stays a link), so that an existing file is replaced only once the new one is complete.
// Empty when `path` names something other than a regular file (a device, a pipe): then it is written in
// place.
struct SaveTarget {
    std::string final;      // the file to replace
    std::string temporary;  // empty: write `final` directly
    bool existed = false;
    struct stat old {};
};

SaveTarget PlanSave(const std::string& path) {
    SaveTarget t;
    t.final = path;
    if (::stat(path.c_str(), &t.old) == 0) {
        if (!S_ISREG(t.old.st_mode))
            return t;
        t.existed = true;
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            t.final = real;
            std::free(real);
        }
    }
    t.temporary = t.final + ".part";
    return t;
}

}  // namespace

int SaveCaptureFile(const PacketTable& table, const std::string& path) {
    const size_t count = table.size();
    // 65536 like a live capture, unless a file with larger frames was opened: a reader cuts records to the
    // file's snapshot length.
    int snapshot = kSnapshotLength;
    for (size_t i = 0; i < count; ++i)
        snapshot = std::max(snapshot, table[i].capLen);

    const SaveTarget target = PlanSave(path);
    const std::string& writePath = target.temporary.empty() ? target.final : target.temporary;
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, snapshot);
    if (!dead) {
        ShowMessage("PCAP Error: Error opening the dump file", MsgButtons::Ok, "out of memory");
        return 0;
    }
    pcap_dumper_t* dumper = pcap_dump_open(dead, writePath.c_str());
    if (!dumper) {
        std::string error = pcap_geterr(dead);
        pcap_close(dead);
        ShowMessage("PCAP Error: Error opening the dump file", MsgButtons::Ok, error);
        return 0;
    }
    bool cancelled = false;
    for (size_t i = 0; i < count; ++i) {
        if (i % kSaveBatch == 0 && i != 0 && g_pMainFrame &&
            !g_pMainFrame->ShowSaveProgress(static_cast<int64_t>(i), static_cast<int64_t>(count))) {
            cancelled = true;
            break;
        }
        const PacketRecord& p = table[i];
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(p.stamp.sec);
        h.ts.tv_usec = p.stamp.usec;
        h.caplen = static_cast<bpf_u_int32>(p.capLen);
        h.len = h.caplen;  // the length on the wire is not kept
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, p.data);
    }
    // pcap_dump reports nothing: a full disk shows up in the stream's error state.
    FILE* f = pcap_dump_file(dumper);
    bool ok = !cancelled && pcap_dump_flush(dumper) == 0 && !std::ferror(f);
    int error = errno;
    if (ok && !target.temporary.empty()) {
        // The replacement keeps the old file's permissions (captured traffic may be private).
        if (target.existed) {
            (void)::fchown(fileno(f), target.old.st_uid, target.old.st_gid);
            (void)::fchmod(fileno(f), target.old.st_mode & 07777);
        }
        if (::fsync(fileno(f)) != 0) {
            ok = false;
            error = errno;
        }
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    if (ok && !target.temporary.empty() && std::rename(target.temporary.c_str(), target.final.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        if (!target.temporary.empty())
            std::remove(target.temporary.c_str());
        if (cancelled)
            return 0;  // the user knows
        ShowMessage("PCAP Error: Error writing the dump file! The captured packets were not saved.",
                    MsgButtons::Ok, path + ": " + std::strerror(error));
        return 0;
    }
    return 1;
}

int SaveCommand() {
    std::string path;
    if (g_pMainFrame)
        path = g_pMainFrame->AskFilePath(IPromptService::FileQuestion::SaveCapture);
    if (path.empty())
        return 0;
    if (!SaveCaptureFile(g_packetTable, path))
        return 0;
    // A running capture goes on storing packets that the file does not hold: they stay unsaved.
    if (g_captureState.load() == CAPTURE_IDLE)
        g_unsavedPackets = 0;
    ShowMessage("Captured packets saved successfully!");
    return 1;
}

bool OfferToSaveUnsavedPackets() {
    if (g_unsavedPackets.load() == 0)
        return true;
    switch (
        ShowMessage("Current captured packets will lose without saving. \r\nNote: You can load the saved "
                    "file again afterward\r\n\r\nDo you want to save these packets?",
                    MsgButtons::YesNoCancel)) {
        case MsgAnswer::No:
            return true;
        case MsgAnswer::Yes:
            return SaveCommand() == 1;
        default:
            return false;
    }
}

int OpenCaptureFile(const std::string& path, bool applyRules) {
    // A front end that pumps its events during a load could ask for another one: the first must finish (or
    // be cancelled) before the store is cleared under it.
    if (g_loadingFile)
        return 0;
    ResetCapture();
    g_skipFilter = applyRules ? 0 : 1;
    g_captureState = CAPTURE_RUNNING;
    LoadProgress progress;
    if (g_pMainFrame)
        progress = [](int64_t done, int64_t total) { g_pMainFrame->ShowLoadProgress(done, total); };
    return LoadCaptureFile(PacketHandler, path, progress);
}

int OpenCommand() {
    if (g_loadingFile)
        return 0;
    if (g_captureState.load() != CAPTURE_IDLE) {
        if (ShowMessage("Currently capturing.\r\n\r\nDo you want to stop capturing?", MsgButtons::OkCancel) !=
            MsgAnswer::Ok)
            return 0;
        StopCaptureAndWait();
    }
    if (!OfferToSaveUnsavedPackets())
        return 0;
    std::string path;
    if (g_pMainFrame)
        path = g_pMainFrame->AskFilePath(IPromptService::FileQuestion::OpenCapture);
    if (path.empty())
        return 0;
    bool apply = ShowMessage(
                     "You can choose to apply current filter configuration on the offline packets file "
                     "or not. \r\nNote: Due to the filter, some packets will be discarded. \r\n\r\nDo "
                     "you want to apply?",
                     MsgButtons::YesNo) == MsgAnswer::Yes;
    if (!OpenCaptureFile(path, apply))
        return 0;
    ShowMessage("Captured packets file opened successfully!");
    return 1;
}
