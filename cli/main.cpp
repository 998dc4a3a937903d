// pacterra-cli: the capture engine without a window. Reads capture files through the same intake as the
// program and prints its lists as tab-separated text.
#include <QCoreApplication>

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis/ConnectionFilter.h"
#include "analysis/Export.h"
#include "analysis/RateBins.h"
#include "analysis/ServerNameTable.h"
#include "analysis/StoreRates.h"
#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/FrameFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "capture/ProcessOwner.h"
#include "config/Adapters.h"
#include "config/CaptureConfig.h"
#include "config/SettingsStore.h"
#include "frontend/FrontEnd.h"
#include "frontend/Messages.h"
#include "frontend/StandardStreams.h"
#include "views/HexLines.h"
#include "views/NameDecode.h"
#include "views/PacketDecode.h"
#include "views/WideDecode.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  pacterra-cli connections FILE [--format csv|json] [--filter EXPR] [--rules | --config CFG]\n"
    "      The connections of a capture file, one per line: \"#\", \"Start Time\", \"Client (IP:Port)\",\n"
    "      \"Server (IP:Port)\", \"Protocol\", \"Packets\", \"Last Time\", \"Name\", separated by tabs. "
    "With\n"
    "      --format json one JSON object per line (JSON Lines): number, start, last (UTC, ISO 8601),\n"
    "      client_ip, client_port, server_ip, server_port, protocol, service (empty when none is known),\n"
    "      packets, bytes_to_server, bytes_to_client, community_id, server_name and name_source (tls,\n"
    "      quic, http or dns: where the name the client asked for was read; null without one); with\n"
    "      --format csv the same fields as CSV (RFC 4180) under a header row of their names.\n"
    "      --filter keeps the connections that match EXPR, as the window's filter line does: words\n"
    "      that must all hold, such as tcp, udp, port:80, host:10.0.0.1, host:10.0.0.0/8, packets>10,\n"
    "      or text found in an endpoint, the service or the protocol; a leading - negates a word.\n"
    "  pacterra-cli export FILE CONN... -w OUT [--rules | --config CFG]\n"
    "  pacterra-cli export FILE --filter EXPR -w OUT [--rules | --config CFG]\n"
    "      Writes the packets of connections CONN... (or of those EXPR matches), in the order they\n"
    "      were stored, to the libpcap capture file OUT.\n"
    "  pacterra-cli packets FILE CONN [--rules | --config CFG]\n"
    "      The packets of connection CONN (its \"#\"): direction (> client to server, < server to\n"
    "      client), \"Time Offset\", \"Packet Len\", \"Data Len\", \"Data\", separated by tabs; in \"Data\"\n"
    "      a tab, CR, LF and backslash are written \\t, \\r, \\n, \\\\.\n"
    "  pacterra-cli decode FILE INDEX [--rules | --config CFG]\n"
    "      The decode tree of packet INDEX (in the order the packets were stored, from 0): one line per\n"
    "      tree line, indented two spaces per level, then a tab and its bytes as [offset,length] or [].\n"
    "  pacterra-cli hex FILE INDEX [--rules | --config CFG]\n"
    "      The hex viewer's lines for packet INDEX.\n"
    "  pacterra-cli stream FILE CONN [--client | --server] [--raw] [--rules | --config CFG]\n"
    "      The conversation of connection CONN: TCP reassembled by sequence number, UDP datagrams in\n"
    "      order. Each turn starts on a new line with > (client) or < (server); bytes below 32 other\n"
    "      than line breaks show as \".\"; marked lines such as \"[N bytes missing]\" tell what the\n"
    "      capture lacks. --client or --server keeps one direction; --raw writes the bytes themselves.\n"
    "  pacterra-cli rate FILE [--bin SECONDS] [--conn CONN] [--rules | --config CFG]\n"
    "      Packets and bytes per time bin of SECONDS (default 1), the numbers the Traffic bar draws:\n"
    "      the bin's start in seconds from the first stored packet, packets, bytes (\"Packet Len\"\n"
    "      summed), separated by tabs, one line per bin from the first packet's to the last one's,\n"
    "      empty bins included. With --conn only the packets of connection CONN count, and two more\n"
    "      columns give its bytes from the client to the server and back.\n"
    "  pacterra-cli adapters\n"
    "      The network adapters: device name, \"Adapter\", \"IP\", \"NetMask\", \"Data-Link\", separated\n"
    "      by tabs; then \"default: NAME\", the adapter chosen when none is configured.\n"
    "  pacterra-cli capture [-i DEVICE] [-c COUNT] [-t SECONDS] [-w FILE] [--format csv|json]\n"
    "                       [--rules | --config CFG]\n"
    "      Captures live until COUNT packets are stored, SECONDS pass, the buffer fills or Ctrl+C,\n"
    "      then prints the connections as \"connections\" does (--format too) and, with -w, saves the\n"
    "      packets to FILE. CSV and JSON add each side's local program: client_pid, client_process,\n"
    "      client_user, server_pid, server_process, server_user (empty or null when not known).\n"
    "      SIGTERM and SIGHUP act as Ctrl+C; another of them during the save stops it, and nothing is\n"
    "      written.\n"
    "\n"
    "FILE may be - (standard input) or a pipe: the capture is then read as it arrives, like a live\n"
    "capture, until it ends or Ctrl+C.\n"
    "\n"
    "Without --rules every TCP and UDP packet is kept: a file is read whole, however large (as the\n"
    "program opens a file when you answer No to applying the filter); a stream (- or a pipe) and a\n"
    "live capture keep packets until the default buffer of 50 MB is full, and there the reading stops.\n"
    "With --rules or --config the rules, default policy and buffer size of the configuration apply to\n"
    "files, streams and live captures alike.\n"
    "\n"
    "Options:\n"
    "  --rules       apply the filter rules, default policy and buffer size of Config.cfg, as the\n"
    "                program does when you answer Yes to applying the filter on Open\n"
    "  --config CFG  like --rules, with the configuration file CFG\n"
    "  --wide        also keep IPv6, VLAN-tagged (802.1Q, 802.1ad) and Linux cooked frames; IPv6\n"
    "                endpoints print as [address]:port, and rules that name an IPv4 address never\n"
    "                match them\n"
    "  -i DEVICE     the adapter to capture from (default: the configured one, else the default)\n"
    "  -c COUNT      stop once COUNT packets are stored\n"
    "  -t SECONDS    stop after SECONDS seconds\n"
    "  -w FILE       save the captured packets to FILE (a libpcap capture file); an existing file\n"
    "                is replaced only once the new one is complete\n"
    "  --client      stream: only the bytes the client sent\n"
    "  --server      stream: only the bytes the server sent\n"
    "  --raw         stream: the bytes as they are, without marks\n"
    "  -h, --help    show this text\n"
    "  --version     show the version\n"
    "\n"
    "Times are local time (set TZ to choose the zone). A last line on standard error counts the stored\n"
    "packets, the connections and the frames shorter than their IP length, and says when the buffer\n"
    "limit ended the reading.\n"
    "Exit status: 0 success, 1 the file or adapter could not be read (or failed during the capture),\n"
    "memory ran out, the output could not be written or the save failed, 2 usage error (a malformed\n"
    "filter included).\n";

