#include "config/Adapters.h"

#include <netdb.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "frontend/CaptureHelper.h"
#include "frontend/FrontEnd.h"

namespace {

// The address entry a device is shown with: the first, or the second when the first is not IPv4 (Linux
// lists the link-layer address first).
const pcap_addr_t* ChosenAddress(const pcap_if_t* dev) {
    const pcap_addr_t* a = dev->addresses;
    if (a && (!a->addr || a->addr->sa_family != AF_INET) && a->next)
        a = a->next;
    return a;
}

bool IsIPv4(const pcap_addr_t* a) {
    return a && a->addr && a->addr->sa_family == AF_INET;
}

std::string Dotted(const sockaddr* sa) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    const auto* b = reinterpret_cast<const uint8_t*>(&in->sin_addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

bool IsZero(const sockaddr* sa) {
    return reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr == 0;
}

struct DeviceList {
    pcap_if_t* head = nullptr;
    ~DeviceList() {
        if (head)
            pcap_freealldevs(head);
    }
};

bool FindAll(DeviceList& list, std::string& error) {
    char buffer[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&list.head, buffer) == -1) {
        error = buffer;
        return false;
    }
    return true;
}

}  // namespace

const char* DataLinkText(int linkType) {
    switch (linkType) {
        case 0:
            return "no link-layer encapsulation";
        case 1:
            return "Ethernet (10Mb)";
        case 2:
            return "Experimental Ethernet (3Mb)";
        case 3:
            return "Amateur Radio AX.25";
        case 4:
            return "Proteon ProNET Token Ring";
        case 5:
            return "Chaos";
        case 6:
            return "IEEE 802 Networks";
        case 7:
            return "ARCNET";
        case 8:
            return "Serial Line IP";
        case 9:
            return "Point-to-point Protocol";
        case 10:
            return "FDDI";
        case 11:
            return "LLC/SNAP encapsulated atm";
        case 12:
            return "raw IP";
        case 15:
            return "BSD/OS Serial Line IP";
        case 16:
            return "BSD/OS Point-to-point Protocol";
        case 104:
            return "Cisco HDLC";
        default:
            return "Unknown Data-link";
    }
}

const char* WideDataLinkText(int linkType) {
    switch (linkType) {
        case 113:
            return "Linux cooked capture (113)";
        case 276:
            return "Linux cooked capture v2 (276)";
        default:
            return DataLinkText(linkType);
    }
}

std::string QueryDataLink(const std::string& device, bool wide) {
    bool wantsRights = false;
    return QueryDataLink(device, wide, wantsRights);
}

std::string QueryDataLink(const std::string& device, bool wide, bool& wantsRights) {
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_live(device.c_str(), 65536, 1, 1000, buffer);
    if (!p) {
        wantsRights = wantsRights || IsRightsErrorText(buffer);
        return kNoPromiscuousText;
    }
    int link = pcap_datalink(p);
    pcap_close(p);
    return wide ? WideDataLinkText(link) : DataLinkText(link);
}

bool EnumerateAdapters(std::vector<AdapterRow>& rows, std::string& error, bool withDataLink, bool wide) {
    rows.clear();
    DeviceList list;
    if (!FindAll(list, error))
        return false;
    rows = AdapterRows(list.head, wide);
    if (!withDataLink)
        return true;
    bool wantsRights = false;
    for (AdapterRow& row : rows)
        row.dataLink = QueryDataLink(row.device, wide, wantsRights);
    // Without rights of its own the program learns the link types from the capture helper, which will
    // capture for it.
    if (wantsRights)
        if (const std::string helper = FindCaptureHelper(); !helper.empty()) {
            std::vector<HelperDevice> devices;
            std::string helperError;
            if (ListAdaptersThroughHelper(helper, devices, helperError))
                ApplyHelperLinkTypes(rows, devices, wide);
        }
    for (AdapterRow& row : rows)
        row.unusable = AdapterUnusableReason(row, wide);
    return true;
}

