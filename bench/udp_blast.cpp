// Sends UDP datagrams at a steady rate: pacterra-udp-blast DST_IP PORT RATE SECONDS [PAYLOAD_BYTES]
// Prints "sent N in S s" at the end. Sends in small batches with sendmmsg and paces them against the clock.
// Ends with status 1 and a message when sending keeps failing for a second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DST_IP PORT RATE SECONDS [PAYLOAD_BYTES]\n", argv[0]);
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
        std::fprintf(stderr, "bad address %s\n", argv[1]);
        return 2;
    }
    const double rate = std::atof(argv[3]);
    const double seconds = std::atof(argv[4]);
    const size_t payload = argc > 5 ? static_cast<size_t>(std::atoi(argv[5])) : 18;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        std::fprintf(stderr, "pacterra-udp-blast: cannot open a UDP socket: %s\n", std::strerror(errno));
        return 1;
    }
    int big = 8 << 20;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);

    constexpr int kBatch = 32;
    std::vector<char> data(payload, 'u');
    iovec iov{data.data(), data.size()};
    std::vector<mmsghdr> msgs(kBatch);
    for (auto& m : msgs) {
        m.msg_hdr.msg_name = &to;
        m.msg_hdr.msg_namelen = sizeof to;
        m.msg_hdr.msg_iov = &iov;
        m.msg_hdr.msg_iovlen = 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const uint64_t total = static_cast<uint64_t>(rate * seconds);
    uint64_t sent = 0;
    // Sends that keep failing this long (the interface or the route went away) end the run instead of
    // being retried at full speed for the rest of it; a full queue (ENOBUFS) drains well within it.
    constexpr auto kGiveUpAfter = std::chrono::seconds(1);
    auto lastSent = start;
    while (sent < total) {
        // Where the schedule says we should be by now.
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        uint64_t due = static_cast<uint64_t>(elapsed * rate);
        if (due > total)
            due = total;
        if (due <= sent) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        unsigned n = static_cast<unsigned>(std::min<uint64_t>(due - sent, kBatch));
        int done = sendmmsg(s, msgs.data(), n, 0);
        if (done > 0) {
            sent += static_cast<uint64_t>(done);
            lastSent = std::chrono::steady_clock::now();
            continue;
        }
        const int error = errno;
        if (done < 0 && error != EINTR && std::chrono::steady_clock::now() - lastSent >= kGiveUpAfter) {
            std::fprintf(stderr,
                         "pacterra-udp-blast: sending to %s port %s keeps failing: %s; stopped after %llu\n",
                         argv[1], argv[2], std::strerror(error), static_cast<unsigned long long>(sent));
            close(s);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(s);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sent %llu in %.2f s\n", static_cast<unsigned long long>(sent), took);
    return 0;
}
