#include "capture/CaptureFile.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/FrontEnd.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"

namespace {

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
        const char* name = pcap_datalink_val_to_name(link);
        ShowMessage("PCAP error: The offline packets file does not hold Ethernet frames!", MsgButtons::Ok,
                    "Link type " + std::to_string(link) + (name ? std::string(" (") + name + ")" : "") +
                        "; only Ethernet (1) can be read.");
        return 0;
    }

    const int64_t total = FileSize(path);
    std::string damage;
    while (g_captureState.load() == CAPTURE_RUNNING) {
        int n = pcap_dispatch(pcap, kLoadBatch, handler, nullptr);
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

// A temporary file beside `path`, renamed over it once complete; empty when `path` is not a regular file
// (or does not exist yet in a directory we can write), in which case the file is written in place.
std::string TemporaryPathFor(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return {};
    return path + ".part";
}

}  // namespace

int SaveCaptureFile(const PacketTable& table, const std::string& path) {
    const std::string temporary = TemporaryPathFor(path);
    const std::string& target = temporary.empty() ? path : temporary;
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kSnapshotLength);
    if (!dead) {
        ShowMessage("PCAP Error: Error opening the dump file", MsgButtons::Ok, "out of memory");
        return 0;
    }
    pcap_dumper_t* dumper = pcap_dump_open(dead, target.c_str());
    if (!dumper) {
        std::string error = pcap_geterr(dead);
        pcap_close(dead);
        ShowMessage("PCAP Error: Error opening the dump file", MsgButtons::Ok, error);
        return 0;
    }
    const size_t count = table.size();
    for (size_t i = 0; i < count; ++i) {
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
    bool ok = pcap_dump_flush(dumper) == 0 && !std::ferror(f);
    int error = errno;
    if (ok && !temporary.empty() && ::fsync(fileno(f)) != 0) {
        ok = false;
        error = errno;
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    if (ok && !temporary.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        if (!temporary.empty())
            std::remove(temporary.c_str());
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
    // Cleared first: a packet stored while the file is written marks the store unsaved again.
    g_unsavedPackets = 0;
    if (!SaveCaptureFile(g_packetTable, path)) {
        g_unsavedPackets = 1;
        return 0;
    }
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
    ResetCapture();
    g_skipFilter = applyRules ? 0 : 1;
    g_captureState = CAPTURE_RUNNING;
    LoadProgress progress;
    if (g_pMainFrame)
        progress = [](int64_t done, int64_t total) { g_pMainFrame->ShowLoadProgress(done, total); };
    return LoadCaptureFile(PacketHandler, path, progress);
}

int OpenCommand() {
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
