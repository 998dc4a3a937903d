// Reads the records of a classic libpcap capture file on a second thread in large blocks, while the calling
// thread hands them to the intake: the file's bytes are copied in from the page cache, and the store's
// next blocks faulted in, on the other core.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <functional>
#include <string>

// Called between batches with the bytes read so far.
using ReadProgress = std::function<void(int64_t done)>;

enum class ClassicReadResult {
    NotClassic,  // not a classic capture file this reader knows: read it through the library
    Read,        // every record was read (or the capture was asked to stop)
    Damaged,     // the records before the damage were read; `error` says what is wrong
};

// Hands every record of the file at `path` to `handler` while g_captureState stays CAPTURE_RUNNING and the
// store has not asked for a stop, with the same batching and stop rules as DispatchPackets. Each record
// comes as the capture library's pcap_next_ex gives it: cut to the file's snapshot length, timestamps in
// microseconds, and the library's error text for damage. Files of other versions or link types, which the
// library reads in its own ways, are NotClassic.
ClassicReadResult ReadClassicCaptureFile(const std::string& path, pcap_handler handler, u_char* user,
                                         const ReadProgress& progress, std::string& error);
