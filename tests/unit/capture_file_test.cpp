// Capture files through the engine's own commands, with a front end that answers from a script.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FrameBuilder.h"
#include "capture/CaptureFile.h"
#include "capture/FrameFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"
#include "frontend/Messages.h"

namespace fs = std::filesystem;

namespace {

// Answers questions and file requests in the order scripted; a message nobody scripted gets Ok, a file
// request nobody scripted is cancelled. Records everything it was shown.
class ScriptedFrontEnd : public IMainFrame {
public:
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) override {
        shown.push_back(text);
        details.push_back(detail);
        if (buttons == MsgButtons::Ok || answers.empty())
            return MsgAnswer::Ok;
        MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::string AskFilePath(FileQuestion question) override {
        asked.push_back(question);
        if (paths.empty())
            return {};
        std::string p = paths.front();
        paths.pop_front();
        return p;
    }

    std::deque<MsgAnswer> answers;
    std::deque<std::string> paths;
    std::vector<std::string> shown;
    std::vector<std::string> details;
    std::vector<FileQuestion> asked;
};

using Question = IPromptService::FileQuestion;

const char kSaveQuestion[] = "Do you want to save these packets?";
constexpr const char* kOpened = msg::kFileOpened;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Writes frames into a capture file with the given snapshot length.
void WriteCapture(const fs::path& path, const std::vector<std::vector<uint8_t>>& frames,
                  int snapshot = 65536) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, snapshot);
    ASSERT_NE(dead, nullptr);
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(d, nullptr) << pcap_geterr(dead);
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<uint8_t>& f = frames[i];
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000;
        h.ts.tv_usec = static_cast<suseconds_t>(i * 1000);
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, f.data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
}

std::vector<uint8_t> StoredBytes(size_t packet) {
    const PacketRecord& p = g_packetTable.at(packet);
    return std::vector<uint8_t>(p.data, p.data + p.capLen);
}

std::string ReadWhole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A UDP frame between the builder's default endpoints.
std::vector<uint8_t> UdpFrame(std::string payload) {
    FrameSpec s;
    s.protocol = 17;
    s.payload = std::move(payload);
    return BuildFrame(s);
}

class CaptureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pacterra-file-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_config.ApplyDefaults();
        g_skipFilter = 0;
        g_pMainFrame = &frontEnd;
    }
    void TearDown() override {
        g_pMainFrame = nullptr;
        ResetCaptureStore();
        fs::remove_all(dir);
    }

    // One captured packet in the store, not yet saved, as after a live capture.
    void CapturedPacket() {
        g_captureState = CAPTURE_RUNNING;
        FrameSpec s;
        s.dstPort = 443;
        s.payload = "captured";
        g_skipFilter = 1;
        FeedFrame(BuildFrame(s));
        g_captureState = CAPTURE_IDLE;
        ASSERT_EQ(g_packetTable.size(), 1u);
        ASSERT_EQ(g_unsavedPackets.load(), 1);
    }

    // An empty store, or one unsaved packet, and a front end that will answer `answers`.
    void Begin(bool unsaved, const std::vector<MsgAnswer>& answers) {
        ResetCaptureStore();
        if (unsaved)
            CapturedPacket();
        frontEnd = ScriptedFrontEnd();
        frontEnd.answers.assign(answers.begin(), answers.end());
    }

    // A file of two UDP frames of one connection.
    fs::path TwoFrameFile() {
        FrameSpec s;
        s.protocol = 17;
        s.payload = "from file";
        frames = {BuildFrame(s)};
        std::swap(s.src, s.dst);
        std::swap(s.srcPort, s.dstPort);
        frames.push_back(BuildFrame(s));
        fs::path path = dir / "two.cap";
        WriteCapture(path, frames);
        return path;
    }

    ScriptedFrontEnd frontEnd;
    fs::path dir;
    std::vector<std::vector<uint8_t>> frames;
};