int UsageError(const char* why) {
    std::fprintf(stderr, "pacterra-cli: %s\n\n%s", why, kUsage);
    return 2;
}

struct Options {
    std::string command;
    std::string file;
    size_t connection = 0;
    bool rules = false;
    bool wide = false;
    std::string configPath;
    std::string device;
    long count = 0;
    double seconds = 0;
    std::string writePath;
    bool client = true;
    bool server = true;
    bool raw = false;
    std::string format;  // "", "csv" or "json"
    bool filtered = false;
    std::string filter;
    std::vector<size_t> exported;  // export: the connections named
    int64_t binUs = 1'000'000;
    bool binGiven = false;
    std::string rateConnection;  // --conn, as given
};

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_saving = 0;

// Ctrl+C (SIGINT), SIGTERM and a hang-up alike: the first ends the capture or stream, which is then printed
// and saved; one during the save, or a second one, stops the save, which removes its temporary file.
void OnInterrupt(int) {
    if (g_interrupted || g_saving)
        g_abandonSaves.store(true);
    g_interrupted = 1;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // One ignored from the start (nohup, a background job) stays ignored.
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

// A positive number of seconds (fractions allowed, at most a year).
bool ParseSeconds(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return *text && *end == '\0' && out > 0 && out <= 366.0 * 24 * 3600;
}

// A whole count of at least 1.
bool ParseCount(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return *text && *end == '\0' && errno == 0 && out >= 1;
}

// A bin width in seconds, 0.000001 (one microsecond) to a year, to whole microseconds.
bool ParseBin(const char* text, int64_t& us) {
    double seconds = 0;
    if (!ParseSeconds(text, seconds))
        return false;
    us = static_cast<int64_t>(seconds * 1e6 + 0.5);
    return us >= 1;
}

// Writes a cell with tab, CR, LF and backslash escaped so that a row stays one line.
void PutEscaped(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
}

int g_outputErrno = 0;  // the first failed write to standard output

void Flush(std::string& out) {
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() && g_outputErrno == 0)
        g_outputErrno = errno;
    out.clear();
}

