// What pacterra-capture and its callers agree on: its arguments, exit statuses and the lines it writes.
// Plain C++ only: the helper links nothing but libpcap and the C++ library.
#pragma once

#include <string_view>

namespace capture_helper {

inline constexpr char kProgramName[] = "pacterra-capture";

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitReadFailed = 1;  // reads from the adapter kept failing (it went away)
inline constexpr int kExitUsage = 2;       // a bad argument, an unknown device, or standard output a terminal
inline constexpr int kExitOpenFailed = 3;  // the device exists but could not be opened (rights, say)
inline constexpr int kExitOutput = 4;      // standard output failed (the caller stopped reading)

// Every line on standard error starts with this; the last one of a capture is the counters line.
inline constexpr char kErrorPrefix[] = "pacterra-capture: ";
// "pacterra-capture: stats received=N dropped=N ifdropped=N"
inline constexpr char kStatsWord[] = "stats ";

// The adapter list (--list): one line per device, fields separated by tabs, texts free of tabs and line
// breaks:
//   device <TAB> NAME <TAB> FLAGS (decimal) <TAB> LINKTYPE (-1: cannot be opened) <TAB> DESCRIPTION
// followed by one line per address of that device:
//   address <TAB> FAMILY (4 or 6) <TAB> ADDRESS <TAB> NETMASK (may be empty)
inline constexpr char kListHeader[] = "pacterra-capture adapters 1";

// The snapshot length of every live capture, the helper's and the window's own: the capture library's
// largest. Loopback (MTU 65536) and segment offload hand over frames above 65,536 bytes; a smaller one
// would cut them, and the intake would drop them as short.
inline constexpr int kSnapshotLength = 262144;

// The kernel hands packets over in blocks: a fast stream a block at a time, and a block that is not full
// after this time anyway. Short, so that a new connection reaches the owner lookup while the program that
// made it may still hold its socket (a short-lived client's lives a few milliseconds); a fast stream fills
// its blocks sooner anyway, and a quiet interface wakes nobody.
inline constexpr int kReadTimeoutMs = 2;

inline constexpr size_t kMaxDeviceName = 64;

// Device names as libpcap's devices are named on Linux ("eth0", "veth-a.10", "usbmon1", "any",
// "bluetooth-monitor", "enp0s31f6@if3"): letters, digits and . _ - : @, not starting with - or ., at most
// kMaxDeviceName characters. Nothing that could be a path or an option.
inline bool IsValidDeviceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxDeviceName || name.front() == '-' || name.front() == '.')
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-' || c == ':' || c == '@';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace capture_helper
