#include "capture/CaptureFile.h"

#include <sys/stat.h>

#include <cstdio>

#include "capture/FrontEnd.h"
#include "capture/PacketStore.h"

namespace {

int64_t FileSize(const std::string& path) {
    struct stat st{};
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
