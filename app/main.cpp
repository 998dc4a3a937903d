// pacterra: the packet sniffer's window.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/TrawlerApp.h"
#include "app/Version.h"
#include "frontend/StandardStreams.h"

namespace {

constexpr char kUsage[] =
    "Usage: pacterra [FILE]\n"
    "Pacterra Packet Sniffer: captures TCP and UDP over IPv4 from a network adapter, groups the packets\n"
    "into connections and shows their headers, bytes and payload.\n"
    "\n"
    "  FILE           a capture file (libpcap format, Ethernet) to open at start; - (standard input)\n"
    "                 or a named pipe is read as a stream until it ends, like a live capture\n"
    "  -h, --help     show this text\n"
    "  -v, --version  show the version\n"
    "\n"
    "Without a display, pacterra-cli reads and captures from the command line.\n";

bool Is(const char* arg, const char* a, const char* b) {
    return std::strcmp(arg, a) == 0 || std::strcmp(arg, b) == 0;
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

int main(int argc, char** argv) {
    OpenMissingStandardDescriptors();
    // Answered before the window system is touched, so that they work on a machine without a display.
    for (int i = 1; i < argc; ++i) {
        if (Is(argv[i], "-h", "--help"))
            return PrintAnswer("pacterra", kUsage);
        if (Is(argv[i], "-v", "--version"))
            return PrintAnswer("pacterra", (std::string("pacterra ") + kProductVersion + "\n").c_str());
    }
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
        std::fputs(
            "pacterra: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be "
            "shown.\n"
            "  On a virtual display:  xvfb-run -a pacterra [FILE]\n"
            "  Without a window:      pacterra-cli connections FILE   (pacterra-cli --help for more)\n",
            stderr);
        return 2;
    }
    CTrawlerApp app(argc, argv);
    int exitCode = 0;
    if (!app.InitInstance(&exitCode))
        return exitCode;
    return app.exec();
}
