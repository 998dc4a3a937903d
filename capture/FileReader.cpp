#include "capture/FileReader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/FrameFile.h"
#include "capture/PacketStore.h"

namespace {

constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;
constexpr size_t kFileHeader = 24;
constexpr size_t kRecordHeader = 16;
// The library refuses larger records in an Ethernet file as damaged; so does this reader.
constexpr uint32_t kMaxRecord = 262144;
// The reserved bits of the link type field: the library refuses a file that sets any of them.
constexpr uint32_t kLinkTypeReserved = 0x03FF0000;

// Each block keeps room before its data for the unread end of the block before it, so that a record that
// straddles two blocks is whole in the second.
constexpr size_t kHeadroom = kMaxRecord + kRecordHeader;
constexpr size_t kBlockData = size_t{1} << 20;
constexpr int kBlocks = 4;

uint32_t Load32(const uint8_t* p, bool swapped) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

using FileFormat = ClassicFileFormat;

// The library's words for a record that ends before its captured bytes do; `got` bytes of them are there.
// A record cut to the snapshot length is read in two parts, and the part that falls short is named.
std::string TruncatedRecordText(uint32_t capLen, size_t got, const FileFormat& format) {
    const uint32_t wanted = capLen > format.snapshot && got < format.snapshot ? format.snapshot : capLen;
    return "truncated dump file; tried to read " + std::to_string(wanted) + " captured bytes, only got " +
           std::to_string(got);
}

void Populate(void* start, size_t size) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = 4096;
    uintptr_t from = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(start) + size) & ~(page - 1);
    if (to > from)
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)size;
#endif
}

// The second thread: fills free blocks from the file, and faults in the store blocks it is asked to.
class BlockReader {
public:
    explicit BlockReader(int fd) : m_fd(fd) {
        for (int i = 0; i < kBlocks; ++i) {
            m_blocks.push_back(static_cast<uint8_t*>(std::malloc(kHeadroom + kBlockData)));
            if (!m_blocks.back())
                m_failed = true;
            else
                m_free.push_back(i);
        }
        if (!m_failed)
            m_thread = std::thread([this] { Run(); });
    }
    ~BlockReader() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        for (uint8_t* b : m_blocks)
            std::free(b);
    }
    bool Failed() const { return m_failed; }

    struct Filled {
        int block = -1;
        size_t length = 0;  // 0: the end of the file (or a read error, in `error`)
        int error = 0;
    };
    // Waits for the next filled block.
    Filled Next() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_filled.empty(); });
        Filled f = m_filled.front();
        m_filled.pop_front();
        return f;
    }
    void Release(int block) {
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(block);
        }
        m_changed.notify_all();
    }
    uint8_t* Data(int block) const { return m_blocks[static_cast<size_t>(block)] + kHeadroom; }

    // Asks for a store block to be faulted in ahead of its use (the latest request wins).
    void Prefault(void* start, size_t size) {
        {
            std::lock_guard lock(m_mutex);
            m_prefault = {start, size};
        }
        m_changed.notify_all();
    }

private:
    void Run() {
        for (;;) {
            int block;
            std::pair<void*, size_t> prefault{nullptr, 0};
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || !m_free.empty() || m_prefault.first; });
                if (m_stop)
                    return;
                std::swap(prefault, m_prefault);
                if (m_free.empty() || m_ended) {
                    block = -1;
                } else {
                    block = m_free.front();
                    m_free.pop_front();
                }
            }
            if (prefault.first)
                Populate(prefault.first, prefault.second);
            if (block < 0)
                continue;
            Filled f;
            f.block = block;
            uint8_t* data = Data(block);
            while (f.length < kBlockData) {
                ssize_t n = ::read(m_fd, data + f.length, kBlockData - f.length);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    f.error = errno;
                    break;
                }
                if (n == 0)
                    break;
                f.length += static_cast<size_t>(n);
            }
            std::lock_guard lock(m_mutex);
            if (f.length < kBlockData)
                m_ended = true;
            m_filled.push_back(f);
            if (f.length > 0 && m_ended)
                m_filled.push_back(Filled{-1, 0, f.error});
            m_changed.notify_all();
        }
    }

    int m_fd;
    std::vector<uint8_t*> m_blocks;
    bool m_failed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_free;
    std::deque<Filled> m_filled;
    std::pair<void*, size_t> m_prefault{nullptr, 0};
    bool m_stop = false;
    bool m_ended = false;
    std::thread m_thread;
};

BlockReader* g_activeReader = nullptr;  // while a file is read; only the reading thread sets it

void PrefaultFrameBlock(void* start, size_t size) {
    if (g_activeReader)
        g_activeReader->Prefault(start, size);
}

}  // namespace