std::string AdapterUnusableReason(const AdapterRow& row, bool wide) {
    if (row.dataLink == kNoPromiscuousText) {
        const bool networkInterface =
            (wide && row.device == "any") ||
            (row.device.find('/') == std::string::npos && !row.device.empty() && row.device[0] != '.' &&
             ::access(("/sys/class/net/" + row.device).c_str(), F_OK) == 0);
        return networkInterface
                   ? std::string()
                   : "Not a network adapter: it cannot be opened, and it delivers no frames that "
                     "Pacterra reads.";
    }
    if (row.dataLink == DataLinkText(DLT_EN10MB) ||
        (wide && (row.dataLink == WideDataLinkText(113) || row.dataLink == WideDataLinkText(276))))
        return {};
    return "It delivers " + row.dataLink + " frames; Pacterra reads only Ethernet" +
           (wide ? " and Linux cooked capture frames." : " frames.");
}

void ApplyHelperLinkTypes(std::vector<AdapterRow>& rows, const std::vector<HelperDevice>& devices,
                          bool wide) {
    for (AdapterRow& row : rows) {
        if (row.dataLink != kNoPromiscuousText)
            continue;
        for (const HelperDevice& d : devices)
            if (d.name == row.device && d.linkType >= 0)
                row.dataLink = wide ? WideDataLinkText(d.linkType) : DataLinkText(d.linkType);
    }
}

std::vector<AdapterRow> AdapterRows(const pcap_if_t* devices, bool withoutAddresses) {
    std::vector<AdapterRow> rows;
    for (const pcap_if_t* dev = devices; dev; dev = dev->next) {
        if (!dev->addresses && !withoutAddresses)
            continue;
        AdapterRow row;
        row.device = dev->name;
        // libpcap on Linux describes only special devices: an ordinary one shows its name, so that no row,
        // adapter name or "current adapter" text is blank; with a description both are shown.
        row.description = dev->description && *dev->description
                              ? std::string(dev->name) + " (" + dev->description + ")"
                              : std::string(dev->name);
        const pcap_addr_t* a = ChosenAddress(dev);
        if (IsIPv4(a)) {
            row.ip = Dotted(a->addr);
            if (a->netmask)
                row.netmask = Dotted(a->netmask);
        } else if (a && a->addr && a->addr->sa_family == AF_INET6) {
            char host[128];
            if (getnameinfo(a->addr, sizeof(sockaddr_in6), host, sizeof host, nullptr, 0, NI_NUMERICHOST) ==
                0)
                row.ip = host;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool IsEthernetDevice(const char* name) {
    // The kernel's hardware type (ARPHRD_ETHER is 1) can be read without capture rights.
    if (std::strchr(name, '/') == nullptr && *name != '.') {
        if (FILE* f = std::fopen(("/sys/class/net/" + std::string(name) + "/type").c_str(), "r")) {
            int type = -1;
            const bool read = std::fscanf(f, "%d", &type) == 1;
            std::fclose(f);
            if (read)
                return type == 1;
        }
    }
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_live(name, 128, 0, 100, buffer);
    if (!p)
        return false;
    const bool ethernet = pcap_datalink(p) == DLT_EN10MB;
    pcap_close(p);
    return ethernet;
}

std::string ChooseDefaultAdapter() {
    DeviceList list;
    std::string error;
    if (!FindAll(list, error)) {
        ShowMessage("Error in pcap_findalldevs: " + error + "\n");
        return {};
    }
    return ChooseDefaultAdapter(list.head, IsEthernetDevice);
}

std::string ChooseDefaultAdapter(const pcap_if_t* devices,
                                 const std::function<bool(const char*)>& isEthernet) {
    // Windows capture devices are recognised by their names.
    for (const pcap_if_t* dev = devices; dev; dev = dev->next) {
        const pcap_addr_t* a = ChosenAddress(dev);
        if (!dev->addresses || !IsIPv4(a) || IsZero(a->addr))
            continue;
        if (std::strstr(dev->name, "PCNTN") || std::strstr(dev->name, "_{"))
            return dev->name;
    }
    // Elsewhere (Linux) by their state: up, not loopback, with an address.
    for (const pcap_if_t* dev = devices; dev; dev = dev->next) {
        const pcap_addr_t* a = ChosenAddress(dev);
        if (!dev->addresses || !IsIPv4(a) || IsZero(a->addr))
            continue;
        // Only Ethernet: a tunnel or PPP device (raw IP) would be refused when the capture starts.
        if ((dev->flags & PCAP_IF_UP) && !(dev->flags & PCAP_IF_LOOPBACK) && isEthernet(dev->name))
            return dev->name;
    }
    return {};
}