TEST_F(CaptureFileTest, AFrameOfTheLargestIpLengthRoundTrips) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(65535 - 28 - 1, 'L') + 'Z');
    ASSERT_EQ(frame.size(), 65549u);
    const fs::path original = dir / "big.cap";
    WriteCapture(original, {frame}, 262144);

    ASSERT_EQ(OpenCaptureFile(original.string(), false, frontEnd), 1);
    ASSERT_EQ(g_packetTable.size(), 1u);
    const fs::path saved = dir / "saved.cap";
    ASSERT_EQ(SaveCaptureFile(g_packetTable, saved.string(), frontEnd), CommandResult::Done);
    ASSERT_EQ(OpenCaptureFile(saved.string(), false, frontEnd), 1);
    ASSERT_EQ(g_packetTable.size(), 1u);
    EXPECT_EQ(g_shortPacketCount.load(), 0);
    EXPECT_TRUE(StoredBytes(0) == frame) << "the reloaded frame differs";
    EXPECT_EQ(g_packetTable[0].payloadLen, 65535 - 28);
    EXPECT_TRUE(frontEnd.shown.empty()) << frontEnd.shown.front();
}

TEST_F(CaptureFileTest, OfferingToSaveUnsavedPackets) {
    struct Case {
        const char* what;
        bool unsaved;
        std::vector<MsgAnswer> answers;
        std::vector<std::string> paths;  // "missing" and "good" are filled in below
        bool goOn;
        int unsavedAfter;
        size_t questions;  // messages shown, including failures
        size_t fileRequests;
    } cases[] = {
        {"nothing unsaved", false, {}, {}, true, 0, 0, 0},
        {"Cancel", true, {MsgAnswer::Cancel}, {}, false, 1, 1, 0},
        {"No", true, {MsgAnswer::No}, {}, true, 1, 1, 0},
        {"Yes, path cancelled", true, {MsgAnswer::Yes}, {""}, false, 1, 1, 1},
        {"Yes, save fails", true, {MsgAnswer::Yes}, {"missing"}, false, 1, 2, 1},
        {"Yes, saved", true, {MsgAnswer::Yes}, {"good"}, true, 0, 2, 1},
    };
    for (const Case& c : cases) {
        Begin(c.unsaved, c.answers);
        for (std::string p : c.paths) {
            if (p == "missing")
                p = (dir / "missing" / "x.cap").string();
            else if (p == "good")
                p = (dir / "good.cap").string();
            frontEnd.paths.push_back(p);
        }
        EXPECT_EQ(OfferToSaveUnsavedPackets(frontEnd), c.goOn) << c.what;
        EXPECT_EQ(g_unsavedPackets.load(), c.unsavedAfter) << c.what;
        EXPECT_EQ(g_packetTable.size(), c.unsaved ? 1u : 0u) << c.what << ": the store is never touched";
        ASSERT_EQ(frontEnd.shown.size(), c.questions) << c.what;
        if (c.questions > 0) {
            EXPECT_TRUE(Contains(frontEnd.shown[0], kSaveQuestion)) << c.what;
        }
        EXPECT_EQ(frontEnd.asked.size(), c.fileRequests) << c.what;
        for (Question q : frontEnd.asked) {
            EXPECT_EQ(q, Question::SaveCapture) << c.what;
        }
    }
    EXPECT_TRUE(fs::exists(dir / "good.cap"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(CaptureFileTest, OpenEndsWhenTheSaveBeforeItFails) {
    const fs::path file = TwoFrameFile();
    CapturedPacket();
    frontEnd.answers = {MsgAnswer::Yes};
    frontEnd.paths = {(dir / "missing" / "x.cap").string(), file.string()};
    EXPECT_EQ(OpenCommand(frontEnd), OpenResult::Cancelled);
    EXPECT_EQ(frontEnd.asked, (std::vector<Question>{Question::SaveCapture})) << "no file is asked for";
    EXPECT_EQ(g_unsavedPackets.load(), 1);
    ASSERT_EQ(g_packetTable.size(), 1u) << "the captured packet is kept";
    EXPECT_EQ(g_packetTable[0].payloadLen, 8);
    for (const std::string& m : frontEnd.shown) {
        EXPECT_FALSE(Contains(m, kOpened)) << m;
    }
}

TEST_F(CaptureFileTest, OpenLoadsTheChosenFileInPlaceOfUnsavedPackets) {
    const fs::path file = TwoFrameFile();  // UDP 1234 <-> 80
    CFilterItem dropWeb;
    dropWeb.anyIp = 1;
    dropWeb.ports = {80};
    dropWeb.accept = 0;
    g_config.filters = {dropWeb};
    struct Case {
        const char* what;
        bool unsaved;
        std::vector<MsgAnswer> answers;  // save question (when unsaved), then whether to apply the rules
        size_t packets;
    } cases[] = {
        {"nothing unsaved", false, {MsgAnswer::No}, 2},
        {"unsaved packets dropped", true, {MsgAnswer::No, MsgAnswer::No}, 2},
        {"rules applied", true, {MsgAnswer::No, MsgAnswer::Yes}, 0},
    };
    for (const Case& c : cases) {
        Begin(c.unsaved, c.answers);
        frontEnd.paths = {file.string()};
        EXPECT_EQ(OpenCommand(frontEnd), OpenResult::Loaded) << c.what;
        EXPECT_EQ(frontEnd.asked, (std::vector<Question>{Question::OpenCapture})) << c.what;
        ASSERT_FALSE(frontEnd.shown.empty()) << c.what;
        EXPECT_EQ(frontEnd.shown.back(), kOpened) << c.what;
        EXPECT_EQ(g_unsavedPackets.load(), 0) << c.what;
        EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE) << c.what;
        ASSERT_EQ(g_packetTable.size(), c.packets) << c.what;
        EXPECT_EQ(g_connectionTable.size(), c.packets ? 1u : 0u) << c.what;
        for (size_t i = 0; i < c.packets; ++i) {
            EXPECT_TRUE(StoredBytes(i) == frames[i]) << c.what << " " << i;
        }
    }
}

// A load that the front end stops from its progress keeps what was read and is told apart from a whole
// one: no success message, and OpenCaptureSource says it stopped (OpenCaptureFile still reports it read).
TEST_F(CaptureFileTest, ALoadTheFrontEndStopsIsNoSuccess) {
    class StoppingFrontEnd : public ScriptedFrontEnd {
    public:
        bool stop = false;
        void ShowLoadProgress(int64_t, int64_t) override {
            if (stop && g_captureState.load() == CAPTURE_RUNNING)
                g_captureState = CAPTURE_STOPPING;
        }
    };
    std::vector<std::vector<uint8_t>> many;
    for (int i = 0; i < 50000; ++i) {
        FrameSpec s;
        s.protocol = 17;
        s.srcPort = static_cast<uint16_t>(1024 + i % 1000);
        s.payload = std::string(200, 'x');
        many.push_back(BuildFrame(s));
    }
    const fs::path file = dir / "many.cap";
    WriteCapture(file, many);
    for (bool stop : {false, true}) {
        StoppingFrontEnd front;
        front.stop = stop;
        g_pMainFrame = &front;
        const OpenResult opened = OpenCaptureSource(file.string(), false, front);
        g_pMainFrame = &frontEnd;
        EXPECT_EQ(opened, stop ? OpenResult::Stopped : OpenResult::Loaded) << stop;
        EXPECT_EQ(front.shown, stop ? std::vector<std::string>{} : std::vector<std::string>{kOpened}) << stop;
        EXPECT_GT(g_packetTable.size(), 0u) << stop;
        EXPECT_EQ(g_packetTable.size() < many.size(), stop) << stop;
        EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE) << stop;
    }
}

// A packet that the capture library hands over after the user's Stop arrived before it and is kept; after
// a stop the store asked for, nothing more is stored.
TEST_F(CaptureFileTest, APacketInHandAtTheUsersStopIsStoredButNotAfterTheStoresStop) {
    const fs::path file = TwoFrameFile();
    struct Case {
        const char* what;
        CaptureState state;
        StoreStop storeStop;
        size_t stored;
    } cases[] = {
        {"running", CAPTURE_RUNNING, STORE_STOP_NONE, 1},
        {"the user's Stop", CAPTURE_STOPPING, STORE_STOP_NONE, 1},
        {"the buffer is full", CAPTURE_STOPPING, STORE_STOP_BUFFER_FULL, 0},
        {"the packet limit", CAPTURE_STOPPING, STORE_STOP_LIMIT, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        char error[PCAP_ERRBUF_SIZE];
        pcap_t* pcap = pcap_open_offline(file.c_str(), error);
        ASSERT_NE(pcap, nullptr) << error;
        g_captureState = c.state;
        g_storeStop = c.storeStop;
        DispatchPackets(pcap, 1, PacketHandler, nullptr);
        pcap_close(pcap);
        EXPECT_EQ(g_packetTable.size(), c.stored) << c.what;
    }
    g_captureState = CAPTURE_IDLE;
}

// Saving never writes through a name someone else could have prepared beside the file.
TEST_F(CaptureFileTest, SavingLeavesPlantedNamesAloneAndRefusesADanglingLink) {
    CapturedPacket();
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "root's own file";
    fs::create_symlink(victim, dir / "cap.pcap.part");
    std::ofstream(dir / "other.pcap.part") << "someone's work";
    fs::create_symlink(dir / "nowhere" / "x.pcap", dir / "dangling.pcap");

    EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "cap.pcap").string(), frontEnd), CommandResult::Done);
    EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "other.pcap").string(), frontEnd), CommandResult::Done);
    EXPECT_EQ(ReadWhole(victim), "root's own file");
    EXPECT_EQ(fs::read_symlink(dir / "cap.pcap.part"), victim);
    EXPECT_EQ(ReadWhole(dir / "other.pcap.part"), "someone's work");
    for (const char* name : {"cap.pcap", "other.pcap"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / name))) << name;
        EXPECT_EQ(fs::file_size(dir / name), 24u + 16 + g_packetTable[0].capLen) << name;
    }

    frontEnd.shown.clear();
    EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "dangling.pcap").string(), frontEnd),
              CommandResult::Failed);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.pcap"));
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    ASSERT_EQ(frontEnd.shown.size(), 1u);
    EXPECT_EQ(frontEnd.shown[0], "PCAP Error: Error opening the dump file");
    EXPECT_NE(frontEnd.details[0].find("symbolic link to a file that does not exist"), std::string::npos)
        << frontEnd.details[0];

    // Nothing else was left behind (no temporary file).
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 6u);

    // In a sticky folder everyone writes to, a link another user planted is not followed; one of ours is.
    ::chmod(dir.c_str(), 01777);
    fs::create_symlink(victim, dir / "planted.pcap");
    fs::create_symlink(dir / "cap.pcap", dir / "ours.pcap");
    if (::geteuid() == 0 && ::lchown((dir / "planted.pcap").c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "planted.pcap").string(), frontEnd),
                  CommandResult::Failed);
        EXPECT_EQ(ReadWhole(victim), "root's own file");
        EXPECT_NE(frontEnd.details.back().find("owned by another user"), std::string::npos);
    }
    EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "ours.pcap").string(), frontEnd), CommandResult::Done);
}

