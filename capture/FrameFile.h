// The capture file a load indexed in place: its frames are not copied into the store, whose packet records
// point into a read-only mapping of the file instead. The file may change under the program (truncated,
// rewritten, a network share gone): a read past its end is caught and gives zero bytes, and a frame is
// trusted only while its record header in the file still says what the store was told.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <utility>

struct PacketRecord;

// How a classic libpcap file stores its records, as the capture library reads them.
struct ClassicFileFormat {
    bool swapped = false;              // written in the other byte order
    bool nano = false;                 // nanosecond timestamps, handed on in microseconds
    bool maybeSwappedLengths = false;  // version 2.3: caplen and len may stand the wrong way round
    uint32_t snapshot = 0;
    // A pcapng file: each frame the store keeps in it follows the 28 bytes of an enhanced packet block's
    // head.
    bool pcapng = false;
};

// One record header as the library reads it. The library keeps the timestamp fields of a file in its own
// byte order as signed 32-bit values and those of a swapped file unsigned; nanoseconds are divided down.
struct ClassicRecordHeader {
    time_t sec = 0;
    suseconds_t usec = 0;
    uint32_t capLen = 0;
    uint32_t len = 0;
};
inline uint32_t LoadFileU32(const uint8_t* p, bool swapped) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

// Inline: the load reads one per record.
inline ClassicRecordHeader ReadClassicRecordHeader(const uint8_t* p, const ClassicFileFormat& format) {
    ClassicRecordHeader h;
    const uint32_t sec = LoadFileU32(p, format.swapped), fraction = LoadFileU32(p + 4, format.swapped);
    if (format.swapped) {
        h.sec = static_cast<time_t>(sec);
        h.usec = static_cast<suseconds_t>(format.nano ? fraction / 1000 : fraction);
    } else {
        const auto signedFraction = static_cast<int32_t>(fraction);
        h.sec = static_cast<time_t>(static_cast<int32_t>(sec));
        h.usec = static_cast<suseconds_t>(format.nano ? signedFraction / 1000 : signedFraction);
    }
    h.capLen = LoadFileU32(p + 8, format.swapped);
    h.len = LoadFileU32(p + 12, format.swapped);
    // Some writers of version 2.3 kept the older order of the two lengths: a captured length above the
    // length on the wire gives them away.
    if (format.maybeSwappedLengths && h.capLen > h.len)
        std::swap(h.capLen, h.len);
    return h;
}

// Maps the file open as `fd` (`size` bytes, of `format`) for the store; the file keeps being
// read through the mapping, whatever becomes of its name, until the store is cleared. Takes `fd` (closed on
// failure too). null when it cannot be mapped, or while another file is mapped: its frames are then copied.
const uint8_t* MapFrameFile(int fd, int64_t size, const ClassicFileFormat& format);

// Unmaps the file. Only while nothing reads the store (as the store's frames are freed).
void ReleaseFrameFile();

// Set by the reader of a mapped file before it hands over each record: the record's frame in the mapping,
// which the store keeps instead of a copy; null for a frame to copy. Only the store's writer touches it.
extern const uint8_t* g_inPlaceFrame;

// The file's bytes that the load has read so far, and its size when it was opened (0: no file in place).
extern std::atomic<int64_t> g_indexedFileBytes;
extern std::atomic<int64_t> g_frameFileSize;

// Lets go of the pages of the mapping that reads have brought in: they stay in the page cache, but no longer
// count as the program's memory. For readers of many frames (Save, the exports), now and then.
void DropFramePages();

// Whether the packet's frame bytes are there: always for a copied frame; for a frame in the file, while the
// file still reaches past it and its record header still gives its timestamp and length. `fresh` asks the
// file's size anew (a view), otherwise it is asked now and then (a reader of many frames).
bool FrameBytesPresent(const PacketRecord& packet, bool fresh = false);