bool FlushStandardOutput() {
    if (std::fflush(stdout) == 0)
        return true;
    if (g_outputErrno == 0)
        g_outputErrno = errno;
    return false;
}

// The connections list's rows: all, or those of `shown`.
void PrintConnections(const std::vector<uint32_t>* shown = nullptr) {
    std::string out;
    out.reserve(1 << 16);
    const size_t n = shown ? shown->size() : g_connectionTable.size();
    for (size_t k = 0; k < n; ++k) {
        const size_t i = shown ? (*shown)[k] : k;
        for (int column = 0; column < kConnectionColumns; ++column) {
            if (column)
                out += '\t';
            out += ConnectionCellText(i, column).view();
        }
        // The list's last column.
        out += '\t';
        if (const ConnectionName* name = ConnectionNames().Find(i))
            out += name->name;
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

// The reassembled conversation of one connection, as text with turn marks or as raw bytes; false, with
// nothing written, when packets of it are no longer in the file.
bool PrintStream(size_t connection, const Options& opt) {
    StreamReassembly stream(connection);
    stream.Extend();
    stream.Finish();
    if (stream.Gone()) {
        std::fprintf(stderr, "pacterra-cli: %s\n", msg::kStreamBytesGone);
        return false;
    }
    if (opt.raw) {
        // The pieces stay where the store keeps them (the file's mapping, for a file opened in place) and go
        // out in gathered writes of up to 1 MiB, without a copy through stdio's buffer.
        std::fflush(stdout);
        std::vector<iovec> batch;
        size_t batchBytes = 0;
        auto flush = [&] {
            for (size_t at = 0; at < batch.size() && g_outputErrno == 0;) {
                const int n = static_cast<int>(std::min<size_t>(batch.size() - at, IOV_MAX));
                const ssize_t written = ::writev(STDOUT_FILENO, batch.data() + at, n);
                if (written < 0 && errno != EINTR)
                    g_outputErrno = errno;
                for (size_t left = written > 0 ? static_cast<size_t>(written) : 0; left > 0;) {
                    const size_t step = std::min(left, batch[at].iov_len);
                    batch[at].iov_base = static_cast<uint8_t*>(batch[at].iov_base) + step;
                    batch[at].iov_len -= step;
                    left -= step;
                    at += batch[at].iov_len == 0 ? 1 : 0;
                }
            }
            batch.clear();
            batchBytes = 0;
            DropFramePages();
            return g_outputErrno == 0;
        };
        if (WriteStreamBytes(stream, stream.Pieces(), opt.client, opt.server,
                             [&](std::span<const uint8_t> bytes) {
                                 batch.push_back({const_cast<uint8_t*>(bytes.data()), bytes.size()});
                                 batchBytes += bytes.size();
                                 return (batch.size() < 1024 && batchBytes < (size_t{1} << 20)) || flush();
                             }))
            flush();
        return true;
    }
    StreamTextOptions options;
    options.client = opt.client;
    options.server = opt.server;
    options.turnMarks = true;
    StreamTextWriter writer(options);
    std::string out;
    const std::vector<StreamPiece>& pieces = stream.Pieces();
    for (size_t i = 0; i < pieces.size(); i += 64) {
        writer.Append(stream, pieces, i, i + 64, out, nullptr);
        if (out.size() > (1 << 16))
            Flush(out);
    }
    if (writer.Written() > 0 && !out.empty() && out.back() != '\n')
        out += '\n';
    Flush(out);
    if (stream.Unreadable())
        std::fprintf(stderr, "pacterra-cli: %zu packets of connection %zu have no readable TCP header\n",
                     stream.Unreadable(), connection);
    return true;
}

// The same rows as CSV or JSON Lines.
void PrintConnectionsAs(const std::string& format, const std::vector<uint32_t>* shown) {
    WriteConnections(
        format == "csv" ? ConnectionFormat::Csv : ConnectionFormat::JsonLines, shown,
        [](std::string_view bytes) {
            if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() && g_outputErrno == 0)
                g_outputErrno = errno;
            return g_outputErrno == 0;
        });
}

// The decode tree or the hex lines of one packet, through the same code as the views.
// false when its bytes are no longer in the file.
bool PrintPacket(size_t index, bool hex) {
    const PacketRecord& p = g_packetTable[index];
    if (!FrameBytesPresent(p, true)) {
        std::fprintf(stderr, "pacterra-cli: %s\n", msg::kFrameBytesGone);
        return false;
    }
    if (hex) {
        for (const std::string& line : HexViewLines(p.data, static_cast<size_t>(p.capLen)))
            std::printf("%s\n", line.c_str());
    } else {
        std::vector<DecodeLine> lines = DecodeStoredFrame(p.data, static_cast<size_t>(p.capLen));
        AppendServerNameLines(index, static_cast<size_t>(p.capLen), lines);
        std::fputs(DecodeAsText(lines).c_str(), stdout);
    }
    return true;
}

// A bin's start as seconds from the origin, with as many decimals as the bin width needs.
void PutOffset(int64_t us, int64_t widthUs, std::string& out) {
    int decimals = 0;
    for (int64_t unit = 1'000'000; decimals < 6 && widthUs % unit != 0; unit /= 10)
        ++decimals;
    const bool negative = us < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    char text[48];
    int n = std::snprintf(text, sizeof text, "%s%llu", negative ? "-" : "",
                          static_cast<unsigned long long>(magnitude / 1'000'000));
    if (decimals > 0) {
        unsigned long long fraction = magnitude % 1'000'000;
        for (int i = decimals; i < 6; ++i)
            fraction /= 10;
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%0*llu", decimals, fraction);
    }
    out.append(text, static_cast<size_t>(n));
}

// The rate series of every stored packet, or of one connection with its two directions, through the same
// bins as the Traffic bar (one level of the width asked for). False when the connection is not there.
bool PrintRates(const Options& opt, size_t connection) {
    // At most 2^22 bins: a bogus timestamp far from the others cannot make the output endless.
    constexpr size_t kMaxLines = size_t{1} << 22;
    RateBins all({opt.binUs}, kMaxLines), toServer({opt.binUs}, kMaxLines), toClient({opt.binUs}, kMaxLines);
    const bool one = !opt.rateConnection.empty();
    if (one && connection >= g_connectionTable.size())
        return false;
    const size_t n = g_packetTable.size();
    if (n > 0) {
        const int64_t origin = PacketMicros(g_packetTable[0]);
        for (RateBins* bins : {&all, &toServer, &toClient})
            bins->Reset(origin);
    }
    auto add = [&](const PacketRecord& p) {
        const int64_t t = PacketMicros(p);
        all.Add(t, static_cast<uint32_t>(p.capLen));
        if (one)
            (p.toServer.load(std::memory_order_relaxed) ? toServer : toClient)
                .Add(t, static_cast<uint32_t>(p.capLen));
    };
    if (one) {
        const AppendOnlyIndexList& indices = g_connectionTable[connection].packetIndices;
        for (size_t i = 0; i < indices.size(); ++i)
            add(g_packetTable.at(indices[i]));
    } else {
        for (size_t i = 0; i < n; ++i)
            add(g_packetTable[i]);
    }
    for (RateBins* bins : {&all, &toServer, &toClient})
        bins->Flush();

    // Every bin of the width asked for, from the first packet's to the last one's: the Traffic bar's
    // series would widen them past 100,000 points, which a listing must not do unsaid.
    const RateLevel& level = all.Level(0);
    int64_t lo = 0, hi = -1;
    level.Range(lo, hi);
    std::string out;
    for (int64_t bin = lo; bin <= hi; ++bin) {
        PutOffset(bin * opt.binUs, opt.binUs, out);
        out += '\t';
        out += std::to_string(level.Packets(bin));
        out += '\t';
        out += std::to_string(level.Bytes(bin));
        if (one) {
            out += '\t';
            out += std::to_string(toServer.Level(0).Bytes(bin));
            out += '\t';
            out += std::to_string(toClient.Level(0).Bytes(bin));
        }
        out += '\n';
        if (out.size() > (1 << 16))
            Flush(out);
    }
    Flush(out);
    if (all.IsCut())
        std::fprintf(stderr,
                     "pacterra-cli: the span is cut: %llu packets lie too far from the first one for bins of "
                     "this width and are not counted\n",
                     static_cast<unsigned long long>(all.Level(0).Refused()));
    return true;
}

// The last line on standard error; it also says when the buffer limit ended the reading early.
void PrintSummary() {
    FlushStandardOutput();
    std::string limit;
    if (g_storeStop.load() == STORE_STOP_BUFFER_FULL)
        limit = "; stopped by the buffer limit of " + std::to_string(g_config.bufferMB) + " MB at " +
                std::to_string(g_storedBytes.load()) + " bytes";
    std::fprintf(stderr, "%zu packets, %zu connections, %d short%s\n", g_packetTable.size(),
                 g_connectionTable.size(), g_shortPacketCount.load(), limit.c_str());
}

// Output that could not be written (a full disk, a closed pipe) is a failure, not an empty success.
int CheckOutput(int status) {
    if (!FlushStandardOutput() || std::ferror(stdout) || g_outputErrno != 0) {
        std::fprintf(stderr, "pacterra-cli: cannot write the output: %s\n",
                     std::strerror(g_outputErrno ? g_outputErrno : EIO));
        return 1;
    }
    return status;
}

int ListAdapters(bool wide) {
    std::vector<AdapterRow> rows;
    std::string error;
    if (!EnumerateAdapters(rows, error, true, wide)) {
        std::fprintf(stderr, "Error in pcap_findalldevs: %s\n", error.c_str());
        return 1;
    }
    for (const AdapterRow& r : rows)
        std::printf("%s\t%s\t%s\t%s\t%s\n", r.device.c_str(), r.description.c_str(), r.ip.c_str(),
                    r.netmask.c_str(), r.dataLink.c_str());
    std::printf("default: %s\n", ChooseDefaultAdapter().c_str());
    return 0;
}

// Every command that writes a file saves through here: a signal during the save stops it, and the save
// removes its temporary file. A signal before it (while a file was still being read) means no save at all.
bool SaveUnlessInterrupted(const std::string& path, const std::vector<uint32_t>* packets) {
    g_saving = 1;
    const CommandResult saved = packets
                                    ? SaveCaptureFile(g_packetTable, path, *packets, StandardErrorPrompts())
                                    : SaveCaptureFile(g_packetTable, path, StandardErrorPrompts());
    g_saving = 0;
    if (saved == CommandResult::Cancelled)
        std::fprintf(stderr, "pacterra-cli: the save to %s was interrupted; nothing was written\n",
                     path.c_str());
    return saved == CommandResult::Done;
}

// Captures through the program's capture thread until a limit is reached or Ctrl+C, then prints and
// saves.
int Capture(const Options& opt) {
    if (!opt.rules)
        g_config.ApplyDefaults();
    std::string device = opt.device;
    if (device.empty()) {
        g_config.LoadAdapterSetting();
        device = g_config.adapter;
    }
    g_packetLimit = static_cast<size_t>(opt.count);
    CatchInterrupts();
    ResetCapture();
    StartCaptureThread(device);
    const auto start = std::chrono::steady_clock::now();
    while (g_captureState.load() == CAPTURE_RUNNING) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (g_interrupted || (opt.count > 0 && g_packetTable.size() >= static_cast<size_t>(opt.count)) ||
            (opt.seconds > 0 && elapsed >= opt.seconds))
            StopCapture();
    }
    JoinCaptureThread();
    const CaptureStats stats = LastCaptureStats();
    if (!stats.opened) {
        PrintSummary();
        return 1;
    }
    // The capture thread has told why it ended early (the adapter failed, memory ran out).
    const bool endedByFailure = stats.readFailed || g_storeStop.load() == STORE_STOP_NO_MEMORY;
    ConnectionNames().Update(1, 0);
    if (opt.format.empty())
        PrintConnections();
    else
        PrintConnectionsAs(opt.format, nullptr);
    PrintSummary();
    if (const uint64_t overflow = g_ownerLookupOverflow.load(); overflow != 0)
        std::fprintf(stderr,
                     "pacterra-cli: %llu connections were not attributed (the owner lookup fell behind)\n",
                     static_cast<unsigned long long>(overflow));
    std::fprintf(stderr,
                 "capture on %s: %llu received by the kernel, %llu dropped, %llu dropped by the interface\n",
                 device.c_str(), static_cast<unsigned long long>(stats.received),
                 static_cast<unsigned long long>(stats.dropped),
                 static_cast<unsigned long long>(stats.interfaceDropped));
    if (!opt.writePath.empty() && !SaveUnlessInterrupted(opt.writePath, nullptr))
        return 1;
    return endedByFailure ? 1 : 0;
}