// A pcapng block: type, total length, body padded to 4 bytes, total length again.
void PutBlock(std::string& out, uint32_t type, const std::string& body) {
    std::string padded = body;
    padded.resize((body.size() + 3) & ~size_t{3}, '\0');
    const uint32_t length = static_cast<uint32_t>(12 + padded.size());
    auto put32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    put32(type);
    put32(length);
    out += padded;
    put32(length);
}

std::string Le(uint64_t v, int bytes) {
    return std::string(reinterpret_cast<const char*>(&v), static_cast<size_t>(bytes));
}

// A pcapng file with two interfaces, one Ethernet frame on each: libpcap cannot read on past the second
// interface when it differs, but the file is not damaged.
TEST_F(CaptureFileTest, PcapngWithInterfacesOfDifferentKindsIsNotCalledDamaged) {
    FrameSpec s;
    s.protocol = 17;
    const std::string frame = [&] {
        auto f = BuildFrame(s);
        return std::string(f.begin(), f.end());
    }();
    auto interfaceBlock = [](uint16_t link, uint32_t snap) { return Le(link, 2) + Le(0, 2) + Le(snap, 4); };
    auto packetBlock = [&] {
        return Le(0, 4) + Le(0, 4) + Le(1000, 4) + Le(frame.size(), 4) + Le(frame.size(), 4) + frame;
    };
    struct Case {
        const char* what;
        uint16_t secondLink;
        uint32_t secondSnap;
    } cases[] = {{"link types", 101, 65535}, {"snapshot lengths", 1, 1000}};
    for (const Case& c : cases) {
        std::string file;
        PutBlock(file, 0x0A0D0D0A, Le(0x1A2B3C4D, 4) + Le(1, 2) + Le(0, 2) + Le(~uint64_t{0}, 8));
        PutBlock(file, 1, interfaceBlock(1, 65535));
        PutBlock(file, 6, packetBlock());
        PutBlock(file, 1, interfaceBlock(c.secondLink, c.secondSnap));
        PutBlock(file, 6, packetBlock());
        const fs::path path = dir / "mixed.pcapng";
        std::ofstream(path, std::ios::binary) << file;

        frontEnd = ScriptedFrontEnd();
        EXPECT_EQ(OpenCaptureFile(path.string(), false, frontEnd), 0) << c.what;
        EXPECT_EQ(g_packetTable.size(), 1u) << c.what << ": the packet before is kept";
        ASSERT_EQ(frontEnd.shown.size(), 1u) << c.what;
        EXPECT_EQ(frontEnd.shown[0].find("damaged"), std::string::npos) << frontEnd.shown[0];
        EXPECT_NE(frontEnd.shown[0].find("different link types or snapshot lengths"), std::string::npos);
        EXPECT_NE(frontEnd.details[0].find("different from the"), std::string::npos) << frontEnd.details[0];
        fs::resize_file(path, 0);  // a frame kept in place is gone with the file's bytes; a copy would stay
        EXPECT_FALSE(FrameBytesPresent(g_packetTable[0], true)) << c.what;
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PACTERRA_SANITIZED 1
#endif
#endif
#if !defined(PACTERRA_SANITIZED) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Memory that runs out part-way through a file is reported with the count kept, and the load is not a
// success. The address-space limit is set in a child process only.
TEST_F(CaptureFileTest, RunningOutOfMemoryIsReportedWithThePacketsKept) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(1400, 'm'));
    const fs::path file = dir / "big.cap";
    {
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
        pcap_dumper_t* d = pcap_dump_open(dead, file.c_str());
        ASSERT_NE(d, nullptr);
        pcap_pkthdr h{};
        h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
        for (int i = 0; i < 100000; ++i)  // 144 MB
            pcap_dump(reinterpret_cast<u_char*>(d), &h, frame.data());
        pcap_dump_close(d);
        pcap_close(dead);
    }
    const fs::path report = dir / "report.txt";
    pid_t pid = ::fork();
    if (pid == 0) {
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t limit =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (64 << 20);
        rlimit r{limit, limit};
        ::setrlimit(RLIMIT_AS, &r);
        const int loaded = OpenCaptureFile(file.string(), false, frontEnd);
        std::ofstream out(report);
        out << loaded << "\n" << g_packetTable.size() << "\n";
        for (const std::string& m : frontEnd.shown)
            out << m << "\n";
        out.close();
        ::_exit(0);
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw)) << raw;
    std::ifstream in(report);
    int loaded = -1;
    size_t kept = 0;
    in >> loaded >> kept;
    in.ignore();
    const std::string messages((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(loaded, 0) << messages;
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 100000u);
    EXPECT_NE(messages.find("Out of memory! The capture was stopped early: the " + std::to_string(kept) +
                            " packets stored before memory ran out are kept."),
              std::string::npos)
        << messages;
}
#endif

