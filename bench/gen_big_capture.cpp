// pacterra-gen-big-capture OUT.cap GIGABYTES [CONNECTIONS]
//
// Writes a classic capture file of about GIGABYTES GB for the open-in-place test of a file larger than the
// machine's memory: Ethernet/IPv4 TCP frames averaging about 900 bytes (4 in 10 full-sized, the rest up to
// 1000 bytes of payload) over CONNECTIONS client-to-server conversations (default 100 000), each with its
// own running sequence number, drawn round the pool in a fixed order. Written straight through a 4 MiB
// buffer: it must go at the disk's pace. Prints "frames N bytes B" on standard output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v >> 16);
    Put16(p + 2, v);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pacterra-gen-big-capture OUT.cap GIGABYTES [CONNECTIONS]\n");
        return 2;
    }
    const uint64_t target = static_cast<uint64_t>(std::strtod(argv[2], nullptr) * 1e9);
    const uint32_t connections =
        argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 100000;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || connections == 0) {
        std::perror(argv[1]);
        return 1;
    }
    static char buffer[4 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
    std::fwrite(header, sizeof header, 1, out);

    std::vector<uint32_t> seq(connections, 1000);
    uint8_t frame[16 + 1514] = {};
    uint8_t* eth = frame + 16;
    std::memcpy(eth, "\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00", 14);
    uint64_t bytes = 24, frames = 0, rng = 0x9E3779B97F4A7C15ull;
    while (bytes < target) {
        rng ^= rng << 13, rng ^= rng >> 7, rng ^= rng << 17;  // xorshift64
        const uint32_t c = static_cast<uint32_t>(frames % connections);
        const uint32_t payload = rng % 10 < 4 ? 1460 : static_cast<uint32_t>((rng >> 8) % 1001);
        const uint32_t len = 54 + payload;
        uint8_t* ip = eth + 14;
        ip[0] = 0x45;
        Put16(ip + 2, 40 + payload);
        ip[8] = 64;
        ip[9] = 6;
        Put32(ip + 12, 0x0A000000 | (c + 1));  // 10.x.y.z, one client per connection
        Put32(ip + 16, 0xC0A80001);            // 192.168.0.1
        uint8_t* tcp = ip + 20;
        Put16(tcp, 1024 + c % 60000);
        Put16(tcp + 2, 443);
        Put32(tcp + 4, seq[c]);
        tcp[12] = 0x50;
        tcp[13] = 0x18;  // PSH, ACK
        Put16(tcp + 14, 65535);
        std::memset(tcp + 20, 'a' + static_cast<int>(c % 26), payload);
        seq[c] += payload;
        const uint64_t usec = frames * 10;
        const uint32_t record[4] = {static_cast<uint32_t>(1700000000 + usec / 1000000),
                                    static_cast<uint32_t>(usec % 1000000), len, len};
        std::memcpy(frame, record, 16);
        if (std::fwrite(frame, 16 + len, 1, out) != 1) {
            std::perror(argv[1]);
            return 1;
        }
        bytes += 16 + len;
        ++frames;
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("frames %llu bytes %llu\n", static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(bytes));
    return 0;
}