// Reads a capture arriving on standard input ("-") or a pipe, like a live capture: until its end, the
// buffer limit or Ctrl+C. 1 when it was read to its end (or stopped) without a failure.
int ReadStream(const Options& opt) {
    if (!opt.rules)
        g_config.ApplyDefaults();
    CatchInterrupts();
    ResetCapture();
    if (!StartStreamThread(opt.file, true))
        return 0;
    while (g_captureState.load() == CAPTURE_RUNNING) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (g_interrupted)
            StopCapture();
    }
    JoinCaptureThread();
    const CaptureStats stats = LastCaptureStats();
    // Ctrl+C before the stream said anything ends it with nothing read, which is no failure.
    return (stats.opened || g_interrupted) && !stats.readFailed && g_storeStop.load() != STORE_STOP_NO_MEMORY
               ? 1
               : 0;
}

// The packets of the chosen connections to a capture file; nothing is written when a number is not there.
int ExportPackets(const Options& opt, std::vector<uint32_t>& connections) {
    for (size_t c : opt.exported) {
        if (c >= g_connectionTable.size()) {
            std::fprintf(stderr,
                         "pacterra-cli: no connection %zu (the file holds %zu); nothing was written\n", c,
                         g_connectionTable.size());
            return 1;
        }
        connections.push_back(static_cast<uint32_t>(c));
    }
    const std::vector<uint32_t> packets = PacketsOfConnections(connections);
    // A file is read whole before the save: a signal meanwhile asked for no save. (A stream's first one
    // only ended its reading, as in a capture.)
    if (g_interrupted && !IsStreamPath(opt.file))
        g_abandonSaves.store(true);
    if (!SaveUnlessInterrupted(opt.writePath, &packets))
        return 1;
    std::fprintf(stderr, "%zu packets of %zu connections written to %s\n", packets.size(), connections.size(),
                 opt.writePath.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    OpenMissingStandardDescriptors();
    QCoreApplication app(argc, argv);
    // A file-size limit fails the write (reported, the partial file removed) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Streams and tables of a big file go out in large writes, not stdio's page-sized ones; a terminal keeps
    // its line buffering.
    static char outputBuffer[1 << 20];
    if (!::isatty(STDOUT_FILENO))
        std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    QCoreApplication::setOrganizationName(kSettingsOrganization);
    QCoreApplication::setApplicationName(kSettingsApplication);

    Options opt;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "-h" || a == "--help") {
            return PrintAnswer("pacterra-cli", kUsage);
        } else if (a == "--version") {
            return PrintAnswer("pacterra-cli", "pacterra-cli " PACTERRA_VERSION "\n");
        } else if (a == "--rules") {
            opt.rules = true;
        } else if (a == "--wide") {
            opt.wide = true;
        } else if (a == "--config") {
            if (++i >= argc)
                return UsageError("--config needs a file");
            opt.rules = true;
            opt.configPath = argv[i];
        } else if (a == "--client" || a == "--server") {
            if (!opt.client || !opt.server)
                return UsageError("--client and --server exclude each other");
            (a == "--client" ? opt.server : opt.client) = false;
        } else if (a == "--raw") {
            opt.raw = true;
        } else if (a == "--format" || a == "--filter") {
            if (++i >= argc)
                return UsageError((std::string(a) + " needs a value").c_str());
            if (a == "--filter") {
                opt.filtered = true;
                opt.filter = argv[i];
            } else if (opt.format = argv[i]; opt.format != "csv" && opt.format != "json") {
                return UsageError("--format needs csv or json");
            }
        } else if (a == "--bin" || a == "--conn") {
            if (++i >= argc)
                return UsageError((std::string(a) + " needs a value").c_str());
            if (a == "--conn") {
                opt.rateConnection = argv[i];
            } else if (!ParseBin(argv[i], opt.binUs)) {
                return UsageError("--bin needs a number of seconds from 0.000001 to a year");
            } else {
                opt.binGiven = true;
            }
        } else if (a == "-i" || a == "-c" || a == "-t" || a == "-w") {
            if (++i >= argc)
                return UsageError((std::string(a) + " needs a value").c_str());
            if (a == "-i") {
                opt.device = argv[i];
            } else if (a == "-w") {
                opt.writePath = argv[i];
                if (opt.writePath.empty())
                    return UsageError("-w needs a file name");
            } else if (a == "-c" && !ParseCount(argv[i], opt.count)) {
                return UsageError("-c needs a whole number of packets, 1 or more");
            } else if (a == "-t" && !ParseSeconds(argv[i], opt.seconds)) {
                return UsageError("-t needs a positive number of seconds");
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(("unknown option " + std::string(a)).c_str());
        } else {
            positional.emplace_back(a);
        }
    }
    if (positional.empty())
        return UsageError("no command given");
    opt.command = positional[0];
    if (opt.command == "help")
        return PrintAnswer("pacterra-cli", kUsage);
    const bool onePacket = opt.command == "decode" || opt.command == "hex";
    const bool exporting = opt.command == "export";
    const bool rate = opt.command == "rate";
    size_t wanted = opt.command == "connections" || rate                               ? 2
                    : opt.command == "packets" || opt.command == "stream" || onePacket ? 3
                    : opt.command == "adapters" || opt.command == "capture"            ? 1
                                                                                       : 0;
    if (exporting) {
        // export FILE CONN... or export FILE --filter EXPR
        wanted = opt.filtered ? 2 : std::max<size_t>(positional.size(), 3);
        if (opt.writePath.empty())
            return UsageError("export needs -w OUT");
    }
    if (wanted == 0)
        return UsageError(("unknown command " + opt.command).c_str());
    if (positional.size() != wanted)
        return UsageError((exporting && opt.filtered ? "export takes connection numbers or --filter, not both"
                                                     : "wrong number of arguments for " + opt.command)
                              .c_str());
    const bool live = opt.command == "capture";
    if (opt.command != "stream" && (opt.raw || !opt.client || !opt.server))
        return UsageError("--client, --server and --raw belong to the stream command");
    if (!live &&
        (!opt.device.empty() || opt.count || opt.seconds > 0 || (!opt.writePath.empty() && !exporting)))
        return UsageError("-i, -c, -t and -w belong to the capture command (-w also to export)");
    if (!opt.format.empty() && opt.command != "connections" && !live)
        return UsageError("--format belongs to the connections and capture commands");
    if (opt.filtered && opt.command != "connections" && !exporting)
        return UsageError("--filter belongs to the connections and export commands");
    // A malformed filter is told before any file is read.
    std::vector<FilterProblem> problems;
    const ConnectionFilter filter = ConnectionFilter::Parse(opt.filter, problems);
    if (!problems.empty()) {
        std::fprintf(stderr, "pacterra-cli: the filter cannot be used:\n%s\n",
                     DescribeFilterProblems(opt.filter, problems).c_str());
        return 2;
    }
    for (size_t k = 2; exporting && k < positional.size(); ++k) {
        const std::string& number = positional[k];
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
            return UsageError("CONN must be a connection number (0, 1, ...)");
        errno = 0;
        const unsigned long long n = std::strtoull(number.c_str(), nullptr, 10);
        opt.exported.push_back(errno == ERANGE || n > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(n));
    }
    if (!rate && (opt.binGiven || !opt.rateConnection.empty()))
        return UsageError("--bin and --conn belong to the rate command");
    if (opt.command == "adapters")
        return CheckOutput(ListAdapters(opt.wide));
    if (wanted > 1)
        opt.file = positional[1];
    std::string numberText;
    if ((wanted == 3 && !exporting) || !opt.rateConnection.empty()) {
        numberText = opt.rateConnection.empty() ? positional[2] : opt.rateConnection;
        if (numberText.empty() || numberText.find_first_not_of("0123456789") != std::string::npos)
            return UsageError(onePacket ? "INDEX must be a packet number (0, 1, ...)"
                                        : "CONN must be a connection number (0, 1, ...)");
        // A number beyond any table is simply not there.
        errno = 0;
        const unsigned long long n = std::strtoull(numberText.c_str(), nullptr, 10);
        opt.connection = errno == ERANGE || n > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(n);
    }

    // No front end: messages go to standard error (StandardErrorPrompts).

    // As the program's Open: rules (or not), a fresh store, then the file through the intake.
    if (opt.rules) {
        std::string damage;
        if (opt.configPath.empty()) {
            g_config.LoadConfig();
        } else if (!g_config.ReadConfigFile(opt.configPath, &damage)) {
            std::fprintf(stderr, "pacterra-cli: cannot open the configuration file %s\n",
                         opt.configPath.c_str());
            return 1;
        } else if (!damage.empty()) {
            // A configuration asked for by name is never silently replaced by accept-all.
            std::fprintf(stderr, "pacterra-cli: cannot use the configuration file %s: %s\n",
                         opt.configPath.c_str(), damage.c_str());
            return 1;
        }
    }
    // Only --wide turns the wider intake on here, whatever the program's settings say.
    g_config.wideIntake = opt.wide ? 1 : 0;
    if (live)
        return CheckOutput(Capture(opt));
    if (exporting)
        CatchInterrupts();  // a signal must not leave the save's temporary file behind
    const int loaded = IsStreamPath(opt.file) ? ReadStream(opt)
                                              : OpenCaptureFile(opt.file, opt.rules, StandardErrorPrompts());

    int status = loaded ? 0 : 1;
    // Names from the connections' first packets, for the lists, the filter, the exports and the decode.
    ConnectionNames().Update(1, 0);
    std::vector<uint32_t> shown;
    if (opt.filtered)
        filter.Scan(g_connectionTable, 0, g_connectionTable.size(), shown);
    if (opt.command == "connections") {
        if (opt.format.empty())
            PrintConnections(opt.filtered ? &shown : nullptr);
        else
            PrintConnectionsAs(opt.format, opt.filtered ? &shown : nullptr);
    } else if (exporting) {
        // Nothing is exported from a file that could not be read whole.
        if (loaded && ExportPackets(opt, shown) != 0)
            status = 1;
    } else if (rate) {
        if (!PrintRates(opt, opt.connection) && loaded) {
            std::fprintf(stderr, "pacterra-cli: no connection %s (the file holds %zu)\n", numberText.c_str(),
                         g_connectionTable.size());
            status = 1;
        }
    } else if (onePacket) {
        if (opt.connection < g_packetTable.size()) {
            if (!PrintPacket(opt.connection, opt.command == "hex"))
                status = 1;
        } else if (loaded) {
            std::fprintf(stderr, "pacterra-cli: no packet %s (the file holds %zu)\n", numberText.c_str(),
                         g_packetTable.size());
            status = 1;
        }
    } else if (opt.connection < g_connectionTable.size()) {
        if (opt.command == "stream") {
            if (!PrintStream(opt.connection, opt))
                status = 1;
        } else
            PrintPackets(opt.connection);
    } else if (loaded) {
        std::fprintf(stderr, "pacterra-cli: no connection %s (the file holds %zu)\n", numberText.c_str(),
                     g_connectionTable.size());
        status = 1;
    }
    PrintSummary();
    return CheckOutput(status);
}