// Classic files in either byte order, with micro- or nanosecond stamps, and records that straddle the
// reader's blocks, all read to the same packets.
TEST_F(CaptureFileTest, ClassicFilesOfEveryByteOrderAndPrecisionReadAlike) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(1400, 'b'));
    const int count = 4000;  // about 5.8 MB: more than one block
    struct Case {
        const char* what;
        bool swapped, nano;
    } cases[] = {{"little-endian, microseconds", false, false},
                 {"little-endian, nanoseconds", false, true},
                 {"big-endian, microseconds", true, false},
                 {"big-endian, nanoseconds", true, true}};
    for (const Case& c : cases) {
        auto u32 = [&](uint32_t v) {
            v = c.swapped ? __builtin_bswap32(v) : v;
            return std::string(reinterpret_cast<const char*>(&v), 4);
        };
        auto u16 = [&](uint16_t v) {
            v = c.swapped ? __builtin_bswap16(v) : v;
            return std::string(reinterpret_cast<const char*>(&v), 2);
        };
        std::string file =
            u32(c.nano ? 0xA1B23C4D : 0xA1B2C3D4) + u16(2) + u16(4) + u32(0) + u32(0) + u32(65536) + u32(1);
        for (int i = 0; i < count; ++i) {
            const uint32_t usec = static_cast<uint32_t>(i * 7 % 1000000);
            file += u32(1700000000 + static_cast<uint32_t>(i)) + u32(c.nano ? usec * 1000 + 999 : usec) +
                    u32(static_cast<uint32_t>(frame.size())) + u32(static_cast<uint32_t>(frame.size()));
            file.append(frame.begin(), frame.end());
        }
        const fs::path path = dir / "classic.cap";
        std::ofstream(path, std::ios::binary) << file;
        ASSERT_EQ(OpenCaptureFile(path.string(), false, frontEnd), 1) << c.what;
        ASSERT_EQ(g_packetTable.size(), static_cast<size_t>(count)) << c.what;
        for (size_t i : {size_t{0}, size_t{2897}, size_t{count - 1}}) {
            EXPECT_EQ(g_packetTable[i].stamp.sec, 1700000000 + static_cast<int64_t>(i)) << c.what;
            EXPECT_EQ(g_packetTable[i].stamp.usec, static_cast<int32_t>(i * 7 % 1000000)) << c.what;
            EXPECT_TRUE(StoredBytes(i) == frame) << c.what << " " << i;
        }
    }
}

