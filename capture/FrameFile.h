// The capture file a load indexed in place: its frames are not copied into the store, whose packet records
// point into a read-only mapping of the file instead. The file may change under the program (truncated,
// rewritten, a network share gone): a read past its end is caught and gives zero bytes, and a frame is
// trusted only while its record header in the file still says what the store was told.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>

struct PacketRecord;

// How a classic libpcap file stores its records, as the capture library reads them.
struct ClassicFileFormat {
    bool swapped = false;              // written in the other byte order
    bool nano = false;                 // nanosecond timestamps, handed on in microseconds
    bool maybeSwappedLengths = false;  // version 2.3: caplen and len may stand the wrong way round
    uint32_t snapshot = 0;
};

// One record header as the library reads it. The library keeps the timestamp fields of a file in its own
// byte order as signed 32-bit values and those of a swapped file unsigned; nanoseconds are divided down.
struct ClassicRecordHeader {
    time_t sec = 0;
    suseconds_t usec = 0;
    uint32_t capLen = 0;
    uint32_t len = 0;
};
ClassicRecordHeader ReadClassicRecordHeader(const uint8_t* p, const ClassicFileFormat& format);

// Maps the file open as `fd` (`size` bytes, a classic file of `format`) for the store; the file keeps being
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

// Whether the packet's frame bytes are there: always for a copied frame; for a frame in the file, while the
// file still reaches past it and its record header still gives its timestamp and length. `fresh` asks the
// file's size anew (a view), otherwise it is asked now and then (a reader of many frames).
bool FrameBytesPresent(const PacketRecord& packet, bool fresh = false);
