// The fast reader of classic capture files gives every record exactly as the capture library's
// pcap_next_ex does: odd snapshot lengths, records longer than the snapshot length or than any record may
// be, both byte orders, nanosecond stamps, stamps at the edges of their fields, old versions, damage.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/FileReader.h"
#include "capture/FrameFile.h"
#include "capture/PacketStore.h"

namespace fs = std::filesystem;

namespace {

struct Record {
    int64_t sec = 0;
    int64_t usec = 0;
    uint32_t capLen = 0;
    uint32_t len = 0;
    std::string bytes;
    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{" << r.sec << "." << r.usec << " caplen " << r.capLen << " len " << r.len << " "
               << r.bytes.size() << " bytes}";
}

struct Reading {
    std::vector<Record> records;
    std::string error;  // empty when the file was read to its end
};

Record Take(const pcap_pkthdr* h, const u_char* bytes) {
    return {h->ts.tv_sec, h->ts.tv_usec, h->caplen, h->len,
            std::string(reinterpret_cast<const char*>(bytes), h->caplen)};
}

Reading ReadWithLibrary(const fs::path& path) {
    Reading r;
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) {
        r.error = std::string("cannot open: ") + error;
        return r;
    }
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    int status;
    while ((status = pcap_next_ex(p, &h, &bytes)) == 1)
        r.records.push_back(Take(h, bytes));
    if (status != PCAP_ERROR_BREAK)
        r.error = pcap_geterr(p);
    pcap_close(p);
    return r;
}

void Collect(u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
    reinterpret_cast<Reading*>(user)->records.push_back(Take(h, bytes));
}

// What a classic file holds, byte for byte.
struct FileSpec {
    bool nano = false;
    bool swapped = false;
    uint16_t minor = 4;
    uint32_t snaplen = 65536;
    uint32_t linkType = 1;
    struct Rec {
        uint32_t sec, fraction, capLen, len;
        uint32_t stored;  // bytes that follow the header (fewer than capLen: the file ends there)
    };
    std::vector<Rec> records;
    size_t cutHeader = 0;  // a last record header of only this many bytes
};

std::string Bytes(const FileSpec& f) {
    std::string out;
    auto u32 = [&](uint32_t v) {
        v = f.swapped ? __builtin_bswap32(v) : v;
        out.append(reinterpret_cast<const char*>(&v), 4);
    };
    auto u16 = [&](uint16_t v) {
        v = f.swapped ? __builtin_bswap16(v) : v;
        out.append(reinterpret_cast<const char*>(&v), 2);
    };
    u32(f.nano ? 0xA1B23C4D : 0xA1B2C3D4);
    u16(2);
    u16(f.minor);
    u32(0);
    u32(0);
    u32(f.snaplen);
    u32(f.linkType);
    uint32_t n = 0;
    for (const FileSpec::Rec& r : f.records) {
        u32(r.sec);
        u32(r.fraction);
        u32(r.capLen);
        u32(r.len);
        for (uint32_t i = 0; i < r.stored; ++i)
            out += static_cast<char>((i * 7 + n) & 0xFF);
        ++n;
    }
    out.append(f.cutHeader, '\x11');
    return out;
}

// `n` records of `capLen` bytes.
std::vector<FileSpec::Rec> Many(int n, uint32_t capLen) {
    std::vector<FileSpec::Rec> records;
    for (int i = 0; i < n; ++i)
        records.push_back(
            {1700000000u + static_cast<uint32_t>(i), static_cast<uint32_t>(i), capLen, capLen, capLen});
    return records;
}

FileSpec::Rec Whole(uint32_t capLen) {
    return {1700000000, 5, capLen, capLen, capLen};
}

class FileReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pacterra-reader-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        g_captureState = CAPTURE_IDLE;
        fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(FileReaderTest, GivesEveryRecordAsTheLibraryDoes) {
    struct Case {
        const char* what;
        FileSpec file;
        bool fast;  // read by the fast reader; otherwise left to the library
    } cases[] = {
        {"a record longer than the snapshot length is cut to it",
         {.snaplen = 100, .records = {Whole(150), Whole(60), Whole(100), Whole(101)}},
         true},
        {"the same, big-endian with nanoseconds",
         {.nano = true, .swapped = true, .snaplen = 100, .records = {Whole(150), Whole(60)}},
         true},
        {"a zero snapshot length stands for 262144",
         {.snaplen = 0, .records = {Whole(262144), Whole(70000), Whole(20)}},
         true},
        {"a snapshot length beyond an int stands for 262144",
         {.snaplen = 0xFFFFFFFF, .records = {Whole(200), Whole(262144)}},
         true},
        {"a snapshot length above 262144 is kept, the maximum record is not",
         {.snaplen = 300000, .records = {Whole(262144), Whole(262145)}},
         true},
        {"a record above 262144 is damage",
         {.snaplen = 65536, .records = {Whole(60), Whole(262145), Whole(60)}},
         true},
        {"a record above 262144 with a zero snapshot length",
         {.snaplen = 0, .records = {Whole(300000)}},
         true},
        {"a long record that ends within its snapshot part",
         {.snaplen = 100, .records = {Whole(60), {1, 2, 150, 150, 40}}},
         true},
        {"a long record that ends after its snapshot part",
         {.snaplen = 100, .records = {Whole(60), {1, 2, 150, 150, 120}}},
         true},
        {"a record that ends early", {.records = {Whole(60), {1, 2, 80, 80, 79}}}, true},
        {"a record header that ends early", {.records = {Whole(60)}, .cutHeader = 10}, true},
        {"empty records", {.records = {Whole(0), {3, 4, 0, 5, 0}}}, true},
        {"stamps at the edges of their fields",
         {.records = {{0xFFFFFFFF, 0xFFFFFFFF, 10, 10, 10}, {0x80000000, 999999, 10, 10, 10}}},
         true},
        {"the same, big-endian",
         {.swapped = true,
          .records = {{0xFFFFFFFF, 0xFFFFFFFF, 10, 10, 10}, {0x80000000, 999999, 10, 10, 10}}},
         true},
        {"nanosecond stamps at the edges",
         {.nano = true, .records = {{5, 1999999999, 10, 10, 10}, {6, 0xFFFFFFF0, 10, 10, 10}}},
         true},
        {"the same, big-endian",
         {.nano = true,
          .swapped = true,
          .records = {{5, 1999999999, 10, 10, 10}, {6, 0xFFFFFFF0, 10, 10, 10}}},
         true},
        {"version 2.3 with the two lengths the old way round",
         {.minor = 3, .snaplen = 100, .records = {{1, 2, 150, 40, 40}, {1, 3, 20, 40, 20}, Whole(150)}},
         true},
        {"version 2.2 is left to the library", {.minor = 2, .records = {{1, 2, 150, 40, 40}}}, false},
        {"an unknown version is left to the library", {.minor = 5, .records = {Whole(60)}}, false},
        {"reserved link type bits are left to the library",
         {.linkType = 0x00010001, .records = {Whole(60)}},
         false},
        {"a link type with a frame check sequence length",
         {.linkType = 0x14000001, .records = {Whole(60)}},
         true},
        {"records cut to the snapshot length across the reader's blocks",
         {.snaplen = 200, .records = Many(9000, 300)},
         true},
        {"the same, big-endian with nanoseconds",
         {.nano = true, .swapped = true, .snaplen = 200, .records = Many(9000, 300)},
         true},
        {"records across the mapping's windows, the last one cut",
         {.records =
              [] {
                  auto records = Many(30000, 300);
                  records.back().stored = 100;
                  return records;
              }()},
         true},
    };
    // Parsed in the file's mapping, and read in blocks while another file holds the mapping.
    for (const Case& c : cases)
        for (const bool mapped : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (mapped ? ", mapped" : ", in blocks"));
            const fs::path path = dir / "odd.pcap";
            std::ofstream(path, std::ios::binary | std::ios::trunc) << Bytes(c.file);
            const Reading expected = ReadWithLibrary(path);

            Reading got;
            g_captureState = CAPTURE_RUNNING;
            g_storeStop = STORE_STOP_NONE;
            ReleaseFrameFile();
            if (!mapped)
                ASSERT_NE(MapFrameFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC), 24, {}), nullptr);
            const ClassicReadResult result = ReadClassicCaptureFile(
                path.string(), Collect, reinterpret_cast<u_char*>(&got), {}, got.error);
            ReleaseFrameFile();
            g_captureState = CAPTURE_IDLE;
            if (!c.fast) {
                EXPECT_EQ(result, ClassicReadResult::NotClassic);
                continue;
            }
            EXPECT_NE(result, ClassicReadResult::NotClassic);
            EXPECT_EQ(result == ClassicReadResult::Damaged, !expected.error.empty());
            EXPECT_EQ(got.error, expected.error);
            EXPECT_EQ(got.records.size(), expected.records.size());
            for (size_t i = 0; i < std::min(got.records.size(), expected.records.size()); ++i) {
                if (got.records[i] != expected.records[i]) {
                    ADD_FAILURE() << "record " << i << ": " << got.records[i] << " instead of "
                                  << expected.records[i];
                    break;
                }
            }
        }
}

}  // namespace