ClassicReadResult ReadClassicCaptureFile(const std::string& path, pcap_handler handler, u_char* user,
                                         const ReadProgress& progress, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ClassicReadResult::NotClassic;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    uint8_t header[kFileHeader];
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::pread(fd, header, kFileHeader, 0) != static_cast<ssize_t>(kFileHeader))
        return ClassicReadResult::NotClassic;
    uint32_t magic;
    std::memcpy(&magic, header, 4);
    const bool swapped = magic == __builtin_bswap32(kMagicMicro) || magic == __builtin_bswap32(kMagicNano);
    magic = swapped ? __builtin_bswap32(magic) : magic;
    if (magic != kMagicMicro && magic != kMagicNano)
        return ClassicReadResult::NotClassic;
    auto load16 = [&](const uint8_t* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return swapped ? __builtin_bswap16(v) : v;
    };
    FileFormat format;
    format.swapped = swapped;
    format.nano = magic == kMagicNano;
    // Versions 2.3 and 2.4 of Ethernet files; anything else is left to the library, which reads the older
    // versions with their lengths the other way round and refuses what it does not know.
    const uint16_t minor = load16(header + 6);
    const uint32_t linkType = Load32(header + 20, swapped);
    if (load16(header + 4) != 2 || (minor != 3 && minor != 4) || (linkType & kLinkTypeReserved) != 0 ||
        (linkType & 0xFFFF) != DLT_EN10MB || ::lseek(fd, kFileHeader, SEEK_SET) < 0)
        return ClassicReadResult::NotClassic;
    format.maybeSwappedLengths = minor == 3;
    // A snapshot length of 0, or one that does not fit an int, stands for the largest record there is.
    const uint32_t snaplen = Load32(header + 16, swapped);
    format.snapshot = snaplen == 0 || snaplen > static_cast<uint32_t>(INT32_MAX) ? kMaxRecord : snaplen;

    // The store keeps where each frame lies in the file rather than a copy; records past the size the file
    // had now (it may still be written) are copied.
    const int64_t mappedSize = static_cast<int64_t>(st.st_size);
    const uint8_t* const map = MapFrameFile(::fcntl(fd, F_DUPFD_CLOEXEC, 0), mappedSize, format);
    (void)::posix_fadvise(fd, kFileHeader, 0, POSIX_FADV_SEQUENTIAL);

    int64_t done = kFileHeader;
    size_t records = 0;
    bool stopped = false;
    ClassicReadResult result = ClassicReadResult::Read;
    // Hands on the whole records in [p, end) that start before `pause`, and leaves `p` at the first record
    // not handed on. False once the load ends there (damage, or a stop).
    const auto handRecords = [&](const uint8_t*& p, const uint8_t* end, const uint8_t* pause) {
        // The lookup of a frame's connection waits on memory twice (its index slot, then its record):
        // both are fetched while the frames before it are handled, the slot kAhead frames ahead and the
        // record half as far.
        constexpr size_t kAhead = 8;
        uint64_t ahead[kAhead];  // the lookup keys of the frames ahead
        size_t first = 0, seen = 0;
        const uint8_t* next = p;
        while (p < pause && static_cast<size_t>(end - p) >= kRecordHeader) {
            for (; seen < kAhead && static_cast<size_t>(end - next) >= kRecordHeader; ++seen) {
                const uint32_t length = ReadClassicRecordHeader(next, format).capLen;
                if (length > kMaxRecord || static_cast<size_t>(end - next) < kRecordHeader + length)
                    break;
                ahead[(first + seen) % kAhead] =
                    PrefetchConnectionSlot(next + kRecordHeader, std::min(length, format.snapshot));
                next += kRecordHeader + length;
            }
            if (seen > kAhead / 2)
                PrefetchConnectionRecord(ahead[(first + kAhead / 2) % kAhead]);
            if (seen > 0) {
                first = (first + 1) % kAhead;
                --seen;
            }
            const ClassicRecordHeader record = ReadClassicRecordHeader(p, format);
            const uint32_t capLen = record.capLen;
            if (capLen > kMaxRecord) {
                error =
                    "invalid packet capture length " + std::to_string(capLen) +
                    (capLen > format.snapshot ? ", bigger than snaplen of " + std::to_string(format.snapshot)
                                              : ", bigger than maximum of " + std::to_string(kMaxRecord));
                result = ClassicReadResult::Damaged;
                return false;
            }
            if (static_cast<size_t>(end - p) < kRecordHeader + capLen)
                break;
            pcap_pkthdr h{};
            h.ts.tv_sec = record.sec;
            h.ts.tv_usec = record.usec;
            // The library hands on no more than the snapshot length and passes over the rest of the record.
            h.caplen = std::min(capLen, format.snapshot);
            h.len = record.len;
            // The same rules as a dispatch: nothing after the store's own stop, and the end of the batch
            // once the capture is asked to stop.
            if (g_storeStop.load(std::memory_order_relaxed) == STORE_STOP_NONE) {
                const int64_t frameAt = done + static_cast<int64_t>(kRecordHeader);
                g_inPlaceFrame = map && frameAt + capLen <= mappedSize ? map + frameAt : nullptr;
                handler(user, &h, p + kRecordHeader);
            }
            p += kRecordHeader + capLen;
            done += static_cast<int64_t>(kRecordHeader + capLen);
            if (g_captureState.load(std::memory_order_relaxed) != CAPTURE_RUNNING) {
                stopped = true;
                return false;
            }
            if (++records % kLoadBatch == 0 && progress) {
                g_indexedFileBytes.store(done, std::memory_order_relaxed);
                progress(done);
                if (g_captureState.load() != CAPTURE_RUNNING) {
                    stopped = true;
                    return false;
                }
            }
        }
        return true;
    };

    // A mapped file is parsed where it lies: no copy through read(), and no second thread. A window at a
    // time has its pages mapped in one call (and the next one read ahead from the disk), and those behind
    // are let go, so that the file's pages never count as the program's memory. A file cut short meanwhile
    // ends this pass at the window where it is found shorter; the block reader below reads what is left.
    if (map) {
        constexpr int64_t kWindow = int64_t{8} << 20;
        const uint8_t* p = map + kFileHeader;
        const uint8_t* const mapEnd = map + mappedSize;
        for (int64_t window = 0; window < mappedSize; window += kWindow) {
            const int64_t windowEnd = std::min(window + kWindow, mappedSize);
            struct stat now {};
            if (::fstat(fd, &now) != 0 || now.st_size < windowEnd)
                break;
            auto* const at = const_cast<uint8_t*>(map) + window;
#ifdef MADV_POPULATE_READ
            (void)::madvise(at, static_cast<size_t>(windowEnd - window), MADV_POPULATE_READ);
#endif
            if (windowEnd < mappedSize)
                (void)::madvise(at + kWindow, static_cast<size_t>(std::min(kWindow, mappedSize - windowEnd)),
                                MADV_WILLNEED);
            const bool goesOn = handRecords(p, mapEnd, map + windowEnd);
            if (window > 0)
                (void)::madvise(at - kWindow, static_cast<size_t>(kWindow), MADV_DONTNEED);
            if (!goesOn)
                break;
        }
        (void)::madvise(const_cast<uint8_t*>(map), static_cast<size_t>(mappedSize), MADV_DONTNEED);
        if (stopped || result != ClassicReadResult::Read) {
            g_inPlaceFrame = nullptr;
            g_indexedFileBytes = std::min(done, mappedSize);
            return result;
        }
        if (::lseek(fd, done, SEEK_SET) < 0) {
            error = std::string("error reading dump file: ") + std::strerror(errno);
            g_inPlaceFrame = nullptr;
            return ClassicReadResult::Damaged;
        }
    }

    // What no mapping holds: the whole file when it could not be mapped, else a record cut at the end of
    // the mapping, or what was written after it.
    BlockReader reader(fd);
    if (reader.Failed()) {
        if (!map)
            return ClassicReadResult::NotClassic;
        error = std::string("error reading dump file: ") + std::strerror(ENOMEM);
        g_inPlaceFrame = nullptr;
        return ClassicReadResult::Damaged;
    }
    g_activeReader = &reader;
    SetFrameBlockPrefault(PrefaultFrameBlock);

    size_t carried = 0;  // bytes of an unfinished record, moved before the next block's data
    uint8_t* carry = nullptr;
    std::vector<uint8_t> carryBuffer;
    for (;;) {
        const BlockReader::Filled f = reader.Next();
        if (f.length == 0) {
            if (f.error != 0) {
                error = std::string("error reading dump file: ") + std::strerror(f.error);
                result = ClassicReadResult::Damaged;
            } else if (carried > 0 && carried < kRecordHeader) {
                error = "truncated dump file; tried to read " + std::to_string(kRecordHeader) +
                        " header bytes, only got " + std::to_string(carried);
                result = ClassicReadResult::Damaged;
            } else if (carried > 0) {
                error = TruncatedRecordText(ReadClassicRecordHeader(carry, format).capLen,
                                            carried - kRecordHeader, format);
                result = ClassicReadResult::Damaged;
            }
            if (f.block >= 0)
                reader.Release(f.block);
            break;
        }
        uint8_t* data = reader.Data(f.block);
        uint8_t* p = data - carried;
        if (carried > 0)
            std::memmove(p, carry, carried);
        const uint8_t* end = data + f.length;
        const uint8_t* next = p;
        if (!handRecords(next, end, end)) {
            reader.Release(f.block);
            break;
        }
        // The unfinished record moves to the front of the next block; it is kept here meanwhile, since
        // this block goes back to the reader.
        carried = static_cast<size_t>(end - next);
        carryBuffer.assign(next, end);
        carry = carryBuffer.data();
        reader.Release(f.block);
    }
    SetFrameBlockPrefault(nullptr);
    g_activeReader = nullptr;
    g_inPlaceFrame = nullptr;
    if (map)
        g_indexedFileBytes = std::min(done, mappedSize);
    return result;
}