// Truncates the file being loaded at the first progress report, as another program might.
class TruncatingFrontEnd : public ScriptedFrontEnd {
public:
    void ShowLoadProgress(int64_t, int64_t) override {
        if (!path.empty())
            fs::resize_file(path, size);
        path.clear();
    }
    fs::path path;
    uintmax_t size = 0;
};

TEST_F(CaptureFileTest, AFileCutShortWhileItIsReadIsReportedAsSuch) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(1000, 'c'));
    const fs::path file = dir / "growing.cap";
    WriteCapture(file, std::vector<std::vector<uint8_t>>(20000, frame));  // about 21 MB
    const uintmax_t whole = fs::file_size(file);
    TruncatingFrontEnd cutter;
    cutter.path = file;
    cutter.size = 24 + 15000 * (16 + frame.size()) + 10;  // into a record, far beyond the first batch
    g_pMainFrame = &cutter;
    EXPECT_EQ(OpenCaptureFile(file.string(), false, cutter), 0);
    g_pMainFrame = &frontEnd;
    EXPECT_EQ(g_packetTable.size(), 15000u);
    ASSERT_EQ(cutter.shown.size(), 1u);
    EXPECT_NE(cutter.shown[0].find("damaged or ends early"), std::string::npos) << cutter.shown[0];
    EXPECT_NE(
        cutter.details[0].find("The file changed while it was read: it had " + std::to_string(whole) +
                               " bytes when reading began and has " + std::to_string(cutter.size) + " now."),
        std::string::npos)
        << cutter.details[0];
}

