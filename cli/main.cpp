// pacterra-cli: the capture engine without a window. Reads capture files through the same intake as the
// program and prints its lists as tab-separated text.
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/FrontEnd.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  pacterra-cli connections FILE [--rules | --config CFG]\n"
    "      The connections of a capture file, one per line: \"#\", \"Start Time\", \"Client (IP:Port)\",\n"
    "      \"Server (IP:Port)\", \"Protocol\", \"Packets\", \"Last Time\", separated by tabs.\n"
    "  pacterra-cli packets FILE CONN [--rules | --config CFG]\n"
    "      The packets of connection CONN (its \"#\"): direction (> client to server, < server to\n"
    "      client), \"Time Offset\", \"Packet Len\", \"Data Len\", \"Data\", separated by tabs; in \"Data\"\n"
    "      a tab, CR, LF and backslash are written \\t, \\r, \\n, \\\\.\n"
    "\n"
    "Options:\n"
    "  --rules       apply the filter rules, default policy and buffer size of Config.cfg, as the\n"
    "                program does when you answer Yes to applying the filter on Open; without it\n"
    "                every TCP and UDP packet is kept and the buffer size is not enforced\n"
    "  --config CFG  like --rules, with the configuration file CFG\n"
    "  -h, --help    show this text\n"
    "\n"
    "Times are local time (set TZ to choose the zone). A last line on standard error counts the stored\n"
    "packets, the connections and the frames shorter than their IP length.\n"
    "Exit status: 0 success, 1 the file could not be read (or was damaged part-way), 2 usage error.\n";

// Messages go to standard error; questions take their first button (nobody is there to answer).
class ConsoleFrontEnd : public IMainFrame {
public:
    void InsertRow(int) override {}
    void CellsChanged(int, int, int) override {}
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        if (!detail.empty())
            std::fprintf(stderr, "%s\n", detail.c_str());
        return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok : MsgAnswer::Yes;
    }
};

int UsageError(const char* why) {
    std::fprintf(stderr, "pacterra-cli: %s\n\n%s", why, kUsage);
    return 2;
}

struct Options {
    std::string command;
    std::string file;
    long connection = -1;
    bool rules = false;
    std::string configPath;
};

// Writes a cell with tab, CR, LF and backslash escaped so that a row stays one line.
void PutEscaped(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
}

void Flush(std::string& out) {
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
}

void PrintConnections() {
    std::string out;
    out.reserve(1 << 16);
    const size_t n = g_connectionTable.size();
    for (size_t i = 0; i < n; ++i) {
        for (int column = 0; column < kConnectionColumns; ++column) {
            if (column)
                out += '\t';
            out += ConnectionCellText(i, column).view();
        }
        out += '\n';
        if (out.size() > (1 << 16) - 256)
            Flush(out);
    }
    Flush(out);
}

void PrintPackets(size_t connection) {
    const ConnectionRecord& c = g_connectionTable.at(connection);
    std::string out;
    const size_t n = c.packetIndices.size();
    for (size_t i = 0; i < n; ++i) {
        const PacketRecord& p = g_packetTable.at(c.packetIndices[i]);
        out += p.toServer.load(std::memory_order_relaxed) ? '>' : '<';
        for (int column = 0; column < kPacketColumns; ++column) {
            out += '\t';
            PutEscaped(PacketCellText(p, column), out);
        }
        out += '\n';
        if (out.size() > (1 << 16))
            Flush(out);
    }
    Flush(out);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Morvane");
    QCoreApplication::setApplicationName("Pacterra");

    Options opt;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--rules") {
            opt.rules = true;
        } else if (a == "--config") {
            if (++i >= argc)
                return UsageError("--config needs a file");
            opt.rules = true;
            opt.configPath = argv[i];
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(("unknown option " + std::string(a)).c_str());
        } else {
            positional.emplace_back(a);
        }
    }
    if (positional.empty())
        return UsageError("no command given");
    opt.command = positional[0];
    if (opt.command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const size_t wanted = opt.command == "connections" ? 2 : opt.command == "packets" ? 3 : 0;
    if (wanted == 0)
        return UsageError(("unknown command " + opt.command).c_str());
    if (positional.size() != wanted)
        return UsageError(("wrong number of arguments for " + opt.command).c_str());
    opt.file = positional[1];
    if (wanted == 3) {
        char* end = nullptr;
        opt.connection = std::strtol(positional[2].c_str(), &end, 10);
        if (positional[2].empty() || *end != '\0' || opt.connection < 0)
            return UsageError("CONN must be a connection number (0, 1, ...)");
    }

    ConsoleFrontEnd frontEnd;
    g_pMainFrame = &frontEnd;

    // As the program's Open: rules (or not), a fresh store, then the file through the intake.
    if (opt.rules) {
        if (opt.configPath.empty()) {
            g_config.LoadConfig();
        } else if (!g_config.ReadConfigFile(opt.configPath)) {
            std::fprintf(stderr, "pacterra-cli: cannot open the configuration file %s\n", opt.configPath.c_str());
            return 1;
        }
    }
    ResetCaptureStore();
    g_skipFilter = opt.rules ? 0 : 1;
    g_captureState = CAPTURE_RUNNING;
    const int loaded = LoadCaptureFile(PacketHandler, opt.file);

    int status = loaded ? 0 : 1;
    if (opt.command == "connections") {
        PrintConnections();
    } else if (static_cast<size_t>(opt.connection) < g_connectionTable.size()) {
        PrintPackets(static_cast<size_t>(opt.connection));
    } else if (loaded) {
        std::fprintf(stderr, "pacterra-cli: no connection %ld (the file holds %zu)\n", opt.connection,
                     g_connectionTable.size());
        status = 1;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%zu packets, %zu connections, %d short\n", g_packetTable.size(),
                 g_connectionTable.size(), g_shortPacketCount.load());
    g_pMainFrame = nullptr;
    return status;
}
