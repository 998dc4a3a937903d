// Capture files through the engine's own commands, with a front end that answers from a script.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "FrameBuilder.h"
#include "capture/CaptureFile.h"
#include "capture/FrontEnd.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace fs = std::filesystem;

namespace {

// Answers questions and file requests in the order scripted; a message nobody scripted gets Ok, a file
// request nobody scripted is cancelled. Records everything it was shown.
class ScriptedFrontEnd : public IMainFrame {
public:
    void InsertRow(int) override {}
    void CellsChanged(int, int, int) override {}
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string&) override {
        shown.push_back(text);
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
    std::vector<FileQuestion> asked;
};

using Question = IPromptService::FileQuestion;

const char kSaveQuestion[] = "Do you want to save these packets?";
const char kOpened[] = "Captured packets file opened successfully!";

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
    FrameSpec s;
    s.protocol = 17;
    s.payload = std::string(65535 - 28, 'L');
    s.payload.back() = 'Z';
    const std::vector<uint8_t> frame = BuildFrame(s);
    ASSERT_EQ(frame.size(), 65549u);
    const fs::path original = dir / "big.cap";
    WriteCapture(original, {frame}, 262144);

    ASSERT_EQ(OpenCaptureFile(original.string(), false), 1);
    ASSERT_EQ(g_packetTable.size(), 1u);
    const fs::path saved = dir / "saved.cap";
    ASSERT_EQ(SaveCaptureFile(g_packetTable, saved.string()), 1);
    ASSERT_EQ(OpenCaptureFile(saved.string(), false), 1);
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
        ResetCaptureStore();
        if (c.unsaved)
            CapturedPacket();
        frontEnd = ScriptedFrontEnd();
        frontEnd.answers.assign(c.answers.begin(), c.answers.end());
        for (std::string p : c.paths) {
            if (p == "missing")
                p = (dir / "missing" / "x.cap").string();
            else if (p == "good")
                p = (dir / "good.cap").string();
            frontEnd.paths.push_back(p);
        }
        EXPECT_EQ(OfferToSaveUnsavedPackets(), c.goOn) << c.what;
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
    EXPECT_EQ(OpenCommand(), 0);
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
        ResetCaptureStore();
        if (c.unsaved)
            CapturedPacket();
        frontEnd = ScriptedFrontEnd();
        frontEnd.answers.assign(c.answers.begin(), c.answers.end());
        frontEnd.paths = {file.string()};
        EXPECT_EQ(OpenCommand(), 1) << c.what;
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

}  // namespace