// Opening a pipe as a file would wait for a writer for ever; it is refused at once with what it is.
TEST_F(CaptureFileTest, OpeningAPipeAsAFileIsRefusedAtOnce) {
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenCaptureFile(fifo.string(), false, frontEnd), 0);
    ASSERT_EQ(frontEnd.details.size(), 1u);
    EXPECT_EQ(frontEnd.shown[0], "PCAP error: Error opening the offline packets file!");
    EXPECT_NE(frontEnd.details[0].find("it can be read only as a stream"), std::string::npos);
    EXPECT_TRUE(IsStreamPath(fifo.string()));
    EXPECT_TRUE(IsStreamPath("-"));
    EXPECT_FALSE(IsStreamPath(dir.string()));
}

// The process killed in the middle of a save leaves the old file as it was.
TEST_F(CaptureFileTest, AKilledSaveLeavesTheOldFileIntact) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(1400, 'k'));
    g_skipFilter = 1;
    g_captureState = CAPTURE_RUNNING;
    for (int i = 0; i < 60000; ++i)  // about 86 MB
        FeedFrame(frame);
    g_captureState = CAPTURE_IDLE;
    ASSERT_EQ(g_packetTable.size(), 60000u);
    const fs::path existing = dir / "kept.cap";
    std::ofstream(existing) << "keep me";
    pid_t pid = ::fork();
    if (pid == 0) {
        SaveCaptureFile(g_packetTable, existing.string(), frontEnd);
        ::_exit(0);
    }
    // Killed once the new file is being written beside the old one.
    bool writing = false;
    for (int i = 0; i < 5000 && !writing; ++i) {
        for (const auto& e : fs::directory_iterator(dir))
            writing = writing || (e.path().filename().string().rfind(".kept.cap.", 0) == 0 &&
                                  fs::file_size(e.path()) > 0);
        if (!writing)
            ::usleep(1000);
    }
    ::kill(pid, SIGKILL);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    EXPECT_TRUE(writing) << "the save was not caught while writing";
    EXPECT_TRUE(WIFSIGNALED(raw)) << "the save ended before it was killed";
    EXPECT_EQ(ReadWhole(existing), "keep me");
}

// A file opened in place that changes afterwards: a save over it leaves the capture reading the old file;
// cut short or written over, its frames are gone, never wrong, and reading where they were does not crash.
TEST_F(CaptureFileTest, AFileThatChangesAfterItWasOpenedNeverShowsWrongBytes) {
    const std::vector<uint8_t> frame = UdpFrame(std::string(1000, 'd'));
    const size_t count = 3000;  // about 3 MB: the last frame lies far past the cut
    const struct {
        const char* what;
        int change;
        bool present;
        int firstGone;  // the first packet a save finds gone (of 1042-byte frames, 3 whole in 4096 bytes)
    } cases[] = {{"saved over", 0, true, 0}, {"cut short", 1, false, 4}, {"written over", 2, false, 1}};
    for (const auto& c : cases) {
        const fs::path file = dir / "open.cap";
        WriteCapture(file, std::vector<std::vector<uint8_t>>(count, frame));
        ASSERT_EQ(OpenCaptureFile(file.string(), false, frontEnd), 1) << c.what;
        ASSERT_EQ(g_packetTable.size(), count);
        const PacketRecord& last = g_packetTable[count - 1];
        if (c.change == 0)
            ASSERT_EQ(SaveCaptureFile(g_packetTable, file.string(), {0}, frontEnd), CommandResult::Done);
        else if (c.change == 1)
            fs::resize_file(file, 4096);
        else
            std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << std::string(4000000, 'x');
        EXPECT_EQ(FrameBytesPresent(last, true), c.present) << c.what;
        EXPECT_EQ(PacketPayload(last).size(), c.present ? 1000u : 0u) << c.what;
        EXPECT_EQ(StoredBytes(count - 1) == frame, c.present) << c.what;
        frontEnd = ScriptedFrontEnd();
        EXPECT_EQ(SaveCaptureFile(g_packetTable, (dir / "copy.cap").string(), frontEnd),
                  c.present ? CommandResult::Done : CommandResult::Failed)
            << c.what;
        EXPECT_EQ(frontEnd.details.empty() ? "" : frontEnd.details[0],
                  c.present ? ""
                            : (dir / "copy.cap").string() + ": packet " + std::to_string(c.firstGone) + ": " +
                                  msg::kFrameBytesGone)
            << c.what;
    }
}

}  // namespace
